// The runner's command line. The input is the argument list, NUL-separated.
// Checks: a line is either taken or refused with a UsageError of one line
// without control characters; a mask that was taken, written back as
// corners, is taken again as the same mask.
#include <cstdint>
#include <string>
#include <vector>

#include "apps/quillmere/cli/command_line.h"
#include "apps/quillmere/runner_error.h"
#include "fuzz_input.h"

namespace {

constexpr const char* kTarget = "command_line_fuzzer";

bool HasControlCharacter(const std::string& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return true;
        }
    }
    return false;
}

bool Parse(const std::vector<std::string>& words, CommandLine& line, std::string& error) {
    std::vector<const char*> argv = {"quillmere"};
    for (const std::string& word : words) {
        argv.push_back(word.c_str());
    }
    try {
        line = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
        return true;
    } catch (const UsageError& usage) {
        error = usage.what();
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\0') {
            words.emplace_back();
        } else {
            words.back() += static_cast<char>(data[i]);
        }
    }
    if (size == 0) {
        words.clear();
    }
    CommandLine line;
    std::string error;
    if (!Parse(words, line, error)) {
        FUZZ_CHECK(!error.empty(), kTarget, "a refusal says why");
        FUZZ_CHECK(!HasControlCharacter(error), kTarget, "refusal not on one clean line: " + error);
        return 0;
    }
    if (!line.maskGiven) {
        return 0;
    }
    const FilterData& settings = line.settings;
    const std::string corners = std::to_string(settings.maskLeft) + "," +
                                std::to_string(settings.maskTop) + "," +
                                std::to_string(settings.maskRight) + "," +
                                std::to_string(settings.maskBottom);
    CommandLine again;
    FUZZ_CHECK(Parse({"render", "main.mkv", "-o", "out.mkv", "--mask", corners}, again, error),
               kTarget, "a taken mask written back is refused: " + corners + " " + error);
    FUZZ_CHECK(again.settings.maskLeft == settings.maskLeft &&
                   again.settings.maskTop == settings.maskTop &&
                   again.settings.maskRight == settings.maskRight &&
                   again.settings.maskBottom == settings.maskBottom,
               kTarget, "a taken mask reads back differently: " + corners);
    return 0;
}
