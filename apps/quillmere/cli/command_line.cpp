#include "apps/quillmere/cli/command_line.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "apps/quillmere/cli/filter_settings.h"
#include "apps/quillmere/cli/placement_text.h"
#include "apps/quillmere/plan/planning.h"
#include "apps/quillmere/runner_error.h"
#include "apps/quillmere/media/container_table.h"
#include "apps/quillmere/media/video_reader.h"
#include "render/drop_shadow.h"
#include "hostkit/quoted_text.h"

namespace {

// Which commands an option belongs to.
enum CommandMask : unsigned {
    kRender = 1u << 0,
    kFrame = 1u << 1,
    kDemo = 1u << 2,
    kPlace = 1u << 3,
    kSegments = 1u << 5,
    kJoin = 1u << 6,
    kEdit = 1u << 7,
    kCompositing = kRender | kFrame | kEdit,
    kPlacing = kRender | kFrame | kPlace | kEdit,
    // What the render that edit starts takes.
    kEncoding = kRender | kEdit,
    kAll = kRender | kFrame | kDemo | kJoin | kEdit,
    kEveryCommand = kAll | kPlace | kSegments,
    // Also stands alone, in place of a command: quillmere --help.
    kStandalone = 1u << 4,
};

using ApplyOption = void (*)(CommandLine& line, const std::string& option,
                             const std::string& value);
// A settings file's value on its way to a request.
struct SettingTarget {
    std::string key;     // its name in the file, for messages
    const char* option;  // the option whose parser reads it, or null
    ApplyOption apply;
    std::int64_t minimum;  // an integer's limits
    std::int64_t maximum;
    SettingsOrigin origin;
    std::string folder;  // where a relative overlay path starts
};

// How a setting's value is spelt, for the page's controls.
enum class SettingKind { None, Flag, Integer, Text, Choice, Color, Corners, Path, Keys };
const char* const kSettingKindNames[] = {"", "flag", "integer", "text", "choice", "color",
                                         "corners", "path", "keys"};
using Words = std::vector<std::string>;
using Json = nlohmann::ordered_json;
// The value `line` gives the setting in a settings file; LeftOut() for none.
using ReadSetting = Json (*)(const CommandLine& line);
// Applies a settings file's value of the setting to `line`; throws UsageError.
using TakeSetting = void (*)(CommandLine& line, const Json& value, const SettingTarget& target);
// Adds the words that give `line`'s value of the option named `option` on a
// render command line, or none where the value is the default.
using WriteOption = void (*)(const CommandLine& line, const char* option, Words& words);

struct OptionRow {
    const char* name;
    const char* shortName;  // or null
    const char* valueName;  // null for a flag
    unsigned commands;
    const char* help;
    ApplyOption apply;
    WriteOption write = nullptr;  // null: a render command line written back never gives it
    // Its name in a settings file ("border.size"; a dot nests it in an
    // object), how the file's value is read from a request and how it is
    // applied to one; null for options that are no setting.
    const char* setting = nullptr;
    ReadSetting read = nullptr;
    TakeSetting take = nullptr;
    SettingKind kind = SettingKind::None;
    // An integer setting's limits; a choice's names come from ChoiceNames.
    std::int64_t minimum = 0;
    std::int64_t maximum = 0;
};

void AddWords(Words& words, const char* option, const std::string& value) {
    words.emplace_back(option);
    words.push_back(value);
}

void AddFlag(Words& words, const char* option, bool on) {
    if (on) {
        words.emplace_back(option);
    }
}

std::string ColorWord(COLORREF color) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x%02x%02x", static_cast<unsigned>(color & 0xFF),
                  static_cast<unsigned>((color >> 8) & 0xFF),
                  static_cast<unsigned>((color >> 16) & 0xFF));
    return text;
}

std::string ShadowStyleWord(int style) {
    return style >= 0 && style < kShadowStyleCount ? kShadowStyleNames[style].name
                                                   : std::to_string(style);
}

// The dialog may leave the border on at width 0, which draws nothing.
bool BorderDrawn(const CommandLine& line) {
    return line.settings.borderOn != 0 && line.settings.borderSize > 0;
}

// Only the random shadow styles draw from the generator; for any other
// look a seed changes no frame, and the command line leaves it out.
bool DrawsAtRandom(const CommandLine& line) {
    const ShadowStyle& style = ShadowStyleOf(line.settings.shadowType);
    return line.settings.shadowOn != 0 && style.gradient && style.randomVariation;
}

// A period in seconds: a plain decimal number, more than 0, at most an hour.
double ParseSeconds(const std::string& option, const std::string& text) {
    constexpr double kLongestPeriod = 3600;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !(value > 0) ||
        value > kLongestPeriod || std::isspace(static_cast<unsigned char>(text[0])) != 0) {
        throw UsageError("invalid value " + Quoted(text) + " for " + option +
                         ": expected seconds, more than 0 and at most 3600");
    }
    return value;
}

void SetOverwrite(CommandLine& line, OverwritePolicy policy) {
    if (line.overwrite != OverwritePolicy::Ask && line.overwrite != policy) {
        throw UsageError("-y and -n contradict each other; give one of them");
    }
    line.overwrite = policy;
}

constexpr std::size_t kHelpColumn = 28;
constexpr std::size_t kHelpWidth = 79;

constexpr std::int64_t kInt32Min = INT32_MIN;
constexpr std::int64_t kInt32Max = INT32_MAX;
constexpr std::int64_t kUint32Max = UINT32_MAX;
constexpr std::int64_t kPercentMax = 100;
// Corner tables hold the square of the radius; a radius past this is no
// corner any picture shows.
constexpr std::int64_t kLargestCornerRadius = 2048;
// More encoder threads than any encoder here makes use of.
constexpr std::int64_t kMaxEncoderThreads = 1024;
// More filter threads than frames a pipeline could hold for them.
constexpr std::int64_t kMaxFilterThreads = 64;
constexpr std::int64_t kMaxStreamNumber = 1 << 16;
constexpr std::int64_t kMaxPort = 65535;

// A bitrate in bits per second, as encoders are told it: 128k, 1.5M, 96000.
std::int64_t ParseBitRate(const std::string& option, const std::string& text) {
    constexpr double kLowest = 1000;
    constexpr double kHighest = 100e6;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    const std::string suffix = end != nullptr ? std::string(end) : "";
    if (suffix == "k" || suffix == "K") {
        value *= 1e3;
    } else if (suffix == "M") {
        value *= 1e6;
    } else if (!suffix.empty()) {
        value = -1;
    }
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) != 0 ||
        !(value >= kLowest) || value > kHighest) {
        throw UsageError("invalid value " + Quoted(text) + " for " + option +
                         ": expected bits per second from 1k to 100M (128k, 1.5M, 96000)");
    }
    return static_cast<std::int64_t>(value + 0.5);
}

std::pair<std::string, std::string> ParseKeyValue(const std::string& option,
                                                  const std::string& text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0) {
        throw UsageError("invalid value " + Quoted(text) + " for " + option +
                         ": expected KEY=VALUE");
    }
    return {text.substr(0, equals), text.substr(equals + 1)};
}

// A value that holds any of these is a time, not a frame number.
bool LooksLikeTime(const std::string& value) {
    return value.find_first_of(":.s") != std::string::npos;
}

struct NamedChoice {
    const char* name;
    int value;
};

template <std::size_t Count>
int ParseChoice(const std::string& option, const std::string& text,
                const NamedChoice (&choices)[Count]) {
    std::string names;
    for (const NamedChoice& choice : choices) {
        if (text == choice.name) {
            return choice.value;
        }
        names += names.empty() ? "" : ", ";
        names += choice.name;
    }
    throw UsageError("invalid value " + Quoted(text) + " for " + option + ": expected one of " +
                     names);
}

template <std::size_t Count>
const char* NameOf(int value, const NamedChoice (&choices)[Count]) {
    for (const NamedChoice& choice : choices) {
        if (choice.value == value) {
            return choice.name;
        }
    }
    return choices[0].name;
}

const NamedChoice kTimingChoices[] = {
    {"time", static_cast<int>(OverlayTiming::ByTime)},
    {"frames", static_cast<int>(OverlayTiming::Frames)},
};
const NamedChoice kOverlayAudioChoices[] = {
    {"off", static_cast<int>(OverlayAudio::Off)},
    {"mix", static_cast<int>(OverlayAudio::Mix)},
};
const NamedChoice kAlphaChoices[] = {
    {"straight", static_cast<int>(AlphaMode::Straight)},
    {"premultiplied", static_cast<int>(AlphaMode::Premultiplied)},
    {"ignore", static_cast<int>(AlphaMode::Ignore)},
};
const NamedChoice kOverlayTransferChoices[] = {
    {"convert", static_cast<int>(OverlayTransfer::Convert)},
    {"keep", static_cast<int>(OverlayTransfer::Keep)},
};
// nearest and bilinear are the filter's own stretches; the others scale
// beforehand. The value -1 and -2 stand for the two stretches.
constexpr int kNearestStretch = -1;
constexpr int kBilinearStretch = -2;
const NamedChoice kScalerChoices[] = {
    {"nearest", kNearestStretch},
    {"bilinear", kBilinearStretch},
    {FilteredScalerName(OverlayScaler::Area), static_cast<int>(OverlayScaler::Area)},
    {FilteredScalerName(OverlayScaler::Bicubic), static_cast<int>(OverlayScaler::Bicubic)},
    {FilteredScalerName(OverlayScaler::Lanczos), static_cast<int>(OverlayScaler::Lanczos)},
};

// A settings file's values, checked with the same limits as the options.

[[noreturn]] void Refuse(const std::string& name, const std::string& expected) {
    throw UsageError(name + " must be " + expected);
}

bool ReadFlag(const Json& value, const std::string& name) {
    if (!value.is_boolean()) {
        Refuse(name, "true or false");
    }
    return value.get<bool>();
}

std::int64_t ReadInteger(const Json& value, const std::string& name, std::int64_t minimum,
                         std::int64_t maximum) {
    const std::string expected =
        "an integer from " + std::to_string(minimum) + " to " + std::to_string(maximum);
    if (!value.is_number_integer()) {
        Refuse(name, expected);
    }
    // Unsigned values past the signed range would wrap when read as signed.
    if (value.is_number_unsigned() &&
        value.get<std::uint64_t>() > static_cast<std::uint64_t>(maximum)) {
        Refuse(name, expected);
    }
    const std::int64_t number = value.get<std::int64_t>();
    if (number < minimum || number > maximum) {
        Refuse(name, expected);
    }
    return number;
}

// Any JSON integer as decimal text, for an option's own parser to judge.
std::string IntegerText(const Json& value, const std::string& name) {
    if (!value.is_number_integer()) {
        Refuse(name, "an integer");
    }
    return value.is_number_unsigned() ? std::to_string(value.get<std::uint64_t>())
                                      : std::to_string(value.get<std::int64_t>());
}

std::string ReadText(const Json& value, const std::string& name, const std::string& expected) {
    if (!value.is_string()) {
        Refuse(name, expected);
    }
    return value.get<std::string>();
}

std::string ColorText(COLORREF color) {
    return "#" + ColorWord(color);
}

// What a row's reader gives for a setting the file leaves out.
Json LeftOut() { return Json(Json::value_t::discarded); }

// An integer or a text setting that is exactly what its option takes: the
// option's parser reads it.
void TakeInteger(CommandLine& line, const Json& value, const SettingTarget& target) {
    target.apply(line, target.key, IntegerText(value, target.key));
}

void TakeText(CommandLine& line, const Json& value, const SettingTarget& target) {
    target.apply(line, target.key,
                 ReadText(value, target.key, "text, as " + std::string(target.option) +
                                                 " takes it"));
}

// A placement field places the overlay; null takes its default again.
void TakePlacement(CommandLine& line, const Json& value, const SettingTarget& target,
                   void (*reset)(PlacementRequest&)) {
    line.maskGiven = false;
    if (value.is_null()) {
        reset(line.placement);
        return;
    }
    TakeText(line, value, target);
}

// Text, or null for none (the option not given).
// A sound level: NdB (a gain in decibels, -60 to +20) or a plain factor
// (0 to 10). `lowering`: only levels that lower (at most 0 dB, a factor of
// at most 1).
AudioLevel ParseAudioLevel(const std::string& option, const std::string& text, bool lowering) {
    constexpr double kQuietestDecibels = -60;
    constexpr double kLoudestDecibels = 20;
    constexpr double kLargestFactor = 10;
    constexpr double kDecibelsPerDecade = 20;
    const std::string limits =
        lowering ? "a level in dB from -60 to 0 (-12dB) or a factor from 0 to 1 (0.25)"
                 : "a level in dB from -60 to +20 (-6dB) or a factor from 0 to 10 (0.5)";
    const auto refuse = [&] {
        throw UsageError("invalid value " + Quoted(text) + " for " + option + ": expected " +
                         limits);
    };
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) != 0) {
        refuse();
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    const std::string unit(end);
    if (end == text.c_str() || !std::isfinite(value)) {
        refuse();
    }
    AudioLevel level{text, value};
    if (unit == "dB" || unit == "db" || unit == "DB") {
        if (value < kQuietestDecibels || value > (lowering ? 0 : kLoudestDecibels)) {
            refuse();
        }
        level.factor = std::pow(10.0, value / kDecibelsPerDecade);
    } else if (!unit.empty() || value < 0 || value > (lowering ? 1 : kLargestFactor)) {
        refuse();
    }
    return level;
}

Json LevelOrNull(const std::optional<AudioLevel>& level) {
    return level ? Json(level->text) : Json(nullptr);
}

Json TextOrNull(const std::optional<FrameOrTime>& value) {
    return value ? Json(value->Text()) : Json(nullptr);
}

const char* const kMaskCorners[] = {"left", "top", "right", "bottom"};
std::int32_t FilterData::*const kMaskMembers[] = {&FilterData::maskLeft, &FilterData::maskTop,
                                                  &FilterData::maskRight,
                                                  &FilterData::maskBottom};

void TakeMask(CommandLine& line, const Json& value, const SettingTarget& target) {
    if (!line.keys.empty() && target.origin == SettingsOrigin::Page) {
        // The page knows one mask; the keys stay as they are.
        throw UsageError("the mask moves by keys (--key), which the page does not change yet; "
                         "edit the keys on the command line or in the settings file");
    }
    const std::string expected = "an object with left, top, right and bottom";
    if (!value.is_object()) {
        Refuse(target.key, expected);
    }
    std::int32_t corners[4];
    for (int index = 0; index < 4; ++index) {
        const std::string name = target.key + "." + kMaskCorners[index];
        if (!value.contains(kMaskCorners[index])) {
            Refuse(target.key, expected);
        }
        corners[index] = static_cast<std::int32_t>(ReadInteger(
            value.at(kMaskCorners[index]), name, -kCoordinateLimit, kCoordinateLimit));
    }
    for (const auto& item : value.items()) {
        bool known = false;
        for (const char* corner : kMaskCorners) {
            known = known || item.key() == corner;
        }
        if (!known) {
            throw UsageError("unknown setting " + Quoted(target.key + "." + item.key()));
        }
    }
    for (int index = 0; index < 4; ++index) {
        line.settings.*kMaskMembers[index] = corners[index];
    }
    line.maskGiven = true;
    line.placement = PlacementRequest{};
    line.keys.clear();
}

Json MaskValue(const CommandLine& line) {
    if (PlacesOverlay(line) || !line.keys.empty()) {
        return LeftOut();
    }
    Json mask = Json::object();
    for (int index = 0; index < 4; ++index) {
        mask[kMaskCorners[index]] = line.settings.*kMaskMembers[index];
    }
    return mask;
}

std::string CornersText(std::int32_t left, std::int32_t top, std::int32_t right,
                        std::int32_t bottom) {
    return std::to_string(left) + "," + std::to_string(top) + "," + std::to_string(right) + "," +
           std::to_string(bottom);
}

// AT=MASK[:EASE], as --key takes it: AT as --at takes it, MASK as --mask.
MaskKeyRequest ParseKey(const std::string& option, const std::string& text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0) {
        throw UsageError("invalid value " + Quoted(text) + " for " + option +
                         ": expected AT=MASK[:EASE] (0=10,20,w320,h180 or 2s=10,20,330,200:in-out)");
    }
    const std::string at = text.substr(0, equals);
    std::string corners = text.substr(equals + 1);
    MaskKeyRequest key;
    key.at = LooksLikeTime(at)
                 ? ParseFrameOrTime(option, at, false, 0, kInt32Max)
                 : FrameOrTime::Frames(ParseInteger(option, at, 0, kInt32Max));
    const std::size_t colon = corners.find(':');
    if (colon != std::string::npos) {
        const std::string ease = corners.substr(colon + 1);
        corners.erase(colon);
        std::string names;
        bool known = false;
        for (const EaseName& entry : kEaseNames) {
            known = known || ease == entry.name;
            if (ease == entry.name) {
                key.ease = entry.ease;
            }
            names += std::string(names.empty() ? "" : ", ") + entry.name;
        }
        if (!known) {
            throw UsageError("invalid easing " + Quoted(ease) + " in " + option + " " + text +
                             ": expected one of " + names);
        }
    }
    FilterData mask{};
    ParseMask(option, corners, mask);
    if (mask.maskRight <= mask.maskLeft || mask.maskBottom <= mask.maskTop) {
        throw UsageError("invalid value " + Quoted(text) + " for " + option +
                         ": a key's mask needs its right corner past its left and its bottom "
                         "past its top");
    }
    key.left = mask.maskLeft;
    key.top = mask.maskTop;
    key.right = mask.maskRight;
    key.bottom = mask.maskBottom;
    return key;
}

// The text that --key reads back as `key`.
std::string KeyText(const MaskKeyRequest& key) {
    std::string text = key.at.Text() + "=" + CornersText(key.left, key.top, key.right, key.bottom);
    if (key.ease != Ease::Linear) {
        text += std::string(":") + EaseNameOf(key.ease);
    }
    return text;
}

// The keys as a list of --key's values; null or an empty list for none.
void TakeKeys(CommandLine& line, const Json& value, const SettingTarget& target) {
    const std::string expected = "a list of keys as --key takes them (\"0=10,20,w320,h180\")";
    if (!value.is_null() && !value.is_array()) {
        Refuse(target.key, expected);
    }
    std::vector<MaskKeyRequest> keys;
    if (value.is_array()) {
        for (const Json& item : value) {
            keys.push_back(ParseKey(target.key, ReadText(item, target.key, expected)));
        }
    }
    line.keys = keys;
    if (!keys.empty()) {
        line.maskGiven = false;
        line.placement = PlacementRequest{};
    }
}

Json KeysValue(const CommandLine& line) {
    if (line.keys.empty()) {
        return LeftOut();
    }
    Json keys = Json::array();
    for (const MaskKeyRequest& key : line.keys) {
        keys.push_back(KeyText(key));
    }
    return keys;
}

void TakeOverlay(CommandLine& line, const Json& value, const SettingTarget& target) {
    if (target.origin == SettingsOrigin::Page) {
        throw UsageError("the overlay is chosen on the command line, not by the page");
    }
    if (value.is_null()) {
        line.overlayPath.clear();
        return;
    }
    const std::string path = ReadText(value, target.key, "a file's path or null");
    line.overlayPath = path.empty() || path[0] == '/' ? path : target.folder + path;
}

// A frame number a settings file gives: it stands, and no time given
// earlier is left to override it.
std::int32_t TakeFrames(const Json& value, const SettingTarget& target,
                        std::optional<FrameOrTime>& time) {
    const auto frames = static_cast<std::int32_t>(
        ReadInteger(value, target.key, target.minimum, target.maximum));
    time.reset();
    return frames;
}

// Every option and every setting of a settings file, a row each. A setting
// with no option of its own (keepAspect, the switches that --border,
// --shadow and --range also turn on, the range's frames) has a row without
// an option name, which the parser and the documentation pass over. The
// rows stand in the order a written-back render command line gives the
// options, and a settings file its settings.
const OptionRow kOptions[] = {
    {"--help", "-h", nullptr, kEveryCommand | kStandalone, "show this help and exit",
     [](CommandLine& line, const std::string&, const std::string&) {
         line.command = Command::Help;
     }},
    {"--version", nullptr, nullptr, kEveryCommand | kStandalone, "show the version and exit",
     [](CommandLine& line, const std::string&, const std::string&) {
         line.command = Command::Version;
     }},
    {"--output", "-o", "PATH", kAll | kSegments,
     "output file (render, frame, join, and edit's Render; with segments --slurm the finished "
     "video) or folder (demo, default demo-output); '-' writes the render to standard output "
     "(with --format matroska or nut)",
     [](CommandLine& line, const std::string&, const std::string& value) {
         line.output = value;
     }},
    {"--overwrite", "-y", nullptr, kAll,
     "replace an existing output without asking",
     [](CommandLine& line, const std::string&, const std::string&) {
         SetOverwrite(line, OverwritePolicy::Always);
     }},
    {"--no-overwrite", "-n", nullptr, kAll,
     "never replace an existing output: stop with exit status 1 instead (without -y or -n a "
     "terminal is asked, and elsewhere an existing output is kept)",
     [](CommandLine& line, const std::string&, const std::string&) {
         SetOverwrite(line, OverwritePolicy::Never);
     }},
    {"--overlay", nullptr, "FILE", kPlacing,
     "the video laid into the mask (without it the mask is filled black)",
     [](CommandLine& line, const std::string&, const std::string& value) {
         line.overlayPath = value;
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (!line.overlayPath.empty()) { AddWords(words, option, line.overlayPath); }
     },
     "overlay",
     [](const CommandLine& line) {
         return line.overlayPath.empty() ? Json(nullptr) : Json(line.overlayPath);
     },
     TakeOverlay,
     SettingKind::Path},
    {"--mask", nullptr, "L,T,R,B", kCompositing,
     "mask corners in pixels; R may be wWIDTH and B hHEIGHT, the size drawn (w100: R = L + 100)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         ParseMask(option, value, line.settings);
         line.maskGiven = true;
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (!PlacesOverlay(line) && line.keys.empty()) {
             const FilterData& f = line.settings;
             AddWords(words, option,
                      CornersText(f.maskLeft, f.maskTop, f.maskRight, f.maskBottom));
         }
     },
     "mask",
     MaskValue,
     TakeMask,
     SettingKind::Corners},
    {"--key", nullptr, "AT=MASK[:EASE]", kCompositing,
     "a key of a moving mask, repeated: at frame or time AT (as --at takes it) the mask is "
     "MASK (as --mask takes it), reached by the EASE linear (default), in, out or in-out; "
     "between keys the mask moves, before the first and after the last it holds",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.keys.push_back(ParseKey(option, value));
     },
     [](const CommandLine& line, const char* option, Words& words) {
         for (const MaskKeyRequest& key : line.keys) {
             AddWords(words, option, KeyText(key));
         }
     },
     "keys",
     KeysValue,
     TakeKeys,
     SettingKind::Keys},
    {"--position", nullptr, "ANCHOR", kPlacing,
     "place the overlay at an anchor: top-left, top, top-right, left, center, right, "
     "bottom-left, bottom, bottom-right (default bottom-right)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.placement.anchor = ParseAnchor(option, value);
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (PlacesOverlay(line) && line.placement.anchor) {
             AddWords(words, option, kAnchorNames[static_cast<int>(*line.placement.anchor)]);
         }
     },
     "placement.position",
     [](const CommandLine& line) {
         return PlacesOverlay(line) && line.placement.anchor ? Json(kAnchorNames[static_cast<int>(*line.placement.anchor)]) : LeftOut();
     },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         TakePlacement(line, value, target, [](PlacementRequest& placement) {
             placement.anchor.reset();
         });
     },
     SettingKind::Choice},
    {"--margin", nullptr, "N[%]", kPlacing,
     "distance from the anchored edges, in pixels or % of the main's width (default 2%)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.placement.margin = ParsePlacementLength(option, value);
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (PlacesOverlay(line) && line.placement.margin) {
             AddWords(words, option, PlacementLengthText(*line.placement.margin));
         }
     },
     "placement.margin",
     [](const CommandLine& line) {
         return PlacesOverlay(line) && line.placement.margin ? Json(PlacementLengthText(*line.placement.margin)) : LeftOut();
     },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         TakePlacement(line, value, target, [](PlacementRequest& placement) {
             placement.margin.reset();
         });
     },
     SettingKind::Text},
    {"--size", nullptr, "W|xH|WxH", kPlacing,
     "overlay size in pixels or % of the main's width/height; with one dimension the "
     "overlay keeps its display aspect (default 33.3%: a third of the width)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         ParsePlacementSize(option, value, line.placement);
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (PlacesOverlay(line) && (line.placement.width || line.placement.height)) {
             AddWords(words, option, PlacementSizeText(line.placement));
         }
     },
     "placement.size",
     [](const CommandLine& line) {
         return PlacesOverlay(line) && (line.placement.width || line.placement.height) ? Json(PlacementSizeText(line.placement)) : LeftOut();
     },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         TakePlacement(line, value, target, [](PlacementRequest& placement) {
             placement.width.reset();
                 placement.height.reset();
         });
     },
     SettingKind::Text},
    {"--script", nullptr, "FILE", kCompositing,
     "take the mask from a host script line Config(l,t,r,b) in FILE",
     [](CommandLine& line, const std::string&, const std::string& value) {
         line.scriptPath = value;
     }},
    // Settings the command line has no option of its own for.
    {nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr, "keepAspect",
     [](const CommandLine& line) { return Json(line.settings.keepAspect != 0); },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         line.settings.keepAspect = ReadFlag(value, target.key);
     },
     SettingKind::Flag},
    {"--fit", nullptr, nullptr, kCompositing,
     "stretch the overlay to the mask (default: copy it 1:1 from its top-left corner)",
     [](CommandLine& line, const std::string&, const std::string&) {
         line.settings.fitToFrame = 1;
     },
     [](const CommandLine& line, const char* option, Words& words) {
         AddFlag(words, option, !PlacesOverlay(line) && line.settings.fitToFrame != 0);
     },
     "fit",
     [](const CommandLine& line) { return Json(line.settings.fitToFrame != 0); },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         line.settings.fitToFrame = ReadFlag(value, target.key);
     },
     SettingKind::Flag},
    {"--bilinear", nullptr, nullptr, kCompositing,
     "stretch with bilinear sampling instead of nearest neighbour (with --fit)",
     [](CommandLine& line, const std::string&, const std::string&) {
         line.settings.bilinear = 1;
     },
     nullptr,
     "bilinear",
     [](const CommandLine& line) { return Json(line.settings.bilinear != 0); },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         line.settings.bilinear = ReadFlag(value, target.key);
     },
     SettingKind::Flag},
    {"--scaler", nullptr, "NAME", kCompositing,
     "how the overlay is scaled to the mask (placement or --fit): nearest, bilinear "
     "(the filter's own), or area, bicubic, lanczos (filtered, for sharp downscales)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         const int choice = ParseChoice(option, value, kScalerChoices);
         line.scaler = choice < 0 ? OverlayScaler::Filter : static_cast<OverlayScaler>(choice);
         if (choice < 0) {
             line.settings.bilinear = choice == kBilinearStretch ? 1 : 0;
         }
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.scaler != OverlayScaler::Filter || line.settings.bilinear != 0) {
             AddWords(words, option, ScalerName(line.scaler, line.settings.bilinear != 0));
         }
     },
     "scaler",
     [](const CommandLine& line) { return Json(ScalerName(line.scaler, line.settings.bilinear != 0)); },
     TakeText,
     SettingKind::Choice},
    {"--alpha", nullptr, "MODE", kCompositing,
     "the overlay's alpha channel: straight (default), premultiplied, or ignore "
     "(copy the overlay opaque, as the plug-in does)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.alpha = static_cast<AlphaMode>(ParseChoice(option, value, kAlphaChoices));
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.alpha != CommandLine().alpha) {
             AddWords(words, option, AlphaName(line.alpha));
         }
     },
     "alpha",
     [](const CommandLine& line) { return Json(AlphaName(line.alpha)); },
     TakeText,
     SettingKind::Choice},
    {"--overlay-transfer", nullptr, "MODE", kCompositing,
     "a standard-range overlay, border and shadow in an HDR (PQ or HLG) main: convert "
     "(default: into the main's transfer and primaries, white at 203 cd/m2) or keep (their "
     "codes as they are, white at the display's peak)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.overlayTransfer =
             static_cast<OverlayTransfer>(ParseChoice(option, value, kOverlayTransferChoices));
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.overlayTransfer != CommandLine().overlayTransfer) {
             AddWords(words, option, OverlayTransferName(line.overlayTransfer));
         }
     },
     "overlayTransfer",
     [](const CommandLine& line) { return Json(OverlayTransferName(line.overlayTransfer)); },
     TakeText,
     SettingKind::Choice},
    {"--opacity", nullptr, "P", kCompositing,
     "fade the whole overlay to P% (0-100, default 100) over the video under it; a border and "
     "shadow stay as drawn",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.opacityPercent = ParseInteger(option, value, 0, kPercentMax);
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.opacityPercent != CommandLine().opacityPercent) {
             AddWords(words, option, std::to_string(line.opacityPercent));
         }
     },
     "opacity",
     [](const CommandLine& line) { return Json(line.opacityPercent); },
     TakeInteger,
     SettingKind::Integer, 0, kPercentMax},
    {"--corner-radius", nullptr, "N", kCompositing,
     "round the overlay's corners with radius N pixels (0-2048, default 0: square); its "
     "border and its shadow follow the rounded shape, and the edges are smoothed",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.cornerRadius = ParseInteger(option, value, 0, kLargestCornerRadius);
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.cornerRadius != CommandLine().cornerRadius) {
             AddWords(words, option, std::to_string(line.cornerRadius));
         }
     },
     "cornerRadius",
     [](const CommandLine& line) { return Json(line.cornerRadius); },
     TakeInteger,
     SettingKind::Integer, 0, kLargestCornerRadius},
    // The border and the shadow drawn: --border and --shadow also turn them on.
    {nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr, "border.on",
     [](const CommandLine& line) { return Json(line.settings.borderOn != 0); },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         line.settings.borderOn = ReadFlag(value, target.key);
     },
     SettingKind::Flag},
    {"--border", nullptr, "N", kCompositing,
     "draw a border N pixels wide around the mask (0: no border)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.settings.borderSize = ParseInteger(option, value, 0, kCoordinateLimit);
         line.settings.borderOn = line.settings.borderSize > 0 ? 1 : 0;
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (BorderDrawn(line)) {
             AddWords(words, option, std::to_string(line.settings.borderSize));
         }
     },
     "border.size",
     [](const CommandLine& line) { return Json(line.settings.borderSize); },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         line.settings.borderSize =
             static_cast<std::int32_t>(
                 ReadInteger(value, target.key, target.minimum, target.maximum));
     },
     SettingKind::Integer, 0, kCoordinateLimit},
    {"--border-color", nullptr, "COLOR", kCompositing,
     "border colour as RRGGBB, #RRGGBB, 0xRRGGBB or a CSS name (default ffffff, white); "
     "the border itself needs --border",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.settings.borderColor = ParseColor(option, value);
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (BorderDrawn(line) &&
             line.settings.borderColor != DialogDefaultSettings().borderColor) {
             AddWords(words, option, ColorWord(line.settings.borderColor));
         }
     },
     "border.color",
     [](const CommandLine& line) { return Json(ColorText(line.settings.borderColor)); },
     TakeText,
     SettingKind::Color},
    // Drawn or not, as the dialog's check box.
    {nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr, "shadow.on",
     [](const CommandLine& line) { return Json(line.settings.shadowOn != 0); },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         line.settings.shadowOn = ReadFlag(value, target.key);
     },
     SettingKind::Flag},
    {"--shadow", nullptr, "STYLE", kCompositing,
     "draw a drop shadow in STYLE: 0-5 or a name listed below",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.settings.shadowType = ParseShadowStyle(option, value);
         line.settings.shadowOn = 1;
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.settings.shadowOn != 0) {
             AddWords(words, option, ShadowStyleWord(line.settings.shadowType));
         }
     },
     "shadow.style",
     [](const CommandLine& line) {
         const int style = line.settings.shadowType;
         return style >= 0 && style < kShadowStyleCount ? Json(kShadowStyleNames[style].name)
                                                        : Json(style);
     },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         // A number or a name, as --shadow takes it, without turning the shadow on.
         const std::string text = value.is_number_integer()
                                      ? IntegerText(value, target.key)
                                      : ReadText(value, target.key, "a style's name or number");
         line.settings.shadowType = ParseShadowStyle(target.key, text);
     },
     SettingKind::Choice},
    {"--shadow-size", nullptr, "N", kCompositing, "shadow band width in pixels (default 20)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.settings.shadowSize = ParseInteger(option, value, 0, kCoordinateLimit);
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.settings.shadowOn != 0 &&
             line.settings.shadowSize != DialogDefaultSettings().shadowSize) {
             AddWords(words, option, std::to_string(line.settings.shadowSize));
         }
     },
     "shadow.size",
     [](const CommandLine& line) { return Json(line.settings.shadowSize); },
     TakeInteger,
     SettingKind::Integer, 0, kCoordinateLimit},
    {"--shadow-percent", nullptr, "P", kCompositing,
     "share of the picture kept at the shadow's inner edge, 0-100 (default 45)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.settings.shadowPercent = ParseInteger(option, value, 0, kPercentMax);
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.settings.shadowOn != 0 &&
             line.settings.shadowPercent != DialogDefaultSettings().shadowPercent) {
             AddWords(words, option, std::to_string(line.settings.shadowPercent));
         }
     },
     "shadow.percent",
     [](const CommandLine& line) { return Json(line.settings.shadowPercent); },
     TakeInteger,
     SettingKind::Integer, 0, kPercentMax},
    {"--shadow-shift", nullptr, "N", kCompositing,
     "shift of the fixed-shift styles in pixels, may be negative (default 7)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.settings.shadowShift =
             ParseInteger(option, value, -kCoordinateLimit, kCoordinateLimit);
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.settings.shadowOn != 0 &&
             line.settings.shadowShift != DialogDefaultSettings().shadowShift) {
             AddWords(words, option, std::to_string(line.settings.shadowShift));
         }
     },
     "shadow.shift",
     [](const CommandLine& line) { return Json(line.settings.shadowShift); },
     TakeInteger,
     SettingKind::Integer, -kCoordinateLimit, kCoordinateLimit},
    {"--shadow-color", nullptr, "COLOR", kCompositing,
     "colour mixed into the shadow, spelt as for --border-color (default 000000: darkening "
     "only)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.settings.shadowColor = ParseColor(option, value);
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.settings.shadowOn != 0 &&
             line.settings.shadowColor != DialogDefaultSettings().shadowColor) {
             AddWords(words, option, ColorWord(line.settings.shadowColor));
         }
     },
     "shadow.color",
     [](const CommandLine& line) { return Json(ColorText(line.settings.shadowColor)); },
     TakeText,
     SettingKind::Color},
    // The frame range in the file: --range gives all three at once.
    {nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr, "range.on",
     [](const CommandLine& line) { return Json(line.settings.useFrameRange != 0); },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         line.settings.useFrameRange = ReadFlag(value, target.key);
     },
     SettingKind::Flag},
    // Frames; no time given earlier is left to override them.
    {nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr, "range.start",
     [](const CommandLine& line) { return Json(line.settings.rangeStart); },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         line.settings.rangeStart = TakeFrames(value, target, line.times.rangeStart);
         line.times.rangeEnd.reset();
     },
     SettingKind::Integer, 0, kInt32Max},
    // As range.start.
    {nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr, "range.end",
     [](const CommandLine& line) { return Json(line.settings.rangeEnd); },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         line.settings.rangeEnd = TakeFrames(value, target, line.times.rangeStart);
         line.times.rangeEnd.reset();
     },
     SettingKind::Integer, 0, kInt32Max},
    {"--range", nullptr, "START[-END]", kCompositing,
     "overlay only on output frames START to END (no END: to the last frame); "
     "frames or times (12.5s, 1:02.5, 0:01:02.500)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         if (!LooksLikeTime(value)) {
             ParseFrameRange(option, value, line.settings);
             line.times.rangeStart = FrameOrTime::Frames(line.settings.rangeStart);
             line.times.rangeEnd.reset();
             if (value.find('-') != std::string::npos) {
                 line.times.rangeEnd = FrameOrTime::Frames(line.settings.rangeEnd);
             }
             return;
         }
         const std::size_t dash = value.find('-');
         line.times.rangeStart =
             ParseFrameOrTime(option, value.substr(0, dash), false, 0, kInt32Max);
         line.times.rangeEnd.reset();
         if (dash != std::string::npos) {
             line.times.rangeEnd =
                 ParseFrameOrTime(option, value.substr(dash + 1), false, 0, kInt32Max);
         }
         line.settings.useFrameRange = 1;
     },
     [](const CommandLine& line, const char* option, Words& words) {
         const FilterData& f = line.settings;
         if (f.useFrameRange != 0) {
             AddWords(words, option,
                      std::to_string(f.rangeStart) +
                          (f.rangeEnd != 0 ? "-" + std::to_string(f.rangeEnd) : ""));
         }
     }},
    {"--offset", nullptr, "N", kCompositing,
     "overlay frames (or a time, counted in main frames) to skip at its start",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         if (!LooksLikeTime(value)) {
             line.settings.frameOffset = ParseInteger(option, value, kInt32Min, kInt32Max);
             line.times.offset = FrameOrTime::Frames(line.settings.frameOffset);
             return;
         }
         line.times.offset = ParseFrameOrTime(option, value, true, kInt32Min, kInt32Max);
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.settings.frameOffset != 0) {
             AddWords(words, option, std::to_string(line.settings.frameOffset));
         }
     },
     "offset",
     [](const CommandLine& line) { return Json(line.settings.frameOffset); },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         line.settings.frameOffset = TakeFrames(value, target, line.times.offset);
     },
     SettingKind::Integer, kInt32Min, kInt32Max},
    {"--fade-in", nullptr, "DURATION", kCompositing,
     "bring the overlay, its border and its shadow in from transparent over DURATION (frames "
     "or a time: 1s, 0:01.5) from the first frame it shows on",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.times.fadeIn = ParseFrameOrTime(option, value, false, 0, kInt32Max);
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.times.fadeIn) { AddWords(words, option, line.times.fadeIn->Text()); }
     },
     "fadeIn",
     [](const CommandLine& line) { return TextOrNull(line.times.fadeIn); },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         if (value.is_null()) {
             line.times.fadeIn.reset();
             return;
         }
         TakeText(line, value, target);
     },
     SettingKind::Text},
    {"--fade-out", nullptr, "DURATION", kCompositing,
     "take the overlay, its border and its shadow out to transparent over DURATION, ending "
     "on the last frame it shows on (the end of --range, where the overlay runs out without "
     "--repeat, or the main's end)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.times.fadeOut = ParseFrameOrTime(option, value, false, 0, kInt32Max);
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.times.fadeOut) { AddWords(words, option, line.times.fadeOut->Text()); }
     },
     "fadeOut",
     [](const CommandLine& line) { return TextOrNull(line.times.fadeOut); },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         if (value.is_null()) {
             line.times.fadeOut.reset();
             return;
         }
         TakeText(line, value, target);
     },
     SettingKind::Text},
    {"--overlay-timing", nullptr, "MODE", kCompositing,
     "time (default): each main frame shows the overlay picture of its time, and a "
     "still picture shows throughout; frames: overlay frames are counted frame for "
     "frame, as the plug-in counts them",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.timing = static_cast<OverlayTiming>(ParseChoice(option, value, kTimingChoices));
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.timing != CommandLine().timing) {
             AddWords(words, option, TimingName(line.timing));
         }
     },
     "timing",
     [](const CommandLine& line) { return Json(TimingName(line.timing)); },
     TakeText,
     SettingKind::Choice},
    {"--repeat", nullptr, nullptr, kCompositing, "start the overlay again when it runs out",
     [](CommandLine& line, const std::string&, const std::string&) {
         line.settings.repeatVideo = 1;
     },
     [](const CommandLine& line, const char* option, Words& words) {
         AddFlag(words, option, line.settings.repeatVideo != 0);
     },
     "repeat",
     [](const CommandLine& line) { return Json(line.settings.repeatVideo != 0); },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         line.settings.repeatVideo = ReadFlag(value, target.key);
     },
     SettingKind::Flag},
    {"--reverse", nullptr, nullptr, kCompositing, "play the overlay backwards from its end",
     [](CommandLine& line, const std::string&, const std::string&) {
         line.settings.reverse = 1;
     },
     [](const CommandLine& line, const char* option, Words& words) {
         AddFlag(words, option, line.settings.reverse != 0);
     },
     "reverse",
     [](const CommandLine& line) { return Json(line.settings.reverse != 0); },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         line.settings.reverse = ReadFlag(value, target.key);
     },
     SettingKind::Flag},
    {"--maintain-black", nullptr, nullptr, kCompositing,
     "fill the mask black on frames for which the overlay has no frame",
     [](CommandLine& line, const std::string&, const std::string&) {
         line.settings.maintainBlack = 1;
     },
     [](const CommandLine& line, const char* option, Words& words) {
         AddFlag(words, option, line.settings.maintainBlack != 0);
     },
     "maintainBlack",
     [](const CommandLine& line) { return Json(line.settings.maintainBlack != 0); },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         line.settings.maintainBlack = ReadFlag(value, target.key);
     },
     SettingKind::Flag},
    {"--seed", nullptr, "N", kCompositing,
     "seed the random shadow styles with N (0-4294967295) so that a run repeats exactly "
     "(default: the clock; with --segment, the job's fingerprint)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.seed = static_cast<std::uint32_t>(ParseInteger(option, value, 0, kUint32Max));
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.seed && DrawsAtRandom(line)) {
             AddWords(words, option, std::to_string(*line.seed));
         }
     },
     "seed",
     [](const CommandLine& line) { return line.seed ? Json(*line.seed) : Json(nullptr); },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         if (value.is_null()) {
             line.seed.reset();  // the clock's seed, as the filter seeds itself
             return;
         }
         TakeInteger(line, value, target);
     },
     SettingKind::Integer, 0, kUint32Max},
    {"--at", nullptr, "N|TIME", kFrame | kEdit,
     "the output frame to composite (from 0), or its time; for edit, the frame shown first",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         if (!LooksLikeTime(value)) {
             line.frameAt = ParseInteger(option, value, 0, kInt32Max);
             line.times.at = FrameOrTime::Frames(line.frameAt);
             return;
         }
         line.times.at = ParseFrameOrTime(option, value, false, 0, kInt32Max);
     }},
    {"--video-stream", nullptr, "N", kPlacing | kSegments,
     "composite the main video's video stream N, counted from 0 (default: the one the file "
     "marks as default, else the first)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.videoStream = ParseInteger(option, value, 0, kMaxStreamNumber);
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.videoStream != CommandLine().videoStream) {
             AddWords(words, option, std::to_string(line.videoStream));
         }
     }},
    {"--overlay-stream", nullptr, "N", kPlacing,
     "lay in the overlay's video stream N, counted from 0 (default as for --video-stream)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.overlayStream = ParseInteger(option, value, 0, kMaxStreamNumber);
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.overlayStream != CommandLine().overlayStream) {
             AddWords(words, option, std::to_string(line.overlayStream));
         }
     }},
    {"--max-pixels", nullptr, "N", kCompositing,
     "accept main pictures of up to N pixels, each side up to N (default: 16384 on a side, "
     "134217728 in all)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.pictureLimit.maxPixels = ParseInteger(option, value, 1, kInt32Max);
         line.pictureLimit.maxSide = line.pictureLimit.maxPixels;
     },
     [](const CommandLine& line, const char* option, Words& words) {
         const PictureLimit defaults = CommandLine().pictureLimit;
         if (line.pictureLimit.maxPixels != defaults.maxPixels ||
             line.pictureLimit.maxSide != defaults.maxSide) {
             AddWords(words, option, std::to_string(line.pictureLimit.maxPixels));
         }
     }},
    {"--keep-rotation", nullptr, nullptr, kPlacing,
     "work on the pictures as the files store them: masks and placement in stored pixels, "
     "and the output keeps the main's display matrix (by default the main and the overlay "
     "are turned upright first, as players show them, and the output is written upright)",
     [](CommandLine& line, const std::string&, const std::string&) {
         line.keepRotation = true;
     },
     [](const CommandLine& line, const char* option, Words& words) {
         AddFlag(words, option, line.keepRotation);
     },
     "keepRotation",
     [](const CommandLine& line) { return Json(line.keepRotation); },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         // The pictures the page shows are turned as the command line said.
         if (target.origin == SettingsOrigin::Page) {
             throw UsageError(target.key + " is chosen on the command line, not by the page");
         }
         line.keepRotation = ReadFlag(value, target.key);
     },
     SettingKind::Flag},
    {"--strict", nullptr, nullptr, kCompositing,
     "fail (exit 1, no output) when any overlay frame cannot be decoded",
     [](CommandLine& line, const std::string&, const std::string&) { line.strict = true; },
     [](const CommandLine& line, const char* option, Words& words) {
         AddFlag(words, option, line.strict);
     }},
    {"--rgb-output", nullptr, nullptr, kCompositing,
     "convert the whole main picture to the filter's 8-bit RGB and write exactly what the "
     "filter made (by default only the overlay's area is converted and the rest of the "
     "picture is kept as it was)",
     [](CommandLine& line, const std::string&, const std::string&) {
         line.filterPixels = true;
     },
     [](const CommandLine& line, const char* option, Words& words) {
         AddFlag(words, option, line.filterPixels);
     }},
    {"--format", nullptr, "NAME", kEncoding | kJoin,
     "container by name instead of by extension; 'null' composites and discards",
     [](CommandLine& line, const std::string&, const std::string& value) {
         line.format = value;
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (!line.format.empty()) { AddWords(words, option, line.format); }
     }},
    {"--no-audio", nullptr, nullptr, kEncoding | kJoin,
     "leave out the main video's audio (by default it is copied unchanged, or re-encoded "
     "where the container cannot hold it)",
     [](CommandLine& line, const std::string&, const std::string&) { line.noAudio = true; },
     [](const CommandLine& line, const char* option, Words& words) {
         AddFlag(words, option, line.noAudio);
     }},
    {"--no-subtitles", nullptr, nullptr, kEncoding | kJoin,
     "leave out the main video's subtitles (by default they are copied unchanged)",
     [](CommandLine& line, const std::string&, const std::string&) { line.noSubtitles = true; },
     [](const CommandLine& line, const char* option, Words& words) {
         AddFlag(words, option, line.noSubtitles);
     }},
    {"--codec", nullptr, "CODEC", kEncoding,
     "encode the video with codec or encoder CODEC (default: the container's own); "
     "'quillmere --help' lists the choices this FFmpeg has for each container",
     [](CommandLine& line, const std::string&, const std::string& value) {
         line.encoding.codec = value;
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (!line.encoding.codec.empty()) { AddWords(words, option, line.encoding.codec); }
     }},
    {"--crf", nullptr, "N", kEncoding,
     "constant quality of encoders that have it (H.264 and HEVC: 0-51, lower is better; "
     "default 18 for H.264, and x265's own default, 28, for HEVC)",
     [](CommandLine& line, const std::string&, const std::string& value) {
         line.encoding.crf = value;
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (!line.encoding.crf.empty()) { AddWords(words, option, line.encoding.crf); }
     }},
    {"--preset", nullptr, "PRESET", kEncoding,
     "the encoder's speed preset (H.264 and HEVC: ultrafast to veryslow, default medium)",
     [](CommandLine& line, const std::string&, const std::string& value) {
         line.encoding.preset = value;
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (!line.encoding.preset.empty()) { AddWords(words, option, line.encoding.preset); }
     }},
    {"--threads", nullptr, "N", kEncoding,
     "encoder threads (default 0: as many as the machine has)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.encoding.threads = ParseInteger(option, value, 0, kMaxEncoderThreads);
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.encoding.threads != CommandLine().encoding.threads) {
             AddWords(words, option, std::to_string(line.encoding.threads));
         }
     }},
    {"--filter-threads", nullptr, "N", kRender,
     "frames filtered at once, each on its own thread (default 0: one per core, up to 8); "
     "the output is the same for any N",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.filterThreads = ParseInteger(option, value, 0, kMaxFilterThreads);
     }},
    {"--encoder-option", nullptr, "KEY=VALUE", kEncoding,
     "pass an option to the encoder as FFmpeg names it (g=50, x264-params=...); may be "
     "repeated; an option the encoder does not know is an error",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.encoding.options.push_back(ParseKeyValue(option, value));
     },
     [](const CommandLine& line, const char* option, Words& words) {
         for (const auto& [key, value] : line.encoding.options) {
             AddWords(words, option, key + "=" + value);
         }
     }},
    {"--muxer-option", nullptr, "KEY=VALUE", kEncoding,
     "pass an option to the container's muxer as FFmpeg names it (movflags=+faststart "
     "puts an MP4's index first, so that it plays while it downloads); may be repeated; an "
     "option the muxer does not know is an error",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.muxing.options.push_back(ParseKeyValue(option, value));
     },
     [](const CommandLine& line, const char* option, Words& words) {
         for (const auto& [key, value] : line.muxing.options) {
             AddWords(words, option, key + "=" + value);
         }
     }},
    {"--tag", nullptr, "FOURCC", kEncoding,
     "the video's four-character codec tag in the container (default: the container's own, "
     "and hvc1 for HEVC in .mp4 and .mov, which Apple's players need; hev1 is the other)",
     [](CommandLine& line, const std::string&, const std::string& value) {
         line.muxing.videoTag = value;
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (!line.muxing.videoTag.empty()) { AddWords(words, option, line.muxing.videoTag); }
     }},
    {"--audio-codec", nullptr, "AUDIO_CODEC", kEncoding,
     "re-encode the main video's audio with codec or encoder AUDIO_CODEC (aac, opus, flac, "
     "mp3, "
     "...); by default it is copied unchanged, and audio the container cannot hold (PCM in "
     ".mp4) is re-encoded to the container's usual codec (AAC for .mp4 and .mov), with a note",
     [](CommandLine& line, const std::string&, const std::string& value) {
         line.audioCodec = value;
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (!line.audioCodec.empty()) { AddWords(words, option, line.audioCodec); }
     }},
    {"--audio-bitrate", nullptr, "RATE", kEncoding,
     "bitrate of re-encoded audio in bits per second: 128k, 1.5M, 96000 (default: the "
     "encoder's own)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.audioBitRate = ParseBitRate(option, value);
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.audioBitRate != CommandLine().audioBitRate) {
             AddWords(words, option, std::to_string(line.audioBitRate));
         }
     }},
    {"--overlay-audio", nullptr, "MODE", kEncoding,
     "the overlay's own sound: off (default: the main's audio is copied as it is) or mix "
     "(mixed into the main's audio while the overlay shows, following its range, offset, "
     "repeat and fades; the main's audio is then re-encoded)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.overlayAudio =
             static_cast<OverlayAudio>(ParseChoice(option, value, kOverlayAudioChoices));
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.overlayAudio != CommandLine().overlayAudio) {
             AddWords(words, option, NameOf(static_cast<int>(line.overlayAudio),
                                            kOverlayAudioChoices));
         }
     },
     "audio.overlay",
     [](const CommandLine& line) {
         return Json(NameOf(static_cast<int>(line.overlayAudio), kOverlayAudioChoices));
     },
     TakeText,
     SettingKind::Choice},
    {"--overlay-volume", nullptr, "LEVEL", kEncoding,
     "the level of the overlay's mixed sound: a gain in dB (-6dB, +3dB) or a factor (0.5); "
     "default 0dB, as recorded",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.overlayVolume = ParseAudioLevel(option, value, false);
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.overlayVolume) { AddWords(words, option, line.overlayVolume->text); }
     },
     "audio.volume",
     [](const CommandLine& line) { return LevelOrNull(line.overlayVolume); },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         if (value.is_null()) {
             line.overlayVolume.reset();
             return;
         }
         TakeText(line, value, target);
     },
     SettingKind::Text},
    {"--duck", nullptr, "LEVEL", kEncoding,
     "lower the main's sound to LEVEL while the overlay's plays (-12dB, or a factor such as "
     "0.25), with 0.1 s ramps at both ends",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.duck = ParseAudioLevel(option, value, true);
     },
     [](const CommandLine& line, const char* option, Words& words) {
         if (line.duck) { AddWords(words, option, line.duck->text); }
     },
     "audio.duck",
     [](const CommandLine& line) { return LevelOrNull(line.duck); },
     [](CommandLine& line, const Json& value, const SettingTarget& target) {
         if (value.is_null()) {
             line.duck.reset();
             return;
         }
         TakeText(line, value, target);
     },
     SettingKind::Text},
    {"--segment", nullptr, "K/N", kRender,
     "render only segment K (from 0) of N into OUT: the frames 'quillmere segments MAIN N' "
     "lists for it, with the filter's state a whole render has there; join the segments "
     "with 'quillmere join'",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.segment = ParseSegmentChoice(value, option);
     }},
    {"--json", nullptr, nullptr, kSegments, "print the segments as JSON, for schedulers",
     [](CommandLine& line, const std::string&, const std::string&) { line.json = true; }},
    {"--slurm", nullptr, nullptr, kSegments,
     "print a shell script that submits the segments to Slurm as a job array and the join "
     "as a job depending on it; needs -o OUT, and the render options follow '--'",
     [](CommandLine& line, const std::string&, const std::string&) { line.slurm = true; }},
    {"--parts", nullptr, "DIR", kSegments | kJoin,
     "the folder of the segments: join takes every segment file in it; segments --slurm "
     "writes them there (default OUT.parts)",
     [](CommandLine& line, const std::string&, const std::string& value) {
         line.partsFolder = value;
     }},
    {"--manifest", nullptr, "FILE", kSegments | kRender | kJoin,
     "segments writes FILE: the main's frame times, key frames and identity, the overlay's "
     "identity (from the render options after '--') and the cuts; render --segment and join "
     "read them from FILE instead of reading the whole main, and refuse a FILE written for "
     "another main, count or version",
     [](CommandLine& line, const std::string&, const std::string& value) {
         line.manifestPath = value;
     }},
    {"--main", nullptr, "MAIN", kJoin,
     "take the audio, subtitles, chapters and metadata from MAIN (default: the main video "
     "the segments name)",
     [](CommandLine& line, const std::string&, const std::string& value) {
         line.mainOverride = value;
     }},
    {"--quiet", "-q", nullptr, kAll | kPlace | kSegments,
     "nothing on standard error but errors: no progress display, no notes on what the "
     "output could not keep or how the command line was read, no closing summary line, no "
     "encoder library's own report",
     [](CommandLine& line, const std::string&, const std::string&) { line.quiet = true; }},
    {"--settings", nullptr, "FILE", kRender | kFrame | kEdit,
     "start from the settings in FILE (a settings file that edit saves); the options given "
     "on the command line win over it; edit's Save writes FILE",
     [](CommandLine& line, const std::string&, const std::string& value) {
         line.settingsPath = value;
     }},
    {"--port", nullptr, "N", kEdit,
     "serve the page on port N of the loopback interface (default: any free port)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.port = ParseInteger(option, value, 1, kMaxPort);
     }},
    {"--open", nullptr, nullptr, kEdit, "open the page in the desktop's browser (xdg-open)",
     [](CommandLine& line, const std::string&, const std::string&) {
         line.openBrowser = true;
     }},
    {"--progress", nullptr, "FILE", kRender | kDemo,
     "also write progress to FILE ('-': standard output) as key=value lines frame=, fps=, "
     "out_time_us=, out_time=, speed=, each block closed by progress=continue and the last "
     "by progress=end",
     [](CommandLine& line, const std::string&, const std::string& value) {
         line.progressPath = value;
     }},
    {"--stats-period", nullptr, "SECONDS", kRender | kDemo,
     "time between progress lines when standard error is no terminal (default 5) and "
     "between --progress blocks (default 0.5)",
     [](CommandLine& line, const std::string& option, const std::string& value) {
         line.statsPeriod = ParseSeconds(option, value);
     }},
};

struct CommandRow {
    const char* name;
    Command command;
    unsigned mask;
    int positionals;       // how many input files it takes (kAnyNumber: any)
    const char* synopsis;  // what follows the command's name
    const char* summary;
};

constexpr int kAnyNumber = -1;

const CommandRow kCommands[] = {
    {"render", Command::Render, kRender, 1, "MAIN -o OUT [options]",
     "composite every frame of MAIN into the video OUT"},
    {"frame", Command::Frame, kFrame, 1, "MAIN --at N -o OUT.png [options]",
     "composite frame N of MAIN into the picture OUT.png"},
    {"demo", Command::Demo, kDemo, 0, "[-o DIR]",
     "render the built-in demo into DIR (demo.mkv and demo.png; default demo-output)"},
    {"edit", Command::Edit, kEdit, 1, "MAIN [-o OUT] [--settings FILE] [options]",
     "serve a page on this machine's loopback interface that shows MAIN composited and "
     "places the overlay by dragging, with every setting; it gives back the render command "
     "line, the host script line and a settings file, and renders to OUT"},
    {"place", Command::Place, kPlace, 1,
     "MAIN [--overlay FILE] [--position ANCHOR] [--margin N] [--size WxH]",
     "print the mask a placement gives on MAIN and the plug-in host's script line "
     "Config(l,t,r,b) for it"},
    {"segments", Command::Segments, kSegments, 2,
     "MAIN N [--json | --slurm -o OUT] [--manifest FILE] [-- options]",
     "print where a render of MAIN cut into N segments is cut (index, first and last frame, "
     "start and end time); --slurm prints a Slurm job script for the whole job; --manifest "
     "writes what the segments need to read only their part of MAIN"},
    {"join", Command::Join, kJoin, kAnyNumber, "PARTS... | --parts DIR -o OUT [options]",
     "stitch the segments of one render into OUT without re-encoding, with the main video's "
     "audio, subtitles, chapters and metadata; refuses a set that is incomplete or mixed"},
};

// What the help and the manual page say before the options.
const char* const kDescription[] = {
    "The output's container follows its extension: .mkv, .avi and .nut hold lossless FFV1, "
    ".mp4 and .mov hold H.264, unless --codec names another. '--format null' composites "
    "every frame and writes nothing (for timing). Size, pixel format, depth, colour, frame "
    "times and aspect follow MAIN, and its audio and subtitles are copied over unchanged "
    "(audio the container cannot hold is re-encoded, with a note); every stream and chapter "
    "keeps its own times; outside the area the overlay, its border and its shadow cover, "
    "every sample is kept exactly as it was. A MAIN whose display matrix turns it (phone "
    "footage) is turned upright first, sample for sample, and written upright; "
    "--keep-rotation keeps it as stored, with its display matrix.",
    "--corner-radius N rounds the overlay's corners, and its border and shadow follow: the "
    "edge pixels are blended by the exact share of each that lies inside the circle; 0 (the "
    "default) is the square picture. --overlay-audio mix mixes the overlay's sound into the "
    "main's audio while the overlay shows (timed by its range, offset, repeat and fades, at "
    "--overlay-volume, with the main lowered by --duck meanwhile) and re-encodes that audio; "
    "without it the main's audio is copied. Levels are dB (-6dB) or factors (0.5); a "
    "reversed overlay has no sound to mix.",
    "OUT is written to a hidden part file beside it and takes its name only once complete; "
    "an existing OUT is replaced only with -y or after a yes on the terminal, and -n never "
    "replaces it.",
    "Settings not given take the defaults that the filter's configuration dialog (its "
    "settings dialog in the plug-in host) shows when first opened; the border and the shadow "
    "are drawn only when --border N (N > 0) or --shadow STYLE is given, and their other "
    "options only tune them. A host script is the plug-in host's processing script, in which "
    "the filter saves its mask as a line Config(l,t,r,b); --script reads the mask from it.",
    "edit serves a page on the loopback interface (127.0.0.1 and ::1) and prints its "
    "address, which carries a secret token: the page shows MAIN composited, places the "
    "overlay by dragging it on the picture, has every setting, and gives back the render "
    "command line, the host script line and the settings file; it renders to OUT. It runs "
    "until the page's Quit or Ctrl-C. A settings file (--settings) is JSON: "
    "{\"format\": \"quillmere-settings\", \"version\": 1, ...} with the settings by name; the "
    "options given with it win over it.",
    "Placement: without --mask, --script or a placement option, the overlay goes "
    "bottom-right, a third of the main's width wide with its display aspect kept (an overlay "
    "too tall for that as high as the frame less the margins), 2% of the main's width from "
    "the edges, stretched to fit (without --overlay a black placeholder of "
    "the main's shape stands in). A mask that draws nothing (empty, inverted, off the frame) "
    "is refused. A still picture (PNG, JPEG, ...) is shown for the whole clip; other overlays "
    "play at their own timing, and an alpha channel is blended.",
};

const ExitStatusDoc kExitStatuses[] = {
    {"0", "done"},
    {"1", "the job failed, or an existing output was kept"},
    {"2", "a bad command line"},
    {"128+N", "stopped by signal N: 129 SIGHUP, 130 SIGINT, 131 SIGQUIT, 143 SIGTERM "
              "(nothing is left under the output name)"},
};

const OptionRow* FindOption(const std::string& name) {
    for (const OptionRow& option : kOptions) {
        if (option.name == nullptr) {
            continue;  // a setting with no option of its own
        }
        if (name == option.name || (option.shortName != nullptr && name == option.shortName)) {
            return &option;
        }
    }
    return nullptr;
}

// Edits between two words: a letter added, left out or changed, or two
// neighbours swapped (the commonest slip of the fingers).
std::size_t EditDistance(const std::string& from, const std::string& to) {
    const std::size_t columns = to.size() + 1;
    std::vector<std::size_t> table((from.size() + 1) * columns);
    const auto at = [&table, columns](std::size_t line, std::size_t column) -> std::size_t& {
        return table[line * columns + column];
    };
    for (std::size_t line = 0; line <= from.size(); ++line) {
        for (std::size_t column = 0; column <= to.size(); ++column) {
            if (line == 0 || column == 0) {
                at(line, column) = line + column;
                continue;
            }
            const bool same = from[line - 1] == to[column - 1];
            std::size_t best = std::min({at(line - 1, column) + 1, at(line, column - 1) + 1,
                                         at(line - 1, column - 1) + (same ? 0 : 1)});
            if (line > 1 && column > 1 && from[line - 1] == to[column - 2] &&
                from[line - 2] == to[column - 1]) {
                best = std::min(best, at(line - 2, column - 2) + 1);
            }
            at(line, column) = best;
        }
    }
    return at(from.size(), to.size());
}

// The option whose name is nearest `name`, for a misspelling: within two
// edits and less than a third of the name, those of `command` first; null
// when none is that near.
const OptionRow* NearestOption(const std::string& name, unsigned command) {
    constexpr std::size_t kMostEdits = 2;
    constexpr std::size_t kShareOfName = 3;
    const OptionRow* nearest = nullptr;
    std::size_t best = kMostEdits + 1;
    bool bestApplies = false;
    for (const OptionRow& option : kOptions) {
        if (option.name == nullptr) {
            continue;
        }
        const std::size_t distance = EditDistance(name, option.name);
        const bool applies = (option.commands & command) != 0;
        if (distance * kShareOfName >= std::strlen(option.name) ||
            distance > kMostEdits) {
            continue;
        }
        if (distance < best || (distance == best && applies && !bestApplies)) {
            nearest = &option;
            best = distance;
            bestApplies = applies;
        }
    }
    return nearest;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    return ParseCommandLine(argc, argv, CommandLine());
}

CommandLine ParseCommandLine(int argc, const char* const* argv, const CommandLine& base) {
    CommandLine line = base;
    if (argc < 2) {
        throw UsageError("no command given (try 'quillmere --help')");
    }
    const std::string first = argv[1];
    if (first == "help") {
        line.command = Command::Help;
        return line;
    }
    if (const OptionRow* option = FindOption(first);
        option != nullptr && (option->commands & kStandalone) != 0) {
        option->apply(line, option->name, "");
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
        if (optionsEnded && line.command == Command::Segments) {
            line.renderArguments.push_back(argument);
            continue;
        }
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            if (command->positionals != kAnyNumber && ++positionals > command->positionals) {
                throw UsageError("unexpected argument " + Quoted(argument) + " for " +
                                 command->name);
            }
            if (line.inputs.empty()) {
                line.input = argument;
            }
            line.inputs.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
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
            const OptionRow* nearest = NearestOption(argument, command->mask);
            throw UsageError("unknown option " + Quoted(argument) +
                             (nearest != nullptr ? std::string(" (did you mean ") +
                                                       nearest->name + "?)"
                                                 : std::string()));
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
        if ((option->commands & kStandalone) != 0) {
            return line;  // --help or --version: the rest of the line does not matter
        }
    }

    if (command->positionals != kAnyNumber && positionals < command->positionals) {
        throw UsageError(std::string(command->name) +
                         (line.command == Command::Segments && positionals == 1
                              ? " needs the number of segments (N)"
                              : " needs the main video (MAIN)"));
    }
    if (line.command == Command::Segments) {
        line.segment = SegmentChoice{0, ParseSegmentCount(line.inputs[1])};
        if (line.json && line.slurm) {
            throw UsageError("--json and --slurm print different things; give one of them");
        }
        if (line.slurm && line.output.empty()) {
            throw UsageError("segments --slurm needs the finished video (-o OUT)");
        }
        if (!line.slurm && !line.output.empty()) {
            throw UsageError("-o is for --slurm");
        }
        if (!line.slurm && line.manifestPath.empty() && !line.renderArguments.empty()) {
            throw UsageError("the render options after '--' are for --slurm and --manifest");
        }
    }
    if (line.command == Command::Join) {
        if (line.inputs.empty() && line.partsFolder.empty()) {
            throw UsageError("join needs the segments (PARTS... or --parts DIR)");
        }
        if (line.output.empty()) {
            throw UsageError("join needs an output file (-o OUT)");
        }
        if (line.output == kStandardOutputName) {
            throw UsageError("join writes a file; standard output (-o -) is for render");
        }
    }
    if (line.command == Command::Render && !line.manifestPath.empty() && !line.segment) {
        throw UsageError("--manifest goes with --segment K/N");
    }
    if (line.segment && line.command == Command::Render &&
        (line.output == kStandardOutputName || line.format == kNullFormat)) {
        throw UsageError("--segment writes its segment into a file (-o OUT)");
    }
    if (line.command == Command::Render && line.output.empty() && line.format != kNullFormat) {
        throw UsageError("render needs an output file (-o OUT)");
    }
    if (line.command == Command::Render && line.output == kStandardOutputName) {
        if (line.format.empty()) {
            throw UsageError("writing to standard output (-o -) needs --format, e.g. --format "
                             "matroska or --format nut");
        }
        if (line.progressPath == kStandardOutputName) {
            throw UsageError("standard output holds the video (-o -); send --progress to a file");
        }
    }
    if (line.command == Command::Edit && line.output == kStandardOutputName) {
        throw UsageError("edit renders to a file, not to standard output (-o -)");
    }
    if (line.command == Command::Edit && line.input == kStandardInputName) {
        throw UsageError("edit reads MAIN again at every frame it shows: give a file, not "
                         "standard input");
    }
    if (line.command == Command::Frame) {
        if (!line.times.at) {
            throw UsageError("frame needs the frame number or time (--at N)");
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
    if (!line.keys.empty() && (line.maskGiven || !line.scriptPath.empty())) {
        throw UsageError(std::string(line.maskGiven ? "--mask" : "--script") +
                         " and --key both set the mask; give one of them");
    }
    if (!line.keys.empty() && line.placement.given()) {
        throw UsageError("--position, --margin and --size place the overlay, and --key sets "
                         "the mask too; give one of them");
    }
    if (line.placement.given() && (line.maskGiven || !line.scriptPath.empty())) {
        throw UsageError(std::string("--position, --margin and --size place the overlay, and ") +
                         (line.maskGiven ? "--mask" : "--script") +
                         " sets the mask too; give one of them");
    }
    return line;
}

void ApplyOptionValue(CommandLine& line, const std::string& option, const std::string& value,
                      const std::string& shownAs) {
    const OptionRow* row = FindOption(option);
    if (row == nullptr || row->valueName == nullptr) {
        throw std::logic_error("no option " + option + " takes a value");
    }
    row->apply(line, shownAs, value);
}

const char* TimingName(OverlayTiming timing) {
    return NameOf(static_cast<int>(timing), kTimingChoices);
}

const char* AlphaName(AlphaMode alpha) { return NameOf(static_cast<int>(alpha), kAlphaChoices); }
const char* OverlayTransferName(OverlayTransfer transfer) {
    return NameOf(static_cast<int>(transfer), kOverlayTransferChoices);
}

const char* ScalerName(OverlayScaler scaler, bool bilinear) {
    if (scaler == OverlayScaler::Filter) {
        return NameOf(bilinear ? kBilinearStretch : kNearestStretch, kScalerChoices);
    }
    return NameOf(static_cast<int>(scaler), kScalerChoices);
}

std::vector<std::string> ChoiceNames(const std::string& option) {
    const auto names = [](const auto& choices) {
        std::vector<std::string> list;
        for (const NamedChoice& choice : choices) {
            list.emplace_back(choice.name);
        }
        return list;
    };
    if (option == "--overlay-timing") {
        return names(kTimingChoices);
    }
    if (option == "--overlay-audio") {
        return names(kOverlayAudioChoices);
    }
    if (option == "--alpha") {
        return names(kAlphaChoices);
    }
    if (option == "--overlay-transfer") {
        return names(kOverlayTransferChoices);
    }
    if (option == "--scaler") {
        return names(kScalerChoices);
    }
    if (option == "--position") {
        return std::vector<std::string>(kAnchorNames, kAnchorNames + kAnchorCount);
    }
    if (option == "--shadow") {
        std::vector<std::string> list;
        for (int style = 0; style < kShadowStyleCount; ++style) {
            list.emplace_back(kShadowStyleNames[style].name);
        }
        return list;
    }
    throw std::logic_error("option " + option + " has no fixed list of values");
}

void AddOptionWords(const CommandLine& line, std::vector<std::string>& words) {
    for (const OptionRow& row : kOptions) {
        if (row.write != nullptr) {
            row.write(line, row.name, words);
        }
    }
}

bool IsSettingGroup(const std::string& name) {
    for (const OptionRow& row : kOptions) {
        if (row.setting != nullptr && std::strchr(row.setting, '.') != nullptr &&
            name == std::string(row.setting, std::strchr(row.setting, '.'))) {
            return true;
        }
    }
    return false;
}

void ApplySetting(const std::string& name, const Json& value, SettingsOrigin origin,
                  const std::string& folder, CommandLine& line) {
    for (const OptionRow& row : kOptions) {
        if (row.setting != nullptr && name == row.setting) {
            row.take(line, value,
                     SettingTarget{name, row.name, row.apply, row.minimum, row.maximum, origin,
                                   folder});
            return;
        }
    }
    throw UsageError("unknown setting " + Quoted(name));
}

std::vector<std::string> SettingNames() {
    std::vector<std::string> names;
    for (const OptionRow& row : kOptions) {
        if (row.setting != nullptr) {
            names.emplace_back(row.setting);
        }
    }
    return names;
}

Json SettingFields() {
    Json fields = Json::array();
    for (const OptionRow& row : kOptions) {
        if (row.setting == nullptr) {
            continue;
        }
        Json field = {{"name", row.setting},
                      {"kind", kSettingKindNames[static_cast<int>(row.kind)]}};
        if (row.kind == SettingKind::Integer) {
            field["minimum"] = row.minimum;
            field["maximum"] = row.maximum;
        }
        if (row.kind == SettingKind::Choice) {
            field["choices"] = ChoiceNames(row.name);
        }
        fields.push_back(std::move(field));
    }
    return fields;
}

void AddSettings(const CommandLine& line, Json& document) {
    for (const OptionRow& row : kOptions) {
        if (row.setting == nullptr) {
            continue;
        }
        Json value = row.read(line);
        if (value.is_discarded()) {
            continue;
        }
        const char* dot = std::strchr(row.setting, '.');
        if (dot == nullptr) {
            document[row.setting] = std::move(value);
        } else {
            document[std::string(row.setting, dot)][dot + 1] = std::move(value);
        }
    }
}

std::vector<CommandDoc> CommandDocs() {
    std::vector<CommandDoc> commands;
    for (const CommandRow& row : kCommands) {
        commands.push_back(CommandDoc{row.name, row.synopsis, row.summary});
    }
    return commands;
}

std::vector<OptionDoc> OptionDocs() {
    std::vector<OptionDoc> options;
    for (const OptionRow& row : kOptions) {
        if (row.name == nullptr) {
            continue;
        }
        OptionDoc option;
        option.name = row.name;
        option.shortName = row.shortName != nullptr ? row.shortName : "";
        option.valueName = row.valueName != nullptr ? row.valueName : "";
        option.help = row.help;
        option.standalone = (row.commands & kStandalone) != 0;
        for (const CommandRow& command : kCommands) {
            if ((row.commands & command.mask) != 0) {
                option.commands.emplace_back(command.name);
            }
        }
        options.push_back(std::move(option));
    }
    return options;
}

std::vector<std::string> DescriptionParagraphs() {
    return std::vector<std::string>(std::begin(kDescription), std::end(kDescription));
}

std::vector<ExitStatusDoc> ExitStatusDocs() {
    return std::vector<ExitStatusDoc>(std::begin(kExitStatuses), std::end(kExitStatuses));
}

namespace {

// Words of `text` wrapped to the terminal's customary width, every line
// after the first indented to `indent`; `column` is where the text starts.
void WriteWrapped(std::ostringstream& out, const std::string& text, std::size_t indent,
                  std::size_t column) {
    std::istringstream words(text);
    std::string word;
    bool first = true;
    while (words >> word) {
        if (!first && column + 1 + word.size() > kHelpWidth) {
            out << "\n" << std::string(indent, ' ');
            column = indent;
            first = true;
        }
        out << (first ? "" : " ") << word;
        column += (first ? 0 : 1) + word.size();
        first = false;
    }
    out << "\n";
}

// "  LEFT      text wrapped at the help column".
void WriteEntry(std::ostringstream& out, const std::string& left, const std::string& text) {
    out << left;
    if (left.size() + 1 > kHelpColumn) {
        out << "\n" << std::string(kHelpColumn, ' ');
    } else {
        out << std::string(kHelpColumn - left.size(), ' ');
    }
    WriteWrapped(out, text, kHelpColumn, kHelpColumn);
}

}  // namespace

std::string HelpText() {
    std::ostringstream text;
    text << "Usage:\n";
    for (const CommandRow& command : kCommands) {
        text << "  quillmere " << command.name << " " << command.synopsis << "\n";
    }
    text << "  quillmere --help | --version\n\nCommands:\n";
    for (const CommandRow& command : kCommands) {
        WriteEntry(text, std::string("  ") + command.name, command.summary);
    }
    for (const char* paragraph : kDescription) {
        text << "\n";
        WriteWrapped(text, paragraph, 0, 0);
    }
    text << "\nOptions:\n";
    for (const OptionRow& option : kOptions) {
        if (option.name == nullptr) {
            continue;
        }
        std::string left = "  ";
        if (option.shortName != nullptr) {
            left += std::string(option.shortName) + ", ";
        }
        left += option.name;
        if (option.valueName != nullptr) {
            left += std::string(" ") + option.valueName;
        }
        WriteEntry(text, left, option.help);
    }
    text << "\nShadow styles:\n";
    for (int style = 0; style < kShadowStyleCount; ++style) {
        text << "  " << style << "  " << kShadowStyleNames[style].name;
        text << std::string(24 - std::strlen(kShadowStyleNames[style].name), ' ')
             << kShadowStyleNames[style].summary << "\n";
    }
    text << "\nColours: RRGGBB, #RRGGBB or 0xRRGGBB in hexadecimal, or one of the 148\n"
            "CSS colour names (white, black, red, navy, rebeccapurple, ...).\n";
    text << "\nCodecs (--codec) this FFmpeg writes into each container, its own first:\n";
    for (const OutputFormat& format : OutputFormats()) {
        WriteEntry(text, std::string("  ") + format.extension + " " + format.muxer,
                   CodecChoices(format));
    }
    text << "\nExit status:\n";
    for (const ExitStatusDoc& status : kExitStatuses) {
        WriteEntry(text, std::string("  ") + status.code, status.meaning);
    }
    text << "\nSee also: man quillmere\n";
    return text.str();
}
