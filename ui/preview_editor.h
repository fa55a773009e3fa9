// The mask editor on the host's preview window: while the configuration
// dialog is open, the preview window's procedure is replaced, and the left
// mouse button draws a new mask (Draw mode) or drags the mask (Move mode) on
// the picture. Every message still reaches the host's own procedure.
#pragma once

#include "filter/filter_data.h"
#include "platform/window_system.h"

// The title by which the host's preview window is found.
constexpr const char* kPreviewWindowTitle = "Filter Preview";
// The host shows the picture at its own size with its top-left pixel here,
// in client coordinates of the preview window.
constexpr int kPictureOriginX = 4;
constexpr int kPictureOriginY = 4;

// The record whose preview window is (or was last) hooked: the window
// procedure has no other way to find its instance, so one preview per module
// is hooked at a time. Null once the dialog of that record has ended.
extern FilterData* previewHookRecord;

// The host's notice that its preview window has opened (true) or closed
// (false); `data` is the instance record given with SetButtonCallback.
void HOST_CDECL PreviewButtonCallback(bool opened, void* data);

// The replacement procedure of the preview window.
LRESULT CALLBACK PreviewWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Whether a preview window currently runs PreviewWndProc.
bool PreviewHooked();

// The end of the configuration dialog of `record`: takes the hook off the
// preview window if it is still on, ends a drag whose release never came
// (the cursor is set free) and forgets the record, so that no later message
// reaches a record or dialog that is gone.
void EndPreviewEditing(FilterData& record);

// The three mouse steps, on client coordinates of the preview window.
void PressMaskEditor(FilterData& record, HWND window, int clientX, int clientY);
void DragMaskEditor(FilterData& record, WPARAM keys, int clientX, int clientY);
void ReleaseMaskEditor(FilterData& record);
