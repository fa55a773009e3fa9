#include "apps/quillmere/plan/placement.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

namespace {

// Where an anchor puts the picture along one axis: at the near edge, in
// the middle, or at the far edge.
enum class Side { Near, Middle, Far };

struct AnchorRow {
    Anchor anchor;
    Side horizontal;
    Side vertical;
};

const AnchorRow kAnchorRows[kAnchorCount] = {
    {Anchor::TopLeft, Side::Near, Side::Near},      {Anchor::Top, Side::Middle, Side::Near},
    {Anchor::TopRight, Side::Far, Side::Near},      {Anchor::Left, Side::Near, Side::Middle},
    {Anchor::Center, Side::Middle, Side::Middle},   {Anchor::Right, Side::Far, Side::Middle},
    {Anchor::BottomLeft, Side::Near, Side::Far},    {Anchor::Bottom, Side::Middle, Side::Far},
    {Anchor::BottomRight, Side::Far, Side::Far},
};

const AnchorRow& RowOf(Anchor anchor) {
    for (const AnchorRow& row : kAnchorRows) {
        if (row.anchor == anchor) {
            return row;
        }
    }
    return kAnchorRows[kAnchorCount - 1];
}

// Floor division, so that a picture larger than the frame centres the same
// way on either side.
std::int64_t HalfDown(std::int64_t value) { return value >= 0 ? value / 2 : -((1 - value) / 2); }

std::int64_t Offset(Side side, std::int64_t whole, std::int64_t size, std::int64_t margin) {
    switch (side) {
    case Side::Near:
        return margin;
    case Side::Middle:
        return HalfDown(whole - size);
    case Side::Far:
        return whole - margin - size;
    }
    return margin;
}

std::int64_t RoundedPixels(double value) {
    return static_cast<std::int64_t>(std::llround(value));
}

[[noreturn]] void Reject(const std::string& option, const std::string& text,
                         const std::string& expected) {
    throw UsageError("invalid value " + Quoted(text) + " for " + option + ": expected " + expected);
}

// A decimal number, not negative, optionally followed by '%'.
bool ReadLength(const std::string& text, PlacementLength& length) {
    std::string digits = text;
    length.percent = !digits.empty() && digits.back() == '%';
    if (length.percent) {
        digits.pop_back();
    }
    if (digits.empty() || digits[0] == '-' || digits[0] == '+') {
        return false;
    }
    double value = 0;
    const char* last = digits.data() + digits.size();
    auto [end, error] = std::from_chars(digits.data(), last, value, std::chars_format::fixed);
    if (error != std::errc() || end != last || !std::isfinite(value)) {
        return false;
    }
    length.value = value;
    return true;
}

}  // namespace

const char* const kAnchorNames[kAnchorCount] = {
    "top-left", "top", "top-right", "left", "center", "right",
    "bottom-left", "bottom", "bottom-right",
};

MaskCorners ResolvePlacement(const PlacementRequest& request, int mainWidth, int mainHeight,
                             double aspect) {
    const double margin =
        request.margin ? request.margin->Pixels(mainWidth) : kDefaultMarginPercent * mainWidth / 100.0;
    double width = 0;
    double height = 0;
    if (request.width && request.height) {
        width = request.width->Pixels(mainWidth);
        height = request.height->Pixels(mainHeight);
    } else if (request.height) {
        height = request.height->Pixels(mainHeight);
        width = height * aspect;
    } else if (request.width) {
        width = request.width->Pixels(mainWidth);
        height = width / aspect;
    } else {
        width = kDefaultWidthPercent * mainWidth / 100.0;
        height = width / aspect;
        // A tall overlay a third of the width wide would run off the frame:
        // the default shrinks it, aspect kept, to fit inside the margins.
        const double roomHigh = mainHeight - 2 * std::round(margin);
        if (roomHigh > 0 && height > roomHigh) {
            height = roomHigh;
            width = height * aspect;
        }
    }
    // Sizes beyond any frame are clamped where the filter's 32-bit sums of
    // corners and sizes are still safe; such a picture covers the frame.
    const auto clamp = [](double value) {
        return std::min<double>(std::max<double>(value, -kCoordinateLimit), kCoordinateLimit);
    };
    const std::int64_t pixelsWide = RoundedPixels(clamp(width));
    const std::int64_t pixelsHigh = RoundedPixels(clamp(height));
    const std::int64_t marginPixels = RoundedPixels(clamp(margin));

    const AnchorRow& row = RowOf(request.anchor.value_or(kDefaultAnchor));
    MaskCorners mask;
    mask.left = Offset(row.horizontal, mainWidth, pixelsWide, marginPixels);
    mask.top = Offset(row.vertical, mainHeight, pixelsHigh, marginPixels);
    mask.right = mask.left + pixelsWide;
    mask.bottom = mask.top + pixelsHigh;
    return mask;
}

std::string WhyMaskDrawsNothing(const MaskCorners& mask, int mainWidth, int mainHeight) {
    if (mask.width() == 0 || mask.height() == 0) {
        return "it is empty (" + std::string(mask.width() == 0 ? "R equals L" : "B equals T") +
               ")";
    }
    if (mask.width() < 0 || mask.height() < 0) {
        return "it is inverted (" +
               std::string(mask.width() < 0 ? "R is left of L" : "B is above T") + ")";
    }
    if (mask.right <= 0 || mask.bottom <= 0 || mask.left >= mainWidth ||
        mask.top >= mainHeight) {
        return "it lies wholly outside the " + std::to_string(mainWidth) + "x" +
               std::to_string(mainHeight) + " frame";
    }
    return "";
}

Anchor ParseAnchor(const std::string& option, const std::string& text) {
    for (int index = 0; index < kAnchorCount; ++index) {
        if (text == kAnchorNames[index]) {
            return kAnchorRows[index].anchor;
        }
    }
    std::string names;
    for (const char* name : kAnchorNames) {
        names += names.empty() ? "" : ", ";
        names += name;
    }
    Reject(option, text, "one of " + names);
}

PlacementLength ParsePlacementLength(const std::string& option, const std::string& text) {
    PlacementLength length;
    if (!ReadLength(text, length)) {
        Reject(option, text, "pixels N or a percentage N% (not negative)");
    }
    return length;
}

void ParsePlacementSize(const std::string& option, const std::string& text,
                        PlacementRequest& request) {
    const std::string expected = "W, xH or WxH (pixels, or N% of the main's width/height)";
    const std::size_t cross = text.find('x');
    const std::string widthText = text.substr(0, cross);
    const std::string heightText = cross == std::string::npos ? "" : text.substr(cross + 1);
    if (widthText.empty() && heightText.empty()) {
        Reject(option, text, expected);
    }
    PlacementLength width;
    PlacementLength height;
    if ((!widthText.empty() && !ReadLength(widthText, width)) ||
        (cross != std::string::npos && !ReadLength(heightText, height))) {
        Reject(option, text, expected);
    }
    if ((!widthText.empty() && width.value <= 0) ||
        (cross != std::string::npos && height.value <= 0)) {
        Reject(option, text, "a size above 0");
    }
    request.width.reset();
    request.height.reset();
    if (!widthText.empty()) {
        request.width = width;
    }
    if (cross != std::string::npos) {
        request.height = height;
    }
}
