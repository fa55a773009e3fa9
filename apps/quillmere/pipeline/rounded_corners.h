// Rounded corners over what the filter drew: the overlay, its border and
// its shadow each take a rectangle with rounded corners, and the pixels
// that the rounding leaves out show what lies under that layer.
//
// The filter draws square shapes, so the rounding is a blend after its run:
// each pixel of a corner square mixes the filter's drawing with the layer
// below by the share of the pixel that lies inside the rounded shape (its
// coverage, the exact area of the circle within the pixel). The layers, from
// the bottom:
//   - the main picture;
//   - the shadow, a rectangle offset from the border's, rounded with the
//     border's radius. Under the border and the overlay the filter draws no
//     shadow; where rounding uncovers it there, it is the shadow's innermost
//     level shading the main, as the filter shades its bands;
//   - the border, a solid colour, rounded with the overlay's radius plus its
//     width, so that it keeps its width round the corner;
//   - the overlay (or the black placeholder), rounded with the radius asked.
// Every other pixel is left as the filter drew it, so only the corner
// squares cost anything per frame; their weights are worked out once.
#pragma once

#include <cstdint>
#include <vector>

#include "convert/picture_rect.h"
#include "host/vbitmap.h"

struct FilterData;

// Coverage weights count in 1/256: 256 is a pixel wholly inside.
constexpr std::uint32_t kFullCoverage = 256;

// The share of the pixel square [x0, x1] x [y0, y1] (all >= 0, in pixels
// from a circle's centre) that lies inside the circle of radius `radius`.
double DiscAreaInPixel(double x0, double x1, double y0, double y1, double radius);

// The weights of a corner square of radius `radius`, row by row:
// element [b * radius + a] is the pixel a columns and b rows in from the
// rectangle's corner pixel (0, 0).
std::vector<std::uint16_t> CornerCoverage(int radius);

// A rectangle (right and bottom exclusive) with its corners rounded.
struct RoundedRect {
    std::int64_t left = 0;
    std::int64_t top = 0;
    std::int64_t right = 0;
    std::int64_t bottom = 0;
    int radius = 0;  // at most half the shorter side
    bool Contains(std::int64_t x, std::int64_t y) const {
        return x >= left && x < right && y >= top && y < bottom;
    }
};

// The rectangle with corners of `radius`, cut to half its shorter side.
RoundedRect Rounded(std::int64_t left, std::int64_t top, std::int64_t right,
                    std::int64_t bottom, std::int64_t radius);

// The weight of pixel (x, y) for `shape`, from the corner table of its radius.
std::uint32_t CoverageAt(const RoundedRect& shape, const std::vector<std::uint16_t>& table,
                         std::int64_t x, std::int64_t y);

// Where the compositor's bitmaps lie: bottom-up rows, as the host keeps them.
struct BitmapPlace {
    int left = 0;
    int top = 0;
    int height = 0;
};

class RoundedCorners {
public:
    // For the filter's settings as the pass runs them (the mask in frame
    // coordinates) and the area the compositor converts; radius 0 rounds
    // nothing.
    RoundedCorners(const FilterData& settings, int radius, const PictureRect& area,
                   const BitmapPlace& place);

    bool empty() const { return pixels_.empty(); }
    // The mask's corner squares within the area: the source must be there
    // for the overlay's rounding to show it.
    const std::vector<PictureRect>& maskCorners() const { return maskCorners_; }
    // Blends `output`, what the filter drew from `source`, in the corner
    // squares. Pitches count pixels.
    void Apply(const Pixel32* source, long sourcePitch, Pixel32* output, long outputPitch) const;

private:
    enum class Layer : std::uint8_t {
        Outside,  // outside border and overlay: the shadow, or the main
        Border,   // in the border's band
        Mask,     // in the mask: the overlay or the placeholder
    };
    struct CornerPixel {
        int row;     // in the bitmaps
        int column;
        std::uint16_t shadow;  // the weights of the three shapes
        std::uint16_t border;
        std::uint16_t mask;
        Layer layer;
        bool hiddenShadow;  // under the border or the overlay, inside the shadow's shape
    };
    // Adds frame pixel (x, y) where it may differ from what the filter drew.
    void AddPixel(int x, int y, const BitmapPlace& place, const RoundedRect& mask,
                  const RoundedRect& outer, const RoundedRect& shadow,
                  const std::vector<std::uint16_t>& maskTable,
                  const std::vector<std::uint16_t>& outerTable,
                  const std::vector<std::uint16_t>& shadowTable);
    Pixel32 Blend(const CornerPixel& pixel, Pixel32 source, Pixel32 drawn) const;
    Pixel32 ShadeInner(Pixel32 source) const;

    std::vector<CornerPixel> pixels_;
    std::vector<PictureRect> maskCorners_;
    bool border_ = false;
    Pixel32 borderPixel_ = 0;
    // The shadow's innermost level as the filter shades a byte with it.
    std::uint8_t shadedByte_[256] = {};
    std::uint8_t shadowColour_[3] = {};
};
