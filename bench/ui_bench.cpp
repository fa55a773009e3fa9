// The user interface's share of a preview drag: every mouse message of a drag
// runs the editor's step (mask, read-outs) before the host redraws, and the
// mask text is read back at every change of the field.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "filter/filter_data.h"
#include "platform/window_system.h"
#include "ui/mask_text.h"
#include "ui/position_readouts.h"
#include "ui/preview_editor.h"

namespace {

LRESULT CALLBACK HostProcedure(HWND, UINT message, WPARAM, LPARAM) { return message; }

// A window system with one preview window and no dialog behind it.
class PreviewOnly : public WindowSystem {
public:
    HWND FindWindowByTitle(const char*) override { return window; }
    bool BelongsToThisProcess(HWND) override { return true; }
    WNDPROC ReplaceWindowProc(HWND, WNDPROC procedure) override {
        WNDPROC previous = current;
        current = procedure;
        return previous;
    }

    HWND window = reinterpret_cast<HWND>(0x100);
    WNDPROC current = &HostProcedure;
};

LPARAM Position(int x, int y) {
    return static_cast<LPARAM>(static_cast<std::int32_t>(
        (static_cast<std::uint32_t>(static_cast<std::uint16_t>(y)) << 16) |
        static_cast<std::uint16_t>(x)));
}

void BM_DrawDragStep(benchmark::State& state) {
    PreviewOnly windows;
    WindowSystem* previous = UseWindowSystem(&windows);
    FilterData record{};
    record.frameWidth = 720;
    record.frameHeight = 576;
    record.keepAspect = state.range(0);
    record.aviStream = reinterpret_cast<AviStreamHandle>(&record);
    record.overlayWidth = 640;
    record.overlayHeight = 480;
    PreviewButtonCallback(true, &record);
    PreviewWndProc(windows.window, WM_LBUTTONDOWN, MK_LBUTTON, Position(50, 50));
    int x = 0;
    for (auto _ : state) {
        x = (x + 7) & 511;
        benchmark::DoNotOptimize(
            PreviewWndProc(windows.window, WM_MOUSEMOVE, MK_LBUTTON, Position(x, 300)));
    }
    EndPreviewEditing(record);
    UseWindowSystem(previous);
}
BENCHMARK(BM_DrawDragStep)->Arg(0)->Arg(1);

void BM_ReadMaskText(benchmark::State& state) {
    FilterData record{};
    const char* const texts[] = {"10 20 110 220", "10 20 w100 h50", "-2147483648 5 7 8"};
    int i = 0;
    for (auto _ : state) {
        ReadMaskText(texts[i], record);
        i = (i + 1) % 3;
        benchmark::DoNotOptimize(record.maskRight);
    }
}
BENCHMARK(BM_ReadMaskText);

void BM_UpdatePositionFields(benchmark::State& state) {
    FilterData record{};
    record.frameWidth = 720;
    record.frameHeight = 576;
    std::int32_t right = 0;
    for (auto _ : state) {
        right = (right + 13) & 1023;
        UpdatePositionFields(nullptr, 10, 20, right, 400, record);
    }
}
BENCHMARK(BM_UpdatePositionFields);

}  // namespace
