// The runner's command line read into a request: its commands and its
// options (one table), and the documentation made from that table.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "apps/quillmere/plan/request.h"

// Throws UsageError for anything it cannot use.
CommandLine ParseCommandLine(int argc, const char* const* argv);
// The same, with the options laid over `base` (what a settings file gave)
// instead of over the defaults.
CommandLine ParseCommandLine(int argc, const char* const* argv, const CommandLine& base);

// Applies `value` as the option named `option` ("--shadow-size") would, for
// settings that come from elsewhere than the command line (a settings
// file); `shownAs` names the setting in messages. Throws UsageError.
void ApplyOptionValue(CommandLine& line, const std::string& option, const std::string& value,
                      const std::string& shownAs);

// The options that give `line`'s settings and render options, as a render
// command line spells them, in the table's order; values left at their
// defaults give no words.
void AddOptionWords(const CommandLine& line, std::vector<std::string>& words);

// Where settings come from: a file may name the overlay; the page may not.
enum class SettingsOrigin { File, Page };

// Each setting of a settings file is an option's (or stands alone) in the
// option table, under its name there ("border.size": "size" in the object
// "border"). Whether `name` is such an object.
bool IsSettingGroup(const std::string& name);
// Applies the file's `value` of the setting `name` to `line`, through its
// option's parser and limits. Throws UsageError for an unknown name or a bad
// value. A relative overlay path starts at `folder` ("" or ending in '/').
void ApplySetting(const std::string& name, const nlohmann::ordered_json& value,
                  SettingsOrigin origin, const std::string& folder, CommandLine& line);
// Every setting's name in a settings file, in the table's order.
std::vector<std::string> SettingNames();
// Every setting as the page's controls take it, in the table's order:
// {"name", "kind": flag, integer, text, choice, color, corners or path},
// with "minimum" and "maximum" for an integer and "choices" for a choice.
nlohmann::ordered_json SettingFields();
// Adds every setting's value in `line` to `document`, in the table's order.
void AddSettings(const CommandLine& line, nlohmann::ordered_json& document);

// The names --overlay-timing, --alpha and --scaler take for each value.
const char* TimingName(OverlayTiming timing);
const char* OverlayTransferName(OverlayTransfer transfer);
const char* AlphaName(AlphaMode alpha);
// nearest or bilinear for the filter's own stretch, by `bilinear`.
const char* ScalerName(OverlayScaler scaler, bool bilinear);
// Every name an option of a fixed list takes (those three, --position and
// --shadow), in its table's order.
std::vector<std::string> ChoiceNames(const std::string& option);

// The text of `quillmere --help`, generated from the option table.
std::string HelpText();

// The commands and options as documentation shows them: the help, the
// manual page and the shell completions all come from the one table.
struct CommandDoc {
    std::string name;      // render
    std::string synopsis;  // MAIN -o OUT [options]
    std::string summary;
};
struct OptionDoc {
    std::string name;       // --mask
    std::string shortName;  // -o, or empty
    std::string valueName;  // L,T,R,B; empty for a flag
    std::string help;
    std::vector<std::string> commands;  // the commands it applies to
    bool standalone = false;            // also in place of a command (--help)
};
struct ExitStatusDoc {
    const char* code;
    const char* meaning;
};
std::vector<CommandDoc> CommandDocs();
std::vector<OptionDoc> OptionDocs();
// What the runner does, paragraph by paragraph.
std::vector<std::string> DescriptionParagraphs();
std::vector<ExitStatusDoc> ExitStatusDocs();

