#include "ui/config_dialog.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "render/drop_shadow.h"
#include "source/overlay_source.h"
#include "ui/dialog_ids.h"
#include "ui/mask_text.h"
#include "ui/position_readouts.h"
#include "ui/preview_editor.h"
#include "ui/preview_redraw.h"
#include "ui/text_scan.h"

namespace {

// A field's text is read as at most 255 characters and the NUL.
constexpr int kFieldTextCapacity = 256;

// The colour chooser's request as the platform's classic 32-bit layout has it,
// starting on the current colour (CC_RGBINIT) with the custom colours open
// (CC_FULLOPEN).
constexpr DWORD kChooseColorRequestSize = 36;
constexpr DWORD kChooseColorFlags = 0x00000001 | 0x00000002;
constexpr int kCustomColorCount = 16;

// The first opening of a record writes these, in this order. Every field here
// is 32 bits wide.
struct FieldDefault {
    std::size_t offset;
    std::uint32_t value;
};

constexpr FieldDefault kFirstOpenDefaults[] = {
    {offsetof(FilterData, borderColor), 0xFFFFFF},
    {offsetof(FilterData, borderSize), 1},
    {offsetof(FilterData, defaultsApplied), 1},
    {offsetof(FilterData, shadowOn), 0},
    {offsetof(FilterData, shadowSize), 20},
    {offsetof(FilterData, shadowPercent), 45},
    {offsetof(FilterData, shadowType), 3},
    {offsetof(FilterData, shadowShift), 7},
    {offsetof(FilterData, shadowColor), 0x000000},
};

static_assert(sizeof(COLORREF) == 4 && sizeof(std::int32_t) == 4,
              "the defaults are written as 32-bit words");

// The colour samples: fixed pixel positions in the dialog's client area.
struct ColorSwatch {
    COLORREF FilterData::*color;
    int x;
    int y;
};

constexpr ColorSwatch kColorSwatches[] = {
    {&FilterData::borderColor, 130, 300},  // kBorderSwatch
    {&FilterData::shadowColor, 174, 370},  // kShadowSwatch
};

constexpr char kSwatchText[] = "COLOR";

// Edit fields are made read-only (they stay focusable); buttons and the list
// are disabled.
enum class Gate { Editable, Enabled };

struct EnablingRule {
    int control;
    Gate gate;
    bool (*open)(const FilterData& record);
};

bool FrameRangeOn(const FilterData& record) { return record.useFrameRange != 0; }
bool BorderOn(const FilterData& record) { return record.borderOn != 0; }
bool ShadowOn(const FilterData& record) { return record.shadowOn != 0; }
// Styles 3, 4 and 5 shift the shadow by the fixed amount.
bool FixedShiftOn(const FilterData& record) {
    return record.shadowOn != 0 && record.shadowType > 2;
}

constexpr EnablingRule kEnablingRules[] = {
    {IDC_FRAME_RANGE, Gate::Editable, &FrameRangeOn},
    {IDC_BORDER_SIZE, Gate::Editable, &BorderOn},
    {IDC_BORDER_COLOR, Gate::Enabled, &BorderOn},
    {IDC_SHADOW_SIZE, Gate::Editable, &ShadowOn},
    {IDC_SHADOW_PERCENT, Gate::Editable, &ShadowOn},
    {IDC_SHADOW_STYLE, Gate::Enabled, &ShadowOn},
    {IDC_SHADOW_SHIFT, Gate::Editable, &FixedShiftOn},
    {IDC_SHADOW_COLOR, Gate::Enabled, &ShadowOn},
};

void ApplyEnablingRules(HWND dialog, const FilterData& record) {
    WindowSystem& windows = CurrentWindowSystem();
    for (const EnablingRule& rule : kEnablingRules) {
        const bool open = rule.open(record);
        if (rule.gate == Gate::Editable) {
            windows.SetReadOnly(dialog, rule.control, !open);
        } else {
            windows.EnableControl(dialog, rule.control, open);
        }
    }
}

void ShowNumber(HWND dialog, int control, std::int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    CurrentWindowSystem().SetControlText(dialog, control, text);
}

void ShowPair(HWND dialog, int control, const char* format, std::int32_t first,
              std::int32_t second) {
    char text[32];
    std::snprintf(text, sizeof text, format, static_cast<int>(first), static_cast<int>(second));
    CurrentWindowSystem().SetControlText(dialog, control, text);
}

void ShowEditMode(HWND dialog, const FilterData& record) {
    CurrentWindowSystem().SetControlText(dialog, IDC_STATUS,
                                         record.moveMode != 0 ? kMoveStatusText : kDrawStatusText);
}

void ShowMaskPosition(HWND dialog, const FilterData& record) {
    UpdatePositionFields(dialog, record.maskLeft, record.maskTop, record.maskRight,
                         record.maskBottom, record);
}

struct FieldText {
    char text[kFieldTextCapacity];
};

FieldText ReadFieldText(HWND dialog, int control) {
    FieldText field;
    CurrentWindowSystem().GetControlText(dialog, control, field.text, kFieldTextCapacity);
    field.text[kFieldTextCapacity - 1] = '\0';
    return field;
}

// The end of the dialog, by OK or Cancel (the close box and Escape come as
// Cancel): the preview must not go on editing through this record or
// writing into this dialog.
void FinishDialog(HWND dialog, FilterData& record, INT_PTR result) {
    EndPreviewEditing(record);
    WindowSystem& windows = CurrentWindowSystem();
    if (record.dialogDC != nullptr) {
        windows.ReleaseDeviceContext(dialog, record.dialogDC);
        record.dialogDC = nullptr;
    }
    windows.EndModalDialog(dialog, result);
}

// One row of the command table: what a control's notification does, whether
// the preview is redrawn afterwards and what the dialog procedure returns.
enum class Redraw { Never, Always, WhenChosen };

struct Command;
// Returns true when the user confirmed a choice (colour, file).
using CommandAction = bool (*)(const Command& command, HWND dialog, FilterData& record);

struct Command {
    int control;
    CommandAction action;
    std::int32_t FilterData::*field;  // the field of a tick or number row
    Redraw redraw;
    INT_PTR result;
};

bool EndWithOk(const Command&, HWND dialog, FilterData& record) {
    record.moveMode = CurrentWindowSystem().IsChecked(dialog, IDC_MOVE) ? 1 : 0;
    FinishDialog(dialog, record, 0);
    return false;
}

bool EndWithCancel(const Command&, HWND dialog, FilterData& record) {
    FinishDialog(dialog, record, 1);
    return false;
}

bool TogglePreview(const Command&, HWND dialog, FilterData& record) {
    if (record.preview != nullptr) {
        record.preview->methods->Toggle(record.preview, dialog);
    }
    return false;
}

bool StoreEditMode(const Command&, HWND dialog, FilterData& record) {
    record.moveMode = CurrentWindowSystem().IsChecked(dialog, IDC_MOVE) ? 1 : 0;
    ShowEditMode(dialog, record);
    return false;
}

bool StoreTick(const Command& command, HWND dialog, FilterData& record) {
    record.*command.field = CurrentWindowSystem().IsChecked(dialog, command.control) ? 1 : 0;
    return false;
}

bool StoreGatingTick(const Command& command, HWND dialog, FilterData& record) {
    StoreTick(command, dialog, record);
    ApplyEnablingRules(dialog, record);
    return false;
}

bool ReadNumberField(const Command& command, HWND dialog, FilterData& record) {
    ReadNumber(ReadFieldText(dialog, command.control).text, record.*command.field);
    return false;
}

bool ReadFrameRange(const Command&, HWND dialog, FilterData& record) {
    ReadNumberPair(ReadFieldText(dialog, IDC_FRAME_RANGE).text, record.rangeStart,
                   record.rangeEnd);
    return false;
}

bool ReadMask(const Command&, HWND dialog, FilterData& record) {
    ReadMaskText(ReadFieldText(dialog, IDC_MASK_TEXT).text, record);
    ShowMaskPosition(dialog, record);
    return false;
}

bool StoreShadowStyle(const Command&, HWND dialog, FilterData& record) {
    const int selected = CurrentWindowSystem().SelectedListItem(dialog, IDC_SHADOW_STYLE);
    if (selected != -1) {
        record.shadowType = selected;
    }
    ApplyEnablingRules(dialog, record);
    return false;
}

bool ChooseSwatchColor(HWND dialog, FilterData& record, int which) {
    COLORREF& color = record.*kColorSwatches[which].color;
    // Made afresh for every choice: only the current colour is offered.
    COLORREF customColors[kCustomColorCount] = {color};
    ChooseColorRequest request;
    std::memset(&request, 0, sizeof request);
    request.lStructSize = kChooseColorRequestSize;
    request.hwndOwner = dialog;
    request.rgbResult = color;
    request.lpCustColors = customColors;
    request.Flags = kChooseColorFlags;
    if (CurrentWindowSystem().ChooseColor(&request) == 0) {
        return false;
    }
    color = request.rgbResult;
    PaintColorSwatches(record.dialogDC, record, which);
    return true;
}

bool ChooseBorderColor(const Command&, HWND dialog, FilterData& record) {
    return ChooseSwatchColor(dialog, record, kBorderSwatch);
}

bool ChooseShadowColor(const Command&, HWND dialog, FilterData& record) {
    return ChooseSwatchColor(dialog, record, kShadowSwatch);
}

bool ChooseOverlay(const Command&, HWND dialog, FilterData& record) {
    const char* chosen = ChooseOverlayFile(dialog, record.overlayPath);
    if (chosen == nullptr) {
        return false;
    }
    CurrentWindowSystem().SetControlText(dialog, IDC_OVERLAY_PATH, chosen);
    std::snprintf(record.overlayPath, sizeof record.overlayPath, "%s", chosen);
    OpenOverlayFile(record.overlayPath, record);
    return true;
}

const Command kCommands[] = {
    {IDOK, &EndWithOk, nullptr, Redraw::Never, 1},
    {IDCANCEL, &EndWithCancel, nullptr, Redraw::Never, 0},
    {IDC_PREVIEW, &TogglePreview, nullptr, Redraw::Never, 1},
    {IDC_DRAW, &StoreEditMode, nullptr, Redraw::Never, 1},
    {IDC_MOVE, &StoreEditMode, nullptr, Redraw::Never, 1},
    {IDC_FIT_TO_FRAME, &StoreTick, &FilterData::fitToFrame, Redraw::Always, 1},
    {IDC_CHOOSE_OVERLAY, &ChooseOverlay, nullptr, Redraw::WhenChosen, 1},
    {IDC_MASK_TEXT, &ReadMask, nullptr, Redraw::Always, 1},
    {IDC_USE_FRAME_RANGE, &StoreGatingTick, &FilterData::useFrameRange, Redraw::Always, 1},
    {IDC_FRAME_RANGE, &ReadFrameRange, nullptr, Redraw::Always, 1},
    {IDC_REPEAT_VIDEO, &StoreTick, &FilterData::repeatVideo, Redraw::Always, 1},
    {IDC_MAINTAIN_BLACK, &StoreTick, &FilterData::maintainBlack, Redraw::Always, 1},
    {IDC_BORDER, &StoreGatingTick, &FilterData::borderOn, Redraw::Always, 1},
    {IDC_BORDER_SIZE, &ReadNumberField, &FilterData::borderSize, Redraw::Always, 1},
    {IDC_BORDER_COLOR, &ChooseBorderColor, nullptr, Redraw::WhenChosen, 1},
    {IDC_KEEP_ASPECT, &StoreTick, &FilterData::keepAspect, Redraw::Never, 1},
    {IDC_FRAME_OFFSET, &ReadNumberField, &FilterData::frameOffset, Redraw::Always, 1},
    {IDC_REVERSE, &StoreTick, &FilterData::reverse, Redraw::Always, 1},
    {IDC_BILINEAR, &StoreTick, &FilterData::bilinear, Redraw::Always, 1},
    {IDC_SHADOW, &StoreGatingTick, &FilterData::shadowOn, Redraw::Always, 1},
    {IDC_SHADOW_SIZE, &ReadNumberField, &FilterData::shadowSize, Redraw::Always, 1},
    {IDC_SHADOW_PERCENT, &ReadNumberField, &FilterData::shadowPercent, Redraw::Always, 1},
    {IDC_SHADOW_STYLE, &StoreShadowStyle, nullptr, Redraw::Always, 1},
    {IDC_SHADOW_SHIFT, &ReadNumberField, &FilterData::shadowShift, Redraw::Always, 1},
    {IDC_SHADOW_COLOR, &ChooseShadowColor, nullptr, Redraw::WhenChosen, 1},
};

bool IsTickRow(const Command& command) {
    return command.action == &StoreTick || command.action == &StoreGatingTick;
}

INT_PTR RunCommand(HWND dialog, FilterData& record, int control) {
    for (const Command& command : kCommands) {
        if (command.control != control) {
            continue;
        }
        const bool chosen = command.action(command, dialog, record);
        if (command.redraw == Redraw::Always || (command.redraw == Redraw::WhenChosen && chosen)) {
            RedrawPreview(record);
        }
        return command.result;
    }
    return 0;
}

// Filling the controls. Setting an edit field's text runs that field's
// command at once, which reads back what was just written.
void Initialise(HWND dialog, FilterData& record) {
    WindowSystem& windows = CurrentWindowSystem();
    windows.SetDialogUserPointer(dialog, &record);
    record.dialogDC = windows.AcquireDeviceContext(dialog);

    if (record.defaultsApplied == 0) {
        ApplyFirstOpenDefaults(record);
    }

    windows.SetChecked(dialog, IDC_MOVE, record.moveMode != 0);
    windows.SetChecked(dialog, IDC_DRAW, record.moveMode == 0);
    for (const Command& command : kCommands) {
        if (IsTickRow(command)) {
            windows.SetChecked(dialog, command.control, record.*command.field != 0);
        }
    }
    ShowEditMode(dialog, record);

    // The record came from the host as raw bytes: show the path only up to
    // the end of its buffer.
    char path[kOverlayPathLength];
    std::snprintf(path, sizeof path, "%.*s", kOverlayPathLength - 1, record.overlayPath);
    windows.SetControlText(dialog, IDC_OVERLAY_PATH, path);

    char mask[kFieldTextCapacity];
    FormatMaskText(record, mask, sizeof mask);
    windows.SetControlText(dialog, IDC_MASK_TEXT, mask);

    ShowPair(dialog, IDC_FRAME_RANGE, "%d %d", record.rangeStart, record.rangeEnd);
    ShowNumber(dialog, IDC_BORDER_SIZE, record.borderSize);
    ShowNumber(dialog, IDC_FRAME_OFFSET, record.frameOffset);

    windows.SetControlUnsigned(dialog, IDC_OVERLAY_LENGTH,
                               static_cast<unsigned>(record.overlayLength));
    ShowMaskPosition(dialog, record);
    ShowPair(dialog, IDC_OVERLAY_SIZE, "%d x %d", record.overlayWidth, record.overlayHeight);

    ShowNumber(dialog, IDC_SHADOW_SIZE, record.shadowSize);
    ShowNumber(dialog, IDC_SHADOW_PERCENT, record.shadowPercent);
    for (const ShadowStyle& style : kShadowStyles) {
        windows.AddListItem(dialog, IDC_SHADOW_STYLE, style.listText);
    }
    windows.SelectListItem(dialog, IDC_SHADOW_STYLE, record.shadowType);
    ShowNumber(dialog, IDC_SHADOW_SHIFT, record.shadowShift);
    ApplyEnablingRules(dialog, record);

    record.dialogWindow = dialog;

    // Open the host's preview together with the dialog; its opening notice
    // hooks the mask editor.
    if (record.preview != nullptr) {
        record.preview->methods->InitButton(record.preview,
                                            windows.ControlWindow(dialog, IDC_PREVIEW));
        record.preview->methods->Toggle(record.preview, dialog);
    }
}

FilterData* RecordOfDialog(HWND dialog) {
    return static_cast<FilterData*>(CurrentWindowSystem().DialogUserPointer(dialog));
}

}  // namespace

void ApplyFirstOpenDefaults(FilterData& record) {
    for (const FieldDefault& field : kFirstOpenDefaults) {
        std::memcpy(reinterpret_cast<unsigned char*>(&record) + field.offset, &field.value,
                    sizeof field.value);
    }
}

void PaintColorSwatches(HDC context, const FilterData& record, int which) {
    if (which < 0 || which >= static_cast<int>(std::size(kColorSwatches))) {
        return;
    }
    const ColorSwatch& swatch = kColorSwatches[which];
    WindowSystem& windows = CurrentWindowSystem();
    windows.UseTransparentBackground(context);
    windows.UseTextColor(context, record.*swatch.color);
    windows.WriteText(context, swatch.x, swatch.y, kSwatchText,
                      static_cast<int>(sizeof kSwatchText - 1));
}

INT_PTR CALLBACK ConfigDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        if (lParam != 0) {
            Initialise(dialog, *reinterpret_cast<FilterData*>(lParam));
        }
        return 1;
    }
    // Messages that come before WM_INITDIALOG find no record yet.
    FilterData* record = RecordOfDialog(dialog);
    if (record == nullptr) {
        return 0;
    }
    switch (message) {
    case WM_PAINT: {
        WindowSystem& windows = CurrentWindowSystem();
        PAINTSTRUCT paint;
        const HDC context = windows.BeginPainting(dialog, &paint);
        PaintColorSwatches(context, *record, kBorderSwatch);
        PaintColorSwatches(context, *record, kShadowSwatch);
        windows.EndPainting(dialog, &paint);
        return 0;
    }
    case WM_COMMAND:
        return RunCommand(dialog, *record, static_cast<int>(wParam & 0xFFFF));
    default:
        return 0;
    }
}

int HOST_CDECL ConfigProc(FilterActivation* activation, const FilterFunctions*, HWND parent) {
    FilterData& record = RecordOf(*activation);
    record.preview = activation->ifp;
    if (record.preview != nullptr) {
        record.preview->methods->SetButtonCallback(record.preview, &PreviewButtonCallback,
                                                   &record);
    }
    const HINSTANCE module = activation->filter != nullptr && activation->filter->module != nullptr
                                 ? activation->filter->module->hInstModule
                                 : nullptr;
    const INT_PTR result =
        CurrentWindowSystem().RunModalDialog(module, IDD_CONFIGURATION, parent, &ConfigDlgProc,
                                             reinterpret_cast<LPARAM>(&record));
    // The dialog may have gone without OK or Cancel (its owner destroyed):
    // the same clean-up then happens here.
    EndPreviewEditing(record);
    if (record.dialogDC != nullptr) {
        CurrentWindowSystem().ReleaseDeviceContext(record.dialogWindow, record.dialogDC);
        record.dialogDC = nullptr;
    }
    return static_cast<int>(result);
}
