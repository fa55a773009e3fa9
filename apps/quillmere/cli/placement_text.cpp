#include "apps/quillmere/cli/placement_text.h"

#include <charconv>

std::string PlacementLengthText(const PlacementLength& length) {
    char digits[400];  // room for any double in fixed notation
    const auto [end, error] =
        std::to_chars(digits, digits + sizeof digits, length.value, std::chars_format::fixed);
    const std::string text(digits, error == std::errc() ? end : digits);
    return length.percent ? text + "%" : text;
}

std::string PlacementSizeText(const PlacementRequest& request) {
    std::string text;
    if (request.width) {
        text += PlacementLengthText(*request.width);
    }
    if (request.height) {
        text += "x" + PlacementLengthText(*request.height);
    }
    return text;
}
