// Planning a render's output from a command line and made-up facts of the
// main, with no media files: which streams are copied and which re-encoded
// (and said), the muxer's options and the video's tag checked, and the
// mistakes refused before anything is opened for writing (join and
// segments: before any input is read).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "apps/quillmere/cli/command_line.h"
#include "apps/quillmere/plan/planning.h"
#include "apps/quillmere/runner_error.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {

CommandLine Parse(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "quillmere");
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

const std::vector<std::string> kEverywhere = {".mkv", ".avi", ".nut", ".mp4", ".mov"};
const CarriableStream kPcm{1, AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_PCM_S16LE,
                           {".mkv", ".avi", ".nut", ".mov"}, ""};
const CarriableStream kAac{1, AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_AAC, kEverywhere, ""};
const CarriableStream kSecondAac{2, AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_AAC, kEverywhere, ""};
const CarriableStream kMovText{3, AVMEDIA_TYPE_SUBTITLE, AV_CODEC_ID_MOV_TEXT,
                               {".mp4", ".mov"}, ""};
const CarriableStream kOpus{1, AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_OPUS,
                            {".mkv", ".nut", ".mp4", ".mov", ".webm"}, "Commentary"};

// A 160x120 main at 25 frames a second with these streams after its video.
InputFacts MainWith(std::vector<CarriableStream> streams) {
    InputFacts facts;
    facts.main.width = 160;
    facts.main.height = 120;
    facts.mainRate = AVRational{25, 1};
    facts.mainStreams = std::move(streams);
    return facts;
}

struct PlanCase {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<CarriableStream> streams;
    std::function<void(const RenderJob&)> check;
};
void PrintTo(const PlanCase& test, std::ostream* out) { *out << test.name; }

bool EncodesAs(const KeptStream& stream, AVCodecID codec) {
    if (!stream.encoding) {
        return false;
    }
    const AVCodec* encoder = avcodec_find_encoder_by_name(stream.encoding->encoder.c_str());
    return encoder != nullptr && encoder->id == codec;
}

const PlanCase kPlanCases[] = {
    {"AudioTheContainerHoldsIsCopied", {"render", "m.mkv", "-o", "o.mp4"}, {kAac, kMovText},
     [](const RenderJob& job) {
         ASSERT_EQ(job.output.kept.size(), 2u);
         EXPECT_EQ(job.output.kept[0].index, 1);
         EXPECT_FALSE(job.output.kept[0].encoding);
         EXPECT_FALSE(job.output.kept[1].encoding);
         EXPECT_TRUE(job.notes.empty());
     }},
    {"PcmIntoMp4BecomesAacWithOneNote", {"render", "m.mkv", "-o", "o.mp4"}, {kPcm},
     [](const RenderJob& job) {
         ASSERT_EQ(job.output.kept.size(), 1u);
         EXPECT_TRUE(EncodesAs(job.output.kept[0], AV_CODEC_ID_AAC));
         EXPECT_EQ(job.output.kept[0].encoding->bitRate, 0);
         ASSERT_EQ(job.notes.size(), 1u);
         EXPECT_NE(job.notes[0].find("cannot hold the pcm_s16le audio"), std::string::npos);
     }},
    {"PcmIntoMovIsCopied", {"render", "m.mkv", "-o", "o.mov"}, {kPcm},
     [](const RenderJob& job) { EXPECT_FALSE(job.output.kept.at(0).encoding); }},
    {"AudioCodecReencodesEveryAudioStream",
     {"render", "m.mkv", "-o", "o.mkv", "--audio-codec", "opus", "--audio-bitrate", "96k"},
     {kAac, kSecondAac},
     [](const RenderJob& job) {
         ASSERT_EQ(job.output.kept.size(), 2u);
         for (const KeptStream& stream : job.output.kept) {
             EXPECT_TRUE(EncodesAs(stream, AV_CODEC_ID_OPUS));
             EXPECT_EQ(stream.encoding->bitRate, 96000);
         }
         EXPECT_TRUE(job.notes.empty());
     }},
    {"NoAudioKeepsSubtitles", {"render", "m.mp4", "-o", "o.mp4", "--no-audio"},
     {kAac, kMovText},
     [](const RenderJob& job) {
         ASSERT_EQ(job.output.kept.size(), 1u);
         EXPECT_EQ(job.output.kept[0].index, kMovText.index);
     }},
    // WebM holds VP9 or AV1 with Opus or Vorbis: AAC becomes Opus, said once.
    {"WebmWritesVp9AndOpus", {"render", "m.mkv", "-o", "o.webm"}, {kAac, kSecondAac},
     [](const RenderJob& job) {
         ASSERT_NE(job.output.videoEncoder, nullptr);
         EXPECT_TRUE(job.output.videoEncoder->id == AV_CODEC_ID_VP9 ||
                     job.output.videoEncoder->id == AV_CODEC_ID_AV1);
         ASSERT_EQ(job.output.kept.size(), 2u);
         EXPECT_TRUE(EncodesAs(job.output.kept[0], AV_CODEC_ID_OPUS));
         EXPECT_TRUE(EncodesAs(job.output.kept[1], AV_CODEC_ID_OPUS));
         ASSERT_EQ(job.notes.size(), 1u);
         EXPECT_NE(job.notes[0].find("the .webm container cannot hold the aac audio"),
                   std::string::npos);
     }},
    {"OpusIntoWebmIsCopiedWithItsTitle", {"render", "m.mkv", "--format", "webm", "-o", "o"},
     {kOpus},
     [](const RenderJob& job) {
         EXPECT_FALSE(job.output.kept.at(0).encoding);
         EXPECT_TRUE(job.notes.empty());
     }},
    {"WebmTakesAv1", {"render", "m.mkv", "-o", "o.webm", "--codec", "av1"}, {},
     [](const RenderJob& job) { EXPECT_EQ(job.output.videoEncoder->id, AV_CODEC_ID_AV1); }},
    {"TitleLeftOutOfMovIsNoted", {"render", "m.mkv", "-o", "o.mov"}, {kOpus},
     [](const RenderJob& job) {
         ASSERT_EQ(job.notes.size(), 1u);
         EXPECT_NE(job.notes[0].find("'Commentary' (audio) is left out"), std::string::npos);
     }},
    {"TitleOfAStreamLeftOutIsNotNoted", {"render", "m.mkv", "-o", "o.mov", "--no-audio"},
     {kOpus}, [](const RenderJob& job) { EXPECT_TRUE(job.notes.empty()); }},
    {"HevcInMp4IsTaggedHvc1", {"render", "m.mkv", "-o", "o.mp4", "--codec", "hevc"}, {},
     [](const RenderJob& job) { EXPECT_EQ(job.output.muxing.videoTag, "hvc1"); }},
    {"CodecNameSettlesTheEncoder", {"render", "m.mkv", "-o", "o.mkv", "--codec", "hevc"}, {},
     [](const RenderJob& job) {
         ASSERT_NE(job.output.videoEncoder, nullptr);
         EXPECT_EQ(job.output.videoEncoder->id, AV_CODEC_ID_HEVC);
     }},
    {"HevcInMkvKeepsTheContainersName", {"render", "m.mkv", "-o", "o.mkv", "--codec", "hevc"},
     {}, [](const RenderJob& job) { EXPECT_EQ(job.output.muxing.videoTag, ""); }},
    {"TagAsked", {"render", "m.mkv", "-o", "o.mp4", "--codec", "hevc", "--tag", "hev1"}, {},
     [](const RenderJob& job) { EXPECT_EQ(job.output.muxing.videoTag, "hev1"); }},
    {"MuxerOptionsInOrder",
     {"render", "m.mkv", "-o", "o.mp4", "--muxer-option", "movflags=+faststart",
      "--muxer-option", "brand=isom"},
     {},
     [](const RenderJob& job) {
         ASSERT_EQ(job.output.muxing.options.size(), 2u);
         EXPECT_EQ(job.output.muxing.options[1].first, "brand");
     }},
};

class OutputPlanning : public testing::TestWithParam<PlanCase> {};

TEST_P(OutputPlanning, Settles) {
    const PlanCase& test = GetParam();
    const RenderJob job = PlanJob(Parse(test.arguments), MainWith(test.streams));
    test.check(job);
}

INSTANTIATE_TEST_SUITE_P(Renders, OutputPlanning, testing::ValuesIn(kPlanCases),
                         [](const testing::TestParamInfo<PlanCase>& info) {
                             return info.param.name;
                         });

struct RefusalCase {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<CarriableStream> streams;
    bool usage;         // a UsageError; else a RunnerError
    const char* named;  // in the message
};
void PrintTo(const RefusalCase& test, std::ostream* out) { *out << test.name; }

const RefusalCase kRefusalCases[] = {
    {"AudioCodecTheContainerCannotHold",
     {"render", "m.mkv", "-o", "o.mp4", "--audio-codec", "flac"}, {kAac}, true,
     "the .mp4 container cannot hold 'flac' audio"},
    {"UnknownAudioCodec", {"render", "m.mkv", "-o", "o.mkv", "--audio-codec", "h264"}, {kAac},
     true, "unknown audio codec 'h264'"},
    {"BitrateWithNothingReencoded", {"render", "m.mkv", "-o", "o.mkv", "--audio-bitrate", "96k"},
     {kAac}, true, "no audio is re-encoded"},
    {"AudioCodecWithoutAudio",
     {"render", "m.mkv", "-o", "o.mkv", "--audio-codec", "aac", "--no-audio"}, {kAac}, true,
     "--audio-codec and --no-audio"},
    {"H264IntoWebm", {"render", "m.mkv", "-o", "o.webm", "--codec", "h264"}, {}, true,
     "the webm container cannot hold 'h264' here: for WebM, VP9 use one of"},
    {"UnknownMuxerOption", {"render", "m.mkv", "-o", "o.mp4", "--muxer-option", "movflag=1"},
     {}, true, "no option 'movflag'"},
    {"BadMuxerOptionValue",
     {"render", "m.mkv", "-o", "o.mp4", "--muxer-option", "movflags=+sideways"}, {}, true,
     "invalid value '+sideways' for the mp4 muxer's option 'movflags'"},
    {"TagOfAnotherCodec", {"render", "m.mkv", "-o", "o.mp4", "--tag", "hvc1"}, {}, true,
     "no tag 'hvc1' for h264 video (its usual one is 'avc1')"},
    {"TagNotFourCharacters", {"render", "m.mkv", "-o", "o.mp4", "--tag", "hvc"}, {}, true,
     "expected four characters"},
    {"MuxerOptionWithNoFile",
     {"render", "m.mkv", "--format", "null", "--muxer-option", "movflags=+faststart"}, {}, true,
     "--format null writes none"},
    {"SubtitlesTheContainerCannotHold", {"render", "m.mp4", "-o", "o.mkv"}, {kMovText}, false,
     "(use .mp4 or .mov, or --no-subtitles to leave them out)"},
    // join and segments are planned from the command line alone.
    {"JoinIntoAnUnknownExtension", {"join", "a.mkv", "-o", "o.xyz"}, {}, true,
     "cannot tell the output format from 'o.xyz'"},
    {"JoinIntoAnUnknownFormat", {"join", "a.mkv", "-o", "o.mkv", "--format", "flv"}, {}, true,
     "unknown output format 'flv'"},
    {"JoinIntoNothing", {"join", "a.mkv", "-o", "o.mkv", "--format", "null"}, {}, true,
     "--format null"},
    {"SlurmOutputWithoutExtension", {"segments", "m.mkv", "4", "--slurm", "-o", "run.d/o"}, {},
     true, "has no extension"},
    {"SlurmOutputOfAnUnknownContainer", {"segments", "m.mkv", "4", "--slurm", "-o", "o.xyz"},
     {}, true, "cannot tell the container from 'o.xyz'"},
    {"SegmentsOfStandardInput", {"segments", "-", "4"}, {}, true, "not standard input"},
};

class OutputRefusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(OutputRefusal, NamesTheMistake) {
    const RefusalCase& test = GetParam();
    const CommandLine line = Parse(test.arguments);
    try {
        if (line.command == Command::Join) {
            PlanJoin(line);
        } else if (line.command == Command::Segments) {
            PlanSegmentList(line);
        } else {
            PlanJob(line, MainWith(test.streams));
        }
        FAIL() << "planned";
    } catch (const UsageError& error) {
        EXPECT_TRUE(test.usage);
        EXPECT_NE(std::string(error.what()).find(test.named), std::string::npos) << error.what();
    } catch (const RunnerError& error) {
        EXPECT_FALSE(test.usage);
        EXPECT_NE(std::string(error.what()).find(test.named), std::string::npos) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Mistakes, OutputRefusal, testing::ValuesIn(kRefusalCases),
                         [](const testing::TestParamInfo<RefusalCase>& info) {
                             return info.param.name;
                         });

}  // namespace
