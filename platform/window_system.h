// The seam through which the module makes its window-system requests: the
// dialog's controls, the preview window's procedure, the cursor confinement,
// the common file and colour choosers and the colour samples.
//
// The Windows build puts the real calls behind it (a thin layer in ui/);
// tests put an in-memory window model in place. The base class is a window
// system without windows: every request does nothing and every query finds
// nothing, which is what native programs without a user interface get.
#pragma once

#include "host/win_types.h"
#include "platform/chooser_requests.h"

class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // Dialog controls, addressed by dialog window and control id.
    virtual void SetControlText(HWND dialog, int control, const char* text);
    // Copies at most capacity - 1 characters and a NUL; returns the count copied.
    virtual unsigned GetControlText(HWND dialog, int control, char* buffer, int capacity);
    // Shows `value` as an unsigned decimal number.
    virtual void SetControlUnsigned(HWND dialog, int control, unsigned value);
    virtual void SetChecked(HWND dialog, int control, bool checked);
    virtual bool IsChecked(HWND dialog, int control);
    virtual void SetReadOnly(HWND dialog, int control, bool readOnly);
    virtual void EnableControl(HWND dialog, int control, bool enabled);
    virtual void AddListItem(HWND dialog, int control, const char* text);
    virtual void SelectListItem(HWND dialog, int control, int index);
    // The selected index, or -1 when nothing is selected.
    virtual int SelectedListItem(HWND dialog, int control);

    // Top-level windows and their procedures.
    virtual HWND FindWindowByTitle(const char* title);
    virtual bool BelongsToThisProcess(HWND window);
    // Installs `procedure` and returns the one it replaced (null on failure).
    virtual WNDPROC ReplaceWindowProc(HWND window, WNDPROC procedure);
    virtual LRESULT CallWindowProc(WNDPROC procedure, HWND window, UINT message, WPARAM wParam,
                                   LPARAM lParam);

    // Confines the cursor to the screen rectangle of the client-area
    // rectangle (left, top)-(right, bottom) of `window`; Release lifts it.
    virtual void ConfineCursor(HWND window, int left, int top, int right, int bottom);
    virtual void ReleaseCursor();

    // The common choosers; non-zero when the user confirmed.
    virtual BOOL GetOpenFileName(OpenFileRequest* request);
    virtual BOOL ChooseColor(ChooseColorRequest* request);
};

// The window system in use: the platform's unless a test has put another in
// place.
WindowSystem& CurrentWindowSystem();
// Puts `windowSystem` in place (null restores the platform's); returns the
// one it replaces.
WindowSystem* UseWindowSystem(WindowSystem* windowSystem);
