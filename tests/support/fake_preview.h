// A stand-in for the host's preview interface. It counts what the module
// asks of it and, given a window model, opens and closes a window titled
// "Filter Preview" on Toggle and sends the open/close notices as the host
// does.
#pragma once

#include <functional>
#include <vector>

#include "host/filter_interface.h"
#include "window_model.h"

// The host's own procedure of the preview window: records every message and
// answers with a value derived from it, so a test can tell that a message and
// its answer passed through unchanged.
struct HostMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
extern std::vector<HostMessage> g_hostMessages;
LRESULT CALLBACK HostPreviewProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT HostAnswer(UINT message, WPARAM wParam, LPARAM lParam);

class FakePreview {
public:
    explicit FakePreview(WindowModel* windows = nullptr);

    FakePreview(const FakePreview&) = delete;
    FakePreview& operator=(const FakePreview&) = delete;

    IFilterPreview* Interface() { return &self_.preview; }

    // Opens or closes the preview as the host's Toggle does.
    void Open();
    void Close();

    FilterPreviewButtonCallback callback = nullptr;
    void* callbackData = nullptr;
    int redraws = 0;
    std::vector<HWND> toggleOwners;
    std::vector<HWND> buttons;
    HWND window = nullptr;
    bool open = false;
    // Screen position of the preview window's client area.
    int screenX = 100;
    int screenY = 50;
    // Called at every RedoFrame, to look at the record as the run procedure
    // would see it.
    std::function<void()> onRedraw;

private:
    struct Self {
        IFilterPreview preview;
        FakePreview* owner;
    };

    static FakePreview& Owner(IFilterPreview* preview);
    static void HOST_THISCALL SetButtonCallback(IFilterPreview* self,
                                                FilterPreviewButtonCallback callback, void* data);
    static void HOST_THISCALL SetSampleCallback(IFilterPreview*, FilterPreviewSampleCallback,
                                                void*);
    static bool HOST_THISCALL IsPreviewEnabled(IFilterPreview* self);
    static void HOST_THISCALL Toggle(IFilterPreview* self, HWND owner);
    static void HOST_THISCALL Display(IFilterPreview*, HWND, bool);
    static void HOST_THISCALL RedoFrame(IFilterPreview* self);
    static void HOST_THISCALL RedoSystem(IFilterPreview*);
    static void HOST_THISCALL UndoSystem(IFilterPreview*);
    static void HOST_THISCALL InitButton(IFilterPreview* self, HWND button);
    static void HOST_THISCALL ClosePreview(IFilterPreview* self);
    static bool HOST_THISCALL SampleCurrentFrame(IFilterPreview*);
    static long HOST_THISCALL SampleFrames(IFilterPreview*);

    static const IFilterPreviewMethods kMethods;

    WindowModel* windows_;
    Self self_;
};
