#include "render/overlay_frame_rule.h"

#include "filter/filter_data.h"

std::int32_t WrappingDifference(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) -
                                      static_cast<std::uint32_t>(b));
}

std::int32_t OverlayCounter(const FilterData& record, std::int32_t frame) {
    std::int32_t counter = frame;
    if (record.useFrameRange != 0) {
        counter = WrappingDifference(counter, record.rangeStart);
    }
    if (record.repeatVideo != 0 && record.overlayLength != 0) {
        const std::int64_t cycle =
            static_cast<std::int64_t>(record.overlayLength) - record.frameOffset;
        if (cycle != 0) {
            counter = static_cast<std::int32_t>(counter % cycle);
        }
    }
    return counter;
}

std::int64_t OverlayFrameNumber(const FilterData& record, std::int32_t counter) {
    const std::int64_t position = static_cast<std::int64_t>(counter) + record.frameOffset;
    return record.reverse != 0 ? record.overlayLength - position - 1 : position;
}
