// The seam through which the module makes its window-system requests: the
// modal dialog and its controls, the preview window's procedure, the cursor
// confinement, the common file and colour choosers and the colour samples.
//
// The Windows build puts the real calls behind it (a thin layer in ui/win32);
// tests put an in-memory window model in place. The base class is a window
// system without windows: every request does nothing and every query finds
// nothing, which is what native programs without a user interface get.
//
// Each method names the Windows call it stands for; the Windows layer makes
// exactly that call, so the module's behaviour on Windows is the platform's.
#pragma once

#include "host/win_types.h"
#include "platform/chooser_requests.h"

#ifdef _WIN32
// <windows.h> makes these names macros for their "A" functions. Left in
// place, they would rename the methods below to CallWindowProcA and so on,
// and a Windows implementation calling CallWindowProcA from inside its
// CallWindowProc would call itself forever. The methods keep their own names.
#undef CallWindowProc
#undef GetOpenFileName
#undef ChooseColor
#else
// What <windows.h> provides to the Windows build, with the same values.
#define CALLBACK

using INT_PTR = std::intptr_t;
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct PAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
    BOOL fRestore;
    BOOL fIncUpdate;
    unsigned char rgbReserved[32];
};

constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;

constexpr WPARAM MK_LBUTTON = 0x0001;

// Notification codes in the high word of WM_COMMAND's wParam.
constexpr WORD BN_CLICKED = 0;
constexpr WORD CBN_SELCHANGE = 1;
constexpr WORD EN_SETFOCUS = 0x0100;
constexpr WORD EN_KILLFOCUS = 0x0200;
constexpr WORD EN_CHANGE = 0x0300;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
#endif

class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // The modal dialog.

    // DialogBoxParamA(module, MAKEINTRESOURCEA(resource), parent, procedure,
    // parameter): runs the dialog until EndDialog and returns the value given
    // to EndDialog, or what DialogBoxParamA reports when the dialog cannot be
    // created (-1, or 0 for an invalid parent).
    virtual INT_PTR RunModalDialog(HINSTANCE module, int resource, HWND parent,
                                   DLGPROC procedure, LPARAM parameter);
    // EndDialog(dialog, result).
    virtual void EndModalDialog(HWND dialog, INT_PTR result);
    // SetWindowLongA(dialog, DWL_USER, (LONG)pointer): the dialog's user slot
    // (SetWindowLongPtrA with DWLP_USER where pointers are 64 bits).
    virtual void SetDialogUserPointer(HWND dialog, void* pointer);
    // (void*)GetWindowLongA(dialog, DWL_USER); null before anything was stored.
    virtual void* DialogUserPointer(HWND dialog);

    // Dialog controls, addressed by dialog window and control id.

    // GetDlgItem(dialog, control); null when there is no such control.
    virtual HWND ControlWindow(HWND dialog, int control);
    // SetDlgItemTextA(dialog, control, text). An edit control reports the new
    // text to the dialog (WM_COMMAND, EN_CHANGE) before this returns.
    virtual void SetControlText(HWND dialog, int control, const char* text);
    // GetDlgItemTextA(dialog, control, buffer, capacity): copies at most
    // capacity - 1 characters and a NUL; returns the count copied.
    virtual unsigned GetControlText(HWND dialog, int control, char* buffer, int capacity);
    // SetDlgItemInt(dialog, control, value, FALSE): shows `value` as an
    // unsigned decimal number.
    virtual void SetControlUnsigned(HWND dialog, int control, unsigned value);
    // CheckDlgButton(dialog, control, checked ? BST_CHECKED : BST_UNCHECKED).
    virtual void SetChecked(HWND dialog, int control, bool checked);
    // IsDlgButtonChecked(dialog, control) == BST_CHECKED.
    virtual bool IsChecked(HWND dialog, int control);
    // SendDlgItemMessageA(dialog, control, EM_SETREADONLY, readOnly, 0).
    virtual void SetReadOnly(HWND dialog, int control, bool readOnly);
    // EnableWindow(GetDlgItem(dialog, control), enabled).
    virtual void EnableControl(HWND dialog, int control, bool enabled);
    // SendDlgItemMessageA(dialog, control, CB_ADDSTRING, 0, (LPARAM)text).
    virtual void AddListItem(HWND dialog, int control, const char* text);
    // SendDlgItemMessageA(dialog, control, CB_SETCURSEL, index, 0).
    virtual void SelectListItem(HWND dialog, int control, int index);
    // SendDlgItemMessageA(dialog, control, CB_GETCURSEL, 0, 0): the selected
    // index, or -1 (CB_ERR) when nothing is selected.
    virtual int SelectedListItem(HWND dialog, int control);

    // Top-level windows and their procedures.

    // FindWindowA(NULL, title).
    virtual HWND FindWindowByTitle(const char* title);
    // GetWindowThreadProcessId(window, &process) succeeds and process ==
    // GetCurrentProcessId().
    virtual bool BelongsToThisProcess(HWND window);
    // SetWindowLongA(window, GWL_WNDPROC, (LONG)procedure): installs
    // `procedure` and returns the one it replaced (null on failure).
    virtual WNDPROC ReplaceWindowProc(HWND window, WNDPROC procedure);
    // CallWindowProcA(procedure, window, message, wParam, lParam).
    virtual LRESULT CallWindowProc(WNDPROC procedure, HWND window, UINT message, WPARAM wParam,
                                   LPARAM lParam);
    // Confines the cursor to the rectangle (left, top)-(right, bottom) given
    // relative to the top-left corner of `window`'s client area: GetClientRect,
    // ClientToScreen on both corners, SetRect, ClipCursor.
    virtual void ConfineCursor(HWND window, int left, int top, int right, int bottom);
    // ClipCursor(NULL).
    virtual void ReleaseCursor();

    // Device contexts and text, for the colour samples.

    // GetDC(window).
    virtual HDC AcquireDeviceContext(HWND window);
    // ReleaseDC(window, context).
    virtual void ReleaseDeviceContext(HWND window, HDC context);
    // BeginPaint(window, paint): returns paint->hdc.
    virtual HDC BeginPainting(HWND window, PAINTSTRUCT* paint);
    // EndPaint(window, paint).
    virtual void EndPainting(HWND window, const PAINTSTRUCT* paint);
    // SetBkMode(context, TRANSPARENT).
    virtual void UseTransparentBackground(HDC context);
    // SetTextColor(context, color).
    virtual void UseTextColor(HDC context, COLORREF color);
    // TextOutA(context, x, y, text, length).
    virtual void WriteText(HDC context, int x, int y, const char* text, int length);

    // The common choosers; non-zero when the user confirmed.

    // GetOpenFileNameA(request).
    virtual BOOL GetOpenFileName(OpenFileRequest* request);
    // ChooseColorA(request).
    virtual BOOL ChooseColor(ChooseColorRequest* request);
};

// The window system in use: the platform's unless a test has put another in
// place.
WindowSystem& CurrentWindowSystem();
// Puts `windowSystem` in place (null restores the platform's); returns the
// one it replaces.
WindowSystem* UseWindowSystem(WindowSystem* windowSystem);
