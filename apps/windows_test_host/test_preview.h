// The host's preview, played by the test host: an IFilterPreview object whose
// twelve methods sit in the host's order and convention, and a real top-level
// window "Filter Preview" that shows the filter's output of the current frame
// with its top-left pixel at client point (4, 4).
#pragma once

#include <memory>
#include <string>

#include "apps/windows_test_host/frame_io.h"
#include "host/filter_interface.h"
#include "hostkit/processing_driver.h"

class TestPreview {
public:
    TestPreview(FilterInstance& instance, MainVideo& video, long currentFrame);
    ~TestPreview();
    TestPreview(const TestPreview&) = delete;
    TestPreview& operator=(const TestPreview&) = delete;

    // What the filter receives in its activation's `ifp`.
    IFilterPreview* Interface() { return &object_.face; }

    bool IsOpen() const { return window_ != nullptr; }
    HWND Window() const { return window_; }
    int RedrawCount() const { return redraws_; }
    int OpenNotices() const { return openNotices_; }
    int CloseNotices() const { return closeNotices_; }
    // The last output frame shown, written as BMP; false when none is shown.
    bool SaveShownFrame(const std::string& path) const;
    // What the window's client area shows on screen, written as BMP.
    bool CaptureClientArea(const std::string& path) const;

    void Open(HWND owner);
    void Close();
    void Toggle(HWND owner);
    void RedoFrame();
    void RedoSystem();
    void UndoSystem();
    void InitButton(HWND button) { button_ = button; }
    bool SampleCurrentFrame();
    long SampleFrames();

private:
    struct Object {
        IFilterPreview face;  // first, so the host's `this` is the whole object
        TestPreview* owner;
    };

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void StartPass();
    void Render();
    void Paint(HWND window);

    friend struct PreviewMethods;

    Object object_;
    FilterInstance& instance_;
    MainVideo& video_;
    long currentFrame_;
    std::unique_ptr<ProcessingPass> pass_;
    HWND window_ = nullptr;
    HWND button_ = nullptr;
    FilterPreviewButtonCallback buttonCallback_ = nullptr;
    void* buttonData_ = nullptr;
    FilterPreviewSampleCallback sampleCallback_ = nullptr;
    void* sampleData_ = nullptr;
    int redraws_ = 0;
    int openNotices_ = 0;
    int closeNotices_ = 0;
};
