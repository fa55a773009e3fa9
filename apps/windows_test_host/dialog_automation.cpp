#include "apps/windows_test_host/dialog_automation.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "apps/windows_test_host/test_preview.h"

namespace {

constexpr const char* kDialogTitle = "Filter: Quillmere";
constexpr const char* kPreviewTitle = "Filter Preview";
constexpr const char* kStandardDialogClass = "#32770";
constexpr UINT kTickMilliseconds = 40;
// A dialog that never comes up or a step that never completes ends the run.
constexpr DWORD kAutomationTimeoutMilliseconds = 60000;
constexpr int kExitAutomationTimeout = 3;

// The open-file chooser's file name field: the combo box of the newer
// chooser, the edit field of the classic one.
constexpr int kFileNameCombo = 0x47C;
constexpr int kFileNameEdit = 0x480;
// The colour chooser's red, green and blue fields.
constexpr int kColorRedField = 706;
constexpr int kColorGreenField = 707;
constexpr int kColorBlueField = 708;

DialogAutomation* g_automation = nullptr;

bool OwnedByThisThread(HWND window) {
    return window != nullptr && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

HWND ConfigurationDialog() {
    HWND dialog = FindWindowA(nullptr, kDialogTitle);
    return OwnedByThisThread(dialog) ? dialog : nullptr;
}

// A chooser is any other standard dialog of this thread that is visible and
// accepts input (the configuration dialog is disabled while one is open).
BOOL CALLBACK FindChooserWindow(HWND window, LPARAM result) {
    char className[32] = {};
    GetClassNameA(window, className, sizeof(className));
    if (std::strcmp(className, kStandardDialogClass) == 0 && IsWindowVisible(window) &&
        IsWindowEnabled(window) && window != ConfigurationDialog()) {
        *reinterpret_cast<HWND*>(result) = window;
        return FALSE;
    }
    return TRUE;
}

HWND OpenChooser() {
    HWND chooser = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &FindChooserWindow,
                      reinterpret_cast<LPARAM>(&chooser));
    return chooser;
}

// "ID=VALUE" into its two parts.
bool SplitAssignment(const std::string& text, int& id, std::string& value) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) {
        return false;
    }
    id = std::atoi(text.substr(0, equals).c_str());
    value = text.substr(equals + 1);
    return id != 0;
}

bool ParsePoint(const std::string& text, int& x, int& y) {
    return std::sscanf(text.c_str(), "%d,%d", &x, &y) == 2;
}

bool FileExists(const std::string& path) { return std::ifstream(path).good(); }

}  // namespace

DialogAutomation::DialogAutomation(std::vector<std::string> steps, TestPreview* preview)
    : steps_(std::move(steps)), preview_(preview) {}

DialogAutomation::~DialogAutomation() {
    if (timer_ != 0) {
        KillTimer(nullptr, timer_);
    }
    if (g_automation == this) {
        g_automation = nullptr;
    }
}

void DialogAutomation::Start() {
    g_automation = this;
    started_ = GetTickCount();
    timer_ = SetTimer(nullptr, 0, kTickMilliseconds, &DialogAutomation::Tick);
}

void CALLBACK DialogAutomation::Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (g_automation != nullptr) {
        g_automation->OnTick();
    }
}

void DialogAutomation::Fail(const std::string& step, const char* why) {
    std::printf("automation-error step=\"%s\" %s\n", step.c_str(), why);
    std::fflush(stdout);
    failed_ = true;
}

void DialogAutomation::OnTick() {
    static bool running = false;
    if (running || Finished()) {
        return;
    }
    if (GetTickCount() - started_ > kAutomationTimeoutMilliseconds) {
        std::printf("automation-error timed out at step %u\n", static_cast<unsigned>(next_));
        std::fflush(stdout);
        ExitProcess(kExitAutomationTimeout);
    }
    if (waitUntil_ != 0) {
        if (static_cast<LONG>(GetTickCount() - waitUntil_) < 0) {
            return;
        }
        waitUntil_ = 0;
        ++next_;
        return;
    }
    running = true;
    if (RunStep(steps_[next_])) {
        ++next_;
    }
    running = false;
}

bool DialogAutomation::RunStep(const std::string& step) {
    const std::size_t colon = step.find(':');
    const std::string verb = step.substr(0, colon);
    const std::string argument = colon == std::string::npos ? "" : step.substr(colon + 1);

    if (verb == "ready") {
        std::ofstream(argument) << "ready\n";
        return true;
    }
    if (verb == "await") {
        return FileExists(argument);
    }
    if (verb == "sleep") {
        waitUntil_ = GetTickCount() + static_cast<DWORD>(std::atoi(argument.c_str()));
        return false;
    }
    if (verb == "redraws") {
        std::printf("redraws %d\n", preview_ != nullptr ? preview_->RedrawCount() : 0);
        return true;
    }
    if (verb == "save") {
        if (preview_ == nullptr || !preview_->SaveShownFrame(argument)) {
            Fail(step, "no preview frame to save");
        }
        return true;
    }
    if (verb == "capture") {
        if (preview_ == nullptr || !preview_->CaptureClientArea(argument)) {
            Fail(step, "no preview window to capture");
        }
        return true;
    }
    if (verb == "down" || verb == "move" || verb == "up") {
        int x = 0, y = 0;
        HWND window = FindWindowA(nullptr, kPreviewTitle);
        if (!ParsePoint(argument, x, y) || window == nullptr) {
            Fail(step, window == nullptr ? "no preview window" : "bad point");
            return true;
        }
        const UINT message = verb == "down"   ? WM_LBUTTONDOWN
                             : verb == "move" ? WM_MOUSEMOVE
                                              : WM_LBUTTONUP;
        const WPARAM buttons = verb == "up" ? 0 : MK_LBUTTON;
        PostMessageA(window, message, buttons, MAKELPARAM(x, y));
        return true;
    }
    if (verb == "file" || verb == "color" || verb == "chooser-cancel") {
        HWND chooser = OpenChooser();
        if (chooser == nullptr) {
            return false;  // not open yet
        }
        if (verb == "chooser-cancel") {
            PostMessageA(chooser, WM_COMMAND, IDCANCEL, 0);
            return true;
        }
        if (verb == "file") {
            HWND field = GetDlgItem(chooser, kFileNameCombo);
            if (field == nullptr) {
                field = GetDlgItem(chooser, kFileNameEdit);
            }
            if (field == nullptr) {
                Fail(step, "the file chooser has no file name field");
                return true;
            }
            SetWindowTextA(field, argument.c_str());
        } else {
            int red = 0, green = 0, blue = 0;
            if (std::sscanf(argument.c_str(), "%d,%d,%d", &red, &green, &blue) != 3) {
                Fail(step, "bad colour");
                return true;
            }
            SetDlgItemInt(chooser, kColorRedField, red, FALSE);
            SetDlgItemInt(chooser, kColorGreenField, green, FALSE);
            SetDlgItemInt(chooser, kColorBlueField, blue, FALSE);
        }
        PostMessageA(GetDlgItem(chooser, IDOK), BM_CLICK, 0, 0);
        return true;
    }

    HWND dialog = ConfigurationDialog();
    if (dialog == nullptr) {
        return false;  // not up yet
    }
    if (verb == "ok" || verb == "cancel") {
        PostMessageA(GetDlgItem(dialog, verb == "ok" ? IDOK : IDCANCEL), BM_CLICK, 0, 0);
        return true;
    }
    if (verb == "close") {
        PostMessageA(dialog, WM_CLOSE, 0, 0);
        return true;
    }
    if (verb == "escape") {
        // A key press goes to the focused control; the dialog's own message
        // loop turns Escape into Cancel.
        HWND focus = GetFocus();
        PostMessageA(focus != nullptr ? focus : dialog, WM_KEYDOWN, VK_ESCAPE, 0);
        return true;
    }
    if (verb == "click") {
        const int id = std::atoi(argument.c_str());
        HWND control = GetDlgItem(dialog, id);
        if (control == nullptr) {
            Fail(step, "no such control");
        } else if (!IsWindowEnabled(control)) {
            std::printf("refused click:%d disabled\n", id);
        } else {
            PostMessageA(control, BM_CLICK, 0, 0);
        }
        return true;
    }
    if (verb == "type" || verb == "select") {
        int id = 0;
        std::string value;
        HWND control = SplitAssignment(argument, id, value) ? GetDlgItem(dialog, id) : nullptr;
        if (control == nullptr) {
            Fail(step, "no such control");
            return true;
        }
        if (!IsWindowEnabled(control)) {
            std::printf("refused %s:%d disabled\n", verb.c_str(), id);
            return true;
        }
        if (verb == "select") {
            SendMessageA(control, CB_SETCURSEL, static_cast<WPARAM>(std::atoi(value.c_str())), 0);
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                         reinterpret_cast<LPARAM>(control));
            return true;
        }
        // Key by key, as typed: a read-only field ignores the keys.
        SetFocus(control);
        SendMessageA(control, EM_SETSEL, 0, -1);
        SendMessageA(control, WM_CHAR, VK_BACK, 0);
        for (char key : value) {
            SendMessageA(control, WM_CHAR, static_cast<unsigned char>(key), 0);
        }
        return true;
    }
    if (verb == "state") {
        const int id = std::atoi(argument.c_str());
        HWND control = GetDlgItem(dialog, id);
        if (control == nullptr) {
            Fail(step, "no such control");
            return true;
        }
        char text[256] = {};
        GetWindowTextA(control, text, sizeof(text));
        char className[32] = {};
        GetClassNameA(control, className, sizeof(className));
        const LONG style = GetWindowLongA(control, GWL_STYLE);
        int selection = -1;
        if (_stricmp(className, "ComboBox") == 0) {
            selection = static_cast<int>(SendMessageA(control, CB_GETCURSEL, 0, 0));
        }
        std::printf("state %d checked=%u enabled=%d readonly=%d selection=%d text=%s\n", id,
                    IsDlgButtonChecked(dialog, id), IsWindowEnabled(control) ? 1 : 0,
                    (style & ES_READONLY) != 0 ? 1 : 0, selection, text);
        return true;
    }
    Fail(step, "unknown step");
    return true;
}
