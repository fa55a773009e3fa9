#include "ui/dialog_template.h"

namespace {
constexpr ControlClass B = ControlClass::Button;
constexpr ControlClass E = ControlClass::Edit;
constexpr ControlClass S = ControlClass::Static;
constexpr ControlClass C = ControlClass::ComboBox;
constexpr int kUnaddressed = IDC_UNADDRESSED;
}  // namespace

const DialogControl kConfigurationControls[kConfigurationControlCount] = {
    {1, B, 0x50010001, "OK", 15, 246, 50, 14},
    {2, B, 0x50010000, "Cancel", 205, 246, 50, 14},
    {IDC_PREVIEW, B, 0x50010000, "Preview", 109, 246, 48, 14},
    {IDC_DRAW, B, 0x50021009, "Draw", 20, 20, 33, 10},
    {IDC_MOVE, B, 0x50001009, "Move", 20, 33, 34, 10},
    {IDC_STATUS, S, 0x50020000,
     "Draw on the preview window.  Mouse down to start drawing, mouse up to stop.", 69, 20, 185,
     22},
    {kUnaddressed, B, 0x58000007, "", 101, 58, 42, 35},
    {kUnaddressed, S, 0x50020002, "Top:", 105, 49, 16, 8},
    {kUnaddressed, S, 0x50020002, "Left:", 77, 68, 15, 8},
    {kUnaddressed, S, 0x50020002, "Right:", 145, 68, 20, 8},
    {kUnaddressed, S, 0x50020002, "Bottom:", 103, 99, 25, 8},
    {kUnaddressed, S, 0x50020002, "Size:", 190, 68, 15, 8},
    {kUnaddressed, S, 0x50020002, "Frame Cnt.:", 180, 187, 38, 8},
    {kUnaddressed, S, 0x50020002, "Res.:", 180, 197, 38, 8},
    {IDC_BILINEAR, B, 0x50010003, "Bilinear stretch", 15, 94, 88, 13},
    {IDC_FIT_TO_FRAME, B, 0x50010003, "Fit to Frame", 15, 109, 58, 13},
    {IDC_MASK_TEXT, E, 0x50810080, "", 76, 109, 102, 14},
    {IDC_KEEP_ASPECT, B, 0x50010003, "Keep Aspect", 190, 109, 88, 13},
    {IDC_READOUT_TOP, S, 0x50020000, "0", 125, 49, 23, 8},
    {IDC_READOUT_RIGHT, S, 0x50020001, "0", 147, 79, 18, 8},
    {IDC_READOUT_LEFT, S, 0x50020001, "0", 75, 79, 19, 8},
    {IDC_READOUT_BOTTOM, S, 0x50020000, "0", 135, 99, 24, 8},
    {IDC_READOUT_SIZE, S, 0x50020000, "0 x 0", 190, 79, 80, 8},
    {IDC_OVERLAY_LENGTH, S, 0x50020000, "0", 220, 187, 80, 8},
    {IDC_OVERLAY_SIZE, S, 0x50020000, "0 x 0", 220, 197, 80, 8},
    {IDC_OVERLAY_PATH, E, 0x50810880, "", 16, 136, 212, 14},
    {IDC_CHOOSE_OVERLAY, B, 0x50010000, "...", 232, 136, 20, 14},
    {kUnaddressed, S, 0x50020000, "Overlay Video File ", 16, 125, 60, 8},
    {IDC_USE_FRAME_RANGE, B, 0x50010003, "Set Frame Start/End", 15, 155, 78, 13},
    {IDC_FRAME_RANGE, E, 0x50810880, "", 100, 153, 82, 14},
    {IDC_REVERSE, B, 0x50010003, "Rev.", 200, 155, 38, 13},
    {IDC_REPEAT_VIDEO, B, 0x50010003, "Repeat video", 15, 170, 58, 13},
    {IDC_MAINTAIN_BLACK, B, 0x50010003, "Maintain black picture", 88, 170, 88, 13},
    {kUnaddressed, S, 0x50020002, "Frame Off.:", 180, 171, 38, 8},
    {IDC_FRAME_OFFSET, E, 0x50810080, "", 220, 170, 28, 14},
    {IDC_BORDER, B, 0x50010003, "Border", 15, 185, 38, 13},
    {IDC_BORDER_SIZE, E, 0x50810880, "", 55, 183, 22, 14},
    {IDC_BORDER_COLOR, B, 0x50010000, "Border Color", 125, 183, 50, 14},
    {IDC_SHADOW, B, 0x50010003, "Shadow", 15, 210, 48, 13},
    {kUnaddressed, S, 0x50000000, "Size: ", 63, 212, 40, 12},
    {IDC_SHADOW_SIZE, E, 0x50810080, "", 80, 210, 28, 14},
    {kUnaddressed, S, 0x50000000, "%:", 114, 212, 10, 12},
    {IDC_SHADOW_PERCENT, E, 0x50810080, "", 123, 210, 28, 14},
    {IDC_SHADOW_STYLE, C, 0x50210003, "", 154, 210, 100, 88},
    {kUnaddressed, S, 0x50000000, "Fixed shift:", 46, 227, 40, 12},
    {IDC_SHADOW_SHIFT, E, 0x50810080, "", 80, 225, 28, 14},
    {IDC_SHADOW_COLOR, B, 0x50010000, "Shadow Color", 154, 225, 50, 14},
};

const DialogTemplate kConfigurationDialog = {
    IDD_CONFIGURATION,
    "Filter: Quillmere",
    0x80C800C0,
    "MS Sans Serif",
    8,
    265,
    268,
    kConfigurationControls,
    kConfigurationControlCount,
};
