#include "apps/quillmere/media/chroma_siting.h"

#include <cstdlib>
#include <utility>

namespace {

// A siting as the distance of the chroma sample from its block's first
// pixel, in half luma pixels, across and down.
struct Offsets {
    int across = 0;
    int down = 0;
};

enum class Across { First, Middle };
enum class Down { First, Middle, Last };

struct SitingRow {
    AVChromaLocation location;
    Across across;
    Down down;
};

const SitingRow kSitings[] = {
    {AVCHROMA_LOC_LEFT, Across::First, Down::Middle},
    {AVCHROMA_LOC_CENTER, Across::Middle, Down::Middle},
    {AVCHROMA_LOC_TOPLEFT, Across::First, Down::First},
    {AVCHROMA_LOC_TOP, Across::Middle, Down::First},
    {AVCHROMA_LOC_BOTTOMLEFT, Across::First, Down::Last},
    {AVCHROMA_LOC_BOTTOM, Across::Middle, Down::Last},
};

// Half pixels from the block's first pixel to a siting, in a block of `step` pixels.
int HalvesAcross(Across across, int step) { return across == Across::First ? 0 : step - 1; }
int HalvesDown(Down down, int step) {
    return down == Down::First ? 0 : down == Down::Middle ? step - 1 : 2 * (step - 1);
}

const SitingRow& RowOf(AVChromaLocation location) {
    for (const SitingRow& row : kSitings) {
        if (row.location == location) {
            return row;
        }
    }
    return kSitings[0];  // unspecified (and unknown values): beside the first pixel
}

// The offset, mirrored along an axis of `length` pixels in blocks of
// `step`: the last block may be cut short by the picture's edge, and the
// mirror measures from there.
int Mirrored(int halves, int length, int step) {
    const int blocks = (length + step - 1) / step;
    return 2 * (length - 1 - step * (blocks - 1)) - halves;
}

// The candidate nearest `halves` (the first of equals) and whether it is `halves`.
template <typename Choice, std::size_t Count>
Choice Nearest(int halves, const Choice (&choices)[Count], int (*measure)(Choice, int), int step,
               bool& exact) {
    Choice best = choices[0];
    int bestDistance = -1;
    for (Choice choice : choices) {
        const int distance = std::abs(measure(choice, step) - halves);
        if (bestDistance < 0 || distance < bestDistance) {
            best = choice;
            bestDistance = distance;
        }
    }
    exact = exact && bestDistance == 0;
    return best;
}

}  // namespace

TurnedSiting TurnedChromaLocation(AVChromaLocation location, int shiftX, int shiftY, int width,
                                  int height, const Orientation& turn) {
    if (shiftX == 0 && shiftY == 0) {
        return TurnedSiting{location, true};
    }
    const SitingRow& row = RowOf(location);
    int stepX = 1 << shiftX;
    int stepY = 1 << shiftY;
    Offsets offsets{HalvesAcross(row.across, stepX), HalvesDown(row.down, stepY)};
    if (turn.transpose) {
        std::swap(offsets.across, offsets.down);
        std::swap(stepX, stepY);
        std::swap(width, height);
    }
    if (turn.mirrorX) {
        offsets.across = Mirrored(offsets.across, width, stepX);
    }
    if (turn.mirrorY) {
        offsets.down = Mirrored(offsets.down, height, stepY);
    }
    TurnedSiting turned;
    // An axis without subsampling has no siting to keep: it is written as
    // the usual tags write it (first pixel across, middle down).
    Across across = Across::First;
    if (stepX > 1) {
        const Across choices[] = {Across::First, Across::Middle};
        across = Nearest(offsets.across, choices, &HalvesAcross, stepX, turned.exact);
    }
    Down down = Down::Middle;
    if (stepY > 1) {
        const Down choices[] = {Down::First, Down::Middle, Down::Last};
        down = Nearest(offsets.down, choices, &HalvesDown, stepY, turned.exact);
    }
    for (const SitingRow& candidate : kSitings) {
        if (candidate.across == across && candidate.down == down) {
            turned.location = candidate.location;
        }
    }
    return turned;
}
