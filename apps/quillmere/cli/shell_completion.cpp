#include "apps/quillmere/cli/shell_completion.h"

#include <sstream>
#include <vector>

#include "apps/quillmere/cli/command_line.h"
#include "apps/quillmere/cli/css_colors.h"
#include "apps/quillmere/cli/filter_settings.h"
#include "apps/quillmere/cli/shell_words.h"
#include "apps/quillmere/media/audio_encoder_choice.h"
#include "render/drop_shadow.h"

namespace {

enum class ValueKind { None, File, Directory, ShadowStyle, Color, Codec, AudioCodec, Preset };

// What an option's value is, by the name its row gives the value.
struct ValueNameKind {
    const char* valueName;
    ValueKind kind;
};
const ValueNameKind kValueKinds[] = {
    {"FILE", ValueKind::File},
    {"PATH", ValueKind::File},
    {"DIR", ValueKind::Directory},
    {"STYLE", ValueKind::ShadowStyle},
    {"COLOR", ValueKind::Color},
    {"CODEC", ValueKind::Codec},
    {"AUDIO_CODEC", ValueKind::AudioCodec},
    {"PRESET", ValueKind::Preset},
};

std::string Joined(const std::vector<std::string>& words) {
    std::string joined;
    for (const std::string& word : words) {
        joined += (joined.empty() ? "" : " ") + word;
    }
    return joined;
}

ValueKind KindOf(const OptionDoc& option) {
    for (const ValueNameKind& row : kValueKinds) {
        if (option.valueName == row.valueName) {
            return row.kind;
        }
    }
    return ValueKind::None;
}

std::string ShadowStyleWords() {
    std::string words;
    for (int style = 0; style < kShadowStyleCount; ++style) {
        words += std::string(words.empty() ? "" : " ") + kShadowStyleNames[style].name;
    }
    for (int style = 0; style < kShadowStyleCount; ++style) {
        words += " " + std::to_string(style);
    }
    return words;
}

std::string ColorWords() {
    std::string words;
    for (std::size_t index = 0; index < kCssColorCount; ++index) {
        words += std::string(words.empty() ? "" : " ") + kCssColors[index].name;
    }
    return words;
}

// The names an option goes by: "-o --output" or "--mask".
std::vector<std::string> Spellings(const OptionDoc& option) {
    std::vector<std::string> names;
    if (!option.shortName.empty()) {
        names.push_back(option.shortName);
    }
    names.push_back(option.name);
    return names;
}

bool AppliesTo(const OptionDoc& option, const std::string& command) {
    for (const std::string& name : option.commands) {
        if (name == command) {
            return true;
        }
    }
    return false;
}

// Text inside the [description] of a zsh _arguments option entry.
std::string ZshDescription(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '[' || c == ']' || c == '\\') {
            escaped += '\\';
        }
        escaped += c;
    }
    return SingleQuotedText(escaped);
}

}  // namespace

std::string BashCompletion() {
    const std::vector<OptionDoc> options = OptionDocs();
    const std::vector<CommandDoc> commands = CommandDocs();
    std::ostringstream script;
    script << "# bash completion for quillmere\n"
              "# Made by the build from the runner's option table.\n"
              "_quillmere()\n"
              "{\n"
              "    local cur=${COMP_WORDS[COMP_CWORD]} prev=\n"
              "    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD-1]}\n"
              "    COMPREPLY=()\n"
              "    case $prev in\n";
    // Options whose value is completed, or deliberately not (free text).
    for (const OptionDoc& option : options) {
        if (option.valueName.empty()) {
            continue;
        }
        std::string pattern;
        for (const std::string& name : Spellings(option)) {
            pattern += (pattern.empty() ? "" : "|") + name;
        }
        script << "        " << pattern << ")\n            ";
        switch (KindOf(option)) {
        case ValueKind::File:
            script << "COMPREPLY=($(compgen -f -- \"$cur\"))";
            break;
        case ValueKind::Directory:
            script << "COMPREPLY=($(compgen -d -- \"$cur\"))";
            break;
        case ValueKind::ShadowStyle:
            script << "COMPREPLY=($(compgen -W '" << ShadowStyleWords() << "' -- \"$cur\"))";
            break;
        case ValueKind::Color:
            script << "COMPREPLY=($(compgen -W '" << ColorWords() << "' -- \"${cur,,}\"))";
            break;
        case ValueKind::Codec:
            script << "COMPREPLY=($(compgen -W '" << Joined(AllCodecNames()) << "' -- \"$cur\"))";
            break;
        case ValueKind::AudioCodec:
            script << "COMPREPLY=($(compgen -W '" << Joined(AllAudioCodecNames())
                   << "' -- \"$cur\"))";
            break;
        case ValueKind::Preset:
            script << "COMPREPLY=($(compgen -W '" << Joined(X264FamilyPresetNames())
                   << "' -- \"$cur\"))";
            break;
        case ValueKind::None:
            script << ":";
            break;
        }
        script << "\n            return ;;\n";
    }
    script << "    esac\n"
              "    if ((COMP_CWORD == 1)); then\n"
              "        COMPREPLY=($(compgen -W '";
    std::string first;
    for (const CommandDoc& command : commands) {
        first += (first.empty() ? "" : " ") + command.name;
    }
    for (const OptionDoc& option : options) {
        if (option.standalone) {
            for (const std::string& name : Spellings(option)) {
                first += " " + name;
            }
        }
    }
    script << first << "' -- \"$cur\"))\n"
              "        return\n"
              "    fi\n"
              "    local options\n"
              "    case ${COMP_WORDS[1]} in\n";
    for (const CommandDoc& command : commands) {
        std::string words;
        for (const OptionDoc& option : options) {
            if (AppliesTo(option, command.name)) {
                for (const std::string& name : Spellings(option)) {
                    words += (words.empty() ? "" : " ") + name;
                }
            }
        }
        script << "        " << command.name << ") options='" << words << "' ;;\n";
    }
    script << "        *) return ;;\n"
              "    esac\n"
              "    if [[ $cur == -* ]]; then\n"
              "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
              "    else\n"
              "        COMPREPLY=($(compgen -f -- \"$cur\"))\n"
              "    fi\n"
              "}\n"
              "complete -o filenames -F _quillmere quillmere\n";
    return script.str();
}

std::string ZshCompletion() {
    const std::vector<OptionDoc> options = OptionDocs();
    const std::vector<CommandDoc> commands = CommandDocs();
    std::ostringstream script;
    script << "#compdef quillmere\n"
              "# zsh completion for quillmere, made by the build from the runner's option "
              "table.\n"
              "\n"
              "_quillmere() {\n"
              "  local -a commands\n"
              "  commands=(\n";
    for (const CommandDoc& command : commands) {
        script << "    '" << command.name << ":" << SingleQuotedText(command.summary) << "'\n";
    }
    script << "  )\n"
              "  if (( CURRENT == 2 )); then\n"
              "    _describe -t commands 'quillmere command' commands\n"
              "    _arguments";
    for (const OptionDoc& option : options) {
        if (option.standalone) {
            for (const std::string& name : Spellings(option)) {
                script << " '" << name << "[" << ZshDescription(option.help) << "]'";
            }
        }
    }
    script << "\n"
              "    return\n"
              "  fi\n"
              "  local command=${words[2]}\n"
              "  # From here on the command is the word being completed for.\n"
              "  shift words\n"
              "  (( CURRENT-- ))\n"
              "  case $command in\n";
    for (const CommandDoc& command : commands) {
        script << "    " << command.name << ")\n      _arguments -s -S";
        for (const OptionDoc& option : options) {
            if (!AppliesTo(option, command.name)) {
                continue;
            }
            std::string action;
            if (!option.valueName.empty()) {
                action = ":" + SingleQuotedText(option.valueName) + ":";
                switch (KindOf(option)) {
                case ValueKind::File:
                    action += "_files";
                    break;
                case ValueKind::Directory:
                    action += "_files -/";
                    break;
                case ValueKind::ShadowStyle:
                    action += "(" + ShadowStyleWords() + ")";
                    break;
                case ValueKind::Color:
                    action += "(" + ColorWords() + ")";
                    break;
                case ValueKind::Codec:
                    action += "(" + Joined(AllCodecNames()) + ")";
                    break;
                case ValueKind::AudioCodec:
                    action += "(" + Joined(AllAudioCodecNames()) + ")";
                    break;
                case ValueKind::Preset:
                    action += "(" + Joined(X264FamilyPresetNames()) + ")";
                    break;
                case ValueKind::None:
                    action += " ";
                    break;
                }
            }
            for (const std::string& name : Spellings(option)) {
                script << " \\\n        '" << name << "[" << ZshDescription(option.help) << "]"
                       << action << "'";
            }
        }
        if (command.synopsis.rfind("MAIN", 0) == 0) {
            script << " \\\n        '1:MAIN:_files'";
        }
        script << " ;;\n";
    }
    script << "  esac\n"
              "}\n"
              "\n"
              "_quillmere \"$@\"\n";
    return script.str();
}
