#include "convert/chroma_siting.h"

#include <stdexcept>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {

// libavcodec gives a 4:2:0 block's chroma position in 1/256 luma pixel
// from the block's first pixel: 0, 128 (between the two pixels) or 256.
constexpr int kHalfPixelOfTwo = 128;

}  // namespace

AVChromaLocation EffectiveChromaLocation(AVChromaLocation location, bool fullRangeAlias) {
    int x = 0;
    int y = 0;
    if (avcodec_enum_to_chroma_pos(&x, &y, location) == 0) {
        return location;
    }
    return fullRangeAlias ? AVCHROMA_LOC_CENTER : AVCHROMA_LOC_LEFT;
}

ChromaSiting SitingOf(AVChromaLocation effective, int stepX, int stepY) {
    int x = 0;
    int y = 0;
    if (avcodec_enum_to_chroma_pos(&x, &y, effective) != 0) {
        throw std::invalid_argument("unknown chroma location: " + std::to_string(effective));
    }
    // In a block of `step` pixels the middle lies step - 1 half pixels from
    // the first pixel, and the last pixel twice as far.
    return ChromaSiting{x / kHalfPixelOfTwo * (stepX - 1), y / kHalfPixelOfTwo * (stepY - 1)};
}
