#include "apps/quillmere/media/segment_tags.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

constexpr const char* kJobTag = "quillmere_job";
constexpr const char* kIndexTag = "quillmere_segment";
constexpr const char* kCountTag = "quillmere_segments";
constexpr const char* kFirstTag = "quillmere_first_frame";
constexpr const char* kLastTag = "quillmere_last_frame";
constexpr const char* kMainIdentityTag = "quillmere_main_identity";
constexpr const char* kMainPathTag = "quillmere_main";
// The turn as a number: 4 for a transpose, 2 for a mirror across, 1 down.
constexpr const char* kTurnTag = "quillmere_turn";
constexpr int kTransposeBit = 4;
constexpr int kMirrorXBit = 2;
constexpr int kMirrorYBit = 1;
constexpr std::int64_t kLargestTurn = 7;
// The overlay's sound: its file, and its times and levels as key=value;...
constexpr const char* kMixOverlayTag = "quillmere_mix_overlay";
constexpr const char* kMixTag = "quillmere_mix";

std::string Exact(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string MixText(const AudioMixing& mix) {
    std::string text = "start=" + Exact(mix.start) + ";from=" + Exact(mix.overlayFrom) +
                       ";fade_in=" + Exact(mix.fadeIn) + ";fade_out=" + Exact(mix.fadeOut) +
                       ";volume=" + Exact(mix.volume) + ";duck=" + Exact(mix.duck);
    if (mix.end) {
        text += ";end=" + Exact(*mix.end);
    }
    if (mix.cycle) {
        text += ";cycle=" + Exact(*mix.cycle);
    }
    return text;
}

// The mix a part names; none when it names none, false when it is malformed.
bool ReadMix(const AVDictionary* tags, std::optional<AudioMixing>& mix) {
    const AVDictionaryEntry* overlay = av_dict_get(tags, kMixOverlayTag, nullptr, 0);
    const AVDictionaryEntry* text = av_dict_get(tags, kMixTag, nullptr, 0);
    if (overlay == nullptr && text == nullptr) {
        return true;
    }
    if (overlay == nullptr || text == nullptr || overlay->value[0] == '\0') {
        return false;
    }
    AudioMixing read;
    read.overlayPath = overlay->value;
    int required = 0;
    std::istringstream fields(text->value);
    std::string field;
    while (std::getline(fields, field, ';')) {
        const std::size_t equals = field.find('=');
        if (equals == std::string::npos) {
            return false;
        }
        const std::string key = field.substr(0, equals);
        const std::string value = field.substr(equals + 1);
        char* end = nullptr;
        const double number = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != '\0') {
            return false;
        }
        if (key == "start") { read.start = number; ++required; }
        else if (key == "from") { read.overlayFrom = number; ++required; }
        else if (key == "fade_in") { read.fadeIn = number; ++required; }
        else if (key == "fade_out") { read.fadeOut = number; ++required; }
        else if (key == "volume") { read.volume = number; ++required; }
        else if (key == "duck") { read.duck = number; ++required; }
        else if (key == "end") { read.end = number; }
        else if (key == "cycle") { read.cycle = number; }
        else { return false; }
    }
    constexpr int kRequiredFields = 6;
    if (required != kRequiredFields) {
        return false;
    }
    mix = read;
    return true;
}

// A whole number of decimal digits within [0, maximum]; -1 otherwise.
std::int64_t ReadNumber(const AVDictionary* tags, const char* key, std::int64_t maximum) {
    const AVDictionaryEntry* entry = av_dict_get(tags, key, nullptr, 0);
    if (entry == nullptr || entry->value[0] == '\0') {
        return -1;
    }
    char* end = nullptr;
    const long long value = std::strtoll(entry->value, &end, 10);
    if (*end != '\0' || value < 0 || value > maximum || entry->value[0] == '-') {
        return -1;
    }
    return value;
}

std::string ReadText(const AVDictionary* tags, const char* key) {
    const AVDictionaryEntry* entry = av_dict_get(tags, key, nullptr, 0);
    return entry != nullptr ? entry->value : "";
}

}  // namespace

std::vector<std::pair<std::string, std::string>> TagsOf(const SegmentMarks& marks) {
    std::vector<std::pair<std::string, std::string>> tags = {{kJobTag, marks.job},
            {kIndexTag, std::to_string(marks.index)},
            {kCountTag, std::to_string(marks.count)},
            {kFirstTag, std::to_string(marks.first)},
            {kLastTag, std::to_string(marks.last)},
            {kMainIdentityTag, marks.mainIdentity},
            {kMainPathTag, marks.mainPath},
            {kTurnTag, std::to_string((marks.turn.transpose ? kTransposeBit : 0) |
                                      (marks.turn.mirrorX ? kMirrorXBit : 0) |
                                      (marks.turn.mirrorY ? kMirrorYBit : 0))}};
    if (marks.mix) {
        tags.emplace_back(kMixOverlayTag, marks.mix->overlayPath);
        tags.emplace_back(kMixTag, MixText(*marks.mix));
    }
    return tags;
}

std::optional<SegmentMarks> MarksFrom(const AVDictionary* tags) {
    constexpr std::int64_t kLargest = INT32_MAX;
    SegmentMarks marks;
    marks.job = ReadText(tags, kJobTag);
    const std::int64_t index = ReadNumber(tags, kIndexTag, kLargest);
    const std::int64_t count = ReadNumber(tags, kCountTag, kLargest);
    marks.first = ReadNumber(tags, kFirstTag, kLargest);
    marks.last = ReadNumber(tags, kLastTag, kLargest);
    marks.mainIdentity = ReadText(tags, kMainIdentityTag);
    marks.mainPath = ReadText(tags, kMainPathTag);
    if (av_dict_get(tags, kTurnTag, nullptr, 0) != nullptr) {
        const std::int64_t turn = ReadNumber(tags, kTurnTag, kLargestTurn);
        if (turn < 0) {
            return std::nullopt;
        }
        marks.turn = Orientation{(turn & kTransposeBit) != 0, (turn & kMirrorXBit) != 0,
                                 (turn & kMirrorYBit) != 0};
    }
    if (!ReadMix(tags, marks.mix)) {
        return std::nullopt;
    }
    if (marks.job.empty() || index < 0 || count < 1 || index >= count || marks.first < 0 ||
        marks.last < marks.first) {
        return std::nullopt;
    }
    marks.index = static_cast<int>(index);
    marks.count = static_cast<int>(count);
    return marks;
}
