#include "apps/quillmere/edit/settings_json.h"

#include <cstdint>
#include <cstdio>
#include <limits>

#include "apps/quillmere/edit/placement_text.h"
#include "apps/quillmere/runner_error.h"
#include "render/drop_shadow.h"
#include "hostkit/quoted_text.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kPercentMax = 100;

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

// Settings that are numbers, within the command line's limits.
struct NumberRow {
    const char* name;
    std::int32_t FilterData::*member;
    std::int64_t minimum;
    std::int64_t maximum;
};
const NumberRow kNumbers[] = {
    {"border.size", &FilterData::borderSize, 0, kCoordinateLimit},
    {"shadow.size", &FilterData::shadowSize, 0, kCoordinateLimit},
    {"shadow.percent", &FilterData::shadowPercent, 0, kPercentMax},
    {"shadow.shift", &FilterData::shadowShift, -kCoordinateLimit, kCoordinateLimit},
    {"offset", &FilterData::frameOffset, kInt32Min, kInt32Max},
    {"range.start", &FilterData::rangeStart, 0, kInt32Max},
    {"range.end", &FilterData::rangeEnd, 0, kInt32Max},
};

struct ColorRow {
    const char* name;
    COLORREF FilterData::*member;
};
const ColorRow kColors[] = {
    {"border.color", &FilterData::borderColor},
    {"shadow.color", &FilterData::shadowColor},
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

// A choice among names, stored as an enumeration.
template <typename Enum, std::size_t Count>
Enum ReadChoice(const Json& value, const std::string& name, const char* const (&names)[Count]) {
    std::string list;
    for (const char* choice : names) {
        list += std::string(list.empty() ? "" : ", ") + choice;
    }
    const std::string text = ReadText(value, name, "one of " + list);
    for (std::size_t index = 0; index < Count; ++index) {
        if (text == names[index]) {
            return static_cast<Enum>(index);
        }
    }
    Refuse(name, "one of " + list + ", not " + Quoted(text));
}

// In the order of each enumeration.
const char* const kScalerNames[] = {"filter", "area", "bicubic", "lanczos"};
const char* const kAlphaNames[] = {"straight", "premultiplied", "ignore"};
const char* const kTimingNames[] = {"time", "frames"};

std::string ColorText(COLORREF color) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", static_cast<unsigned>(color & 0xFF),
                  static_cast<unsigned>((color >> 8) & 0xFF),
                  static_cast<unsigned>((color >> 16) & 0xFF));
    return text;
}

void ApplyPlacement(const Json& changes, PlacementRequest& placement) {
    for (const auto& [key, value] : changes.items()) {
        const std::string name = "placement." + key;
        if (key == "position") {
            if (value.is_null()) {
                placement.anchor.reset();
            } else {
                placement.anchor =
                    ParseAnchor(name, ReadText(value, name, "an anchor such as bottom-right"));
            }
        } else if (key == "margin") {
            if (value.is_null()) {
                placement.margin.reset();
            } else {
                placement.margin = ParsePlacementLength(
                    name, ReadText(value, name, "a length such as \"12\" or \"2%\""));
            }
        } else if (key == "size") {
            if (value.is_null()) {
                placement.width.reset();
                placement.height.reset();
            } else {
                ParsePlacementSize(
                    name, ReadText(value, name, "a size such as \"33%\" or \"320x180\""),
                    placement);
            }
        } else {
            throw UsageError("unknown setting " + Quoted(name));
        }
    }
}

void ApplyMask(const Json& changes, FilterData& filter) {
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
        filter.*kMaskMembers[index] = corners[index];
    }
}

void ApplyOverlay(const Json& value, SettingsOrigin origin, const std::string& folder,
                  EditSettings& settings) {
    if (origin == SettingsOrigin::Page) {
        throw UsageError("the overlay is chosen on the command line, not by the page");
    }
    if (value.is_null()) {
        settings.overlayPath.clear();
        return;
    }
    const std::string path = ReadText(value, "overlay", "a file's path or null");
    settings.overlayPath = path.empty() || path[0] == '/' ? path : folder + path;
}

// One setting outside the groups that are objects of their own.
void ApplyField(const std::string& name, const Json& value, SettingsOrigin origin,
                const std::string& folder, EditSettings& settings) {
    FilterData& filter = settings.filter;
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
            return;
        }
    }
    for (const ColorRow& row : kColors) {
        if (name == row.name) {
            filter.*row.member =
                ParseColor(name, ReadText(value, name, "a colour such as \"#ffffff\""));
            return;
        }
    }
    if (name == "shadow.style") {
        const std::string text =
            value.is_number_integer()
                ? std::to_string(ReadInteger(value, name, 0, kShadowStyleCount - 1))
                : ReadText(value, name, "a style name or a number from 0 to 5");
        filter.shadowType = ParseShadowStyle(name, text);
    } else if (name == "scaler") {
        settings.scaler = ReadChoice<OverlayScaler>(value, name, kScalerNames);
    } else if (name == "alpha") {
        settings.alpha = ReadChoice<AlphaMode>(value, name, kAlphaNames);
    } else if (name == "timing") {
        settings.timing = ReadChoice<OverlayTiming>(value, name, kTimingNames);
    } else if (name == "opacity") {
        settings.opacityPercent = static_cast<int>(ReadInteger(value, name, 0, kPercentMax));
    } else if (name == "overlay") {
        ApplyOverlay(value, origin, folder, settings);
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

}  // namespace

void ApplySettingsChanges(const Json& changes, SettingsOrigin origin, const std::string& folder,
                          EditSettings& settings) {
    if (!changes.is_object()) {
        throw UsageError("settings must be a JSON object");
    }
    EditSettings result = settings;
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
            ApplyMask(value, result.filter);
            maskGiven = true;
        } else if (key == "placement") {
            if (!result.placement) {
                result.placement.emplace();
            }
            ApplyPlacement(value, *result.placement);
            placementGiven = true;
        } else {
            for (const auto& [field, fieldValue] : value.items()) {
                ApplyField(key + "." + field, fieldValue, origin, folder, result);
            }
        }
    }
    if (maskGiven && placementGiven) {
        throw UsageError("mask and placement both set the mask; give one of them");
    }
    if (maskGiven) {
        result.placement.reset();
    }
    CheckRange(result.filter);
    settings = result;
}

Json SettingsDocument(const EditSettings& settings) {
    const FilterData& filter = settings.filter;
    Json document;
    document["format"] = kSettingsFormatName;
    document["version"] = kSettingsVersion;
    document["overlay"] = settings.overlayPath.empty() ? Json(nullptr) : Json(settings.overlayPath);
    if (settings.placement) {
        Json placement = Json::object();
        const PlacementRequest& request = *settings.placement;
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
    document["scaler"] = kScalerNames[static_cast<int>(settings.scaler)];
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
    document["timing"] = kTimingNames[static_cast<int>(settings.timing)];
    document["alpha"] = kAlphaNames[static_cast<int>(settings.alpha)];
    document["opacity"] = settings.opacityPercent;
    return document;
}

EditSettings ParseSettingsFile(const std::string& text, const std::string& name) {
    const std::string where = "settings file " + Quoted(name) + ": ";
    Json document;
    try {
        document = Json::parse(text);
    } catch (const Json::parse_error& error) {
        // The library's message starts with its own tag in brackets.
        std::string reason = error.what();
        const std::size_t tagEnd = reason.find("] ");
        if (tagEnd != std::string::npos) {
            reason.erase(0, tagEnd + 2);
        }
        throw UsageError(where + "not JSON: " + reason);
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
    EditSettings settings;
    try {
        ApplySettingsChanges(document, SettingsOrigin::File, folder, settings);
    } catch (const UsageError& error) {
        throw UsageError(where + error.what());
    }
    return settings;
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
    return Json{{"anchors", anchors},
                {"scalers", kScalerNames},
                {"alpha", kAlphaNames},
                {"timing", kTimingNames},
                {"shadowStyles", styles},
                {"placementDefaults",
                 Json{{"position", kAnchorNames[static_cast<int>(kDefaultAnchor)]},
                      {"margin", PlacementLengthText(PlacementLength{kDefaultMarginPercent, true})},
                      {"size", PlacementLengthText(PlacementLength{kDefaultWidthPercent, true})}}}};
}

std::string SettingsFileText(const EditSettings& settings) {
    constexpr int kIndent = 2;
    return SettingsDocument(settings).dump(kIndent) + "\n";
}
