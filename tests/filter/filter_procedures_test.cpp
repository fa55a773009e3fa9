#include "filter/filter_procedures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "filter/filter_data.h"
#include "filter/module_entry.h"
#include "hostkit/bitmap_operations.h"
#include "hostkit/host_services.h"
#include "hostkit/processing_driver.h"
#include "hostkit/script_line.h"
#include "render/bitmap_objects.h"
#include "source/avi_library.h"
#include "source/handle_registry.h"

namespace {

// The frame-count query of a fake AVI file library; nothing else of it is
// reached by the procedures under test.
struct FakeStream {
    long length;
    int lengthQueries;
};

long FakeStreamLength(AviStreamHandle stream) {
    auto* fake = reinterpret_cast<FakeStream*>(stream);
    ++fake->lengthQueries;
    return fake->length;
}

AviLibrary FakeLibrary() {
    AviLibrary library{};
    library.StreamLength = &FakeStreamLength;
    return library;
}

class FilterProceduresTest : public ::testing::Test {
protected:
    FilterProceduresTest() : instance_(g_filterDefinition) {
        g_filterVTables.pvtblVBitmap = &HostBitmapOperations();
        previousLibrary_ = UseAviLibrary(&library_);
    }
    ~FilterProceduresTest() override {
        UseAviLibrary(previousLibrary_);
        // What unloading the module does with the wrappers the starts made.
        ReleaseTrackedHandles();
    }

    FilterData& record() { return instance_.recordAs<FilterData>(); }
    FilterActivation& activation() { return instance_.activation(); }
    void SetMask(int left, int top, int right, int bottom) {
        record().maskLeft = left;
        record().maskTop = top;
        record().maskRight = right;
        record().maskBottom = bottom;
    }

    AviLibrary library_ = FakeLibrary();
    const AviLibrary* previousLibrary_ = nullptr;
    FilterInstance instance_;
};

// ---------------------------------------------------------------------------
// ParamProc through the driver, as the host runs it

struct FrameSize {
    int width, height;
    long pitch;
};

class ParamProcTest : public FilterProceduresTest,
                      public ::testing::WithParamInterface<FrameSize> {};

TEST_P(ParamProcTest, AsksForAnOutputBufferWithRowsPaddedToEightBytes) {
    const FrameSize& size = GetParam();
    ProcessingPass pass(instance_, size.width, size.height);
    EXPECT_EQ(pass.paramResult(), 1);
    EXPECT_EQ(pass.output().bitmap.pitch, size.pitch);
    EXPECT_EQ(pass.output().bitmap.w, size.width) << "only the pitch is the filter's";
    EXPECT_EQ(pass.output().bitmap.h, size.height);
    EXPECT_EQ(pass.output().bitmap.depth, 32);
    EXPECT_NE(pass.output().bitmap.data, pass.source().bitmap.data);
    EXPECT_EQ(record().frameWidth, size.width);
    EXPECT_EQ(record().frameHeight, size.height);
}

INSTANTIATE_TEST_SUITE_P(Widths, ParamProcTest,
                         ::testing::Values(FrameSize{641, 3, 2568}, FrameSize{640, 480, 2560},
                                           FrameSize{1, 1, 8}, FrameSize{2, 5, 8},
                                           FrameSize{3, 2, 16}));

// ---------------------------------------------------------------------------
// StartProc

std::uint32_t Bits(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

TEST_F(FilterProceduresTest, StartWithoutAStreamKeepsLengthAndCounterYetMakesAWrapper) {
    record().overlayLength = 17;
    record().overlayFrameCounter = 5;
    EXPECT_EQ(StartProc(&activation(), &HostFilterFunctions()), 0);
    EXPECT_EQ(record().overlayLength, 17);
    EXPECT_EQ(record().overlayFrameCounter, 5);
    ASSERT_NE(record().overlayBitmap, nullptr);
    EXPECT_EQ(record().overlayBitmap->operations, &HostBitmapOperations());
    EXPECT_EQ(Bits(record().randScale), 0x47000000u);
}

TEST_F(FilterProceduresTest, StartWithAStreamRereadsItsLengthAndRewinds) {
    FakeStream stream{250, 0};
    record().aviStream = reinterpret_cast<AviStreamHandle>(&stream);
    record().overlayLength = 3;
    record().overlayFrameCounter = 99;
    {
        ProcessingPass pass(instance_, 16, 16);
        EXPECT_EQ(stream.lengthQueries, 1);
        EXPECT_EQ(record().overlayLength, 250);
        EXPECT_EQ(record().overlayFrameCounter, 0);
        EXPECT_EQ(Bits(record().randScale), 0x47000000u);
    }
    record().aviStream = nullptr;
}

TEST_F(FilterProceduresTest, EveryStartMakesAWrapperOfItsOwn) {
    StartProc(&activation(), &HostFilterFunctions());
    VBitmap* first = record().overlayBitmap;
    StartProc(&activation(), &HostFilterFunctions());
    VBitmap* second = record().overlayBitmap;
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(first->operations, &HostBitmapOperations()) << "the first is left intact";
    EXPECT_EQ(second->operations, &HostBitmapOperations());
    // A wrapper takes frames through the host's operations.
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = 2;
    header.biHeight = 2;
    header.biBitCount = 32;
    Pixel32 bits[4] = {};
    EXPECT_EQ(second->operations->initFromHeader(second, bits, &header), second);
    EXPECT_EQ(second->w, 2);
}

TEST_F(FilterProceduresTest, EndAndDeinitLeaveTheRecordAlone) {
    SetMask(1, 2, 3, 4);
    const FilterData before = record();
    EXPECT_EQ(EndProc(&activation(), &HostFilterFunctions()), 0);
    DeinitProc(&activation(), &HostFilterFunctions());
    EXPECT_EQ(std::memcmp(&before, &record(), sizeof before), 0);
}

// ---------------------------------------------------------------------------
// StringProc and FssProc

struct MaskText {
    int left, top, right, bottom;
    const char* description;
    const char* scriptLine;
};

class MaskTextTest : public FilterProceduresTest,
                     public ::testing::WithParamInterface<MaskText> {};

TEST_P(MaskTextTest, DescribesTheMaskAndWritesTheScriptLine) {
    const MaskText& c = GetParam();
    SetMask(c.left, c.top, c.right, c.bottom);
    std::vector<char> description(80, '#');
    StringProc(&activation(), &HostFilterFunctions(), description.data());
    EXPECT_STREQ(description.data(), c.description);
    EXPECT_LE(std::strlen(description.data()), static_cast<std::size_t>(kDescriptionMaxLength));
    EXPECT_EQ(description[std::strlen(c.description) + 1], '#');

    std::vector<char> line(80, '#');
    EXPECT_TRUE(FssProc(&activation(), &HostFilterFunctions(), line.data(), 80));
    EXPECT_STREQ(line.data(), c.scriptLine);
    EXPECT_LE(std::strlen(line.data()), static_cast<std::size_t>(kScriptLineMaxLength));
}

TEST_P(MaskTextTest, TheScriptLineRestoresExactlyTheMask) {
    const MaskText& c = GetParam();
    SetMask(c.left, c.top, c.right, c.bottom);
    char line[kScriptLineMaxLength + 1];
    FssProc(&activation(), &HostFilterFunctions(), line, sizeof line);

    FilterInstance restored(g_filterDefinition);
    std::string error;
    ASSERT_TRUE(RunScriptLine(restored.activation(), line, error)) << error;
    const FilterData& mask = restored.recordAs<FilterData>();
    EXPECT_EQ(mask.maskLeft, c.left);
    EXPECT_EQ(mask.maskTop, c.top);
    EXPECT_EQ(mask.maskRight, c.right);
    EXPECT_EQ(mask.maskBottom, c.bottom);
}

INSTANTIATE_TEST_SUITE_P(
    Masks, MaskTextTest,
    ::testing::Values(
        MaskText{10, 20, 110, 220, " (10,20 - 110,220)", "Config(10,20,110,220)"},
        MaskText{-5, 0, 30, 40, " (-5,0 - 30,40)", "Config(-5,0,30,40)"},
        MaskText{300, 200, 100, 50, " (300,200 - 100,50)", "Config(300,200,100,50)"},
        MaskText{0, 0, 0, 0, " (0,0 - 0,0)", "Config(0,0,0,0)"},
        MaskText{INT_MIN, INT_MIN, INT_MIN, INT_MIN,
                 " (-2147483648,-2147483648 - -2147483648,-2147483648)",
                 "Config(-2147483648,-2147483648,-2147483648,-2147483648)"},
        MaskText{INT_MAX, INT_MIN, INT_MAX, INT_MIN,
                 " (2147483647,-2147483648 - 2147483647,-2147483648)",
                 "Config(2147483647,-2147483648,2147483647,-2147483648)"}));

TEST_F(FilterProceduresTest, TheLongestLinesFillTheirStatedLengths) {
    SetMask(INT_MIN, INT_MIN, INT_MIN, INT_MIN);
    char description[kDescriptionMaxLength + 1];
    StringProc(&activation(), &HostFilterFunctions(), description);
    EXPECT_EQ(std::strlen(description), 52u);
    char line[kScriptLineMaxLength + 1];
    FssProc(&activation(), &HostFilterFunctions(), line, sizeof line);
    EXPECT_EQ(std::strlen(line), 55u);
}

TEST_F(FilterProceduresTest, ScriptLineIsCutToAShortBufferAndAlwaysTerminated) {
    SetMask(10, 20, 110, 220);
    const std::string full = "Config(10,20,110,220)";
    for (int length : {0, 1, 2, 7, 20, 21, 22, 23}) {
        std::vector<char> buffer(64, '#');
        EXPECT_TRUE(FssProc(&activation(), &HostFilterFunctions(), buffer.data(), length));
        if (length > 0) {
            const std::size_t kept = std::min<std::size_t>(full.size(), length - 1);
            EXPECT_EQ(std::string(buffer.data()), full.substr(0, kept)) << length;
        }
        const std::size_t untouchedFrom = length > 0 ? std::min<std::size_t>(full.size() + 1, length) : 0;
        for (std::size_t i = untouchedFrom; i < buffer.size(); ++i) {
            ASSERT_EQ(buffer[i], '#') << "length " << length << " wrote byte " << i;
        }
    }
    EXPECT_TRUE(FssProc(&activation(), &HostFilterFunctions(), nullptr, 10));
    char one = '#';
    FssProc(&activation(), &HostFilterFunctions(), &one, -5);
    EXPECT_EQ(one, '#');
}

// ---------------------------------------------------------------------------
// ScriptConfig

TEST_F(FilterProceduresTest, ConfigStoresAnyFourIntegersUnchangedAndNothingElse) {
    auto* bytes = static_cast<unsigned char*>(instance_.record());
    for (std::size_t i = 0; i < sizeof(FilterData); ++i) {
        bytes[i] = static_cast<unsigned char>(i * 7 + 3);
    }
    const FilterData before = record();
    std::string error;
    ASSERT_TRUE(RunScriptLine(activation(), "Config(300,200,100,50)", error)) << error;
    FilterData expected = before;
    expected.maskLeft = 300;
    expected.maskTop = 200;
    expected.maskRight = 100;
    expected.maskBottom = 50;
    EXPECT_EQ(std::memcmp(&expected, &record(), sizeof expected), 0);
}

TEST_F(FilterProceduresTest, ConfigCalledWithTooFewArgumentsChangesNothing) {
    SetMask(1, 2, 3, 4);
    CScriptValue two[2] = {};
    two[0].type = two[1].type = CScriptValue::T_INT;
    two[0].value.i = 70;
    two[1].value.i = 80;
    ScriptConfig(nullptr, &activation(), two, 2);
    ScriptConfig(nullptr, &activation(), nullptr, 4);
    EXPECT_EQ(record().maskLeft, 1);
    EXPECT_EQ(record().maskBottom, 4);
}

TEST(ScriptObject, OffersConfigWithFourIntegersAndEndsWithANullRow) {
    ASSERT_NE(g_scriptObject.func_list, nullptr);
    EXPECT_EQ(g_scriptObject.lookup, nullptr);
    EXPECT_EQ(g_scriptObject.obj_list, nullptr);
    EXPECT_EQ(g_scriptObject.func_list[0].func_ptr, &ScriptConfig);
    EXPECT_STREQ(g_scriptObject.func_list[0].name, "Config");
    EXPECT_STREQ(g_scriptObject.func_list[0].arg_list, "0iiii");
    EXPECT_EQ(g_scriptObject.func_list[1].func_ptr, nullptr);
    EXPECT_EQ(g_scriptObject.func_list[1].name, nullptr);
    EXPECT_EQ(g_scriptObject.func_list[1].arg_list, nullptr);
}

}  // namespace
