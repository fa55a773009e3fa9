#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "filter/filter_data.h"
#include "ui/dialog_ids.h"
#include "ui/position_readouts.h"
#include "window_model.h"

namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

struct ReadoutCase {
    const char* name;
    std::int32_t left, top, right, bottom;
    std::int32_t frameWidth, frameHeight;
    const char* top_;
    const char* left_;
    const char* right_;
    const char* bottom_;
    const char* size;
};

class ReadoutTest : public ::testing::TestWithParam<ReadoutCase> {};

TEST_P(ReadoutTest, ShowsTheOrderedClampedMask) {
    const ReadoutCase& c = GetParam();
    WindowModel windows;
    const HWND dialog = windows.CreateConfigurationDialog(nullptr);
    FilterData record{};
    record.frameWidth = c.frameWidth;
    record.frameHeight = c.frameHeight;

    UpdatePositionFields(dialog, c.left, c.top, c.right, c.bottom, record);

    EXPECT_EQ(windows.ControlOf(dialog, IDC_READOUT_TOP).text, c.top_);
    EXPECT_EQ(windows.ControlOf(dialog, IDC_READOUT_LEFT).text, c.left_);
    EXPECT_EQ(windows.ControlOf(dialog, IDC_READOUT_RIGHT).text, c.right_);
    EXPECT_EQ(windows.ControlOf(dialog, IDC_READOUT_BOTTOM).text, c.bottom_);
    EXPECT_EQ(windows.ControlOf(dialog, IDC_READOUT_SIZE).text, c.size);
}

INSTANTIATE_TEST_SUITE_P(
    Masks, ReadoutTest,
    ::testing::Values(
        // The upper clamps are the frame size itself and the size counts both
        // corners.
        ReadoutCase{"PastTheFrame", 0, 0, 1000, 1000, 720, 576, "0", "0", "720", "576",
                    "721 x 577"},
        ReadoutCase{"CornersSwapped", 1000, 1000, 0, 0, 720, 576, "0", "0", "720", "576",
                    "721 x 577"},
        ReadoutCase{"FreshRecord", 0, 0, 0, 0, 0, 0, "0", "0", "0", "0", "1 x 1"},
        ReadoutCase{"DrawnBackwards", 100, 80, 40, 20, 320, 240, "20", "40", "100", "80",
                    "61 x 61"},
        ReadoutCase{"AboveAndLeftOfFrame", -30, -40, 50, 60, 320, 240, "0", "0", "50", "60",
                    "51 x 61"},
        // A right edge below 0 is shown as its unsigned 32-bit value.
        ReadoutCase{"WhollyLeftOfFrame", -50, 10, -20, 30, 320, 240, "10", "0", "4294967276",
                    "30", "-19 x 21"},
        // Extreme corners from the script: the size wraps instead of overflowing.
        ReadoutCase{"ExtremeCorners", kMin, 0, kMax, 0, kMax, 10, "0", "0", "2147483647", "0",
                    "-2147483648 x 1"}),
    [](const ::testing::TestParamInfo<ReadoutCase>& info) { return std::string(info.param.name); });

}  // namespace
