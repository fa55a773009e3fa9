// The page's own files (HTML, CSS, JavaScript), built into the runner from
// apps/quillmere/edit/page so that it serves them without touching the disk.
#pragma once

#include <cstddef>
#include <string>

struct EmbeddedFile {
    const char* path;  // "/index.html"
    const unsigned char* bytes;
    std::size_t size;
};

// Made at build time (cmake/EmbedFiles.cmake).
extern const EmbeddedFile kPageFiles[];
extern const std::size_t kPageFilesCount;

// The file served for a request's path ("/" is the page itself), or null.
const EmbeddedFile* FindPageFile(const std::string& path);

// Its media type, by its extension.
const char* PageFileType(const EmbeddedFile& file);
