#include "apps/quillmere/command_line.h"

#include <cctype>
#include <cstring>
#include <sstream>

#include "apps/quillmere/filter_settings.h"
#include "apps/quillmere/runner_error.h"
#include "render/drop_shadow.h"
#include "hostkit/quoted_text.h"

namespace {

// Which commands an option belongs to.
enum CommandMask : unsigned {
    kRender = 1u << 0,
    kFrame = 1u << 1,
    kDemo = 1u << 2,
    kCompositing = kRender | kFrame,
    kAll = kRender | kFrame | kDemo,
};

using ApplyOption = void (*)(CommandLine& line, const std::string& option,
                             const std::string& value);

struct OptionRow {
    const char* name;
    const char* shortName;  // or null
    const char* valueName;  // null for a flag
    unsigned commands;
    const char* help;
    ApplyOption apply;
};

constexpr std::size_t kHelpColumn = 28;
constexpr std::size_t kHelpWidth = 79;

constexpr std::int64_t kInt32Min = INT32_MIN;
constexpr std::int64_t kInt32Max = INT32_MAX;
constexpr std::int64_t kPercentMax = 100;

const OptionRow kOptions[] = {
    {"--output", "-o", "PATH", kAll,
     "output file (render, frame) or folder (demo, default demo-output)",
     [](CommandLine& line, const std::string&, const std::string& value) {
         line.output = value;
     }},
    {"--overlay", nullptr, "FILE", kCompositing,
     "the video laid into the mask (without it the mask is filled black)",
     [](CommandLine& line, const std::string&, const std::string& value) {
         line.overlayPath = value;
     }},
    {"--mask", nullptr, "L,T,R,B", kCompositing,
     "mask corners in pixels; R may be wWIDTH and B hHEIGHT (w100: R = L + 99)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         ParseMask(option, value, line.settings);
         line.maskGiven = true;
     }},
    {"--strict", nullptr, nullptr, kCompositing,
     "fail (exit 1, no output) when any overlay frame cannot be decoded",
     [](CommandLine& line, const std::string&, const std::string&) { line.strict = true; }},
    {"--script", nullptr, "FILE", kCompositing,
     "take the mask from a host script line Config(l,t,r,b) in FILE",
     [](CommandLine& line, const std::string&, const std::string& value) {
         line.scriptPath = value;
     }},
    {"--fit", nullptr, nullptr, kCompositing,
     "stretch the overlay to the mask (default: copy it 1:1 from its top-left corner)",
     [](CommandLine& line, const std::string&, const std::string&) {
         line.settings.fitToFrame = 1;
     }},
    {"--bilinear", nullptr, nullptr, kCompositing,
     "stretch with bilinear sampling instead of nearest neighbour (with --fit)",
     [](CommandLine& line, const std::string&, const std::string&) {
         line.settings.bilinear = 1;
     }},
    {"--border", nullptr, "N", kCompositing,
     "draw a border N pixels wide around the mask (0: no border)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.settings.borderSize = ParseInteger(option, value, 0, kCoordinateLimit);
         line.settings.borderOn = line.settings.borderSize > 0 ? 1 : 0;
     }},
    {"--border-color", nullptr, "RRGGBB", kCompositing,
     "border colour (default ffffff); the border itself needs --border",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.settings.borderColor = ParseColor(option, value);
     }},
    {"--shadow", nullptr, "STYLE", kCompositing,
     "draw a drop shadow in STYLE: 0-5 or a name listed below",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.settings.shadowType = ParseShadowStyle(option, value);
         line.settings.shadowOn = 1;
     }},
    {"--shadow-size", nullptr, "N", kCompositing, "shadow band width in pixels (default 20)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.settings.shadowSize = ParseInteger(option, value, 0, kCoordinateLimit);
     }},
    {"--shadow-percent", nullptr, "P", kCompositing,
     "share of the picture kept at the shadow's inner edge, 0-100 (default 45)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.settings.shadowPercent = ParseInteger(option, value, 0, kPercentMax);
     }},
    {"--shadow-shift", nullptr, "N", kCompositing,
     "shift of the fixed-shift styles in pixels, may be negative (default 7)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.settings.shadowShift =
             ParseInteger(option, value, -kCoordinateLimit, kCoordinateLimit);
     }},
    {"--shadow-color", nullptr, "RRGGBB", kCompositing,
     "colour mixed into the shadow (default 000000: darkening only)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.settings.shadowColor = ParseColor(option, value);
     }},
    {"--range", nullptr, "START[-END]", kCompositing,
     "overlay only on output frames START to END (no END: to the last frame)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         ParseFrameRange(option, value, line.settings);
     }},
    {"--offset", nullptr, "N", kCompositing, "overlay frames to skip at its start",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.settings.frameOffset = ParseInteger(option, value, kInt32Min, kInt32Max);
     }},
    {"--repeat", nullptr, nullptr, kCompositing, "start the overlay again when it runs out",
     [](CommandLine& line, const std::string&, const std::string&) {
         line.settings.repeatVideo = 1;
     }},
    {"--reverse", nullptr, nullptr, kCompositing, "play the overlay backwards from its end",
     [](CommandLine& line, const std::string&, const std::string&) {
         line.settings.reverse = 1;
     }},
    {"--maintain-black", nullptr, nullptr, kCompositing,
     "fill the mask black on frames for which the overlay has no frame",
     [](CommandLine& line, const std::string&, const std::string&) {
         line.settings.maintainBlack = 1;
     }},
    {"--at", nullptr, "N", kFrame, "the output frame to composite (from 0)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.frameAt = ParseInteger(option, value, 0, kInt32Max);
     }},
    {"--max-pixels", nullptr, "N", kCompositing,
     "accept main pictures of up to N pixels, each side up to N (default: 16384 on a side, "
     "134217728 in all)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.pictureLimit.maxPixels = ParseInteger(option, value, 1, kInt32Max);
         line.pictureLimit.maxSide = line.pictureLimit.maxPixels;
     }},
    {"--format", nullptr, "NAME", kRender,
     "container by name instead of by extension; 'null' composites and discards",
     [](CommandLine& line, const std::string&, const std::string& value) {
         line.format = value;
     }},
    {"--no-audio", nullptr, nullptr, kRender,
     "leave out the main video's audio (by default it is copied unchanged)",
     [](CommandLine& line, const std::string&, const std::string&) { line.noAudio = true; }},
    {"--quiet", "-q", nullptr, kAll, "no progress display",
     [](CommandLine& line, const std::string&, const std::string&) { line.quiet = true; }},
};

struct CommandRow {
    const char* name;
    Command command;
    unsigned mask;
    int positionals;  // how many input files it takes
};

const CommandRow kCommands[] = {
    {"render", Command::Render, kRender, 1},
    {"frame", Command::Frame, kFrame, 1},
    {"demo", Command::Demo, kDemo, 0},
};

const OptionRow* FindOption(const std::string& name) {
    for (const OptionRow& option : kOptions) {
        if (name == option.name || (option.shortName != nullptr && name == option.shortName)) {
            return &option;
        }
    }
    return nullptr;
}

}  // namespace

CommandLine::CommandLine() : settings(DialogDefaultSettings()) {}

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    CommandLine line;
    if (argc < 2) {
        throw UsageError("no command given (try 'quillmere --help')");
    }
    const std::string first = argv[1];
    if (first == "--help" || first == "-h" || first == "help") {
        line.command = Command::Help;
        return line;
    }
    if (first == "--version") {
        line.command = Command::Version;
        return line;
    }
    const CommandRow* command = nullptr;
    for (const CommandRow& row : kCommands) {
        if (first == row.name) {
            command = &row;
        }
    }
    if (command == nullptr) {
        throw UsageError("unknown command " + Quoted(first) + " (try 'quillmere --help')");
    }
    line.command = command->command;

    int positionals = 0;
    bool optionsEnded = false;
    for (int index = 2; index < argc; ++index) {
        std::string argument = argv[index];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            if (++positionals > command->positionals) {
                throw UsageError("unexpected argument " + Quoted(argument) + " for " +
                                 command->name);
            }
            line.input = argument;
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument == "--help" || argument == "-h") {
            line.command = Command::Help;
            return line;
        }
        std::string value;
        bool inlineValue = false;
        const std::size_t equals = argument.find('=');
        if (argument.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = argument.substr(equals + 1);
            argument.resize(equals);
            inlineValue = true;
        }
        const OptionRow* option = FindOption(argument);
        if (option == nullptr) {
            throw UsageError("unknown option " + Quoted(argument));
        }
        if ((option->commands & command->mask) == 0) {
            throw UsageError(std::string("option ") + option->name + " does not apply to " +
                             command->name);
        }
        if (option->valueName == nullptr) {
            if (inlineValue) {
                throw UsageError(std::string("option ") + option->name + " takes no value");
            }
        } else if (!inlineValue) {
            if (index + 1 >= argc) {
                throw UsageError(std::string("option ") + option->name + " needs a value (" +
                                 option->valueName + ")");
            }
            value = argv[++index];
        }
        option->apply(line, option->name, value);
    }

    if (positionals < command->positionals) {
        throw UsageError(std::string(command->name) + " needs the main video (MAIN)");
    }
    if (line.command == Command::Render && line.output.empty() && line.format != kNullFormat) {
        throw UsageError("render needs an output file (-o OUT)");
    }
    if (line.command == Command::Frame) {
        if (line.frameAt < 0) {
            throw UsageError("frame needs the frame number (--at N)");
        }
        if (line.output.empty()) {
            throw UsageError("frame needs an output file (-o OUT.png)");
        }
        const std::size_t dot = line.output.find_last_of('.');
        std::string extension = dot == std::string::npos ? "" : line.output.substr(dot);
        for (char& c : extension) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (extension != ".png" || line.output.find('/', dot) != std::string::npos) {
            throw UsageError("frame writes a PNG picture: name the output OUT.png, not " +
                             Quoted(line.output));
        }
    }
    if (line.maskGiven && !line.scriptPath.empty()) {
        throw UsageError("--mask and --script both set the mask; give one of them");
    }
    return line;
}

std::string HelpText() {
    std::ostringstream text;
    text << "Usage:\n"
            "  quillmere render MAIN -o OUT [options]   composite MAIN into OUT\n"
            "  quillmere frame MAIN --at N -o OUT.png [options]\n"
            "                                           one composited frame as PNG\n"
            "  quillmere demo [-o DIR]                  render the built-in demo into DIR\n"
            "                                           (demo.mkv and demo.png)\n"
            "\n"
            "The output's container follows its extension: .mkv, .avi and .nut hold\n"
            "lossless FFV1, .mp4 and .mov hold H.264. '--format null' composites\n"
            "every frame and writes nothing (for timing). Frame rate and size follow\n"
            "MAIN, and its audio is copied over unchanged. OUT is written under a\n"
            "temporary name and replaces an existing file only once it is complete.\n"
            "MAIN may be '-' for standard input; the overlay must be a regular file.\n"
            "\n"
            "Settings not given take the configuration dialog's defaults; the\n"
            "border and the shadow are drawn only when --border N (N > 0) or\n"
            "--shadow STYLE is given, and their other options only tune them.\n"
            "\nOptions:\n";
    for (const OptionRow& option : kOptions) {
        std::string left = "  ";
        if (option.shortName != nullptr) {
            left += std::string(option.shortName) + ", ";
        }
        left += option.name;
        if (option.valueName != nullptr) {
            left += std::string(" ") + option.valueName;
        }
        text << left;
        if (left.size() + 1 > kHelpColumn) {
            text << "\n" << std::string(kHelpColumn, ' ');
        } else {
            text << std::string(kHelpColumn - left.size(), ' ');
        }
        // Words wrapped to the terminal's customary width.
        std::istringstream words(option.help);
        std::size_t column = kHelpColumn;
        std::string word;
        bool first = true;
        while (words >> word) {
            if (!first && column + 1 + word.size() > kHelpWidth) {
                text << "\n" << std::string(kHelpColumn, ' ');
                column = kHelpColumn;
                first = true;
            }
            text << (first ? "" : " ") << word;
            column += (first ? 0 : 1) + word.size();
            first = false;
        }
        text << "\n";
    }
    text << "\nShadow styles:\n";
    for (int style = 0; style < kShadowStyleCount; ++style) {
        text << "  " << style << "  " << kShadowStyleNames[style].name;
        text << std::string(24 - std::strlen(kShadowStyleNames[style].name), ' ')
             << kShadowStyleNames[style].summary << "\n";
    }
    text << "\nExit status: 0 done, 1 the job failed, 2 bad command line,\n"
            "130/143 interrupted (nothing is left under the output name).\n";
    return text.str();
}
