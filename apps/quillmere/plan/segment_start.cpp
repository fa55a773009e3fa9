#include "apps/quillmere/plan/segment_start.h"

#include <algorithm>

#include "render/drop_shadow.h"
#include "render/frame_compositor.h"
#include "render/overlay_frame_rule.h"
#include "render/random_generator.h"

namespace {

// Positions of one band of lastRow + 1 rows and lastColumn + 1 columns; a
// band with either bound below 0 is not walked at all.
std::uint64_t BandPositions(std::int64_t lastRow, std::int64_t lastColumn) {
    if (lastRow < 0 || lastColumn < 0) {
        return 0;
    }
    return (static_cast<std::uint64_t>(lastRow) + 1) * (static_cast<std::uint64_t>(lastColumn) + 1);
}

bool OverlayFrameExists(const FilterData& record, std::int32_t counter) {
    const std::int64_t number = OverlayFrameNumber(record, counter);
    return number >= 0 && number < record.overlayLength;
}

}  // namespace

std::uint64_t DecorationDraws(const FilterData& record) {
    if (record.shadowOn == 0) {
        return 0;
    }
    const ShadowStyle& style = ShadowStyleOf(record.shadowType);
    if (!style.gradient || !style.randomVariation) {
        return 0;
    }
    const std::int64_t width =
        static_cast<std::int64_t>(WrappingDifference(record.maskRight, record.maskLeft)) + 1;
    const std::int64_t height =
        static_cast<std::int64_t>(WrappingDifference(record.maskBottom, record.maskTop)) + 1;
    const std::int64_t size = record.shadowSize;
    if (width < 2 || height < 2 || size <= 0) {
        return 0;
    }
    const std::int64_t shift = style.fixedShift ? record.shadowShift : size;
    std::uint64_t draws = BandPositions(height - shift - 1, size - 1) +      // right
                          BandPositions(size - 1, width - shift + size - 1);  // bottom
    if (shift < 0) {
        draws += BandPositions(height - shift - 1, size - 1) +  // left
                 BandPositions(size - 1, width - shift - size - 1);  // top
    }
    return draws;
}

bool DrawsDecoration(const FilterData& record, std::int64_t frame) {
    if (record.frameGetter == nullptr) {
        return true;  // the placeholder, on every frame
    }
    if (FrameOutsideRange(record, static_cast<std::int32_t>(frame))) {
        return false;
    }
    if (OverlayFrameExists(record, OverlayCounter(record, static_cast<std::int32_t>(frame)))) {
        return true;
    }
    if (record.repeatVideo != 0 && OverlayFrameExists(record, 0)) {
        return true;  // the retry from the start of the cycle
    }
    return record.maintainBlack != 0;
}

std::uint32_t RandomStateAt(std::uint32_t seed, const FilterData& record, std::int64_t frame,
                            const MaskMotion& motion) {
    const std::uint32_t started = RandomStep::Advance(seed);
    const std::uint64_t draws = DecorationDraws(record);
    if (draws == 0 || frame <= 0) {
        return started;
    }
    std::uint64_t drawn = 0;
    FilterData moved = record;
    for (std::int64_t earlier = 0; earlier < frame; ++earlier) {
        if (!DrawsDecoration(record, earlier)) {
            continue;
        }
        if (!motion.moves()) {
            drawn += draws;
            continue;
        }
        // A moving mask's shadow bands change length with its size.
        const FrameMask mask = motion.MaskAt(earlier);
        moved.maskLeft = mask.left;
        moved.maskTop = mask.top;
        moved.maskRight = mask.right;
        moved.maskBottom = mask.bottom;
        drawn += DecorationDraws(moved);
    }
    return RandomStep::Jump(started, drawn);
}

std::function<void(FilterInstance&)> SeedingAt(std::optional<std::uint32_t> seed,
                                               std::int64_t first, const MaskMotion& motion) {
    if (!seed) {
        return nullptr;
    }
    return [state = *seed, first, motion](FilterInstance& instance) {
        SeedRandom(RandomStateAt(state, instance.recordAs<FilterData>(), first, motion));
    };
}
