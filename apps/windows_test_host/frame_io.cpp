#include "apps/windows_test_host/frame_io.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "host/win_types.h"

#include <vfw.h>

#include "hostkit/bitmap_operations.h"

namespace {

class AviMainVideo final : public MainVideo {
public:
    AviMainVideo(PAVIFILE file, PAVISTREAM stream, PGETFRAME reader, int width, int height,
                 long length)
        : file_(file), stream_(stream), reader_(reader), width_(width), height_(height),
          length_(length) {}
    ~AviMainVideo() override {
        AVIStreamGetFrameClose(reader_);
        AVIStreamRelease(stream_);
        AVIFileRelease(file_);
    }

    int width() const override { return width_; }
    int height() const override { return height_; }
    long length() const override { return length_; }

    bool ReadFrame(long number, VBitmap& target) override {
        auto* header = static_cast<BITMAPINFOHEADER*>(AVIStreamGetFrame(reader_, number));
        if (header == nullptr) {
            return false;
        }
        // The host's own operations wrap the decoded frame and convert it to
        // 32 bits, as the real host does with its source frames.
        const VBitmapOperations& operations = HostBitmapOperations();
        VBitmap frame{};
        frame.operations = &operations;
        operations.initFromHeader(&frame, reinterpret_cast<char*>(header) + header->biSize +
                                              ColorTableBytes(*header),
                                  header);
        operations.BitBlt(&target, 0, 0, &frame, 0, 0, -1, -1);
        return true;
    }

private:
    static std::size_t ColorTableBytes(const BITMAPINFOHEADER& header) {
        if (header.biBitCount <= 8) {
            const DWORD colors = header.biClrUsed != 0 ? header.biClrUsed : 1u << header.biBitCount;
            return colors * 4;
        }
        return header.biCompression == BI_BITFIELDS ? 12 : 0;
    }

    PAVIFILE file_;
    PAVISTREAM stream_;
    PGETFRAME reader_;
    int width_;
    int height_;
    long length_;
};

class GeneratedVideo final : public MainVideo {
public:
    GeneratedVideo(int width, int height, long count) : width_(width), height_(height), count_(count) {}

    int width() const override { return width_; }
    int height() const override { return height_; }
    long length() const override { return count_; }

    bool ReadFrame(long number, VBitmap& target) override {
        if (number < 0 || number >= count_) {
            return false;
        }
        const Pixel32 blue = static_cast<Pixel32>(number * 16 & 0xFF);
        for (int y = 0; y < height_; ++y) {
            Pixel32* row = PictureRow(target, y);
            const Pixel32 green = static_cast<Pixel32>(y * 255 / height_);
            for (int x = 0; x < width_; ++x) {
                const Pixel32 red = static_cast<Pixel32>(x * 255 / width_);
                row[x] = red << 16 | green << 8 | blue;
            }
        }
        return true;
    }

private:
    int width_;
    int height_;
    long count_;
};

void PutLittleEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

}  // namespace

std::unique_ptr<MainVideo> OpenMainVideo(const std::string& path) {
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, path.c_str(), OF_READ, nullptr) != 0) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return nullptr;
    }
    PAVISTREAM stream = nullptr;
    if (AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) != 0) {
        std::fprintf(stderr, "%s has no video stream\n", path.c_str());
        AVIFileRelease(file);
        return nullptr;
    }
    BITMAPINFOHEADER format{};
    LONG formatSize = sizeof(format);
    AVIStreamReadFormat(stream, AVIStreamStart(stream), &format, &formatSize);
    PGETFRAME reader = AVIStreamGetFrameOpen(stream, nullptr);
    if (reader == nullptr) {
        std::fprintf(stderr, "no decoder for %s\n", path.c_str());
        AVIStreamRelease(stream);
        AVIFileRelease(file);
        return nullptr;
    }
    const int height = format.biHeight < 0 ? -format.biHeight : format.biHeight;
    return std::make_unique<AviMainVideo>(file, stream, reader, format.biWidth, height,
                                          AVIStreamLength(stream));
}

std::unique_ptr<MainVideo> GeneratedMainVideo(int width, int height, long count) {
    return std::make_unique<GeneratedVideo>(width, height, count);
}

bool WriteBmp(const std::string& path, const VBitmap& bitmap) {
    const std::uint32_t rowBytes = (static_cast<std::uint32_t>(bitmap.w) * 3 + 3) & ~3u;
    const std::uint32_t imageBytes = rowBytes * static_cast<std::uint32_t>(bitmap.h);
    constexpr std::uint32_t kHeadersBytes = 14 + 40;
    std::vector<std::uint8_t> out;
    out.reserve(kHeadersBytes + imageBytes);
    out.push_back('B');
    out.push_back('M');
    PutLittleEndian(out, kHeadersBytes + imageBytes, 4);
    PutLittleEndian(out, 0, 4);
    PutLittleEndian(out, kHeadersBytes, 4);
    PutLittleEndian(out, 40, 4);
    PutLittleEndian(out, static_cast<std::uint32_t>(bitmap.w), 4);
    PutLittleEndian(out, static_cast<std::uint32_t>(bitmap.h), 4);
    PutLittleEndian(out, 1, 2);
    PutLittleEndian(out, 24, 2);
    PutLittleEndian(out, BI_RGB, 4);
    PutLittleEndian(out, imageBytes, 4);
    for (int i = 0; i < 4; ++i) {
        PutLittleEndian(out, 0, 4);
    }
    for (long y = bitmap.h - 1; y >= 0; --y) {
        const Pixel32* row = PictureRow(bitmap, y);
        for (int x = 0; x < bitmap.w; ++x) {
            PutLittleEndian(out, row[x] & 0xFFFFFFu, 3);
        }
        for (std::uint32_t pad = static_cast<std::uint32_t>(bitmap.w) * 3; pad < rowBytes; ++pad) {
            out.push_back(0);
        }
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    return std::fclose(file) == 0 && written;
}
