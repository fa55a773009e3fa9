#include "apps/quillmere/cli/shell_words.h"

std::string SingleQuotedText(const std::string& text) {
    std::string quoted;
    quoted.reserve(text.size());
    for (const char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted;
}

std::string SingleQuotedWord(const std::string& text) {
    return "'" + SingleQuotedText(text) + "'";
}
