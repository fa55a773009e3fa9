// Makes the clips that the Windows AVI library check reads under Wine:
// Cinepak, Microsoft Video 1, and raw 24-bit files stored bottom-up and
// top-down, all numbered as the native tests number theirs.
#include <cstdio>
#include <string>
#include <sys/stat.h>

#include "tests/source/test_clips.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    ::mkdir(folder.c_str(), 0755);
    for (const char* name : {"cinepak", "msvideo1", "raw24", "raw24-topdown"}) {
        const ClipKind& kind = ClipKindNamed(name);
        MakeClip(kind, folder + "/" + name + kind.extension, kClipWidth, kClipHeight, kClipFrames);
    }
    return 0;
}
