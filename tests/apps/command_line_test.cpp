#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "apps/quillmere/cli/command_line.h"
#include "apps/quillmere/runner_error.h"

namespace {

CommandLine Parse(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "quillmere");
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

std::vector<std::string> Render(std::vector<std::string> options) {
    std::vector<std::string> arguments = {"render", "main.mkv", "-o", "out.mkv"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return arguments;
}

struct ValidCase {
    const char* name;
    std::vector<std::string> arguments;
    std::function<void(const CommandLine&)> check;
};

class ValidCommandLine : public testing::TestWithParam<ValidCase> {};

TEST_P(ValidCommandLine, SetsWhatItSays) {
    const ValidCase& test = GetParam();
    GetParam().check(Parse(test.arguments));
}

const ValidCase kValidCases[] = {
    {"KeysInTheOrderGivenWithFramesTimesAndEasings",
     Render({"--key", "0=10,20,330,200", "--key", "1:02.5=40,50,200,150:in-out", "--key",
             "75=0,0,64,48:out"}),
     [](const CommandLine& line) {
         ASSERT_EQ(line.keys.size(), 3u);
         EXPECT_EQ(line.keys[0].at, FrameOrTime::Frames(0));
         EXPECT_EQ(line.keys[1].at, FrameOrTime::Microseconds(62500000));
         EXPECT_EQ(line.keys[2].at, FrameOrTime::Frames(75));
         EXPECT_EQ(line.keys[0].ease, Ease::Linear);
         EXPECT_EQ(line.keys[1].ease, Ease::InOut);
         EXPECT_EQ(line.keys[2].ease, Ease::Out);
         const MaskKeyRequest& key = line.keys[1];
         EXPECT_EQ((std::vector<int>{key.left, key.top, key.right, key.bottom}),
                   (std::vector<int>{40, 50, 200, 150}));
         EXPECT_FALSE(line.maskGiven);
     }},
    {"DefaultsAreTheDialogsFirstOpening", Render({}),
     [](const CommandLine& line) {
         const FilterData& s = line.settings;
         EXPECT_EQ(line.command, Command::Render);
         EXPECT_EQ(line.input, "main.mkv");
         EXPECT_EQ(line.output, "out.mkv");
         EXPECT_EQ(s.borderOn, 0);
         EXPECT_EQ(s.borderSize, 1);
         EXPECT_EQ(s.borderColor, 0xFFFFFFu);
         EXPECT_EQ(s.shadowOn, 0);
         EXPECT_EQ(s.shadowSize, 20);
         EXPECT_EQ(s.shadowPercent, 45);
         EXPECT_EQ(s.shadowType, 3);
         EXPECT_EQ(s.shadowShift, 7);
         EXPECT_EQ(s.shadowColor, 0u);
         EXPECT_EQ(s.defaultsApplied, 1);
         EXPECT_EQ(s.fitToFrame + s.bilinear + s.repeatVideo + s.reverse + s.maintainBlack +
                       s.useFrameRange + s.frameOffset,
                   0);
         EXPECT_FALSE(line.maskGiven);
         EXPECT_FALSE(line.quiet);
     }},
    {"VersionAlone", {"--version"},
     [](const CommandLine& line) { EXPECT_EQ(line.command, Command::Version); }},
    {"HelpShortAlone", {"-h"},
     [](const CommandLine& line) { EXPECT_EQ(line.command, Command::Help); }},
    {"HelpAfterACommandWithoutItsArguments", {"frame", "--help"},
     [](const CommandLine& line) { EXPECT_EQ(line.command, Command::Help); }},
    {"VersionAfterOptions", Render({"--border", "2", "--version"}),
     [](const CommandLine& line) { EXPECT_EQ(line.command, Command::Version); }},
    {"OverwriteAsksByDefault", Render({}),
     [](const CommandLine& line) { EXPECT_EQ(line.overwrite, OverwritePolicy::Ask); }},
    {"OverwriteYes", Render({"-y"}),
     [](const CommandLine& line) { EXPECT_EQ(line.overwrite, OverwritePolicy::Always); }},
    {"OverwriteNeverLong", Render({"--no-overwrite", "-n"}),
     [](const CommandLine& line) { EXPECT_EQ(line.overwrite, OverwritePolicy::Never); }},
    {"ProgressToStandardOutputEveryTwoSeconds",
     Render({"--progress", "-", "--stats-period", "2.5"}),
     [](const CommandLine& line) {
         EXPECT_EQ(line.progressPath, "-");
         EXPECT_EQ(line.statsPeriod, 2.5);
     }},
    {"FadesAsFramesOrTimesAndRotationKept",
     Render({"--fade-in", "12", "--fade-out", "1.5s", "--keep-rotation"}),
     [](const CommandLine& line) {
         EXPECT_EQ(line.times.fadeIn, FrameOrTime::Frames(12));
         EXPECT_EQ(line.times.fadeOut, FrameOrTime::Microseconds(1500000));
         EXPECT_TRUE(line.keepRotation);
     }},
    {"TurnedUprightByDefault", {"place", "phone.mp4", "-q"},
     [](const CommandLine& line) {
         EXPECT_FALSE(line.keepRotation);
         EXPECT_TRUE(line.quiet);
     }},
    {"MaskCorners", Render({"--mask", "10,20,110,220"}),
     [](const CommandLine& line) {
         EXPECT_TRUE(line.maskGiven);
         EXPECT_EQ(line.settings.maskLeft, 10);
         EXPECT_EQ(line.settings.maskTop, 20);
         EXPECT_EQ(line.settings.maskRight, 110);
         EXPECT_EQ(line.settings.maskBottom, 220);
     }},
    {"MaskWidthAndHeight", Render({"--mask=10,20,w100,h50"}),
     [](const CommandLine& line) {
         EXPECT_EQ(line.settings.maskRight, 110);
         EXPECT_EQ(line.settings.maskBottom, 70);
     }},
    {"MaskHeightBeforeWidthWithBlanks", Render({"--mask", "10 20 h50 w100"}),
     [](const CommandLine& line) {
         EXPECT_EQ(line.settings.maskRight, 110);
         EXPECT_EQ(line.settings.maskBottom, 70);
     }},
    {"MaskNegativeAndUnordered", Render({"--mask", "-5, 0, -30, -40"}),
     [](const CommandLine& line) {
         EXPECT_EQ(line.settings.maskLeft, -5);
         EXPECT_EQ(line.settings.maskRight, -30);
         EXPECT_EQ(line.settings.maskBottom, -40);
     }},
    {"MaskAcrossTheWholeCoordinateRange", Render({"--mask", "-1000000,-1000000,w2000000,h1"}),
     [](const CommandLine& line) {
         EXPECT_EQ(line.settings.maskRight, 1000000);
         EXPECT_EQ(line.settings.maskBottom, -999999);
     }},
    {"MaxPixelsSetsBothLimits", Render({"--max-pixels", "20000", "--strict"}),
     [](const CommandLine& line) {
         EXPECT_EQ(line.pictureLimit.maxPixels, 20000);
         EXPECT_EQ(line.pictureLimit.maxSide, 20000);
         EXPECT_TRUE(line.strict);
     }},
    {"FilterThreads", Render({"--filter-threads", "3"}),
     [](const CommandLine& line) { EXPECT_EQ(line.filterThreads, 3); }},
    {"BorderTurnsOnWithItsSize", Render({"--border", "3", "--border-color", "ff0000"}),
     [](const CommandLine& line) {
         EXPECT_EQ(line.settings.borderOn, 1);
         EXPECT_EQ(line.settings.borderSize, 3);
         EXPECT_EQ(line.settings.borderColor, 0x0000FFu);  // red in the low byte
     }},
    {"BorderZeroIsOff", Render({"--border", "0"}),
     [](const CommandLine& line) { EXPECT_EQ(line.settings.borderOn, 0); }},
    {"ColourWithHashIsBlueGreenRedAsColorref", Render({"--shadow-color", "#123456"}),
     [](const CommandLine& line) { EXPECT_EQ(line.settings.shadowColor, 0x563412u); }},
    {"ShadowByNumber", Render({"--shadow", "0"}),
     [](const CommandLine& line) {
         EXPECT_EQ(line.settings.shadowOn, 1);
         EXPECT_EQ(line.settings.shadowType, 0);
     }},
    {"ShadowByName", Render({"--shadow", "gradient-fixed", "--shadow-size", "12",
                             "--shadow-percent", "100", "--shadow-shift", "-4"}),
     [](const CommandLine& line) {
         EXPECT_EQ(line.settings.shadowType, 4);
         EXPECT_EQ(line.settings.shadowSize, 12);
         EXPECT_EQ(line.settings.shadowPercent, 100);
         EXPECT_EQ(line.settings.shadowShift, -4);
     }},
    {"EveryShadowName", Render({"--shadow", "flat-fixed"}),
     [](const CommandLine& line) { EXPECT_EQ(line.settings.shadowType, 5); }},
    {"RangeWithEnd", Render({"--range", "5-20"}),
     [](const CommandLine& line) {
         EXPECT_EQ(line.settings.useFrameRange, 1);
         EXPECT_EQ(line.settings.rangeStart, 5);
         EXPECT_EQ(line.settings.rangeEnd, 20);
     }},
    {"RangeOpenEnded", Render({"--range", "7"}),
     [](const CommandLine& line) {
         EXPECT_EQ(line.settings.rangeStart, 7);
         EXPECT_EQ(line.settings.rangeEnd, 0);
     }},
    {"Flags", Render({"--fit", "--bilinear", "--repeat", "--reverse", "--maintain-black",
                      "--offset", "-3", "-q", "--no-audio"}),
     [](const CommandLine& line) {
         EXPECT_TRUE(line.noAudio);
         const FilterData& s = line.settings;
         EXPECT_EQ(s.fitToFrame + s.bilinear + s.repeatVideo + s.reverse + s.maintainBlack, 5);
         EXPECT_EQ(s.frameOffset, -3);
         EXPECT_TRUE(line.quiet);
     }},
    {"OverlayScriptAndOptionsBeforeMain",
     {"render", "--overlay", "o.avi", "--script", "s.txt", "main.avi", "--output", "x.mp4"},
     [](const CommandLine& line) {
         EXPECT_EQ(line.input, "main.avi");
         EXPECT_EQ(line.overlayPath, "o.avi");
         EXPECT_EQ(line.scriptPath, "s.txt");
         EXPECT_EQ(line.output, "x.mp4");
     }},
    {"NullFormatNeedsNoOutput", {"render", "main.mkv", "--format", "null"},
     [](const CommandLine& line) { EXPECT_EQ(line.format, "null"); }},
    {"Frame", {"frame", "main.mkv", "--at", "12", "-o", "dir.x/f.PNG", "--fit"},
     [](const CommandLine& line) {
         EXPECT_EQ(line.command, Command::Frame);
         EXPECT_EQ(line.frameAt, 12);
         EXPECT_EQ(line.settings.fitToFrame, 1);
     }},
    {"DemoDefaultFolder", {"demo"},
     [](const CommandLine& line) {
         EXPECT_EQ(line.command, Command::Demo);
         EXPECT_EQ(line.output, "");
     }},
    {"DemoFolder", {"demo", "-o", "somewhere", "--quiet"},
     [](const CommandLine& line) {
         EXPECT_EQ(line.output, "somewhere");
         EXPECT_TRUE(line.quiet);
     }},
    {"DashDashEndsOptions", {"render", "-o", "out.mkv", "--", "-odd-name.mkv"},
     [](const CommandLine& line) { EXPECT_EQ(line.input, "-odd-name.mkv"); }},
    {"Help", {"--help"},
     [](const CommandLine& line) { EXPECT_EQ(line.command, Command::Help); }},
    {"HelpAfterCommand", {"render", "--help"},
     [](const CommandLine& line) { EXPECT_EQ(line.command, Command::Help); }},
};

INSTANTIATE_TEST_SUITE_P(Options, ValidCommandLine, testing::ValuesIn(kValidCases),
                         [](const testing::TestParamInfo<ValidCase>& info) {
                             return info.param.name;
                         });

struct InvalidCase {
    const char* name;
    std::vector<std::string> arguments;
    const char* messagePart;  // what the one-line report must say
};

class InvalidCommandLine : public testing::TestWithParam<InvalidCase> {};

TEST_P(InvalidCommandLine, IsRejectedWithAClearMessage) {
    const InvalidCase& test = GetParam();
    try {
        Parse(test.arguments);
        FAIL() << "accepted";
    } catch (const UsageError& error) {
        EXPECT_NE(std::string(error.what()).find(test.messagePart), std::string::npos)
            << error.what();
        EXPECT_EQ(std::string(error.what()).find('\n'), std::string::npos);
    }
}

const InvalidCase kInvalidCases[] = {
    {"NoCommand", {}, "no command"},
    {"UnknownCommand", {"paint"}, "unknown command 'paint'"},
    {"UnknownOption", Render({"--sparkle"}), "unknown option '--sparkle'"},
    {"MaskThreeItems", Render({"--mask", "1,2,3"}), "invalid value '1,2,3' for --mask"},
    {"MaskEmptyItem", Render({"--mask", "1,,3,4"}), "--mask"},
    {"MaskWord", Render({"--mask", "1,2,x,4"}), "--mask"},
    {"MaskUpperCaseWidth", Render({"--mask", "1,2,W10,4"}), "--mask"},
    {"MaskNoRightEdge", Render({"--mask", "1,2,h10,4"}), "right edge"},
    {"MaskZeroWidth", Render({"--mask", "1,2,w0,h4"}), "at least 1"},
    {"MaskHuge", Render({"--mask", "0,0,3000000000,4"}), "--mask"},
    {"MaskFarOut", Render({"--mask", "0,0,2000000,4"}), "within"},
    // Numbers whose sums would pass 64 bits are refused before any sum.
    {"MaskLeftAtInt64Max", Render({"--mask", "9223372036854775807,0,w2,h1"}), "within"},
    {"MaskTopAtInt64Max", Render({"--mask", "0,9223372036854775807,w1,h2"}), "within"},
    {"MaskLeftAtInt64Min", Render({"--mask", "-9223372036854775808,0,w1,h1"}), "within"},
    {"MaskWidthAtInt64Max", Render({"--mask", "0,0,w9223372036854775807,h1"}), "within"},
    {"MaskHeightAtInt64Max", Render({"--mask", "-5,-5,w1,h9223372036854775807"}), "within"},
    {"MaskPastInt64", Render({"--mask", "0,0,99999999999999999999,1"}), "--mask"},
    {"MaskJustPastTheLimit", Render({"--mask", "-1000000,0,w2000001,h1"}), "within"},
    // Values are echoed with their control characters escaped: one line.
    {"OptionWithLineBreak", Render({"--sparkle\nand more"}), "'--sparkle\\nand more'"},
    {"ValueWithControls", Render({"--shadow", "a\tb\x01\x7f"}), "'a\\tb\\x01\\x7f'"},
    {"CommandWithCarriageReturn", {"paint\r"}, "unknown command 'paint\\r'"},
    {"MaxPixelsZero", Render({"--max-pixels", "0"}), "an integer from 1 to 2147483647"},
    {"ShadowNine", Render({"--shadow", "9"}), "invalid value '9' for --shadow"},
    {"ShadowUnknownName", Render({"--shadow", "fuzzy"}), "gradient-random-fixed"},
    {"BorderColourUnknownName", Render({"--border-color", "reddish"}),
     "invalid value 'reddish' for --border-color"},
    {"ColourTooShort", Render({"--shadow-color", "fff"}), "RRGGBB"},
    {"ColourSigned", Render({"--shadow-color", "-12345"}), "RRGGBB"},
    {"BorderNegative", Render({"--border", "-1"}), "--border"},
    {"BorderNotANumber", Render({"--border", "2px"}), "an integer"},
    {"PercentOver100", Render({"--shadow-percent", "101"}), "from 0 to 100"},
    {"RangeBackwards", Render({"--range", "20-5"}), "--range"},
    {"RangeEndingAtZero", Render({"--range", "0-0"}), "--range"},
    {"RangeNegative", Render({"--range", "-3"}), "--range"},
    {"OffsetOverflow", Render({"--offset", "99999999999"}), "--offset"},
    {"MissingValue", Render({"--border"}), "needs a value"},
    {"FlagWithValue", Render({"--fit=yes"}), "takes no value"},
    {"MaskAndScript", Render({"--mask", "1,2,3,4", "--script", "s"}), "give one of them"},
    {"RenderWithoutOutput", {"render", "main.mkv"}, "-o OUT"},
    {"RenderWithoutMain", {"render", "-o", "x.mkv"}, "MAIN"},
    {"TwoMains", {"render", "a.mkv", "b.mkv", "-o", "x.mkv"}, "unexpected argument 'b.mkv'"},
    {"FrameWithoutAt", {"frame", "main.mkv", "-o", "f.png"}, "--at"},
    {"FrameNegativeAt", {"frame", "main.mkv", "--at", "-1", "-o", "f.png"}, "--at"},
    {"FrameNotPng", {"frame", "main.mkv", "--at", "1", "-o", "f.jpg"}, "name the output OUT.png"},
    {"OptionOfAnotherCommand", {"demo", "--mask", "1,2,3,4"}, "does not apply to demo"},
    {"AtOnRender", Render({"--at", "3"}), "does not apply to render"},
    {"YesAndNo", Render({"-y", "-n"}), "-y and -n contradict each other"},
    {"StatsPeriodZero", Render({"--stats-period", "0"}), "--stats-period"},
    {"StatsPeriodWord", Render({"--stats-period", "soon"}), "expected seconds"},
    {"StatsPeriodNotANumber", Render({"--stats-period", "nan"}), "expected seconds"},
    {"ProgressOnFrame", {"frame", "m.mkv", "--at", "1", "-o", "f.png", "--progress", "-"},
     "does not apply to frame"},
    {"AtMalformedTime", {"frame", "main.mkv", "--at", "1:75", "-o", "f.png"}, "a time (12.5s"},
    // Found by fuzzing: a control character in a time came back unescaped.
    {"AtWithControlCharacter", {"frame", "main.mkv", "--at", "3main.mk\x1ev", "-o", "f.png"},
     "'3main.mk\\x1ev'"},
    {"RangeMalformedTime", Render({"--range", "1s-x"}), "--range"},
    {"OffsetMalformedTime", Render({"--offset", "1.5m"}), "--offset"},
    {"TimingUnknown", Render({"--overlay-timing", "slow"}), "one of time, frames"},
    {"AlphaUnknown", Render({"--alpha", "on"}), "one of straight, premultiplied, ignore"},
    {"OpacityOver100", Render({"--opacity", "101"}), "from 0 to 100"},
    {"FilterThreadsNegative", Render({"--filter-threads", "-1"}), "from 0 to 64"},
    {"FadeInWord", Render({"--fade-in", "soon"}), "invalid value 'soon' for --fade-in"},
    {"FadeOutNegative", Render({"--fade-out", "-1s"}), "--fade-out"},
    {"FadeOnPlace", {"place", "main.mkv", "--fade-in", "5"}, "does not apply to place"},
    {"KeepRotationOnDemo", {"demo", "--keep-rotation"}, "does not apply to demo"},
    {"ScalerUnknown", Render({"--scaler", "sinc"}), "nearest, bilinear, area, bicubic, lanczos"},
    {"PositionUnknown", Render({"--position", "middle"}), "bottom-right"},
    {"PlaceWithoutMain", {"place"}, "MAIN"},
    {"PlaceTakesNoMask", {"place", "main.mkv", "--mask", "1,2,3,4"}, "does not apply to place"},
    {"SizeAndMask", Render({"--size", "50%", "--mask", "1,2,3,4"}), "give one of them"},
    {"MaskAndKey", Render({"--key", "0=1,2,30,40", "--mask", "1,2,30,40"}),
     "--mask and --key both set the mask; give one of them"},
    {"PositionAndKey", Render({"--key", "0=1,2,30,40", "--position", "top"}),
     "--key sets the mask too"},
    {"KeyWithoutItsFrame", Render({"--key", "1,2,30,40"}), "expected AT=MASK[:EASE]"},
    {"KeyEaseUnknown", Render({"--key", "0=1,2,30,40:bounce"}),
     "expected one of linear, in, out, in-out"},
    {"KeyMaskInsideOut", Render({"--key", "0=30,2,1,40"}), "right corner past its left"},
    {"KeyMalformedTime", Render({"--key", "1:75=1,2,30,40"}), "a time (12.5s"},
    {"KeyOnPlace", {"place", "main.mkv", "--key", "0=1,2,3,4"}, "does not apply to place"},
};

INSTANTIATE_TEST_SUITE_P(Options, InvalidCommandLine, testing::ValuesIn(kInvalidCases),
                         [](const testing::TestParamInfo<InvalidCase>& info) {
                             return info.param.name;
                         });

// Every command, with and without its arguments, stops at --help or --version.
TEST(HelpAndVersion, EveryCommandTakesThem) {
    const std::vector<std::vector<std::string>> commands = {
        {"render"}, {"render", "main.mkv"}, {"frame", "main.mkv"}, {"demo"},
        {"edit", "main.mkv"}, {"place"}, {"place", "main.mp4"}, {"segments"},
        {"segments", "main.mkv", "4"}, {"join"}, {"join", "a.mkv", "b.mkv"},
    };
    for (const std::vector<std::string>& command : commands) {
        for (const auto& [option, expected] :
             {std::pair{"--help", Command::Help}, std::pair{"--version", Command::Version}}) {
            std::vector<std::string> arguments = command;
            arguments.push_back(option);
            EXPECT_EQ(Parse(arguments).command, expected) << command.front() << " " << option;
        }
    }
}

TEST(HelpText, DocumentsEveryOptionAndStyleName) {
    const std::string help = HelpText();
    for (const char* word : {"--mask", "--border N", "--shadow STYLE", "--script", "--range",
                             "--format", "gradient-random-fixed", "flat-fixed", "demo"}) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
    }
}

}  // namespace
