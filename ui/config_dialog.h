// The configuration procedure and its modal dialog, which edits every
// setting of an instance and opens the host's preview for the mask editor.
#pragma once

#include "filter/filter_data.h"
#include "platform/window_system.h"

// Texts of the status line (control 1011), one per editing mode.
constexpr const char* kDrawStatusText =
    "Left click and drag in the preview window to draw the mask.";
constexpr const char* kMoveStatusText =
    "Left click on the mask, and drag to move it in the preview window.";

// Writes the values the dialog gives a record the first time it opens it
// (border white, 1 pixel; shadow style 3, size 20, 45 %, shift 7, black) and
// marks the record as having them. Programs without the dialog start from
// these too.
void ApplyFirstOpenDefaults(FilterData& record);

// 0 when the dialog ended with OK, 1 with Cancel, else what the platform
// reported when the dialog could not be shown.
int HOST_CDECL ConfigProc(FilterActivation* activation, const FilterFunctions* functions,
                          HWND parent);

// The dialog procedure; `lParam` of WM_INITDIALOG is the instance record.
INT_PTR CALLBACK ConfigDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Which colour sample PaintColorSwatches paints.
constexpr int kBorderSwatch = 0;
constexpr int kShadowSwatch = 1;

// Paints the word "COLOR" in the border (0) or shadow (1) colour at that
// sample's place in the dialog.
void PaintColorSwatches(HDC context, const FilterData& record, int which);
