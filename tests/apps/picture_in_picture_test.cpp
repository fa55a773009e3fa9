// Whole runs of the program for picture-in-picture as users set it up:
// placement by anchor and size, and the masks that draw nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "apps/quillmere/cli/command_line.h"
#include "tests/apps/runner_harness.h"

namespace {

class PictureInPicture : public testing::Test {
protected:
    static void SetUpTestSuite() { TestClips(); }

    // Renders main.mkv with `options` into a file of the test's folder and
    // decodes it.
    std::vector<Picture> Render(const std::string& name, const std::vector<std::string>& options) {
        std::vector<std::string> arguments = {"render", Clip("main.mkv"), "-o", out_ / name,
                                              "--quiet"};
        const std::vector<std::string> withClips = WithClips(options);
        arguments.insert(arguments.end(), withClips.begin(), withClips.end());
        const RunResult run = RunQuillmere(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.errorText;
        return DecodeAll(out_ / name);
    }

    void ExpectSameFrames(const std::vector<Picture>& a, const std::vector<Picture>& b) {
        ASSERT_EQ(a.size(), b.size());
        ASSERT_FALSE(a.empty());
        for (std::size_t frame = 0; frame < a.size(); ++frame) {
            std::string where;
            EXPECT_TRUE(SameColors(a[frame], b[frame], where)) << "frame " << frame << ": " << where;
        }
    }

    ScratchFolder out_;
};

// The 64 x 48 overlay (4:3) on the 160 x 120 main by default: a third of the
// width is 53.3 -> 53, its height 53 * 3 / 4 = 39.75 -> 40, the margin 2% of
// 160 = 3.2 -> 3: at 160 - 3 - 53 = 104, 120 - 3 - 40 = 77.
TEST_F(PictureInPicture, DefaultPlacementIsBottomRightAThirdWide) {
    const auto placed = Render("default.mkv", {"--overlay", "OVERLAY"});
    const auto byCorners =
        Render("corners.mkv", {"--overlay", "OVERLAY", "--mask", "104,77,157,117", "--fit"});
    ExpectSameFrames(placed, byCorners);
    // Not the main passed through unchanged: the overlay is there.
    const auto plain = DecodeAll(Clip("main.mkv"));
    std::string where;
    EXPECT_FALSE(SameColors(placed.front(), plain.front(), where));
}

TEST_F(PictureInPicture, WithoutOverlayThePlaceholderTakesTheMainsShape) {
    // A third of 160 = 53, 53 * 120 / 160 = 39.75 -> 40: the same box.
    ExpectSameFrames(Render("placeholder.mkv", {"--border", "1"}),
                     Render("corners.mkv", {"--mask", "104,77,157,117", "--border", "1"}));
}

TEST_F(PictureInPicture, PlaceOutputRoundTripsThroughTheScript) {
    const RunResult place = RunQuillmere({"place", Clip("main.mkv"), "--overlay", Clip("overlay.avi"),
                                          "--position", "top", "--size", "40%", "--margin", "5"});
    ASSERT_EQ(place.exitCode, 0) << place.errorText;
    // 40% of 160 = 64 wide, 48 high; centred: (160 - 64) / 2 = 48, 5 down.
    EXPECT_NE(place.outputText.find("mask 48,5,112,53"), std::string::npos) << place.outputText;
    std::smatch config;
    ASSERT_TRUE(std::regex_search(place.outputText, config, std::regex("Config\\([-0-9,]+\\)")))
        << place.outputText;
    std::ofstream(out_ / "placed.script") << config.str() << "\n";

    const auto placed = Render("placed.mkv", {"--overlay", "OVERLAY", "--position", "top",
                                              "--size", "40%", "--margin", "5"});
    const auto scripted =
        Render("scripted.mkv", {"--overlay", "OVERLAY", "--script", out_ / "placed.script", "--fit"});
    ExpectSameFrames(placed, scripted);
}

struct RefusedCase {
    const char* name;
    std::vector<std::string> options;
    const char* message;  // a part of the one line on stderr
};

class RefusedPlacement : public PictureInPicture,
                         public testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedPlacement, IsAUsageErrorThatSaysWhy) {
    std::vector<std::string> arguments = {"render", Clip("main.mkv"), "-o", out_ / "out.mkv"};
    std::vector<std::string> options = GetParam().options;
    for (std::string& option : options) {
        if (option == "SCRIPT") {
            option = out_ / "inverted.script";
            std::ofstream(option) << "Config(100,50,20,90)\n";
        }
    }
    options = WithClips(options);
    arguments.insert(arguments.end(), options.begin(), options.end());
    const RunResult run = RunQuillmere(arguments);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.errorText.find(GetParam().message), std::string::npos) << run.errorText;
    EXPECT_EQ(std::count(run.errorText.begin(), run.errorText.end(), '\n'), 1) << run.errorText;
    // Nothing is written, not even in part.
    for (const std::string& file : out_.Files()) {
        EXPECT_EQ(file, "inverted.script");
    }
}

const RefusedCase kRefusedCases[] = {
    {"MaskWithPosition", {"--overlay", "OVERLAY", "--mask", "0,0,10,10", "--position", "top"},
     "give one of them"},
    {"ScriptWithSize", {"--overlay", "OVERLAY", "--script", "SCRIPT", "--size", "50%"},
     "give one of them"},
    {"EmptyMask", {"--overlay", "OVERLAY", "--mask", "10,10,10,50"}, "it is empty"},
    {"InvertedMask", {"--overlay", "OVERLAY", "--mask", "50,10,10,50"}, "it is inverted"},
    {"MaskOffTheFrame", {"--overlay", "OVERLAY", "--mask", "200,10,w20,h20"},
     "wholly outside the 160x120 frame"},
    {"PlacementOffTheFrame", {"--overlay", "OVERLAY", "--position", "left", "--margin", "400"},
     "wholly outside"},
    {"InvertedScript", {"--overlay", "OVERLAY", "--script", "SCRIPT"}, "it is inverted"},
    {"NoMaskNoOverlayPlacedOff", {"--position", "top", "--margin", "200"}, "wholly outside"},
};

INSTANTIATE_TEST_SUITE_P(Table, RefusedPlacement, testing::ValuesIn(kRefusedCases),
                         [](const testing::TestParamInfo<RefusedCase>& info) {
                             return info.param.name;
                         });

// A typed size is the size drawn: "--mask L,T,wW,hH" changes exactly W x H
// pixels of a plain main, from (L, T), and place, asked for that size at
// that corner, gives the same corners and names that size.
struct DrawnSizeCase {
    const char* name;
    int corner;  // left and top alike, so that place can put it there
    int width;
    int height;
    bool fit;  // stretched rather than copied 1:1 (the overlay is 64 x 48)
};

class DrawnSize : public PictureInPicture, public testing::WithParamInterface<DrawnSizeCase> {
protected:
    // Solid colours in RGB, so that no edge is blurred by subsampled chroma.
    static std::string SolidClip(const std::string& path, const char* colour, int width,
                                 int height) {
        RunFfmpeg("-f lavfi -i color=c=" + std::string(colour) + ":s=" + std::to_string(width) +
                  "x" + std::to_string(height) + ":r=25:d=0.2 -c:v ffv1 -pix_fmt bgr0 '" + path +
                  "'");
        return path;
    }
};

TEST_P(DrawnSize, TypedSizeIsDrawnAndPlaceAgrees) {
    const DrawnSizeCase& test = GetParam();
    const std::string main = SolidClip(out_ / "main.mkv", "navy", kMainWidth, kMainHeight);
    const std::string overlay =
        SolidClip(out_ / "overlay.mkv", "yellow", kOverlayWidth, kOverlayHeight);
    const std::string corner = std::to_string(test.corner);
    const std::string mask = corner + "," + corner + ",w" + std::to_string(test.width) + ",h" +
                             std::to_string(test.height);
    std::vector<std::string> arguments = {"frame", main,   "--at",   "0",   "-o",
                                          out_ / "drawn.png", "--quiet", "--overlay", overlay,
                                          "--mask", mask};
    if (test.fit) {
        arguments.push_back("--fit");
    }
    const RunResult run = RunQuillmere(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    const std::vector<Picture> drawn = DecodeAll(out_ / "drawn.png");
    const std::vector<Picture> plain = DecodeAll(main);
    ASSERT_FALSE(drawn.empty());
    ASSERT_FALSE(plain.empty());
    long changed = 0;
    int left = kMainWidth, top = kMainHeight, right = -1, bottom = -1;
    for (int y = 0; y < kMainHeight; ++y) {
        for (int x = 0; x < kMainWidth; ++x) {
            if (std::memcmp(drawn[0].row(y) + 4 * x, plain[0].row(y) + 4 * x, 3) != 0) {
                ++changed;
                left = std::min(left, x);
                top = std::min(top, y);
                right = std::max(right, x);
                bottom = std::max(bottom, y);
            }
        }
    }
    EXPECT_EQ(changed, long{test.width} * test.height);
    EXPECT_EQ(left, test.corner);
    EXPECT_EQ(top, test.corner);
    EXPECT_EQ(right - left + 1, test.width);
    EXPECT_EQ(bottom - top + 1, test.height);

    const std::string size = std::to_string(test.width) + "x" + std::to_string(test.height);
    const RunResult place = RunQuillmere({"place", main, "--overlay", overlay, "--position",
                                          "top-left", "--margin", corner, "--size", size});
    ASSERT_EQ(place.exitCode, 0) << place.errorText;
    const std::string corners = corner + "," + corner + "," +
                                std::to_string(test.corner + test.width) + "," +
                                std::to_string(test.corner + test.height);
    EXPECT_NE(place.outputText.find("mask " + corners + ": the overlay " + size + " at"),
              std::string::npos)
        << place.outputText;
}

const DrawnSizeCase kDrawnSizeCases[] = {
    {"CopiedOneToOne", 6, 40, 30, false},
    {"Stretched", 20, 100, 75, true},
    {"OnePixel", 0, 1, 1, true},
    {"TheWholeFrame", 0, kMainWidth, kMainHeight, true},
};

INSTANTIATE_TEST_SUITE_P(Table, DrawnSize, testing::ValuesIn(kDrawnSizeCases),
                         [](const testing::TestParamInfo<DrawnSizeCase>& info) {
                             return info.param.name;
                         });

TEST(PlacementHelp, StatesTheDefault) {
    const std::string help = HelpText();
    // The words as one line, wherever the help wraps them.
    std::string words;
    for (char c : help) {
        if (c == '\n') {
            c = ' ';
        }
        if (c != ' ' || words.empty() || words.back() != ' ') {
            words += c;
        }
    }
    EXPECT_NE(words.find("goes bottom-right, a third of the main's width"), std::string::npos);
    for (const char* option : {"--position", "--margin", "--size", "--overlay-timing", "--alpha",
                               "--opacity", "--scaler"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}

}  // namespace
