#include "apps/quillmere/media/animation_loop.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// GIF: the application extension that Netscape defined for looping, whose
// first sub-block holds 1 and a 16-bit count of repeats after the first
// pass (0: without end). ANIMEXTS1.0 is the same block under another name.
constexpr char kGifSignature[] = "GIF8";
constexpr std::uint8_t kGifExtension = 0x21;
constexpr std::uint8_t kGifImage = 0x2C;
constexpr std::uint8_t kGifTrailer = 0x3B;
constexpr std::uint8_t kGifApplicationLabel = 0xFF;
constexpr std::size_t kGifScreenEnd = 13;  // header and logical screen descriptor
constexpr std::size_t kGifImageDescriptor = 9;
constexpr std::uint8_t kGifColorTableFlag = 0x80;
constexpr std::uint8_t kGifColorTableSize = 0x07;
constexpr std::size_t kGifApplicationIdLength = 11;
const char* const kGifLoopApplications[] = {"NETSCAPE2.0", "ANIMEXTS1.0"};
constexpr std::uint8_t kGifLoopSubBlock = 1;

// APNG: acTL, before the first IDAT, holds the frame count and the plays
// (0: without end), both 32-bit big-endian.
constexpr std::uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kPngChunkOverhead = 12;  // length, type, CRC

bool StartsWith(const Bytes& data, const void* signature, std::size_t length) {
    return data.size() >= length && std::memcmp(data.data(), signature, length) == 0;
}

std::uint32_t BigEndian32(const std::uint8_t* at) {
    return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) |
           (std::uint32_t{at[2]} << 8) | std::uint32_t{at[3]};
}

// Skips sub-blocks from `at` to past their terminator; the file's size
// when they run past it.
std::size_t SkipSubBlocks(const Bytes& data, std::size_t at) {
    while (at < data.size() && data[at] != 0) {
        at += std::size_t{data[at]} + 1;
    }
    return at + 1;
}

std::size_t ColorTableBytes(std::uint8_t flags) {
    return (flags & kGifColorTableFlag) != 0 ? 3u << ((flags & kGifColorTableSize) + 1) : 0;
}

AnimationPlays GifPlays(const Bytes& data) {
    AnimationPlays plays;
    if (data.size() < kGifScreenEnd) {
        return plays;
    }
    std::size_t at = kGifScreenEnd + ColorTableBytes(data[10]);
    while (at < data.size() && data[at] != kGifTrailer) {
        if (data[at] == kGifImage) {
            if (at + kGifImageDescriptor >= data.size()) {
                break;
            }
            at += 1 + kGifImageDescriptor + ColorTableBytes(data[at + kGifImageDescriptor]);
            at = SkipSubBlocks(data, at + 1);  // after the LZW code size
        } else if (data[at] == kGifExtension && at + 2 < data.size()) {
            const std::size_t block = at + 2;
            if (data[at + 1] == kGifApplicationLabel &&
                data[block] == kGifApplicationIdLength &&
                block + kGifApplicationIdLength + 4 < data.size()) {
                const char* id = reinterpret_cast<const char*>(&data[block + 1]);
                const std::size_t sub = block + 1 + kGifApplicationIdLength;
                for (const char* name : kGifLoopApplications) {
                    if (std::memcmp(id, name, kGifApplicationIdLength) == 0 && data[sub] >= 3 &&
                        data[sub + 1] == kGifLoopSubBlock) {
                        const int repeats = data[sub + 2] | (data[sub + 3] << 8);
                        plays.stated = true;
                        plays.count = repeats == 0 ? 0 : repeats + 1;
                        return plays;
                    }
                }
            }
            at = SkipSubBlocks(data, block);
        } else {
            break;  // damaged: the reader says so when it decodes
        }
    }
    return plays;
}

AnimationPlays PngPlays(const Bytes& data) {
    AnimationPlays plays;
    std::size_t at = sizeof kPngSignature;
    while (at + kPngChunkOverhead <= data.size()) {
        const std::uint32_t length = BigEndian32(&data[at]);
        const char* type = reinterpret_cast<const char*>(&data[at + 4]);
        if (std::memcmp(type, "IDAT", 4) == 0) {
            break;
        }
        if (std::memcmp(type, "acTL", 4) == 0 && length >= 8 && at + 16 <= data.size()) {
            plays.stated = true;
            plays.count = static_cast<int>(std::min<std::uint32_t>(BigEndian32(&data[at + 12]),
                                                                   INT32_MAX));
            return plays;
        }
        at += kPngChunkOverhead + length;
    }
    return plays;
}

}  // namespace

AnimationPlays ReadAnimationPlays(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    // Only an animation's file is read whole; a video's is left after its
    // first bytes.
    Bytes data(sizeof kPngSignature);
    file.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    data.resize(static_cast<std::size_t>(file.gcount()));
    const bool gif = StartsWith(data, kGifSignature, std::strlen(kGifSignature));
    const bool png = StartsWith(data, kPngSignature, sizeof kPngSignature);
    if (!gif && !png) {
        return AnimationPlays();
    }
    data.insert(data.end(), std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return gif ? GifPlays(data) : PngPlays(data);
}
