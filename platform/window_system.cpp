#include "platform/window_system.h"

#include <cstring>

INT_PTR WindowSystem::RunModalDialog(HINSTANCE, int, HWND, DLGPROC, LPARAM) {
    // What the platform reports when it cannot create the dialog.
    return -1;
}

void WindowSystem::EndModalDialog(HWND, INT_PTR) {}
void WindowSystem::SetDialogUserPointer(HWND, void*) {}
void* WindowSystem::DialogUserPointer(HWND) { return nullptr; }
HWND WindowSystem::ControlWindow(HWND, int) { return nullptr; }
void WindowSystem::SetControlText(HWND, int, const char*) {}

unsigned WindowSystem::GetControlText(HWND, int, char* buffer, int capacity) {
    if (capacity > 0) {
        buffer[0] = '\0';
    }
    return 0;
}

void WindowSystem::SetControlUnsigned(HWND, int, unsigned) {}
void WindowSystem::SetChecked(HWND, int, bool) {}
bool WindowSystem::IsChecked(HWND, int) { return false; }
void WindowSystem::SetReadOnly(HWND, int, bool) {}
void WindowSystem::EnableControl(HWND, int, bool) {}
void WindowSystem::AddListItem(HWND, int, const char*) {}
void WindowSystem::SelectListItem(HWND, int, int) {}
int WindowSystem::SelectedListItem(HWND, int) { return -1; }
HWND WindowSystem::FindWindowByTitle(const char*) { return nullptr; }
bool WindowSystem::BelongsToThisProcess(HWND) { return false; }
WNDPROC WindowSystem::ReplaceWindowProc(HWND, WNDPROC) { return nullptr; }

LRESULT WindowSystem::CallWindowProc(WNDPROC procedure, HWND window, UINT message,
                                     WPARAM wParam, LPARAM lParam) {
    return procedure != nullptr ? procedure(window, message, wParam, lParam) : 0;
}

void WindowSystem::ConfineCursor(HWND, int, int, int, int) {}
void WindowSystem::ReleaseCursor() {}
HDC WindowSystem::AcquireDeviceContext(HWND) { return nullptr; }
void WindowSystem::ReleaseDeviceContext(HWND, HDC) {}

HDC WindowSystem::BeginPainting(HWND, PAINTSTRUCT* paint) {
    std::memset(paint, 0, sizeof *paint);
    return nullptr;
}

void WindowSystem::EndPainting(HWND, const PAINTSTRUCT*) {}
void WindowSystem::UseTransparentBackground(HDC) {}
void WindowSystem::UseTextColor(HDC, COLORREF) {}
void WindowSystem::WriteText(HDC, int, int, const char*, int) {}
BOOL WindowSystem::GetOpenFileName(OpenFileRequest*) { return 0; }
BOOL WindowSystem::ChooseColor(ChooseColorRequest*) { return 0; }

namespace {
WindowSystem* g_windowSystem = nullptr;
}

// The platform's window system; the Windows build defines its own.
WindowSystem& PlatformWindowSystem();

WindowSystem& CurrentWindowSystem() {
    return g_windowSystem != nullptr ? *g_windowSystem : PlatformWindowSystem();
}

WindowSystem* UseWindowSystem(WindowSystem* windowSystem) {
    WindowSystem* previous = g_windowSystem;
    g_windowSystem = windowSystem;
    return previous;
}
