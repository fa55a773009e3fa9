#include "render/frame_compositor.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "render/bitmap_objects.h"
#include "render_test_support.h"

namespace {

constexpr Pixel32 kBackground = 0x11223344u;
constexpr Pixel32 kWhite = 0xFFFFFFu;

Pixel32 Pattern(int x, int y) {
    return static_cast<Pixel32>(0x80000000u | (x * 131 + y * 7) << 8 | ((x ^ y) & 0xFF));
}

// ---------------------------------------------------------------- FillClippedRect

struct FillCase {
    const char* name;
    std::int32_t x, y, dx, dy;
    int left, top, right, bottom;  // the filled pixels: [left, right) x [top, bottom)
};

void PrintTo(const FillCase& c, std::ostream* os) { *os << c.name; }

class FillClipped : public ::testing::TestWithParam<std::tuple<FillCase, bool>> {};

TEST_P(FillClipped, FillsOnlyTheClippedRectangle) {
    const auto& [c, topDown] = GetParam();
    GuardedBitmap output(20, 15, 3, 2, topDown);
    output.FillWith(kBackground);
    FilterActivation activation{};
    activation.dst = &output.frame();
    FillClippedRect(activation, c.x, c.y, c.dx, c.dy, 0x00ABCDEF);
    for (int y = 0; y < 15; ++y) {
        for (int x = 0; x < 20; ++x) {
            const bool inside = x >= c.left && x < c.right && y >= c.top && y < c.bottom;
            ASSERT_EQ(output.At(x, y), inside ? 0x00ABCDEFu : kBackground)
                << "at " << x << "," << y;
        }
    }
    EXPECT_TRUE(output.GuardsIntact());
}

INSTANTIATE_TEST_SUITE_P(
    Rectangles, FillClipped,
    ::testing::Combine(
        ::testing::Values(FillCase{"Inside", 3, 4, 5, 2, 3, 4, 8, 6},
                          FillCase{"WholeWidth", 2, 3, -1, 2, 2, 3, 20, 5},
                          FillCase{"WholeBitmap", 0, 0, -1, -1, 0, 0, 20, 15},
                          FillCase{"LeftOfFrame", -3, 2, 5, 3, 0, 2, 2, 5},
                          FillCase{"AboveFrame", 4, -6, 2, 8, 4, 0, 6, 2},
                          FillCase{"PastRightAndBottom", 17, 12, 10, 10, 17, 12, 20, 15},
                          FillCase{"WhollyRight", 20, 0, 5, 5, 0, 0, 0, 0},
                          FillCase{"WhollyBelow", 0, 15, 5, 5, 0, 0, 0, 0},
                          FillCase{"WhollyLeft", -5, 0, 5, 5, 0, 0, 0, 0},
                          FillCase{"ZeroWidth", 3, 3, 0, 5, 0, 0, 0, 0},
                          FillCase{"ZeroHeight", 3, 3, 5, 0, 0, 0, 0, 0},
                          FillCase{"NegativeWidth", 10, 3, -4, 5, 0, 0, 0, 0},
                          FillCase{"ExtremeSpan", INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0, 0, 0, 0},
                          FillCase{"ExtremeEnd", 5, 6, INT_MAX, INT_MAX, 5, 6, 20, 15},
                          FillCase{"ExtremeStart", INT_MAX, INT_MAX, INT_MAX, INT_MAX, 0, 0, 0, 0}),
        ::testing::Bool()),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) ? "TopDown" : "BottomUp");
    });

// ---------------------------------------------------------------- fixture

// Frames with the recording operation table on the output bitmap and as the
// module's table (so the wrapper and conversion objects carry it), and an
// overlay reader serving 32-bit frames of 16 x 12.
struct Compositor : ::testing::Test {
    Compositor() : frames(64, 48) {
        frames.source.Fill(Pattern);
        frames.output.FillWith(kBackground);
        frames.output.frame().bitmap.operations = operations.table();
        wrapper = NewBitmapObject();
        frames.record.overlayBitmap = wrapper;
        library.ServeFrames(100, MemoryOverlayLibrary::MakeFrame(16, 12, 32));
        SetMask(10, 10, 50, 40);
    }
    ~Compositor() override { ReleaseBitmapObject(wrapper); }

    void SetMask(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom) {
        frames.record.maskLeft = left;
        frames.record.maskTop = top;
        frames.record.maskRight = right;
        frames.record.maskBottom = bottom;
    }
    void LoadOverlay(std::int32_t length) {
        frames.record.frameGetter = library.handle();
        frames.record.overlayLength = length;
    }
    std::vector<double> Arguments(const std::string& name, std::size_t which = 0) const {
        const auto calls = operations.CallsNamed(name);
        return which < calls.size() ? calls[which].arguments : std::vector<double>{};
    }
    std::vector<std::string> CallNames() const {
        std::vector<std::string> names;
        for (const OperationCall& call : operations.calls()) {
            names.push_back(call.name);
        }
        return names;
    }
    bool BlackFillDrawn() const {
        for (const OperationCall& call : operations.CallsNamed("RectFill")) {
            if (call.arguments[4] == 0) {
                return true;
            }
        }
        return false;
    }
    bool OverlayDrawn() const {
        return !operations.CallsNamed("BitBlt").empty() ||
               !operations.CallsNamed("StretchBltNearestFast").empty() ||
               !operations.CallsNamed("StretchBltBilinearFast").empty();
    }

    RecordingOperations operations;
    MemoryOverlayLibrary library;
    TestFrames frames;
    VBitmap* wrapper;
};

// ---------------------------------------------------------------- source copy

struct CopyLayout {
    int sourcePadding, outputPadding;
    bool sourceTopDown, outputTopDown;
};

class SourceCopy : public ::testing::TestWithParam<CopyLayout> {};

// Rows with and without padding, stored either way up: the output picture
// is the source picture and nothing around it changes.
TEST_P(SourceCopy, CopiesThePictureWhateverTheRowLayout) {
    const CopyLayout& layout = GetParam();
    GuardedBitmap source(37, 21, layout.sourcePadding, 2, layout.sourceTopDown);
    GuardedBitmap output(37, 21, layout.outputPadding, 2, layout.outputTopDown);
    source.Fill(Pattern);
    output.FillWith(kBackground);
    FilterData record{};
    record.editing = 1;  // the outline lies wholly outside
    record.maskLeft = record.maskTop = -50;
    record.maskRight = record.maskBottom = -40;
    FilterStateInfo state{};
    FilterActivation activation{};
    activation.filter_data = &record;
    activation.src = &source.frame();
    activation.dst = &output.frame();
    activation.pfsi = &state;
    EXPECT_EQ(RunProc(&activation, nullptr), 0);
    EXPECT_TRUE(output.SamePicture(source));
    EXPECT_TRUE(output.GuardsIntact());
    EXPECT_TRUE(source.GuardsIntact());
}

INSTANTIATE_TEST_SUITE_P(Layouts, SourceCopy,
                         ::testing::Values(CopyLayout{0, 0, false, false},
                                           CopyLayout{0, 2, false, false},
                                           CopyLayout{3, 0, false, false},
                                           CopyLayout{3, 5, false, false},
                                           CopyLayout{0, 0, true, false},
                                           CopyLayout{0, 0, true, true},
                                           CopyLayout{1, 0, false, true}));

// ---------------------------------------------------------------- editing outline

class EditingOutline : public Compositor,
                       public ::testing::WithParamInterface<std::array<std::int32_t, 4>> {};

TEST_P(EditingOutline, SameOutlineForAnyCornerOrder) {
    const auto& corners = GetParam();
    LoadOverlay(100);
    frames.record.useFrameRange = 1;
    frames.record.rangeStart = 1000;  // the outline ignores the range
    frames.record.editing = 1;
    frames.record.borderOn = 1;
    frames.record.shadowOn = 1;
    frames.record.shadowSize = 5;
    SetMask(corners[0], corners[1], corners[2], corners[3]);
    EXPECT_EQ(frames.RunFrame(3), 0);

    // Corners (12, 8) and (40, 30) in some order.
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            const bool top = y >= 8 && y < 10 && x >= 12 && x < 40;
            const bool left = x >= 12 && x < 14 && y >= 8 && y < 30;
            const bool right = x >= 40 && x < 42 && y >= 8 && y < 30;
            const bool bottom = y >= 30 && y < 32 && x >= 12 && x < 40;
            ASSERT_EQ(frames.output.At(x, y),
                      top || left || right || bottom ? kWhite : Pattern(x, y))
                << "at " << x << "," << y;
        }
    }
    // The 2 x 2 beyond the right and bottom strips stays unpainted.
    EXPECT_EQ(frames.output.At(40, 30), Pattern(40, 30));
    EXPECT_EQ(frames.output.At(41, 31), Pattern(41, 31));
    EXPECT_TRUE(operations.calls().empty());
    EXPECT_TRUE(library.requests().empty());
    EXPECT_EQ(frames.record.currentFrame, 3) << "frame numbers are kept while editing";
}

INSTANTIATE_TEST_SUITE_P(CornerOrders, EditingOutline,
                         ::testing::Values(std::array<std::int32_t, 4>{12, 8, 40, 30},
                                           std::array<std::int32_t, 4>{40, 30, 12, 8},
                                           std::array<std::int32_t, 4>{40, 8, 12, 30},
                                           std::array<std::int32_t, 4>{12, 30, 40, 8}));

TEST_F(Compositor, EditingOutlineOfExtremeCornersStaysInTheFrame) {
    frames.record.editing = 1;
    const std::int32_t corners[][4] = {{INT_MIN, INT_MIN, INT_MAX, INT_MAX},
                                       {INT_MAX, INT_MAX, INT_MIN, INT_MIN},
                                       {INT_MIN, 5, INT_MAX, 5},
                                       {63, 47, INT_MAX, INT_MAX},
                                       {-1, -1, 64, 48}};
    for (const auto& c : corners) {
        SetMask(c[0], c[1], c[2], c[3]);
        frames.RunFrame(0);
        ASSERT_TRUE(frames.output.GuardsIntact());
    }
    SetMask(-1, -1, 64, 48);
    frames.RunFrame(0);
    EXPECT_EQ(frames.output.At(0, 0), kWhite);     // the top and left strips' inner rows
    EXPECT_EQ(frames.output.At(63, 47), Pattern(63, 47));  // the strips lie just outside
}

// ---------------------------------------------------------------- decoration

TEST_F(Compositor, BorderAndShadowArgumentsOfAMask) {
    frames.record.borderOn = 1;
    frames.record.borderSize = 3;
    frames.record.borderColor = 0x0000FF;  // pure red as a COLORREF
    frames.record.shadowOn = 1;
    frames.record.shadowType = 0;
    frames.record.shadowSize = 4;
    frames.record.shadowPercent = 50;
    EXPECT_EQ(frames.RunFrame(0), 0);

    EXPECT_EQ(CallNames(), (std::vector<std::string>{"RectFill", "RectFill"}));
    EXPECT_EQ(Arguments("RectFill", 0), (std::vector<double>{7, 7, 46, 36, 0x00FF0000}));
    EXPECT_EQ(Arguments("RectFill", 1), (std::vector<double>{10, 10, 40, 30, 0}));
    // The shadow of a 41 x 31 area with extent 2: its right band starts in
    // column maskRight + borderSize, its bottom band in row maskBottom + borderSize.
    EXPECT_EQ(frames.output.At(52, 30), Pattern(52, 30));
    EXPECT_NE(frames.output.At(53, 30), Pattern(53, 30));
    EXPECT_EQ(frames.output.At(30, 42), Pattern(30, 42));
    EXPECT_NE(frames.output.At(30, 43), Pattern(30, 43));
}

TEST_F(Compositor, ShadowWithoutBorderStartsRightOfTheMask) {
    frames.record.shadowOn = 1;
    frames.record.shadowType = 0;
    frames.record.shadowSize = 4;
    frames.record.shadowPercent = 50;
    frames.RunFrame(0);
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"RectFill"}));
    EXPECT_EQ(frames.output.At(49, 30), Pattern(49, 30));
    EXPECT_NE(frames.output.At(50, 30), Pattern(50, 30));
}

TEST(BorderPixel, SwapsRedAndBlue) {
    EXPECT_EQ(PixelFromColorref(0x0000FF), 0x00FF0000u);
    EXPECT_EQ(PixelFromColorref(0x123456), 0x00563412u);
    EXPECT_EQ(PixelFromColorref(0xFF00FF00), 0x0000FF00u);
}

// ---------------------------------------------------------------- frame numbers

enum class Drawn { Nothing, Black, Overlay };

struct FrameCase {
    const char* name;
    long frame;
    std::int32_t useRange, rangeStart, rangeEnd;
    std::int32_t repeat, length, offset, reverse, maintainBlack;
    long streamFrames;
    long undecodable;  // -1: none
    std::vector<long> requests;
    std::int32_t counter;
    Drawn drawn;
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

class FrameNumbers : public Compositor, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(FrameNumbers, ChooseFetchAndDraw) {
    const FrameCase& c = GetParam();
    LoadOverlay(c.length);
    library.ServeFrames(c.streamFrames, MemoryOverlayLibrary::MakeFrame(16, 12, 32));
    if (c.undecodable >= 0) {
        library.MarkUndecodable(c.undecodable);
    }
    FilterData& r = frames.record;
    r.useFrameRange = c.useRange;
    r.rangeStart = c.rangeStart;
    r.rangeEnd = c.rangeEnd;
    r.repeatVideo = c.repeat;
    r.frameOffset = c.offset;
    r.reverse = c.reverse;
    r.maintainBlack = c.maintainBlack;

    EXPECT_EQ(frames.RunFrame(c.frame), 0);
    EXPECT_EQ(library.requests(), c.requests);
    EXPECT_EQ(r.overlayFrameCounter, c.counter);
    EXPECT_EQ(r.currentFrame, static_cast<std::int32_t>(c.frame));
    EXPECT_EQ(OverlayDrawn(), c.drawn == Drawn::Overlay);
    EXPECT_EQ(BlackFillDrawn(), c.drawn == Drawn::Black);
    if (c.drawn == Drawn::Overlay) {
        EXPECT_EQ(r.overlayBits, reinterpret_cast<const Pixel32*>(library.lastServed() + 40));
    }
}

constexpr std::int32_t kMin = INT_MIN;
constexpr std::int32_t kMax = INT_MAX;

// name, frame, range (use, start, end), repeat, length, offset, reverse,
// maintain black, stream frames, undecodable, requests, counter, drawn
INSTANTIATE_TEST_SUITE_P(
    Cases, FrameNumbers,
    ::testing::Values(
        FrameCase{"ForwardFirst", 0, 0, 0, 0, 1, 100, 10, 0, 0, 100, -1, {10}, 0, Drawn::Overlay},
        FrameCase{"ForwardLast", 89, 0, 0, 0, 1, 100, 10, 0, 0, 100, -1, {99}, 89, Drawn::Overlay},
        FrameCase{"ForwardWraps", 90, 0, 0, 0, 1, 100, 10, 0, 0, 100, -1, {10}, 0, Drawn::Overlay},
        FrameCase{"ReverseFirst", 0, 0, 0, 0, 1, 100, 10, 1, 0, 100, -1, {89}, 0, Drawn::Overlay},
        FrameCase{"ReverseLast", 89, 0, 0, 0, 1, 100, 10, 1, 0, 100, -1, {0}, 89, Drawn::Overlay},
        FrameCase{"ReverseWraps", 90, 0, 0, 0, 1, 100, 10, 1, 0, 100, -1, {89}, 0, Drawn::Overlay},
        FrameCase{"NoRepeatRunsOut", 95, 0, 0, 0, 0, 100, 10, 0, 0, 100, -1, {105}, 95,
                  Drawn::Nothing},
        FrameCase{"NoRepeatRunsOutBlack", 95, 0, 0, 0, 0, 100, 10, 0, 1, 100, -1, {105}, 95,
                  Drawn::Black},
        FrameCase{"NoRepeatReverseBelowZero", 95, 0, 0, 0, 0, 100, 10, 1, 1, 100, -1, {-6}, 95,
                  Drawn::Black},
        FrameCase{"BeforeRange", 49, 1, 50, 60, 0, 100, 10, 0, 1, 100, -1, {}, -1,
                  Drawn::Nothing},
        FrameCase{"RangeStartShowsOffset", 50, 1, 50, 60, 1, 100, 10, 0, 1, 100, -1, {10}, 0,
                  Drawn::Overlay},
        FrameCase{"RangeEndInclusive", 60, 1, 50, 60, 0, 100, 10, 0, 1, 100, -1, {20}, 10,
                  Drawn::Overlay},
        FrameCase{"AfterRange", 61, 1, 50, 60, 0, 100, 10, 0, 1, 100, -1, {}, 11,
                  Drawn::Nothing},
        FrameCase{"OpenRangeEnd", 100000, 1, 50, 0, 0, 200000, 10, 0, 0, 200000, -1, {99960},
                  99950, Drawn::Overlay},
        FrameCase{"RetryAfterUndecodable", 32, 0, 0, 0, 1, 100, 10, 0, 0, 100, 42, {42, 10}, 0,
                  Drawn::Overlay},
        FrameCase{"RetryFailsToo", 32, 0, 0, 0, 1, 100, 10, 0, 1, 0, -1, {42, 10}, 0,
                  Drawn::Black},
        FrameCase{"LengthZeroNoRemainder", 500, 0, 0, 0, 1, 0, 10, 0, 0, 100, -1, {510, 10}, 0,
                  Drawn::Overlay},
        FrameCase{"LengthZeroReversed", 500, 0, 0, 0, 1, 0, 10, 1, 1, 100, -1, {-511, -11}, 0,
                  Drawn::Black},
        FrameCase{"LengthEqualsOffset", 7, 0, 0, 0, 1, 20, 20, 0, 1, 20, -1, {27, 20}, 0,
                  Drawn::Black},
        FrameCase{"LengthEqualsOffsetReversed", 7, 0, 0, 0, 1, 20, 20, 1, 0, 20, -1, {-8, -1},
                  0, Drawn::Nothing},
        FrameCase{"MinimumCounterDivisorMinusOne", kMin, 0, 0, 0, 1, 5, 6, 0, 0, 10, -1, {6}, 0,
                  Drawn::Overlay},
        FrameCase{"NumberBeyond32Bits", kMax, 0, 0, 0, 0, 100, kMax, 0, 1, 100, -1, {}, kMax,
                  Drawn::Black},
        FrameCase{"NumberBelow32BitsRetried", kMin, 0, 0, 0, 1, 0, kMin, 0, 0, 100, -1, {kMin},
                  0, Drawn::Nothing},
        FrameCase{"ReverseBeyond32Bits", 5, 0, 0, 0, 0, kMin, kMax, 1, 1, 100, -1, {}, 5,
                  Drawn::Black}),
    [](const ::testing::TestParamInfo<FrameCase>& info) { return std::string(info.param.name); });

TEST_F(Compositor, NoOverlayDrawsThePlaceholderOnEveryFrame) {
    frames.record.useFrameRange = 1;
    frames.record.rangeStart = 100;  // excludes frame 3
    frames.record.maintainBlack = 0;
    frames.record.borderOn = 1;
    frames.record.borderSize = 2;
    frames.RunFrame(3);
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"RectFill", "RectFill"}));
    EXPECT_EQ(Arguments("RectFill", 1), (std::vector<double>{10, 10, 40, 30, 0}));
}

// ---------------------------------------------------------------- overlay

struct OverlayCase {
    const char* name;
    int depth;
    std::int32_t fitToFrame, bilinear;
    std::vector<std::string> calls;
};

void PrintTo(const OverlayCase& c, std::ostream* os) { *os << c.name; }

class OverlayDrawing : public Compositor, public ::testing::WithParamInterface<OverlayCase> {};

TEST_P(OverlayDrawing, CopiesOrStretches) {
    const OverlayCase& c = GetParam();
    LoadOverlay(100);
    library.ServeFrames(100, MemoryOverlayLibrary::MakeFrame(16, 12, c.depth));
    frames.record.fitToFrame = c.fitToFrame;
    frames.record.bilinear = c.bilinear;
    frames.record.borderOn = 1;
    frames.record.borderSize = 1;
    frames.RunFrame(0);
    EXPECT_EQ(CallNames(), c.calls);

    const auto calls = operations.calls();
    const OperationCall& init = calls[1];
    const std::uint8_t* served = library.lastServed();
    EXPECT_EQ(init.self, wrapper);
    EXPECT_EQ(init.arguments[0], double(reinterpret_cast<std::uintptr_t>(served + 40)));
    EXPECT_EQ(init.arguments[1], double(reinterpret_cast<std::uintptr_t>(served)));
    EXPECT_EQ(frames.record.overlayBitmap, wrapper);

    const OperationCall& last = calls.back();
    EXPECT_EQ(last.self, &frames.output.bitmap());
    if (c.fitToFrame == 0) {
        EXPECT_EQ(last.source, wrapper);
        EXPECT_EQ(last.arguments, (std::vector<double>{10, 10, 0, 0, 40, 30}));
    } else {
        EXPECT_EQ(last.arguments, (std::vector<double>{10, 10, 40, 30, 0, 0, 16, 12}));
        if (c.depth == 32) {
            EXPECT_EQ(last.source, wrapper);
        } else {
            // Through a 32-bit bitmap of the overlay's size, filled by a whole-frame copy.
            const OperationCall& convert = calls[2];
            ASSERT_EQ(convert.name, "initFromSize");
            EXPECT_NE(convert.self, wrapper);
            EXPECT_EQ(std::vector<double>(convert.arguments.begin() + 1, convert.arguments.end()),
                      (std::vector<double>{16, 12, 32}));
            const OperationCall& copy = calls[3];
            EXPECT_EQ(copy.self, convert.self);
            EXPECT_EQ(copy.source, wrapper);
            EXPECT_EQ(copy.arguments, (std::vector<double>{0, 0, 0, 0, -1, -1}));
            EXPECT_EQ(last.source, convert.self);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, OverlayDrawing,
    ::testing::Values(
        OverlayCase{"Copy32", 32, 0, 0, {"RectFill", "initFromHeader", "BitBlt"}},
        OverlayCase{"Copy24", 24, 0, 1, {"RectFill", "initFromHeader", "BitBlt"}},
        OverlayCase{"Nearest32", 32, 1, 0, {"RectFill", "initFromHeader", "StretchBltNearestFast"}},
        OverlayCase{"Bilinear32", 32, 1, 1,
                    {"RectFill", "initFromHeader", "StretchBltBilinearFast"}},
        OverlayCase{"Nearest24", 24, 1, 0,
                    {"RectFill", "initFromHeader", "initFromSize", "BitBlt",
                     "StretchBltNearestFast"}},
        OverlayCase{"Bilinear16", 16, 1, 1,
                    {"RectFill", "initFromHeader", "initFromSize", "BitBlt",
                     "StretchBltBilinearFast"}}),
    [](const ::testing::TestParamInfo<OverlayCase>& info) { return std::string(info.param.name); });

TEST_F(Compositor, MaskWithCornersOutOfOrderPassesNegativeSizes) {
    LoadOverlay(100);
    frames.record.shadowOn = 1;
    frames.record.shadowSize = 5;
    frames.record.shadowType = 2;
    SetMask(50, 40, 10, 10);
    frames.RunFrame(0);
    EXPECT_EQ(Arguments("BitBlt"), (std::vector<double>{50, 40, 0, 0, -40, -30}));
    EXPECT_TRUE(frames.output.SamePicture(frames.source)) << "W + 1 < 2: no shadow";
}

TEST_F(Compositor, MissingWrapperDrawsOnlyTheDecoration) {
    LoadOverlay(100);
    frames.record.overlayBitmap = nullptr;
    frames.record.borderOn = 1;
    frames.record.fitToFrame = 1;
    EXPECT_EQ(frames.RunFrame(0), 0);
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"RectFill"}));
}

struct BitsCase {
    const char* name;
    int depth;
    std::uint32_t colourTableEntries;
    std::uint32_t compression;
    std::size_t offset;  // of the bits from the record's start
};

void PrintTo(const BitsCase& c, std::ostream* os) { *os << c.name; }

class FrameBits : public Compositor, public ::testing::WithParamInterface<BitsCase> {};

TEST_P(FrameBits, FollowTheColourTableOrMasks) {
    const BitsCase& c = GetParam();
    LoadOverlay(100);
    library.ServeFrames(100, MemoryOverlayLibrary::MakeFrame(16, 12, c.depth,
                                                             c.colourTableEntries, c.compression));
    frames.RunFrame(0);
    const std::uint8_t* served = library.lastServed();
    EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(frames.record.overlayBits), served + c.offset);
    EXPECT_EQ(Arguments("initFromHeader")[0],
              double(reinterpret_cast<std::uintptr_t>(served + c.offset)));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, FrameBits,
    ::testing::Values(BitsCase{"Palette8Full", 8, 0, BI_RGB, 40 + 1024},
                      BitsCase{"Palette8Used16", 8, 16, BI_RGB, 40 + 64},
                      BitsCase{"Palette4", 4, 0, BI_RGB, 40 + 64},
                      BitsCase{"Palette1", 1, 0, BI_RGB, 40 + 8},
                      BitsCase{"Masks16", 16, 0, BI_BITFIELDS, 40 + 12},
                      BitsCase{"Masks32", 32, 0, BI_BITFIELDS, 40 + 12},
                      BitsCase{"Plain16", 16, 0, BI_RGB, 40},
                      BitsCase{"Plain24", 24, 0, BI_RGB, 40}),
    [](const ::testing::TestParamInfo<BitsCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- extreme values

struct ExtremeCase {
    const char* name;
    std::int32_t left, top, right, bottom, borderSize, shadowSize, shadowShift;
};

void PrintTo(const ExtremeCase& c, std::ostream* os) { *os << c.name; }

class ExtremeMasks : public Compositor, public ::testing::WithParamInterface<ExtremeCase> {};

// Whatever the mask, border and shadow, the module writes nothing outside the
// output, and hands the host only values that its 32-bit `long` can hold.
TEST_P(ExtremeMasks, StayInsideTheFrameAndTheHostsRange) {
    const ExtremeCase& c = GetParam();
    for (std::int32_t editing : {0, 1}) {
        for (std::int32_t style = 0; style < 6; ++style) {
            operations.Clear();
            FilterData& r = frames.record;
            SetMask(c.left, c.top, c.right, c.bottom);
            r.editing = editing;
            r.borderOn = 1;
            r.borderSize = c.borderSize;
            r.shadowOn = 1;
            r.shadowType = style;
            r.shadowSize = c.shadowSize;
            r.shadowShift = c.shadowShift;
            r.shadowPercent = 45;
            ASSERT_EQ(frames.RunFrame(0), 0);
            ASSERT_TRUE(frames.output.GuardsIntact()) << "style " << style;
            for (const OperationCall& call : operations.calls()) {
                for (std::size_t i = 0; i < 4; ++i) {
                    ASSERT_GE(call.arguments[i], INT_MIN) << call.name;
                    ASSERT_LE(call.arguments[i], INT_MAX) << call.name;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Masks, ExtremeMasks,
    ::testing::Values(ExtremeCase{"Everything", kMin, kMin, kMax, kMax, kMax, kMax, kMin},
                      ExtremeCase{"Reversed", kMax, kMax, kMin, kMin, kMin, kMax, kMax},
                      ExtremeCase{"HugeBorder", 10, 10, 50, 40, kMax, 30, -30},
                      ExtremeCase{"NegativeBorder", 10, 10, 50, 40, kMin, 30, 7},
                      ExtremeCase{"FarLeft", kMin, 5, kMin + 60, 45, 4, 20, -20},
                      ExtremeCase{"WideFromTheLeft", kMin + 1, 5, kMax, 45, 3, 6, 7},
                      ExtremeCase{"TallFromTheTop", 5, kMin, 60, kMax - 1, 3, 6, -7},
                      ExtremeCase{"FarBottomRight", 60, 45, kMax, kMax, 50, 1000, -1000}),
    [](const ::testing::TestParamInfo<ExtremeCase>& info) { return std::string(info.param.name); });

TEST_F(Compositor, BorderBeyondTheHostsRangeIsClippedFirst) {
    frames.record.borderOn = 1;
    frames.record.borderSize = 2000000000;
    SetMask(0, 0, 10, 10);
    frames.RunFrame(0);
    // L - borderSize fits, W + 2 * borderSize does not: the rectangle is cut to the frame.
    EXPECT_EQ(Arguments("RectFill", 0), (std::vector<double>{0, 0, 64, 48, 0}));
}

}  // namespace
