#include "apps/quillmere/media/chroma_siting.h"

#include <climits>
#include <cstdlib>
#include <utility>

#include "convert/chroma_siting.h"

namespace {

// The locations a tag can name: first pixel across before middle, and
// down first, middle, last, so that the first of equally near ones is
// the one nearer the block's first pixel.
const AVChromaLocation kTaggable[] = {
    AVCHROMA_LOC_TOPLEFT, AVCHROMA_LOC_LEFT,   AVCHROMA_LOC_BOTTOMLEFT,
    AVCHROMA_LOC_TOP,     AVCHROMA_LOC_CENTER, AVCHROMA_LOC_BOTTOM,
};

// A block that is subsampled along an axis is at least two pixels long.
constexpr int kPairStep = 2;

// The offset, mirrored along an axis of `length` pixels in blocks of
// `step`: the last block may be cut short by the picture's edge, and the
// mirror measures from there.
int Mirrored(int halves, int length, int step) {
    const int blocks = (length + step - 1) / step;
    return 2 * (length - 1 - step * (blocks - 1)) - halves;
}

// The taggable location nearest `wanted`, across first, then down. An
// axis that is not subsampled has no siting to keep: it is tagged as the
// usual tags have it (first pixel across, middle down).
TurnedSiting Nearest(ChromaSiting wanted, int stepX, int stepY) {
    const ChromaSiting usual = SitingOf(AVCHROMA_LOC_LEFT, kPairStep, kPairStep);
    if (stepX == 1) {
        wanted.acrossHalves = usual.acrossHalves;
        stepX = kPairStep;
    }
    if (stepY == 1) {
        wanted.downHalves = usual.downHalves;
        stepY = kPairStep;
    }
    TurnedSiting nearest;
    int bestAcross = INT_MAX;
    int bestDown = INT_MAX;
    for (const AVChromaLocation location : kTaggable) {
        const ChromaSiting siting = SitingOf(location, stepX, stepY);
        const int across = std::abs(wanted.acrossHalves - siting.acrossHalves);
        const int down = std::abs(wanted.downHalves - siting.downHalves);
        if (across < bestAcross || (across == bestAcross && down < bestDown)) {
            nearest.location = location;
            bestAcross = across;
            bestDown = down;
        }
    }
    nearest.exact = bestAcross == 0 && bestDown == 0;
    return nearest;
}

}  // namespace

TurnedSiting TurnedChromaLocation(AVChromaLocation location, bool fullRangeAlias, int shiftX,
                                  int shiftY, int width, int height, const Orientation& turn) {
    if (shiftX == 0 && shiftY == 0) {
        return TurnedSiting{location, true};
    }
    int stepX = 1 << shiftX;
    int stepY = 1 << shiftY;
    ChromaSiting siting = SitingOf(EffectiveChromaLocation(location, fullRangeAlias), stepX, stepY);
    if (turn.transpose) {
        std::swap(siting.acrossHalves, siting.downHalves);
        std::swap(stepX, stepY);
        std::swap(width, height);
    }
    if (turn.mirrorX) {
        siting.acrossHalves = Mirrored(siting.acrossHalves, width, stepX);
    }
    if (turn.mirrorY) {
        siting.downHalves = Mirrored(siting.downHalves, height, stepY);
    }
    return Nearest(siting, stepX, stepY);
}
