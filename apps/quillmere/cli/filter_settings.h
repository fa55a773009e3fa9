// The settings of one filter instance as the runner prepares them: a
// FilterData block with the dialog's first-open defaults, which the command
// line then edits. The runner copies it into the instance record as the host
// copies records, before the overlay is opened.
#pragma once

#include <cstdint>
#include <string>

#include "apps/quillmere/plan/request.h"
#include "filter/filter_data.h"

// One shadow style's command-line name, by index of the style list.
struct ShadowStyleName {
    const char* name;
    const char* summary;
};
extern const ShadowStyleName kShadowStyleNames[];

// The parsers of option values. Each throws UsageError naming the option
// (`option`, e.g. "--mask") and the rejected text.

// "L,T,R,B", where R may be "wWIDTH" or "hHEIGHT" and B likewise, laid out
// as the dialog's mask text (blanks also separate). A size is the size
// drawn: wWIDTH sets R = L + WIDTH. Writes the four corners.
void ParseMask(const std::string& option, const std::string& text, FilterData& settings);
// "RRGGBB" (red, green, blue in hexadecimal, optionally led by '#' or "0x")
// or a CSS colour name, as a COLORREF.
COLORREF ParseColor(const std::string& option, const std::string& text);
// A style index 0-5 or a style's name.
std::int32_t ParseShadowStyle(const std::string& option, const std::string& text);
// "START" or "START-END": sets the frame range.
void ParseFrameRange(const std::string& option, const std::string& text, FilterData& settings);
// A decimal integer within [minimum, maximum].
std::int32_t ParseInteger(const std::string& option, const std::string& text,
                          std::int64_t minimum, std::int64_t maximum);

