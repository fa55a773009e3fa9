// The open sequence and its failure table against a scripted library, the
// chooser request, and the module-wide handle registry.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "filter/filter_data.h"
#include "source/avi_library.h"
#include "source/handle_registry.h"
#include "source/overlay_source.h"
#include "tests/source/recording_window_system.h"

namespace {

enum class Failure { None, Open, NoStream, FormatSize, FormatRead, NoReader, FrameZero };

// What the scripted library does and what it was asked; plain globals since
// the library is a table of plain functions.
struct Script {
    Failure failAt = Failure::None;
    long start = 5;
    long formatSize = 40;
    long length = 120;
    std::int32_t frameWidth = 320;
    std::int32_t frameHeight = 240;
    std::vector<std::string> calls;
    std::vector<long> formatPositions;
    std::vector<bool> formatBlockGiven;
    std::vector<long> framesAsked;
    std::vector<std::string> released;
    unsigned char frame[40 + 16] = {};
    int nextHandle = 0x100;
};
Script g_script;

template <typename Handle>
Handle NewHandle() {
    return reinterpret_cast<Handle>(static_cast<std::uintptr_t>(g_script.nextHandle += 0x10));
}

long FakeFileOpen(AviFileHandle* file, const char* path, unsigned mode) {
    g_script.calls.push_back(std::string("open ") + path + " " + std::to_string(mode));
    if (g_script.failAt == Failure::Open) {
        *file = nullptr;
        return -2;
    }
    *file = NewHandle<AviFileHandle>();
    return 0;
}
long FakeFileGetStream(AviFileHandle, AviStreamHandle* stream, std::uint32_t type, long number) {
    g_script.calls.push_back("stream " + std::to_string(type) + " " + std::to_string(number));
    *stream = g_script.failAt == Failure::NoStream ? nullptr : NewHandle<AviStreamHandle>();
    return *stream != nullptr ? 0 : -3;
}
long FakeStreamStart(AviStreamHandle) { return g_script.start; }
long FakeStreamReadFormat(AviStreamHandle, long position, void* format, long* size) {
    g_script.formatPositions.push_back(position);
    g_script.formatBlockGiven.push_back(format != nullptr);
    if (format == nullptr) {
        if (g_script.failAt == Failure::FormatSize) {
            return -4;
        }
        *size = g_script.formatSize;
        return 0;
    }
    if (g_script.failAt == Failure::FormatRead || *size != g_script.formatSize) {
        return -5;
    }
    std::memset(format, 0xAB, static_cast<std::size_t>(*size));
    return 0;
}
FrameGetterHandle FakeGetFrameOpen(AviStreamHandle, BITMAPINFOHEADER* wanted) {
    g_script.calls.push_back(wanted == nullptr ? "reader default" : "reader wanted");
    return g_script.failAt == Failure::NoReader ? nullptr : NewHandle<FrameGetterHandle>();
}
void* FakeGetFrame(FrameGetterHandle, long position) {
    g_script.framesAsked.push_back(position);
    if (g_script.failAt == Failure::FrameZero) {
        return nullptr;
    }
    // Width and height by byte offset; the record is deliberately unaligned.
    std::memcpy(g_script.frame + 1 + 4, &g_script.frameWidth, 4);
    std::memcpy(g_script.frame + 1 + 8, &g_script.frameHeight, 4);
    return g_script.frame + 1;
}
long FakeStreamLength(AviStreamHandle) { return g_script.length; }
long FakeGetFrameClose(FrameGetterHandle reader) {
    g_script.released.push_back("reader " + std::to_string(reinterpret_cast<std::uintptr_t>(reader)));
    return 0;
}
long FakeStreamRelease(AviStreamHandle stream) {
    g_script.released.push_back("stream " + std::to_string(reinterpret_cast<std::uintptr_t>(stream)));
    return 0;
}
long FakeFileRelease(AviFileHandle file) {
    g_script.released.push_back("file " + std::to_string(reinterpret_cast<std::uintptr_t>(file)));
    return 0;
}

const AviLibrary kScriptedLibrary = {
    &FakeFileOpen,     &FakeFileGetStream, &FakeStreamStart,   &FakeStreamReadFormat,
    &FakeGetFrameOpen, &FakeGetFrame,      &FakeStreamLength,  &FakeGetFrameClose,
    &FakeStreamRelease, &FakeFileRelease,
};

template <typename Handle>
Handle Old(std::uintptr_t value) {
    return reinterpret_cast<Handle>(value);
}

HWND const kDialog = reinterpret_cast<HWND>(0x777);

class OverlaySourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_script = Script{};
        previousLibrary_ = UseAviLibrary(&kScriptedLibrary);
        ReleaseTrackedHandles();
        g_script.released.clear();
        std::memset(&record_, 0, sizeof record_);
        // A previous overlay that is in use when the new file is opened.
        record_.aviFile = Old<AviFileHandle>(1);
        record_.aviStream = Old<AviStreamHandle>(2);
        record_.frameGetter = Old<FrameGetterHandle>(3);
        record_.overlayWidth = 11;
        record_.overlayHeight = 22;
        record_.overlayLength = 33;
        record_.dialogWindow = kDialog;
    }
    void TearDown() override {
        ReleaseTrackedHandles();
        UseAviLibrary(previousLibrary_);
    }

    FilterData record_;
    RecordingWindowSystem windows_;
    UsingWindowSystem using_{windows_};
    const AviLibrary* previousLibrary_ = nullptr;
};

struct FailureRow {
    Failure failAt;
    bool newFile;        // aviFile written by a successful open
    bool streamNull;     // aviStream null (else the new stream)
    bool streamOld;      // aviStream still the old one
    int getter;          // 0: old reader, 1: null, 2: new reader
    bool sizeUpdated;
    bool lengthUpdated;
    bool controlsWritten;
};

class OpenFailureTable : public OverlaySourceTest,
                         public ::testing::WithParamInterface<FailureRow> {};

TEST_P(OpenFailureTable, LeavesTheRecordAsFarAsItGot) {
    const FailureRow row = GetParam();
    g_script.failAt = row.failAt;
    OpenOverlayFile("C:\\clips\\next.avi", record_);

    if (!row.newFile) {
        EXPECT_EQ(record_.aviFile, nullptr) << "what the open call left";
    } else {
        EXPECT_NE(record_.aviFile, Old<AviFileHandle>(1));
    }
    if (row.streamOld) {
        EXPECT_EQ(record_.aviStream, Old<AviStreamHandle>(2));
    } else if (row.streamNull) {
        EXPECT_EQ(record_.aviStream, nullptr);
    } else {
        EXPECT_NE(record_.aviStream, nullptr);
        EXPECT_NE(record_.aviStream, Old<AviStreamHandle>(2));
    }
    switch (row.getter) {
    case 0: EXPECT_EQ(record_.frameGetter, Old<FrameGetterHandle>(3)); break;
    case 1: EXPECT_EQ(record_.frameGetter, nullptr); break;
    default:
        EXPECT_NE(record_.frameGetter, nullptr);
        EXPECT_NE(record_.frameGetter, Old<FrameGetterHandle>(3));
    }
    EXPECT_EQ(record_.overlayWidth, row.sizeUpdated ? 320 : 11);
    EXPECT_EQ(record_.overlayHeight, row.sizeUpdated ? 240 : 22);
    EXPECT_EQ(record_.overlayLength, row.lengthUpdated ? 120 : 33);

    if (row.controlsWritten) {
        EXPECT_EQ(windows_.numbers[std::make_pair(kDialog, kOverlayLengthControl)], 120u);
        EXPECT_EQ(windows_.texts[std::make_pair(kDialog, kOverlaySizeControl)],
                  row.sizeUpdated ? "320 x 240" : "11 x 22");
    } else {
        EXPECT_TRUE(windows_.numbers.empty());
        EXPECT_TRUE(windows_.texts.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OpenFailureTable,
    ::testing::Values(
        //         fail at             newFile streamNull streamOld getter size   length controls
        FailureRow{Failure::Open,       false, false,     true,     0,     false, false, false},
        FailureRow{Failure::NoStream,   true,  true,      false,    0,     false, false, false},
        FailureRow{Failure::FormatSize, true,  false,     false,    0,     false, false, false},
        FailureRow{Failure::FormatRead, true,  false,     false,    0,     false, false, false},
        FailureRow{Failure::NoReader,   true,  false,     false,    1,     false, true,  true},
        FailureRow{Failure::FrameZero,  true,  false,     false,    2,     false, true,  true},
        FailureRow{Failure::None,       true,  false,     false,    2,     true,  true,  true}));

TEST_F(OverlaySourceTest, AsksTheLibraryInItsOwnTerms) {
    OpenOverlayFile("clip.avi", record_);
    const std::vector<std::string> expected = {
        "open clip.avi 0", "stream " + std::to_string(0x73646976) + " 0", "reader default"};
    EXPECT_EQ(g_script.calls, expected);
    // Two format reads at the stream's start: size first, then the block.
    EXPECT_EQ(g_script.formatPositions, (std::vector<long>{5, 5}));
    EXPECT_EQ(g_script.formatBlockGiven, (std::vector<bool>{false, true}));
    // Frame number 0 for the size, not the stream's start position.
    EXPECT_EQ(g_script.framesAsked, (std::vector<long>{0}));
}

TEST_F(OverlaySourceTest, FormatWithoutBytesCountsAsUnreadable) {
    g_script.formatSize = 0;
    OpenOverlayFile("clip.avi", record_);
    EXPECT_EQ(record_.frameGetter, Old<FrameGetterHandle>(3));
    EXPECT_EQ(g_script.formatBlockGiven, (std::vector<bool>{false}));
}

TEST_F(OverlaySourceTest, NegativeLengthIsShownAsUnsigned) {
    g_script.length = -1;
    OpenOverlayFile("clip.avi", record_);
    EXPECT_EQ(record_.overlayLength, -1);
    EXPECT_EQ(windows_.numbers[std::make_pair(kDialog, kOverlayLengthControl)], 4294967295u);
}

TEST_F(OverlaySourceTest, TopDownFrameGivesThePictureHeight) {
    g_script.frameHeight = -240;
    OpenOverlayFile("clip.avi", record_);
    EXPECT_EQ(record_.overlayHeight, 240);
    EXPECT_EQ(windows_.texts[std::make_pair(kDialog, kOverlaySizeControl)], "320 x 240");
}

TEST_F(OverlaySourceTest, LowestHeightSaturatesInsteadOfOverflowing) {
    g_script.frameHeight = INT32_MIN;
    OpenOverlayFile("clip.avi", record_);
    EXPECT_EQ(record_.overlayHeight, INT32_MAX);
}

TEST_F(OverlaySourceTest, EveryOpenedHandleIsReleasedAtUnloadOnlyNewestFirst) {
    OpenOverlayFile("first.avi", record_);
    OpenOverlayFile("second.avi", record_);
    EXPECT_EQ(TrackedHandleCount(), 6u);
    EXPECT_TRUE(g_script.released.empty()) << "nothing is released while the module runs";

    // Released through the library that opened them, whichever is current.
    UseAviLibrary(nullptr);
    ReleaseTrackedHandles();
    ASSERT_EQ(g_script.released.size(), 6u);
    EXPECT_EQ(g_script.released[0].rfind("reader", 0), 0u);
    EXPECT_EQ(g_script.released[1].rfind("stream", 0), 0u);
    EXPECT_EQ(g_script.released[2].rfind("file", 0), 0u);
    EXPECT_EQ(g_script.released[5].rfind("file", 0), 0u);
    EXPECT_EQ(TrackedHandleCount(), 0u);
}

TEST_F(OverlaySourceTest, FailedStepsTrackOnlyWhatWasOpened) {
    g_script.failAt = Failure::NoStream;
    OpenOverlayFile("clip.avi", record_);
    EXPECT_EQ(TrackedHandleCount(), 1u);
    g_script.failAt = Failure::Open;
    OpenOverlayFile("clip.avi", record_);
    EXPECT_EQ(TrackedHandleCount(), 1u);
}

int g_bitmapsReleased = 0;
void CountBitmapRelease(VBitmap*) { ++g_bitmapsReleased; }

TEST_F(OverlaySourceTest, RegistryTakesBitmapsAndIgnoresNull) {
    VBitmap bitmaps[2] = {};
    g_bitmapsReleased = 0;
    TrackBitmapObject(&bitmaps[0], &CountBitmapRelease);
    TrackBitmapObject(nullptr, &CountBitmapRelease);
    TrackBitmapObject(&bitmaps[1], &CountBitmapRelease);
    EXPECT_EQ(TrackedHandleCount(), 2u);
    ReleaseTrackedHandles();
    EXPECT_EQ(g_bitmapsReleased, 2);
}

// --- The chooser -----------------------------------------------------------

HWND const kOwner = reinterpret_cast<HWND>(0x1234);

TEST_F(OverlaySourceTest, ChooserRequestCarriesTheClassicFields) {
    windows_.AnswerWith("/tmp/chosen.avi");
    const char* chosen = ChooseOverlayFile(kOwner, "/tmp/start.avi");
    ASSERT_NE(chosen, nullptr);
    EXPECT_STREQ(chosen, "/tmp/chosen.avi");
    EXPECT_EQ(windows_.initialName(), "/tmp/start.avi");

    const OpenFileRequest& request = windows_.lastRequest();
    EXPECT_EQ(request.lStructSize, 76u);
    EXPECT_EQ(request.hwndOwner, kOwner);
    EXPECT_EQ(request.nFilterIndex, 1u);
    EXPECT_EQ(request.nMaxFile, 260u);
    EXPECT_EQ(request.lpstrFile, chosen) << "the module-wide buffer";
    EXPECT_STREQ(request.lpstrTitle, "Select AVI");
    EXPECT_EQ(request.Flags, 0x00880804u);
    const char filter[] = "AVI file (*.avi,*.avs)\0*.avi;*.avs\0All files (*.*)\0*.*\0";
    ASSERT_NE(request.lpstrFilter, nullptr);
    EXPECT_EQ(std::memcmp(request.lpstrFilter, filter, sizeof filter), 0);
    EXPECT_EQ(request.hInstance, nullptr);
    EXPECT_EQ(request.lpstrCustomFilter, nullptr);
    EXPECT_EQ(request.nMaxCustFilter, 0u);
    EXPECT_EQ(request.lpstrFileTitle, nullptr);
    EXPECT_EQ(request.lpstrInitialDir, nullptr);
    EXPECT_EQ(request.lpstrDefExt, nullptr);
    EXPECT_EQ(request.lpfnHook, nullptr);
    EXPECT_EQ(request.lpTemplateName, nullptr);
}

TEST_F(OverlaySourceTest, CancelledChooserReturnsNullAndKeepsTheRecord) {
    windows_.Cancel();
    const FilterData before = record_;
    EXPECT_EQ(ChooseOverlayFile(kOwner, "/tmp/start.avi"), nullptr);
    EXPECT_EQ(std::memcmp(&before, &record_, sizeof record_), 0);
    EXPECT_EQ(windows_.requestCount(), 1);
}

TEST_F(OverlaySourceTest, ChooserWithoutInitialPathStartsFromTheLastOne) {
    windows_.AnswerWith("/tmp/first.avi");
    ChooseOverlayFile(kOwner, "");
    ChooseOverlayFile(kOwner, nullptr);
    EXPECT_EQ(windows_.initialName(), "/tmp/first.avi");
}

TEST_F(OverlaySourceTest, OverlongInitialPathIsCutToTheBuffer) {
    windows_.Cancel();
    const std::string longPath(600, 'x');
    ChooseOverlayFile(kOwner, longPath.c_str());
    EXPECT_EQ(windows_.initialName(), std::string(259, 'x'));
}

TEST_F(OverlaySourceTest, ChooserAcceptsMissingFileInExistingFolderOnly) {
    windows_.AnswerWith("/tmp/does-not-exist-yet.avi");
    EXPECT_NE(ChooseOverlayFile(kOwner, ""), nullptr);
    windows_.AnswerWith("/no-such-folder-here/clip.avi");
    EXPECT_EQ(ChooseOverlayFile(kOwner, ""), nullptr);
}

}  // namespace
