// Settings as JSON: the settings file that render, frame and edit read with
// --settings, and the changes the page sends. Both use one vocabulary, and
// both are checked as the command line is: an unknown name, a value of the
// wrong kind or out of range is refused with a one-line reason.
//
// A settings file:
//
//   {
//     "format": "quillmere-settings",
//     "version": 1,
//     "overlay": "/videos/clip.mp4",
//     "mask": {"left": 10, "top": 20, "right": 330, "bottom": 260},
//     "keepAspect": false,
//     "fit": true, "bilinear": false, "scaler": "filter",
//     "border": {"on": true, "size": 4, "color": "#ffffff"},
//     "shadow": {"on": false, "style": "gradient-random-fixed", "size": 20,
//                "percent": 45, "shift": 7, "color": "#000000"},
//     "range": {"on": false, "start": 0, "end": 0},
//     "offset": 0, "repeat": false, "reverse": false, "maintainBlack": false,
//     "timing": "time", "alpha": "straight", "opacity": 100
//   }
//
// "placement": {"position": "bottom-right", "margin": "2%", "size": "33%"}
// stands instead of "mask" when the overlay is placed; its fields are the
// values of --position, --margin and --size, each optional. Every other
// name may be left out and then keeps its default.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "apps/quillmere/edit/edit_settings.h"

// What the file says it is, and the newest version this runner reads.
constexpr const char* kSettingsFormatName = "quillmere-settings";
constexpr int kSettingsVersion = 1;

// Where a change comes from: a file may name the overlay; the page may not.
enum class SettingsOrigin { File, Page };

// Applies the names given in `changes` (a JSON object, nested as in the
// file, without "format" and "version") to `settings`; names left out keep
// their values. Throws UsageError naming the first bad name or value;
// `settings` is then unchanged. A file's relative overlay path is taken
// from `folder` ("" or a path ending in '/').
void ApplySettingsChanges(const nlohmann::ordered_json& changes, SettingsOrigin origin,
                          const std::string& folder, EditSettings& settings);

// The whole settings file for `settings`, "format" and "version" first.
nlohmann::ordered_json SettingsDocument(const EditSettings& settings);

// The settings a file's text gives, from the defaults. `name` names the
// file in messages, and its folder is where a relative overlay path starts.
// Throws UsageError for text that is not such a file, or that a newer
// runner wrote.
EditSettings ParseSettingsFile(const std::string& text, const std::string& name);

// The text of the settings file, ending with a newline.
std::string SettingsFileText(const EditSettings& settings);

// The values that the settings of a fixed list may take, for the page's
// lists: "anchors", "scalers", "alpha", "timing" (arrays of names) and
// "shadowStyles" (name, the dialog's label, summary, fixedShift), and
// "placementDefaults" (what a placement's missing fields stand for).
nlohmann::ordered_json SettingsChoices();
