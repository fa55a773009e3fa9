// The FFmpeg-backed overlay source, through the AVI-library operations the
// filter uses, on any file content.
// Checks: nothing is read or written out of bounds (the sanitizer); the
// stream's format is a frame size within the limits at 24 or 32 bits; every
// frame served carries that format; a frame fetched again after others
// (forward and backward, as reversed overlays play) has the same bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "fuzz_input.h"
#include "source/avi_library.h"
#include "source/picture_limits.h"

namespace {

constexpr const char* kTarget = "overlay_source_fuzzer";
constexpr int kLargestFormat = 4096;

std::string g_path;

std::vector<std::uint8_t> RecordCopy(const void* record, const BITMAPINFOHEADER& format) {
    const auto* bytes = static_cast<const std::uint8_t*>(record);
    return std::vector<std::uint8_t>(bytes, bytes + sizeof(BITMAPINFOHEADER) + format.biSizeImage);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    av_log_set_level(AV_LOG_QUIET);
    const char* folder = std::getenv("TMPDIR");
    g_path = std::string(folder != nullptr ? folder : "/tmp") + "/overlay-source-fuzz-" +
             std::to_string(getpid()) + ".avi";
    std::atexit([] { std::remove(g_path.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FILE* file = std::fopen(g_path.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    const AviLibrary& library = CurrentAviLibrary();
    AviFileHandle aviFile = nullptr;
    if (library.FileOpen(&aviFile, g_path.c_str(), kAviOpenReadOnly) != 0) {
        return 0;
    }
    AviStreamHandle stream = nullptr;
    if (library.FileGetStream(aviFile, &stream, kStreamTypeVideo, 0) != 0 || stream == nullptr) {
        library.FileRelease(aviFile);
        return 0;
    }
    long formatSize = 0;
    library.StreamReadFormat(stream, 0, nullptr, &formatSize);
    FUZZ_CHECK(formatSize >= 0 && formatSize <= kLargestFormat, kTarget, "format size");
    std::vector<std::uint8_t> formatBytes(static_cast<std::size_t>(formatSize) + 1);
    BITMAPINFOHEADER format{};
    if (formatSize >= static_cast<long>(sizeof format) &&
        library.StreamReadFormat(stream, 0, formatBytes.data(), &formatSize) == 0) {
        std::memcpy(&format, formatBytes.data(), sizeof format);
    }
    const long length = library.StreamLength(stream);
    FUZZ_CHECK(length >= 0, kTarget, "negative length");
    FrameGetterHandle reader = library.StreamGetFrameOpen(stream, nullptr);
    if (reader != nullptr) {
        FUZZ_CHECK(PictureSizeAllowed(format.biWidth, format.biHeight), kTarget,
                   "a reader for a picture beyond the limits");
        FUZZ_CHECK(format.biBitCount == 24 || format.biBitCount == 32, kTarget, "record depth");
        std::vector<std::uint8_t> first;
        const long order[] = {0, length - 1, length / 2, length - 2, 1, 0, length, -1};
        for (const long number : order) {
            void* record = library.StreamGetFrame(reader, number);
            if (number < 0 || number >= length) {
                FUZZ_CHECK(record == nullptr, kTarget, "a frame outside the stream");
                continue;
            }
            if (record == nullptr) {
                continue;
            }
            FUZZ_CHECK(std::memcmp(record, &format, sizeof format) == 0, kTarget,
                       "a frame whose header is not the stream's format");
            if (number == 0) {
                const std::vector<std::uint8_t> copy = RecordCopy(record, format);
                if (first.empty()) {
                    first = copy;
                } else {
                    FUZZ_CHECK(copy == first, kTarget, "frame 0 fetched again differs");
                }
            }
        }
        library.GetFrameClose(reader);
    }
    library.StreamRelease(stream);
    library.FileRelease(aviFile);
    return 0;
}
