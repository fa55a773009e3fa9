// One composited picture as a PNG file.
#pragma once

#include <cstdint>
#include <string>

// Encodes one top-down picture in the filter's pixel layout as a PNG file;
// `displayName` names it in messages. Throws RunnerError when it cannot.
void WritePng(const std::string& path, const std::string& displayName,
              const std::uint8_t* pixels, int stride, int width, int height);
