#include "apps/quillmere/plan/segments.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

namespace {

// Far more segments than any cluster runs at once, and within an int.
constexpr std::int64_t kMostSegments = 1000000;

// A whole number of decimal digits only, at most kMostSegments; -1 otherwise.
std::int64_t ParseCount(const std::string& text) {
    if (text.empty() || text.size() > 7) {
        return -1;
    }
    std::int64_t value = 0;
    for (const char digit : text) {
        if (std::isdigit(static_cast<unsigned char>(digit)) == 0) {
            return -1;
        }
        value = value * 10 + (digit - '0');
    }
    return value <= kMostSegments ? value : -1;
}

// The even position of cut i of `count` (the first frame of segment i).
std::int64_t EvenCut(std::int64_t frameCount, int count, int i) {
    return (frameCount * i + count / 2) / count;
}

std::vector<Segment> SegmentsFromCuts(const std::vector<std::int64_t>& cuts,
                                      std::int64_t frameCount) {
    std::vector<Segment> segments;
    segments.reserve(cuts.size());
    for (std::size_t i = 0; i < cuts.size(); ++i) {
        const std::int64_t end = i + 1 < cuts.size() ? cuts[i + 1] : frameCount;
        segments.push_back(Segment{static_cast<int>(i), cuts[i], end - 1});
    }
    return segments;
}

}  // namespace

SegmentChoice ParseSegmentChoice(const std::string& text, const std::string& option) {
    const std::size_t slash = text.find('/');
    const std::int64_t index = slash == std::string::npos ? -1 : ParseCount(text.substr(0, slash));
    const std::int64_t count = slash == std::string::npos ? -1 : ParseCount(text.substr(slash + 1));
    if (index < 0 || count < 1) {
        throw UsageError("invalid value " + Quoted(text) + " for " + option +
                         ": expected K/N, segment K (from 0) of N, e.g. 0/8");
    }
    if (index >= count) {
        throw UsageError("invalid value " + Quoted(text) + " for " + option +
                         ": segments of " + std::to_string(count) + " count from 0 to " +
                         std::to_string(count - 1));
    }
    return SegmentChoice{static_cast<int>(index), static_cast<int>(count)};
}

int ParseSegmentCount(const std::string& text) {
    const std::int64_t count = ParseCount(text);
    if (count < 1) {
        throw UsageError("invalid number of segments " + Quoted(text) +
                         ": expected a whole number from 1 to " + std::to_string(kMostSegments));
    }
    return static_cast<int>(count);
}

std::vector<Segment> CutSegments(std::int64_t frameCount,
                                 const std::vector<std::int64_t>& keyFrames, int count) {
    if (count < 1) {
        throw UsageError("a render is cut into at least 1 segment");
    }
    if (frameCount < 1) {
        throw UsageError("the main video holds no frames to cut into segments");
    }
    if (count > frameCount) {
        throw UsageError(std::to_string(count) + " segments need as many frames; the main video has " +
                         std::to_string(frameCount) + ", so at most " +
                         std::to_string(frameCount) + " segments");
    }
    // Key frames that can start a segment other than the first.
    std::vector<std::int64_t> starts;
    for (const std::int64_t frame : keyFrames) {
        if (frame > 0 && frame < frameCount && (starts.empty() || frame > starts.back())) {
            starts.push_back(frame);
        }
    }
    const std::size_t cutCount = static_cast<std::size_t>(count) - 1;
    const bool everyFrameKey = static_cast<std::int64_t>(starts.size()) == frameCount - 1;
    std::vector<std::int64_t> cuts{0};
    if (starts.size() < cutCount || everyFrameKey) {
        for (int i = 1; i < count; ++i) {
            cuts.push_back(EvenCut(frameCount, count, i));
        }
        return SegmentsFromCuts(cuts, frameCount);
    }
    // Cut i takes the key frame nearest its even position (the earlier of
    // two as near) among those after cut i - 1 that leave one for each cut
    // still to come.
    std::size_t after = 0;  // the first key frame cut i may take
    for (std::size_t i = 1; i <= cutCount; ++i) {
        const std::size_t latest = starts.size() - (cutCount - i) - 1;
        const std::int64_t wanted = EvenCut(frameCount, count, static_cast<int>(i));
        std::size_t chosen =
            static_cast<std::size_t>(std::lower_bound(starts.begin() + static_cast<long>(after),
                                                      starts.begin() + static_cast<long>(latest) + 1,
                                                      wanted) -
                                     starts.begin());
        if (chosen > latest ||
            (chosen > after && wanted - starts[chosen - 1] <= starts[chosen] - wanted)) {
            --chosen;
        }
        cuts.push_back(starts[chosen]);
        after = chosen + 1;
    }
    return SegmentsFromCuts(cuts, frameCount);
}
