#include "tests/apps/damaged_clips.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace {

// Baseline start-of-frame: marker, length 17, 8-bit samples, then the
// height and width, big-endian.
constexpr std::uint8_t kStartOfFrame[] = {0xFF, 0xC0, 0x00, 0x11, 0x08};
constexpr std::size_t kHeightOffset = sizeof kStartOfFrame;

// AVI: the main header's width follows eight 32-bit fields; the stream
// format is a BITMAPINFOHEADER (width after its 32-bit size).
constexpr std::size_t kChunkHeaderBytes = 8;
constexpr std::size_t kMainHeaderWidthOffset = 32;
constexpr std::size_t kFormatWidthOffset = 4;

// Header edits reach this far into a file: every container here keeps its
// headers in the first few hundred bytes.
constexpr std::size_t kHeaderSpan = 512;
constexpr int kMostFlippedBits = 8;

constexpr std::uint32_t kExtremeValues[] = {0, 1, 0x7FFF, 0x8000, 0xFFFF, 0x7FFFFFFF, 0x80000000,
                                            0xFFFFFFFF, 13000, 1000000};

void PutBigEndian16(std::vector<std::uint8_t>& bytes, std::size_t at, int value) {
    bytes[at] = static_cast<std::uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<std::uint8_t>(value);
}

void PutLittleEndian32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::size_t Find(const std::vector<std::uint8_t>& bytes, const std::string& tag) {
    const auto found = std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end());
    return found == bytes.end() ? std::string::npos
                                : static_cast<std::size_t>(found - bytes.begin());
}

}  // namespace

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path);
    }
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
}

int SetJpegFrameSizes(std::vector<std::uint8_t>& bytes, int firstFrame, int width, int height) {
    int frame = 0;
    int edited = 0;
    auto at = bytes.begin();
    while ((at = std::search(at, bytes.end(), std::begin(kStartOfFrame),
                             std::end(kStartOfFrame))) != bytes.end()) {
        const auto offset = static_cast<std::size_t>(at - bytes.begin());
        if (frame++ >= firstFrame && offset + kHeightOffset + 4 <= bytes.size()) {
            PutBigEndian16(bytes, offset + kHeightOffset, height);
            PutBigEndian16(bytes, offset + kHeightOffset + 2, width);
            ++edited;
        }
        at += sizeof kStartOfFrame;
    }
    return edited;
}

bool SetAviPictureSize(std::vector<std::uint8_t>& bytes, std::int32_t width, std::int32_t height) {
    const std::size_t mainHeader = Find(bytes, "avih");
    const std::size_t format = Find(bytes, "strf");
    if (mainHeader == std::string::npos || format == std::string::npos ||
        format + kChunkHeaderBytes + kFormatWidthOffset + 8 > bytes.size()) {
        return false;
    }
    const std::size_t mainWidth = mainHeader + kChunkHeaderBytes + kMainHeaderWidthOffset;
    PutLittleEndian32(bytes, mainWidth, static_cast<std::uint32_t>(width));
    PutLittleEndian32(bytes, mainWidth + 4, static_cast<std::uint32_t>(height));
    const std::size_t formatWidth = format + kChunkHeaderBytes + kFormatWidthOffset;
    PutLittleEndian32(bytes, formatWidth, static_cast<std::uint32_t>(width));
    PutLittleEndian32(bytes, formatWidth + 4, static_cast<std::uint32_t>(height));
    return true;
}

const char* DamageName(Damage damage) {
    switch (damage) {
    case Damage::Truncate:
        return "Truncated";
    case Damage::FlipBits:
        return "BitsFlipped";
    case Damage::HeaderField:
        return "HeaderField";
    }
    return "Unknown";
}

std::vector<std::uint8_t> Damaged(const std::vector<std::uint8_t>& bytes, Damage damage,
                                  std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> result = bytes;
    if (result.empty()) {
        return result;
    }
    switch (damage) {
    case Damage::Truncate:
        result.resize(std::uniform_int_distribution<std::size_t>(0, result.size() - 1)(random));
        break;
    case Damage::FlipBits: {
        const int flips = std::uniform_int_distribution<int>(1, kMostFlippedBits)(random);
        std::uniform_int_distribution<std::size_t> position(0, result.size() - 1);
        for (int i = 0; i < flips; ++i) {
            result[position(random)] ^= static_cast<std::uint8_t>(1u << (random() % 8));
        }
        break;
    }
    case Damage::HeaderField: {
        const std::size_t span = std::min(kHeaderSpan, result.size());
        if (span < 4) {
            break;
        }
        const std::size_t at = std::uniform_int_distribution<std::size_t>(0, span - 4)(random);
        const std::uint32_t value =
            kExtremeValues[random() % (sizeof kExtremeValues / sizeof kExtremeValues[0])];
        if (random() % 2 == 0) {
            PutLittleEndian32(result, at, value);
        } else {
            PutBigEndian16(result, at, static_cast<int>(value & 0xFFFF));
        }
        break;
    }
    }
    return result;
}
