// Placing the overlay by anchor, margin and size instead of by corners.
//
// A placement resolves once, at open, against the main picture's size and
// the overlay's display aspect, into the filter's four mask corners. The
// filter draws the columns L..R-1 and the rows T..B-1 of a mask (L,T,R,B),
// so a picture W pixels wide at x has the corners x and x + W.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Largest magnitude accepted for coordinates and sizes: far beyond any frame,
// small enough that the filter's sums of corners and sizes stay in 32 bits.
constexpr std::int64_t kCoordinateLimit = 1000000;

enum class Anchor {
    TopLeft, Top, TopRight, Left, Center, Right, BottomLeft, Bottom, BottomRight,
};

// A length in pixels, or a percentage of a dimension of the main picture.
struct PlacementLength {
    double value = 0;
    bool percent = false;
    // Pixels against a main dimension of `whole` pixels.
    double Pixels(int whole) const { return percent ? value * whole / 100.0 : value; }
};

// What the command line asked for; anything not given takes the default.
struct PlacementRequest {
    std::optional<Anchor> anchor;
    std::optional<PlacementLength> margin;  // percent: of the main's width
    std::optional<PlacementLength> width;   // percent: of the main's width
    std::optional<PlacementLength> height;  // percent: of the main's height

    bool given() const { return anchor || margin || width || height; }
};

// The defaults: bottom-right, one third of the main's width, the overlay's
// aspect kept, a margin of 2% of the main's width. An overlay too tall for
// that width is made as high as the frame less its two margins instead.
constexpr Anchor kDefaultAnchor = Anchor::BottomRight;
constexpr double kDefaultWidthPercent = 100.0 / 3.0;
constexpr double kDefaultMarginPercent = 2.0;

// The mask corners as the filter's record holds them.
struct MaskCorners {
    std::int64_t left = 0;
    std::int64_t top = 0;
    std::int64_t right = 0;
    std::int64_t bottom = 0;
    std::int64_t width() const { return right - left; }
    std::int64_t height() const { return bottom - top; }
};

// The overlay's shape in the main picture's pixels: width over height as it
// should appear, both pictures' sample aspect ratios accounted for.
// `aspect` must be positive.
MaskCorners ResolvePlacement(const PlacementRequest& request, int mainWidth, int mainHeight,
                             double aspect);

// Why the mask draws nothing on a main picture of the given size (empty,
// inverted or wholly outside it), or "" when it draws something.
std::string WhyMaskDrawsNothing(const MaskCorners& mask, int mainWidth, int mainHeight);

// Option parsers; each throws UsageError naming the option and the text.
// One of the anchor names (top-left, top, ..., bottom-right).
Anchor ParseAnchor(const std::string& option, const std::string& text);
// "N" pixels or "N%" (a decimal fraction allowed), not negative.
PlacementLength ParsePlacementLength(const std::string& option, const std::string& text);
// "W", "xH" or "WxH", each part in pixels or "%"; sets the parts given.
void ParsePlacementSize(const std::string& option, const std::string& text,
                        PlacementRequest& request);

// The anchor names in the order of the enumeration, for the help text.
extern const char* const kAnchorNames[];
constexpr int kAnchorCount = 9;
