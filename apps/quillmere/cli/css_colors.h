// The colour names that CSS defines, for the colour options.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct NamedColor {
    const char* name;  // lower case
    std::uint32_t rgb; // 0xRRGGBB
};

extern const NamedColor kCssColors[];
extern const std::size_t kCssColorCount;

// The colour of that name, whatever its letter case, or null.
const NamedColor* FindCssColor(const std::string& name);
