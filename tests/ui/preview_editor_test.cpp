#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <iterator>
#include <ostream>
#include <string>

#include "fake_preview.h"
#include "filter/filter_data.h"
#include "ui/dialog_ids.h"
#include "ui/preview_editor.h"
#include "window_model.h"

namespace {

using Mask = std::array<std::int32_t, 4>;

Mask MaskOf(const FilterData& record) {
    return {record.maskLeft, record.maskTop, record.maskRight, record.maskBottom};
}

void SetMask(FilterData& record, const Mask& mask) {
    record.maskLeft = mask[0];
    record.maskTop = mask[1];
    record.maskRight = mask[2];
    record.maskBottom = mask[3];
}

// A 320 x 240 frame, the preview open and hooked, and a dialog whose
// procedure does not answer (the dialog's own answer is tested with the
// dialog).
class PreviewEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_hostMessages.clear();
        record.frameWidth = 320;
        record.frameHeight = 240;
        record.preview = preview.Interface();
        record.dialogWindow = windows.CreateConfigurationDialog(nullptr);
        preview.Interface()->methods->SetButtonCallback(preview.Interface(),
                                                        &PreviewButtonCallback, &record);
        preview.Open();
    }

    void TearDown() override { EndPreviewEditing(record); }

    LRESULT Mouse(UINT message, int x, int y, WPARAM keys) {
        return windows.Send(preview.window, message, keys, MousePosition(x, y));
    }
    void Press(int x, int y) { Mouse(WM_LBUTTONDOWN, x, y, MK_LBUTTON); }
    void Drag(int x, int y) { Mouse(WM_MOUSEMOVE, x, y, MK_LBUTTON); }
    void Release(int x, int y) { Mouse(WM_LBUTTONUP, x, y, 0); }

    std::string Text(int control) {
        return windows.ControlOf(record.dialogWindow, control).text;
    }

    WindowModel windows;
    FakePreview preview{&windows};
    FilterData record{};
};

TEST_F(PreviewEditorTest, OpeningNoticeHooksAndClosingNoticeRestores) {
    ASSERT_NE(preview.window, nullptr);
    EXPECT_EQ(record.previewWindow, preview.window);
    EXPECT_EQ(windows.ProcedureOf(preview.window), &PreviewWndProc);
    EXPECT_EQ(record.previousPreviewProc, &HostPreviewProcedure);
    EXPECT_EQ(previewHookRecord, &record);

    PreviewButtonCallback(false, &record);
    EXPECT_FALSE(PreviewHooked());
    EXPECT_EQ(windows.ProcedureOf(preview.window), &HostPreviewProcedure);
    // The record keeps the editor's own procedure, which nothing uses until
    // the next opening notice.
    EXPECT_EQ(record.previousPreviewProc, &PreviewWndProc);
}

TEST_F(PreviewEditorTest, ReopenedPreviewIsHookedAgain) {
    preview.Close();
    preview.Open();
    EXPECT_EQ(windows.ProcedureOf(preview.window), &PreviewWndProc);
    EXPECT_EQ(record.previousPreviewProc, &HostPreviewProcedure);
    Press(24, 24);
    EXPECT_EQ(record.editing, 1);
}

struct DrawPressCase {
    int x, y;  // client point
    bool accepted;
    Mask mask;  // after the press
};

void PrintTo(const DrawPressCase& c, std::ostream* os) {
    *os << "client (" << c.x << ", " << c.y << ")";
}

class DrawPressTest : public PreviewEditorTest,
                      public ::testing::WithParamInterface<DrawPressCase> {};

constexpr Mask kUntouched = {7, 8, 9, 10};

TEST_P(DrawPressTest, AcceptsPointsWhoseFirstRectangleLiesOnThePicture) {
    const DrawPressCase& c = GetParam();
    SetMask(record, kUntouched);
    Press(c.x, c.y);
    EXPECT_EQ(MaskOf(record), c.mask);
    EXPECT_EQ(record.editing, c.accepted ? 1 : 0);
    ASSERT_EQ(windows.cursorConfinement.has_value(), c.accepted);
    if (c.accepted) {
        // The picture on screen: client (4, 4) to (4 + 320, 4 + 240).
        const RECT& clip = *windows.cursorConfinement;
        EXPECT_EQ(clip.left, preview.screenX + 4);
        EXPECT_EQ(clip.top, preview.screenY + 4);
        EXPECT_EQ(clip.right, preview.screenX + 324);
        EXPECT_EQ(clip.bottom, preview.screenY + 244);
    }
    // The press neither shows the position nor redraws.
    EXPECT_TRUE(windows.textLog.empty());
    EXPECT_EQ(preview.redraws, 0);
}

INSTANTIATE_TEST_SUITE_P(
    ClientPoints, DrawPressTest,
    ::testing::Values(DrawPressCase{4, 4, true, {0, 0, 1, 1}},
                      DrawPressCase{3, 50, false, kUntouched},
                      DrawPressCase{50, 3, false, kUntouched},
                      DrawPressCase{322, 50, true, {318, 46, 319, 47}},
                      DrawPressCase{323, 50, false, kUntouched},
                      DrawPressCase{50, 242, true, {46, 238, 47, 239}},
                      DrawPressCase{50, 243, false, kUntouched},
                      DrawPressCase{-20, -20, false, kUntouched}));

TEST_F(PreviewEditorTest, DrawDragFollowsTheCursorAndReleaseOrdersTheCorners) {
    Press(104, 84);
    Drag(60, 40);
    Drag(44, 24);
    EXPECT_EQ(MaskOf(record), (Mask{100, 80, 40, 20}));
    EXPECT_EQ(record.editing, 1);
    EXPECT_EQ(preview.redraws, 2);
    EXPECT_EQ(Text(IDC_READOUT_TOP), "20");
    EXPECT_EQ(Text(IDC_READOUT_LEFT), "40");
    EXPECT_EQ(Text(IDC_READOUT_RIGHT), "100");
    EXPECT_EQ(Text(IDC_READOUT_BOTTOM), "80");
    EXPECT_EQ(Text(IDC_READOUT_SIZE), "61 x 61");

    Release(44, 24);
    EXPECT_EQ(MaskOf(record), (Mask{40, 20, 100, 80}));
    EXPECT_EQ(Text(IDC_MASK_TEXT), "40 20 100 80");
    EXPECT_EQ(record.editing, 0);
    EXPECT_FALSE(windows.cursorConfinement.has_value());
    EXPECT_EQ(preview.redraws, 3);
}

TEST_F(PreviewEditorTest, DrawReleaseCutsOnlyTheHorizontalCornersBack) {
    Press(300, 200);
    Drag(-30, 400);  // past the left and the bottom edge
    Release(0, 0);
    EXPECT_EQ(MaskOf(record), (Mask{0, 196, 296, 396}));
}

struct AspectCase {
    const char* name;
    bool streamOpen;
    std::int32_t overlayWidth, overlayHeight;
    int pressX, pressY;  // picture point
    int dragX, dragY;
    std::int32_t bottomDuringDrag;
    Mask released;
};

class KeepAspectTest : public PreviewEditorTest,
                       public ::testing::WithParamInterface<AspectCase> {};

TEST_P(KeepAspectTest, HeightFollowsTheOverlayTruncatedTowardZero) {
    const AspectCase& c = GetParam();
    record.keepAspect = 1;
    record.overlayWidth = c.overlayWidth;
    record.overlayHeight = c.overlayHeight;
    record.aviStream = c.streamOpen ? reinterpret_cast<AviStreamHandle>(&record) : nullptr;
    Press(c.pressX + 4, c.pressY + 4);
    Drag(c.dragX + 4, c.dragY + 4);
    EXPECT_EQ(record.maskRight, c.dragX);
    EXPECT_EQ(record.maskBottom, c.bottomDuringDrag);
    Release(0, 0);
    EXPECT_EQ(MaskOf(record), c.released);
    record.aviStream = nullptr;
}

INSTANTIATE_TEST_SUITE_P(
    Drags, KeepAspectTest,
    ::testing::Values(
        AspectCase{"Rightwards", true, 640, 480, 10, 10, 110, 30, 85, {10, 10, 110, 85}},
        // -101 * 0.75 = -75.75 becomes -75: 25, not 24.
        AspectCase{"Leftwards", true, 640, 480, 200, 100, 99, 30, 25, {99, 25, 200, 100}},
        // No vertical clamp at the release.
        AspectCase{"PastTheBottom", true, 640, 480, 10, 200, 300, 210, 417, {10, 200, 300, 417}},
        AspectCase{"NoStream", false, 640, 480, 10, 10, 110, 30, 30, {10, 10, 110, 30}},
        AspectCase{"NoOverlayWidth", true, 0, 480, 10, 10, 110, 30, 30, {10, 10, 110, 30}}),
    [](const ::testing::TestParamInfo<AspectCase>& info) { return std::string(info.param.name); });

TEST_F(PreviewEditorTest, KeepAspectWithAnExtremeRatioSaturates) {
    record.keepAspect = 1;
    record.overlayWidth = 1;
    record.overlayHeight = 2000000000;
    record.aviStream = reinterpret_cast<AviStreamHandle>(&record);
    Press(14, 14);
    Drag(300, 30);
    EXPECT_EQ(record.maskBottom, 2147483647);
    record.aviStream = nullptr;
}

TEST_F(PreviewEditorTest, MoveDragShiftsTheMaskAsFarAsTheCursor) {
    record.moveMode = 1;
    SetMask(record, {40, 40, 100, 100});
    Press(54, 54);
    EXPECT_EQ(record.editing, 1);
    EXPECT_EQ(record.dragLastX, 50);
    EXPECT_EQ(record.dragLastY, 50);
    EXPECT_TRUE(windows.cursorConfinement.has_value());

    Drag(64, 49);
    EXPECT_EQ(MaskOf(record), (Mask{50, 35, 110, 95}));
    EXPECT_EQ(record.dragLastX, 60);
    EXPECT_EQ(record.dragLastY, 45);
    EXPECT_EQ(Text(IDC_READOUT_SIZE), "61 x 61");
    EXPECT_EQ(preview.redraws, 1);
}

TEST_F(PreviewEditorTest, MoveDragBeyondTheWindowUsesSignedPoints) {
    record.moveMode = 1;
    SetMask(record, {40, 40, 100, 100});
    Press(54, 54);
    Drag(-10, 54);  // the position word carries x as 0xFFF6
    EXPECT_EQ(MaskOf(record), (Mask{-24, 40, 36, 100}));
    Release(-10, 54);
    EXPECT_EQ(MaskOf(record), (Mask{0, 40, 36, 100}));
}

struct MovePressCase {
    Mask mask;
    int x, y;  // client point
};

void PrintTo(const MovePressCase& c, std::ostream* os) {
    *os << "client (" << c.x << ", " << c.y << ")";
}

class MovePressMissTest : public PreviewEditorTest,
                          public ::testing::WithParamInterface<MovePressCase> {};

TEST_P(MovePressMissTest, PressOffTheMaskDoesNothing) {
    record.moveMode = 1;
    SetMask(record, GetParam().mask);
    Press(GetParam().x, GetParam().y);
    Drag(GetParam().x + 10, GetParam().y + 10);
    EXPECT_EQ(record.editing, 0);
    EXPECT_EQ(MaskOf(record), GetParam().mask);
    EXPECT_FALSE(windows.cursorConfinement.has_value());
    EXPECT_EQ(preview.redraws, 0);
}

INSTANTIATE_TEST_SUITE_P(Points, MovePressMissTest,
                         ::testing::Values(MovePressCase{{40, 40, 100, 100}, 104, 54},
                                           MovePressCase{{40, 40, 100, 100}, 54, 104},
                                           MovePressCase{{40, 40, 100, 100}, 43, 54},
                                           MovePressCase{{100, 100, 40, 40}, 54, 54},
                                           MovePressCase{{40, 40, 40, 100}, 44, 54}));

struct MoveReleaseCase {
    Mask dragged;
    Mask released;
    const char* text;
};

void PrintTo(const MoveReleaseCase& c, std::ostream* os) { *os << c.text; }

class MoveReleaseTest : public PreviewEditorTest,
                        public ::testing::WithParamInterface<MoveReleaseCase> {};

TEST_P(MoveReleaseTest, CutsEveryCornerBackToThePicture) {
    record.moveMode = 1;
    const Mask& dragged = GetParam().dragged;
    // Press inside the mask as it will be, then drag by nothing.
    SetMask(record, dragged);
    record.editing = 1;
    Release(0, 0);
    EXPECT_EQ(MaskOf(record), GetParam().released);
    EXPECT_EQ(Text(IDC_MASK_TEXT), GetParam().text);
    EXPECT_EQ(record.editing, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Masks, MoveReleaseTest,
    ::testing::Values(MoveReleaseCase{{-20, 10, 80, 60}, {0, 10, 80, 60}, "0 10 80 60"},
                      MoveReleaseCase{{250, 200, 350, 260}, {250, 200, 319, 239},
                                      "250 200 319 239"},
                      MoveReleaseCase{{-5, -6, 400, 300}, {0, 0, 319, 239}, "0 0 319 239"}));

TEST_F(PreviewEditorTest, StepsOutsideAnEditChangeNothing) {
    SetMask(record, kUntouched);
    Drag(100, 100);                              // idle, button down
    Mouse(WM_MOUSEMOVE, 100, 100, 0);            // idle, button up
    Release(100, 100);                           // idle release
    EXPECT_EQ(MaskOf(record), kUntouched);
    EXPECT_TRUE(windows.textLog.empty());
    EXPECT_EQ(preview.redraws, 0);

    Press(54, 54);
    Mouse(WM_MOUSEMOVE, 80, 80, 0);  // active, button flag clear
    EXPECT_EQ(MaskOf(record), (Mask{50, 50, 51, 51}));
    EXPECT_EQ(preview.redraws, 0);
}

TEST_F(PreviewEditorTest, PressWhileActiveStartsTheEditOver) {
    Press(104, 84);
    Drag(150, 150);
    Press(24, 24);
    EXPECT_EQ(MaskOf(record), (Mask{20, 20, 21, 21}));
    EXPECT_EQ(record.editing, 1);
}

TEST_F(PreviewEditorTest, EveryMessageReachesTheHostUnchanged) {
    struct Message {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    const Message messages[] = {
        {WM_LBUTTONDOWN, MK_LBUTTON, MousePosition(104, 84)},  // accepted press
        {WM_MOUSEMOVE, MK_LBUTTON, MousePosition(44, 24)},     // drag step
        {WM_MOUSEMOVE, 0, MousePosition(50, 30)},              // ignored
        {WM_LBUTTONUP, 0, MousePosition(44, 24)},              // release
        {WM_LBUTTONUP, 0, MousePosition(44, 24)},              // idle release
        {WM_LBUTTONDOWN, MK_LBUTTON, MousePosition(1, 1)},     // refused press
        {WM_PAINT, 0, 0},
        {WM_CLOSE, 0, 0},
        {0x0100, 0x41, 0x001E0001},                            // a key
        {0x8123, ~WPARAM{0}, -1},
    };
    for (const Message& m : messages) {
        EXPECT_EQ(windows.Send(preview.window, m.message, m.wParam, m.lParam),
                  HostAnswer(m.message, m.wParam, m.lParam));
    }
    ASSERT_EQ(g_hostMessages.size(), std::size(messages));
    for (std::size_t i = 0; i < std::size(messages); ++i) {
        const HostMessage& received = g_hostMessages[i];
        EXPECT_EQ(received.window, preview.window);
        EXPECT_EQ(received.message, messages[i].message);
        EXPECT_EQ(received.wParam, messages[i].wParam);
        EXPECT_EQ(received.lParam, messages[i].lParam);
    }
    // The handled ones did their work on the way.
    EXPECT_EQ(MaskOf(record), (Mask{40, 20, 100, 80}));
}

TEST_F(PreviewEditorTest, NoPreviewWindowHooksNothing) {
    preview.Close();
    EndPreviewEditing(record);
    FilterData other{};
    PreviewButtonCallback(true, &other);
    EXPECT_EQ(other.previewWindow, nullptr);
    EXPECT_EQ(other.previousPreviewProc, nullptr);
    EXPECT_FALSE(PreviewHooked());
    PreviewButtonCallback(false, &other);
    EXPECT_EQ(other.previousPreviewProc, nullptr);
    EndPreviewEditing(other);
}

// Mended faults.

TEST_F(PreviewEditorTest, RepeatedOpeningNoticeDoesNotChainTheEditorToItself) {
    PreviewButtonCallback(true, &record);
    PreviewButtonCallback(true, &record);
    EXPECT_EQ(record.previousPreviewProc, &HostPreviewProcedure);
    g_hostMessages.clear();
    EXPECT_EQ(windows.Send(preview.window, WM_PAINT, 1, 2), HostAnswer(WM_PAINT, 1, 2));
    EXPECT_EQ(g_hostMessages.size(), 1u);
    PreviewButtonCallback(false, &record);
    EXPECT_EQ(windows.ProcedureOf(preview.window), &HostPreviewProcedure);
}

TEST_F(PreviewEditorTest, WindowOfAnotherProcessIsNotHooked) {
    preview.Close();
    const HWND foreign =
        windows.CreateTopLevelWindow(kPreviewWindowTitle, &HostPreviewProcedure, false);
    PreviewButtonCallback(true, &record);
    EXPECT_EQ(windows.ProcedureOf(foreign), &HostPreviewProcedure);
    EXPECT_EQ(record.previewWindow, nullptr);
    EXPECT_FALSE(PreviewHooked());
    windows.DestroyTopLevelWindow(foreign);
}

TEST_F(PreviewEditorTest, ClosingNoticeEndsAnEditWhoseReleaseNeverCame) {
    Press(104, 84);
    Drag(150, 150);
    ASSERT_TRUE(windows.cursorConfinement.has_value());
    preview.Close();
    EXPECT_FALSE(windows.cursorConfinement.has_value());
    EXPECT_EQ(record.editing, 0);
}

TEST_F(PreviewEditorTest, EndOfDialogUnhooksAndForgetsTheRecord) {
    Press(104, 84);
    const HWND window = preview.window;
    EndPreviewEditing(record);
    EXPECT_FALSE(PreviewHooked());
    EXPECT_EQ(previewHookRecord, nullptr);
    EXPECT_EQ(record.editing, 0);
    EXPECT_FALSE(windows.cursorConfinement.has_value());
    EXPECT_EQ(windows.ProcedureOf(window), &HostPreviewProcedure);

    // Later messages and the host's closing notice leave the record alone.
    const Mask before = MaskOf(record);
    windows.Send(window, WM_LBUTTONDOWN, MK_LBUTTON, MousePosition(24, 24));
    preview.Close();
    EXPECT_EQ(MaskOf(record), before);
    EXPECT_EQ(record.editing, 0);
}

TEST_F(PreviewEditorTest, OpeningForAnotherRecordMovesTheHook) {
    FilterData other = record;
    other.dialogWindow = windows.CreateConfigurationDialog(nullptr);
    Press(104, 84);
    PreviewButtonCallback(true, &other);
    EXPECT_EQ(previewHookRecord, &other);
    EXPECT_EQ(record.editing, 0);
    EXPECT_EQ(other.previousPreviewProc, &HostPreviewProcedure);
    Press(24, 24);
    EXPECT_EQ(other.maskLeft, 20);
    EXPECT_EQ(record.maskLeft, 100);
    EndPreviewEditing(other);
}

}  // namespace
