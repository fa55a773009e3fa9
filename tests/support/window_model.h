// An in-memory window system for tests: dialogs built from the
// configuration dialog's template, top-level windows with replaceable
// procedures, cursor confinement, device contexts and the common choosers.
//
// It behaves as the platform does where the module relies on it: setting an
// edit control's text reports the change to the dialog procedure before the
// call returns, clicking an automatic check box or radio button changes its
// tick before the dialog hears of it, and a user cannot click a disabled
// control or type into a read-only one.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/window_system.h"
#include "ui/dialog_template.h"

class WindowModel : public WindowSystem {
public:
    struct Control {
        int id = 0;
        ControlClass controlClass = ControlClass::Static;
        std::uint32_t style = 0;
        HWND handle = nullptr;
        std::string text;
        bool checked = false;
        bool readOnly = false;
        bool enabled = true;
        std::vector<std::string> items;
        int selection = -1;
    };

    struct Dialog {
        HWND handle = nullptr;
        HINSTANCE module = nullptr;
        int resource = 0;
        HWND parent = nullptr;
        DLGPROC procedure = nullptr;
        void* userPointer = nullptr;
        std::vector<Control> controls;  // template order
        bool ended = false;
        INT_PTR result = 0;
    };

    struct Window {
        std::string title;
        WNDPROC procedure = nullptr;
        bool ownProcess = true;
        bool destroyed = false;
        int screenX = 0;  // screen position of the client area's top-left corner
        int screenY = 0;
    };

    struct TextDrawn {
        HDC context;
        int x;
        int y;
        std::string text;
        COLORREF color;
        bool transparent;
    };

    struct ColorChoice {
        ChooseColorRequest request;
        std::array<COLORREF, 16> customColors;
    };

    WindowModel();
    ~WindowModel() override;

    WindowModel(const WindowModel&) = delete;
    WindowModel& operator=(const WindowModel&) = delete;

    // What the user does while a modal dialog is open. When it returns with
    // the dialog still open, the model closes it as the close box does
    // (WM_COMMAND IDCANCEL).
    std::function<void(HWND dialog)> userSession;
    // Makes the next RunModalDialog fail as the platform does.
    bool failDialogCreation = false;

    // The user's actions in a dialog; false when a user could not do it.
    bool Click(HWND dialog, int control);
    bool Type(HWND dialog, int control, const std::string& text);
    bool ChooseListItem(HWND dialog, int control, int index);
    // Sends WM_COMMAND for `control` with notification `code`; returns the
    // dialog procedure's result.
    INT_PTR Notify(HWND dialog, int control, WORD code);

    // A dialog built from the configuration template without running it;
    // `procedure` (may be null) hears of the controls' changes.
    HWND CreateConfigurationDialog(DLGPROC procedure);

    Dialog& DialogOf(HWND dialog);
    Control& ControlOf(HWND dialog, int control);
    HWND LastDialog() const { return lastDialog_; }

    // Top-level windows.
    HWND CreateTopLevelWindow(const std::string& title, WNDPROC procedure, bool ownProcess = true,
                              int screenX = 0, int screenY = 0);
    void DestroyTopLevelWindow(HWND window);
    WNDPROC ProcedureOf(HWND window);
    // Delivers a message to the window's current procedure.
    LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // The screen rectangle the cursor is confined to, if any.
    std::optional<RECT> cursorConfinement;
    int confinements = 0;
    int confinementReleases = 0;

    // Device contexts: those handed out by GetDC and not given back.
    std::vector<HDC> heldContexts;
    int paintsBegun = 0;
    int paintsEnded = 0;
    std::vector<TextDrawn> textDrawn;

    // The choosers: the stand-in decides; every request is recorded.
    std::function<BOOL(ChooseColorRequest&)> colorChooser;
    std::vector<ColorChoice> colorChoices;
    std::function<BOOL(OpenFileRequest&)> fileChooser;
    int fileChoices = 0;

    // Every control text set by the module, in order (control, text).
    std::vector<std::pair<int, std::string>> textLog;

    // WindowSystem.
    INT_PTR RunModalDialog(HINSTANCE module, int resource, HWND parent, DLGPROC procedure,
                           LPARAM parameter) override;
    void EndModalDialog(HWND dialog, INT_PTR result) override;
    void SetDialogUserPointer(HWND dialog, void* pointer) override;
    void* DialogUserPointer(HWND dialog) override;
    HWND ControlWindow(HWND dialog, int control) override;
    void SetControlText(HWND dialog, int control, const char* text) override;
    unsigned GetControlText(HWND dialog, int control, char* buffer, int capacity) override;
    void SetControlUnsigned(HWND dialog, int control, unsigned value) override;
    void SetChecked(HWND dialog, int control, bool checked) override;
    bool IsChecked(HWND dialog, int control) override;
    void SetReadOnly(HWND dialog, int control, bool readOnly) override;
    void EnableControl(HWND dialog, int control, bool enabled) override;
    void AddListItem(HWND dialog, int control, const char* text) override;
    void SelectListItem(HWND dialog, int control, int index) override;
    int SelectedListItem(HWND dialog, int control) override;
    HWND FindWindowByTitle(const char* title) override;
    bool BelongsToThisProcess(HWND window) override;
    WNDPROC ReplaceWindowProc(HWND window, WNDPROC procedure) override;
    void ConfineCursor(HWND window, int left, int top, int right, int bottom) override;
    void ReleaseCursor() override;
    HDC AcquireDeviceContext(HWND window) override;
    void ReleaseDeviceContext(HWND window, HDC context) override;
    HDC BeginPainting(HWND window, PAINTSTRUCT* paint) override;
    void EndPainting(HWND window, const PAINTSTRUCT* paint) override;
    void UseTransparentBackground(HDC context) override;
    void UseTextColor(HDC context, COLORREF color) override;
    void WriteText(HDC context, int x, int y, const char* text, int length) override;
    BOOL GetOpenFileName(OpenFileRequest* request) override;
    BOOL ChooseColor(ChooseColorRequest* request) override;

private:
    struct ContextState {
        bool transparent = false;
        COLORREF color = 0;
    };

    template <typename Handle>
    Handle NewHandle() {
        return reinterpret_cast<Handle>(static_cast<std::uintptr_t>(nextHandle_++) * 16);
    }

    Control* FindControl(HWND dialog, int control);
    Window* LookUpWindow(HWND window);
    void UntickRadioGroup(Dialog& dialog, const Control& clicked);

    std::uintptr_t nextHandle_ = 0x1000;
    std::map<HWND, Dialog> dialogs_;
    std::map<HWND, Window> windows_;
    std::map<HDC, ContextState> contexts_;
    HWND lastDialog_ = nullptr;
    WindowSystem* previous_ = nullptr;
};

// Packs a mouse message's position word and a command's wParam as the
// platform does.
LPARAM MousePosition(int x, int y);
WPARAM CommandWord(int control, WORD code);
