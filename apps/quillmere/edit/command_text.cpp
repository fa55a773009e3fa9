#include "apps/quillmere/edit/command_text.h"

#include <cstdio>

#include "apps/quillmere/edit/placement_text.h"
#include "filter/filter_procedures.h"
#include "host/filter_interface.h"
#include "render/drop_shadow.h"

namespace {

std::string ColorWord(COLORREF color) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x%02x%02x", static_cast<unsigned>(color & 0xFF),
                  static_cast<unsigned>((color >> 8) & 0xFF),
                  static_cast<unsigned>((color >> 16) & 0xFF));
    return text;
}

// Flags that the command line turns on by name.
struct FlagOption {
    const char* option;
    std::int32_t FilterData::*member;
};
const FlagOption kFlagOptions[] = {
    {"--repeat", &FilterData::repeatVideo},
    {"--reverse", &FilterData::reverse},
    {"--maintain-black", &FilterData::maintainBlack},
};

// Shadow settings given only where they differ from the defaults.
struct ShadowNumberOption {
    const char* option;
    std::int32_t FilterData::*member;
};
const ShadowNumberOption kShadowNumberOptions[] = {
    {"--shadow-size", &FilterData::shadowSize},
    {"--shadow-percent", &FilterData::shadowPercent},
    {"--shadow-shift", &FilterData::shadowShift},
};

const char* const kScalerOptionNames[] = {"", "area", "bicubic", "lanczos"};
const char* const kAlphaOptionNames[] = {"straight", "premultiplied", "ignore"};

void AddMask(const EditSettings& settings, std::vector<std::string>& words) {
    const FilterData& filter = settings.filter;
    if (!settings.placement) {
        words.push_back("--mask");
        words.push_back(std::to_string(filter.maskLeft) + "," + std::to_string(filter.maskTop) +
                        "," + std::to_string(filter.maskRight) + "," +
                        std::to_string(filter.maskBottom));
        if (filter.fitToFrame != 0) {
            words.push_back("--fit");
        }
        return;
    }
    // A placement stretches to fit of itself.
    const PlacementRequest& placement = *settings.placement;
    if (placement.anchor) {
        words.push_back("--position");
        words.push_back(kAnchorNames[static_cast<int>(*placement.anchor)]);
    }
    if (placement.margin) {
        words.push_back("--margin");
        words.push_back(PlacementLengthText(*placement.margin));
    }
    if (placement.width || placement.height) {
        words.push_back("--size");
        words.push_back(PlacementSizeText(placement));
    }
}

void AddBorderAndShadow(const FilterData& filter, std::vector<std::string>& words) {
    const FilterData defaults = DialogDefaultSettings();
    if (filter.borderOn != 0 && filter.borderSize > 0) {
        words.push_back("--border");
        words.push_back(std::to_string(filter.borderSize));
        if (filter.borderColor != defaults.borderColor) {
            words.push_back("--border-color");
            words.push_back(ColorWord(filter.borderColor));
        }
    }
    if (filter.shadowOn != 0) {
        words.push_back("--shadow");
        words.push_back(filter.shadowType >= 0 && filter.shadowType < kShadowStyleCount
                            ? kShadowStyleNames[filter.shadowType].name
                            : std::to_string(filter.shadowType));
        for (const ShadowNumberOption& row : kShadowNumberOptions) {
            if (filter.*row.member != defaults.*row.member) {
                words.push_back(row.option);
                words.push_back(std::to_string(filter.*row.member));
            }
        }
        if (filter.shadowColor != defaults.shadowColor) {
            words.push_back("--shadow-color");
            words.push_back(ColorWord(filter.shadowColor));
        }
    }
}

// Characters that a POSIX shell takes literally in a word.
bool IsPlainWordCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string("_./:=,%+-@").find(c) != std::string::npos;
}

// A path that begins with '-' would read as an option.
std::string AsOperand(const std::string& path) {
    return path.size() > 1 && path[0] == '-' ? "./" + path : path;
}

}  // namespace

std::vector<std::string> RenderCommandWords(const EditSettings& settings,
                                            const std::string& main, const std::string& output,
                                            const std::vector<std::string>& otherOptions) {
    const FilterData& filter = settings.filter;
    std::vector<std::string> words = {"quillmere", "render", AsOperand(main), "-o",
                                      AsOperand(output)};
    if (!settings.overlayPath.empty()) {
        words.push_back("--overlay");
        words.push_back(settings.overlayPath);
    }
    AddMask(settings, words);
    if (settings.scaler != OverlayScaler::Filter) {
        words.push_back("--scaler");
        words.push_back(kScalerOptionNames[static_cast<int>(settings.scaler)]);
    } else if (filter.bilinear != 0) {
        words.push_back("--bilinear");
    }
    if (settings.alpha != AlphaMode::Straight) {
        words.push_back("--alpha");
        words.push_back(kAlphaOptionNames[static_cast<int>(settings.alpha)]);
    }
    if (settings.opacityPercent != 100) {
        words.push_back("--opacity");
        words.push_back(std::to_string(settings.opacityPercent));
    }
    AddBorderAndShadow(filter, words);
    if (filter.useFrameRange != 0) {
        words.push_back("--range");
        words.push_back(std::to_string(filter.rangeStart) +
                        (filter.rangeEnd != 0 ? "-" + std::to_string(filter.rangeEnd) : ""));
    }
    if (filter.frameOffset != 0) {
        words.push_back("--offset");
        words.push_back(std::to_string(filter.frameOffset));
    }
    if (settings.timing == OverlayTiming::Frames) {
        words.push_back("--overlay-timing");
        words.push_back("frames");
    }
    for (const FlagOption& flag : kFlagOptions) {
        if (filter.*flag.member != 0) {
            words.push_back(flag.option);
        }
    }
    words.insert(words.end(), otherOptions.begin(), otherOptions.end());
    return words;
}

std::string ShellCommandLine(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) {
        line += line.empty() ? "" : " ";
        bool plain = !word.empty();
        for (char c : word) {
            plain = plain && IsPlainWordCharacter(c);
        }
        if (plain) {
            line += word;
            continue;
        }
        line += '\'';
        for (char c : word) {
            line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        line += '\'';
    }
    return line;
}

std::string ConfigLine(const FilterData& settings) {
    FilterData record = settings;
    FilterActivation activation{};
    activation.filter_data = &record;
    char line[kScriptLineMaxLength + 1];
    FssProc(&activation, nullptr, line, sizeof line);
    return line;
}
