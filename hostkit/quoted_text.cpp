#include "hostkit/quoted_text.h"

namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;

struct NamedEscape {
    char character;
    const char* escape;
};

constexpr NamedEscape kNamedEscapes[] = {{'\n', "\\n"}, {'\r', "\\r"}, {'\t', "\\t"}};

bool IsControl(unsigned char c) { return c < kFirstPrintable || c == kDelete; }

}  // namespace

std::string EscapeControlCharacters(std::string_view value) {
    static constexpr char kHexDigits[] = "0123456789abcdef";
    std::string escaped;
    escaped.reserve(value.size());
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (!IsControl(byte)) {
            escaped += c;
            continue;
        }
        const char* named = nullptr;
        for (const NamedEscape& entry : kNamedEscapes) {
            if (entry.character == c) {
                named = entry.escape;
            }
        }
        if (named != nullptr) {
            escaped += named;
        } else {
            escaped += "\\x";
            escaped += kHexDigits[byte >> 4];
            escaped += kHexDigits[byte & 0xF];
        }
    }
    return escaped;
}

std::string Quoted(std::string_view value) { return "'" + EscapeControlCharacters(value) + "'"; }
