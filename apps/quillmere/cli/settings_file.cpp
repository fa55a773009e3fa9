#include "apps/quillmere/cli/settings_file.h"

#include <cstdint>

#include "apps/quillmere/cli/filter_settings.h"
#include "apps/quillmere/cli/placement_text.h"
#include "apps/quillmere/plan/planning.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"
#include "render/drop_shadow.h"

namespace {

using Json = nlohmann::ordered_json;

// The settings the choice of mask, keys or placement is made between.
constexpr const char* kMaskSetting = "mask";
constexpr const char* kPlacementGroup = "placement";
constexpr const char* kKeysSetting = "keys";

[[noreturn]] void Refuse(const std::string& name, const std::string& expected) {
    throw UsageError(name + " must be " + expected);
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
    for (const auto& [key, value] : changes.items()) {
        if (!IsSettingGroup(key)) {
            ApplySetting(key, value, origin, folder, result);
            continue;
        }
        if (!value.is_object()) {
            Refuse(key, "an object");
        }
        if (key == kPlacementGroup) {
            // Even an empty placement places the overlay, by the defaults.
            result.maskGiven = false;
        }
        for (const auto& [field, fieldValue] : value.items()) {
            ApplySetting(key + "." + field, fieldValue, origin, folder, result);
        }
    }
    if (changes.contains(kMaskSetting) && changes.contains(kPlacementGroup)) {
        throw UsageError("mask and placement both set the mask; give one of them");
    }
    if (changes.contains(kKeysSetting) &&
        (changes.contains(kMaskSetting) || changes.contains(kPlacementGroup))) {
        throw UsageError(std::string(changes.contains(kMaskSetting) ? "mask" : "placement") +
                         " and keys both set the mask; give one of them");
    }
    CheckRange(result.settings);
    line = result;
}

Json SettingsDocument(const CommandLine& line) {
    Json document;
    document["format"] = kSettingsFormatName;
    document["version"] = kSettingsVersion;
    AddSettings(line, document);
    if (PlacesOverlay(line) && !document.contains(kPlacementGroup)) {
        // A placement is written even when every field takes its default.
        document[kPlacementGroup] = Json::object();
    }
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
                              {"fixedShift", kShadowStyles[style].fixedShift},
                              {"random", kShadowStyles[style].gradient &&
                                             kShadowStyles[style].randomVariation}});
    }
    return Json{
        {"fields", SettingFields()},
        {"shadowStyles", styles},
        {"placementDefaults",
         Json{{"position", kAnchorNames[static_cast<int>(kDefaultAnchor)]},
              {"margin", PlacementLengthText(PlacementLength{kDefaultMarginPercent, true})},
              {"size", PlacementLengthText(PlacementLength{kDefaultWidthPercent, true})}}}};
}
