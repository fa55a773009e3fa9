// A mask that moves or changes size over the output's frames: keys at
// frames, each with the mask it reaches there and the easing it arrives
// by. The mask of a frame is a function of its number and the keys alone,
// so any part of a render (a segment, a single frame) draws what the whole
// render draws there.
//
// Between two keys every corner goes from one key's value to the next's by
// the arriving key's easing; before the first key the mask is the first
// key's, after the last the last's. The corners in between are exact
// (fractions of a pixel). How they become the pixels the filter draws
// depends on the stretch:
//
// - a bilinear stretch draws the exact rectangle: the filter's mask is the
//   whole pixels it touches, the stretch samples the overlay at the exact
//   positions, and the pixels the exact edge only partly covers are
//   weighted by their coverage (SubPixelOperations), so that a slow move
//   glides instead of stepping;
// - a nearest stretch and a 1:1 copy draw whole pixels: the left and top
//   corner and the size are each rounded to the nearest, so that a mask
//   that only moves keeps its size on every frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How the motion arrives at a key.
enum class Ease { Linear, In, Out, InOut };

struct EaseName {
    Ease ease;
    const char* name;
};
// Every easing by the name --key takes it by; the first is the default.
extern const EaseName kEaseNames[4];
// The name of `ease`.
const char* EaseNameOf(Ease ease);
// The share of the way covered at `t` (0 to 1) of the time between two keys.
double EasedProgress(Ease ease, double t);

// Corners in pixels, possibly between pixels.
struct ExactMask {
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
};

struct MaskKey {
    std::int64_t frame = 0;  // the output frame at which the mask is this key's
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
    Ease ease = Ease::Linear;  // how the motion from the key before arrives here
};

// How exact corners become the filter's whole-pixel mask.
enum class MaskRounding {
    SubPixel,     // the pixels the exact rectangle touches (a bilinear stretch)
    WholePixels,  // left, top and size rounded to the nearest (nearest, 1:1)
};

// The mask of one frame: the corners the filter gets, and the exact
// rectangle they hold (equal to them with whole pixels).
struct FrameMask {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
    ExactMask exact;
    // Whether some edge lies between pixels (SubPixel rounding only).
    bool partial() const {
        return exact.left != left || exact.top != top || exact.right != right ||
               exact.bottom != bottom;
    }
};

class MaskMotion {
public:
    MaskMotion() = default;
    // `keys` in increasing frame order, at least one, each with a positive size.
    MaskMotion(std::vector<MaskKey> keys, MaskRounding rounding);

    bool moves() const { return !keys_.empty(); }
    const std::vector<MaskKey>& keys() const { return keys_; }
    MaskRounding rounding() const { return rounding_; }

    ExactMask ExactAt(std::int64_t frame) const;
    FrameMask MaskAt(std::int64_t frame) const;
    // Whole-pixel corners that hold the mask of every frame: the least and
    // greatest of each corner over the keys (the easings never overshoot).
    FrameMask Envelope() const;

private:
    std::vector<MaskKey> keys_;
    MaskRounding rounding_ = MaskRounding::SubPixel;
};
