// Which streams a render reads and keeps: the main's and the overlay's video
// stream, the main's audio and subtitle streams with their tags, and the
// output sent down a pipe. Files with several streams are made with the
// ffmpeg program and read back with libavformat.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/apps/media_readback.h"
#include "tests/apps/runner_harness.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitSuccess = 0;
constexpr int kExitUsage = 2;

// Two video streams of different sizes, so the output's size tells which
// was read.
constexpr int kFirstVideoWidth = 160;
constexpr int kSecondVideoWidth = 96;

const char kSubtitleText[] =
    "1\n00:00:00,000 --> 00:00:00,500\nHello\n\n2\n00:00:00,600 --> 00:00:01,000\nWorld\n";

// The files the tests share, made once.
const ScratchFolder& StreamClips() {
    static ScratchFolder* folder = [] {
        auto* made = new ScratchFolder;
        const ScratchFolder& f = *made;
        const std::string twoVideos =
            "-f lavfi -i testsrc=s=160x120:r=25:d=1 -f lavfi -i testsrc2=s=96x64:r=25:d=1 "
            "-map 0 -map 1 -c:v ffv1 ";
        RunFfmpeg(twoVideos + "-disposition:v:0 0 -disposition:v:1 default '" +
                  f / "second-default.mkv" + "'");
        RunFfmpeg(twoVideos + "-disposition:v:0 0 -disposition:v:1 0 '" + f / "no-default.mkv" +
                  "'");
        RunFfmpeg("-f lavfi -i color=red:s=64x48:r=25:d=1 -f lavfi -i color=blue:s=64x48:r=25:d=1 "
                  "-map 0 -map 1 -c:v ffv1 -disposition:v:0 0 -disposition:v:1 default '" +
                  f / "red-blue.mkv" + "'");
        std::ofstream(f / "words.srt") << kSubtitleText;
        for (const char* codec : {"srt", "ass"}) {
            RunFfmpeg("-f lavfi -i testsrc=s=160x120:r=25:d=1 -f lavfi -i sine=f=440:d=1 "
                      "-f lavfi -i sine=f=880:d=1 -i '" + f / "words.srt" +
                      "' -map 0 -map 1 -map 2 -map 3 -c:v ffv1 -c:a flac -c:s " + codec +
                      " -metadata:s:a:0 language=eng -metadata:s:a:1 language=fra "
                      "-metadata:s:a:1 title=Commentary -metadata:s:s:0 language=deu "
                      "-metadata:s:s:0 title=Words -disposition:a:0 default "
                      "-disposition:a:1 comment -disposition:s:0 forced '" +
                      f / (std::string("talk-") + codec + ".mkv") + "'");
        }
        return made;
    }();
    return *folder;
}

std::string StreamClip(const std::string& name) { return StreamClips() / name; }

class StreamTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        TestClips();
        StreamClips();
    }
    ScratchFolder out_;
};

int VideoWidthOf(const std::string& path) {
    InputContextPtr file = OpenForReading(path);
    return file ? file->streams[FirstStreamOf(*file, AVMEDIA_TYPE_VIDEO)]->codecpar->width : 0;
}

std::vector<AVMediaType> StreamTypesOf(const std::string& path) {
    std::vector<AVMediaType> types;
    InputContextPtr file = OpenForReading(path);
    for (unsigned index = 0; file && index < file->nb_streams; ++index) {
        types.push_back(file->streams[index]->codecpar->codec_type);
    }
    return types;
}

struct VideoStreamCase {
    const char* name;
    const char* file;
    std::vector<std::string> options;
    int width;
};
void PrintTo(const VideoStreamCase& test, std::ostream* out) { *out << test.name; }

const VideoStreamCase kVideoStreamCases[] = {
    {"DefaultIsTheStreamMarkedDefault", "second-default.mkv", {}, kSecondVideoWidth},
    {"WithoutAMarkTheFirst", "no-default.mkv", {}, kFirstVideoWidth},
    {"ChosenFirst", "second-default.mkv", {"--video-stream", "0"}, kFirstVideoWidth},
    {"ChosenSecond", "no-default.mkv", {"--video-stream", "1"}, kSecondVideoWidth},
};

class MainVideoStream : public StreamTest, public testing::WithParamInterface<VideoStreamCase> {};

TEST_P(MainVideoStream, IsTheOneComposited) {
    const VideoStreamCase& test = GetParam();
    std::vector<std::string> arguments = {"render", StreamClip(test.file), "-o", out_ / "out.mkv",
                                          "-q"};
    arguments.insert(arguments.end(), test.options.begin(), test.options.end());
    const RunResult result = RunQuillmere(arguments);
    ASSERT_EQ(result.exitCode, kExitSuccess) << result.errorText;
    EXPECT_EQ(VideoWidthOf(out_ / "out.mkv"), test.width);
    // Only the chosen video stream is written.
    EXPECT_EQ(StreamTypesOf(out_ / "out.mkv"), std::vector<AVMediaType>{AVMEDIA_TYPE_VIDEO});
}

INSTANTIATE_TEST_SUITE_P(Choices, MainVideoStream, testing::ValuesIn(kVideoStreamCases),
                         [](const testing::TestParamInfo<VideoStreamCase>& info) {
                             return info.param.name;
                         });

TEST_F(StreamTest, FrameCommandTakesTheChosenStream) {
    const RunResult result = RunQuillmere({"frame", StreamClip("second-default.mkv"), "--at", "2",
                                           "--video-stream", "0", "-o", out_ / "still.png", "-q"});
    ASSERT_EQ(result.exitCode, kExitSuccess) << result.errorText;
    EXPECT_EQ(VideoWidthOf(out_ / "still.png"), kFirstVideoWidth);
}

struct OverlayStreamCase {
    const char* name;
    std::vector<std::string> options;
    bool blue;  // the second stream is blue, the first red
};
void PrintTo(const OverlayStreamCase& test, std::ostream* out) { *out << test.name; }

const OverlayStreamCase kOverlayStreamCases[] = {
    {"DefaultIsTheStreamMarkedDefault", {}, true},
    {"ChosenFirst", {"--overlay-stream", "0"}, false},
    {"ChosenSecond", {"--overlay-stream", "1"}, true},
};

class OverlayVideoStream : public StreamTest,
                           public testing::WithParamInterface<OverlayStreamCase> {};

TEST_P(OverlayVideoStream, IsTheOneLaidIn) {
    const OverlayStreamCase& test = GetParam();
    std::vector<std::string> arguments = {"frame", Clip("main.mkv"), "--overlay",
                                          StreamClip("red-blue.mkv"), "--mask", "0,0,63,47",
                                          "--at", "3", "-o", out_ / "still.png", "-q"};
    arguments.insert(arguments.end(), test.options.begin(), test.options.end());
    const RunResult result = RunQuillmere(arguments);
    ASSERT_EQ(result.exitCode, kExitSuccess) << result.errorText;
    const std::vector<Picture> still = DecodeAll(out_ / "still.png");
    ASSERT_EQ(still.size(), 1u);
    const std::uint8_t* pixel = still[0].row(20) + 4 * 30;  // blue, green, red
    EXPECT_GT(test.blue ? pixel[0] : pixel[2], 200);
    EXPECT_LT(test.blue ? pixel[2] : pixel[0], 50);
}

INSTANTIATE_TEST_SUITE_P(Choices, OverlayVideoStream, testing::ValuesIn(kOverlayStreamCases),
                         [](const testing::TestParamInfo<OverlayStreamCase>& info) {
                             return info.param.name;
                         });

struct MissingStreamCase {
    const char* name;
    std::vector<std::string> options;
};
void PrintTo(const MissingStreamCase& test, std::ostream* out) { *out << test.name; }

const MissingStreamCase kMissingStreamCases[] = {
    {"Main", {"--video-stream", "2"}},
    {"Overlay", {"--overlay", "OVERLAY_TWO", "--overlay-stream", "2"}},
};

class MissingVideoStream : public StreamTest,
                           public testing::WithParamInterface<MissingStreamCase> {};

TEST_P(MissingVideoStream, FailsNamingTheStreamsThereAre) {
    std::vector<std::string> arguments = {"render", StreamClip("second-default.mkv"), "-o",
                                          out_ / "out.mkv"};
    for (const std::string& option : GetParam().options) {
        arguments.push_back(option == "OVERLAY_TWO" ? StreamClip("red-blue.mkv") : option);
    }
    const RunResult result = RunQuillmere(arguments);
    EXPECT_EQ(result.exitCode, kExitFailure);
    EXPECT_NE(result.errorText.find("no video stream 2: its video streams are 0 to 1"),
              std::string::npos)
        << result.errorText;
    EXPECT_TRUE(out_.Files().empty());
}

INSTANTIATE_TEST_SUITE_P(Streams, MissingVideoStream, testing::ValuesIn(kMissingStreamCases),
                         [](const testing::TestParamInfo<MissingStreamCase>& info) {
                             return info.param.name;
                         });

// The default placement takes its shape from the overlay stream that is laid
// in: on the 160x120 main, a third of the width (53.3) and a margin of 2%
// (3.2) put the right and bottom edges at 157 and 117, and the height
// follows the chosen stream's aspect: 53.3 / (160/120) = 40 for stream 0,
// 53.3 / (96/64) = 35.6, so 36, for stream 1. `place -` reads the main from
// standard input.
struct OverlayStreamPlacementCase {
    const char* name;
    const char* command;
    bool mainFromStandardInput;
    const char* stream;
    const char* expectedConfig;
};
void PrintTo(const OverlayStreamPlacementCase& test, std::ostream* out) { *out << test.name; }

const OverlayStreamPlacementCase kOverlayStreamPlacementCases[] = {
    {"PlaceFirstStream", "place", false, "0", "Config(104,77,157,117)"},
    {"PlaceSecondStream", "place", false, "1", "Config(104,81,157,117)"},
    {"PlaceSecondStreamOfAPipedMain", "place", true, "1", "Config(104,81,157,117)"},
};

class OverlayStreamPlacement
    : public StreamTest,
      public testing::WithParamInterface<OverlayStreamPlacementCase> {};

TEST_P(OverlayStreamPlacement, FollowsTheChosenStream) {
    const OverlayStreamPlacementCase& test = GetParam();
    const RunResult result = RunQuillmere(
        {test.command, test.mainFromStandardInput ? "-" : Clip("main.mkv"), "--overlay",
         StreamClip("no-default.mkv"), "--overlay-stream", test.stream},
        test.mainFromStandardInput ? Clip("main.mkv") : "");
    ASSERT_EQ(result.exitCode, kExitSuccess) << result.errorText;
    EXPECT_NE(result.outputText.find(test.expectedConfig), std::string::npos) << result.outputText;
}

INSTANTIATE_TEST_SUITE_P(Streams, OverlayStreamPlacement,
                         testing::ValuesIn(kOverlayStreamPlacementCases),
                         [](const testing::TestParamInfo<OverlayStreamPlacementCase>& info) {
                             return info.param.name;
                         });

// A render with the second stream placed by default draws it at the place
// `place` gives for that stream: the rows above it keep the main's pixels.
TEST_F(StreamTest, RenderPlacesTheChosenStreamsShape) {
    const std::string png = out_ / "frame.png";
    const RunResult result =
        RunQuillmere({"frame", Clip("main.mkv"), "--at", "0", "-o", png, "--overlay",
                      StreamClip("no-default.mkv"), "--overlay-stream", "1"});
    ASSERT_EQ(result.exitCode, kExitSuccess) << result.errorText;
    const RunResult plain = RunQuillmere({"frame", Clip("main.mkv"), "--at", "0", "-o",
                                          out_ / "plain.png", "--mask", "0,0,1,1"});
    ASSERT_EQ(plain.exitCode, kExitSuccess) << plain.errorText;
    const std::vector<Picture> placed = DecodeAll(png);
    const std::vector<Picture> main = DecodeAll(out_ / "plain.png");
    ASSERT_EQ(placed.size(), 1u);
    ASSERT_EQ(main.size(), 1u);
    const auto pixel = [](const Picture& picture, int x, int y) {
        const std::uint8_t* at = picture.row(y) + x * 4;
        return std::vector<std::uint8_t>(at, at + 3);
    };
    // Row 80 lies above stream 1's top (81) but inside stream 0's (77).
    EXPECT_EQ(pixel(placed[0], 130, 80), pixel(main[0], 130, 80));
    EXPECT_NE(pixel(placed[0], 130, 81), pixel(main[0], 130, 81));
}

struct SubtitleCase {
    const char* name;
    const char* file;
    const char* codec;  // libavcodec's name
};
void PrintTo(const SubtitleCase& test, std::ostream* out) { *out << test.name; }

class KeptStreams : public StreamTest, public testing::WithParamInterface<SubtitleCase> {};

TEST_P(KeptStreams, KeepTheirTagsDispositionsAndPackets) {
    const SubtitleCase& test = GetParam();
    const RunResult result =
        RunQuillmere({"render", StreamClip(test.file), "-o", out_ / "out.mkv", "-q"});
    ASSERT_EQ(result.exitCode, kExitSuccess) << result.errorText;
    InputContextPtr file = OpenForReading(out_ / "out.mkv");
    ASSERT_TRUE(file);
    ASSERT_EQ(StreamTypesOf(out_ / "out.mkv"),
              (std::vector<AVMediaType>{AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_AUDIO,
                                        AVMEDIA_TYPE_SUBTITLE}));
    const AVStream& english = *file->streams[1];
    const AVStream& commentary = *file->streams[2];
    const AVStream& words = *file->streams[3];
    EXPECT_EQ(TagOf(english, "language"), "eng");
    EXPECT_NE(english.disposition & AV_DISPOSITION_DEFAULT, 0);
    EXPECT_EQ(TagOf(commentary, "language"), "fra");
    EXPECT_EQ(TagOf(commentary, "title"), "Commentary");
    EXPECT_NE(commentary.disposition & AV_DISPOSITION_COMMENT, 0);
    EXPECT_EQ(avcodec_get_name(words.codecpar->codec_id), std::string(test.codec));
    EXPECT_EQ(TagOf(words, "language"), "deu");
    EXPECT_EQ(TagOf(words, "title"), "Words");
    EXPECT_NE(words.disposition & AV_DISPOSITION_FORCED, 0);
    EXPECT_EQ(AudioChecksum(out_ / "out.mkv"), AudioChecksum(StreamClip(test.file)));

    // The cues keep their text and their times (the main starts at 0).
    const std::vector<PacketRecord> cues = ReadPackets(out_ / "out.mkv", 3);
    ASSERT_EQ(cues.size(), 2u);
    const std::string first(cues[0].data.begin(), cues[0].data.end());
    const std::string second(cues[1].data.begin(), cues[1].data.end());
    EXPECT_NE(first.find("Hello"), std::string::npos) << first;
    EXPECT_NE(second.find("World"), std::string::npos) << second;
    EXPECT_DOUBLE_EQ(cues[0].seconds, 0.0);
    EXPECT_DOUBLE_EQ(cues[1].seconds, 0.6);
}

INSTANTIATE_TEST_SUITE_P(Subtitles, KeptStreams,
                         testing::Values(SubtitleCase{"Srt", "talk-srt.mkv", "subrip"},
                                         SubtitleCase{"Ass", "talk-ass.mkv", "ass"}),
                         [](const testing::TestParamInfo<SubtitleCase>& info) {
                             return info.param.name;
                         });

struct LeaveOutCase {
    const char* name;
    std::vector<std::string> options;
    std::vector<AVMediaType> kept;
};
void PrintTo(const LeaveOutCase& test, std::ostream* out) { *out << test.name; }

const LeaveOutCase kLeaveOutCases[] = {
    {"NoAudio", {"--no-audio"}, {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_SUBTITLE}},
    {"NoSubtitles",
     {"--no-subtitles"},
     {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_AUDIO}},
    {"Neither", {"--no-audio", "--no-subtitles"}, {AVMEDIA_TYPE_VIDEO}},
};

class LeftOutStreams : public StreamTest, public testing::WithParamInterface<LeaveOutCase> {};

TEST_P(LeftOutStreams, AreNotWritten) {
    std::vector<std::string> arguments = {"render", StreamClip("talk-srt.mkv"), "-o",
                                          out_ / "out.mkv", "-q"};
    arguments.insert(arguments.end(), GetParam().options.begin(), GetParam().options.end());
    const RunResult result = RunQuillmere(arguments);
    ASSERT_EQ(result.exitCode, kExitSuccess) << result.errorText;
    EXPECT_EQ(StreamTypesOf(out_ / "out.mkv"), GetParam().kept);
}

INSTANTIATE_TEST_SUITE_P(Options, LeftOutStreams, testing::ValuesIn(kLeaveOutCases),
                         [](const testing::TestParamInfo<LeaveOutCase>& info) {
                             return info.param.name;
                         });

TEST_F(StreamTest, SubtitlesTheContainerCannotHoldNameNoSubtitles) {
    const RunResult result =
        RunQuillmere({"render", StreamClip("talk-srt.mkv"), "-o", out_ / "out.mp4"});
    EXPECT_EQ(result.exitCode, kExitFailure);
    EXPECT_NE(result.errorText.find("subrip subtitles"), std::string::npos) << result.errorText;
    EXPECT_NE(result.errorText.find("--no-subtitles"), std::string::npos) << result.errorText;
    EXPECT_TRUE(out_.Files().empty());
}

class StandardOutput : public StreamTest, public testing::WithParamInterface<const char*> {};

// The bytes written to standard output make a file that decodes to the same
// pictures and audio as a render to a file.
TEST_P(StandardOutput, CarriesTheWholeRender) {
    const std::string format = GetParam();
    const RunResult piped =
        RunQuillmere({"render", Clip("main-audio.mkv"), "-o", "-", "--format", format, "-q"});
    ASSERT_EQ(piped.exitCode, 0) << piped.errorText;
    {
        std::ofstream(out_ / "piped.out", std::ios::binary) << piped.outputText;
    }
    const RunResult written = RunQuillmere(
        {"render", Clip("main-audio.mkv"), "-o", out_ / "written.out", "--format", format, "-q"});
    ASSERT_EQ(written.exitCode, 0) << written.errorText;

    const std::vector<Picture> fromPipe = DecodeAll(out_ / "piped.out");
    const std::vector<Picture> fromFile = DecodeAll(out_ / "written.out");
    ASSERT_FALSE(fromFile.empty());
    ASSERT_EQ(fromPipe.size(), fromFile.size());
    for (std::size_t index = 0; index < fromFile.size(); ++index) {
        std::string where;
        EXPECT_TRUE(SameColors(fromFile[index], fromPipe[index], where))
            << "frame " << index << ": " << where;
    }
    EXPECT_EQ(AudioChecksum(out_ / "piped.out"), AudioChecksum(Clip("main-audio.mkv")));
}

INSTANTIATE_TEST_SUITE_P(Containers, StandardOutput, testing::Values("matroska", "nut"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

struct PipeRefusalCase {
    const char* name;
    std::vector<std::string> options;
    const char* named;
};
void PrintTo(const PipeRefusalCase& test, std::ostream* out) { *out << test.name; }

const PipeRefusalCase kPipeRefusalCases[] = {
    {"WithoutFormat", {}, "--format"},
    {"Mp4NeedsSeeking", {"--format", "mp4"}, "mp4"},
    {"AviNeedsSeeking", {"--format", "avi"}, "avi"},
    {"ProgressToo", {"--format", "nut", "--progress", "-"}, "--progress"},
};

class StandardOutputRefusal : public StreamTest,
                              public testing::WithParamInterface<PipeRefusalCase> {};

TEST_P(StandardOutputRefusal, IsACommandLineError) {
    std::vector<std::string> arguments = {"render", Clip("main.mkv"), "-o", "-"};
    arguments.insert(arguments.end(), GetParam().options.begin(), GetParam().options.end());
    const RunResult result = RunQuillmere(arguments);
    EXPECT_EQ(result.exitCode, kExitUsage);
    EXPECT_NE(result.errorText.find(GetParam().named), std::string::npos) << result.errorText;
    EXPECT_TRUE(result.outputText.empty());
}

INSTANTIATE_TEST_SUITE_P(Mistakes, StandardOutputRefusal, testing::ValuesIn(kPipeRefusalCases),
                         [](const testing::TestParamInfo<PipeRefusalCase>& info) {
                             return info.param.name;
                         });

}  // namespace
