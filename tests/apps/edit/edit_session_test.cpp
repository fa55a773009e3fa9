#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "apps/quillmere/edit/edit_session.h"
#include "apps/quillmere/overlay/overlay_timeline.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr int kWidth = 640;
constexpr int kHeight = 360;

// Records what the session asks of the work; answers as told.
class RecordingWork : public EditWork {
public:
    ComposedPicture Compose(const RenderJob& job, bool keyFrameFirst, long over) override {
        composed.push_back(job.window.first);
        lastSettings = job.settings;
        lastSeed = job.seed;
        lastKeyFrameFirst = keyFrameFirst;
        lastOver = over;
        ComposedPicture picture;
        picture.frame = job.window.first;
        return picture;
    }
    ComposedPicture Preview(const RenderJob& job, int width) override {
        composed.push_back(job.window.first);
        lastWidth = width;
        ComposedPicture picture;
        picture.frame = job.window.first;
        return picture;
    }
    void StartRender(const CommandLine& render, bool replace) override {
        EXPECT_EQ(render.command, Command::Render);
        EXPECT_EQ(render.output, "out.mkv");
        replaceAsked.push_back(replace);
        if (outputExists && !replace) {
            throw OutputExistsError("'out.mkv' already exists");
        }
        status.state = RenderStatus::State::Running;
    }
    RenderStatus renderStatus() const override { return status; }
    void CancelRender() override { status.state = RenderStatus::State::Cancelled; }

    std::vector<long> composed;
    FilterData lastSettings{};
    std::optional<std::uint32_t> lastSeed;
    bool lastKeyFrameFirst = false;
    long lastOver = -1;
    int lastWidth = 0;
    std::vector<bool> replaceAsked;
    bool outputExists = false;
    RenderStatus status;
};

std::string savedPath;
std::string savedText;
void RecordSave(const std::string& path, const std::string& text) {
    savedPath = path;
    savedText = text;
}

EditStart Start() {
    EditStart start;
    start.line.command = Command::Edit;
    start.line.input = "main.mp4";
    start.line.overlayPath = "pip.mp4";
    start.line.output = "out.mkv";
    start.line.settingsPath = "look.json";
    start.facts.main.width = kWidth;
    start.facts.main.height = kHeight;
    start.facts.mainRate = AVRational{25, 1};
    PictureShape overlay;
    overlay.width = 320;
    overlay.height = 240;
    start.facts.overlay = overlay;
    start.frameCount = 100;
    return start;
}

// The folder the test runs in, where Start()'s relative paths lie.
std::string Here() {
    return std::filesystem::current_path().string();
}

// The render line of Start()'s files, written out from Here(), then `rest`.
std::string StartLine(const std::string& rest = "") {
    return "quillmere render " + Here() + "/main.mp4 -o " + Here() + "/out.mkv --overlay " +
           Here() + "/pip.mp4" + rest;
}

Json Mask(int left, int top, int right, int bottom) {
    return Json{{"left", left}, {"top", top}, {"right", right}, {"bottom", bottom}};
}

int StatusOf(const std::function<void()>& request) {
    try {
        request();
    } catch (const RequestError& error) {
        EXPECT_EQ(std::string(error.what()).find('\n'), std::string::npos);
        return error.status();
    }
    return 0;
}

TEST(EditSession, StartsWithTheDefaultPlacementResolved) {
    RecordingWork work;
    EditSession session(Start(), work, &RecordSave);
    const Json state = session.Describe();
    // A third of the width (213.33 -> 213) at the overlay's 4:3, 2% margin
    // (12.8 -> 13) from the bottom-right corner.
    const int width = 213;
    const int height = 160;  // 213.33 / (4 / 3)
    const int margin = 13;
    EXPECT_EQ(state["mask"], Mask(kWidth - margin - width, kHeight - margin - height,
                                  kWidth - margin, kHeight - margin));
    EXPECT_TRUE(state["settings"].contains("placement"));
    EXPECT_EQ(state["settings"]["fit"], true);
    EXPECT_EQ(state["commandLine"], StartLine());
}

// A still overlay is said to be one, not given the timeline's stand-in length.
TEST(EditSession, DescribesTheOverlaysLength) {
    RecordingWork work;
    EditSession session(Start(), work, &RecordSave);
    for (const auto& [length, still, frames] :
         {std::tuple{75L, false, Json(75)},
          std::tuple{OverlayTimeline::kStillLength, true, Json(nullptr)}}) {
        session.SetOverlayLength(length);
        const Json overlay = session.Describe()["overlay"];
        EXPECT_EQ(overlay["still"], still) << length;
        EXPECT_EQ(overlay["frames"], frames) << length;
    }
}

// The page works in frames and sets the mask itself.
TEST(EditSession, StartsWithTimesAsFramesAndTheScriptsMask) {
    EditStart start = Start();
    start.line.times.rangeStart = FrameOrTime::Microseconds(2000000);
    start.line.settings.useFrameRange = 1;
    start.line.scriptPath = "host.script";
    start.facts.scriptMask = MaskCorners{5, 6, 205, 156};
    RecordingWork work;
    EditSession session(start, work, &RecordSave);
    const Json state = session.Describe();
    EXPECT_EQ(state["settings"]["range"]["start"], 50);
    EXPECT_EQ(state["mask"], Mask(5, 6, 205, 156));
    EXPECT_EQ(state["commandLine"], StartLine(" --mask 5,6,205,156 --range 50"));
}

TEST(EditSession, AMaskSetByHandAfterAPlacementStillFits) {
    RecordingWork work;
    EditSession session(Start(), work, &RecordSave);
    const Json state = session.ReleaseMask(Mask(10, 20, 110, 95));
    EXPECT_EQ(state["settings"]["fit"], true);
    EXPECT_EQ(state["commandLine"], StartLine(" --mask 10,20,110,95 --fit"));
}

// The page's command line runs from any folder: paths typed relative to
// the folder edit started in are written out from it, and the page is told
// which folder that was.
struct PathCase {
    const char* name;
    const char* input;
    const char* overlay;
    const char* output;
    bool relative;  // the folder is named, and the paths hold it
    const char* words;  // after "quillmere render ", "@" standing for the folder
};
void PrintTo(const PathCase& test, std::ostream* out) { *out << test.name; }

class CommandPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(CommandPathTest, RunsFromAnyFolder) {
    const PathCase& c = GetParam();
    EditStart start = Start();
    start.line.input = c.input;
    start.line.overlayPath = c.overlay;
    start.line.output = c.output;
    RecordingWork work;
    const Json state = EditSession(start, work, &RecordSave).Describe();
    std::string expected = std::string("quillmere render ") + c.words;
    for (std::size_t at; (at = expected.find('@')) != std::string::npos;) {
        expected.replace(at, 1, Here());
    }
    EXPECT_EQ(state["commandLine"], expected);
    EXPECT_EQ(state["commandFolder"], c.relative ? Json(Here()) : Json(nullptr));
    // What the page shows of the inputs stays as typed.
    EXPECT_EQ(state["main"]["path"], c.input);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, CommandPathTest,
    ::testing::Values(
        PathCase{"Relative", "clips/main.mp4", "./pip.mp4", "out.mkv", true,
                 "@/clips/main.mp4 -o @/out.mkv --overlay @/pip.mp4"},
        PathCase{"Absolute", "/media/main.mp4", "/media/pip.mp4", "/media/out.mkv", false,
                 "/media/main.mp4 -o /media/out.mkv --overlay /media/pip.mp4"},
        PathCase{"OneRelativeAndNoOutput", "/media/main.mp4", "../pip.mp4", "", true,
                 "/media/main.mp4 -o OUT.mkv --overlay @/../pip.mp4"}),
    [](const auto& info) { return std::string(info.param.name); });

struct ReleaseCase {
    const char* name;
    bool moved;
    int left, top, right, bottom;  // as dragged
    int settled[4];
};

class ReleaseTest : public ::testing::TestWithParam<ReleaseCase> {};

TEST_P(ReleaseTest, OrdersAndCutsBackWhatWasNotMoved) {
    const ReleaseCase& c = GetParam();
    RecordingWork work;
    EditSession session(Start(), work, &RecordSave);
    Json release = Mask(c.left, c.top, c.right, c.bottom);
    if (c.moved) {
        release["moved"] = true;
    }
    const Json state = session.ReleaseMask(release);
    EXPECT_EQ(state["mask"], Mask(c.settled[0], c.settled[1], c.settled[2], c.settled[3]));
    EXPECT_FALSE(state["settings"].contains("placement"));
    EXPECT_EQ(state["settings"]["mask"], state["mask"]);
    // The size read-out is the part drawn on the picture.
    const int width = std::min(c.settled[2], kWidth) - std::max(c.settled[0], 0);
    const int height = std::min(c.settled[3], kHeight) - std::max(c.settled[1], 0);
    EXPECT_EQ(state["readouts"]["width"], width);
    EXPECT_EQ(state["readouts"]["height"], height);
    EXPECT_EQ(state["configLine"], "Config(" + std::to_string(c.settled[0]) + "," +
                                       std::to_string(c.settled[1]) + "," +
                                       std::to_string(c.settled[2]) + "," +
                                       std::to_string(c.settled[3]) + ")");
}

INSTANTIATE_TEST_SUITE_P(
    Drags, ReleaseTest,
    ::testing::Values(
        ReleaseCase{"InOrder", false, 10, 20, 110, 95, {10, 20, 110, 95}},
        ReleaseCase{"DrawnUpAndLeft", false, 300, 200, 100, 50, {100, 50, 300, 200}},
        ReleaseCase{"PastTheRightAndBottom", false, 500, 300, 900, 700,
                    {500, 300, kWidth, kHeight}},
        ReleaseCase{"PastTheLeftAndTop", false, -40, -30, 60, 70, {0, 0, 60, 70}},
        ReleaseCase{"OverTheWholePicture", false, 700, 400, -5, -5, {0, 0, kWidth, kHeight}},
        // A moved mask keeps its size wherever it goes.
        ReleaseCase{"MovedWithin", true, 100, 50, 300, 200, {100, 50, 300, 200}},
        ReleaseCase{"MovedPastTheRightAndBottom", true, 540, 300, 740, 450,
                    {540, 300, 740, 450}},
        ReleaseCase{"MovedPastTheLeftAndTop", true, -150, -100, 50, 50, {-150, -100, 50, 50}}),
    [](const ::testing::TestParamInfo<ReleaseCase>& info) { return std::string(info.param.name); });

TEST(EditSession, RefusesAMaskThatDrawsNothingAndKeepsTheOld) {
    RecordingWork work;
    EditSession session(Start(), work, &RecordSave);
    const Json before = session.Describe();
    // Wholly off the picture: cut back, it is empty.
    EXPECT_EQ(StatusOf([&] { session.ReleaseMask(Mask(700, 10, 800, 50)); }), 400);
    Json movedOff = Mask(700, 10, 800, 50);
    movedOff["moved"] = true;
    EXPECT_EQ(StatusOf([&] { session.ReleaseMask(movedOff); }), 400);
    Json unclear = Mask(10, 10, 80, 50);
    unclear["moved"] = "yes";
    EXPECT_EQ(StatusOf([&] { session.ReleaseMask(unclear); }), 400);
    EXPECT_EQ(StatusOf([&] { session.Change(Json{{"maskText", "100 100 40 40"}}); }), 400);
    EXPECT_EQ(session.Describe()["mask"], before["mask"]);
    EXPECT_EQ(session.Describe()["revision"], before["revision"]);
}

// The page moves one mask: a keyed one it shows and saves as it is, and
// refuses to move.
TEST(EditSession, KeysAreShownSavedAndKeptUntouched) {
    EditStart start = Start();
    start.line.keys = {MaskKeyRequest{FrameOrTime::Frames(0), 10, 20, 330, 200, Ease::Linear},
                       MaskKeyRequest{FrameOrTime::Microseconds(2000000), 40, 50, 200, 150,
                                      Ease::InOut}};
    start.line.settings.fitToFrame = 1;
    RecordingWork work;
    EditSession session(start, work, &RecordSave);
    const Json before = session.Describe();
    EXPECT_EQ(before["commandLine"],
              StartLine(" --key 0=10,20,330,200 --key 2s=40,50,200,150:in-out --fit"));
    EXPECT_EQ(before["mask"], Mask(10, 20, 330, 200));
    EXPECT_EQ(StatusOf([&] { session.ReleaseMask(Mask(0, 0, 100, 100)); }), 400);
    EXPECT_EQ(StatusOf([&] { session.Change(Json{{"maskText", "1 2 w30 h40"}}); }), 400);
    EXPECT_EQ(StatusOf([&] { session.Change(Json{{"placement", {{"position", "top"}}}}); }),
              400);
    session.Change(Json{{"border", {{"on", true}, {"size", 3}}}});
    session.Save();
    const Json saved = Json::parse(savedText);
    EXPECT_EQ(saved["keys"], Json::array({"0=10,20,330,200", "2s=40,50,200,150:in-out"}));
    EXPECT_FALSE(saved.contains("mask"));
    EXPECT_FALSE(saved.contains("placement"));
}

struct MaskTextCase {
    const char* name;
    const char* text;
    std::vector<int> mask;  // empty when the text is refused
};

class MaskTextTest : public ::testing::TestWithParam<MaskTextCase> {};

// The Corners field reads as --mask reads; what it cannot read is refused
// with the reason, and the mask stays as it was.
TEST_P(MaskTextTest, ReadsAsTheCommandLineReadsAMask) {
    const MaskTextCase& c = GetParam();
    RecordingWork work;
    EditSession session(Start(), work, &RecordSave);
    const Json before = session.Describe();
    if (c.mask.empty()) {
        try {
            session.Change(Json{{"maskText", c.text}});
            ADD_FAILURE() << "taken: " << c.text;
        } catch (const RequestError& error) {
            EXPECT_EQ(error.status(), 400);
            const std::string reason = error.what();
            EXPECT_NE(reason.find("Corners"), std::string::npos) << reason;
            EXPECT_NE(reason.find("expected"), std::string::npos) << reason;
        }
        EXPECT_EQ(session.Describe(), before);
        return;
    }
    const Json state = session.Change(Json{{"maskText", c.text}});
    const Json expected = Mask(c.mask[0], c.mask[1], c.mask[2], c.mask[3]);
    EXPECT_EQ(state["mask"], expected);
    EXPECT_EQ(state["settings"]["mask"], expected);
}

// A size counts from the left or top corner: wN draws N pixels, ending N
// further on.
INSTANTIATE_TEST_SUITE_P(
    Texts, MaskTextTest,
    ::testing::Values(MaskTextCase{"Blanks", "10 20 300 400", {10, 20, 300, 400}},
                      MaskTextCase{"Commas", "10, 20,300 ,400", {10, 20, 300, 400}},
                      MaskTextCase{"WidthAndHeight", "10 20 w100 h50", {10, 20, 110, 70}},
                      MaskTextCase{"HeightThenWidth", "10,20,h50,w100", {10, 20, 110, 70}},
                      MaskTextCase{"PartlyOffTheFrame", "-50 300 100 500", {-50, 300, 100, 500}},
                      MaskTextCase{"Words", "abc", {}},
                      MaskTextCase{"Empty", "", {}},
                      MaskTextCase{"Exponent", "1e3 20 300 400", {}},
                      MaskTextCase{"TrailingWord", "10 20 30 40 junk", {}},
                      MaskTextCase{"TwoNumbers", "5 5", {}},
                      MaskTextCase{"BeyondTheLimit", "99 99 706 1000001", {}}),
    [](const ::testing::TestParamInfo<MaskTextCase>& info) {
        return std::string(info.param.name);
    });

TEST(EditSession, MaskTextMustBeShortText) {
    RecordingWork work;
    EditSession session(Start(), work, &RecordSave);
    EXPECT_EQ(StatusOf([&] { session.Change(Json{{"maskText", 12}}); }), 400);
    EXPECT_EQ(StatusOf([&] { session.Change(Json{{"maskText", std::string(300, '1')}}); }),
              400);
}

TEST(EditSession, ReadoutsOfADragChangeNothing) {
    RecordingWork work;
    EditSession session(Start(), work, &RecordSave);
    const Json before = session.Describe();
    EXPECT_EQ(session.Readouts("600,300,700,400"),
              (Json{{"left", 600}, {"top", 300}, {"right", kWidth}, {"bottom", kHeight},
                    {"width", kWidth - 600}, {"height", kHeight - 300}}));
    EXPECT_EQ(session.Describe(), before);
    EXPECT_EQ(StatusOf([&] { session.Readouts("1,2,3"); }), 400);
}

TEST(EditSession, ChangesRefusedWithTheirReason) {
    RecordingWork work;
    EditSession session(Start(), work, &RecordSave);
    EXPECT_EQ(StatusOf([&] { session.Change(Json{{"sharpness", 3}}); }), 400);
    EXPECT_EQ(StatusOf([&] { session.Change(Json{{"shadow", {{"percent", 200}}}}); }), 400);
    EXPECT_EQ(StatusOf([&] { session.Change(Json::array()); }), 400);
    EXPECT_EQ(StatusOf([&] { session.Change(Json{{"overlay", "/etc/shadow"}}); }), 400);
    // A filtered scaler needs fit, as on the command line.
    session.ReleaseMask(Mask(0, 0, 100, 100));
    session.Change(Json{{"fit", false}});
    EXPECT_EQ(StatusOf([&] { session.Change(Json{{"scaler", "area"}}); }), 400);
    EXPECT_EQ(StatusOf([&] { session.Change(Json{{"fit", true}, {"scaler", "area"}}); }), 0);
}

TEST(EditSession, PicturesAreAskedByFrameOrTime) {
    RecordingWork work;
    EditSession session(Start(), work, &RecordSave);
    session.Change(Json{{"border", {{"on", true}, {"size", 7}}}});
    session.Picture("12", false);
    session.Picture("1.5s", true);  // 1.5 s at 25 fps
    session.Picture("0:02", false, "17");
    EXPECT_EQ(work.composed, (std::vector<long>{12, 37, 50}));
    EXPECT_EQ(work.lastOver, 17);
    EXPECT_EQ(work.lastSettings.borderSize, 7);
    EXPECT_EQ(StatusOf([&] { session.Picture("100", false); }), 400);  // frames 0 to 99
    EXPECT_EQ(StatusOf([&] { session.Picture("later", false); }), 400);
    EXPECT_EQ(StatusOf([&] { session.Picture("3", false, "-1"); }), 400);
    // Playback's scaled pictures are asked for in the same way, with a width.
    session.PlaybackPicture("2s", "960");
    EXPECT_EQ(work.composed.back(), 50);
    EXPECT_EQ(work.lastWidth, 960);
    for (const char* width : {"0", "wide", "", "-4"}) {
        EXPECT_EQ(StatusOf([&] { session.PlaybackPicture("3", width); }), 400) << width;
    }
    EXPECT_EQ(StatusOf([&] { session.PlaybackPicture("100", "960"); }), 400);
}

// The random shadow styles draw from the seed the pictures use; the render
// command line and the settings file carry that same seed, from the start
// (none given: the session picks one) and through every change of it.
TEST(EditSession, PicturesCommandLineAndFileShareTheSeed) {
    EditStart start = Start();
    start.line.settings.shadowOn = 1;
    start.line.settings.shadowType = 1;  // gradient with random variation
    RecordingWork work;
    EditSession session(start, work, &RecordSave);
    std::vector<std::uint32_t> seen;
    for (const Json& change : {Json::object(), Json{{"seed", 4000000000u}}, Json{{"seed", 0}},
                               Json{{"seed", nullptr}}}) {
        SCOPED_TRACE(change.dump());
        const Json state = change.empty() ? session.Describe() : session.Change(change);
        session.Picture("5", false);
        ASSERT_TRUE(work.lastSeed);
        const std::uint32_t seed = *work.lastSeed;
        if (change.contains("seed") && !change["seed"].is_null()) {
            EXPECT_EQ(seed, change["seed"].get<std::uint32_t>());
        }
        EXPECT_EQ(state["settings"]["seed"], seed);
        EXPECT_EQ(Json::parse(state["settingsText"].get<std::string>())["seed"], seed);
        const std::string line = state["commandLine"];
        EXPECT_NE(line.find(" --seed " + std::to_string(seed)), std::string::npos) << line;
        seen.push_back(seed);
    }
    // A seed sent as null is a fresh one, not the clock's.
    EXPECT_NE(seen.back(), seen[2]);

    // A look without a random style keeps its seed for later but shows no
    // --seed: it would change no frame.
    const Json plain = session.Change(Json{{"shadow", {{"style", "gradient"}}}});
    EXPECT_EQ(plain["settings"]["seed"], seen.back());
    EXPECT_EQ(std::string(plain["commandLine"]).find("--seed"), std::string::npos);
}

TEST(EditSession, SaveWritesTheFileNamedAtStartWithAnAbsoluteOverlay) {
    RecordingWork work;
    EditSession session(Start(), work, &RecordSave);
    savedPath.clear();
    session.Save();
    EXPECT_EQ(savedPath, "look.json");
    const Json saved = Json::parse(savedText);
    EXPECT_EQ(saved["format"], "quillmere-settings");
    const std::string overlay = saved["overlay"];
    EXPECT_EQ(overlay.front(), '/');
    EXPECT_EQ(overlay.substr(overlay.size() - 8), "/pip.mp4");

    EditStart start = Start();
    start.line.settingsPath.clear();
    EditSession unsaved(start, work, &RecordSave);
    EXPECT_EQ(StatusOf([&] { unsaved.Save(); }), 409);
}

struct RenderCase {
    const char* name;
    OverwritePolicy policy;
    bool exists;
    bool replaceAsked;  // what the page sends
    int status;
    bool replaceGiven;  // what the work is told
};

class RenderStartTest : public ::testing::TestWithParam<RenderCase> {};

TEST_P(RenderStartTest, OverwriteRulesAreRendersOwn) {
    const RenderCase& c = GetParam();
    RecordingWork work;
    work.outputExists = c.exists;
    EditStart start = Start();
    start.line.overwrite = c.policy;
    EditSession session(start, work, &RecordSave);
    EXPECT_EQ(StatusOf([&] { session.StartRender(Json{{"replace", c.replaceAsked}}); }),
              c.status);
    ASSERT_EQ(work.replaceAsked.size(), 1u);
    EXPECT_EQ(work.replaceAsked[0], c.replaceGiven);
}

INSTANTIATE_TEST_SUITE_P(
    Policies, RenderStartTest,
    ::testing::Values(
        RenderCase{"NewOutput", OverwritePolicy::Ask, false, false, 0, false},
        RenderCase{"ExistsPageAsks", OverwritePolicy::Ask, true, false, 412, false},
        RenderCase{"ExistsUserSaidYes", OverwritePolicy::Ask, true, true, 0, true},
        RenderCase{"ExistsWithY", OverwritePolicy::Always, true, false, 0, true},
        RenderCase{"ExistsWithN", OverwritePolicy::Never, true, true, 409, false}),
    [](const ::testing::TestParamInfo<RenderCase>& info) { return std::string(info.param.name); });

TEST(EditSession, RenderProgressGivesTheTimeLeft) {
    RecordingWork work;
    EditSession session(Start(), work, &RecordSave);
    work.status.state = RenderStatus::State::Running;
    work.status.frames = 50;
    work.status.fps = 25;
    work.status.speed = 1;
    const Json progress = session.RenderProgress();
    EXPECT_EQ(progress["state"], "running");
    EXPECT_EQ(progress["totalFrames"], 100);
    EXPECT_DOUBLE_EQ(progress["secondsLeft"].get<double>(), 2.0);  // 50 frames at 25 fps
    EXPECT_EQ(session.CancelRender()["state"], "cancelled");
    EXPECT_EQ(StatusOf([&] { session.StartRender(Json{{"force", true}}); }), 400);
}

}  // namespace
