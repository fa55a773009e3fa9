#include "apps/quillmere/cli/read_command_line.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "apps/quillmere/cli/settings_file.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

namespace {

// Far more than any settings file; a larger file is not one.
constexpr std::streamsize kLargestSettingsFile = 1 << 20;

// The file's text, or nothing when edit names a file that is not there yet.
bool ReadText(const std::string& path, bool mayBeMissing, std::string& text) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        if (errno == ENOENT && mayBeMissing) {
            return false;
        }
        throw RunnerError("cannot read the settings file " + Quoted(path) + ": " +
                          std::strerror(errno));
    }
    if (!S_ISREG(status.st_mode)) {
        throw RunnerError("cannot read the settings file " + Quoted(path) +
                          ": not a regular file");
    }
    const std::string tooLarge = "settings file " + Quoted(path) + " is too large to be one";
    if (status.st_size > kLargestSettingsFile) {
        throw UsageError(tooLarge);
    }
    // One byte past the limit tells a file that grew since of its size.
    std::ifstream file(path, std::ios::binary);
    text.assign(static_cast<std::size_t>(kLargestSettingsFile) + 1, '\0');
    if (!file || (!file.read(&text[0], static_cast<std::streamsize>(text.size())) &&
                  file.bad())) {
        throw RunnerError("cannot read the settings file " + Quoted(path) + ": " +
                          std::strerror(errno));
    }
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (static_cast<std::streamsize>(text.size()) > kLargestSettingsFile) {
        throw UsageError(tooLarge);
    }
    return true;
}

}  // namespace

CommandLine ReadCommandLine(int argc, const char* const* argv) {
    const CommandLine typed = ParseCommandLine(argc, argv);
    if (typed.settingsPath.empty()) {
        return typed;
    }
    std::string text;
    if (!ReadText(typed.settingsPath, typed.command == Command::Edit, text)) {
        return typed;
    }
    CommandLine base;
    ReadSettingsFile(text, typed.settingsPath, base);
    // What the line says of the mask replaces what the file says of it.
    if (typed.maskGiven || !typed.scriptPath.empty() || typed.placement.given() ||
        !typed.keys.empty()) {
        base.maskGiven = false;
        base.placement = PlacementRequest{};
        base.keys.clear();
    }
    return ParseCommandLine(argc, argv, base);
}
