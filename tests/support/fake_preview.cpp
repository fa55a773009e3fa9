#include "fake_preview.h"

#include "ui/preview_editor.h"

std::vector<HostMessage> g_hostMessages;

LRESULT HostAnswer(UINT message, WPARAM wParam, LPARAM lParam) {
    return static_cast<LRESULT>(message) * 1000003 + static_cast<LRESULT>(wParam) * 7 +
           static_cast<LRESULT>(lParam);
}

LRESULT CALLBACK HostPreviewProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    g_hostMessages.push_back(HostMessage{window, message, wParam, lParam});
    return HostAnswer(message, wParam, lParam);
}

const IFilterPreviewMethods FakePreview::kMethods = {
    &FakePreview::SetButtonCallback, &FakePreview::SetSampleCallback,
    &FakePreview::IsPreviewEnabled,  &FakePreview::Toggle,
    &FakePreview::Display,           &FakePreview::RedoFrame,
    &FakePreview::RedoSystem,        &FakePreview::UndoSystem,
    &FakePreview::InitButton,        &FakePreview::ClosePreview,
    &FakePreview::SampleCurrentFrame, &FakePreview::SampleFrames,
};

FakePreview::FakePreview(WindowModel* windows) : windows_(windows), self_{{&kMethods}, this} {}

FakePreview& FakePreview::Owner(IFilterPreview* preview) {
    return *reinterpret_cast<Self*>(preview)->owner;
}

void FakePreview::Open() {
    if (open) {
        return;
    }
    open = true;
    if (windows_ != nullptr) {
        window = windows_->CreateTopLevelWindow(kPreviewWindowTitle, &HostPreviewProcedure, true,
                                                screenX, screenY);
    }
    if (callback != nullptr) {
        callback(true, callbackData);
    }
}

void FakePreview::Close() {
    if (!open) {
        return;
    }
    open = false;
    if (callback != nullptr) {
        callback(false, callbackData);
    }
    if (windows_ != nullptr && window != nullptr) {
        windows_->DestroyTopLevelWindow(window);
    }
    window = nullptr;
}

void HOST_THISCALL FakePreview::SetButtonCallback(IFilterPreview* self,
                                                  FilterPreviewButtonCallback callback,
                                                  void* data) {
    Owner(self).callback = callback;
    Owner(self).callbackData = data;
}

void HOST_THISCALL FakePreview::SetSampleCallback(IFilterPreview*, FilterPreviewSampleCallback,
                                                  void*) {}

bool HOST_THISCALL FakePreview::IsPreviewEnabled(IFilterPreview* self) { return Owner(self).open; }

void HOST_THISCALL FakePreview::Toggle(IFilterPreview* self, HWND owner) {
    FakePreview& preview = Owner(self);
    preview.toggleOwners.push_back(owner);
    if (preview.open) {
        preview.Close();
    } else {
        preview.Open();
    }
}

void HOST_THISCALL FakePreview::Display(IFilterPreview*, HWND, bool) {}

void HOST_THISCALL FakePreview::RedoFrame(IFilterPreview* self) {
    FakePreview& preview = Owner(self);
    ++preview.redraws;
    if (preview.onRedraw) {
        preview.onRedraw();
    }
}

void HOST_THISCALL FakePreview::RedoSystem(IFilterPreview*) {}
void HOST_THISCALL FakePreview::UndoSystem(IFilterPreview*) {}

void HOST_THISCALL FakePreview::InitButton(IFilterPreview* self, HWND button) {
    Owner(self).buttons.push_back(button);
}

void HOST_THISCALL FakePreview::ClosePreview(IFilterPreview* self) { Owner(self).Close(); }
bool HOST_THISCALL FakePreview::SampleCurrentFrame(IFilterPreview*) { return false; }
long HOST_THISCALL FakePreview::SampleFrames(IFilterPreview*) { return 0; }
