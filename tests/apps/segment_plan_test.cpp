// Cutting a render into segments, and starting a segment where a whole run
// stands: the segment boundaries, the --segment value, the job fingerprint,
// and the filter's random generator at a segment's first frame held against
// the real filter run frame by frame.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "apps/quillmere/overlay/filter_host.h"
#include "apps/quillmere/plan/job_fingerprint.h"
#include "apps/quillmere/plan/segment_start.h"
#include "apps/quillmere/plan/segments.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/processing_driver.h"
#include "render/random_generator.h"
#include "source/avi_library.h"

namespace {

// ---- boundaries ----

struct CutCase {
    const char* name;
    std::int64_t frames;
    std::vector<std::int64_t> keyFrames;
    int count;
    std::vector<std::int64_t> firstFrames;  // worked out by hand from the rule
};

class Cuts : public testing::TestWithParam<CutCase> {};

TEST_P(Cuts, StartWhereTheRuleSays) {
    const CutCase& test = GetParam();
    const std::vector<Segment> segments = CutSegments(test.frames, test.keyFrames, test.count);
    ASSERT_EQ(segments.size(), test.firstFrames.size());
    for (std::size_t i = 0; i < segments.size(); ++i) {
        EXPECT_EQ(segments[i].index, static_cast<int>(i));
        EXPECT_EQ(segments[i].first, test.firstFrames[i]) << "segment " << i;
        const std::int64_t end = i + 1 < segments.size() ? test.firstFrames[i + 1] : test.frames;
        EXPECT_EQ(segments[i].last, end - 1) << "segment " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Segments, Cuts,
    testing::Values(
        CutCase{"OneSegmentIsTheWholeMain", 40, {0, 12, 24, 36}, 1, {0}},
        // Even positions 13 and 27; the nearest key frames 12 and 24.
        CutCase{"NearestKeyFrames", 40, {0, 12, 24, 36}, 3, {0, 12, 24}},
        // Even position 20 lies as near 10 as 30: the earlier wins.
        CutCase{"TiesGoToTheEarlierKeyFrame", 40, {0, 10, 30}, 2, {0, 10}},
        // One key frame after the first for three cuts: by frame count.
        CutCase{"MoreSegmentsThanKeyFrames", 40, {0, 20}, 4, {0, 10, 20, 30}},
        // round(10/3) = 3, round(20/3) = 7.
        CutCase{"EveryFrameAKeyFrame", 10, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 3, {0, 3, 7}},
        // Key frames crowded at the end: each cut leaves one for the next,
        // giving segments of a single frame.
        CutCase{"CrowdedKeyFramesLeaveRoom", 40, {0, 36, 37, 38}, 4, {0, 36, 37, 38}},
        CutCase{"AsManySegmentsAsFrames", 5, {0}, 5, {0, 1, 2, 3, 4}},
        // No key frame listed at all (a stream that marks none).
        CutCase{"NoKeyFramesListed", 9, {}, 2, {0, 5}}),
    [](const testing::TestParamInfo<CutCase>& info) { return std::string(info.param.name); });

// Whatever the key frames, the segments cover every frame once, in order,
// none empty, and the same input gives the same segments.
TEST(Segments, CoverEveryFrameOnceForAnyKeyFrames) {
    std::mt19937 random(17);
    for (int round = 0; round < 2000; ++round) {
        const std::int64_t frames = 1 + static_cast<std::int64_t>(random() % 200);
        std::set<std::int64_t> keys{0};
        const int keyCount = static_cast<int>(random() % 12);
        for (int k = 0; k < keyCount; ++k) {
            keys.insert(static_cast<std::int64_t>(random() % static_cast<unsigned>(frames)));
        }
        const std::vector<std::int64_t> keyFrames(keys.begin(), keys.end());
        const int count = 1 + static_cast<int>(random() % static_cast<unsigned>(frames));
        const std::vector<Segment> segments = CutSegments(frames, keyFrames, count);
        ASSERT_EQ(segments.size(), static_cast<std::size_t>(count));
        std::int64_t next = 0;
        for (const Segment& segment : segments) {
            ASSERT_EQ(segment.first, next);
            ASSERT_GE(segment.last, segment.first);
            next = segment.last + 1;
        }
        ASSERT_EQ(next, frames);
        const bool onKeyFrames = static_cast<int>(keyFrames.size()) - 1 >= count - 1 &&
                                 static_cast<std::int64_t>(keyFrames.size()) != frames;
        if (onKeyFrames) {
            for (const Segment& segment : segments) {
                ASSERT_TRUE(keys.count(segment.first)) << "segment " << segment.index;
            }
        }
        const std::vector<Segment> again = CutSegments(frames, keyFrames, count);
        for (std::size_t i = 0; i < segments.size(); ++i) {
            ASSERT_EQ(again[i].first, segments[i].first);
        }
    }
}

TEST(Segments, MoreThanTheFramesNameTheLargestCount) {
    try {
        CutSegments(24, {0, 12}, 25);
        FAIL() << "25 segments of 24 frames were cut";
    } catch (const UsageError& error) {
        EXPECT_NE(std::string(error.what()).find("at most 24 segments"), std::string::npos)
            << error.what();
    }
    EXPECT_THROW(CutSegments(24, {0}, 0), UsageError);
}

struct ChoiceCase {
    const char* text;
    int index;  // -1: refused
    int count;
};

class SegmentChoices : public testing::TestWithParam<ChoiceCase> {};

TEST_P(SegmentChoices, ReadOrRefused) {
    const ChoiceCase& test = GetParam();
    if (test.index < 0) {
        EXPECT_THROW(ParseSegmentChoice(test.text, "--segment"), UsageError) << test.text;
        return;
    }
    const SegmentChoice choice = ParseSegmentChoice(test.text, "--segment");
    EXPECT_EQ(choice.index, test.index);
    EXPECT_EQ(choice.count, test.count);
}

INSTANTIATE_TEST_SUITE_P(Segments, SegmentChoices,
                         testing::Values(ChoiceCase{"0/8", 0, 8}, ChoiceCase{"7/8", 7, 8},
                                         ChoiceCase{"0/1", 0, 1}, ChoiceCase{"8/8", -1, 0},
                                         ChoiceCase{"1/0", -1, 0}, ChoiceCase{"-1/4", -1, 0},
                                         ChoiceCase{"1/", -1, 0}, ChoiceCase{"/4", -1, 0},
                                         ChoiceCase{"1/4x", -1, 0}, ChoiceCase{"1 /4", -1, 0},
                                         ChoiceCase{"3", -1, 0}, ChoiceCase{"1/99999999", -1, 0}));

// ---- fingerprint ----

std::string FingerprintOf(const std::vector<std::pair<std::string, std::string>>& fields) {
    JobFingerprint fingerprint;
    for (const auto& field : fields) {
        fingerprint.Add(field.first, field.second);
    }
    return fingerprint.Finish();
}

TEST(JobFingerprints, ChangeWithAnyFieldAndOnlyThen) {
    const std::string base = FingerprintOf({{"main", "abc"}, {"shadow", "1"}});
    EXPECT_EQ(base.size(), 64u);
    EXPECT_EQ(base.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(FingerprintOf({{"main", "abc"}, {"shadow", "1"}}), base);
    const std::vector<std::vector<std::pair<std::string, std::string>>> others = {
        {{"main", "abd"}, {"shadow", "1"}},
        {{"main", "abc"}, {"shadow", "2"}},
        {{"mains", "abc"}, {"shadow", "1"}},
        {{"main", "abcs"}, {"hadow", "1"}},  // the same bytes run together
        {{"main", "abc"}},
        {{"shadow", "1"}, {"main", "abc"}},
    };
    for (const auto& fields : others) {
        EXPECT_NE(FingerprintOf(fields), base);
    }
}

TEST(JobFingerprints, SeedIsTheFirstEightDigits) {
    EXPECT_EQ(SeedFromFingerprint("0000002a" + std::string(56, 'f')), 42u);
    EXPECT_EQ(SeedFromFingerprint("ffffffff" + std::string(56, '0')), 0xFFFFFFFFu);
}

// ---- the filter's state at a segment's first frame ----

constexpr int kFrameWidth = 64;
constexpr int kFrameHeight = 48;
constexpr std::int64_t kMainFrames = 40;
constexpr std::uint32_t kSeed = 20240611u;

// An overlay reader that has frames 0 .. length - 1 (one small 32-bit
// picture for all of them), as the runner's adapted library answers.
class FakeOverlay {
public:
    explicit FakeOverlay(long length) {
        length_ = length;
        BITMAPINFOHEADER header{};
        header.biSize = sizeof header;
        header.biWidth = kPictureSize;
        header.biHeight = kPictureSize;
        header.biPlanes = 1;
        header.biBitCount = 32;
        frame_.assign(sizeof header + 4 * kPictureSize * kPictureSize, 0x5A);
        std::memcpy(frame_.data(), &header, sizeof header);
        library_.StreamGetFrame = &GetFrame;
        library_.StreamLength = &Length;
        library_.GetFrameClose = [](FrameGetterHandle) -> long { return 0; };
        library_.StreamRelease = [](AviStreamHandle) -> long { return 0; };
        library_.FileRelease = [](AviFileHandle) -> long { return 0; };
        previous_ = UseAviLibrary(&library_);
    }
    ~FakeOverlay() { UseAviLibrary(previous_); }
    FakeOverlay(const FakeOverlay&) = delete;
    FakeOverlay& operator=(const FakeOverlay&) = delete;

    // Stand for the opened stream and reader in the record.
    AviStreamHandle stream() { return reinterpret_cast<AviStreamHandle>(&frame_); }
    FrameGetterHandle reader() { return reinterpret_cast<FrameGetterHandle>(&frame_); }

private:
    static constexpr int kPictureSize = 8;
    static void* GetFrame(FrameGetterHandle, long position) {
        return position >= 0 && position < length_ ? frame_.data() : nullptr;
    }
    static long Length(AviStreamHandle) { return length_; }

    static inline long length_ = 0;
    static inline std::vector<std::uint8_t> frame_;
    AviLibrary library_{};
    const AviLibrary* previous_ = nullptr;
};

struct StateCase {
    const char* name;
    long overlayLength;  // 0: no overlay (the black placeholder)
    void (*tune)(FilterData&);
};

FilterData BaseSettings() {
    FilterData settings{};
    settings.maskLeft = 10;
    settings.maskTop = 8;
    settings.maskRight = 41;
    settings.maskBottom = 31;
    settings.borderOn = 1;
    settings.borderSize = 2;
    settings.shadowOn = 1;
    settings.shadowType = 1;  // graded, random variation
    settings.shadowSize = 6;
    settings.shadowPercent = 40;
    settings.shadowShift = 3;
    return settings;
}

class SegmentStart : public testing::TestWithParam<StateCase> {};

// Frame by frame, the generator of the real filter stands where
// RandomStateAt says a segment starting there would put it.
TEST_P(SegmentStart, GeneratorStandsWhereAWholeRunHasIt) {
    const StateCase& test = GetParam();
    FakeOverlay overlay(test.overlayLength);
    FilterModuleSession module;
    FilterInstance instance(module.definition());
    FilterData& record = instance.recordAs<FilterData>();
    const FilterData settings = [&] {
        FilterData tuned = BaseSettings();
        test.tune(tuned);
        return tuned;
    }();
    std::memcpy(&record, &settings, sizeof record);
    if (test.overlayLength > 0) {
        record.aviStream = overlay.stream();
        record.frameGetter = overlay.reader();
    }
    ProcessingPass pass(instance, kFrameWidth, kFrameHeight);
    // As the start procedure does with the clock.
    SeedRandom(kSeed);
    NextRandom();
    std::int64_t decorated = 0;
    for (std::int64_t frame = 0; frame < kMainFrames; ++frame) {
        const std::uint32_t expected = RandomStateAt(kSeed, record, frame);
        std::uint32_t state = expected;
        for (int draw = 0; draw < 3; ++draw) {
            state = RandomStep::Advance(state);
            ASSERT_EQ(NextRandom(), RandomStep::DrawOf(state)) << "at frame " << frame;
        }
        SeedRandom(expected);
        decorated += DrawsDecoration(record, frame) ? 1 : 0;
        pass.RunFrame(static_cast<long>(frame));
    }
    record.aviStream = nullptr;
    record.frameGetter = nullptr;
    EXPECT_GT(DecorationDraws(settings), 0u);
    // Every case has frames of both kinds or says why not.
    EXPECT_GT(decorated, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Segments, SegmentStart,
    testing::Values(
        StateCase{"EveryFrame", 60, [](FilterData&) {}},
        StateCase{"FixedShiftRandomStyle", 60, [](FilterData& s) { s.shadowType = 3; }},
        // A negative shift adds the left and top bands.
        StateCase{"NegativeShiftAddsBands", 60,
                  [](FilterData& s) {
                      s.shadowType = 3;
                      s.shadowShift = -4;
                  }},
        StateCase{"BandsOffTheFrameStillDraw", 60,
                  [](FilterData& s) {
                      s.maskLeft = 30;
                      s.maskRight = 70;
                      s.shadowSize = 30;
                  }},
        StateCase{"RangeEndingMidway", 60,
                  [](FilterData& s) {
                      s.useFrameRange = 1;
                      s.rangeStart = 5;
                      s.rangeEnd = 17;
                  }},
        StateCase{"OverlayRunsOut", 10, [](FilterData&) {}},
        StateCase{"OverlayRunsOutBlackKept", 10, [](FilterData& s) { s.maintainBlack = 1; }},
        StateCase{"Repeat", 7, [](FilterData& s) { s.repeatVideo = 1; }},
        StateCase{"RepeatWithOffset", 7,
                  [](FilterData& s) {
                      s.repeatVideo = 1;
                      s.frameOffset = 3;
                  }},
        StateCase{"RepeatWithRangeAndOffset", 9,
                  [](FilterData& s) {
                      s.repeatVideo = 1;
                      s.frameOffset = 2;
                      s.useFrameRange = 1;
                      s.rangeStart = 6;
                  }},
        StateCase{"ReverseWithOffset", 12,
                  [](FilterData& s) {
                      s.reverse = 1;
                      s.frameOffset = 2;
                  }},
        StateCase{"ReverseRepeated", 12,
                  [](FilterData& s) {
                      s.reverse = 1;
                      s.repeatVideo = 1;
                  }},
        StateCase{"NegativeOffset", 60, [](FilterData& s) { s.frameOffset = -4; }},
        // An offset past the overlay's end with repeat: a negative cycle.
        StateCase{"OffsetPastTheEndRepeated", 7,
                  [](FilterData& s) {
                      s.frameOffset = 5;
                      s.repeatVideo = 1;
                      s.maintainBlack = 1;
                  }},
        // A still, as the runner's timeline gives it: without end.
        StateCase{"StillReversed", INT32_MAX, [](FilterData& s) { s.reverse = 1; }},
        StateCase{"NoOverlayPlaceholder", 0,
                  [](FilterData& s) {
                      s.useFrameRange = 1;
                      s.rangeStart = 20;
                  }}),
    [](const testing::TestParamInfo<StateCase>& info) { return std::string(info.param.name); });

TEST(SegmentStart, StylesWithoutVariationDrawNothing) {
    for (const int style : {0, 2, 4, 5, 6, -1}) {
        FilterData settings = BaseSettings();
        settings.shadowType = style;
        EXPECT_EQ(DecorationDraws(settings), 0u) << "style " << style;
    }
    FilterData off = BaseSettings();
    off.shadowOn = 0;
    EXPECT_EQ(DecorationDraws(off), 0u);
}

}  // namespace
