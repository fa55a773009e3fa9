// The window system of the Windows build: every request is the platform call
// of the same meaning, made for real.
//
// The seam's methods share names with platform functions and with the
// macros <windows.h> defines for them (CallWindowProc, GetOpenFileName,
// ChooseColor); inside this class an unqualified call could find a method
// instead and recurse forever, so every platform call names the global scope.
#include "platform/window_system.h"

namespace {

class Win32WindowSystem final : public WindowSystem {
public:
    INT_PTR RunModalDialog(HINSTANCE module, int resource, HWND parent, DLGPROC procedure,
                           LPARAM parameter) override {
        return ::DialogBoxParamA(module, MAKEINTRESOURCEA(resource), parent, procedure, parameter);
    }

    void EndModalDialog(HWND dialog, INT_PTR result) override { ::EndDialog(dialog, result); }

    void SetDialogUserPointer(HWND dialog, void* pointer) override {
        ::SetWindowLongA(dialog, DWL_USER, reinterpret_cast<LONG>(pointer));
    }

    void* DialogUserPointer(HWND dialog) override {
        return reinterpret_cast<void*>(::GetWindowLongA(dialog, DWL_USER));
    }

    HWND ControlWindow(HWND dialog, int control) override { return ::GetDlgItem(dialog, control); }

    void SetControlText(HWND dialog, int control, const char* text) override {
        ::SetDlgItemTextA(dialog, control, text);
    }

    unsigned GetControlText(HWND dialog, int control, char* buffer, int capacity) override {
        if (capacity <= 0) {
            return 0;
        }
        buffer[0] = '\0';
        return ::GetDlgItemTextA(dialog, control, buffer, capacity);
    }

    void SetControlUnsigned(HWND dialog, int control, unsigned value) override {
        ::SetDlgItemInt(dialog, control, value, FALSE);
    }

    void SetChecked(HWND dialog, int control, bool checked) override {
        ::CheckDlgButton(dialog, control, checked ? BST_CHECKED : BST_UNCHECKED);
    }

    bool IsChecked(HWND dialog, int control) override {
        return ::IsDlgButtonChecked(dialog, control) == BST_CHECKED;
    }

    void SetReadOnly(HWND dialog, int control, bool readOnly) override {
        ::SendDlgItemMessageA(dialog, control, EM_SETREADONLY, readOnly ? TRUE : FALSE, 0);
    }

    void EnableControl(HWND dialog, int control, bool enabled) override {
        ::EnableWindow(::GetDlgItem(dialog, control), enabled ? TRUE : FALSE);
    }

    void AddListItem(HWND dialog, int control, const char* text) override {
        ::SendDlgItemMessageA(dialog, control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }

    void SelectListItem(HWND dialog, int control, int index) override {
        ::SendDlgItemMessageA(dialog, control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }

    int SelectedListItem(HWND dialog, int control) override {
        return static_cast<int>(::SendDlgItemMessageA(dialog, control, CB_GETCURSEL, 0, 0));
    }

    HWND FindWindowByTitle(const char* title) override { return ::FindWindowA(nullptr, title); }

    bool BelongsToThisProcess(HWND window) override {
        DWORD process = 0;
        return window != nullptr && ::GetWindowThreadProcessId(window, &process) != 0 &&
               process == ::GetCurrentProcessId();
    }

    WNDPROC ReplaceWindowProc(HWND window, WNDPROC procedure) override {
        return reinterpret_cast<WNDPROC>(
            ::SetWindowLongA(window, GWL_WNDPROC, reinterpret_cast<LONG>(procedure)));
    }

    LRESULT CallWindowProc(WNDPROC procedure, HWND window, UINT message, WPARAM wParam,
                           LPARAM lParam) override {
        return ::CallWindowProcA(procedure, window, message, wParam, lParam);
    }

    void ConfineCursor(HWND window, int left, int top, int right, int bottom) override {
        RECT client;
        ::GetClientRect(window, &client);
        POINT first = {client.left + left, client.top + top};
        POINT second = {client.left + right, client.top + bottom};
        ::ClientToScreen(window, &first);
        ::ClientToScreen(window, &second);
        RECT confinement;
        ::SetRect(&confinement, first.x, first.y, second.x, second.y);
        ::ClipCursor(&confinement);
    }

    void ReleaseCursor() override { ::ClipCursor(nullptr); }

    HDC AcquireDeviceContext(HWND window) override { return ::GetDC(window); }

    void ReleaseDeviceContext(HWND window, HDC context) override { ::ReleaseDC(window, context); }

    HDC BeginPainting(HWND window, PAINTSTRUCT* paint) override {
        return ::BeginPaint(window, paint);
    }

    void EndPainting(HWND window, const PAINTSTRUCT* paint) override { ::EndPaint(window, paint); }

    void UseTransparentBackground(HDC context) override { ::SetBkMode(context, TRANSPARENT); }

    void UseTextColor(HDC context, COLORREF color) override { ::SetTextColor(context, color); }

    void WriteText(HDC context, int x, int y, const char* text, int length) override {
        ::TextOutA(context, x, y, text, length);
    }

    BOOL GetOpenFileName(OpenFileRequest* request) override { return ::GetOpenFileNameA(request); }

    BOOL ChooseColor(ChooseColorRequest* request) override { return ::ChooseColorA(request); }
};

}  // namespace

WindowSystem& PlatformWindowSystem() {
    static Win32WindowSystem windowSystem;
    return windowSystem;
}
