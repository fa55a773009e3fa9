// The compiled dialog template against the table it was written from: every
// field of the dialog header and of all 47 controls, read from windres'
// output and from the resources of the built 32-bit module.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "resource_reader.h"

namespace {

constexpr std::uint16_t kButton = 0x0080;
constexpr std::uint16_t kEdit = 0x0081;
constexpr std::uint16_t kStatic = 0x0082;
constexpr std::uint16_t kComboBox = 0x0085;
constexpr std::uint16_t kUnaddressed = 0xFFFF;  // id -1

struct ExpectedControl {
    std::uint16_t id;
    std::uint16_t windowClass;
    std::uint32_t style;
    const char* caption;
    std::int16_t x, y, cx, cy;
};

// The dialog's controls in template (tab) order.
const ExpectedControl kExpectedControls[] = {
    {1, kButton, 0x50010001, "OK", 15, 246, 50, 14},
    {2, kButton, 0x50010000, "Cancel", 205, 246, 50, 14},
    {1002, kButton, 0x50010000, "Preview", 109, 246, 48, 14},
    {1003, kButton, 0x50021009, "Draw", 20, 20, 33, 10},
    {1005, kButton, 0x50001009, "Move", 20, 33, 34, 10},
    {1011, kStatic, 0x50020000,
     "Draw on the preview window.  Mouse down to start drawing, mouse up to stop.", 69, 20, 185,
     22},
    {kUnaddressed, kButton, 0x58000007, "", 101, 58, 42, 35},
    {kUnaddressed, kStatic, 0x50020002, "Top:", 105, 49, 16, 8},
    {kUnaddressed, kStatic, 0x50020002, "Left:", 77, 68, 15, 8},
    {kUnaddressed, kStatic, 0x50020002, "Right:", 145, 68, 20, 8},
    {kUnaddressed, kStatic, 0x50020002, "Bottom:", 103, 99, 25, 8},
    {kUnaddressed, kStatic, 0x50020002, "Size:", 190, 68, 15, 8},
    {kUnaddressed, kStatic, 0x50020002, "Frame Cnt.:", 180, 187, 38, 8},
    {kUnaddressed, kStatic, 0x50020002, "Res.:", 180, 197, 38, 8},
    {1029, kButton, 0x50010003, "Bilinear stretch", 15, 94, 88, 13},
    {1006, kButton, 0x50010003, "Fit to Frame", 15, 109, 58, 13},
    {1015, kEdit, 0x50810080, "", 76, 109, 102, 14},
    {1023, kButton, 0x50010003, "Keep Aspect", 190, 109, 88, 13},
    {1007, kStatic, 0x50020000, "0", 125, 49, 23, 8},
    {1008, kStatic, 0x50020001, "0", 147, 79, 18, 8},
    {1009, kStatic, 0x50020001, "0", 75, 79, 19, 8},
    {1010, kStatic, 0x50020000, "0", 135, 99, 24, 8},
    {1024, kStatic, 0x50020000, "0 x 0", 190, 79, 80, 8},
    {1027, kStatic, 0x50020000, "0", 220, 187, 80, 8},
    {1028, kStatic, 0x50020000, "0 x 0", 220, 197, 80, 8},
    {1012, kEdit, 0x50810880, "", 16, 136, 212, 14},
    {1013, kButton, 0x50010000, "...", 232, 136, 20, 14},
    {kUnaddressed, kStatic, 0x50020000, "Overlay Video File ", 16, 125, 60, 8},
    {1016, kButton, 0x50010003, "Set Frame Start/End", 15, 155, 78, 13},
    {1017, kEdit, 0x50810880, "", 100, 153, 82, 14},
    {1026, kButton, 0x50010003, "Rev.", 200, 155, 38, 13},
    {1018, kButton, 0x50010003, "Repeat video", 15, 170, 58, 13},
    {1019, kButton, 0x50010003, "Maintain black picture", 88, 170, 88, 13},
    {kUnaddressed, kStatic, 0x50020002, "Frame Off.:", 180, 171, 38, 8},
    {1025, kEdit, 0x50810080, "", 220, 170, 28, 14},
    {1020, kButton, 0x50010003, "Border", 15, 185, 38, 13},
    {1021, kEdit, 0x50810880, "", 55, 183, 22, 14},
    {1022, kButton, 0x50010000, "Border Color", 125, 183, 50, 14},
    {1030, kButton, 0x50010003, "Shadow", 15, 210, 48, 13},
    {kUnaddressed, kStatic, 0x50000000, "Size: ", 63, 212, 40, 12},
    {1031, kEdit, 0x50810080, "", 80, 210, 28, 14},
    {kUnaddressed, kStatic, 0x50000000, "%:", 114, 212, 10, 12},
    {1032, kEdit, 0x50810080, "", 123, 210, 28, 14},
    {1033, kComboBox, 0x50210003, "", 154, 210, 100, 88},
    {kUnaddressed, kStatic, 0x50000000, "Fixed shift:", 46, 227, 40, 12},
    {1034, kEdit, 0x50810080, "", 80, 225, 28, 14},
    {1035, kButton, 0x50010000, "Shadow Color", 154, 225, 50, 14},
};
constexpr std::size_t kExpectedControlCount = 47;
static_assert(std::size(kExpectedControls) == kExpectedControlCount, "one row per control");

constexpr int kDialogResource = 101;

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

void ExpectTemplateMatches(const std::vector<std::uint8_t>& bytes) {
    const DialogTemplate dialog = ParseDialogTemplate(bytes);
    EXPECT_EQ(dialog.style, 0x80C800C0u);
    EXPECT_EQ(dialog.extendedStyle, 0u);
    EXPECT_EQ(dialog.x, 0);
    EXPECT_EQ(dialog.y, 0);
    EXPECT_EQ(dialog.cx, 265);
    EXPECT_EQ(dialog.cy, 268);
    EXPECT_FALSE(dialog.hasMenu);
    EXPECT_FALSE(dialog.hasClass);
    EXPECT_EQ(dialog.caption, "Filter: Quillmere");
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.fontName, "MS Sans Serif");
    ASSERT_EQ(dialog.controls.size(), kExpectedControlCount);
    for (std::size_t row = 0; row < kExpectedControlCount; ++row) {
        const ExpectedControl& expected = kExpectedControls[row];
        const DialogControl& actual = dialog.controls[row];
        SCOPED_TRACE("control row " + std::to_string(row + 1) + ", id " +
                     std::to_string(expected.id));
        EXPECT_EQ(actual.id, expected.id);
        EXPECT_TRUE(actual.classIsOrdinal);
        EXPECT_EQ(actual.classOrdinal, expected.windowClass);
        EXPECT_EQ(actual.style, expected.style);
        EXPECT_EQ(actual.extendedStyle, 0u);
        EXPECT_EQ(actual.caption, expected.caption);
        EXPECT_EQ(actual.x, expected.x);
        EXPECT_EQ(actual.y, expected.y);
        EXPECT_EQ(actual.cx, expected.cx);
        EXPECT_EQ(actual.cy, expected.cy);
        EXPECT_EQ(actual.creationDataSize, 0u);
    }
}

TEST(DialogTemplate, CompiledResourceMatchesTheTable) {
    const std::string path = QUILLMERE_DIALOG_RES;
    if (!Exists(path)) {
        GTEST_SKIP() << "no windres output at " << path;
    }
    const std::optional<std::vector<std::uint8_t>> dialog =
        FindDialogInResFile(ReadFile(path), kDialogResource);
    ASSERT_TRUE(dialog.has_value()) << "no dialog resource 101 in " << path;
    ExpectTemplateMatches(*dialog);
}

TEST(DialogTemplate, BuiltModuleCarriesTheSameTemplate) {
    const std::string path = QUILLMERE_WIN32_MODULE;
    if (!Exists(path)) {
        GTEST_SKIP() << path << " has not been built (cmake --preset win32)";
    }
    const std::optional<std::vector<std::uint8_t>> dialog =
        FindDialogInPortableExecutable(ReadFile(path), kDialogResource);
    ASSERT_TRUE(dialog.has_value()) << "no dialog resource 101 in " << path;
    ExpectTemplateMatches(*dialog);
}

// The reader itself must refuse damaged input rather than read past it.
TEST(DialogTemplate, TruncatedTemplateIsRefused) {
    const std::string path = QUILLMERE_DIALOG_RES;
    if (!Exists(path)) {
        GTEST_SKIP() << "no windres output at " << path;
    }
    std::vector<std::uint8_t> dialog =
        FindDialogInResFile(ReadFile(path), kDialogResource).value();
    for (std::size_t keep : {std::size_t{0}, std::size_t{17}, dialog.size() / 2,
                             dialog.size() - 3}) {
        std::vector<std::uint8_t> truncated(dialog.begin(), dialog.begin() + keep);
        EXPECT_THROW(ParseDialogTemplate(truncated), std::out_of_range) << keep << " bytes";
    }
}

}  // namespace
