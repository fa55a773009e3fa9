// The dialog's text readers: the mask text and the bounded "%d" / "%s" scans.
// Checks: each scan agrees with a reading worked out independently here, and
// a mask read from any text formats to a text that reads back to it.
#include <cstdint>
#include <cstring>
#include <string>

#include "filter/filter_data.h"
#include "fuzz_input.h"
#include "ui/mask_text.h"
#include "ui/text_scan.h"

namespace {

constexpr const char* kTarget = "mask_text_fuzzer";

bool IsBlank(char c) { return std::strchr(" \t\n\v\f\r", c) != nullptr && c != '\0'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

struct ReferenceNumber {
    bool read = false;
    std::int32_t value = 0;
    std::size_t end = 0;  // where the cursor stands afterwards
};

// "%d" worked out on the digit string: leading zeros dropped, more than ten
// significant digits is out of range, else the exact value decides.
ReferenceNumber ReadReferenceNumber(const std::string& text, std::size_t start) {
    ReferenceNumber result;
    result.end = start;
    std::size_t at = start;
    while (at < text.size() && IsBlank(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    if (at >= text.size() || !IsDigit(text[at])) {
        return result;
    }
    std::string digits;
    for (; at < text.size() && IsDigit(text[at]); ++at) digits += text[at];
    result.end = at;
    const std::size_t first = digits.find_first_not_of('0');
    const std::string significant = first == std::string::npos ? "0" : digits.substr(first);
    if (significant.size() > 10) {
        return result;
    }
    const long long magnitude = std::stoll(significant);
    const long long value = negative ? -magnitude : magnitude;
    if (value < INT32_MIN || value > INT32_MAX) {
        return result;
    }
    result.read = true;
    result.value = static_cast<std::int32_t>(value);
    return result;
}

void CheckScanDecimal(const std::string& text) {
    const char* cursor = text.c_str();
    std::int32_t value = 12345;
    const bool read = ScanDecimal(cursor, value);
    const ReferenceNumber expected = ReadReferenceNumber(text, 0);
    FUZZ_CHECK(read == expected.read, kTarget, "ScanDecimal success differs: " + text);
    FUZZ_CHECK(value == (read ? expected.value : 12345), kTarget, "ScanDecimal value: " + text);
    const std::size_t end = static_cast<std::size_t>(cursor - text.c_str());
    // After a failure without digits the cursor stays where it was.
    FUZZ_CHECK(end == expected.end, kTarget, "ScanDecimal cursor: " + text);
}

void CheckScanWord(const std::string& text, std::size_t capacity) {
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    const char* cursor = text.c_str();
    bool truncated = true;
    const bool read = ScanWord(cursor, buffer, capacity, truncated);
    std::size_t at = 0;
    while (at < text.size() && IsBlank(text[at])) ++at;
    std::size_t end = at;
    while (end < text.size() && !IsBlank(text[end])) ++end;
    const std::string word = text.substr(at, end - at);
    FUZZ_CHECK(read == !word.empty(), kTarget, "ScanWord success: " + text);
    if (!read) {
        FUZZ_CHECK(!truncated, kTarget, "ScanWord truncated without a word");
        return;
    }
    const std::size_t kept = capacity == 0 ? 0 : std::min(word.size(), capacity - 1);
    FUZZ_CHECK(truncated == (word.size() > kept), kTarget, "ScanWord truncation: " + text);
    if (capacity > 0) {
        FUZZ_CHECK(std::string(buffer) == word.substr(0, kept), kTarget, "ScanWord text: " + text);
    }
    // Nothing is written past the buffer's capacity.
    for (std::size_t i = capacity; i < sizeof buffer; ++i) {
        FUZZ_CHECK(buffer[i] == '#', kTarget, "ScanWord wrote past its capacity");
    }
    FUZZ_CHECK(static_cast<std::size_t>(cursor - text.c_str()) == end, kTarget,
               "ScanWord cursor: " + text);
}

void CheckMaskRoundTrip(FuzzInput& input, const std::string& text) {
    FilterData record{};
    record.maskLeft = input.Read<std::int32_t>();
    record.maskTop = input.Read<std::int32_t>();
    record.maskRight = input.Read<std::int32_t>();
    record.maskBottom = input.Read<std::int32_t>();
    ReadMaskText(text.c_str(), record);

    char formatted[256];
    FormatMaskText(record, formatted, sizeof formatted);
    FilterData again{};
    again.maskLeft = ~record.maskLeft;
    again.maskTop = ~record.maskTop;
    again.maskRight = ~record.maskRight;
    again.maskBottom = ~record.maskBottom;
    ReadMaskText(formatted, again);
    FUZZ_CHECK(again.maskLeft == record.maskLeft && again.maskTop == record.maskTop &&
                   again.maskRight == record.maskRight && again.maskBottom == record.maskBottom,
               kTarget, std::string("mask text does not read back: ") + formatted);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const auto capacity = static_cast<std::size_t>(input.ReadBetween(0, 24));
    FuzzInput corners(data, size < 16 ? size : 16);
    std::string text = input.Rest();
    // The dialog's fields are NUL-terminated strings.
    text = text.substr(0, text.find('\0'));
    CheckScanDecimal(text);
    CheckScanWord(text, capacity);
    CheckMaskRoundTrip(corners, text);
    return 0;
}
