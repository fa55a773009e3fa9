// The help, the manual page and the shell completions as the build wrote
// them: each names every option of the option table, and the tools that
// read them (groff, bash, zsh) accept them.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "apps/quillmere/cli/command_line.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

struct CommandOutput {
    int status = -1;
    std::string text;  // stdout and stderr together
};

CommandOutput RunShell(const std::string& command) {
    CommandOutput output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((command + " 2>&1").c_str(), "r"),
                                               &pclose);
    if (!pipe) {
        return output;
    }
    char buffer[4096];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) {
        output.text.append(buffer, count);
    }
    output.status = pclose(pipe.release());
    return output;
}

// Every spelling of every option: "-o", "--output", "--mask", ...
std::vector<std::string> AllSpellings() {
    std::vector<std::string> names;
    for (const OptionDoc& option : OptionDocs()) {
        if (!option.shortName.empty()) {
            names.push_back(option.shortName);
        }
        names.push_back(option.name);
    }
    return names;
}

TEST(Documentation, TheTableHasTheOptionsEveryRunnerHas) {
    std::set<std::string> names;
    for (const std::string& name : AllSpellings()) {
        EXPECT_TRUE(names.insert(name).second) << name << " twice";
    }
    for (const char* name : {"--help", "-h", "--version", "-o", "-y", "-n", "-q", "--progress"}) {
        EXPECT_EQ(names.count(name), 1u) << name;
    }
}

TEST(Documentation, HelpListsEveryOptionAndExplainsTheHostScript) {
    // Wrapped lines joined again: a sentence may span a line break.
    std::string help;
    std::istringstream words(HelpText());
    for (std::string word; words >> word;) {
        help += word + " ";
    }
    for (const std::string& name : AllSpellings()) {
        EXPECT_TRUE(help.find(name + " ") != std::string::npos ||
                    help.find(name + ",") != std::string::npos)
            << name;
    }
    EXPECT_NE(help.find("A host script is the plug-in host's processing script"),
              std::string::npos);
    EXPECT_NE(help.find("settings dialog in the plug-in host"), std::string::npos);
}

TEST(Documentation, ManPageListsEveryOptionAsGroffPrintsIt) {
    const std::string source = ReadFile(QUILLMERE_MAN_PAGE);
    ASSERT_FALSE(source.empty());
    // In the source a hyphen is written \-, and option names are bold.
    for (const std::string& name : AllSpellings()) {
        std::string escaped;
        for (char c : name) {
            escaped += c == '-' ? std::string("\\-") : std::string(1, c);
        }
        EXPECT_NE(source.find("\\fB" + escaped + "\\fR"), std::string::npos) << name;
    }
    // As printed: groff without warnings, every option in the text.
    const CommandOutput warnings =
        RunShell(std::string("groff -man -ww -z '") + QUILLMERE_MAN_PAGE + "'");
    EXPECT_EQ(warnings.status, 0);
    EXPECT_EQ(warnings.text, "");
    const CommandOutput printed = RunShell(
        std::string("groff -man -Tascii -P-c -P-b -P-u '") + QUILLMERE_MAN_PAGE + "'");
    ASSERT_EQ(printed.status, 0) << printed.text;
    for (const std::string& name : AllSpellings()) {
        EXPECT_NE(printed.text.find(name), std::string::npos) << name;
    }
    EXPECT_NE(printed.text.find("quillmere " QUILLMERE_VERSION), std::string::npos);
}

// What bash's completion offers for the words typed so far (the last one
// being completed).
std::set<std::string> BashOffers(const std::vector<std::string>& words) {
    std::string array;
    for (const std::string& word : words) {
        array += " '" + word + "'";
    }
    const CommandOutput output = RunShell(
        std::string("bash --norc --noprofile -c \"source '") + QUILLMERE_BASH_COMPLETION +
        "'; COMP_WORDS=(" + array + "); COMP_CWORD=" + std::to_string(words.size() - 1) +
        "; _quillmere; printf '%s\\n' \\\"\\${COMPREPLY[@]}\\\"\"");
    std::set<std::string> offers;
    std::istringstream lines(output.text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) {
            offers.insert(line);
        }
    }
    return offers;
}

TEST(Documentation, BashCompletesEveryOptionOfEachCommand) {
    for (const CommandDoc& command : CommandDocs()) {
        std::set<std::string> expected;
        for (const OptionDoc& option : OptionDocs()) {
            for (const std::string& name : option.commands) {
                if (name == command.name) {
                    expected.insert(option.name);
                    if (!option.shortName.empty()) {
                        expected.insert(option.shortName);
                    }
                }
            }
        }
        EXPECT_EQ(BashOffers({"quillmere", command.name, "-"}), expected) << command.name;
    }
}

struct BashCase {
    const char* name;
    std::vector<std::string> words;
    std::set<std::string> offers;
};

void PrintTo(const BashCase& test, std::ostream* out) { *out << test.name; }

class BashCompletion : public testing::TestWithParam<BashCase> {};

TEST_P(BashCompletion, Offers) {
    EXPECT_EQ(BashOffers(GetParam().words), GetParam().offers);
}

INSTANTIATE_TEST_SUITE_P(
    Values, BashCompletion,
    testing::Values(
        BashCase{"Commands", {"quillmere", ""},
                 {"render", "frame", "demo", "edit", "place", "segments", "join", "--help",
                  "-h", "--version"}},
        BashCase{"ShadowStyles", {"quillmere", "render", "--shadow", "gradient-"},
                 {"gradient-random", "gradient-random-fixed", "gradient-fixed"}},
        BashCase{"ColourNames", {"quillmere", "render", "--border-color", "rebecca"},
                 {"rebeccapurple"}},
        BashCase{"ColourNamesInCapitals", {"quillmere", "frame", "--shadow-color", "LightSlate"},
                 {"lightslategray", "lightslategrey"}},
        BashCase{"Codecs", {"quillmere", "render", "--codec", "libx26"},
                 {"libx264", "libx264rgb", "libx265"}},
        BashCase{"Presets", {"quillmere", "render", "--preset", "very"},
                 {"veryfast", "veryslow"}},
        BashCase{"NothingForANumber", {"quillmere", "render", "--border", ""}, {}},
        BashCase{"ShadowOptions", {"quillmere", "render", "--shadow-"},
                 {"--shadow-size", "--shadow-percent", "--shadow-shift", "--shadow-color"}}),
    [](const testing::TestParamInfo<BashCase>& info) { return info.param.name; });

// The options zsh's completion hands to _arguments for a command: the
// script runs with _arguments replaced by a stand-in that prints its option entries.
std::set<std::string> ZshOptionsFor(const std::string& command) {
    const CommandOutput output = RunShell(
        "zsh -f -c '_arguments() { print -rl -- \"$@\" }; words=(quillmere " + command +
        " -); CURRENT=3; source " + QUILLMERE_ZSH_COMPLETION + "'");
    std::set<std::string> options;
    std::istringstream lines(output.text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t bracket = line.find('[');
        if (line.rfind("-", 0) == 0 && bracket != std::string::npos) {
            options.insert(line.substr(0, bracket));
        }
    }
    return options;
}

TEST(Documentation, ZshCompletesEveryOptionOfEachCommand) {
    const std::string script = ReadFile(QUILLMERE_ZSH_COMPLETION);
    EXPECT_EQ(script.rfind("#compdef quillmere\n", 0), 0u);
    const CommandOutput syntax =
        RunShell(std::string("zsh -n '") + QUILLMERE_ZSH_COMPLETION + "'");
    EXPECT_EQ(syntax.status, 0) << syntax.text;
    for (const CommandDoc& command : CommandDocs()) {
        std::set<std::string> expected;
        for (const OptionDoc& option : OptionDocs()) {
            for (const std::string& name : option.commands) {
                if (name == command.name) {
                    expected.insert(option.name);
                    if (!option.shortName.empty()) {
                        expected.insert(option.shortName);
                    }
                }
            }
        }
        EXPECT_EQ(ZshOptionsFor(command.name), expected) << command.name;
    }
}

}  // namespace
