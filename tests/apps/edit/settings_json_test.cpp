#include <gtest/gtest.h>

#include <string>

#include "apps/quillmere/edit/settings_json.h"
#include "apps/quillmere/runner_error.h"

namespace {

using Json = nlohmann::ordered_json;

// Settings far from the defaults in every field the file holds.
EditSettings Unusual() {
    EditSettings settings;
    FilterData& filter = settings.filter;
    filter.maskLeft = -12;
    filter.maskTop = 30;
    filter.maskRight = 1300;
    filter.maskBottom = 700;
    settings.placement.reset();
    filter.keepAspect = 1;
    filter.fitToFrame = 1;
    filter.bilinear = 1;
    filter.borderOn = 1;
    filter.borderSize = 9;
    filter.borderColor = 0x123456;  // blue 12, green 34, red 56
    filter.shadowOn = 1;
    filter.shadowType = 5;
    filter.shadowSize = 33;
    filter.shadowPercent = 80;
    filter.shadowShift = -4;
    filter.shadowColor = 0x0000FF;
    filter.useFrameRange = 1;
    filter.rangeStart = 10;
    filter.rangeEnd = 250;
    filter.frameOffset = -7;
    filter.repeatVideo = 1;
    filter.reverse = 1;
    filter.maintainBlack = 1;
    settings.scaler = OverlayScaler::Lanczos;
    settings.alpha = AlphaMode::Premultiplied;
    settings.opacityPercent = 35;
    settings.timing = OverlayTiming::Frames;
    settings.overlayPath = "/media/clip with 'quotes'.mp4";
    return settings;
}

// The fields a settings file carries, compared one by one so that a
// failure names the field.
void ExpectSameSettings(const EditSettings& actual, const EditSettings& expected) {
    const FilterData& a = actual.filter;
    const FilterData& e = expected.filter;
    EXPECT_EQ(actual.placement.has_value(), expected.placement.has_value());
    if (!expected.placement) {
        EXPECT_EQ(a.maskLeft, e.maskLeft);
        EXPECT_EQ(a.maskTop, e.maskTop);
        EXPECT_EQ(a.maskRight, e.maskRight);
        EXPECT_EQ(a.maskBottom, e.maskBottom);
    }
    EXPECT_EQ(a.keepAspect, e.keepAspect);
    EXPECT_EQ(a.fitToFrame, e.fitToFrame);
    EXPECT_EQ(a.bilinear, e.bilinear);
    EXPECT_EQ(a.borderOn, e.borderOn);
    EXPECT_EQ(a.borderSize, e.borderSize);
    EXPECT_EQ(a.borderColor, e.borderColor);
    EXPECT_EQ(a.shadowOn, e.shadowOn);
    EXPECT_EQ(a.shadowType, e.shadowType);
    EXPECT_EQ(a.shadowSize, e.shadowSize);
    EXPECT_EQ(a.shadowPercent, e.shadowPercent);
    EXPECT_EQ(a.shadowShift, e.shadowShift);
    EXPECT_EQ(a.shadowColor, e.shadowColor);
    EXPECT_EQ(a.useFrameRange, e.useFrameRange);
    EXPECT_EQ(a.rangeStart, e.rangeStart);
    EXPECT_EQ(a.rangeEnd, e.rangeEnd);
    EXPECT_EQ(a.frameOffset, e.frameOffset);
    EXPECT_EQ(a.repeatVideo, e.repeatVideo);
    EXPECT_EQ(a.reverse, e.reverse);
    EXPECT_EQ(a.maintainBlack, e.maintainBlack);
    EXPECT_EQ(actual.scaler, expected.scaler);
    EXPECT_EQ(actual.alpha, expected.alpha);
    EXPECT_EQ(actual.opacityPercent, expected.opacityPercent);
    EXPECT_EQ(actual.timing, expected.timing);
    EXPECT_EQ(actual.overlayPath, expected.overlayPath);
}

TEST(SettingsFile, EverySettingReadsBackAsWritten) {
    const EditSettings settings = Unusual();
    ExpectSameSettings(ParseSettingsFile(SettingsFileText(settings), "look.json"), settings);
    ExpectSameSettings(ParseSettingsFile(SettingsFileText(EditSettings{}), "look.json"),
                       EditSettings{});
}

TEST(SettingsFile, PlacementReadsBackWithTheFieldsGiven) {
    EditSettings settings;
    settings.placement->anchor = Anchor::TopLeft;
    settings.placement->margin = PlacementLength{100.0 / 3.0, true};
    settings.placement->height = PlacementLength{181, false};
    const EditSettings read = ParseSettingsFile(SettingsFileText(settings), "look.json");
    ASSERT_TRUE(read.placement);
    EXPECT_EQ(read.placement->anchor, Anchor::TopLeft);
    ASSERT_TRUE(read.placement->margin);
    EXPECT_EQ(read.placement->margin->value, 100.0 / 3.0);  // exactly, not rounded
    EXPECT_TRUE(read.placement->margin->percent);
    EXPECT_FALSE(read.placement->width);
    ASSERT_TRUE(read.placement->height);
    EXPECT_EQ(read.placement->height->value, 181);
}

// The file as a person writes it: names, colours and styles as the command
// line spells them, and only some settings.
TEST(SettingsFile, HandWrittenFileTakesTheCommandLinesSpellings) {
    const EditSettings read = ParseSettingsFile(R"({
        "format": "quillmere-settings", "version": 1,
        "overlay": "clips/pip.mp4",
        "mask": {"left": 10, "top": 20, "right": 330, "bottom": 260},
        "border": {"on": true, "color": "rebeccapurple"},
        "shadow": {"style": 2}
    })", "/home/me/looks/one.json");
    EXPECT_EQ(read.overlayPath, "/home/me/looks/clips/pip.mp4");
    EXPECT_FALSE(read.placement);
    EXPECT_EQ(read.filter.maskRight, 330);
    EXPECT_EQ(read.filter.borderOn, 1);
    EXPECT_EQ(read.filter.borderColor, 0x993366u);  // CSS 663399, red in the low byte
    EXPECT_EQ(read.filter.borderSize, 1);           // the dialog's default
    EXPECT_EQ(read.filter.shadowType, 2);
    EXPECT_EQ(ParseSettingsFile(R"({"format": "quillmere-settings", "version": 1,
                                    "overlay": "pip.mp4"})", "one.json").overlayPath,
              "pip.mp4");
}

struct RefusedCase {
    const char* name;
    const char* text;
    const char* reasonPart;  // what the one-line reason must mention
};

class SettingsFileRefusalTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(SettingsFileRefusalTest, SaysWhyInOneLine) {
    const RefusedCase& c = GetParam();
    try {
        ParseSettingsFile(c.text, "look.json");
        FAIL() << "accepted";
    } catch (const UsageError& error) {
        const std::string reason = error.what();
        EXPECT_NE(reason.find("look.json"), std::string::npos) << reason;
        EXPECT_NE(reason.find(c.reasonPart), std::string::npos) << reason;
        EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
    }
}

#define SETTINGS_FILE(body) "{\"format\": \"quillmere-settings\", \"version\": 1" body "}"

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsFileRefusalTest,
    ::testing::Values(
        RefusedCase{"NotJson", "{\"format\": ", "not JSON"},
        RefusedCase{"NotAnObject", "[1, 2]", "not a quillmere settings file"},
        RefusedCase{"OtherFormat", "{\"format\": \"other\", \"version\": 1}",
                    "not a quillmere settings file"},
        RefusedCase{"NoVersion", "{\"format\": \"quillmere-settings\"}", "version"},
        RefusedCase{"NewerVersion", "{\"format\": \"quillmere-settings\", \"version\": 2}",
                    "newer"},
        RefusedCase{"UnknownName", SETTINGS_FILE(", \"brightness\": 3"), "'brightness'"},
        RefusedCase{"UnknownNameInGroup", SETTINGS_FILE(", \"border\": {\"style\": 1}"),
                    "'border.style'"},
        RefusedCase{"FlagAsNumber", SETTINGS_FILE(", \"repeat\": 1"), "repeat"},
        RefusedCase{"NumberAsText", SETTINGS_FILE(", \"border\": {\"size\": \"4\"}"),
                    "border.size"},
        RefusedCase{"FractionalNumber", SETTINGS_FILE(", \"offset\": 1.5"), "offset"},
        RefusedCase{"PercentOutOfRange", SETTINGS_FILE(", \"shadow\": {\"percent\": 101}"),
                    "0 to 100"},
        RefusedCase{"HugeNumber", SETTINGS_FILE(", \"border\": {\"size\": 18446744073709551615}"),
                    "border.size"},
        RefusedCase{"BadColour", SETTINGS_FILE(", \"border\": {\"color\": \"#12345\"}"),
                    "border.color"},
        RefusedCase{"BadStyle", SETTINGS_FILE(", \"shadow\": {\"style\": 6}"), "shadow.style"},
        RefusedCase{"BadChoice", SETTINGS_FILE(", \"scaler\": \"sinc\""), "lanczos"},
        RefusedCase{"PartialMask", SETTINGS_FILE(", \"mask\": {\"left\": 1, \"top\": 2}"),
                    "left, top, right and bottom"},
        RefusedCase{"MaskBeyondLimit",
                    SETTINGS_FILE(", \"mask\": {\"left\": 0, \"top\": 0, \"right\": 5000000, "
                                  "\"bottom\": 9}"),
                    "mask.right"},
        RefusedCase{"MaskAndPlacement",
                    SETTINGS_FILE(", \"mask\": {\"left\": 0, \"top\": 0, \"right\": 5, "
                                  "\"bottom\": 9}, \"placement\": {}"),
                    "give one"},
        RefusedCase{"BadAnchor", SETTINGS_FILE(", \"placement\": {\"position\": \"middle\"}"),
                    "placement.position"},
        RefusedCase{"RangeEndsBeforeStart",
                    SETTINGS_FILE(", \"range\": {\"start\": 20, \"end\": 10}"), "range.end"},
        RefusedCase{"GroupNotObject", SETTINGS_FILE(", \"shadow\": true"), "shadow"}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

TEST(SettingsChanges, ApplyOnlyTheNamesGivenAndLeaveAllElseOnRefusal) {
    EditSettings settings = Unusual();
    ApplySettingsChanges(Json{{"border", {{"size", 2}}}, {"opacity", 100}}, SettingsOrigin::Page,
                         "", settings);
    EXPECT_EQ(settings.filter.borderSize, 2);
    EXPECT_EQ(settings.filter.borderOn, 1);
    EXPECT_EQ(settings.opacityPercent, 100);
    EXPECT_EQ(settings.filter.shadowSize, 33);

    const EditSettings before = settings;
    // A good change before a bad one in the same request is not kept either.
    EXPECT_THROW(ApplySettingsChanges(Json{{"border", {{"size", 5}}}, {"opacity", 101}},
                                      SettingsOrigin::Page, "", settings),
                 UsageError);
    ExpectSameSettings(settings, before);
}

TEST(SettingsChanges, PlacementMergesAndNullRestoresADefault) {
    EditSettings settings = Unusual();  // a mask set by hand
    ApplySettingsChanges(Json{{"placement", {{"position", "top"}}}}, SettingsOrigin::Page, "",
                         settings);
    ASSERT_TRUE(settings.placement);
    EXPECT_EQ(settings.placement->anchor, Anchor::Top);
    ApplySettingsChanges(Json{{"placement", {{"size", "320x180"}}}}, SettingsOrigin::Page, "",
                         settings);
    EXPECT_EQ(settings.placement->anchor, Anchor::Top);
    ASSERT_TRUE(settings.placement->width && settings.placement->height);
    EXPECT_EQ(settings.placement->width->value, 320);
    ApplySettingsChanges(Json{{"placement", {{"position", nullptr}}}}, SettingsOrigin::Page, "",
                         settings);
    EXPECT_FALSE(settings.placement->anchor);
    ApplySettingsChanges(Json{{"mask", {{"left", 1}, {"top", 2}, {"right", 3}, {"bottom", 4}}}},
                         SettingsOrigin::Page, "", settings);
    EXPECT_FALSE(settings.placement);
}

TEST(SettingsChanges, ThePageCannotChooseTheOverlay) {
    EditSettings settings = Unusual();
    EXPECT_THROW(ApplySettingsChanges(Json{{"overlay", "/etc/passwd"}}, SettingsOrigin::Page, "",
                                      settings),
                 UsageError);
    EXPECT_EQ(settings.overlayPath, Unusual().overlayPath);
}

}  // namespace
