// quillmere_docs: writes the manual page or a shell completion script, made
// from the runner's option table, for the build to install.
//   quillmere_docs man|bash|zsh OUTPUT
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "apps/quillmere/cli/man_page.h"
#include "apps/quillmere/cli/shell_completion.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quillmere_docs man|bash|zsh OUTPUT\n");
        return 2;
    }
    const std::string kind = argv[1];
    std::string text;
    if (kind == "man") {
        text = ManPage(QUILLMERE_VERSION);
    } else if (kind == "bash") {
        text = BashCompletion();
    } else if (kind == "zsh") {
        text = ZshCompletion();
    } else {
        std::fprintf(stderr, "quillmere_docs: unknown kind '%s'\n", argv[1]);
        return 2;
    }
    std::ofstream output(argv[2], std::ios::binary);
    output << text;
    output.close();
    if (!output) {
        std::fprintf(stderr, "quillmere_docs: cannot write '%s': %s\n", argv[2],
                     std::strerror(errno));
        return 1;
    }
    return 0;
}
