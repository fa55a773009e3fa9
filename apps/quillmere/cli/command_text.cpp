#include "apps/quillmere/cli/command_text.h"

#include <cstdio>

#include "apps/quillmere/cli/filter_settings.h"
#include "apps/quillmere/cli/placement_text.h"
#include "apps/quillmere/cli/shell_words.h"
#include "apps/quillmere/plan/planning.h"
#include "filter/filter_procedures.h"
#include "host/filter_interface.h"
#include "render/drop_shadow.h"

namespace {

using Words = std::vector<std::string>;

std::string ColorWord(COLORREF color) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x%02x%02x", static_cast<unsigned>(color & 0xFF),
                  static_cast<unsigned>((color >> 8) & 0xFF),
                  static_cast<unsigned>((color >> 16) & 0xFF));
    return text;
}

// A path that begins with '-' would read as an option.
std::string AsOperand(const std::string& path) {
    return path.size() > 1 && path[0] == '-' ? "./" + path : path;
}

void Add(Words& words, const char* option, const std::string& value) {
    words.emplace_back(option);
    words.push_back(value);
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
const FlagOption kShadowNumberOptions[] = {
    {"--shadow-size", &FilterData::shadowSize},
    {"--shadow-percent", &FilterData::shadowPercent},
    {"--shadow-shift", &FilterData::shadowShift},
};

void AddMask(const CommandLine& line, Words& words) {
    const FilterData& filter = line.settings;
    if (!PlacesOverlay(line)) {
        Add(words, "--mask",
            std::to_string(filter.maskLeft) + "," + std::to_string(filter.maskTop) + "," +
                std::to_string(filter.maskRight) + "," + std::to_string(filter.maskBottom));
        if (filter.fitToFrame != 0) {
            words.emplace_back("--fit");
        }
        return;
    }
    // A placement stretches to fit of itself.
    const PlacementRequest& placement = line.placement;
    if (placement.anchor) {
        Add(words, "--position", kAnchorNames[static_cast<int>(*placement.anchor)]);
    }
    if (placement.margin) {
        Add(words, "--margin", PlacementLengthText(*placement.margin));
    }
    if (placement.width || placement.height) {
        Add(words, "--size", PlacementSizeText(placement));
    }
}

void AddLook(const CommandLine& line, Words& words) {
    const FilterData& filter = line.settings;
    const FilterData defaults = DialogDefaultSettings();
    if (line.scaler != OverlayScaler::Filter || filter.bilinear != 0) {
        Add(words, "--scaler", ScalerName(line.scaler, filter.bilinear != 0));
    }
    if (line.alpha != CommandLine().alpha) {
        Add(words, "--alpha", AlphaName(line.alpha));
    }
    if (line.opacityPercent != CommandLine().opacityPercent) {
        Add(words, "--opacity", std::to_string(line.opacityPercent));
    }
    if (filter.borderOn != 0 && filter.borderSize > 0) {
        Add(words, "--border", std::to_string(filter.borderSize));
        if (filter.borderColor != defaults.borderColor) {
            Add(words, "--border-color", ColorWord(filter.borderColor));
        }
    }
    if (filter.shadowOn != 0) {
        Add(words, "--shadow",
            filter.shadowType >= 0 && filter.shadowType < kShadowStyleCount
                ? kShadowStyleNames[filter.shadowType].name
                : std::to_string(filter.shadowType));
        for (const FlagOption& row : kShadowNumberOptions) {
            if (filter.*row.member != defaults.*row.member) {
                Add(words, row.option, std::to_string(filter.*row.member));
            }
        }
        if (filter.shadowColor != defaults.shadowColor) {
            Add(words, "--shadow-color", ColorWord(filter.shadowColor));
        }
    }
}

void AddFrames(const CommandLine& line, Words& words) {
    const FilterData& filter = line.settings;
    if (filter.useFrameRange != 0) {
        Add(words, "--range",
            std::to_string(filter.rangeStart) +
                (filter.rangeEnd != 0 ? "-" + std::to_string(filter.rangeEnd) : ""));
    }
    if (filter.frameOffset != 0) {
        Add(words, "--offset", std::to_string(filter.frameOffset));
    }
    if (line.times.fadeIn) {
        Add(words, "--fade-in", line.times.fadeIn->Text());
    }
    if (line.times.fadeOut) {
        Add(words, "--fade-out", line.times.fadeOut->Text());
    }
    if (line.timing != CommandLine().timing) {
        Add(words, "--overlay-timing", TimingName(line.timing));
    }
    for (const FlagOption& flag : kFlagOptions) {
        if (filter.*flag.member != 0) {
            words.emplace_back(flag.option);
        }
    }
    if (line.seed) {
        Add(words, "--seed", std::to_string(*line.seed));
    }
}

void AddInputsAndOutput(const CommandLine& line, Words& words) {
    const CommandLine defaults;
    if (line.videoStream != defaults.videoStream) {
        Add(words, "--video-stream", std::to_string(line.videoStream));
    }
    if (line.overlayStream != defaults.overlayStream) {
        Add(words, "--overlay-stream", std::to_string(line.overlayStream));
    }
    if (line.pictureLimit.maxPixels != defaults.pictureLimit.maxPixels ||
        line.pictureLimit.maxSide != defaults.pictureLimit.maxSide) {
        Add(words, "--max-pixels", std::to_string(line.pictureLimit.maxPixels));
    }
    if (line.keepRotation) {
        words.emplace_back("--keep-rotation");
    }
    if (line.strict) {
        words.emplace_back("--strict");
    }
    if (line.filterPixels) {
        words.emplace_back("--rgb-output");
    }
    if (!line.format.empty()) {
        Add(words, "--format", line.format);
    }
    if (line.noAudio) {
        words.emplace_back("--no-audio");
    }
    if (line.noSubtitles) {
        words.emplace_back("--no-subtitles");
    }
    const EncoderRequest& encoding = line.encoding;
    if (!encoding.codec.empty()) {
        Add(words, "--codec", encoding.codec);
    }
    if (!encoding.crf.empty()) {
        Add(words, "--crf", encoding.crf);
    }
    if (!encoding.preset.empty()) {
        Add(words, "--preset", encoding.preset);
    }
    if (encoding.threads != defaults.encoding.threads) {
        Add(words, "--threads", std::to_string(encoding.threads));
    }
    for (const auto& [key, value] : encoding.options) {
        Add(words, "--encoder-option", key + "=" + value);
    }
    for (const auto& [key, value] : line.muxing.options) {
        Add(words, "--muxer-option", key + "=" + value);
    }
    if (!line.muxing.videoTag.empty()) {
        Add(words, "--tag", line.muxing.videoTag);
    }
    if (!line.audioCodec.empty()) {
        Add(words, "--audio-codec", line.audioCodec);
    }
    if (line.audioBitRate != defaults.audioBitRate) {
        Add(words, "--audio-bitrate", std::to_string(line.audioBitRate));
    }
}

// Characters that a POSIX shell takes literally in a word.
bool IsPlainWordCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string("_./:=,%+-@").find(c) != std::string::npos;
}

}  // namespace

std::vector<std::string> RenderCommandWords(const CommandLine& line) {
    Words words = {"quillmere", "render", AsOperand(line.input), "-o", AsOperand(line.output)};
    if (!line.overlayPath.empty()) {
        Add(words, "--overlay", line.overlayPath);
    }
    AddMask(line, words);
    AddLook(line, words);
    AddFrames(line, words);
    AddInputsAndOutput(line, words);
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
