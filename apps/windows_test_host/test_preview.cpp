#include "apps/windows_test_host/test_preview.h"

#include <cstdio>
#include <exception>

namespace {

constexpr const char* kPreviewTitle = "Filter Preview";
constexpr const char* kPreviewClass = "QuillmereTestPreview";
// The picture's top-left pixel lies at this client point, as in the host.
constexpr int kPictureInset = 4;
// Where the preview opens: right of the dialog, so both can be seen.
constexpr int kPreviewLeft = 480;
constexpr int kPreviewTop = 0;

TestPreview& Owner(IFilterPreview* self) {
    struct Layout {
        IFilterPreview face;
        TestPreview* owner;
    };
    return *reinterpret_cast<Layout*>(self)->owner;
}

}  // namespace

// The method table in the host's order; every entry is thiscall in the
// Windows build, with the object as its first parameter.
struct PreviewMethods {
    static void HOST_THISCALL SetButtonCallback(IFilterPreview* self,
                                                FilterPreviewButtonCallback callback,
                                                void* data) {
        Owner(self).buttonCallback_ = callback;
        Owner(self).buttonData_ = data;
    }
    static void HOST_THISCALL SetSampleCallback(IFilterPreview* self,
                                                FilterPreviewSampleCallback callback,
                                                void* data) {
        Owner(self).sampleCallback_ = callback;
        Owner(self).sampleData_ = data;
    }
    static bool HOST_THISCALL isPreviewEnabled(IFilterPreview* self) {
        return Owner(self).IsOpen();
    }
    static void HOST_THISCALL Toggle(IFilterPreview* self, HWND owner) {
        Owner(self).Toggle(owner);
    }
    static void HOST_THISCALL Display(IFilterPreview* self, HWND owner, bool show) {
        if (show) {
            Owner(self).Open(owner);
        } else {
            Owner(self).Close();
        }
    }
    static void HOST_THISCALL RedoFrame(IFilterPreview* self) { Owner(self).RedoFrame(); }
    static void HOST_THISCALL RedoSystem(IFilterPreview* self) { Owner(self).RedoSystem(); }
    static void HOST_THISCALL UndoSystem(IFilterPreview* self) { Owner(self).UndoSystem(); }
    static void HOST_THISCALL InitButton(IFilterPreview* self, HWND button) {
        Owner(self).InitButton(button);
    }
    static void HOST_THISCALL Close(IFilterPreview* self) { Owner(self).Close(); }
    static bool HOST_THISCALL SampleCurrentFrame(IFilterPreview* self) {
        return Owner(self).SampleCurrentFrame();
    }
    static long HOST_THISCALL SampleFrames(IFilterPreview* self) {
        return Owner(self).SampleFrames();
    }

    static const IFilterPreviewMethods kTable;
};

const IFilterPreviewMethods PreviewMethods::kTable = {
    &PreviewMethods::SetButtonCallback, &PreviewMethods::SetSampleCallback,
    &PreviewMethods::isPreviewEnabled,  &PreviewMethods::Toggle,
    &PreviewMethods::Display,           &PreviewMethods::RedoFrame,
    &PreviewMethods::RedoSystem,        &PreviewMethods::UndoSystem,
    &PreviewMethods::InitButton,        &PreviewMethods::Close,
    &PreviewMethods::SampleCurrentFrame, &PreviewMethods::SampleFrames,
};

TestPreview::TestPreview(FilterInstance& instance, MainVideo& video, long currentFrame)
    : object_{{&PreviewMethods::kTable}, this},
      instance_(instance),
      video_(video),
      currentFrame_(currentFrame) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &TestPreview::WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kPreviewClass;
    RegisterClassA(&windowClass);  // a second preview finds the class registered
}

TestPreview::~TestPreview() { Close(); }

// The preview's methods are called from inside the module: nothing may be
// thrown back through it. A pass that cannot run leaves the preview blank.
void TestPreview::StartPass() {
    try {
        pass_ = std::make_unique<ProcessingPass>(instance_, video_.width(), video_.height());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "preview: %s\n", error.what());
        pass_.reset();
    }
}

void TestPreview::Render() {
    if (!pass_) {
        return;
    }
    try {
        video_.ReadFrame(currentFrame_, pass_->source().bitmap);
        pass_->RunFrame(currentFrame_);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "preview: %s\n", error.what());
        pass_.reset();
    }
}

void TestPreview::Open(HWND) {
    if (IsOpen()) {
        return;
    }
    StartPass();
    Render();
    RECT frame = {0, 0, video_.width() + 2 * kPictureInset, video_.height() + 2 * kPictureInset};
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;
    AdjustWindowRect(&frame, style, FALSE);
    // Not owned by the dialog: the preview's lifetime is the host's to decide.
    window_ = CreateWindowA(kPreviewClass, kPreviewTitle, style, kPreviewLeft, kPreviewTop,
                            frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                            GetModuleHandleA(nullptr), this);
    if (window_ == nullptr) {
        std::fprintf(stderr, "cannot create the preview window\n");
        pass_.reset();
        return;
    }
    UpdateWindow(window_);
    ++openNotices_;
    if (buttonCallback_ != nullptr) {
        buttonCallback_(true, buttonData_);
    }
}

void TestPreview::Close() {
    if (!IsOpen()) {
        return;
    }
    // The notice comes while the window still exists, so the filter can put
    // the window's own procedure back before it goes.
    ++closeNotices_;
    if (buttonCallback_ != nullptr) {
        buttonCallback_(false, buttonData_);
    }
    HWND window = window_;
    window_ = nullptr;
    DestroyWindow(window);
    pass_.reset();  // runs the end procedure
}

void TestPreview::Toggle(HWND owner) {
    if (IsOpen()) {
        Close();
    } else {
        Open(owner);
    }
}

void TestPreview::RedoFrame() {
    ++redraws_;
    if (!IsOpen()) {
        return;
    }
    Render();
    InvalidateRect(window_, nullptr, FALSE);
    UpdateWindow(window_);
}

void TestPreview::RedoSystem() {
    if (!IsOpen()) {
        return;
    }
    pass_.reset();
    StartPass();
    RedoFrame();
}

void TestPreview::UndoSystem() {
    pass_.reset();
    if (IsOpen()) {
        InvalidateRect(window_, nullptr, TRUE);
    }
}

bool TestPreview::SampleCurrentFrame() {
    if (sampleCallback_ == nullptr || !pass_) {
        return false;
    }
    Render();
    sampleCallback_(const_cast<VFBitmap*>(&pass_->output()), currentFrame_, video_.length(),
                    sampleData_);
    return true;
}

long TestPreview::SampleFrames() {
    if (sampleCallback_ == nullptr) {
        return 0;
    }
    // One pass at a time runs on an instance: the preview's own pass ends
    // for the sampling and starts again afterwards.
    const bool wasRunning = pass_ != nullptr;
    pass_.reset();
    long sampled = 0;
    try {
        ProcessingPass pass(instance_, video_.width(), video_.height());
        for (long frame = 0; frame < video_.length(); ++frame) {
            if (!video_.ReadFrame(frame, pass.source().bitmap)) {
                break;
            }
            pass.RunFrame(frame);
            sampleCallback_(const_cast<VFBitmap*>(&pass.output()), frame, video_.length(),
                            sampleData_);
            ++sampled;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "preview: %s\n", error.what());
    }
    if (wasRunning) {
        StartPass();
        Render();
    }
    return sampled;
}

bool TestPreview::SaveShownFrame(const std::string& path) const {
    return pass_ && WriteBmp(path, pass_->output().bitmap);
}

bool TestPreview::CaptureClientArea(const std::string& path) const {
    if (!IsOpen()) {
        return false;
    }
    RECT client;
    GetClientRect(window_, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC windowContext = GetDC(window_);
    HDC memoryContext = CreateCompatibleDC(windowContext);
    HBITMAP capture = CreateDIBSection(windowContext, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool written = false;
    if (memoryContext != nullptr && capture != nullptr) {
        HGDIOBJ previous = SelectObject(memoryContext, capture);
        BitBlt(memoryContext, 0, 0, width, height, windowContext, 0, 0, SRCCOPY);
        GdiFlush();
        // The capture is top-down: the bitmap's rows run the other way.
        VBitmap picture{};
        picture.data = static_cast<Pixel32*>(bits) + static_cast<std::ptrdiff_t>(height - 1) * width;
        picture.depth = 32;
        picture.w = width;
        picture.h = height;
        picture.pitch = -static_cast<long>(width) * 4;
        written = WriteBmp(path, picture);
        SelectObject(memoryContext, previous);
    }
    if (capture != nullptr) {
        DeleteObject(capture);
    }
    if (memoryContext != nullptr) {
        DeleteDC(memoryContext);
    }
    ReleaseDC(window_, windowContext);
    return written;
}

void TestPreview::Paint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (pass_) {
        const VBitmap& output = pass_->output().bitmap;
        // The rows are bottom-up 32-bit pixels; a DIB as wide as the row
        // distance covers any padding at the end of each row.
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = static_cast<LONG>(output.pitch / 4);
        info.bmiHeader.biHeight = output.h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        SetDIBitsToDevice(dc, kPictureInset, kPictureInset, output.w, output.h, 0, 0, 0,
                          output.h, output.data, &info, DIB_RGB_COLORS);
    }
    EndPaint(window, &paint);
}

LRESULT CALLBACK TestPreview::WindowProc(HWND window, UINT message, WPARAM wParam,
                                         LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* preview = reinterpret_cast<TestPreview*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_PAINT:
        if (preview != nullptr) {
            preview->Paint(window);
            return 0;
        }
        break;
    case WM_CLOSE:
        // The close box closes the preview the same way the Preview button does.
        if (preview != nullptr && preview->window_ == window) {
            preview->Close();
            return 0;
        }
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
