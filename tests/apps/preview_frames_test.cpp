#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "apps/quillmere/edit/preview_frames.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

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

// Every frame of the clip as a fresh decode from the start delivers it.
std::vector<FramePtr> FreshFrames() {
    FileFrameSource source(KeyFrameClip(), false, [](const std::string&) {});
    std::vector<FramePtr> frames;
    long number = 0;
    for (FramePtr frame = NewFrame(); source.Next(*frame, number); frame = NewFrame()) {
        EXPECT_EQ(number, static_cast<long>(frames.size()));
        frames.push_back(std::move(frame));
    }
    return frames;
}

// The same size and format, and every byte of every row of every plane.
bool SameBytes(const AVFrame& a, const AVFrame& b) {
    if (a.format != b.format || a.width != b.width || a.height != b.height) {
        return false;
    }
    const AVPixFmtDescriptor* layout = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(a.format));
    for (int plane = 0; plane < 4 && a.data[plane] != nullptr; ++plane) {
        const bool chroma = plane == 1 || plane == 2;
        const int rows = chroma ? AV_CEIL_RSHIFT(a.height, layout->log2_chroma_h) : a.height;
        const int bytes = av_image_get_linesize(static_cast<AVPixelFormat>(a.format), a.width, plane);
        for (int row = 0; row < rows; ++row) {
            if (std::memcmp(a.data[plane] + static_cast<std::ptrdiff_t>(row) * a.linesize[plane],
                            b.data[plane] + static_cast<std::ptrdiff_t>(row) * b.linesize[plane],
                            static_cast<std::size_t>(bytes)) != 0) {
                return false;
            }
        }
    }
    return true;
}

// Waits, within a generous bound, for the worker to have decoded ahead to
// `number`; false when it never does.
bool WaitUntilHeld(const PreviewFrames& frames, long number) {
    for (int look = 0; look < 3000; ++look) {
        if (frames.Holds(number)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Frames decoded ahead in the background, and frames reached by a jump or
// by decoding on, are byte for byte the frames a fresh decode gives; the
// cache never holds more than its bound of them.
TEST(PreviewFrames, FramesFromMemoryAreTheFreshlyDecodedOnes) {
    const std::vector<FramePtr> fresh = FreshFrames();
    ASSERT_EQ(fresh.size(), static_cast<std::size_t>(kFrames));
    // Room for 8 frames: 6 ahead of the one shown, 2 behind.
    const std::size_t bound = 8 * FrameBytes(*fresh[0]) + FrameBytes(*fresh[0]) / 2;
    PreviewFrames frames(std::make_unique<FileFrameSource>(
                             KeyFrameClip(), false, [](const std::string&) {}),
                         bound);
    struct Step {
        long frame;
        bool fromMemory;  // decoded ahead of the frame asked for before
    };
    const Step steps[] = {
        {5, false},                             // from the start
        {6, true},  {9, true},                  // on, from memory
        {47, false},                            // a jump
        {48, true}, {52, true},                 // decoded ahead after the jump
        {30, false},                            // back: a jump again
        {31, true},                             // and ahead of it
        {59, false},                            // the last frame
    };
    for (const Step& step : steps) {
        if (step.fromMemory) {
            ASSERT_TRUE(WaitUntilHeld(frames, step.frame)) << "frame " << step.frame;
        }
        const PreviewFrames::Found found = frames.Find(step.frame, false);
        ASSERT_EQ(found.number, step.frame);
        EXPECT_TRUE(found.exact);
        EXPECT_EQ(found.decoded, !step.fromMemory) << "frame " << step.frame;
        EXPECT_TRUE(SameBytes(*found.frame, *fresh[static_cast<std::size_t>(step.frame)]))
            << "frame " << step.frame;
        frames.ResumeAhead();
        EXPECT_LE(frames.cachedBytes(), bound) << "after frame " << step.frame;
    }
}

AVFrame* GrayFrame(int width, int height) {
    AVFrame* frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_GRAY8;
    frame->width = width;
    frame->height = height;
    EXPECT_EQ(av_frame_get_buffer(frame, 1), 0);
    return frame;
}

std::size_t BufferBytes(const AVFrame& frame) {
    std::size_t bytes = 0;
    for (int index = 0; index < AV_NUM_DATA_POINTERS && frame.buf[index] != nullptr; ++index) {
        bytes += frame.buf[index]->size;
    }
    return bytes;
}

struct CacheCase {
    const char* name;
    std::vector<int> heights;    // frames of 100 columns, put as frames 0, 1, 2, ...
    std::vector<long> expected;  // the numbers kept at the end, oldest first
};

class FrameCacheTest : public ::testing::TestWithParam<CacheCase> {};

// A bound of 1000 rows of 100 bytes: whatever the sizes put, the frames
// held never take more, and the oldest go first to make room.
TEST_P(FrameCacheTest, HoldsNoMoreThanItsBoundAndLetsTheOldestGo) {
    const CacheCase& c = GetParam();
    FramePtr probe(GrayFrame(100, 1000));
    const std::size_t bound = BufferBytes(*probe);
    FrameCache cache(bound);
    std::vector<std::size_t> sizes;
    for (std::size_t number = 0; number < c.heights.size(); ++number) {
        FramePtr frame(GrayFrame(100, c.heights[number]));
        sizes.push_back(BufferBytes(*frame));
        frame->data[0][0] = static_cast<std::uint8_t>(number);
        cache.Put(static_cast<long>(number), *frame);
        EXPECT_LE(cache.bytes(), bound) << "after frame " << number;
    }
    const std::deque<long> kept = cache.numbers();
    EXPECT_EQ(std::vector<long>(kept.begin(), kept.end()), c.expected);
    std::size_t held = 0;
    for (const long number : kept) {
        held += sizes[static_cast<std::size_t>(number)];
        const FramePtr frame = cache.Get(number);
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->data[0][0], static_cast<std::uint8_t>(number));
    }
    EXPECT_EQ(cache.bytes(), held);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, FrameCacheTest,
    ::testing::Values(
        CacheCase{"AllFit", {300, 300, 300}, {0, 1, 2}},
        CacheCase{"OldestMakesRoom", {300, 300, 300, 300}, {1, 2, 3}},
        CacheCase{"ABigOneTakesSeveral", {200, 200, 200, 200, 900}, {4}},
        CacheCase{"SmallOnesAfterABigOne", {900, 50, 50, 50}, {1, 2, 3}},
        CacheCase{"TooBigIsNotKept", {300, 1100, 300}, {0, 2}},
        CacheCase{"AsBigAsTheBound", {1000, 500, 400}, {1, 2}}),
    [](const ::testing::TestParamInfo<CacheCase>& info) { return std::string(info.param.name); });

}  // namespace
