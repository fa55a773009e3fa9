#include "apps/quillmere/cli/filter_settings.h"

#include <cctype>
#include <charconv>
#include <cstring>
#include <vector>

#include "apps/quillmere/cli/css_colors.h"
#include "apps/quillmere/runner_error.h"
#include "render/drop_shadow.h"
#include "hostkit/quoted_text.h"

namespace {

[[noreturn]] void Reject(const std::string& option, const std::string& text,
                         const std::string& expected) {
    throw UsageError("invalid value " + Quoted(text) + " for " + option + ": expected " + expected);
}

// Strict decimal: optional sign, digits, nothing else.
bool ReadInteger(const std::string& text, std::int64_t& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') {
        ++first;
    }
    if (first == last) {
        return false;
    }
    auto [end, error] = std::from_chars(first, last, value);
    return error == std::errc() && end == last;
}

bool WithinCoordinateLimit(std::int64_t value) {
    return value >= -kCoordinateLimit && value <= kCoordinateLimit;
}

// The widest mask whose corners both lie within the coordinate limit.
constexpr std::int64_t kLargestMaskExtent = 2 * kCoordinateLimit;

// Items separated by commas (blanks around them allowed) or, as in the
// dialog's mask text, by blanks alone. An empty item stays in the list, so
// "1,,2,3" has four items and is rejected for the empty one.
std::vector<std::string> SplitMaskItems(const std::string& text) {
    const bool commas = text.find(',') != std::string::npos;
    std::vector<std::string> items;
    std::string current;
    auto finish = [&] {
        const auto first = current.find_first_not_of(" \t");
        const auto last = current.find_last_not_of(" \t");
        items.push_back(first == std::string::npos ? std::string()
                                                   : current.substr(first, last - first + 1));
        current.clear();
    };
    for (char c : text) {
        if (commas ? c == ',' : std::isspace(static_cast<unsigned char>(c)) != 0) {
            if (commas || !current.empty()) {
                finish();
            }
        } else {
            current += c;
        }
    }
    if (commas || !current.empty()) {
        finish();
    }
    return items;
}

}  // namespace

const ShadowStyleName kShadowStyleNames[] = {
    {"flat", "no gradient, shift = shadow size"},
    {"gradient-random", "gradient, random variation, shift = shadow size"},
    {"gradient", "gradient, shift = shadow size"},
    {"gradient-random-fixed", "gradient, random variation, fixed shift"},
    {"gradient-fixed", "gradient, fixed shift"},
    {"flat-fixed", "no gradient, fixed shift"},
};
static_assert(sizeof(kShadowStyleNames) / sizeof(kShadowStyleNames[0]) == kShadowStyleCount,
              "one name per shadow style");

std::int32_t ParseInteger(const std::string& option, const std::string& text,
                          std::int64_t minimum, std::int64_t maximum) {
    std::int64_t value = 0;
    if (!ReadInteger(text, value)) {
        Reject(option, text, "an integer");
    }
    if (value < minimum || value > maximum) {
        Reject(option, text,
               "an integer from " + std::to_string(minimum) + " to " + std::to_string(maximum));
    }
    return static_cast<std::int32_t>(value);
}

void ParseMask(const std::string& option, const std::string& text, FilterData& settings) {
    const std::string expected = "L,T,R,B or L,T,wWIDTH,hHEIGHT";
    const std::vector<std::string> items = SplitMaskItems(text);
    if (items.size() != 4) {
        Reject(option, text, expected);
    }
    std::int64_t left = 0;
    std::int64_t top = 0;
    if (!ReadInteger(items[0], left) || !ReadInteger(items[1], top)) {
        Reject(option, text, expected);
    }
    const std::string withinLimit =
        "corners within +-" + std::to_string(kCoordinateLimit) + " pixels";
    // Every number is bounded before any sum is formed, so no sum overflows.
    if (!WithinCoordinateLimit(left) || !WithinCoordinateLimit(top)) {
        Reject(option, text, withinLimit);
    }
    bool haveRight = false;
    bool haveBottom = false;
    std::int64_t right = 0;
    std::int64_t bottom = 0;
    // Items apply in order, as the dialog applies its words: a size measures
    // from the left or top corner, and a later item overrides an earlier one.
    // A size is the number of pixels drawn, and the filter draws from the
    // left corner up to, not including, the right one: w640 puts the right
    // corner 640 past the left. (The dialog's own text counts both corners,
    // one pixel less than it draws.)
    for (std::size_t index = 2; index < 4; ++index) {
        const std::string& item = items[index];
        std::int64_t number = 0;
        if (item.empty()) {
            Reject(option, text, expected);
        }
        if ((item[0] == 'w' || item[0] == 'h') && ReadInteger(item.substr(1), number)) {
            if (number < 1) {
                Reject(option, text, "a width and height of at least 1");
            }
            if (number > kLargestMaskExtent) {
                Reject(option, text, withinLimit);
            }
            if (item[0] == 'w') {
                right = left + number;
                haveRight = true;
            } else {
                bottom = top + number;
                haveBottom = true;
            }
        } else if (ReadInteger(item, number)) {
            (index == 2 ? right : bottom) = number;
            (index == 2 ? haveRight : haveBottom) = true;
        } else {
            Reject(option, text, expected);
        }
    }
    if (!haveRight || !haveBottom) {
        Reject(option, text, "both a right edge (R or wWIDTH) and a bottom edge (B or hHEIGHT)");
    }
    for (std::int64_t value : {right, bottom}) {
        if (!WithinCoordinateLimit(value)) {
            Reject(option, text, withinLimit);
        }
    }
    settings.maskLeft = static_cast<std::int32_t>(left);
    settings.maskTop = static_cast<std::int32_t>(top);
    settings.maskRight = static_cast<std::int32_t>(right);
    settings.maskBottom = static_cast<std::int32_t>(bottom);
}

COLORREF ParseColor(const std::string& option, const std::string& text) {
    unsigned value = 0;
    if (const NamedColor* named = FindCssColor(text)) {
        value = named->rgb;
    } else {
        std::string digits = text;
        if (digits.size() > 1 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
            digits.erase(0, 2);
        } else if (!digits.empty() && digits[0] == '#') {
            digits.erase(0, 1);
        }
        constexpr std::size_t kHexDigits = 6;
        const char* last = digits.data() + digits.size();
        auto [end, error] = std::from_chars(digits.data(), last, value, 16);
        if (digits.size() != kHexDigits || error != std::errc() || end != last) {
            Reject(option, text,
                   "a colour as RRGGBB, #RRGGBB or 0xRRGGBB in hexadecimal, or a CSS colour "
                   "name such as white");
        }
    }
    const unsigned red = (value >> 16) & 0xFF;
    const unsigned green = (value >> 8) & 0xFF;
    const unsigned blue = value & 0xFF;
    return red | (green << 8) | (blue << 16);
}

std::int32_t ParseShadowStyle(const std::string& option, const std::string& text) {
    for (int style = 0; style < kShadowStyleCount; ++style) {
        if (text == kShadowStyleNames[style].name) {
            return style;
        }
    }
    std::int64_t value = 0;
    if (ReadInteger(text, value) && value >= 0 && value < kShadowStyleCount) {
        return static_cast<std::int32_t>(value);
    }
    std::string names;
    for (const ShadowStyleName& style : kShadowStyleNames) {
        names += names.empty() ? "" : ", ";
        names += style.name;
    }
    Reject(option, text, "a style 0-5 or one of " + names);
}

void ParseFrameRange(const std::string& option, const std::string& text, FilterData& settings) {
    const std::string expected = "START or START-END (frame numbers, END not below START)";
    const std::size_t dash = text.find('-');
    std::int64_t start = 0;
    std::int64_t end = 0;
    const std::string startText = text.substr(0, dash);
    if (startText.empty() || startText[0] == '+' || !ReadInteger(startText, start) ||
        start > INT32_MAX) {
        Reject(option, text, expected);
    }
    if (dash != std::string::npos) {
        const std::string endText = text.substr(dash + 1);
        if (endText.empty() || endText[0] == '+' || endText[0] == '-' ||
            !ReadInteger(endText, end) || end > INT32_MAX || end < start) {
            Reject(option, text, expected);
        }
        // The filter reads an end of 0 as "no end", so a range ending at
        // frame 0 cannot be expressed; say so rather than overlay every frame.
        if (end == 0) {
            Reject(option, text, "a range that ends after frame 0 (use --range 0 for no end)");
        }
    }
    settings.useFrameRange = 1;
    settings.rangeStart = static_cast<std::int32_t>(start);
    settings.rangeEnd = static_cast<std::int32_t>(end);
}
