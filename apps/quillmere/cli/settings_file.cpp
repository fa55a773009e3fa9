#include "apps/quillmere/cli/settings_file.h"

#include <cstdint>
#include <cstdio>
#include <limits>

#include "apps/quillmere/cli/filter_settings.h"
#include "apps/quillmere/cli/placement_text.h"
#include "apps/quillmere/plan/planning.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"
#include "render/drop_shadow.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

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

// Settings that are the dialog's check boxes.
struct FlagRow {
    const char* name;
    std::int32_t FilterData::*member;
};
const FlagRow kFlags[] = {
    {"keepAspect", &FilterData::keepAspect},
    {"fit", &FilterData::fitToFrame},
    {"bilinear", &FilterData::bilinear},
    {"repeat", &FilterData::repeatVideo},
    {"reverse", &FilterData::reverse},
    {"maintainBlack", &FilterData::maintainBlack},
    {"border.on", &FilterData::borderOn},
    {"shadow.on", &FilterData::shadowOn},
    {"range.on", &FilterData::useFrameRange},
};

// Settings that are numbers the command line sets together with something
// else (--border turns the border on, --range the range): the same limits,
// this one field alone.
struct NumberRow {
    const char* name;
    std::int32_t FilterData::*member;
    std::int64_t minimum;
    std::int64_t maximum;
};
const NumberRow kNumbers[] = {
    {"border.size", &FilterData::borderSize, 0, kCoordinateLimit},
    {"offset", &FilterData::frameOffset, kInt32Min, kInt32Max},
    {"range.start", &FilterData::rangeStart, 0, kInt32Max},
    {"range.end", &FilterData::rangeEnd, 0, kInt32Max},
};

// Settings that are exactly what an option sets: its parser reads them.
struct OptionRow {
    const char* name;
    const char* option;
    bool integer;  // a JSON integer, else text
};
const OptionRow kOptionSettings[] = {
    {"border.color", "--border-color", false},
    {"shadow.size", "--shadow-size", true},
    {"shadow.percent", "--shadow-percent", true},
    {"shadow.shift", "--shadow-shift", true},
    {"shadow.color", "--shadow-color", false},
    {"scaler", "--scaler", false},
    {"alpha", "--alpha", false},
    {"timing", "--overlay-timing", false},
    {"opacity", "--opacity", true},
    {"seed", "--seed", true},
    {"fadeIn", "--fade-in", false},
    {"fadeOut", "--fade-out", false},
    {"placement.position", "--position", false},
    {"placement.margin", "--margin", false},
    {"placement.size", "--size", false},
};

const char* const kMaskCorners[] = {"left", "top", "right", "bottom"};
std::int32_t FilterData::*const kMaskMembers[] = {&FilterData::maskLeft, &FilterData::maskTop,
                                                  &FilterData::maskRight,
                                                  &FilterData::maskBottom};

// Names of the settings that are objects of their own.
const char* const kGroups[] = {"border", "shadow", "range", "mask", "placement"};

bool IsGroup(const std::string& key) {
    for (const char* group : kGroups) {
        if (key == group) {
            return true;
        }
    }
    return false;
}

std::string ColorText(COLORREF color) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", static_cast<unsigned>(color & 0xFF),
                  static_cast<unsigned>((color >> 8) & 0xFF),
                  static_cast<unsigned>((color >> 16) & 0xFF));
    return text;
}

// A null placement field takes its default again.
void ResetPlacementField(const std::string& name, PlacementRequest& placement) {
    if (name == "placement.position") {
        placement.anchor.reset();
    } else if (name == "placement.margin") {
        placement.margin.reset();
    } else {
        placement.width.reset();
        placement.height.reset();
    }
}

void ApplyMask(const Json& changes, CommandLine& line) {
    std::int32_t corners[4];
    for (int index = 0; index < 4; ++index) {
        const std::string name = std::string("mask.") + kMaskCorners[index];
        if (!changes.contains(kMaskCorners[index])) {
            Refuse("mask", "an object with left, top, right and bottom");
        }
        corners[index] = static_cast<std::int32_t>(ReadInteger(
            changes.at(kMaskCorners[index]), name, -kCoordinateLimit, kCoordinateLimit));
    }
    for (const auto& item : changes.items()) {
        bool known = false;
        for (const char* corner : kMaskCorners) {
            known = known || item.key() == corner;
        }
        if (!known) {
            throw UsageError("unknown setting " + Quoted("mask." + item.key()));
        }
    }
    for (int index = 0; index < 4; ++index) {
        line.settings.*kMaskMembers[index] = corners[index];
    }
    line.maskGiven = true;
    line.placement = PlacementRequest{};
}

void ApplyOverlay(const Json& value, SettingsOrigin origin, const std::string& folder,
                  CommandLine& line) {
    if (origin == SettingsOrigin::Page) {
        throw UsageError("the overlay is chosen on the command line, not by the page");
    }
    if (value.is_null()) {
        line.overlayPath.clear();
        return;
    }
    const std::string path = ReadText(value, "overlay", "a file's path or null");
    line.overlayPath = path.empty() || path[0] == '/' ? path : folder + path;
}

// One setting outside the mask.
void ApplyField(const std::string& name, const Json& value, SettingsOrigin origin,
                const std::string& folder, CommandLine& line) {
    FilterData& filter = line.settings;
    for (const FlagRow& row : kFlags) {
        if (name == row.name) {
            filter.*row.member = ReadFlag(value, name) ? 1 : 0;
            return;
        }
    }
    for (const NumberRow& row : kNumbers) {
        if (name == row.name) {
            filter.*row.member =
                static_cast<std::int32_t>(ReadInteger(value, name, row.minimum, row.maximum));
            // The frames given here stand; no time given earlier is left to
            // override them.
            if (name == "offset") {
                line.times.offset.reset();
            } else if (name == "range.start" || name == "range.end") {
                line.times.rangeStart.reset();
                line.times.rangeEnd.reset();
            }
            return;
        }
    }
    for (const OptionRow& row : kOptionSettings) {
        if (name != row.name) {
            continue;
        }
        if (value.is_null() && name == "seed") {
            line.seed.reset();  // the clock's seed, as the filter seeds itself
            return;
        }
        if (value.is_null() && (name == "fadeIn" || name == "fadeOut")) {
            (name == "fadeIn" ? line.times.fadeIn : line.times.fadeOut).reset();
            return;
        }
        const bool placement = name.rfind("placement.", 0) == 0;
        if (placement) {
            line.maskGiven = false;
            if (value.is_null()) {
                ResetPlacementField(name, line.placement);
                return;
            }
        }
        ApplyOptionValue(line, row.option,
                         row.integer ? IntegerText(value, name)
                                     : ReadText(value, name, "text, as " + std::string(row.option) +
                                                                 " takes it"),
                         name);
        return;
    }
    if (name == "keepRotation") {
        // The pictures the page shows are turned as the command line said.
        if (origin == SettingsOrigin::Page) {
            throw UsageError("keepRotation is chosen on the command line, not by the page");
        }
        line.keepRotation = ReadFlag(value, name);
    } else if (name == "shadow.style") {
        // A number or a name, as --shadow takes it, without turning the shadow on.
        const std::string text = value.is_number_integer()
                                     ? IntegerText(value, name)
                                     : ReadText(value, name, "a style's name or number");
        filter.shadowType = ParseShadowStyle(name, text);
    } else if (name == "overlay") {
        ApplyOverlay(value, origin, folder, line);
    } else {
        throw UsageError("unknown setting " + Quoted(name));
    }
}

// The frame range as the command line accepts it: an end of 0 means no end,
// any other end lies at or after the start.
void CheckRange(const FilterData& filter) {
    if (filter.rangeEnd != 0 && filter.rangeEnd < filter.rangeStart) {
        Refuse("range.end", "0 (no end) or not below range.start (" +
                                std::to_string(filter.rangeStart) + ")");
    }
}

// Whether arrays and objects in `text` nest deeper than `limit`. Brackets
// are counted outside strings only, as the JSON reader sees them; text that
// is not JSON is left for the reader to refuse (it stops at the first
// closing bracket too many). Counted before parsing, so that nothing deep
// is ever built.
bool NestsDeeperThan(const std::string& text, int limit) {
    int depth = 0;
    bool inString = false;
    for (std::size_t index = 0; index < text.size(); ++index) {
        const char c = text[index];
        if (inString) {
            if (c == '\\') {
                ++index;  // the escaped character cannot end the string
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) {
                return true;
            }
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

}  // namespace

void ApplySettingsChanges(const Json& changes, SettingsOrigin origin, const std::string& folder,
                          CommandLine& line) {
    if (!changes.is_object()) {
        throw UsageError("settings must be a JSON object");
    }
    CommandLine result = line;
    bool maskGiven = false;
    bool placementGiven = false;
    for (const auto& [key, value] : changes.items()) {
        if (!IsGroup(key)) {
            ApplyField(key, value, origin, folder, result);
            continue;
        }
        if (!value.is_object()) {
            Refuse(key, "an object");
        }
        if (key == "mask") {
            ApplyMask(value, result);
            maskGiven = true;
            continue;
        }
        if (key == "placement") {
            // Even an empty placement places the overlay, by the defaults.
            result.maskGiven = false;
            placementGiven = true;
        }
        for (const auto& [field, fieldValue] : value.items()) {
            ApplyField(key + "." + field, fieldValue, origin, folder, result);
        }
    }
    if (maskGiven && placementGiven) {
        throw UsageError("mask and placement both set the mask; give one of them");
    }
    CheckRange(result.settings);
    line = result;
}

Json SettingsDocument(const CommandLine& line) {
    const FilterData& filter = line.settings;
    Json document;
    document["format"] = kSettingsFormatName;
    document["version"] = kSettingsVersion;
    document["overlay"] = line.overlayPath.empty() ? Json(nullptr) : Json(line.overlayPath);
    document["keepRotation"] = line.keepRotation;
    if (PlacesOverlay(line)) {
        Json placement = Json::object();
        const PlacementRequest& request = line.placement;
        if (request.anchor) {
            placement["position"] = kAnchorNames[static_cast<int>(*request.anchor)];
        }
        if (request.margin) {
            placement["margin"] = PlacementLengthText(*request.margin);
        }
        if (request.width || request.height) {
            placement["size"] = PlacementSizeText(request);
        }
        document["placement"] = placement;
    } else {
        Json mask = Json::object();
        for (int index = 0; index < 4; ++index) {
            mask[kMaskCorners[index]] = filter.*kMaskMembers[index];
        }
        document["mask"] = mask;
    }
    document["keepAspect"] = filter.keepAspect != 0;
    document["fit"] = filter.fitToFrame != 0;
    document["bilinear"] = filter.bilinear != 0;
    document["scaler"] = ScalerName(line.scaler, filter.bilinear != 0);
    document["border"] = Json{{"on", filter.borderOn != 0},
                              {"size", filter.borderSize},
                              {"color", ColorText(filter.borderColor)}};
    const bool knownStyle = filter.shadowType >= 0 && filter.shadowType < kShadowStyleCount;
    document["shadow"] = Json{
        {"on", filter.shadowOn != 0},
        {"style", knownStyle ? Json(kShadowStyleNames[filter.shadowType].name)
                             : Json(filter.shadowType)},
        {"size", filter.shadowSize},
        {"percent", filter.shadowPercent},
        {"shift", filter.shadowShift},
        {"color", ColorText(filter.shadowColor)}};
    document["range"] = Json{{"on", filter.useFrameRange != 0},
                             {"start", filter.rangeStart},
                             {"end", filter.rangeEnd}};
    document["offset"] = filter.frameOffset;
    document["repeat"] = filter.repeatVideo != 0;
    document["reverse"] = filter.reverse != 0;
    document["maintainBlack"] = filter.maintainBlack != 0;
    document["timing"] = TimingName(line.timing);
    document["alpha"] = AlphaName(line.alpha);
    document["opacity"] = line.opacityPercent;
    document["seed"] = line.seed ? Json(*line.seed) : Json(nullptr);
    const auto duration = [](const std::optional<FrameOrTime>& value) {
        return value ? Json(value->Text()) : Json(nullptr);
    };
    document["fadeIn"] = duration(line.times.fadeIn);
    document["fadeOut"] = duration(line.times.fadeOut);
    return document;
}

Json ParseJson(const std::string& text) {
    if (NestsDeeperThan(text, kJsonNestingLimit)) {
        throw UsageError("JSON nested deeper than " + std::to_string(kJsonNestingLimit) +
                         " levels");
    }
    try {
        return Json::parse(text);
    } catch (const Json::exception& error) {
        // The library's message starts with its own tag in brackets.
        std::string reason = error.what();
        const std::size_t tagEnd = reason.find("] ");
        if (tagEnd != std::string::npos) {
            reason.erase(0, tagEnd + 2);
        }
        throw UsageError("malformed JSON: " + reason);
    }
}

void ReadSettingsFile(const std::string& text, const std::string& name, CommandLine& line) {
    const std::string where = "settings file " + Quoted(name) + ": ";
    Json document;
    try {
        document = ParseJson(text);
    } catch (const UsageError& error) {
        throw UsageError(where + error.what());
    }
    if (!document.is_object() || !document.contains("format") ||
        document["format"] != kSettingsFormatName) {
        throw UsageError(where + "not a quillmere settings file (it needs \"format\": \"" +
                         kSettingsFormatName + "\")");
    }
    const Json version = document.contains("version") ? document["version"] : Json();
    if (!version.is_number_integer() || version.get<std::int64_t>() < 1) {
        throw UsageError(where + "\"version\" must be a whole number from 1");
    }
    if (version.get<std::int64_t>() > kSettingsVersion) {
        throw UsageError(where + "written by a newer quillmere (settings version " +
                         version.dump() + "; this one reads up to version " +
                         std::to_string(kSettingsVersion) + ")");
    }
    document.erase("format");
    document.erase("version");
    const std::size_t slash = name.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    try {
        ApplySettingsChanges(document, SettingsOrigin::File, folder, line);
    } catch (const UsageError& error) {
        throw UsageError(where + error.what());
    }
}

std::string SettingsFileText(const CommandLine& line) {
    constexpr int kIndent = 2;
    return SettingsDocument(line).dump(kIndent) + "\n";
}

Json SettingsChoices() {
    Json styles = Json::array();
    for (int style = 0; style < kShadowStyleCount; ++style) {
        styles.push_back(Json{{"name", kShadowStyleNames[style].name},
                              {"label", kShadowStyles[style].listText},
                              {"summary", kShadowStyleNames[style].summary},
                              {"fixedShift", kShadowStyles[style].fixedShift}});
    }
    Json anchors = Json::array();
    for (int anchor = 0; anchor < kAnchorCount; ++anchor) {
        anchors.push_back(kAnchorNames[anchor]);
    }
    return Json{
        {"anchors", anchors},
        {"scalers", ChoiceNames("--scaler")},
        {"alpha", ChoiceNames("--alpha")},
        {"timing", ChoiceNames("--overlay-timing")},
        {"shadowStyles", styles},
        {"placementDefaults",
         Json{{"position", kAnchorNames[static_cast<int>(kDefaultAnchor)]},
              {"margin", PlacementLengthText(PlacementLength{kDefaultMarginPercent, true})},
              {"size", PlacementLengthText(PlacementLength{kDefaultWidthPercent, true})}}}};
}
