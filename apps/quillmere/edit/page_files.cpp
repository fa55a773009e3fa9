#include "apps/quillmere/edit/page_files.h"

#include <cstring>

namespace {

constexpr const char* kIndexPath = "/index.html";

struct MediaType {
    const char* extension;
    const char* type;
};
const MediaType kMediaTypes[] = {
    {".html", "text/html; charset=utf-8"},
    {".css", "text/css; charset=utf-8"},
    {".js", "text/javascript; charset=utf-8"},
    {".svg", "image/svg+xml"},
};
constexpr const char* kUnknownType = "application/octet-stream";

bool EndsWith(const char* text, const char* ending) {
    const std::size_t length = std::strlen(text);
    const std::size_t endingLength = std::strlen(ending);
    return length >= endingLength && std::strcmp(text + length - endingLength, ending) == 0;
}

}  // namespace

const EmbeddedFile* FindPageFile(const std::string& path) {
    const std::string wanted = path == "/" ? kIndexPath : path;
    for (std::size_t index = 0; index < kPageFilesCount; ++index) {
        if (wanted == kPageFiles[index].path) {
            return &kPageFiles[index];
        }
    }
    return nullptr;
}

const char* PageFileType(const EmbeddedFile& file) {
    for (const MediaType& media : kMediaTypes) {
        if (EndsWith(file.path, media.extension)) {
            return media.type;
        }
    }
    return kUnknownType;
}
