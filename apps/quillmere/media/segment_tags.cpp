#include "apps/quillmere/media/segment_tags.h"

#include <cstdlib>

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
    return {{kJobTag, marks.job},
            {kIndexTag, std::to_string(marks.index)},
            {kCountTag, std::to_string(marks.count)},
            {kFirstTag, std::to_string(marks.first)},
            {kLastTag, std::to_string(marks.last)},
            {kMainIdentityTag, marks.mainIdentity},
            {kMainPathTag, marks.mainPath},
            {kTurnTag, std::to_string((marks.turn.transpose ? kTransposeBit : 0) |
                                      (marks.turn.mirrorX ? kMirrorXBit : 0) |
                                      (marks.turn.mirrorY ? kMirrorYBit : 0))}};
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
    if (marks.job.empty() || index < 0 || count < 1 || index >= count || marks.first < 0 ||
        marks.last < marks.first) {
        return std::nullopt;
    }
    marks.index = static_cast<int>(index);
    marks.count = static_cast<int>(count);
    return marks;
}
