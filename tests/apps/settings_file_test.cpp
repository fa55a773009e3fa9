#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <optional>
#include <string>
#include <vector>

#include "apps/quillmere/cli/command_text.h"
#include "apps/quillmere/cli/read_command_line.h"
#include "apps/quillmere/cli/settings_file.h"
#include "apps/quillmere/plan/planning.h"
#include "apps/quillmere/runner_error.h"

namespace {

using Json = nlohmann::ordered_json;

// Settings far from the defaults in every field the file holds.
CommandLine Unusual() {
    CommandLine settings;
    FilterData& filter = settings.settings;
    filter.maskLeft = -12;
    filter.maskTop = 30;
    filter.maskRight = 1300;
    filter.maskBottom = 700;
    settings.maskGiven = true;
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
    settings.seed = 4000000000u;
    settings.keepRotation = true;
    settings.times.fadeIn = FrameOrTime::Microseconds(250000);
    settings.times.fadeOut = FrameOrTime::Frames(30);
    return settings;
}

CommandLine Read(const std::string& text, const std::string& name) {
    CommandLine line;
    ReadSettingsFile(text, name, line);
    return line;
}

// The fields a settings file carries, compared one by one so that a
// failure names the field.
void ExpectSameSettings(const CommandLine& actual, const CommandLine& expected) {
    const FilterData& a = actual.settings;
    const FilterData& e = expected.settings;
    EXPECT_EQ(PlacesOverlay(actual), PlacesOverlay(expected));
    if (!PlacesOverlay(expected)) {
        EXPECT_EQ(a.maskLeft, e.maskLeft);
        EXPECT_EQ(a.maskTop, e.maskTop);
        EXPECT_EQ(a.maskRight, e.maskRight);
        EXPECT_EQ(a.maskBottom, e.maskBottom);
    }
    ASSERT_EQ(actual.keys.size(), expected.keys.size());
    for (std::size_t index = 0; index < expected.keys.size(); ++index) {
        const MaskKeyRequest& x = actual.keys[index];
        const MaskKeyRequest& y = expected.keys[index];
        EXPECT_EQ(x.at, y.at) << "key " << index;
        EXPECT_EQ((std::vector<int>{x.left, x.top, x.right, x.bottom, static_cast<int>(x.ease)}),
                  (std::vector<int>{y.left, y.top, y.right, y.bottom, static_cast<int>(y.ease)}))
            << "key " << index;
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
    EXPECT_EQ(actual.seed, expected.seed);
    EXPECT_EQ(actual.keepRotation, expected.keepRotation);
    EXPECT_EQ(actual.times.fadeIn, expected.times.fadeIn);
    EXPECT_EQ(actual.times.fadeOut, expected.times.fadeOut);
    EXPECT_EQ(actual.cornerRadius, expected.cornerRadius);
    EXPECT_EQ(actual.overlayAudio, expected.overlayAudio);
    const auto levelText = [](const std::optional<AudioLevel>& level) {
        return level ? level->text : std::string("(none)");
    };
    EXPECT_EQ(levelText(actual.overlayVolume), levelText(expected.overlayVolume));
    EXPECT_EQ(levelText(actual.duck), levelText(expected.duck));
}

TEST(SettingsFile, EverySettingReadsBackAsWritten) {
    const CommandLine settings = Unusual();
    ExpectSameSettings(Read(SettingsFileText(settings), "look.json"), settings);
    ExpectSameSettings(Read(SettingsFileText(CommandLine{}), "look.json"), CommandLine{});
    CommandLine bilinear;
    bilinear.settings.bilinear = 1;
    ExpectSameSettings(Read(SettingsFileText(bilinear), "look.json"), bilinear);
}

TEST(SettingsFile, PlacementReadsBackWithTheFieldsGiven) {
    CommandLine settings;
    settings.placement.anchor = Anchor::TopLeft;
    settings.placement.margin = PlacementLength{100.0 / 3.0, true};
    settings.placement.height = PlacementLength{181, false};
    const CommandLine read = Read(SettingsFileText(settings), "look.json");
    ASSERT_TRUE(PlacesOverlay(read));
    EXPECT_EQ(read.placement.anchor, Anchor::TopLeft);
    ASSERT_TRUE(read.placement.margin);
    EXPECT_EQ(read.placement.margin->value, 100.0 / 3.0);  // exactly, not rounded
    EXPECT_TRUE(read.placement.margin->percent);
    EXPECT_FALSE(read.placement.width);
    ASSERT_TRUE(read.placement.height);
    EXPECT_EQ(read.placement.height->value, 181);
}

// The file as a person writes it: names, colours and styles as the command
// line spells them, and only some settings.
TEST(SettingsFile, HandWrittenFileTakesTheCommandLinesSpellings) {
    const CommandLine read = Read(R"({
        "format": "quillmere-settings", "version": 1,
        "overlay": "clips/pip.mp4",
        "mask": {"left": 10, "top": 20, "right": 330, "bottom": 260},
        "border": {"on": true, "color": "rebeccapurple"},
        "shadow": {"style": 2}
    })", "/home/me/looks/one.json");
    EXPECT_EQ(read.overlayPath, "/home/me/looks/clips/pip.mp4");
    EXPECT_FALSE(PlacesOverlay(read));
    EXPECT_EQ(read.settings.maskRight, 330);
    EXPECT_EQ(read.settings.borderOn, 1);
    EXPECT_EQ(read.settings.borderColor, 0x993366u);  // CSS 663399, red in the low byte
    EXPECT_EQ(read.settings.borderSize, 1);           // the dialog's default
    EXPECT_EQ(read.settings.shadowType, 2);
    EXPECT_EQ(read.settings.shadowOn, 0);
    EXPECT_EQ(Read(R"({"format": "quillmere-settings", "version": 1,
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
        Read(c.text, "look.json");
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
        RefusedCase{"NotJson", "{\"format\": ", "malformed JSON"},
        // A number beyond every type is the reader's other kind of refusal.
        RefusedCase{"NumberBeyondAnyType", SETTINGS_FILE(", \"offset\": 7e37777"),
                    "malformed JSON"},
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
        RefusedCase{"OpacityOutOfRange", SETTINGS_FILE(", \"opacity\": 101"), "opacity"},
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
        RefusedCase{"MaskAndKeys",
                    SETTINGS_FILE(", \"mask\": {\"left\": 0, \"top\": 0, \"right\": 5, "
                                  "\"bottom\": 9}, \"keys\": [\"0=0,0,5,9\"]"),
                    "mask and keys both set the mask"},
        RefusedCase{"KeysNotAList", SETTINGS_FILE(", \"keys\": \"0=0,0,5,9\""), "a list of keys"},
        RefusedCase{"KeyMalformed", SETTINGS_FILE(", \"keys\": [\"0=0,0,5,9:fast\"]"),
                    "invalid easing 'fast' in keys"},
        RefusedCase{"BadAnchor", SETTINGS_FILE(", \"placement\": {\"position\": \"middle\"}"),
                    "placement.position"},
        RefusedCase{"RangeEndsBeforeStart",
                    SETTINGS_FILE(", \"range\": {\"start\": 20, \"end\": 10}"), "range.end"},
        RefusedCase{"GroupNotObject", SETTINGS_FILE(", \"shadow\": true"), "shadow"}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

// JSON from outside nests kJsonNestingLimit levels at most, counted as the
// JSON reader sees them: brackets inside strings are text.
struct NestingCase {
    const char* name;
    std::string text;
    bool refused;
};
void PrintTo(const NestingCase& test, std::ostream* out) { *out << test.name; }

std::string Arrays(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

class JsonNestingTest : public ::testing::TestWithParam<NestingCase> {};

TEST_P(JsonNestingTest, IsRefusedPastTheLimit) {
    const NestingCase& c = GetParam();
    std::string reason;
    try {
        ParseJson(c.text);
    } catch (const UsageError& refused) {
        reason = refused.what();
    }
    EXPECT_EQ(reason, c.refused ? "JSON nested deeper than " +
                                      std::to_string(kJsonNestingLimit) + " levels"
                                : "");
}

INSTANTIATE_TEST_SUITE_P(
    Documents, JsonNestingTest,
    ::testing::Values(
        NestingCase{"AtTheLimit", "{\"a\": " + Arrays(kJsonNestingLimit - 1) + "}", false},
        NestingCase{"PastIt", "[{\"a\": " + Arrays(kJsonNestingLimit - 1) + "}]", true},
        NestingCase{"SideBySide", "[" + Arrays(kJsonNestingLimit - 1) + ", " +
                                      Arrays(kJsonNestingLimit - 1) + "]", false},
        NestingCase{"BracketsInStrings",
                    "[\"[[[\\\"" + std::string(100, '{') + "\"]", false},
        // Refused for its depth before the reader finds it cut short.
        NestingCase{"UnclosedPastIt", std::string(100000, '['), true}),
    [](const ::testing::TestParamInfo<NestingCase>& info) { return std::string(info.param.name); });

TEST(SettingsChanges, ApplyOnlyTheNamesGivenAndLeaveAllElseOnRefusal) {
    CommandLine settings = Unusual();
    ApplySettingsChanges(Json{{"border", {{"size", 2}}}, {"opacity", 100}}, SettingsOrigin::Page,
                         "", settings);
    EXPECT_EQ(settings.settings.borderSize, 2);
    EXPECT_EQ(settings.settings.borderOn, 1);
    EXPECT_EQ(settings.opacityPercent, 100);
    EXPECT_EQ(settings.settings.shadowSize, 33);

    const CommandLine before = settings;
    // A good change before a bad one in the same request is not kept either.
    EXPECT_THROW(ApplySettingsChanges(Json{{"border", {{"size", 5}}}, {"opacity", 101}},
                                      SettingsOrigin::Page, "", settings),
                 UsageError);
    ExpectSameSettings(settings, before);
}

TEST(SettingsChanges, PlacementMergesAndNullRestoresADefault) {
    CommandLine settings = Unusual();  // a mask set by hand
    ApplySettingsChanges(Json{{"placement", {{"position", "top"}}}}, SettingsOrigin::Page, "",
                         settings);
    ASSERT_TRUE(PlacesOverlay(settings));
    EXPECT_EQ(settings.placement.anchor, Anchor::Top);
    ApplySettingsChanges(Json{{"placement", {{"size", "320x180"}}}}, SettingsOrigin::Page, "",
                         settings);
    EXPECT_EQ(settings.placement.anchor, Anchor::Top);
    ASSERT_TRUE(settings.placement.width && settings.placement.height);
    EXPECT_EQ(settings.placement.width->value, 320);
    ApplySettingsChanges(Json{{"placement", {{"position", nullptr}}}}, SettingsOrigin::Page, "",
                         settings);
    EXPECT_FALSE(settings.placement.anchor);
    ApplySettingsChanges(Json{{"placement", Json::object()}}, SettingsOrigin::Page, "",
                         settings);
    EXPECT_TRUE(PlacesOverlay(settings));
    ApplySettingsChanges(Json{{"mask", {{"left", 1}, {"top", 2}, {"right", 3}, {"bottom", 4}}}},
                         SettingsOrigin::Page, "", settings);
    EXPECT_FALSE(PlacesOverlay(settings));
}

// A time given on the command line would be resolved over the frames a
// change sets; the change's frames stand.
TEST(SettingsChanges, FramesGivenReplaceTimesGiven) {
    CommandLine settings;
    settings.times.rangeStart = FrameOrTime::Microseconds(2000000);
    settings.times.offset = FrameOrTime::Microseconds(1000000);
    ApplySettingsChanges(Json{{"range", {{"on", true}, {"start", 5}}}, {"offset", 3}},
                         SettingsOrigin::Page, "", settings);
    ResolveTimedOptions(settings, AVRational{25, 1});
    EXPECT_EQ(settings.settings.rangeStart, 5);
    EXPECT_EQ(settings.settings.frameOffset, 3);
}

// The page shows the pictures as the command line opened them.
TEST(SettingsChanges, ThePageCannotChooseTheOverlayOrTheTurn) {
    CommandLine settings = Unusual();
    EXPECT_THROW(ApplySettingsChanges(Json{{"overlay", "/etc/passwd"}}, SettingsOrigin::Page, "",
                                      settings),
                 UsageError);
    EXPECT_THROW(ApplySettingsChanges(Json{{"keepRotation", false}}, SettingsOrigin::Page, "",
                                      settings),
                 UsageError);
    EXPECT_EQ(settings.overlayPath, Unusual().overlayPath);
    EXPECT_TRUE(settings.keepRotation);
}

// A settings file on disk, removed with the object.
class SettingsFileOnDisk {
public:
    explicit SettingsFileOnDisk(const std::string& body) {
        char name[] = "/tmp/quillmere-settings-XXXXXX";
        const int descriptor = mkstemp(name);
        path_ = name;
        const std::string text =
            "{\"format\": \"quillmere-settings\", \"version\": 1" + body + "}";
        EXPECT_EQ(write(descriptor, text.data(), text.size()),
                  static_cast<ssize_t>(text.size()));
        close(descriptor);
    }
    ~SettingsFileOnDisk() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

CommandLine ReadWith(const std::vector<std::string>& words) {
    std::vector<const char*> argv = {"quillmere"};
    for (const std::string& word : words) {
        argv.push_back(word.c_str());
    }
    return ReadCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(SettingsFileAndCommandLine, TheCommandLineWins) {
    const SettingsFileOnDisk file(
        R"(, "overlay": "/clips/a.mp4", "mask": {"left": 1, "top": 2, "right": 30, "bottom": 40},
           "border": {"on": true, "size": 4, "color": "red"}, "range": {"on": true, "start": 10,
           "end": 20}, "opacity": 50)");
    const std::string settings = "--settings=" + file.path();

    CommandLine line = ReadWith({"render", "main.mp4", "-o", "out.mkv", settings});
    EXPECT_EQ(line.overlayPath, "/clips/a.mp4");
    EXPECT_TRUE(line.maskGiven);
    EXPECT_EQ(line.settings.maskRight, 30);
    EXPECT_EQ(line.settings.borderSize, 4);
    EXPECT_EQ(line.settings.borderColor, 0x0000FFu);
    EXPECT_EQ(line.settings.rangeEnd, 20);
    EXPECT_EQ(line.opacityPercent, 50);

    line = ReadWith({"render", "main.mp4", "-o", "out.mkv", "--border", "9", "--overlay",
                     "b.mp4", "--opacity", "70", settings});
    EXPECT_EQ(line.settings.borderSize, 9);
    EXPECT_EQ(line.settings.borderColor, 0x0000FFu);  // from the file still
    EXPECT_EQ(line.overlayPath, "b.mp4");
    EXPECT_EQ(line.opacityPercent, 70);

    // A placement on the command line replaces the file's mask, not clashes with it.
    line = ReadWith({"frame", "main.mp4", "--at", "3", "-o", "f.png", settings, "--position",
                     "top"});
    EXPECT_TRUE(PlacesOverlay(line));
    EXPECT_EQ(line.placement.anchor, Anchor::Top);
}

// Keys replace a mask whichever gives them, and keys given on the command
// line replace the file's rather than add to them.
TEST(SettingsFileAndCommandLine, KeysReplaceTheOtherSourcesMask) {
    const SettingsFileOnDisk masked(
        R"(, "mask": {"left": 1, "top": 2, "right": 30, "bottom": 40})");
    CommandLine line = ReadWith({"render", "main.mp4", "-o", "out.mkv",
                                 "--settings=" + masked.path(), "--key", "5=0,0,8,8"});
    EXPECT_FALSE(line.maskGiven);
    ASSERT_EQ(line.keys.size(), 1u);
    EXPECT_EQ(line.keys[0].at, FrameOrTime::Frames(5));

    const SettingsFileOnDisk keyed(R"(, "keys": ["0=1,2,30,40", "10=5,6,70,80:in"])");
    line = ReadWith({"render", "main.mp4", "-o", "out.mkv", "--settings=" + keyed.path()});
    ASSERT_EQ(line.keys.size(), 2u);
    EXPECT_EQ(line.keys[1].ease, Ease::In);
    line = ReadWith({"render", "main.mp4", "-o", "out.mkv", "--settings=" + keyed.path(),
                     "--key", "3=0,0,8,8"});
    ASSERT_EQ(line.keys.size(), 1u);
    EXPECT_EQ(line.keys[0].at, FrameOrTime::Frames(3));
    line = ReadWith({"render", "main.mp4", "-o", "out.mkv", "--settings=" + keyed.path(),
                     "--mask", "0,0,8,8"});
    EXPECT_TRUE(line.keys.empty());
    EXPECT_TRUE(line.maskGiven);

    // The page moves one mask: it may not drop or rewrite the keys.
    line = ReadWith({"render", "main.mp4", "-o", "out.mkv", "--settings=" + keyed.path()});
    EXPECT_THROW(ApplySettingsChanges(Json{{"mask", {{"left", 0}, {"top", 0}, {"right", 9},
                                                     {"bottom", 9}}}},
                                      SettingsOrigin::Page, "", line),
                 UsageError);
    EXPECT_EQ(line.keys.size(), 2u);
}

TEST(SettingsFileAndCommandLine, MissingFileIsAnErrorExceptForEditsSave) {
    const std::string missing = "/tmp/quillmere-no-such-settings.json";
    EXPECT_THROW(ReadWith({"render", "main.mp4", "-o", "out.mkv", "--settings", missing}),
                 RunnerError);
    EXPECT_EQ(ReadWith({"edit", "main.mp4", "--settings", missing}).settingsPath, missing);
    const SettingsFileOnDisk broken(", \"border\": 3");
    EXPECT_THROW(ReadWith({"edit", "main.mp4", "--settings", broken.path()}), UsageError);
}

// Each setting as a user gives it: the options that set it, or for a
// setting with no option of its own, its value in a settings file.
struct SettingCase {
    const char* setting;
    std::vector<std::string> options;
    const char* fileValue;  // JSON, or null
};

const SettingCase kSettingCases[] = {
    {"overlay", {"--overlay", "/clips/pip.mkv"}, nullptr},
    {"mask", {"--mask", "10,20,330,260"}, nullptr},
    {"keys", {"--key", "0=10,20,330,260", "--key", "2.5s=-40,50,200,150:in-out"}, nullptr},
    {"placement.position", {"--position", "top-left"}, nullptr},
    {"placement.margin", {"--margin", "12"}, nullptr},
    {"placement.size", {"--size", "320x180"}, nullptr},
    {"keepAspect", {}, "true"},
    {"fit", {"--mask", "10,20,330,260", "--fit"}, nullptr},
    {"bilinear", {"--bilinear"}, nullptr},
    {"scaler", {"--scaler", "lanczos"}, nullptr},
    {"alpha", {"--alpha", "ignore"}, nullptr},
    {"opacity", {"--opacity", "40"}, nullptr},
    {"cornerRadius", {"--corner-radius", "24"}, nullptr},
    {"overlayTransfer", {"--overlay-transfer", "keep"}, nullptr},
    {"border.on", {"--border", "4"}, nullptr},
    {"border.size", {"--border", "7"}, nullptr},
    {"border.color", {"--border", "4", "--border-color", "navy"}, nullptr},
    {"shadow.on", {"--shadow", "0"}, nullptr},
    {"shadow.style", {"--shadow", "1"}, nullptr},
    {"shadow.size", {"--shadow", "0", "--shadow-size", "12"}, nullptr},
    {"shadow.percent", {"--shadow", "0", "--shadow-percent", "70"}, nullptr},
    {"shadow.shift", {"--shadow", "0", "--shadow-shift", "-3"}, nullptr},
    {"shadow.color", {"--shadow", "0", "--shadow-color", "202020"}, nullptr},
    {"range.on", {"--range", "5"}, nullptr},
    {"range.start", {"--range", "5-50"}, nullptr},
    {"range.end", {"--range", "0-50"}, nullptr},
    {"offset", {"--offset", "-9"}, nullptr},
    {"fadeIn", {"--fade-in", "0.5s"}, nullptr},
    {"fadeOut", {"--fade-out", "12"}, nullptr},
    {"timing", {"--overlay-timing", "frames"}, nullptr},
    {"repeat", {"--repeat"}, nullptr},
    {"reverse", {"--reverse"}, nullptr},
    {"maintainBlack", {"--maintain-black"}, nullptr},
    {"seed", {"--shadow", "gradient-random", "--seed", "77"}, nullptr},
    {"keepRotation", {"--keep-rotation"}, nullptr},
    {"audio.overlay", {"--overlay-audio", "mix"}, nullptr},
    {"audio.volume", {"--overlay-audio", "mix", "--overlay-volume", "-6dB"}, nullptr},
    {"audio.duck", {"--overlay-audio", "mix", "--duck", "0.25"}, nullptr},
};

CommandLine RenderWith(const std::vector<std::string>& options) {
    std::vector<std::string> words = {"quillmere", "render", "main.mp4", "-o", "out.mkv"};
    words.insert(words.end(), options.begin(), options.end());
    std::vector<const char*> argv;
    for (const std::string& word : words) {
        argv.push_back(word.c_str());
    }
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

// The setting's value in a settings document ("border.size" inside
// "border"), null where the document leaves it out.
Json ValueIn(const Json& document, const std::string& name) {
    const std::size_t dot = name.find('.');
    if (dot == std::string::npos) {
        return document.value(name, Json());
    }
    return document.value(name.substr(0, dot), Json::object()).value(name.substr(dot + 1), Json());
}

class SettingRoundTripTest : public ::testing::TestWithParam<SettingCase> {};

// Command line, request, settings file, request, command line: the same
// job all the way.
TEST_P(SettingRoundTripTest, CommandLineAndFileGiveTheSameJob) {
    const SettingCase& setting = GetParam();
    CommandLine given = RenderWith(setting.options);
    if (setting.fileValue != nullptr) {
        ApplySettingsChanges(Json{{setting.setting, ParseJson(setting.fileValue)}},
                             SettingsOrigin::File, "", given);
    }
    ASSERT_NE(ValueIn(SettingsDocument(given), setting.setting),
              ValueIn(SettingsDocument(RenderWith({})), setting.setting))
        << "the case leaves its setting at the default";

    CommandLine fromFile = RenderWith({});
    ReadSettingsFile(SettingsFileText(given), "look.json", fromFile);
    ExpectSameSettings(fromFile, given);
    EXPECT_EQ(RenderCommandWords(fromFile), RenderCommandWords(given));
    if (setting.fileValue == nullptr) {
        const std::vector<std::string> words = RenderCommandWords(fromFile);
        std::vector<std::string> options(words.begin() + 5, words.end());
        ExpectSameSettings(RenderWith(options), given);
    }
}

INSTANTIATE_TEST_SUITE_P(EverySetting, SettingRoundTripTest, ::testing::ValuesIn(kSettingCases),
                         [](const ::testing::TestParamInfo<SettingCase>& info) {
                             std::string name;
                             for (const char* c = info.param.setting; *c != '\0'; ++c) {
                                 name += *c == '.' ? '_' : *c;
                             }
                             return name;
                         });

// A setting added to the option table without a case here fails.
TEST(SettingRoundTrip, EverySettingHasACase) {
    std::set<std::string> cases;
    for (const SettingCase& setting : kSettingCases) {
        cases.insert(setting.setting);
    }
    const std::vector<std::string> names = SettingNames();
    EXPECT_EQ(cases, std::set<std::string>(names.begin(), names.end()));
}

}  // namespace
