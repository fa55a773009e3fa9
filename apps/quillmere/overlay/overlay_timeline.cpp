#include "apps/quillmere/overlay/overlay_timeline.h"

#include <algorithm>

extern "C" {
#include <libavutil/mathematics.h>
}

OverlayTimeline OverlayTimeline::FrameForFrame(long length) {
    OverlayTimeline timeline;
    timeline.length_ = std::max(length, 0L);
    return timeline;
}

OverlayTimeline OverlayTimeline::Still() {
    OverlayTimeline timeline;
    timeline.still_ = true;
    timeline.length_ = kStillLength;
    return timeline;
}

OverlayTimeline OverlayTimeline::ByTime(std::vector<std::int64_t> frameTimes, AVRational timeBase,
                                        std::int64_t lastFrameDuration, AVRational mainRate) {
    if (frameTimes.size() == 1) {
        return Still();
    }
    if (frameTimes.empty() || timeBase.num <= 0 || timeBase.den <= 0 || mainRate.num <= 0 ||
        mainRate.den <= 0) {
        return FrameForFrame(static_cast<long>(frameTimes.size()));
    }
    OverlayTimeline timeline;
    timeline.byTime_ = true;
    const std::int64_t first = frameTimes.front();
    const std::int64_t span = frameTimes.back() - first;
    if (lastFrameDuration <= 0) {
        lastFrameDuration = span / static_cast<std::int64_t>(frameTimes.size() - 1);
    }
    // Every main frame that starts before the overlay's last picture ends.
    const std::int64_t duration = span + std::max<std::int64_t>(lastFrameDuration, 1);
    const std::int64_t mainFrames =
        av_rescale_q_rnd(duration, timeBase, av_inv_q(mainRate),
                         static_cast<AVRounding>(AV_ROUND_UP | AV_ROUND_PASS_MINMAX));
    timeline.length_ = static_cast<long>(std::min<std::int64_t>(mainFrames, kStillLength - 1));
    for (std::int64_t& time : frameTimes) {
        time -= first;
    }
    timeline.frameTimes_ = std::move(frameTimes);
    timeline.timeBase_ = timeBase;
    timeline.mainFrameDuration_ = av_inv_q(mainRate);
    return timeline;
}

long OverlayTimeline::OverlayFrameFor(long mainFrame) const {
    if (mainFrame < 0 || mainFrame >= length_) {
        return -1;
    }
    if (still_) {
        return 0;
    }
    if (!byTime_) {
        return mainFrame;
    }
    // The moment in the overlay's own time base, to the nearest unit.
    const std::int64_t time = av_rescale_q_rnd(mainFrame, mainFrameDuration_, timeBase_,
                                               static_cast<AVRounding>(AV_ROUND_NEAR_INF));
    const auto after = std::lower_bound(frameTimes_.begin(), frameTimes_.end(), time);
    if (after == frameTimes_.begin()) {
        return 0;
    }
    const long index = static_cast<long>(after - frameTimes_.begin());
    if (after == frameTimes_.end()) {
        return index - 1;
    }
    return time - *(after - 1) < *after - time ? index - 1 : index;
}
