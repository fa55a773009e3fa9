// Pictures in the filter's pixel layout encoded as PNG by FFmpeg's encoder:
// the frame command's file and the edit page's pictures.
#pragma once

#include <cstdint>
#include <string>

// How hard the encoder compresses. The pixels are the same either way;
// only the size and the time taken differ.
enum class PngCompression {
    Small,  // the encoder's default: files kept on disk
    Quick,  // the fastest: pictures sent once over the loopback interface
};

// Encodes the top-down picture (32-bit pixels, blue in the low byte; rows
// `stride` bytes apart) as a PNG. `displayName` names it in messages.
// Throws RunnerError.
std::string EncodePng(const std::string& displayName, const std::uint8_t* pixels, int stride,
                      int width, int height, PngCompression compression = PngCompression::Small);
