// A position in the main video given as a frame number or as a time:
// "312" (frame), "12.5s", "1:02.5" (minutes:seconds) or "0:01:02.500"
// (hours:minutes:seconds). A time becomes a frame number only once the main
// video's frame rate is known.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavutil/rational.h>
}

class FrameOrTime {
public:
    static FrameOrTime Frames(std::int64_t frames) { return FrameOrTime(false, frames); }
    static FrameOrTime Microseconds(std::int64_t microseconds) {
        return FrameOrTime(true, microseconds);
    }
    FrameOrTime() = default;

    bool isTime() const { return isTime_; }
    // The frame shown at this time at `rate` frames per second (a frame is
    // shown from its start until the next one starts); a frame number as it is.
    std::int64_t FrameAt(AVRational rate) const;
    // As a duration: the number of frames it spans at `rate`, to the
    // nearest, and at least one for any time above 0; a frame count as it is.
    std::int64_t FramesLasting(AVRational rate) const;
    // The text that parses back as this value: "312" or "12.5s".
    std::string Text() const;
    bool operator==(const FrameOrTime& other) const {
        return isTime_ == other.isTime_ && value_ == other.value_;
    }

private:
    FrameOrTime(bool isTime, std::int64_t value) : isTime_(isTime), value_(value) {}
    bool isTime_ = false;
    std::int64_t value_ = 0;  // frames, or microseconds
};

// Parses `text`; a leading '-' only when `allowNegative`. Throws UsageError
// naming `option` for anything else. Frame numbers must lie within
// [minimumFrames, maximumFrames]; times within the same number of hours.
FrameOrTime ParseFrameOrTime(const std::string& option, const std::string& text,
                             bool allowNegative, std::int64_t minimumFrames,
                             std::int64_t maximumFrames);

// What --at, --range and --offset say about the accepted forms, for messages.
constexpr const char* kFrameOrTimeForms = "a frame number or a time (12.5s, 1:02.5, 0:01:02.500)";
