#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "apps/quillmere/edit/preview_frames.h"
#include "apps/quillmere/media/frame_picture.h"
#include "apps/quillmere/runner_error.h"
#include "runner_harness.h"

namespace {

// 5 frames a second, so that kDecodeAheadSeconds is 10 frames; a key frame
// every 20 frames.
constexpr int kRate = 5;
constexpr int kKeyEvery = 20;
constexpr int kFrames = 60;

const std::string& KeyFrameClip() {
    static const std::string path = [] {
        const std::string clip = TestClips() / "keyframes.mp4";
        RunFfmpeg("-f lavfi -i testsrc2=size=96x64:rate=" + std::to_string(kRate) +
                  " -frames:v " + std::to_string(kFrames) +
                  " -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g " +
                  std::to_string(kKeyEvery) + " -keyint_min " + std::to_string(kKeyEvery) +
                  " -sc_threshold 0 '" + clip + "'");
        return clip;
    }();
    return path;
}

struct Visit {
    long frame;
    bool keyFrameFirst;
    long shown;  // the frame that comes back
};

// Whatever the order frames are asked for in (on, back, far ahead, the same
// again), each is the frame that decoding the whole clip gives at its place.
TEST(PreviewFrames, EachFrameIsTheOneDecodingInOrderGives) {
    const std::vector<Picture> reference = DecodeAll(KeyFrameClip());
    ASSERT_EQ(reference.size(), static_cast<std::size_t>(kFrames));
    PreviewFrames frames(std::make_unique<FileFrameSource>(
        KeyFrameClip(), false, [](const std::string&) {}));
    const Visit visits[] = {
        {0, false, 0},   {1, false, 1},  {9, true, 9},    // on from the start
        {8, false, 8},                                   // one back: a jump
        {55, true, 40},  {55, false, 55},                // 15 past key frame 40: too far
        {33, true, 20},                                  // 13 past key frame 20: too far
        {27, true, 27},                                  // 7 past it: near enough
        {52, false, 52}, {0, false, 0},  {59, false, 59},  // and the ends
    };
    for (const Visit& visit : visits) {
        const PreviewFrames::Found found = frames.Find(visit.frame, visit.keyFrameFirst);
        EXPECT_EQ(found.number, visit.shown) << "asked for " << visit.frame;
        EXPECT_EQ(found.exact, visit.shown == visit.frame) << "asked for " << visit.frame;
        std::string where;
        EXPECT_TRUE(SameColors(reference[static_cast<std::size_t>(found.number)],
                               PictureOfFrame(*found.frame), where))
            << "frame " << found.number << " " << where;
    }
    EXPECT_THROW(frames.Find(kFrames, false), RunnerError);
    // After running off the end it still finds its way back.
    EXPECT_EQ(frames.Find(3, false).number, 3);
}

}  // namespace
