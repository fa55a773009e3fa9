#include "window_model.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

WindowModel::WindowModel() : previous_(UseWindowSystem(this)) {}

WindowModel::~WindowModel() { UseWindowSystem(previous_); }

LPARAM MousePosition(int x, int y) {
    const std::uint32_t word = (static_cast<std::uint32_t>(static_cast<std::uint16_t>(y)) << 16) |
                               static_cast<std::uint16_t>(x);
    return static_cast<LPARAM>(static_cast<std::int32_t>(word));
}

WPARAM CommandWord(int control, WORD code) {
    return static_cast<WPARAM>((static_cast<std::uint32_t>(code) << 16) |
                               static_cast<std::uint16_t>(control));
}

WindowModel::Dialog& WindowModel::DialogOf(HWND dialog) {
    auto found = dialogs_.find(dialog);
    if (found == dialogs_.end()) {
        throw std::logic_error("no such dialog");
    }
    return found->second;
}

WindowModel::Control* WindowModel::FindControl(HWND dialog, int control) {
    auto found = dialogs_.find(dialog);
    if (found == dialogs_.end()) {
        return nullptr;
    }
    for (Control& candidate : found->second.controls) {
        if (candidate.id == control && control != IDC_UNADDRESSED) {
            return &candidate;
        }
    }
    return nullptr;
}

WindowModel::Control& WindowModel::ControlOf(HWND dialog, int control) {
    Control* found = FindControl(dialog, control);
    if (found == nullptr) {
        throw std::logic_error("no such control: " + std::to_string(control));
    }
    return *found;
}

INT_PTR WindowModel::Notify(HWND dialog, int control, WORD code) {
    Dialog& owner = DialogOf(dialog);
    if (owner.procedure == nullptr) {
        return 0;
    }
    Control* target = FindControl(dialog, control);
    return owner.procedure(dialog, WM_COMMAND, CommandWord(control, code),
                           reinterpret_cast<LPARAM>(target != nullptr ? target->handle : nullptr));
}

void WindowModel::UntickRadioGroup(Dialog& dialog, const Control& clicked) {
    // A group runs from a control with WS_GROUP up to the next one.
    auto position = std::find_if(dialog.controls.begin(), dialog.controls.end(),
                                 [&](const Control& c) { return c.handle == clicked.handle; });
    auto first = position;
    while (first != dialog.controls.begin() && (first->style & kStyleGroup) == 0) {
        --first;
    }
    for (auto it = first; it != dialog.controls.end(); ++it) {
        if (it != first && (it->style & kStyleGroup) != 0) {
            break;
        }
        if ((it->style & kStyleButtonTypeMask) == kStyleAutoRadioButton &&
            it->controlClass == ControlClass::Button) {
            it->checked = false;
        }
    }
}

bool WindowModel::Click(HWND dialog, int control) {
    Control& target = ControlOf(dialog, control);
    if (!target.enabled || target.controlClass != ControlClass::Button) {
        return false;
    }
    const std::uint32_t type = target.style & kStyleButtonTypeMask;
    if (type == kStyleAutoCheckBox) {
        target.checked = !target.checked;
    } else if (type == kStyleAutoRadioButton) {
        UntickRadioGroup(DialogOf(dialog), target);
        target.checked = true;
    }
    Notify(dialog, control, BN_CLICKED);
    return true;
}

bool WindowModel::Type(HWND dialog, int control, const std::string& text) {
    Control& target = ControlOf(dialog, control);
    if (!target.enabled || target.readOnly || target.controlClass != ControlClass::Edit) {
        return false;
    }
    target.text = text;
    Notify(dialog, control, EN_CHANGE);
    return true;
}

bool WindowModel::ChooseListItem(HWND dialog, int control, int index) {
    Control& target = ControlOf(dialog, control);
    if (!target.enabled || target.controlClass != ControlClass::ComboBox || index < 0 ||
        index >= static_cast<int>(target.items.size())) {
        return false;
    }
    target.selection = index;
    Notify(dialog, control, CBN_SELCHANGE);
    return true;
}

HWND WindowModel::CreateConfigurationDialog(DLGPROC procedure) {
    const HWND handle = NewHandle<HWND>();
    Dialog& dialog = dialogs_[handle];
    dialog.handle = handle;
    dialog.resource = kConfigurationDialog.resource;
    dialog.procedure = procedure;
    for (int i = 0; i < kConfigurationDialog.controlCount; ++i) {
        const DialogControl& source = kConfigurationDialog.controls[i];
        Control control;
        control.id = source.id;
        control.controlClass = source.controlClass;
        control.style = source.style;
        control.handle = NewHandle<HWND>();
        control.text = source.caption;
        control.enabled = (source.style & kStyleDisabled) == 0;
        control.readOnly = source.controlClass == ControlClass::Edit &&
                           (source.style & kStyleEditReadOnly) != 0;
        dialog.controls.push_back(control);
    }
    lastDialog_ = handle;
    return handle;
}

INT_PTR WindowModel::RunModalDialog(HINSTANCE module, int resource, HWND parent,
                                    DLGPROC procedure, LPARAM parameter) {
    if (failDialogCreation || resource != kConfigurationDialog.resource) {
        return -1;
    }
    const HWND handle = CreateConfigurationDialog(procedure);
    Dialog& dialog = DialogOf(handle);
    dialog.module = module;
    dialog.resource = resource;
    dialog.parent = parent;

    procedure(handle, WM_INITDIALOG, 0, parameter);
    if (!DialogOf(handle).ended) {
        procedure(handle, WM_PAINT, 0, 0);
    }
    if (!DialogOf(handle).ended && userSession) {
        userSession(handle);
    }
    if (!DialogOf(handle).ended) {
        Notify(handle, IDCANCEL, BN_CLICKED);
    }
    const Dialog& ended = DialogOf(handle);
    return ended.ended ? ended.result : -1;
}

void WindowModel::EndModalDialog(HWND dialog, INT_PTR result) {
    Dialog& target = DialogOf(dialog);
    target.ended = true;
    target.result = result;
}

void WindowModel::SetDialogUserPointer(HWND dialog, void* pointer) {
    DialogOf(dialog).userPointer = pointer;
}

void* WindowModel::DialogUserPointer(HWND dialog) {
    auto found = dialogs_.find(dialog);
    return found != dialogs_.end() ? found->second.userPointer : nullptr;
}

HWND WindowModel::ControlWindow(HWND dialog, int control) {
    Control* found = FindControl(dialog, control);
    return found != nullptr ? found->handle : nullptr;
}

void WindowModel::SetControlText(HWND dialog, int control, const char* text) {
    Control* target = FindControl(dialog, control);
    if (target == nullptr) {
        return;
    }
    target->text = text;
    textLog.emplace_back(control, text);
    if (target->controlClass == ControlClass::Edit) {
        Notify(dialog, control, EN_CHANGE);
    }
}

unsigned WindowModel::GetControlText(HWND dialog, int control, char* buffer, int capacity) {
    if (capacity <= 0) {
        return 0;
    }
    Control* target = FindControl(dialog, control);
    const std::string text = target != nullptr ? target->text : std::string();
    const std::size_t count = std::min(text.size(), static_cast<std::size_t>(capacity - 1));
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<unsigned>(count);
}

void WindowModel::SetControlUnsigned(HWND dialog, int control, unsigned value) {
    Control* target = FindControl(dialog, control);
    if (target != nullptr) {
        target->text = std::to_string(value);
        textLog.emplace_back(control, target->text);
    }
}

void WindowModel::SetChecked(HWND dialog, int control, bool checked) {
    if (Control* target = FindControl(dialog, control)) {
        target->checked = checked;
    }
}

bool WindowModel::IsChecked(HWND dialog, int control) {
    Control* target = FindControl(dialog, control);
    return target != nullptr && target->checked;
}

void WindowModel::SetReadOnly(HWND dialog, int control, bool readOnly) {
    Control* target = FindControl(dialog, control);
    if (target != nullptr && target->controlClass == ControlClass::Edit) {
        target->readOnly = readOnly;
    }
}

void WindowModel::EnableControl(HWND dialog, int control, bool enabled) {
    if (Control* target = FindControl(dialog, control)) {
        target->enabled = enabled;
    }
}

void WindowModel::AddListItem(HWND dialog, int control, const char* text) {
    Control* target = FindControl(dialog, control);
    if (target != nullptr && target->controlClass == ControlClass::ComboBox) {
        target->items.emplace_back(text);
    }
}

void WindowModel::SelectListItem(HWND dialog, int control, int index) {
    Control* target = FindControl(dialog, control);
    if (target != nullptr && target->controlClass == ControlClass::ComboBox) {
        // An index outside the list clears the selection, as CB_SETCURSEL does.
        target->selection =
            index >= 0 && index < static_cast<int>(target->items.size()) ? index : -1;
    }
}

int WindowModel::SelectedListItem(HWND dialog, int control) {
    Control* target = FindControl(dialog, control);
    return target != nullptr && target->controlClass == ControlClass::ComboBox
               ? target->selection
               : -1;
}

HWND WindowModel::CreateTopLevelWindow(const std::string& title, WNDPROC procedure,
                                       bool ownProcess, int screenX, int screenY) {
    const HWND handle = NewHandle<HWND>();
    Window& window = windows_[handle];
    window.title = title;
    window.procedure = procedure;
    window.ownProcess = ownProcess;
    window.screenX = screenX;
    window.screenY = screenY;
    return handle;
}

void WindowModel::DestroyTopLevelWindow(HWND window) {
    if (Window* target = LookUpWindow(window)) {
        target->destroyed = true;
    }
}

WindowModel::Window* WindowModel::LookUpWindow(HWND window) {
    auto found = windows_.find(window);
    return found != windows_.end() && !found->second.destroyed ? &found->second : nullptr;
}

WNDPROC WindowModel::ProcedureOf(HWND window) {
    Window* target = LookUpWindow(window);
    return target != nullptr ? target->procedure : nullptr;
}

LRESULT WindowModel::Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* target = LookUpWindow(window);
    if (target == nullptr || target->procedure == nullptr) {
        return 0;
    }
    return target->procedure(window, message, wParam, lParam);
}

HWND WindowModel::FindWindowByTitle(const char* title) {
    for (auto& [handle, window] : windows_) {
        if (!window.destroyed && window.title == title) {
            return handle;
        }
    }
    return nullptr;
}

bool WindowModel::BelongsToThisProcess(HWND window) {
    Window* target = LookUpWindow(window);
    return target != nullptr && target->ownProcess;
}

WNDPROC WindowModel::ReplaceWindowProc(HWND window, WNDPROC procedure) {
    Window* target = LookUpWindow(window);
    if (target == nullptr) {
        return nullptr;
    }
    return std::exchange(target->procedure, procedure);
}

void WindowModel::ConfineCursor(HWND window, int left, int top, int right, int bottom) {
    Window* target = LookUpWindow(window);
    const int x = target != nullptr ? target->screenX : 0;
    const int y = target != nullptr ? target->screenY : 0;
    cursorConfinement = RECT{left + x, top + y, right + x, bottom + y};
    ++confinements;
}

void WindowModel::ReleaseCursor() {
    cursorConfinement.reset();
    ++confinementReleases;
}

HDC WindowModel::AcquireDeviceContext(HWND) {
    const HDC context = NewHandle<HDC>();
    contexts_[context] = ContextState{};
    heldContexts.push_back(context);
    return context;
}

void WindowModel::ReleaseDeviceContext(HWND, HDC context) {
    heldContexts.erase(std::remove(heldContexts.begin(), heldContexts.end(), context),
                       heldContexts.end());
}

HDC WindowModel::BeginPainting(HWND, PAINTSTRUCT* paint) {
    std::memset(paint, 0, sizeof *paint);
    paint->hdc = NewHandle<HDC>();
    contexts_[paint->hdc] = ContextState{};
    ++paintsBegun;
    return paint->hdc;
}

void WindowModel::EndPainting(HWND, const PAINTSTRUCT*) { ++paintsEnded; }

void WindowModel::UseTransparentBackground(HDC context) { contexts_[context].transparent = true; }

void WindowModel::UseTextColor(HDC context, COLORREF color) { contexts_[context].color = color; }

void WindowModel::WriteText(HDC context, int x, int y, const char* text, int length) {
    const ContextState& state = contexts_[context];
    textDrawn.push_back(TextDrawn{context, x, y, std::string(text, static_cast<std::size_t>(length)),
                                  state.color, state.transparent});
}

BOOL WindowModel::GetOpenFileName(OpenFileRequest* request) {
    ++fileChoices;
    return fileChooser ? fileChooser(*request) : 0;
}

BOOL WindowModel::ChooseColor(ChooseColorRequest* request) {
    ColorChoice choice{*request, {}};
    if (request->lpCustColors != nullptr) {
        std::copy(request->lpCustColors, request->lpCustColors + 16, choice.customColors.begin());
    }
    colorChoices.push_back(choice);
    return colorChooser ? colorChooser(*request) : 0;
}
