// The dialog's mask text: "left top right bottom", where the third and
// fourth words may instead give a width ("w100") or a height ("h50")
// measured from the left and top just read.
#pragma once

#include <cstddef>

struct FilterData;

// Room for a third or fourth word: 19 characters and the NUL.
constexpr std::size_t kMaskWordCapacity = 20;

// Applies `text` to the record's mask corners. Items are read in order and
// the reading stops at the first number that cannot be read; whatever is
// missing or unreadable leaves its corner unchanged. A later word overrides
// an earlier one.
void ReadMaskText(const char* text, FilterData& record);

// The text that reads back as the record's mask unchanged.
void FormatMaskText(const FilterData& record, char* buffer, std::size_t capacity);
