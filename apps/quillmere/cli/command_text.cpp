#include "apps/quillmere/cli/command_text.h"

#include <cstdio>

#include "apps/quillmere/cli/shell_words.h"
#include "filter/filter_procedures.h"
#include "host/filter_interface.h"

namespace {

using Words = std::vector<std::string>;

// A path that begins with '-' would read as an option.
std::string AsOperand(const std::string& path) {
    return path.size() > 1 && path[0] == '-' ? "./" + path : path;
}

// Characters that a POSIX shell takes literally in a word.
bool IsPlainWordCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string("_./:=,%+-@").find(c) != std::string::npos;
}

}  // namespace

std::vector<std::string> RenderCommandWords(const CommandLine& line) {
    Words words = {"quillmere", "render", AsOperand(line.input), "-o", AsOperand(line.output)};
    AddOptionWords(line, words);
    return words;
}

std::string ShellCommandLine(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) {
        text += text.empty() ? "" : " ";
        bool plain = !word.empty();
        for (char c : word) {
            plain = plain && IsPlainWordCharacter(c);
        }
        if (plain) {
            text += word;
            continue;
        }
        text += SingleQuotedWord(word);
    }
    return text;
}

std::string ConfigLine(const FilterData& settings) {
    FilterData record = settings;
    FilterActivation activation{};
    activation.filter_data = &record;
    char line[kScriptLineMaxLength + 1];
    FssProc(&activation, nullptr, line, sizeof line);
    return line;
}
