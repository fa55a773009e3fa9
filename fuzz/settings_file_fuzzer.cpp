// The settings file that render, frame and edit read. The input is the
// file's text. Checks: a file is either taken or refused with a UsageError
// that says why; a file that was taken, written back, is taken again and
// written back the same, so Save and --settings keep every setting.
#include <cstdint>
#include <string>

#include "apps/quillmere/cli/settings_file.h"
#include "apps/quillmere/runner_error.h"
#include "fuzz_input.h"

namespace {

constexpr const char* kTarget = "settings_file_fuzzer";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CommandLine line;
    try {
        ReadSettingsFile(text, "fuzz.json", line);
    } catch (const UsageError& refused) {
        FUZZ_CHECK(std::string(refused.what()).find("fuzz.json") != std::string::npos, kTarget,
                   "a refusal names the file: " + std::string(refused.what()));
        return 0;
    }
    const std::string written = SettingsFileText(line);
    CommandLine again;
    try {
        ReadSettingsFile(written, "fuzz.json", again);
    } catch (const UsageError& refused) {
        FUZZ_CHECK(false, kTarget, "what was written back is refused: " +
                                       std::string(refused.what()) + "\n" + written);
    }
    FUZZ_CHECK(SettingsFileText(again) == written, kTarget,
               "written back twice, not the same:\n" + written);
    return 0;
}
