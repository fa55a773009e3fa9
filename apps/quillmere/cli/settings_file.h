// Settings as JSON: the settings file that render, frame and edit read with
// --settings, and the changes edit's page sends. Both use one vocabulary,
// and both are checked as the command line is (through the same parsers and
// limits): an unknown name, a value of the wrong kind or out of range is
// refused with a one-line reason.
//
// A settings file:
//
//   {
//     "format": "quillmere-settings",
//     "version": 1,
//     "overlay": "/videos/clip.mp4",
//     "keepRotation": false,
//     "mask": {"left": 10, "top": 20, "right": 330, "bottom": 260},
//     "keepAspect": false,
//     "fit": true, "bilinear": false, "scaler": "nearest",
//     "border": {"on": true, "size": 4, "color": "#ffffff"},
//     "shadow": {"on": false, "style": "gradient-random-fixed", "size": 20,
//                "percent": 45, "shift": 7, "color": "#000000"},
//     "range": {"on": false, "start": 0, "end": 0},
//     "offset": 0, "repeat": false, "reverse": false, "maintainBlack": false,
//     "timing": "time", "alpha": "straight", "opacity": 100, "seed": null,
//     "fadeIn": "0.5s", "fadeOut": null
//   }
//
// "placement": {"position": "bottom-right", "margin": "2%", "size": "33%"}
// stands instead of "mask" when the overlay is placed; its fields are the
// values of --position, --margin and --size, each optional. "keys":
// ["0=1200,80,1840,440", "2s=1560,820,1880,1000:in-out"] stands instead of
// "mask" for a mask that moves, each item as --key takes it. Every other
// name may be left out and then keeps its default. The range and the offset
// are frames; fades are frames or times, as --fade-in and --fade-out take
// them. A mask is in the pictures' stored pixels with keepRotation, else in
// the upright pictures' (see --keep-rotation).
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "apps/quillmere/cli/command_line.h"

// How deeply arrays and objects may nest in JSON read from outside: far
// more than any settings document (three levels), and few enough that no
// copy, comparison or dump of a value runs short of stack.
constexpr int kJsonNestingLimit = 64;

// `text` as JSON. Throws UsageError "malformed JSON: REASON" for anything
// the JSON reader refuses, a number beyond every type included, and
// "JSON nested deeper than 64 levels" for arrays and objects nested beyond
// kJsonNestingLimit, before any value is built.
nlohmann::ordered_json ParseJson(const std::string& text);

// What the file says it is, and the newest version this runner reads.
constexpr const char* kSettingsFormatName = "quillmere-settings";
constexpr int kSettingsVersion = 1;

// Applies the names given in `changes` (a JSON object, nested as in the
// file, without "format" and "version") to `line`; names left out keep
// their values. Throws UsageError naming the first bad name or value;
// `line` is then unchanged. A file's relative overlay path is taken from
// `folder` ("" or a path ending in '/').
void ApplySettingsChanges(const nlohmann::ordered_json& changes, SettingsOrigin origin,
                          const std::string& folder, CommandLine& line);

// The whole settings file for the settings of `line`, "format" and
// "version" first. Times must have been resolved into frames.
nlohmann::ordered_json SettingsDocument(const CommandLine& line);

// Lays the settings of a file's text over `line`. `name` names the file in
// messages, and its folder is where a relative overlay path starts. Throws
// UsageError for text that is not such a file, or that a newer runner wrote.
void ReadSettingsFile(const std::string& text, const std::string& name, CommandLine& line);

// The text of the settings file, ending with a newline.
std::string SettingsFileText(const CommandLine& line);

// What the page's controls are made from: "fields" (every setting's name,
// kind, limits and choices: SettingFields), "shadowStyles" (name, the
// dialog's label, summary, fixedShift, and random: whether the seed
// changes what it draws), and "placementDefaults" (what a placement's
// missing fields stand for).
nlohmann::ordered_json SettingsChoices();
