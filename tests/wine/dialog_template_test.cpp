// The compiled dialog template against the dialog's table (the one the
// tests' window model is built from): every field of the dialog header and of
// all 47 controls, read from windres' output and from the resources of the
// built 32-bit module.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "resource_reader.h"
#include "ui/dialog_template.h"

namespace {

// The window class ordinals under which the dialog manager stores the
// predefined classes.
std::uint16_t ClassOrdinal(ControlClass controlClass) {
    switch (controlClass) {
    case ControlClass::Button:
        return 0x0080;
    case ControlClass::Edit:
        return 0x0081;
    case ControlClass::Static:
        return 0x0082;
    case ControlClass::ComboBox:
        return 0x0085;
    }
    return 0;
}

constexpr int kDialogResource = IDD_CONFIGURATION;

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

void ExpectTemplateMatches(const std::vector<std::uint8_t>& bytes) {
    const DialogTemplate& expected = kConfigurationDialog;
    const CompiledDialog dialog = ParseDialogTemplate(bytes);
    EXPECT_EQ(dialog.style, expected.style);
    EXPECT_EQ(dialog.style, 0x80C800C0u);
    EXPECT_EQ(dialog.extendedStyle, 0u);
    EXPECT_EQ(dialog.x, 0);
    EXPECT_EQ(dialog.y, 0);
    EXPECT_EQ(dialog.cx, expected.width);
    EXPECT_EQ(dialog.cy, expected.height);
    EXPECT_FALSE(dialog.hasMenu);
    EXPECT_FALSE(dialog.hasClass);
    EXPECT_EQ(dialog.caption, expected.caption);
    EXPECT_EQ(dialog.pointSize, expected.fontPoints);
    EXPECT_EQ(dialog.fontName, expected.fontName);
    ASSERT_EQ(dialog.controls.size(), static_cast<std::size_t>(expected.controlCount));
    ASSERT_EQ(expected.controlCount, 47);
    for (int row = 0; row < expected.controlCount; ++row) {
        const DialogControl& wanted = expected.controls[row];
        const CompiledControl& actual = dialog.controls[row];
        SCOPED_TRACE("control row " + std::to_string(row + 1) + ", id " +
                     std::to_string(wanted.id));
        EXPECT_EQ(actual.id, static_cast<std::uint16_t>(wanted.id));
        EXPECT_TRUE(actual.classIsOrdinal) << actual.className;
        EXPECT_EQ(actual.classOrdinal, ClassOrdinal(wanted.controlClass));
        EXPECT_EQ(actual.style, wanted.style);
        EXPECT_EQ(actual.extendedStyle, 0u);
        EXPECT_EQ(actual.caption, wanted.caption);
        EXPECT_EQ(actual.x, wanted.x);
        EXPECT_EQ(actual.y, wanted.y);
        EXPECT_EQ(actual.cx, wanted.width);
        EXPECT_EQ(actual.cy, wanted.height);
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
