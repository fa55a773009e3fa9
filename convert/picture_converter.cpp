#include "convert/picture_converter.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "convert/color_matrix.h"
#include "convert/pixel_layout.h"

namespace {

std::string Describe(PictureRect rect) {
    return std::to_string(rect.width) + "x" + std::to_string(rect.height) + " at (" +
           std::to_string(rect.x) + ", " + std::to_string(rect.y) + ")";
}

int RoundDown(int value, int shift) { return (value >> shift) << shift; }
int RoundUp(int value, int shift) { return ((value + (1 << shift) - 1) >> shift) << shift; }

}  // namespace

bool PictureConverter::Handles(AVPixelFormat format) { return IsHandledFormat(format); }

bool PictureConverter::HandlesColorspace(AVColorSpace colorspace) {
    return KnownColorspace(colorspace);
}

PictureConverter::PictureConverter(AVPixelFormat format, AVColorSpace colorspace,
                                   AVColorRange range, AVChromaLocation location, int frameWidth,
                                   int frameHeight)
    : format_(format),
      plan_(BuildConversionPlan(format, colorspace, range, location, frameWidth, frameHeight)),
      toBgra_(SelectToBgra(plan_, KernelChoice::Fastest)),
      fromBgra_(SelectFromBgra(plan_, KernelChoice::Fastest)) {}

PictureRect PictureConverter::AlignToChromaGrid(PictureRect rect) const {
    const int left = std::clamp(rect.x, 0, plan_.width);
    const int top = std::clamp(rect.y, 0, plan_.height);
    const int right = std::clamp(rect.x + std::max(rect.width, 0), 0, plan_.width);
    const int bottom = std::clamp(rect.y + std::max(rect.height, 0), 0, plan_.height);
    if (right <= left || bottom <= top) {
        return PictureRect{left, top, 0, 0};
    }
    const int shiftX = plan_.layout.chromaShiftX, shiftY = plan_.layout.chromaShiftY;
    PictureRect aligned;
    aligned.x = RoundDown(left, shiftX);
    aligned.y = RoundDown(top, shiftY);
    aligned.width = std::min(RoundUp(right, shiftX), plan_.width) - aligned.x;
    aligned.height = std::min(RoundUp(bottom, shiftY), plan_.height) - aligned.y;
    return aligned;
}

void PictureConverter::CheckInside(PictureRect rect) const {
    if (rect.x < 0 || rect.y < 0 || rect.width < 0 || rect.height < 0 ||
        rect.width > plan_.width - rect.x || rect.height > plan_.height - rect.y) {
        throw std::out_of_range("rectangle " + Describe(rect) + " is not inside the " +
                                std::to_string(plan_.width) + "x" + std::to_string(plan_.height) +
                                " picture");
    }
}

void PictureConverter::ToBgra(const std::uint8_t* const planes[4], const int linesizes[4],
                              PictureRect rect, std::uint8_t* out,
                              std::ptrdiff_t outStride) const {
    CheckInside(rect);
    if (rect.empty()) {
        return;
    }
    toBgra_(plan_, planes, linesizes, rect, out, outStride);
}

void PictureConverter::FromBgra(const std::uint8_t* pixels, std::ptrdiff_t stride,
                                const std::uint8_t* original, std::ptrdiff_t originalStride,
                                PictureRect rect, std::uint8_t* const planes[4],
                                const int linesizes[4]) const {
    CheckInside(rect);
    if (rect.empty()) {
        return;
    }
    const PictureRect aligned = AlignToChromaGrid(rect);
    if (aligned.x != rect.x || aligned.y != rect.y || aligned.width != rect.width ||
        aligned.height != rect.height) {
        throw std::invalid_argument("rectangle " + Describe(rect) +
                                    " is not on the chroma grid; align it first");
    }
    fromBgra_(plan_, pixels, stride, original, originalStride, rect, planes, linesizes);
}
