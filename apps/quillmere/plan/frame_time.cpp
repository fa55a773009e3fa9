#include "apps/quillmere/plan/frame_time.h"

#include <charconv>
#include <vector>

#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

extern "C" {
#include <libavutil/mathematics.h>
}

namespace {

constexpr std::int64_t kMicrosecondsPerSecond = 1000000;
constexpr int kFractionDigits = 6;  // microseconds
constexpr int kSecondsPerMinute = 60;
constexpr int kMaxClockFields = 3;  // hours:minutes:seconds
// Longest time accepted: far beyond any video, far from overflowing.
constexpr std::int64_t kMaxHours = 1000000;

bool ReadDigits(const std::string& text, std::int64_t& value) {
    if (text.empty()) {
        return false;
    }
    const char* last = text.data() + text.size();
    auto [end, error] = std::from_chars(text.data(), last, value);
    return error == std::errc() && end == last && text[0] != '-' && text[0] != '+';
}

// "SS", "SS.fff": whole seconds and microseconds.
bool ReadSeconds(const std::string& text, std::int64_t& microseconds) {
    const std::size_t point = text.find('.');
    std::int64_t whole = 0;
    if (!ReadDigits(text.substr(0, point), whole) || whole > kMaxHours * 3600) {
        return false;
    }
    std::int64_t fraction = 0;
    if (point != std::string::npos) {
        std::string digits = text.substr(point + 1);
        if (digits.empty() || digits.size() > kFractionDigits || !ReadDigits(digits, fraction)) {
            return false;
        }
        for (std::size_t i = digits.size(); i < kFractionDigits; ++i) {
            fraction *= 10;
        }
    }
    microseconds = whole * kMicrosecondsPerSecond + fraction;
    return true;
}

// A time in one of the three forms, without sign.
bool ReadTime(const std::string& text, std::int64_t& microseconds) {
    if (text.size() > 1 && text.back() == 's' && text.find(':') == std::string::npos) {
        return ReadSeconds(text.substr(0, text.size() - 1), microseconds);
    }
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t colon; (colon = text.find(':', start)) != std::string::npos;
         start = colon + 1) {
        fields.push_back(text.substr(start, colon - start));
    }
    fields.push_back(text.substr(start));
    if (fields.size() < 2 || fields.size() > kMaxClockFields) {
        return false;
    }
    std::int64_t seconds = 0;
    if (!ReadSeconds(fields.back(), seconds)) {
        return false;
    }
    // Fields after the first count below 60.
    std::int64_t total = 0;
    for (std::size_t index = 0; index + 1 < fields.size(); ++index) {
        std::int64_t value = 0;
        if (!ReadDigits(fields[index], value) || value > kMaxHours ||
            (index > 0 && value >= kSecondsPerMinute)) {
            return false;
        }
        total = total * kSecondsPerMinute + value;
    }
    if (seconds / kMicrosecondsPerSecond >= kSecondsPerMinute) {
        return false;
    }
    microseconds = total * kSecondsPerMinute * kMicrosecondsPerSecond + seconds;
    return true;
}

}  // namespace

std::int64_t FrameOrTime::FrameAt(AVRational rate) const {
    if (!isTime_) {
        return value_;
    }
    // frames = microseconds * num / (den * 10^6), rounded down: the frame
    // that has started by then. Exact in integers, so 1.001s at 30000/1001
    // is frame 30, not 29.
    return av_rescale_rnd(value_, rate.num, rate.den * kMicrosecondsPerSecond,
                          static_cast<AVRounding>(AV_ROUND_DOWN | AV_ROUND_PASS_MINMAX));
}

std::int64_t FrameOrTime::FramesLasting(AVRational rate) const {
    if (!isTime_ || value_ <= 0) {
        return value_;
    }
    const std::int64_t frames =
        av_rescale_rnd(value_, rate.num, rate.den * kMicrosecondsPerSecond,
                       static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
    return frames > 0 ? frames : 1;
}

FrameOrTime ParseFrameOrTime(const std::string& option, const std::string& text,
                             bool allowNegative, std::int64_t minimumFrames,
                             std::int64_t maximumFrames) {
    const bool negative = allowNegative && !text.empty() && text[0] == '-';
    const std::string body = negative ? text.substr(1) : text;
    std::int64_t value = 0;
    if (ReadDigits(body, value)) {
        const std::int64_t frames = negative ? -value : value;
        if (frames < minimumFrames || frames > maximumFrames) {
            throw UsageError("invalid value " + Quoted(text) + " for " + option +
                             ": expected a frame number from " + std::to_string(minimumFrames) +
                             " to " + std::to_string(maximumFrames) + " or a time");
        }
        return FrameOrTime::Frames(frames);
    }
    if (!ReadTime(body, value)) {
        throw UsageError("invalid value " + Quoted(text) + " for " + option + ": expected " +
                         kFrameOrTimeForms);
    }
    return FrameOrTime::Microseconds(negative ? -value : value);
}

std::string FrameOrTime::Text() const {
    if (!isTime_) {
        return std::to_string(value_);
    }
    constexpr std::int64_t kMicrosecondsPerSecond = 1000000;
    const std::int64_t magnitude = value_ < 0 ? -value_ : value_;
    std::string fraction = std::to_string(magnitude % kMicrosecondsPerSecond);
    fraction.insert(0, 6 - fraction.size(), '0');
    while (!fraction.empty() && fraction.back() == '0') {
        fraction.pop_back();
    }
    return std::string(value_ < 0 ? "-" : "") +
           std::to_string(magnitude / kMicrosecondsPerSecond) +
           (fraction.empty() ? "" : "." + fraction) + "s";
}
