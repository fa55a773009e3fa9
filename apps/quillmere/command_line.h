// The runner's command line: its commands, its options (one table) and
// what they leave for the job to do.
#pragma once

#include <cstdint>
#include <string>

#include "filter/filter_data.h"
#include "source/picture_limits.h"

enum class Command { Help, Version, Render, Frame, Demo };

struct CommandLine {
    Command command = Command::Help;
    std::string input;        // the main video (render, frame)
    std::string output;       // -o: output file, or the demo's folder
    std::string overlayPath;  // --overlay
    std::string scriptPath;   // --script
    std::string format;       // --format: container by name instead of by extension
    std::int64_t frameAt = -1;  // --at (frame)
    bool quiet = false;
    bool noAudio = false;     // --no-audio: leave the main video's audio out
    bool strict = false;      // --strict: overlay frames that fail to decode fail the job
    PictureLimit pictureLimit;  // --max-pixels
    // Every filter setting, starting from the dialog's first-open defaults.
    FilterData settings;
    bool maskGiven = false;

    CommandLine();
};

// Throws UsageError for anything it cannot use.
CommandLine ParseCommandLine(int argc, const char* const* argv);

// The text of `quillmere --help`, generated from the option table.
std::string HelpText();

// The container name that means "composite, then discard the frames".
constexpr const char* kNullFormat = "null";
