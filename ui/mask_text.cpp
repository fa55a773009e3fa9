#include "ui/mask_text.h"

#include <cstdint>
#include <cstdio>
#include <limits>

#include "filter/filter_data.h"
#include "ui/text_scan.h"

namespace {

// The number in a word held in a buffer of kMaskWordCapacity. When the word
// was cut and its number runs up to the cut, the number read would not be
// the one typed, so it counts as unreadable.
bool ScanWordNumber(const char* start, const char* wordEnd, bool truncated,
                    std::int32_t& value) {
    const char* cursor = start;
    std::int32_t number = 0;
    if (!ScanDecimal(cursor, number) || (truncated && cursor == wordEnd)) {
        return false;
    }
    value = number;
    return true;
}

// origin + n - 1, unless that falls outside the int32 range.
void StoreExtent(std::int32_t origin, std::int32_t extent, std::int32_t& corner) {
    const std::int64_t value = std::int64_t{origin} + extent - 1;
    if (value >= std::numeric_limits<std::int32_t>::min() &&
        value <= std::numeric_limits<std::int32_t>::max()) {
        corner = static_cast<std::int32_t>(value);
    }
}

void ApplyWord(const char* word, bool truncated, std::int32_t& plainCorner,
               FilterData& record) {
    const char* wordEnd = word;
    while (*wordEnd != '\0') {
        ++wordEnd;
    }
    std::int32_t number = 0;
    switch (word[0]) {
    case 'w':
        if (ScanWordNumber(word + 1, wordEnd, truncated, number)) {
            StoreExtent(record.maskLeft, number, record.maskRight);
        }
        break;
    case 'h':
        if (ScanWordNumber(word + 1, wordEnd, truncated, number)) {
            StoreExtent(record.maskTop, number, record.maskBottom);
        }
        break;
    default:
        if (ScanWordNumber(word, wordEnd, truncated, number)) {
            plainCorner = number;
        }
        break;
    }
}

}  // namespace

void ReadMaskText(const char* text, FilterData& record) {
    const char* cursor = text;
    if (!ScanDecimal(cursor, record.maskLeft) || !ScanDecimal(cursor, record.maskTop)) {
        return;
    }
    char third[kMaskWordCapacity];
    char fourth[kMaskWordCapacity];
    bool thirdTruncated = false;
    bool fourthTruncated = false;
    if (!ScanWord(cursor, third, sizeof third, thirdTruncated)) {
        return;
    }
    const bool haveFourth = ScanWord(cursor, fourth, sizeof fourth, fourthTruncated);
    ApplyWord(third, thirdTruncated, record.maskRight, record);
    if (haveFourth) {
        ApplyWord(fourth, fourthTruncated, record.maskBottom, record);
    }
}

void FormatMaskText(const FilterData& record, char* buffer, std::size_t capacity) {
    std::snprintf(buffer, capacity, "%d %d %d %d", static_cast<int>(record.maskLeft),
                  static_cast<int>(record.maskTop), static_cast<int>(record.maskRight),
                  static_cast<int>(record.maskBottom));
}
