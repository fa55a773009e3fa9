#include "apps/quillmere/media/png_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "apps/quillmere/media/png_encoder.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

namespace {

void WriteAll(const std::string& path, const std::string& displayName, const std::uint8_t* data,
              std::size_t size) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"),
                                                          &std::fclose);
    if (!file) {
        throw RunnerError("cannot write " + Quoted(displayName) + ": " + std::strerror(errno));
    }
    if (std::fwrite(data, 1, size, file.get()) != size || std::fflush(file.get()) != 0) {
        throw RunnerError("cannot write " + Quoted(displayName) + ": " + std::strerror(errno));
    }
    if (std::fclose(file.release()) != 0) {
        throw RunnerError("cannot write " + Quoted(displayName) + ": " + std::strerror(errno));
    }
}

}  // namespace

void WritePng(const std::string& path, const std::string& displayName,
              const std::uint8_t* pixels, int stride, int width, int height) {
    const std::string png = EncodePng(displayName, pixels, stride, width, height);
    WriteAll(path, displayName, reinterpret_cast<const std::uint8_t*>(png.data()), png.size());
}
