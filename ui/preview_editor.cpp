#include "ui/preview_editor.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "ui/dialog_ids.h"
#include "ui/mask_text.h"
#include "ui/position_readouts.h"
#include "ui/preview_redraw.h"

FilterData* previewHookRecord = nullptr;

namespace {

// The window that runs PreviewWndProc, null while none does, and the
// procedure that the hook replaced there: the way on for messages should one
// arrive after the record has been forgotten.
HWND g_hookedWindow = nullptr;
WNDPROC g_replacedProcedure = nullptr;

// A mouse message's position word: x in the low 16 bits, y in the high 16
// bits, each signed.
std::int16_t PointX(LPARAM position) {
    return static_cast<std::int16_t>(static_cast<std::uint32_t>(position) & 0xFFFFu);
}

std::int16_t PointY(LPARAM position) {
    return static_cast<std::int16_t>((static_cast<std::uint32_t>(position) >> 16) & 0xFFFFu);
}

// The mask contains a point when left <= x < right and top <= y < bottom,
// the corners taken as stored: a mask stored right-to-left contains nothing.
bool MaskContains(const FilterData& record, int x, int y) {
    return record.maskLeft <= x && x < record.maskRight && record.maskTop <= y &&
           y < record.maskBottom;
}

// Shifting adds with 32-bit wrap-around: corners set from the script may lie
// anywhere in the int32 range.
std::int32_t Shifted(std::int32_t value, int delta) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value) +
                                     static_cast<std::uint32_t>(delta));
}

std::int32_t SaturatedInt32(double value) {
    constexpr double low = std::numeric_limits<std::int32_t>::min();
    constexpr double high = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(value, low, high));
}

void ConfineCursorToPicture(const FilterData& record, HWND window) {
    CurrentWindowSystem().ConfineCursor(window, kPictureOriginX, kPictureOriginY,
                                        kPictureOriginX + record.frameWidth,
                                        kPictureOriginY + record.frameHeight);
}

void EndEdit(FilterData& record) {
    if (record.editing != 0) {
        CurrentWindowSystem().ReleaseCursor();
        record.editing = 0;
    }
}

void Unhook() {
    FilterData& record = *previewHookRecord;
    record.previousPreviewProc =
        CurrentWindowSystem().ReplaceWindowProc(g_hookedWindow, record.previousPreviewProc);
    g_hookedWindow = nullptr;
    EndEdit(record);
}

void Hook(FilterData& record) {
    WindowSystem& windows = CurrentWindowSystem();
    HWND window = windows.FindWindowByTitle(kPreviewWindowTitle);
    // Another program may show a window of the same title; its procedure is
    // none of ours to replace.
    if (window != nullptr && !windows.BelongsToThisProcess(window)) {
        window = nullptr;
    }
    if (g_hookedWindow != nullptr) {
        // A second opening notice for the window already hooked: hooking it
        // again would make the editor its own previous procedure.
        if (g_hookedWindow == window && previewHookRecord == &record) {
            return;
        }
        Unhook();
    }
    previewHookRecord = &record;
    record.previewWindow = window;
    record.previousPreviewProc =
        window != nullptr ? windows.ReplaceWindowProc(window, &PreviewWndProc) : nullptr;
    if (record.previousPreviewProc != nullptr) {
        g_hookedWindow = window;
        g_replacedProcedure = record.previousPreviewProc;
    }
}

}  // namespace

void HOST_CDECL PreviewButtonCallback(bool opened, void* data) {
    FilterData& record = *static_cast<FilterData*>(data);
    if (opened) {
        Hook(record);
        return;
    }
    if (g_hookedWindow != nullptr) {
        Unhook();
    }
    // A drag whose release went to another window would otherwise keep the
    // cursor confined to a picture that is no longer shown.
    EndEdit(record);
    previewHookRecord = &record;
}

bool PreviewHooked() { return g_hookedWindow != nullptr; }

void EndPreviewEditing(FilterData& record) {
    if (previewHookRecord != &record) {
        EndEdit(record);
        return;
    }
    if (g_hookedWindow != nullptr) {
        Unhook();
    }
    EndEdit(record);
    previewHookRecord = nullptr;
}

void PressMaskEditor(FilterData& record, HWND window, int clientX, int clientY) {
    const int x = clientX - kPictureOriginX;
    const int y = clientY - kPictureOriginY;
    if (record.moveMode != 0) {
        if (!MaskContains(record, x, y)) {
            return;
        }
        record.editing = 1;
        ConfineCursorToPicture(record, window);
        record.dragLastX = static_cast<std::int16_t>(x);
        record.dragLastY = static_cast<std::int16_t>(y);
        return;
    }
    // Both corners of the first one-pixel rectangle must lie on the picture:
    // x from 0 to frameWidth - 2, y from 0 to frameHeight - 2.
    if (!(x >= 0 && x + 1 < record.frameWidth && y >= 0 && y + 1 < record.frameHeight)) {
        return;
    }
    record.editing = 1;
    ConfineCursorToPicture(record, window);
    record.maskLeft = x;
    record.maskTop = y;
    record.maskRight = x + 1;
    record.maskBottom = y + 1;
}

void DragMaskEditor(FilterData& record, WPARAM keys, int clientX, int clientY) {
    if ((keys & MK_LBUTTON) == 0 || record.editing != 1) {
        return;
    }
    // The drag point lives in 16-bit fields, so the picture point is formed
    // in 16 bits as well.
    const auto x = static_cast<std::int16_t>(clientX - kPictureOriginX);
    const auto y = static_cast<std::int16_t>(clientY - kPictureOriginY);
    if (record.moveMode != 0) {
        const int dx = x - record.dragLastX;
        const int dy = y - record.dragLastY;
        record.maskLeft = Shifted(record.maskLeft, dx);
        record.maskRight = Shifted(record.maskRight, dx);
        record.maskTop = Shifted(record.maskTop, dy);
        record.maskBottom = Shifted(record.maskBottom, dy);
        record.dragLastX = x;
        record.dragLastY = y;
    } else {
        record.maskRight = x;
        record.maskBottom = y;
        if (record.keepAspect != 0 && record.aviStream != nullptr && record.overlayWidth != 0) {
            const double ratio =
                static_cast<double>(record.overlayHeight) / record.overlayWidth;
            const double width =
                static_cast<double>(record.maskRight) - static_cast<double>(record.maskLeft);
            // Truncation toward zero: a drag to the left gives a height that
            // is rounded up, not down (-75.75 becomes -75).
            const double height = std::trunc(width * ratio);
            record.maskBottom = SaturatedInt32(static_cast<double>(record.maskTop) + height);
        }
    }
    UpdatePositionFields(record.dialogWindow, record.maskLeft, record.maskTop, record.maskRight,
                         record.maskBottom, record);
    RedrawPreview(record);
}

void ReleaseMaskEditor(FilterData& record) {
    if (record.editing == 0) {
        return;
    }
    const std::int32_t lastColumn = record.frameWidth - 1;
    const std::int32_t lastRow = record.frameHeight - 1;
    if (record.moveMode != 0) {
        // Each corner by itself: a mask dragged partly off the picture loses
        // the part that lay outside.
        record.maskBottom = std::min(record.maskBottom, lastRow);
        record.maskTop = std::max<std::int32_t>(record.maskTop, 0);
        record.maskRight = std::min(record.maskRight, lastColumn);
        record.maskLeft = std::max<std::int32_t>(record.maskLeft, 0);
    } else {
        // Ordered from the corners as they were; only the horizontal ones are
        // cut back, so a Keep Aspect mask may reach past the top or bottom.
        const std::int32_t left = record.maskLeft;
        const std::int32_t top = record.maskTop;
        const std::int32_t right = record.maskRight;
        const std::int32_t bottom = record.maskBottom;
        record.maskBottom = std::max(top, bottom);
        record.maskTop = std::min(top, bottom);
        record.maskRight = std::min(std::max(left, right), lastColumn);
        record.maskLeft = std::max<std::int32_t>(std::min(left, right), 0);
    }

    // The dialog answers the new text at once (reading the mask back, the
    // read-outs, a redraw) while the edit is still in progress.
    char text[256];
    FormatMaskText(record, text, sizeof text);
    CurrentWindowSystem().SetControlText(record.dialogWindow, IDC_MASK_TEXT, text);

    EndEdit(record);
    RedrawPreview(record);
}

LRESULT CALLBACK PreviewWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    FilterData* record = g_hookedWindow != nullptr ? previewHookRecord : nullptr;
    if (record != nullptr) {
        switch (message) {
        case WM_LBUTTONDOWN:
            PressMaskEditor(*record, window, PointX(lParam), PointY(lParam));
            break;
        case WM_MOUSEMOVE:
            DragMaskEditor(*record, wParam, PointX(lParam), PointY(lParam));
            break;
        case WM_LBUTTONUP:
            ReleaseMaskEditor(*record);
            break;
        default:
            break;
        }
    }
    // Read after the step: the step may have run the dialog, but the message
    // goes on unchanged whatever happened.
    WNDPROC next = record != nullptr ? record->previousPreviewProc : g_replacedProcedure;
    if (next == nullptr || next == &PreviewWndProc) {
        next = g_replacedProcedure;
    }
    if (next == nullptr || next == &PreviewWndProc) {
        return 0;
    }
    return CurrentWindowSystem().CallWindowProc(next, window, message, wParam, lParam);
}
