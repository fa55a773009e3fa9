// Reading numbers and words out of the dialog's edit fields the way the
// runtime's "%d" and "%s" conversions read them, but bounded: a number beyond
// the int32 range and a word longer than its buffer are handled, not
// undefined.
#pragma once

#include <cstddef>
#include <cstdint>

// Skips the white space that "%d", "%s" and a blank in a format skip.
void SkipWhiteSpace(const char*& cursor);

// "%d": skips white space, then reads an optional sign and decimal digits.
// Returns false when there is no digit, or when the number lies beyond the
// int32 range; `value` is then untouched. On success the cursor stands after
// the last digit. After an out-of-range number it stands after its digits.
bool ScanDecimal(const char*& cursor, std::int32_t& value);

// "%s" into a buffer of `capacity` characters: skips white space and reads
// the run of characters up to the next white space. At most capacity - 1 of
// them are kept (NUL-terminated); the rest of a longer word is passed over.
// Returns false when the text holds no further word. `truncated` tells
// whether the word was cut.
bool ScanWord(const char*& cursor, char* buffer, std::size_t capacity, bool& truncated);

// Reads "%d" from `text` into `field`; unreadable text leaves it unchanged.
void ReadNumber(const char* text, std::int32_t& field);

// Reads "%d %d" from `text`: the scan stops at the first item that cannot be
// read, and every item from there on leaves its field unchanged.
void ReadNumberPair(const char* text, std::int32_t& first, std::int32_t& second);
