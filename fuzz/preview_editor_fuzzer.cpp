// The mask editor on the preview window, fed any sequence of mouse messages
// at any positions, over frames and overlays of any size, in either mode.
// Checks: every message still reaches the host's own procedure; a release
// that ends an edit leaves the corners its mode promises (inside the
// picture on the sides it cuts back, ordered where it orders them) and the
// dialog's mask text reads back as the record's mask.
#include <algorithm>
#include <cstdint>
#include <string>

#include "fake_preview.h"
#include "filter/filter_data.h"
#include "fuzz_input.h"
#include "ui/dialog_ids.h"
#include "ui/mask_text.h"
#include "ui/preview_editor.h"
#include "window_model.h"

namespace {

constexpr const char* kTarget = "preview_editor_fuzzer";
constexpr int kLargestSteps = 24;
constexpr std::int64_t kLargestFrameSide = 1 << 20;
const UINT kMessages[] = {WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_LBUTTONUP, WM_MOUSEMOVE, WM_PAINT};

int g_standInStream = 0;

std::int32_t ReadExtent(FuzzInput& input) {
    return input.Read<std::uint8_t>() < 220 ? static_cast<std::int32_t>(input.ReadBetween(-2, 400))
                                            : input.Read<std::int32_t>();
}

int ReadClientPosition(FuzzInput& input) {
    return input.Read<std::uint8_t>() < 230 ? static_cast<int>(input.ReadBetween(-20, 420))
                                            : static_cast<int>(input.Read<std::int16_t>());
}

void CheckAfterRelease(const FilterData& record, WindowModel& windows) {
    const std::string where = " (mask " + std::to_string(record.maskLeft) + "," +
                              std::to_string(record.maskTop) + "," +
                              std::to_string(record.maskRight) + "," +
                              std::to_string(record.maskBottom) + ")";
    FUZZ_CHECK(record.editing == 0, kTarget, "a release left the edit running");
    FUZZ_CHECK(record.maskLeft >= 0, kTarget, "left corner off the picture" + where);
    FUZZ_CHECK(record.maskRight <= record.frameWidth - 1,
               kTarget, "right corner off the picture" + where);
    if (record.moveMode != 0) {
        FUZZ_CHECK(record.maskTop >= 0, kTarget, "top corner off the picture" + where);
        FUZZ_CHECK(record.maskBottom <= record.frameHeight - 1,
                   kTarget, "bottom corner off the picture" + where);
    } else {
        FUZZ_CHECK(record.maskTop <= record.maskBottom, kTarget, "rows out of order" + where);
    }
    FilterData readBack{};
    ReadMaskText(windows.ControlOf(record.dialogWindow, IDC_MASK_TEXT).text.c_str(), readBack);
    FUZZ_CHECK(readBack.maskLeft == record.maskLeft && readBack.maskTop == record.maskTop &&
                   readBack.maskRight == record.maskRight &&
                   readBack.maskBottom == record.maskBottom,
               kTarget, "the dialog's mask text is not the record's mask" + where);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    g_hostMessages.clear();
    WindowModel windows;
    FakePreview preview{&windows};
    FilterData record{};
    // The frame size is the host's, never negative; the rest is anyone's.
    record.frameWidth = static_cast<std::int32_t>(input.ReadBetween(0, kLargestFrameSide));
    record.frameHeight = static_cast<std::int32_t>(input.ReadBetween(0, kLargestFrameSide));
    record.moveMode = input.Read<std::uint8_t>() % 2;
    record.keepAspect = input.Read<std::uint8_t>() % 2;
    record.overlayWidth = ReadExtent(input);
    record.overlayHeight = ReadExtent(input);
    if (input.Read<std::uint8_t>() % 2 == 0) {
        record.aviStream = reinterpret_cast<AviStreamHandle>(&g_standInStream);
    }
    record.maskLeft = ReadExtent(input);
    record.maskTop = ReadExtent(input);
    record.maskRight = ReadExtent(input);
    record.maskBottom = ReadExtent(input);
    record.preview = preview.Interface();
    record.dialogWindow = windows.CreateConfigurationDialog(nullptr);
    preview.Interface()->methods->SetButtonCallback(preview.Interface(), &PreviewButtonCallback,
                                                    &record);
    preview.Open();

    const int steps = static_cast<int>(input.ReadBetween(1, kLargestSteps));
    for (int step = 0; step < steps && input.remaining() > 0; ++step) {
        const UINT message =
            kMessages[input.ReadBetween(0, sizeof kMessages / sizeof kMessages[0] - 1)];
        const WPARAM keys = input.Read<std::uint8_t>() % 4 == 0 ? 0 : MK_LBUTTON;
        const int x = ReadClientPosition(input);
        const int y = ReadClientPosition(input);
        const bool wasEditing = record.editing != 0;
        const std::size_t before = g_hostMessages.size();
        const LPARAM position = MousePosition(x, y);
        windows.Send(preview.window, message, keys, position);
        FUZZ_CHECK(std::any_of(g_hostMessages.begin() + static_cast<std::ptrdiff_t>(before),
                               g_hostMessages.end(),
                               [&](const HostMessage& seen) {
                                   return seen.message == message && seen.lParam == position &&
                                          seen.wParam == keys;
                               }),
                   kTarget, "a message did not reach the host's procedure unchanged");
        if (message == WM_LBUTTONUP && wasEditing) {
            CheckAfterRelease(record, windows);
        }
    }
    EndPreviewEditing(record);
    FUZZ_CHECK(record.editing == 0, kTarget, "the dialog's end left the edit running");
    return 0;
}
