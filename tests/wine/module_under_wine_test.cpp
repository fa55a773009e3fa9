// The real 32-bit module under Wine, loaded by our Windows test host:
// registration, the configuration dialog from resource 101, the mask editor
// on a real preview window, and processing passes with real overlay AVIs
// decoded by the platform's AVI file library.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bmp_image.h"
#include "wine_session.h"

namespace {

#define REQUIRE_WINE(session)                                                        \
    WineSession* session = WineSession::Get();                                       \
    if (session == nullptr) {                                                        \
        GTEST_SKIP() << "needs the win32 build (cmake --preset win32), wine and Xvfb"; \
    }

TEST(ModuleUnderWine, RegistersItsFilterWithTheHost) {
    REQUIRE_WINE(wine);
    const HostResult result = wine->RunHost({"register"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.Value("init-result"), 0);
    EXPECT_EQ(result.Value("version"), 8);
    EXPECT_EQ(result.Value("compatible"), 4);
    EXPECT_EQ(result.values.at("name"), "Quillmere - Beta");
    EXPECT_EQ(result.values.at("description"), "Overlay videos");
    EXPECT_EQ(result.values.at("maker"), "Quillmere project");
    EXPECT_EQ(result.Value("inst-data-size"), 440);
    EXPECT_EQ(result.Value("module-matches"), 1);
    EXPECT_EQ(result.Value("config-proc"), 1);
    EXPECT_EQ(result.Value("run-proc"), 1);
    EXPECT_EQ(result.Value("script"), 1);
    EXPECT_EQ(result.Value("registered-after-deinit"), 0);
}

TEST(ModuleUnderWine, RefusedRegistrationLeavesTheHostsValues) {
    REQUIRE_WINE(wine);
    const HostResult result = wine->RunHost({"register", "--refuse"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.Value("init-result"), 1);
    EXPECT_EQ(result.Value("version"), -7);
    EXPECT_EQ(result.Value("compatible"), -7);
    EXPECT_EQ(result.Value("add-requests"), 1);
    EXPECT_EQ(result.Value("table-requests"), 0);
    // Unloading after a refusal hands the host nothing to remove.
    EXPECT_EQ(result.Value("removals"), 0);
}

// The dialog, driven through the test host on a 320 x 240 picture; `steps`
// end with the button that closes the dialog.
HostResult RunDialog(WineSession& wine, std::vector<std::string> steps,
                     std::vector<std::string> options = {}) {
    std::vector<std::string> arguments = {"run", "--size", "320x240"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.insert(arguments.end(), steps.begin(), steps.end());
    return wine.RunHost(arguments);
}

std::vector<std::string> StateSteps(std::initializer_list<int> controls) {
    std::vector<std::string> steps;
    for (int control : controls) {
        steps.push_back("state:" + std::to_string(control));
    }
    return steps;
}

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(DialogUnderWine, FirstOpeningShowsTheDefaultsAndOpensThePreview) {
    REQUIRE_WINE(wine);
    const HostResult result = RunDialog(
        *wine, Concat({StateSteps({1003, 1005, 1011, 1015, 1017, 1021, 1022, 1031, 1032, 1033,
                                   1034, 1035, 1007, 1008, 1009, 1010, 1024, 1027, 1028}),
                       {"ok"}}));
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.Value("config-result"), 0);
    EXPECT_EQ(result.Value("open-notices"), 1);

    EXPECT_EQ(result.Field("defaultsApplied"), 1);
    EXPECT_EQ(result.Field("borderColor"), 0xFFFFFF);
    EXPECT_EQ(result.Field("borderSize"), 1);
    EXPECT_EQ(result.Field("shadowSize"), 20);
    EXPECT_EQ(result.Field("shadowPercent"), 45);
    EXPECT_EQ(result.Field("shadowType"), 3);
    EXPECT_EQ(result.Field("shadowShift"), 7);
    EXPECT_EQ(result.Field("shadowColor"), 0);
    EXPECT_EQ(result.Field("moveMode"), 0);
    // The preview ran the parameter procedure on the host's picture.
    EXPECT_EQ(result.Field("frameWidth"), 320);
    EXPECT_EQ(result.Field("frameHeight"), 240);

    struct ExpectedState {
        int control;
        const char* key;
        const char* value;
    };
    const ExpectedState expected[] = {
        {1003, "checked", "1"},
        {1005, "checked", "0"},
        {1011, "text", "Left click and drag in the preview window to draw the mask."},
        {1015, "text", "0 0 0 0"},
        {1017, "readonly", "1"},
        {1021, "readonly", "1"},
        {1021, "enabled", "1"},
        {1021, "text", "1"},
        {1022, "enabled", "0"},
        {1031, "readonly", "1"},
        {1031, "text", "20"},
        {1032, "readonly", "1"},
        {1032, "text", "45"},
        {1033, "enabled", "0"},
        {1033, "selection", "3"},
        {1033, "text", "Gradient, rand. var., fixed shift"},
        {1034, "readonly", "1"},
        {1034, "text", "7"},
        {1035, "enabled", "0"},
        {1007, "text", "0"},
        {1008, "text", "0"},
        {1009, "text", "0"},
        {1010, "text", "0"},
        {1024, "text", "1 x 1"},
        {1027, "text", "0"},
        {1028, "text", "0 x 0"},
    };
    for (const ExpectedState& state : expected) {
        EXPECT_EQ(result.State(state.control, state.key), state.value)
            << "control " << state.control << " " << state.key;
    }
}

// What the user types and clicks, key by key and click by click, and where
// it lands in the record. Read-only fields ignore typing; the enabling rules
// follow every tick.
TEST(DialogUnderWine, TypedValuesAndTicksReachTheRecord) {
    REQUIRE_WINE(wine);
    const HostResult result = RunDialog(
        *wine, {"type:1031=99",  // read-only while Shadow is off
                "click:1030",  "state:1031", "state:1033", "state:1034", "state:1035",
                "select:1033=1", "state:1034",
                "type:1031=12abc", "type:1032=abc", "type:1025=-3", "type:1034=-40",
                "click:1020", "state:1021", "state:1022", "type:1021=5",
                "click:1016", "type:1017=10 20",
                "click:1018", "click:1019", "click:1023", "click:1026", "click:1029",
                "click:1006", "type:1015=10 20 w100 h50", "state:1024", "ok"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.Value("config-result"), 0);

    EXPECT_EQ(result.State(1031, "readonly"), "0");
    EXPECT_EQ(result.State(1033, "enabled"), "1");
    EXPECT_EQ(result.State(1035, "enabled"), "1");
    // Style 1 has no fixed shift: the field went read-only when it was picked.
    EXPECT_EQ(result.State(1034, "readonly"), "1");
    EXPECT_EQ(result.State(1021, "readonly"), "0");
    EXPECT_EQ(result.State(1022, "enabled"), "1");
    EXPECT_EQ(result.State(1024, "text"), "100 x 50");

    const std::pair<const char*, long> fields[] = {
        {"shadowOn", 1},       {"shadowSize", 12},    {"shadowPercent", 45},
        {"shadowType", 1},     {"shadowShift", 7},    {"frameOffset", -3},
        {"borderOn", 1},       {"borderSize", 5},     {"useFrameRange", 1},
        {"rangeStart", 10},    {"rangeEnd", 20},      {"repeatVideo", 1},
        {"maintainBlack", 1},  {"keepAspect", 1},     {"reverse", 1},
        {"bilinear", 1},       {"fitToFrame", 1},     {"maskLeft", 10},
        {"maskTop", 20},       {"maskRight", 109},    {"maskBottom", 69},
    };
    for (const auto& [name, value] : fields) {
        EXPECT_EQ(result.Field(name), value) << name;
    }
    EXPECT_GT(result.Value("redraws"), 10);
}

// Cancel, the close box and Escape end the dialog with 1 and keep what was
// changed: the record is edited live.
class DialogEndingTest : public ::testing::TestWithParam<const char*> {};

TEST_P(DialogEndingTest, EndsWithOneAndKeepsTheChanges) {
    REQUIRE_WINE(wine);
    const HostResult result =
        RunDialog(*wine, {"click:1020", "type:1021=7", "click:1005", GetParam()});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.Value("config-result"), 1);
    EXPECT_EQ(result.Field("borderOn"), 1);
    EXPECT_EQ(result.Field("borderSize"), 7);
    EXPECT_EQ(result.Field("moveMode"), 1);
    EXPECT_EQ(result.Value("close-notices"), 1);
}

INSTANTIATE_TEST_SUITE_P(Buttons, DialogEndingTest, ::testing::Values("cancel", "close", "escape"));

TEST(DialogUnderWine, WorksWithoutAPreview) {
    REQUIRE_WINE(wine);
    const HostResult result =
        RunDialog(*wine, {"click:1002", "type:1031=8", "click:1030", "type:1031=9", "ok"},
                  {"--no-preview"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.Value("config-result"), 0);
    EXPECT_EQ(result.Value("open-notices"), 0);
    EXPECT_EQ(result.Value("redraws"), 0);
    EXPECT_EQ(result.Field("shadowSize"), 9);
}

TEST(DialogUnderWine, ChoosersConfirmedAndCancelled) {
    REQUIRE_WINE(wine);
    const HostResult result = RunDialog(
        *wine, {"click:1020", "click:1022", "color:255,0,0", "click:1030", "click:1035",
                "chooser-cancel", "click:1013", "chooser-cancel", "state:1012", "ok"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.Field("borderColor"), 0x0000FF);  // pure red as a COLORREF
    EXPECT_EQ(result.Field("shadowColor"), 0);
    EXPECT_EQ(result.Field("overlayOpen"), 0);
    EXPECT_EQ(result.State(1012, "text"), "");
}

// A chosen file that is no video: its path is shown and kept, nothing opens,
// and the overlay's length and size keep what they showed.
TEST(DialogUnderWine, ChosenFileThatIsNoVideo) {
    REQUIRE_WINE(wine);
    const std::string folder = WineSession::ScratchFolder("not-a-video");
    const std::string path = folder + "/notes.avi";
    std::ofstream(path) << "these are notes, not frames\n";
    const HostResult result =
        RunDialog(*wine, {"click:1013", "file:" + WineSession::WindowsPath(path), "state:1012",
                          "state:1027", "state:1028", "ok"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.Field("overlayOpen"), 0);
    EXPECT_EQ(result.State(1012, "text"), WineSession::WindowsPath(path));
    EXPECT_EQ(result.State(1027, "text"), "0");
    EXPECT_EQ(result.State(1028, "text"), "0 x 0");
    EXPECT_NE(result.output.find("record overlayPath=" + WineSession::WindowsPath(path)),
              std::string::npos);
}

// The mask editor on the real preview window: left-button messages posted
// to "Filter Preview" (client points; the picture starts at 4, 4).
TEST(MaskEditorUnderWine, DrawDragAndReleaseWriteTheMaskField) {
    REQUIRE_WINE(wine);
    const std::string folder = WineSession::ScratchFolder("mask-draw");
    const std::string dragFrame = folder + "/drag.bmp";
    const std::string shownFrame = folder + "/shown.bmp";
    const std::string screen = folder + "/screen.bmp";
    const HostResult result = RunDialog(
        *wine, {"down:104,84", "move:74,54", "move:44,24",
                "save:" + WineSession::WindowsPath(dragFrame), "state:1007", "state:1009",
                "state:1024", "state:1015", "up:44,24", "state:1015", "state:1008", "state:1010",
                "save:" + WineSession::WindowsPath(shownFrame),
                "capture:" + WineSession::WindowsPath(screen), "ok"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.Field("maskLeft"), 40);
    EXPECT_EQ(result.Field("maskTop"), 20);
    EXPECT_EQ(result.Field("maskRight"), 100);
    EXPECT_EQ(result.Field("maskBottom"), 80);
    EXPECT_EQ(result.Field("editing"), 0);
    EXPECT_EQ(result.State(1015, "text"), "40 20 100 80");
    EXPECT_EQ(result.State(1007, "text"), "20");
    EXPECT_EQ(result.State(1009, "text"), "40");
    EXPECT_EQ(result.State(1008, "text"), "100");
    EXPECT_EQ(result.State(1010, "text"), "80");
    EXPECT_EQ(result.State(1024, "text"), "61 x 61");

    // While the drag went on, the preview showed the picture with a white
    // outline of the mask and nothing else.
    const BmpImage frame(dragFrame);
    ASSERT_EQ(frame.width(), 320);
    for (auto [x, y] : {std::pair{70, 20}, {70, 21}, {40, 50}, {100, 50}, {70, 80}}) {
        const Rgb pixel = frame.At(x, y);
        EXPECT_EQ(pixel.red + pixel.green + pixel.blue, 3 * 255) << x << "," << y;
    }
    const Rgb inside = frame.At(70, 50);
    EXPECT_LT(inside.red + inside.green + inside.blue, 3 * 255);

    // After the release the window shows the filter's full output with its
    // top-left pixel at client point (4, 4), where the editor expects it.
    const BmpImage shown(shownFrame);
    const BmpImage onScreen(screen);
    ASSERT_EQ(onScreen.width(), 320 + 8);
    ASSERT_EQ(onScreen.height(), 240 + 8);
    for (auto [x, y] : {std::pair{0, 0}, {319, 0}, {0, 239}, {319, 239}, {70, 50}, {41, 21}}) {
        const Rgb wanted = shown.At(x, y);
        const Rgb actual = onScreen.At(x + 4, y + 4);
        EXPECT_EQ(actual.red, wanted.red) << x << "," << y;
        EXPECT_EQ(actual.green, wanted.green) << x << "," << y;
        EXPECT_EQ(actual.blue, wanted.blue) << x << "," << y;
    }
    const Rgb margin = onScreen.At(2, 2);
    const Rgb corner = shown.At(0, 0);
    EXPECT_FALSE(margin.red == corner.red && margin.green == corner.green &&
                 margin.blue == corner.blue)
        << "the picture must start at (4, 4), not before";
}

TEST(MaskEditorUnderWine, MoveModeShiftsTheMaskAndClampsAtRelease) {
    REQUIRE_WINE(wine);
    const HostResult result = RunDialog(
        *wine, {"click:1005", "type:1015=40 40 100 100", "down:54,54", "move:64,49",
                "state:1015", "up:64,49", "state:1015", "down:70,60", "move:0,40", "up:0,40",
                "state:1015", "ok"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.Field("moveMode"), 1);
    // The second drag moved the mask 70 to the left, past the edge; the
    // release cut it back to the picture.
    EXPECT_EQ(result.Field("maskLeft"), 0);
    EXPECT_EQ(result.Field("maskTop"), 15);
    EXPECT_EQ(result.Field("maskRight"), 40);
    EXPECT_EQ(result.Field("maskBottom"), 75);
    EXPECT_EQ(result.State(1015, "text"), "0 15 40 75");
}

TEST(MaskEditorUnderWine, PreviewButtonClosesAndReopensTheHookedWindow) {
    REQUIRE_WINE(wine);
    const HostResult result = RunDialog(
        *wine, {"click:1002", "sleep:100", "click:1002", "down:14,14", "move:34,44",
                "up:34,44", "state:1015", "ok"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.Value("open-notices"), 2);
    EXPECT_EQ(result.Value("close-notices"), 2);
    EXPECT_EQ(result.State(1015, "text"), "10 10 30 40");
}

// A processing pass through the real module: the overlay is chosen with the
// dialog's "..." button and the platform's file chooser, decoded by the
// platform's AVI file library (raw, Cinepak, Microsoft Video 1), and laid
// into the mask of every frame of the main video.
struct ProcessingCase {
    const char* overlay;
    bool fit;
    bool bilinear;
    bool reverse;  // with repeat: output frame k shows overlay frame 7 - k
    int tolerance;  // of the lossy codecs
    // The mask, and a point of the overlay's top (grey) and bottom (blue) half.
    int left, top, right, bottom;
    int greyX, greyY, blueX, blueY;
};

void PrintTo(const ProcessingCase& test, std::ostream* out) {
    *out << test.overlay << (test.fit ? " fit" : " copy") << (test.reverse ? " reversed" : "");
}

std::string CaseName(const ::testing::TestParamInfo<ProcessingCase>& info) {
    return std::string(info.param.overlay) + (info.param.fit ? "_fit" : "_copy") +
           (info.param.bilinear ? "_bilinear" : "") + (info.param.reverse ? "_reversed" : "");
}

constexpr int kOverlayFrames = 8;

class ProcessingUnderWine : public ::testing::TestWithParam<ProcessingCase> {};

bool Near(int actual, int expected, int tolerance) {
    return actual >= expected - tolerance && actual <= expected + tolerance;
}

TEST_P(ProcessingUnderWine, OverlayFramesLandInTheMask) {
    REQUIRE_WINE(wine);
    const ProcessingCase& test = GetParam();
    const std::string mainVideo = WineSession::TestVideo("main");
    const std::string overlay = WineSession::TestVideo(test.overlay);
    const std::string output = WineSession::ScratchFolder(std::string("pass-") + test.overlay);

    std::vector<std::string> arguments = {
        "run", "--main", WineSession::WindowsPath(mainVideo), "--out",
        WineSession::WindowsPath(output),
        "type:1015=" + std::to_string(test.left) + " " + std::to_string(test.top) + " " +
            std::to_string(test.right) + " " + std::to_string(test.bottom),
        "click:1013", "file:" + WineSession::WindowsPath(overlay), "state:1012", "state:1027",
        "state:1028"};
    if (test.fit) {
        arguments.push_back("click:1006");
    }
    if (test.bilinear) {
        arguments.push_back("click:1029");
    }
    if (test.reverse) {
        arguments.push_back("click:1026");
        arguments.push_back("click:1018");
    }
    arguments.push_back("ok");
    const HostResult result = wine->RunHost(arguments);
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.Field("overlayOpen"), 1);
    EXPECT_EQ(result.Field("overlayWidth"), 64);
    EXPECT_EQ(result.Field("overlayHeight"), 48);
    EXPECT_EQ(result.Field("overlayLength"), kOverlayFrames);
    EXPECT_EQ(result.State(1012, "text"), WineSession::WindowsPath(overlay));
    EXPECT_EQ(result.State(1027, "text"), "8");
    EXPECT_EQ(result.State(1028, "text"), "64 x 48");
    EXPECT_EQ(result.Value("param-result"), 1);
    ASSERT_EQ(result.Value("frames-written"), 6);

    for (int frame = 0; frame < 6; ++frame) {
        SCOPED_TRACE("output frame " + std::to_string(frame));
        const BmpImage image(output + "/frame_000" + std::to_string(frame) + ".bmp");
        ASSERT_EQ(image.width(), 320);
        ASSERT_EQ(image.height(), 240);
        // Overlay frame n is grey 16 + 24 n on top.
        const int shown = test.reverse ? kOverlayFrames - 1 - frame : frame;
        const int grey = 16 + 24 * shown;
        const Rgb top = image.At(test.greyX, test.greyY);
        EXPECT_TRUE(Near(top.red, grey, test.tolerance) && Near(top.green, grey, test.tolerance) &&
                    Near(top.blue, grey, test.tolerance))
            << top.red << " " << top.green << " " << top.blue << ", wanted grey " << grey;
        const Rgb bottom = image.At(test.blueX, test.blueY);
        EXPECT_TRUE(Near(bottom.red, 0, test.tolerance) && Near(bottom.green, 0, test.tolerance) &&
                    Near(bottom.blue, 200, test.tolerance))
            << bottom.red << " " << bottom.green << " " << bottom.blue;
        // Outside the mask the main video's colour is untouched.
        for (auto [x, y] : {std::pair{5, 5}, {test.right + 5, test.bottom + 5}, {300, 220}}) {
            const Rgb outside = image.At(x, y);
            EXPECT_EQ(outside.red, 0x60) << x << "," << y;
            EXPECT_EQ(outside.green, 0x40) << x << "," << y;
            EXPECT_EQ(outside.blue, 0x20) << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, ProcessingUnderWine,
    ::testing::Values(
        // Copied 1:1 into a 64 x 48 mask at (16, 16).
        ProcessingCase{"overlay_raw", false, false, false, 0, 16, 16, 80, 64, 48, 26, 48, 54},
        // Stretched twice over into a 128 x 96 mask at (100, 20).
        ProcessingCase{"overlay_cinepak", true, true, false, 14, 100, 20, 228, 116, 164, 40,
                       164, 96},
        ProcessingCase{"overlay_msvideo1", true, false, false, 14, 100, 20, 228, 116, 164, 40,
                       164, 96},
        // Frames fetched by number from the end backwards.
        ProcessingCase{"overlay_cinepak", false, false, true, 14, 16, 16, 80, 64, 48, 26, 48,
                       54}),
    CaseName);

// The dialog on the virtual screen, captured from outside the program while
// it is open, so its layout can be looked at.
TEST(DialogUnderWine, ScreenshotOfTheOpenDialog) {
    REQUIRE_WINE(wine);
    const std::string folder = WineSession::ScratchFolder("screenshot");
    const std::string ready = folder + "/dialog-ready";
    const std::string taken = folder + "/screenshot-taken";
    const std::string screenshot = folder + "/dialog.png";
    const std::string overlay = WineSession::TestVideo("overlay_raw");
    wine->StartHost({"run", "--size", "320x240", "click:1030", "click:1020",
                     "type:1015=40 30 200 150", "click:1013",
                     "file:" + WineSession::WindowsPath(overlay), "click:1006", "click:1029",
                     "ready:" + WineSession::WindowsPath(ready),
                     "await:" + WineSession::WindowsPath(taken), "ok"});
    bool shown = false;
    while (!shown && !wine->HostEnded()) {
        shown = std::ifstream(ready).good();
        if (!shown) {
            usleep(100000);
        }
    }
    int captured = -1;
    if (shown) {
        captured = wine->RunOnDisplay("import -window root '" + screenshot + "'");
    }
    std::ofstream(taken) << "taken\n";
    const HostResult result = wine->FinishHost();
    ASSERT_TRUE(shown) << result.output;
    ASSERT_EQ(captured, 0);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    // A blank screen has one colour; the dialog and the preview have many.
    const int colours = wine->RunOnDisplay("test \"$(identify -format %k '" + screenshot +
                                           "')\" -gt 16");
    EXPECT_EQ(colours, 0) << "the screenshot " << screenshot << " looks blank";
}

}  // namespace
