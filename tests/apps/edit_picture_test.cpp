// quillmere edit's pictures, made in process behind the page, against what
// `quillmere frame` writes for the page's own command line: the same frame,
// pixel for pixel, whatever turns, fades or seeds the run has.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "apps/quillmere/cli/command_text.h"
#include "apps/quillmere/cli/read_command_line.h"
#include "apps/quillmere/edit/edit_session.h"
#include "apps/quillmere/edit/runner_work.h"
#include "apps/quillmere/media/video_reader.h"
#include "apps/quillmere/plan/input_facts.h"
#include "runner_harness.h"

namespace {

constexpr long kFrame = 2;

void IgnoreNotice(const std::string&) {}
void NoSettingsFile(const std::string&, const std::string&) {}

struct PictureCase {
    const char* name;
    int rotateTag;  // the main's display matrix: degrees anticlockwise, 0 for none
    std::vector<std::string> options;
};

class EditPictureTest : public ::testing::TestWithParam<PictureCase> {
protected:
    ScratchFolder out_;
};

TEST_P(EditPictureTest, IsWhatTheFrameCommandWrites) {
    const PictureCase& c = GetParam();
    RunFfmpeg("-f lavfi -i testsrc2=size=200x120:rate=25 -frames:v 5 -c:v libx264 -preset "
              "ultrafast -qp 0 '" + out_ / "plain.mp4" + "'");
    RunFfmpeg("-i '" + out_ / "plain.mp4" + "' -c copy -metadata:s:v:0 rotate=" +
              std::to_string(c.rotateTag) + " '" + out_ / "main.mp4" + "'");
    std::vector<std::string> words = {"quillmere", "edit", out_ / "main.mp4", "--overlay",
                                      Clip("overlay.avi"), "--mask", "10,20,w64,h48", "--fit",
                                      "--border", "3", "--shadow", "gradient-random"};
    words.insert(words.end(), c.options.begin(), c.options.end());
    std::vector<const char*> argv;
    for (const std::string& word : words) {
        argv.push_back(word.c_str());
    }
    const CommandLine line = ReadCommandLine(static_cast<int>(argv.size()), argv.data());

    auto reader = std::make_unique<VideoReader>(line.input, line.videoStream, line.pictureLimit);
    EditStart start;
    start.line = line;
    start.facts = GatherFacts(line, *reader);
    start.frameCount = start.facts.mainFrames;
    RunnerEditWork work(std::move(reader), &IgnoreNotice, QUILLMERE_PROGRAM);
    EditSession session(start, work, &NoSettingsFile);
    const ComposedPicture picture = session.Picture(std::to_string(kFrame), false);
    ASSERT_EQ(picture.frame, kFrame);
    ASSERT_FALSE(picture.tile);
    {
        std::ofstream file(out_ / "page.png", std::ios::binary);
        file << picture.png;
    }

    // The page's command line, as a frame command.
    CommandLine render = session.LineFor(Command::Render);
    render.output = out_ / "frame.png";
    std::vector<std::string> frame = RenderCommandWords(render);
    frame.erase(frame.begin());  // the program's name
    frame[0] = "frame";
    // Seeded from the clock, page and frame would agree only within the
    // same second: the line must name the seed the page drew with.
    ASSERT_NE(std::find(frame.begin(), frame.end(), "--seed"), frame.end());
    frame.insert(frame.end(), {"--at", std::to_string(kFrame), "-q"});
    const RunResult run = RunQuillmere(frame);
    ASSERT_EQ(run.exitCode, 0) << run.errorText;

    const std::vector<Picture> page = DecodeAll(out_ / "page.png");
    const std::vector<Picture> reference = DecodeAll(out_ / "frame.png");
    ASSERT_EQ(page.size(), 1u);
    ASSERT_EQ(reference.size(), 1u);
    ASSERT_EQ(page[0].width, reference[0].width);
    ASSERT_EQ(page[0].height, reference[0].height);
    // Turned upright unless kept as stored.
    const bool quarterTurn = c.rotateTag % 180 != 0;
    const bool kept = std::find(c.options.begin(), c.options.end(), "--keep-rotation") !=
                      c.options.end();
    EXPECT_EQ(page[0].width, quarterTurn && !kept ? 120 : 200);
    std::string where;
    EXPECT_TRUE(SameColors(page[0], reference[0], where)) << where;
    if (std::find(c.options.begin(), c.options.end(), "--corner-radius") != c.options.end()) {
        EXPECT_NE(std::find(frame.begin(), frame.end(), "--corner-radius"), frame.end());
        // The white border's outer corner pixel lies wholly outside the rounding.
        const std::uint8_t* corner = page[0].row(17) + 4 * 7;
        EXPECT_FALSE(corner[0] == 255 && corner[1] == 255 && corner[2] == 255);
    }
}

// The mean of each colour (blue, green, red) over a picture: what JPEG's
// loss leaves nearly as it was, and a wrong matrix or range does not.
std::array<double, 3> MeanColours(const Picture& picture) {
    std::array<double, 3> sums{};
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            for (int colour = 0; colour < 3; ++colour) {
                sums[colour] += picture.row(y)[x * 4 + colour];
            }
        }
    }
    for (double& sum : sums) {
        sum /= static_cast<double>(picture.width) * picture.height;
    }
    return sums;
}

// Playback's pictures: the page's composite, scaled to the width asked
// (never beyond the frame's) with the aspect kept, as JPEG in JPEG's own
// colours: at the frame's own width, the PNG picture but for the loss.
TEST(EditPlaybackPicture, IsTheCompositeScaledToTheWidthAsked) {
    ScratchFolder out;
    // Soft, as video is: JPEG keeps such a picture close.
    RunFfmpeg("-f lavfi -i testsrc2=size=200x120:rate=25 -vf gblur=sigma=4 -frames:v 5 "
              "-c:v libx264 -preset ultrafast -qp 0 '" + out / "main.mp4" + "'");
    const std::string mainPath = out / "main.mp4";
    const std::string overlayPath = Clip("overlay.avi");
    const char* argv[] = {"quillmere", "edit", mainPath.c_str(), "--overlay", overlayPath.c_str(),
                          "--mask", "10,20,w64,h48", "--fit"};
    const CommandLine line = ReadCommandLine(static_cast<int>(std::size(argv)), argv);
    auto reader = std::make_unique<VideoReader>(line.input, line.videoStream, line.pictureLimit);
    EditStart start;
    start.line = line;
    start.facts = GatherFacts(line, *reader);
    start.frameCount = start.facts.mainFrames;
    RunnerEditWork work(std::move(reader), &IgnoreNotice, QUILLMERE_PROGRAM);
    EditSession session(start, work, &NoSettingsFile);

    const auto decoded = [&](const std::string& bytes, const std::string& name) {
        std::ofstream(out / name, std::ios::binary) << bytes;
        const std::vector<Picture> pictures = DecodeAll(out / name);
        EXPECT_EQ(pictures.size(), 1u) << name;
        return pictures.empty() ? Picture(0, 0) : pictures[0];
    };
    struct Size {
        const char* width;
        int expectedWidth;
        int expectedHeight;  // 120 * width / 200, rounded
    };
    for (const Size& size : {Size{"100", 100, 60}, Size{"33", 33, 20}, Size{"640", 200, 120}}) {
        const ComposedPicture scaled = session.PlaybackPicture(std::to_string(kFrame), size.width);
        EXPECT_EQ(scaled.frame, kFrame);
        const Picture picture = decoded(scaled.jpeg, std::string("w") + size.width + ".jpg");
        EXPECT_EQ(picture.width, size.expectedWidth) << size.width;
        EXPECT_EQ(picture.height, size.expectedHeight) << size.width;
    }
    const Picture full = decoded(session.PlaybackPicture(std::to_string(kFrame), "200").jpeg,
                                 "full.jpg");
    const Picture exact = decoded(session.Picture(std::to_string(kFrame), false).png, "exact.png");
    ASSERT_EQ(full.width, exact.width);
    ASSERT_EQ(full.height, exact.height);
    const std::array<double, 3> shown = MeanColours(full);
    const std::array<double, 3> expected = MeanColours(exact);
    for (int colour = 0; colour < 3; ++colour) {
        EXPECT_NEAR(shown[colour], expected[colour], 2.5) << "colour " << colour;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, EditPictureTest,
    ::testing::Values(PictureCase{"Plain", 0, {"--seed", "11"}},
                      PictureCase{"FadingIn", 0, {"--fade-in", "4", "--seed", "11"}},
                      PictureCase{"RoundedCorners", 0, {"--corner-radius", "9", "--seed", "11"}},
                      PictureCase{"PhoneFootage", 90, {"--seed", "11"}},
                      PictureCase{"PhoneFootageAsStored", 90, {"--keep-rotation", "--seed", "11"}},
                      // No --seed: the page's own seed, on its command line.
                      PictureCase{"SeedPickedByThePage", 0, {}}),
    [](const ::testing::TestParamInfo<PictureCase>& info) {
        return std::string(info.param.name);
    });

}  // namespace
