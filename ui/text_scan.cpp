#include "ui/text_scan.h"

namespace {

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

void SkipWhiteSpace(const char*& cursor) {
    while (IsWhiteSpace(*cursor)) {
        ++cursor;
    }
}

bool ScanDecimal(const char*& cursor, std::int32_t& value) {
    const char* p = cursor;
    SkipWhiteSpace(p);
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (!IsDigit(*p)) {
        return false;
    }
    // The magnitude stops growing once it is past the int32 range, so any
    // number of digits (leading zeros included) is read without overflow.
    constexpr std::int64_t beyondRange = std::int64_t{1} << 31;
    std::int64_t magnitude = 0;
    for (; IsDigit(*p); ++p) {
        if (magnitude <= beyondRange) {
            magnitude = magnitude * 10 + (*p - '0');
        }
    }
    cursor = p;
    const std::int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue < -beyondRange || signedValue >= beyondRange) {
        return false;
    }
    value = static_cast<std::int32_t>(signedValue);
    return true;
}

bool ScanWord(const char*& cursor, char* buffer, std::size_t capacity, bool& truncated) {
    SkipWhiteSpace(cursor);
    truncated = false;
    if (*cursor == '\0') {
        return false;
    }
    std::size_t length = 0;
    for (; *cursor != '\0' && !IsWhiteSpace(*cursor); ++cursor) {
        if (length + 1 < capacity) {
            buffer[length++] = *cursor;
        } else {
            truncated = true;
        }
    }
    if (capacity > 0) {
        buffer[length] = '\0';
    }
    return true;
}

void ReadNumber(const char* text, std::int32_t& field) {
    ScanDecimal(text, field);
}

void ReadNumberPair(const char* text, std::int32_t& first, std::int32_t& second) {
    if (ScanDecimal(text, first)) {
        ScanDecimal(text, second);
    }
}
