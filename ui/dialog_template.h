// The configuration dialog's template as data: what the resource script
// compiles into the module, in template (tab) order. The tests' window model
// builds its dialog from it, and the compiled resource can be checked
// against it.
#pragma once

#include <cstdint>

#include "ui/dialog_ids.h"

enum class ControlClass { Button, Edit, Static, ComboBox };

struct DialogControl {
    int id;
    ControlClass controlClass;
    std::uint32_t style;
    const char* caption;
    short x, y, width, height;  // dialog units
};

struct DialogTemplate {
    int resource;
    const char* caption;
    std::uint32_t style;
    const char* fontName;
    int fontPoints;
    short width, height;  // dialog units
    const DialogControl* controls;
    int controlCount;
};

// Control style bits that the dialog's behaviour depends on.
constexpr std::uint32_t kStyleDisabled = 0x08000000;     // WS_DISABLED
constexpr std::uint32_t kStyleEditReadOnly = 0x0800;     // ES_READONLY
constexpr std::uint32_t kStyleButtonTypeMask = 0x000F;   // BS_TYPEMASK
constexpr std::uint32_t kStyleAutoCheckBox = 0x0003;     // BS_AUTOCHECKBOX
constexpr std::uint32_t kStyleAutoRadioButton = 0x0009;  // BS_AUTORADIOBUTTON
constexpr std::uint32_t kStyleGroup = 0x00020000;        // WS_GROUP

constexpr int kConfigurationControlCount = 47;
extern const DialogControl kConfigurationControls[kConfigurationControlCount];
extern const DialogTemplate kConfigurationDialog;
