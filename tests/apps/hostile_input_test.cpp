// The runner given inputs that lie or misbehave: headers declaring huge
// pictures, overlays whose frames do not decode, a FIFO in place of an
// overlay file, values with line breaks, absurd sample aspect ratios, masks
// far larger than the picture. Each must end in one line on stderr and the
// right exit status, or in a sound picture, within a bounded amount of
// memory.
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <tuple>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/crc.h>
#include <libswscale/swscale.h>
}

#include "tests/apps/damaged_clips.h"
#include "tests/apps/runner_harness.h"

namespace {

// What a run that refuses its input at once may take: the program, FFmpeg's
// libraries and one small clip's buffers, far below what a lying header
// would make it allocate.
constexpr long kRefusalMemoryKiB = 200 * 1024;

constexpr int kHugeJpegSide = 13000;
constexpr std::int32_t kTallHeight = 1000000;

class HostileInputTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        TestClips();
        const ScratchFolder& folder = Folder();
        RunFfmpeg("-f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 12 -c:v mjpeg '" +
                  folder / "mjpeg.avi" + "'");
        RunFfmpeg("-f lavfi -i testsrc2=size=48x32:rate=25 -frames:v 10 -c:v cinepak '" +
                  folder / "cinepak.avi" + "'");
    }
    static const ScratchFolder& Folder() {
        static const ScratchFolder folder;
        return folder;
    }
    // A copy of the MJPEG clip whose frames from `firstFrame` on declare
    // 13000x13000 pictures.
    std::string HugeJpegFrames(int firstFrame) {
        std::vector<std::uint8_t> bytes = ReadFileBytes(Folder() / "mjpeg.avi");
        EXPECT_GT(SetJpegFrameSizes(bytes, firstFrame, kHugeJpegSide, kHugeJpegSide), 0);
        const std::string path = Folder() / ("huge-from-" + std::to_string(firstFrame) + ".avi");
        WriteFileBytes(path, bytes);
        return path;
    }
    void ExpectOneLineFailure(const RunResult& run, int exitCode, const std::string& part) {
        EXPECT_EQ(run.exitCode, exitCode) << run.errorText;
        EXPECT_NE(run.errorText.find(part), std::string::npos) << run.errorText;
        EXPECT_EQ(run.errorText.rfind("quillmere: ", 0), 0u) << run.errorText;
        EXPECT_EQ(std::count(run.errorText.begin(), run.errorText.end(), '\n'), 1)
            << run.errorText;
        EXPECT_TRUE(out_.Files().empty());
    }

    ScratchFolder out_;
};

TEST_F(HostileInputTest, AMainDeclaringAHugePictureIsRefusedBeforeItsMemoryIsTaken) {
    std::vector<std::uint8_t> bytes = ReadFileBytes(Folder() / "cinepak.avi");
    ASSERT_TRUE(SetAviPictureSize(bytes, 48, kTallHeight));
    const std::string tall = Folder() / "tall.avi";
    WriteFileBytes(tall, bytes);
    const RunResult run = RunQuillmere({"render", tall, "-o", out_ / "out.mkv", "-q"});
    ExpectOneLineFailure(run, 1, "declares a picture of 48x1000000, beyond the limit");
    EXPECT_LT(run.peakMemoryKiB, kRefusalMemoryKiB);
}

TEST_F(HostileInputTest, MaxPixelsMovesTheLimitBothWays) {
    const std::string pixels = std::to_string(kMainWidth * kMainHeight);
    const std::string fewer = std::to_string(kMainWidth * kMainHeight - 1);
    ExpectOneLineFailure(RunQuillmere({"render", Clip("main.mkv"), "-o", out_ / "a.mkv",
                                       "--max-pixels", fewer}),
                         1, "beyond the limit of " + fewer + " pixels on a side and " + fewer);
    const RunResult run = RunQuillmere(
        {"render", Clip("main.mkv"), "-o", out_ / "b.mkv", "--max-pixels", pixels});
    EXPECT_EQ(run.exitCode, 0) << run.errorText;
    EXPECT_EQ(DecodeAll(out_ / "b.mkv").size(), static_cast<std::size_t>(kMainFrames));
}

TEST_F(HostileInputTest, AnOverlayWhoseFirstFrameCannotBeDecodedFailsAtOpen) {
    const RunResult run = RunQuillmere({"render", Clip("main.mkv"), "-o", out_ / "out.mkv",
                                        "--overlay", HugeJpegFrames(0), "-q"});
    ExpectOneLineFailure(run, 1, "its first frame cannot be decoded");
    EXPECT_LT(run.peakMemoryKiB, kRefusalMemoryKiB);
}

class LaterUndecodableFrames : public HostileInputTest,
                               public testing::WithParamInterface<bool> {};

TEST_P(LaterUndecodableFrames, AreCountedInAClosingLineAndFailTheJobWithStrict) {
    const bool strict = GetParam();
    // Frames 4-11 fail; the main's 30 frames take overlay frames 0-11 once.
    std::vector<std::string> arguments = {"render", Clip("main.mkv"), "-o", out_ / "out.mkv",
                                          "--overlay", HugeJpegFrames(4), "-q"};
    if (strict) {
        arguments.push_back("--strict");
    }
    const RunResult run = RunQuillmere(arguments);
    const std::string counted = "8 overlay frames of '";
    if (strict) {
        ExpectOneLineFailure(run, 1, counted);
        EXPECT_NE(run.errorText.find("(--strict)"), std::string::npos) << run.errorText;
        return;
    }
    EXPECT_EQ(run.exitCode, 0) << run.errorText;
    EXPECT_NE(run.errorText.find(counted), std::string::npos) << run.errorText;
    EXPECT_NE(run.errorText.find("could not be decoded"), std::string::npos) << run.errorText;
    EXPECT_EQ(std::count(run.errorText.begin(), run.errorText.end(), '\n'), 1) << run.errorText;
    EXPECT_EQ(out_.Files(), std::vector<std::string>{"out.mkv"});
}

INSTANTIATE_TEST_SUITE_P(Strictness, LaterUndecodableFrames, testing::Bool(),
                         [](const auto& info) { return info.param ? "Strict" : "Lenient"; });

TEST_F(HostileInputTest, AFifoAsOverlayIsRefusedWithoutBeingOpened) {
    const std::string fifo = out_ / "overlay.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Should the runner open the FIFO after all, a writer comes by and
    // closes it so the test fails instead of hanging.
    std::atomic<bool> finished{false};
    std::thread unblocker([&] {
        for (int waited = 0; waited < 200 && !finished; ++waited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (!finished) {
            close(open(fifo.c_str(), O_RDWR));
        }
    });
    const RunResult run = RunQuillmere(
        {"render", Clip("main.mkv"), "-o", out_ / "out.mkv", "--overlay", fifo, "-q"});
    finished = true;
    unblocker.join();
    std::remove(fifo.c_str());
    ExpectOneLineFailure(run, 1, "cannot open the overlay '" + fifo + "': not a regular file");
}

TEST_F(HostileInputTest, TheMainVideoMayComeFromStandardInput) {
    const RunResult run =
        RunQuillmere({"render", "-", "-o", out_ / "piped.mkv", "-q"}, Clip("main.mkv"));
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    ASSERT_EQ(run.errorText, "");
    EXPECT_EQ(DecodeAll(out_ / "piped.mkv").size(), static_cast<std::size_t>(kMainFrames));
}

// Widths whose rows are no multiple of libswscale's vector stores: a
// conversion straight into the filter's rows ran past each row, over the
// start of the row above and, for the top row, past the picture (a damaged
// header declaring 56 for 48 aborted the runner). Every pixel of a frame
// must be what the ffmpeg program's own conversion gives.
class UnalignedWidth : public HostileInputTest, public testing::WithParamInterface<int> {};

TEST_P(UnalignedWidth, ConvertsEveryPixelOfTheMainVideo) {
    const int width = GetParam();
    constexpr int kHeight = 32;
    constexpr int kTolerance = 16;
    const std::string size = std::to_string(width) + "x" + std::to_string(kHeight);
    const std::string main = out_ / "main.mp4";
    // Smooth colours: converters that site and interpolate chroma differently
    // agree on them within a few code values, while a row written over by
    // another is far off.
    RunFfmpeg("-f lavfi -i gradients=size=" + size + ":rate=25:speed=0.01:seed=1 -frames:v 4 " +
              "-c:v mpeg4 -q:v 1 '" + main + "'");
    RunFfmpeg("-i '" + main + "' -vf 'select=eq(n\\,2),scale=flags=accurate_rnd+full_chroma_int' " +
              "-frames:v 1 -pix_fmt bgra " +
              "-f rawvideo '" + out_ / "expected.raw" + "'");
    // A small placeholder in the top-left corner; every other pixel is the main's.
    constexpr int kCorner = 8;
    const RunResult run = RunQuillmere({"frame", main, "--at", "2", "-o", out_ / "frame.png",
                                        "--mask", "0,0,w4,h4", "-q"});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    RunFfmpeg("-i '" + out_ / "frame.png" + "' -pix_fmt bgra -f rawvideo '" + out_ / "got.raw" +
              "'");
    const std::vector<std::uint8_t> expected = ReadFileBytes(out_ / "expected.raw");
    const std::vector<std::uint8_t> got = ReadFileBytes(out_ / "got.raw");
    ASSERT_EQ(got.size(), static_cast<std::size_t>(width) * kHeight * 4);
    ASSERT_EQ(got.size(), expected.size());
    int wrong = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        const std::size_t x = i / 4 % static_cast<std::size_t>(width);
        const std::size_t y = i / 4 / static_cast<std::size_t>(width);
        if (x < kCorner && y < kCorner) {
            continue;
        }
        if (i % 4 != 3 && std::abs(int(got[i]) - int(expected[i])) > kTolerance) {
            ++wrong;
        }
    }
    // Two converters may still part at an odd chroma sample; rows written over
    // put every row's first pixels off.
    EXPECT_LE(wrong, static_cast<int>(got.size() / 100)) << "bytes off in a " << size << " frame";
}

INSTANTIATE_TEST_SUITE_P(Widths, UnalignedWidth, testing::Values(56, 34, 100, 64),
                         [](const auto& info) { return "Width" + std::to_string(info.param); });

TEST_F(HostileInputTest, EchoedPathsKeepTheErrorOnOneLine) {
    const std::string name = out_ / "no\nsuch\rclip.avi";
    const RunResult run = RunQuillmere({"render", name, "-o", out_ / "out.mkv"});
    ExpectOneLineFailure(run, 1, "no\\nsuch\\rclip.avi'");
}

// Settings files that nest 100,000 arrays (200 KB, under the size limit) in
// the places that were copied whole, and one over the size limit: every
// command that reads settings refuses them in one line, before any work.
struct SettingsFileCase {
    const char* name;
    const char* text;  // with @ for 100,000 nested arrays, or 2 MiB of blanks when huge
    bool huge;
};
void PrintTo(const SettingsFileCase& test, std::ostream* out) { *out << test.name; }

const SettingsFileCase kHostileSettingsFiles[] = {
    {"DeepVersion", R"({"format": "quillmere-settings", "version": @})", false},
    {"DeepFormatBeforeAnotherKey", R"({"format": @, "version": 1})", false},
    {"DeepInsideTheMask",
     R"({"format": "quillmere-settings", "version": 1,
         "mask": {"left": @, "top": 0, "right": 9, "bottom": 9}})",
     false},
    {"OverTheSizeLimit", R"({"format": "quillmere-settings", "version": 1@})", true},
};

class HostileSettingsFile
    : public HostileInputTest,
      public testing::WithParamInterface<std::tuple<SettingsFileCase, const char*>> {};

TEST_P(HostileSettingsFile, IsRefusedInOneLine) {
    const auto& [file, command] = GetParam();
    const std::string path = out_ / "settings.json";
    constexpr std::size_t kDepth = 100000;
    std::string text = file.text;
    text.replace(text.find('@'), 1,
                 file.huge ? std::string(2 << 20, ' ')
                           : std::string(kDepth, '[') + std::string(kDepth, ']'));
    WriteFileBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
    std::vector<std::string> arguments = {command, Clip("main.mkv"), "--settings", path};
    if (std::string(command) == "render") {
        arguments.insert(arguments.end(), {"-o", out_ / "out.mkv"});
    } else if (std::string(command) == "frame") {
        arguments.insert(arguments.end(), {"--at", "0", "-o", out_ / "out.png"});
    }
    const RunResult run = RunQuillmere(arguments);
    std::remove(path.c_str());
    ExpectOneLineFailure(run, 2, "settings file '" + path + "'");
    EXPECT_NE(run.errorText.find(file.huge ? "too large" : "JSON nested deeper than"),
              std::string::npos)
        << run.errorText;
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileSettingsFile,
    testing::Combine(testing::ValuesIn(kHostileSettingsFiles),
                     testing::Values("render", "frame", "edit")),
    [](const testing::TestParamInfo<HostileSettingsFile::ParamType>& info) {
        return std::string(std::get<0>(info.param).name) + "For" +
               static_cast<char>(std::toupper(std::get<1>(info.param)[0])) +
               (std::get<1>(info.param) + 1);
    });

// Samples above the picture's depth (raw video stores any 16 bits) read as
// the depth's maximum: a picture of all-ones words composites exactly as the
// same picture clamped does, as the main and as the overlay.
struct AboveDepthCase {
    const char* name;
    const char* pixelFormat;
    int planes;  // each 32x24, two bytes a sample
    int chromaDivisor;  // samples of the second and third planes per luma sample, as 1/n
    bool asOverlay;
};
void PrintTo(const AboveDepthCase& test, std::ostream* out) { *out << test.name; }

const AboveDepthCase kAboveDepthCases[] = {
    {"PlanarRgbMain", "gbrp10le", 3, 1, false},
    {"GreyMain", "gray10le", 1, 1, false},
    {"YuvMain", "yuv420p10le", 3, 4, false},
    {"PlanarRgbOverlay", "gbrp10le", 3, 1, true},
    {"GreyOverlay", "gray10le", 1, 1, true},
    {"YuvOverlay", "yuv420p10le", 3, 4, true},
};

class AboveDepth : public HostileInputTest,
                   public testing::WithParamInterface<AboveDepthCase> {
protected:
    // A 32x24 clip of `format` whose every sample word is `word`.
    std::string RawClip(const std::string& name, std::uint16_t word) {
        const AboveDepthCase& test = GetParam();
        constexpr int kSamples = 32 * 24;
        const int words = kSamples + (test.planes - 1) * kSamples / test.chromaDivisor;
        std::vector<std::uint8_t> bytes;
        for (int index = 0; index < words; ++index) {
            bytes.push_back(static_cast<std::uint8_t>(word & 0xFF));
            bytes.push_back(static_cast<std::uint8_t>(word >> 8));
        }
        const std::string raw = out_ / (name + ".raw");
        WriteFileBytes(raw, bytes);
        const std::string clip = out_ / (name + ".nut");
        RunFfmpeg(std::string("-f rawvideo -pixel_format ") + test.pixelFormat +
                  " -video_size 32x24 -framerate 25 -i '" + raw + "' -c:v copy '" + clip + "'");
        return clip;
    }
    std::vector<Picture> Composite(const std::string& clip, const std::string& png) {
        const std::vector<std::string> arguments =
            GetParam().asOverlay
                ? std::vector<std::string>{"frame", Clip("main.mkv"), "--at", "0", "-o", png,
                                           "--overlay", clip, "--mask", "0,0,w8,h8"}
                : std::vector<std::string>{"frame", clip, "--at", "0", "-o", png, "--mask",
                                           "0,0,w8,h8"};
        const RunResult run = RunQuillmere(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.errorText;
        return DecodeAll(png);
    }
};

TEST_P(AboveDepth, ReadsAsTheDepthsMaximum) {
    const std::vector<Picture> above = Composite(RawClip("above", 0xFFFF), out_ / "above.png");
    const std::vector<Picture> clamped = Composite(RawClip("clamped", 0x03FF), out_ / "max.png");
    ASSERT_EQ(above.size(), 1u);
    ASSERT_EQ(clamped.size(), 1u);
    std::string where;
    EXPECT_TRUE(SameColors(above[0], clamped[0], where)) << where;
}

INSTANTIATE_TEST_SUITE_P(Formats, AboveDepth, testing::ValuesIn(kAboveDepthCases),
                         [](const testing::TestParamInfo<AboveDepthCase>& info) {
                             return info.param.name;
                         });

// A PNG whose pHYs chunk states the sample aspect ratio 174763:178956971:
// its width over height in int arithmetic overflowed, and the placement was
// made from the wrapped number. Taken as square, as main or as overlay, it
// places as the same picture without the chunk does, with a note.
void AppendWord(std::vector<std::uint8_t>& bytes, std::uint32_t word) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<std::uint8_t>(word >> shift));
    }
}

std::uint32_t ReadWord(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
           (std::uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
}

// `png` with its pHYs chunk (if any) replaced by one stating x:y, after IHDR.
std::vector<std::uint8_t> WithPhysChunk(const std::vector<std::uint8_t>& png, std::uint32_t x,
                                        std::uint32_t y) {
    constexpr std::size_t kSignature = 8;
    constexpr std::size_t kChunkFrame = 12;  // length, type, CRC
    std::vector<std::uint8_t> phys = {'p', 'H', 'Y', 's'};
    AppendWord(phys, x);
    AppendWord(phys, y);
    phys.push_back(0);  // no unit: a ratio alone
    std::vector<std::uint8_t> bytes(png.begin(), png.begin() + kSignature);
    for (std::size_t at = kSignature; at + kChunkFrame <= png.size();) {
        const std::size_t length = ReadWord(png, at);
        const std::string type(png.begin() + static_cast<long>(at) + 4,
                               png.begin() + static_cast<long>(at) + 8);
        if (type != "pHYs") {
            bytes.insert(bytes.end(), png.begin() + static_cast<long>(at),
                         png.begin() + static_cast<long>(at + kChunkFrame + length));
        }
        if (type == "IHDR") {
            AppendWord(bytes, static_cast<std::uint32_t>(phys.size() - 4));
            bytes.insert(bytes.end(), phys.begin(), phys.end());
            AppendWord(bytes, av_crc(av_crc_get_table(AV_CRC_32_IEEE_LE), 0xFFFFFFFFu,
                                     phys.data(), phys.size()) ^ 0xFFFFFFFFu);
        }
        at += kChunkFrame + length;
    }
    return bytes;
}

TEST_F(HostileInputTest, AnAbsurdSampleAspectIsTakenAsSquare) {
    const std::string square = out_ / "square.png";
    const std::string absurd = out_ / "absurd.png";
    RunFfmpeg("-f lavfi -i testsrc=size=32x24 -frames:v 1 '" + square + "'");
    WriteFileBytes(absurd, WithPhysChunk(ReadFileBytes(square), 174763, 178956971));
    struct Placing {
        std::string main;
        std::string overlay;
    };
    const std::string main = Clip("main.mkv");
    for (const Placing& placing : {Placing{main, absurd}, Placing{absurd, square}}) {
        const bool absurdMain = placing.main == absurd;
        const RunResult plain = RunQuillmere(
            {"place", absurdMain ? square : main, "--overlay", square, "--size", "50%"});
        const RunResult run =
            RunQuillmere({"place", placing.main, "--overlay", placing.overlay, "--size", "50%"});
        ASSERT_EQ(plain.exitCode, 0) << plain.errorText;
        EXPECT_EQ(run.exitCode, 0) << run.errorText;
        EXPECT_EQ(run.outputText, plain.outputText);
        const std::string note = std::string(absurdMain ? "the main video" : "the overlay") +
                                 "'s sample aspect ratio 174763:178956971 is beyond 1:100";
        EXPECT_NE(run.errorText.find(note), std::string::npos) << run.errorText;
        EXPECT_EQ(std::count(run.errorText.begin(), run.errorText.end(), '\n'), 1)
            << run.errorText;
    }
}

// A filtered scaler into a mask ten times the main picture, which shows the
// middle of it (or its corner): only what the picture shows is scaled, so
// the run takes about the memory of a nearest stretch, and shows what
// libswscale's scale of the whole mask, worked out here, gives there.
struct LargeMaskCase {
    const char* name;
    const char* scaler;
    int flags;
    int maskLeft, maskTop;
};
void PrintTo(const LargeMaskCase& test, std::ostream* out) { *out << test.name; }

constexpr int kLargeMainWidth = 480;
constexpr int kLargeMainHeight = 360;
constexpr int kMaskTimes = 10;
constexpr int kStillWidth = 80;
constexpr int kStillHeight = 60;
constexpr int kLargeMaskMemoryTimes = 2;

const LargeMaskCase kLargeMaskCases[] = {
    {"LanczosMiddle", "lanczos", SWS_LANCZOS, -2103, -1663},
    {"BicubicCorner", "bicubic", SWS_BICUBIC, 0, 0},
    {"AreaFarCorner", "area", SWS_AREA, -4320, -3240},
};

class LargeMask : public HostileInputTest, public testing::WithParamInterface<LargeMaskCase> {
protected:
    static void SetUpTestSuite() {
        WriteSyntheticClip(Folder() / "large-main.mkv", kLargeMainWidth, kLargeMainHeight,
                           kMainFrames, ClipPattern::Landscape);
        RunFfmpeg("-f lavfi -i testsrc2=size=" + std::to_string(kStillWidth) + "x" +
                  std::to_string(kStillHeight) + " -frames:v 1 '" + Folder() / "still.png" + "'");
    }
    // `head`: the command, the main and where the output goes.
    std::vector<std::string> Arguments(std::vector<std::string> head, const std::string& scaler) {
        const LargeMaskCase& test = GetParam();
        const std::string mask =
            std::to_string(test.maskLeft) + "," + std::to_string(test.maskTop) + "," +
            std::to_string(test.maskLeft + kLargeMainWidth * kMaskTimes) + "," +
            std::to_string(test.maskTop + kLargeMainHeight * kMaskTimes);
        const std::vector<std::string> options = {"--overlay", Folder() / "still.png",
                                                  "--mask",    mask,
                                                  "--fit",     "--alpha",
                                                  "ignore",    "--scaler",
                                                  scaler,      "-q"};
        head.insert(head.end(), options.begin(), options.end());
        return head;
    }
};

TEST_P(LargeMask, ScalesOnlyWhatThePictureShows) {
    const LargeMaskCase& test = GetParam();
    const std::string main = Folder() / "large-main.mkv";
    const RunResult stretched =
        RunQuillmere(Arguments({"render", main, "-o", out_ / "nearest.mkv"}, "nearest"));
    const RunResult scaled =
        RunQuillmere(Arguments({"render", main, "-o", out_ / "filtered.mkv"}, test.scaler));
    ASSERT_EQ(stretched.exitCode, 0) << stretched.errorText;
    ASSERT_EQ(scaled.exitCode, 0) << scaled.errorText;
    EXPECT_LE(scaled.peakMemoryKiB, kLargeMaskMemoryTimes * stretched.peakMemoryKiB);

    const RunResult run = RunQuillmere(
        Arguments({"frame", main, "--at", "3", "-o", out_ / "frame.png"}, test.scaler));
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    const std::vector<Picture> got = DecodeAll(out_ / "frame.png");
    const std::vector<Picture> still = DecodeAll(Folder() / "still.png");
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(still.size(), 1u);

    const int maskWidth = kLargeMainWidth * kMaskTimes;
    const int maskHeight = kLargeMainHeight * kMaskTimes;
    SwsContext* whole = sws_getContext(kStillWidth, kStillHeight, AV_PIX_FMT_BGRA, maskWidth,
                                       maskHeight, AV_PIX_FMT_BGRA, test.flags | SWS_ACCURATE_RND,
                                       nullptr, nullptr, nullptr);
    ASSERT_NE(whole, nullptr);
    Picture expected(maskWidth, maskHeight);
    const std::uint8_t* sourceTop = still[0].top();
    const int sourceStride = still[0].topDownStride();
    std::uint8_t* expectedTop = expected.top();
    const int expectedStride = expected.topDownStride();
    sws_scale(whole, &sourceTop, &sourceStride, 0, kStillHeight, &expectedTop, &expectedStride);
    sws_freeContext(whole);
    int largest = 0;
    for (int y = 0; y < kLargeMainHeight; ++y) {
        const std::uint8_t* shown = got[0].row(y);
        const std::uint8_t* scaledRow = expected.row(y - test.maskTop) - test.maskLeft * 4;
        for (int x = 0; x < kLargeMainWidth; ++x) {
            for (int byte = 0; byte < 3; ++byte) {
                largest = std::max(largest, std::abs(shown[x * 4 + byte] - scaledRow[x * 4 + byte]));
            }
        }
    }
    EXPECT_LE(largest, 1);
}

INSTANTIATE_TEST_SUITE_P(Scalers, LargeMask, testing::ValuesIn(kLargeMaskCases),
                         [](const testing::TestParamInfo<LargeMaskCase>& info) {
                             return info.param.name;
                         });

// At the mask's limit a small overlay needs an upscale beyond what
// libswscale makes: the run says so.
TEST_F(HostileInputTest, AScaleTheLibraryCannotMakeIsSaidToBeOne) {
    const RunResult run =
        RunQuillmere({"render", Clip("main.mkv"), "-o", out_ / "out.mkv", "--overlay",
                      Clip("overlay.avi"), "--size", "99999999x99999999", "--scaler", "lanczos",
                      "-q"});
    ExpectOneLineFailure(run, 1,
                         "cannot scale the overlay '" + Clip("overlay.avi") + "': libswscale "
                         "cannot scale 64x48 to 1000000x1000000 with lanczos");
    EXPECT_LT(run.peakMemoryKiB, kRefusalMemoryKiB);
}

}  // namespace
