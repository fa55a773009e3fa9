#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "apps/quillmere/edit/picture_difference.h"

namespace {

constexpr int kWidth = 37;  // not a multiple of anything the code might assume
constexpr int kHeight = 23;

struct DifferenceCase {
    const char* name;
    std::vector<std::pair<int, int>> changed;  // pixels whose colour changes
    bool alphaOnly;                            // only the unshown fourth byte changes
    PictureRect expected;
};

class DifferenceTest : public ::testing::TestWithParam<DifferenceCase> {};

TEST_P(DifferenceTest, BoundsExactlyThePixelsThatDiffer) {
    const DifferenceCase& c = GetParam();
    Picture before(kWidth, kHeight);
    for (std::size_t index = 0; index < before.pixels.size(); ++index) {
        before.pixels[index] = static_cast<std::uint8_t>(index * 7);
    }
    Picture after = before;
    for (const auto& [x, y] : c.changed) {
        after.row(y)[x * 4 + (c.alphaOnly ? 3 : 1)] ^= 0x10;
    }
    const PictureRect rect = DifferingRect(before, after);
    EXPECT_EQ(rect.x, c.expected.x);
    EXPECT_EQ(rect.y, c.expected.y);
    EXPECT_EQ(rect.width, c.expected.width);
    EXPECT_EQ(rect.height, c.expected.height);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, DifferenceTest,
    ::testing::Values(
        DifferenceCase{"Identical", {}, false, PictureRect{}},
        DifferenceCase{"OnePixel", {{5, 9}}, false, PictureRect{5, 9, 1, 1}},
        DifferenceCase{"Corners", {{0, 0}, {kWidth - 1, kHeight - 1}}, false,
                       PictureRect{0, 0, kWidth, kHeight}},
        DifferenceCase{"WidestRowNotFirst", {{10, 2}, {3, 8}, {30, 8}, {12, 15}}, false,
                       PictureRect{3, 2, 28, 14}},
        DifferenceCase{"OnlyTheUnshownByte", {{4, 4}, {20, 11}}, true, PictureRect{}}),
    [](const ::testing::TestParamInfo<DifferenceCase>& info) {
        return std::string(info.param.name);
    });

}  // namespace
