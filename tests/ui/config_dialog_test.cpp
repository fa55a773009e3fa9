#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "fake_preview.h"
#include "filter/filter_data.h"
#include "source/avi_library.h"
#include "ui/config_dialog.h"
#include "ui/dialog_ids.h"
#include "ui/preview_editor.h"
#include "window_model.h"

namespace {

using Control = WindowModel::Control;

const HINSTANCE kModuleHandle = reinterpret_cast<HINSTANCE>(0x4000);
const HWND kParent = reinterpret_cast<HWND>(0x7000);

const char* const kStyleTexts[] = {
    "No gradient shadow",
    "Gradient shadow, random var.",
    "Gradient, no random variation",
    "Gradient, rand. var., fixed shift",
    "Gradient, no rand. var., fixed s.",
    "No gradient, fixed shift",
};

// The host's side of a configuration: activation, definition, module and
// preview, and the window model that plays the platform.
class ConfigDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_hostMessages.clear();
        module.hInstModule = kModuleHandle;
        definition.module = &module;
        activation.filter = &definition;
        activation.filter_data = &record;
        activation.ifp = preview.Interface();
        record.frameWidth = 320;
        record.frameHeight = 240;
    }

    void TearDown() override { EndPreviewEditing(record); }

    // Runs the configuration; `session` is what the user does meanwhile.
    int Configure(std::function<void()> session = {}) {
        windows.userSession = [this, session](HWND opened) {
            dialog = opened;
            if (session) {
                session();
            }
        };
        const int result = ConfigProc(&activation, nullptr, kParent);
        dialog = windows.LastDialog();
        return result;
    }

    Control& C(int control) { return windows.ControlOf(dialog, control); }

    WindowModel windows;
    FakePreview preview{&windows};
    FilterData record{};
    FilterActivation activation{};
    FilterDefinition definition{};
    FilterModule module{};
    HWND dialog = nullptr;
};

TEST_F(ConfigDialogTest, FirstOpeningWritesTheDefaultsAndFillsEveryControl) {
    EXPECT_EQ(Configure(), 1);  // closed by the close box: Cancel

    EXPECT_EQ(record.defaultsApplied, 1);
    EXPECT_EQ(record.borderColor, 0xFFFFFFu);
    EXPECT_EQ(record.borderSize, 1);
    EXPECT_EQ(record.shadowOn, 0);
    EXPECT_EQ(record.shadowSize, 20);
    EXPECT_EQ(record.shadowPercent, 45);
    EXPECT_EQ(record.shadowType, 3);
    EXPECT_EQ(record.shadowShift, 7);
    EXPECT_EQ(record.shadowColor, 0u);

    const WindowModel::Dialog& shown = windows.DialogOf(dialog);
    EXPECT_EQ(shown.module, kModuleHandle);
    EXPECT_EQ(shown.resource, 101);
    EXPECT_EQ(shown.parent, kParent);
    EXPECT_EQ(record.dialogWindow, dialog);

    EXPECT_TRUE(C(IDC_DRAW).checked);
    EXPECT_FALSE(C(IDC_MOVE).checked);
    EXPECT_EQ(C(IDC_STATUS).text, kDrawStatusText);
    EXPECT_EQ(C(IDC_OVERLAY_PATH).text, "");
    EXPECT_EQ(C(IDC_MASK_TEXT).text, "0 0 0 0");
    EXPECT_EQ(C(IDC_FRAME_RANGE).text, "0 0");
    EXPECT_EQ(C(IDC_BORDER_SIZE).text, "1");
    EXPECT_EQ(C(IDC_FRAME_OFFSET).text, "0");
    EXPECT_EQ(C(IDC_SHADOW_SIZE).text, "20");
    EXPECT_EQ(C(IDC_SHADOW_PERCENT).text, "45");
    EXPECT_EQ(C(IDC_SHADOW_SHIFT).text, "7");
    EXPECT_EQ(C(IDC_OVERLAY_LENGTH).text, "0");
    EXPECT_EQ(C(IDC_OVERLAY_SIZE).text, "0 x 0");
    EXPECT_EQ(C(IDC_READOUT_TOP).text, "0");
    EXPECT_EQ(C(IDC_READOUT_LEFT).text, "0");
    EXPECT_EQ(C(IDC_READOUT_RIGHT).text, "0");
    EXPECT_EQ(C(IDC_READOUT_BOTTOM).text, "0");
    EXPECT_EQ(C(IDC_READOUT_SIZE).text, "1 x 1");

    const Control& styles = C(IDC_SHADOW_STYLE);
    ASSERT_EQ(styles.items.size(), std::size(kStyleTexts));
    for (std::size_t i = 0; i < std::size(kStyleTexts); ++i) {
        EXPECT_EQ(styles.items[i], kStyleTexts[i]);
    }
    EXPECT_EQ(styles.selection, 3);

    // Border and Shadow unticked: their edits read-only, their buttons and
    // the list disabled; the frame range read-only.
    for (int edit : {IDC_FRAME_RANGE, IDC_BORDER_SIZE, IDC_SHADOW_SIZE, IDC_SHADOW_PERCENT,
                     IDC_SHADOW_SHIFT, IDC_OVERLAY_PATH}) {
        EXPECT_TRUE(C(edit).readOnly) << edit;
        EXPECT_TRUE(C(edit).enabled) << edit;
    }
    for (int editable : {IDC_MASK_TEXT, IDC_FRAME_OFFSET}) {
        EXPECT_FALSE(C(editable).readOnly) << editable;
    }
    for (int button : {IDC_BORDER_COLOR, IDC_SHADOW_STYLE, IDC_SHADOW_COLOR}) {
        EXPECT_FALSE(C(button).enabled) << button;
    }

    // The samples: white border, black shadow, painted transparently.
    ASSERT_EQ(windows.textDrawn.size(), 2u);
    EXPECT_EQ(windows.textDrawn[0].text, "COLOR");
    EXPECT_EQ(windows.textDrawn[0].color, 0xFFFFFFu);
    EXPECT_EQ(windows.textDrawn[0].x, 130);
    EXPECT_EQ(windows.textDrawn[0].y, 300);
    EXPECT_TRUE(windows.textDrawn[0].transparent);
    EXPECT_EQ(windows.textDrawn[1].color, 0u);
    EXPECT_EQ(windows.textDrawn[1].x, 174);
    EXPECT_EQ(windows.textDrawn[1].y, 370);
    EXPECT_TRUE(windows.textDrawn[1].transparent);
    EXPECT_EQ(windows.paintsBegun, 1);
    EXPECT_EQ(windows.paintsEnded, 1);

    // The preview opened with the dialog, on its Preview button.
    ASSERT_EQ(preview.buttons.size(), 1u);
    EXPECT_EQ(preview.buttons[0], windows.ControlWindow(dialog, IDC_PREVIEW));
    ASSERT_EQ(preview.toggleOwners.size(), 1u);
    EXPECT_EQ(preview.toggleOwners[0], dialog);
    EXPECT_EQ(preview.callback, &PreviewButtonCallback);
    EXPECT_EQ(preview.callbackData, &record);

    // Ended: the device context is given back.
    EXPECT_TRUE(windows.heldContexts.empty());
    EXPECT_EQ(record.dialogDC, nullptr);
}

TEST_F(ConfigDialogTest, SecondOpeningWritesNoDefaults) {
    record.defaultsApplied = 1;
    record.borderSize = 5;
    record.borderColor = 0x00FF00;
    Configure();
    EXPECT_EQ(record.borderSize, 5);
    EXPECT_EQ(C(IDC_BORDER_SIZE).text, "5");
    EXPECT_EQ(record.borderColor, 0x00FF00u);
    EXPECT_EQ(record.shadowSize, 0);
    EXPECT_EQ(C(IDC_SHADOW_SIZE).text, "0");
    EXPECT_EQ(record.shadowType, 0);
}

TEST_F(ConfigDialogTest, InitialisationShowsTheRecordAndReadsBackWhatItWrote) {
    record.defaultsApplied = 1;
    record.moveMode = 1;
    record.maskLeft = -5;
    record.maskTop = 7;
    record.maskRight = 300;
    record.maskBottom = 2147483647;
    record.rangeStart = 10;
    record.rangeEnd = -1;
    record.frameOffset = -12;
    record.overlayLength = -1;
    record.overlayWidth = 640;
    record.overlayHeight = 480;
    record.shadowType = 9;  // no such entry: nothing selected
    std::strcpy(record.overlayPath, "C:\\clips\\a.avi");
    const FilterData before = record;

    Configure();

    EXPECT_TRUE(C(IDC_MOVE).checked);
    EXPECT_FALSE(C(IDC_DRAW).checked);
    EXPECT_EQ(C(IDC_STATUS).text, kMoveStatusText);
    EXPECT_EQ(C(IDC_OVERLAY_PATH).text, "C:\\clips\\a.avi");
    EXPECT_EQ(C(IDC_MASK_TEXT).text, "-5 7 300 2147483647");
    EXPECT_EQ(C(IDC_FRAME_RANGE).text, "10 -1");
    EXPECT_EQ(C(IDC_FRAME_OFFSET).text, "-12");
    EXPECT_EQ(C(IDC_OVERLAY_LENGTH).text, "4294967295");
    EXPECT_EQ(C(IDC_OVERLAY_SIZE).text, "640 x 480");
    EXPECT_EQ(C(IDC_READOUT_SIZE).text, "301 x 234");
    EXPECT_EQ(C(IDC_SHADOW_STYLE).selection, -1);

    EXPECT_EQ(record.maskLeft, before.maskLeft);
    EXPECT_EQ(record.maskTop, before.maskTop);
    EXPECT_EQ(record.maskRight, before.maskRight);
    EXPECT_EQ(record.maskBottom, before.maskBottom);
    EXPECT_EQ(record.rangeStart, before.rangeStart);
    EXPECT_EQ(record.rangeEnd, before.rangeEnd);
    EXPECT_EQ(record.frameOffset, before.frameOffset);
    EXPECT_EQ(record.shadowType, before.shadowType);
}

TEST_F(ConfigDialogTest, InitialisationFillsTheFieldsInOrderAndEachAnswersWithARedraw) {
    Configure();
    std::vector<int> edits;
    for (const auto& [control, text] : windows.textLog) {
        if (windows.ControlOf(dialog, control).controlClass == ControlClass::Edit) {
            edits.push_back(control);
        }
    }
    EXPECT_EQ(edits, (std::vector<int>{IDC_OVERLAY_PATH, IDC_MASK_TEXT, IDC_FRAME_RANGE,
                                       IDC_BORDER_SIZE, IDC_FRAME_OFFSET, IDC_SHADOW_SIZE,
                                       IDC_SHADOW_PERCENT, IDC_SHADOW_SHIFT}));
    // Every field but the path redraws when its text is set.
    EXPECT_EQ(preview.redraws, 7);
}

struct TickRow {
    int control;
    std::int32_t FilterData::*field;
    bool redraws;
};

void PrintTo(const TickRow& row, std::ostream* os) { *os << "control " << row.control; }

class TickTest : public ConfigDialogTest, public ::testing::WithParamInterface<TickRow> {};

TEST_P(TickTest, ShowsAndStoresTheTickState) {
    const TickRow& row = GetParam();
    record.defaultsApplied = 1;
    record.borderOn = record.shadowOn = record.useFrameRange = 1;
    record.*row.field = 1;
    Configure([&] {
        EXPECT_TRUE(C(row.control).checked);
        const int redraws = preview.redraws;
        ASSERT_TRUE(windows.Click(dialog, row.control));
        EXPECT_EQ(record.*row.field, 0);
        EXPECT_EQ(preview.redraws - redraws, row.redraws ? 1 : 0);
        ASSERT_TRUE(windows.Click(dialog, row.control));
        EXPECT_EQ(record.*row.field, 1);
    });
}

INSTANTIATE_TEST_SUITE_P(
    CheckBoxes, TickTest,
    ::testing::Values(TickRow{IDC_FIT_TO_FRAME, &FilterData::fitToFrame, true},
                      TickRow{IDC_USE_FRAME_RANGE, &FilterData::useFrameRange, true},
                      TickRow{IDC_REPEAT_VIDEO, &FilterData::repeatVideo, true},
                      TickRow{IDC_MAINTAIN_BLACK, &FilterData::maintainBlack, true},
                      TickRow{IDC_BORDER, &FilterData::borderOn, true},
                      TickRow{IDC_KEEP_ASPECT, &FilterData::keepAspect, false},
                      TickRow{IDC_REVERSE, &FilterData::reverse, true},
                      TickRow{IDC_BILINEAR, &FilterData::bilinear, true},
                      TickRow{IDC_SHADOW, &FilterData::shadowOn, true}));

struct CommandRow {
    int control;
    WORD code;
    INT_PTR result;
    bool redraws;
};

void PrintTo(const CommandRow& row, std::ostream* os) {
    *os << "control " << row.control << " code " << row.code;
}

class CommandTableTest : public ConfigDialogTest,
                         public ::testing::WithParamInterface<CommandRow> {};

// Every notification code runs the control's action; the choosers are
// cancelled here.
TEST_P(CommandTableTest, ReturnsTheHandledFlagAndRedrawsPerRow) {
    const CommandRow& row = GetParam();
    Configure([&] {
        const int redraws = preview.redraws;
        EXPECT_EQ(windows.Notify(dialog, row.control, row.code), row.result);
        EXPECT_EQ(preview.redraws - redraws, row.redraws ? 1 : 0);
    });
}

INSTANTIATE_TEST_SUITE_P(
    Controls, CommandTableTest,
    ::testing::Values(
        CommandRow{IDC_PREVIEW, BN_CLICKED, 1, false}, CommandRow{IDC_DRAW, BN_CLICKED, 1, false},
        CommandRow{IDC_MOVE, BN_CLICKED, 1, false},
        CommandRow{IDC_FIT_TO_FRAME, BN_CLICKED, 1, true},
        CommandRow{IDC_CHOOSE_OVERLAY, BN_CLICKED, 1, false},
        CommandRow{IDC_MASK_TEXT, EN_CHANGE, 1, true},
        CommandRow{IDC_MASK_TEXT, EN_SETFOCUS, 1, true},
        CommandRow{IDC_USE_FRAME_RANGE, BN_CLICKED, 1, true},
        CommandRow{IDC_FRAME_RANGE, EN_KILLFOCUS, 1, true},
        CommandRow{IDC_REPEAT_VIDEO, BN_CLICKED, 1, true},
        CommandRow{IDC_MAINTAIN_BLACK, BN_CLICKED, 1, true},
        CommandRow{IDC_BORDER, BN_CLICKED, 1, true},
        CommandRow{IDC_BORDER_SIZE, EN_KILLFOCUS, 1, true},
        CommandRow{IDC_BORDER_COLOR, BN_CLICKED, 1, false},
        CommandRow{IDC_KEEP_ASPECT, BN_CLICKED, 1, false},
        CommandRow{IDC_FRAME_OFFSET, EN_SETFOCUS, 1, true},
        CommandRow{IDC_REVERSE, BN_CLICKED, 1, true}, CommandRow{IDC_BILINEAR, BN_CLICKED, 1, true},
        CommandRow{IDC_SHADOW, BN_CLICKED, 1, true},
        CommandRow{IDC_SHADOW_SIZE, EN_CHANGE, 1, true},
        CommandRow{IDC_SHADOW_PERCENT, EN_CHANGE, 1, true},
        CommandRow{IDC_SHADOW_STYLE, CBN_SELCHANGE, 1, true},
        CommandRow{IDC_SHADOW_SHIFT, EN_CHANGE, 1, true},
        CommandRow{IDC_SHADOW_COLOR, BN_CLICKED, 1, false},
        // Controls without an action.
        CommandRow{IDC_OVERLAY_PATH, EN_CHANGE, 0, false},
        CommandRow{IDC_STATUS, 0, 0, false}, CommandRow{IDC_READOUT_TOP, 0, 0, false},
        CommandRow{IDC_OVERLAY_LENGTH, 0, 0, false}, CommandRow{0xFFFF, 0, 0, false}));

TEST_F(ConfigDialogTest, OkStoresTheModeAndEndsWithZero) {
    EXPECT_EQ(Configure([&] {
                  ASSERT_TRUE(windows.Click(dialog, IDC_MOVE));
                  EXPECT_EQ(record.moveMode, 1);
                  EXPECT_EQ(C(IDC_STATUS).text, kMoveStatusText);
                  EXPECT_FALSE(C(IDC_DRAW).checked);
                  ASSERT_TRUE(windows.Click(dialog, IDC_DRAW));
                  EXPECT_EQ(record.moveMode, 0);
                  EXPECT_EQ(C(IDC_STATUS).text, kDrawStatusText);
                  // OK reads the Move button once more.
                  windows.SetChecked(dialog, IDC_MOVE, true);
                  ASSERT_TRUE(windows.Click(dialog, IDOK));
              }),
              0);
    EXPECT_EQ(record.moveMode, 1);
}

TEST_F(ConfigDialogTest, CancelKeepsEveryChangeAndEndsWithOne) {
    EXPECT_EQ(Configure([&] {
                  ASSERT_TRUE(windows.Click(dialog, IDC_BORDER));
                  ASSERT_TRUE(windows.Type(dialog, IDC_BORDER_SIZE, "7"));
                  ASSERT_TRUE(windows.Type(dialog, IDC_MASK_TEXT, "10 20 w100 h50"));
                  ASSERT_TRUE(windows.Click(dialog, IDCANCEL));
              }),
              1);
    EXPECT_EQ(record.borderOn, 1);
    EXPECT_EQ(record.borderSize, 7);
    EXPECT_EQ(record.maskRight, 109);
    EXPECT_EQ(record.maskBottom, 69);
}

struct NumberRow {
    int control;
    std::int32_t FilterData::*field;
};

void PrintTo(const NumberRow& row, std::ostream* os) { *os << "control " << row.control; }

struct TypedNumber {
    const char* text;
    bool stored;
    std::int32_t value;
};

void PrintTo(const TypedNumber& typed, std::ostream* os) { *os << '"' << typed.text << '"'; }

class NumberFieldTest
    : public ConfigDialogTest,
      public ::testing::WithParamInterface<std::tuple<NumberRow, TypedNumber>> {};

TEST_P(NumberFieldTest, ReadsLikePercentDAndRedraws) {
    const auto& [row, typed] = GetParam();
    record.defaultsApplied = 1;
    record.borderOn = record.shadowOn = 1;
    record.shadowType = 5;
    record.*row.field = 31;
    Configure([&, row = row, typed = typed] {
        const int redraws = preview.redraws;
        ASSERT_TRUE(windows.Type(dialog, row.control, typed.text));
        EXPECT_EQ(record.*row.field, typed.stored ? typed.value : 31) << typed.text;
        EXPECT_EQ(preview.redraws - redraws, 1);
    });
}

INSTANTIATE_TEST_SUITE_P(
    Fields, NumberFieldTest,
    ::testing::Combine(::testing::Values(NumberRow{IDC_BORDER_SIZE, &FilterData::borderSize},
                                         NumberRow{IDC_FRAME_OFFSET, &FilterData::frameOffset},
                                         NumberRow{IDC_SHADOW_SIZE, &FilterData::shadowSize},
                                         NumberRow{IDC_SHADOW_PERCENT,
                                                   &FilterData::shadowPercent},
                                         NumberRow{IDC_SHADOW_SHIFT, &FilterData::shadowShift}),
                       ::testing::Values(TypedNumber{"12abc", true, 12},
                                         TypedNumber{"abc", false, 0},
                                         TypedNumber{"", false, 0}, TypedNumber{"-3", true, -3},
                                         TypedNumber{"99999999999", false, 0})));

TEST_F(ConfigDialogTest, FrameRangeReadsUpToTwoNumbers) {
    record.useFrameRange = 1;
    Configure([&] {
        ASSERT_TRUE(windows.Type(dialog, IDC_FRAME_RANGE, "100 200"));
        EXPECT_EQ(record.rangeStart, 100);
        EXPECT_EQ(record.rangeEnd, 200);
        ASSERT_TRUE(windows.Type(dialog, IDC_FRAME_RANGE, "300"));
        EXPECT_EQ(record.rangeStart, 300);
        EXPECT_EQ(record.rangeEnd, 200);
    });
}

TEST_F(ConfigDialogTest, MaskTextUpdatesTheMaskAndTheReadouts) {
    Configure([&] {
        const int redraws = preview.redraws;
        ASSERT_TRUE(windows.Type(dialog, IDC_MASK_TEXT, "10 20 w100 h50"));
        EXPECT_EQ(record.maskLeft, 10);
        EXPECT_EQ(record.maskTop, 20);
        EXPECT_EQ(record.maskRight, 109);
        EXPECT_EQ(record.maskBottom, 69);
        EXPECT_EQ(C(IDC_READOUT_LEFT).text, "10");
        EXPECT_EQ(C(IDC_READOUT_RIGHT).text, "109");
        EXPECT_EQ(C(IDC_READOUT_SIZE).text, "100 x 50");
        EXPECT_EQ(preview.redraws - redraws, 1);
        // A long word never overflows its buffer and changes nothing.
        ASSERT_TRUE(windows.Type(dialog, IDC_MASK_TEXT,
                                 "1 2 " + std::string(200, '9') + " h" + std::string(50, '0')));
        EXPECT_EQ(record.maskRight, 109);
        EXPECT_EQ(record.maskBottom, 69);
    });
}

class EnablingRuleTest
    : public ConfigDialogTest,
      public ::testing::WithParamInterface<std::tuple<bool, int>> {};

TEST_P(EnablingRuleTest, ShadowControlsFollowShadowAndStyle) {
    const auto [shadowOn, style] = GetParam();
    Configure([&, shadowOn = shadowOn, style = style] {
        ASSERT_TRUE(windows.Click(dialog, IDC_SHADOW));
        ASSERT_TRUE(windows.ChooseListItem(dialog, IDC_SHADOW_STYLE, style));
        EXPECT_EQ(record.shadowType, style);
        EXPECT_EQ(C(IDC_SHADOW_SHIFT).readOnly, style <= 2);
        if (!shadowOn) {
            ASSERT_TRUE(windows.Click(dialog, IDC_SHADOW));
        }
        EXPECT_EQ(record.shadowOn, shadowOn ? 1 : 0);
        EXPECT_EQ(C(IDC_SHADOW_SIZE).readOnly, !shadowOn);
        EXPECT_EQ(C(IDC_SHADOW_PERCENT).readOnly, !shadowOn);
        EXPECT_EQ(C(IDC_SHADOW_STYLE).enabled, shadowOn);
        EXPECT_EQ(C(IDC_SHADOW_COLOR).enabled, shadowOn);
        EXPECT_EQ(C(IDC_SHADOW_SHIFT).readOnly, !(shadowOn && style > 2));
        // Edits are never disabled, only made read-only.
        EXPECT_TRUE(C(IDC_SHADOW_SHIFT).enabled);
    });
    // The same state comes back at the next opening.
    Configure();
    EXPECT_EQ(C(IDC_SHADOW_SHIFT).readOnly, !(shadowOn && style > 2));
    EXPECT_EQ(C(IDC_SHADOW_STYLE).enabled, shadowOn);
    EXPECT_EQ(C(IDC_SHADOW_STYLE).selection, style);
}

INSTANTIATE_TEST_SUITE_P(ShadowAndStyle, EnablingRuleTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Range(0, 6)));

TEST_F(ConfigDialogTest, BorderAndFrameRangeTicksGateTheirControls) {
    Configure([&] {
        EXPECT_FALSE(windows.Type(dialog, IDC_BORDER_SIZE, "4"));
        EXPECT_FALSE(windows.Click(dialog, IDC_BORDER_COLOR));
        ASSERT_TRUE(windows.Click(dialog, IDC_BORDER));
        EXPECT_FALSE(C(IDC_BORDER_SIZE).readOnly);
        EXPECT_TRUE(C(IDC_BORDER_COLOR).enabled);
        ASSERT_TRUE(windows.Click(dialog, IDC_BORDER));
        EXPECT_TRUE(C(IDC_BORDER_SIZE).readOnly);
        EXPECT_FALSE(C(IDC_BORDER_COLOR).enabled);

        EXPECT_TRUE(C(IDC_FRAME_RANGE).readOnly);
        ASSERT_TRUE(windows.Click(dialog, IDC_USE_FRAME_RANGE));
        EXPECT_FALSE(C(IDC_FRAME_RANGE).readOnly);
    });
}

TEST_F(ConfigDialogTest, EmptyStyleSelectionKeepsTheStyle) {
    record.defaultsApplied = 1;
    record.shadowOn = 1;
    record.shadowType = 4;
    Configure([&] {
        C(IDC_SHADOW_STYLE).selection = -1;
        windows.Notify(dialog, IDC_SHADOW_STYLE, CBN_SELCHANGE);
        EXPECT_EQ(record.shadowType, 4);
    });
}

struct ColorRow {
    int button;
    COLORREF FilterData::*field;
    int x, y;
};

void PrintTo(const ColorRow& row, std::ostream* os) { *os << "button " << row.button; }

class ColorChooserTest : public ConfigDialogTest,
                         public ::testing::WithParamInterface<ColorRow> {};

TEST_P(ColorChooserTest, ConfirmedColourIsStoredAndPaintedAtOnce) {
    const ColorRow& row = GetParam();
    record.defaultsApplied = 1;
    record.borderOn = record.shadowOn = 1;
    record.*row.field = 0x00112233;
    windows.colorChooser = [](ChooseColorRequest& request) {
        request.lpCustColors[5] = 0xABCDEF;  // the user edits a custom colour
        request.rgbResult = 0x00336699;
        return BOOL{1};
    };
    Configure([&] {
        const std::size_t painted = windows.textDrawn.size();
        const int redraws = preview.redraws;
        ASSERT_TRUE(windows.Click(dialog, row.button));
        EXPECT_EQ(record.*row.field, 0x00336699u);
        EXPECT_EQ(preview.redraws - redraws, 1);
        ASSERT_EQ(windows.textDrawn.size(), painted + 1);
        const WindowModel::TextDrawn& sample = windows.textDrawn.back();
        EXPECT_EQ(sample.context, record.dialogDC);
        EXPECT_EQ(sample.color, 0x00336699u);
        EXPECT_EQ(sample.x, row.x);
        EXPECT_EQ(sample.y, row.y);
        EXPECT_EQ(sample.text, "COLOR");
        EXPECT_TRUE(sample.transparent);

        ASSERT_TRUE(windows.Click(dialog, row.button));
    });

    ASSERT_EQ(windows.colorChoices.size(), 2u);
    const ChooseColorRequest& first = windows.colorChoices[0].request;
    EXPECT_EQ(first.lStructSize, 36u);
    EXPECT_EQ(first.hwndOwner, dialog);
    EXPECT_EQ(first.hInstance, nullptr);
    EXPECT_EQ(first.rgbResult, 0x00112233u);
    EXPECT_EQ(first.Flags, 3u);
    EXPECT_EQ(first.lCustData, 0);
    EXPECT_EQ(first.lpfnHook, nullptr);
    EXPECT_EQ(first.lpTemplateName, nullptr);
    EXPECT_EQ(windows.colorChoices[0].customColors[0], 0x00112233u);
    for (int i = 1; i < 16; ++i) {
        EXPECT_EQ(windows.colorChoices[0].customColors[i], 0u) << i;
    }
    // The custom colours are made afresh: the edit of the first choice is gone.
    EXPECT_EQ(windows.colorChoices[1].customColors[0], 0x00336699u);
    EXPECT_EQ(windows.colorChoices[1].customColors[5], 0u);
}

TEST_P(ColorChooserTest, CancelledChooserChangesNothing) {
    const ColorRow& row = GetParam();
    record.defaultsApplied = 1;
    record.borderOn = record.shadowOn = 1;
    record.*row.field = 0x00112233;
    windows.colorChooser = [](ChooseColorRequest& request) {
        request.rgbResult = 0x00336699;
        return BOOL{0};
    };
    Configure([&] {
        const std::size_t painted = windows.textDrawn.size();
        const int redraws = preview.redraws;
        ASSERT_TRUE(windows.Click(dialog, row.button));
        EXPECT_EQ(record.*row.field, 0x00112233u);
        EXPECT_EQ(windows.textDrawn.size(), painted);
        EXPECT_EQ(preview.redraws, redraws);
    });
}

INSTANTIATE_TEST_SUITE_P(Buttons, ColorChooserTest,
                         ::testing::Values(ColorRow{IDC_BORDER_COLOR, &FilterData::borderColor,
                                                    130, 300},
                                           ColorRow{IDC_SHADOW_COLOR, &FilterData::shadowColor,
                                                    174, 370}));

// An AVI library whose files never open, recording what was asked for.
std::vector<std::string> g_openedPaths;

long FailingFileOpen(AviFileHandle*, const char* path, unsigned) {
    g_openedPaths.emplace_back(path);
    return 1;
}

TEST_F(ConfigDialogTest, OverlayButtonShowsStoresAndOpensTheChosenPath) {
    AviLibrary library{};
    library.FileOpen = &FailingFileOpen;
    const AviLibrary* platform = UseAviLibrary(&library);
    g_openedPaths.clear();
    std::strcpy(record.overlayPath, "old.avi");
    record.defaultsApplied = 1;
    record.overlayLength = 40;
    std::string offered;
    windows.fileChooser = [&](OpenFileRequest& request) {
        offered = request.lpstrFile;
        std::strcpy(request.lpstrFile, "/clips/missing overlay.avi");
        return BOOL{1};
    };
    Configure([&] {
        const int redraws = preview.redraws;
        ASSERT_TRUE(windows.Click(dialog, IDC_CHOOSE_OVERLAY));
        EXPECT_EQ(preview.redraws - redraws, 1);
    });
    UseAviLibrary(platform);

    EXPECT_EQ(offered, "old.avi");
    EXPECT_EQ(C(IDC_OVERLAY_PATH).text, "/clips/missing overlay.avi");
    EXPECT_STREQ(record.overlayPath, "/clips/missing overlay.avi");
    EXPECT_EQ(g_openedPaths, std::vector<std::string>{"/clips/missing overlay.avi"});
    // The file did not open: what the dialog showed of the overlay stays.
    EXPECT_EQ(C(IDC_OVERLAY_LENGTH).text, "40");
}

TEST_F(ConfigDialogTest, CancelledFileChooserChangesNothing) {
    std::strcpy(record.overlayPath, "old.avi");
    windows.fileChooser = [](OpenFileRequest&) { return BOOL{0}; };
    Configure([&] {
        const int redraws = preview.redraws;
        ASSERT_TRUE(windows.Click(dialog, IDC_CHOOSE_OVERLAY));
        EXPECT_EQ(preview.redraws, redraws);
    });
    EXPECT_EQ(windows.fileChoices, 1);
    EXPECT_STREQ(record.overlayPath, "old.avi");
    EXPECT_EQ(C(IDC_OVERLAY_PATH).text, "old.avi");
}

TEST_F(ConfigDialogTest, WorksWithoutAPreviewInterface) {
    activation.ifp = nullptr;
    EXPECT_EQ(Configure([&] {
                  ASSERT_TRUE(windows.Click(dialog, IDC_PREVIEW));
                  ASSERT_TRUE(windows.Click(dialog, IDC_FIT_TO_FRAME));
                  ASSERT_TRUE(windows.Type(dialog, IDC_FRAME_OFFSET, "3"));
                  ASSERT_TRUE(windows.Click(dialog, IDOK));
              }),
              0);
    EXPECT_EQ(record.preview, nullptr);
    EXPECT_EQ(preview.callback, nullptr);
    EXPECT_TRUE(preview.toggleOwners.empty());
    EXPECT_EQ(preview.redraws, 0);
    EXPECT_EQ(record.fitToFrame, 1);
    EXPECT_EQ(record.frameOffset, 3);
}

TEST_F(ConfigDialogTest, DialogThatCannotBeShownReportsThePlatformsResult) {
    windows.failDialogCreation = true;
    EXPECT_EQ(Configure(), -1);
    EXPECT_EQ(record.defaultsApplied, 0);
}

TEST_F(ConfigDialogTest, PreviewButtonClosesAndReopensTheHookedPreview) {
    Configure([&] {
        EXPECT_TRUE(PreviewHooked());
        ASSERT_TRUE(windows.Click(dialog, IDC_PREVIEW));
        EXPECT_FALSE(preview.open);
        EXPECT_FALSE(PreviewHooked());
        ASSERT_TRUE(windows.Click(dialog, IDC_PREVIEW));
        EXPECT_TRUE(preview.open);
        EXPECT_EQ(windows.ProcedureOf(preview.window), &PreviewWndProc);
    });
}

// The mask editor and the dialog together.

LPARAM At(int x, int y) { return MousePosition(x, y); }

TEST_F(ConfigDialogTest, ReleaseWritesTheMaskTextWhichTheDialogAnswersWhileEditing) {
    std::vector<std::int32_t> editingAtRedraw;
    Configure([&] {
        preview.onRedraw = [&] { editingAtRedraw.push_back(record.editing); };
        windows.Send(preview.window, WM_LBUTTONDOWN, MK_LBUTTON, At(104, 84));
        windows.Send(preview.window, WM_MOUSEMOVE, MK_LBUTTON, At(44, 24));
        windows.Send(preview.window, WM_LBUTTONUP, 0, At(44, 24));
        preview.onRedraw = nullptr;
    });
    EXPECT_EQ(C(IDC_MASK_TEXT).text, "40 20 100 80");
    EXPECT_EQ(C(IDC_READOUT_TOP).text, "20");
    EXPECT_EQ(C(IDC_READOUT_LEFT).text, "40");
    EXPECT_EQ(C(IDC_READOUT_RIGHT).text, "100");
    EXPECT_EQ(C(IDC_READOUT_BOTTOM).text, "80");
    EXPECT_EQ(C(IDC_READOUT_SIZE).text, "61 x 61");
    // Drag step, the dialog's answer to the text, then the release's own.
    EXPECT_EQ(editingAtRedraw, (std::vector<std::int32_t>{1, 1, 0}));
    EXPECT_EQ(record.maskLeft, 40);
    EXPECT_EQ(record.maskBottom, 80);
}

TEST_F(ConfigDialogTest, EndingTheDialogMidDragUnhooksAndFreesTheCursor) {
    HWND previewWindow = nullptr;
    EXPECT_EQ(Configure([&] {
                  previewWindow = preview.window;
                  windows.Send(previewWindow, WM_LBUTTONDOWN, MK_LBUTTON, At(104, 84));
                  ASSERT_TRUE(windows.cursorConfinement.has_value());
                  ASSERT_TRUE(windows.Click(dialog, IDOK));
              }),
              0);
    EXPECT_FALSE(PreviewHooked());
    EXPECT_EQ(previewHookRecord, nullptr);
    EXPECT_EQ(record.editing, 0);
    EXPECT_FALSE(windows.cursorConfinement.has_value());
    EXPECT_EQ(windows.ProcedureOf(previewWindow), &HostPreviewProcedure);

    // The host closes its preview later; nothing reaches the record.
    const FilterData before = record;
    windows.Send(previewWindow, WM_LBUTTONDOWN, MK_LBUTTON, At(24, 24));
    preview.Close();
    EXPECT_EQ(record.maskLeft, before.maskLeft);
    EXPECT_EQ(record.editing, 0);
}

}  // namespace
