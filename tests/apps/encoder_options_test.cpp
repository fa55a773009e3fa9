// The encoding options reach the encoder: read back from the written file's
// codec parameters, its packets and the settings text that x264 and x265
// store in the stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/apps/media_readback.h"
#include "tests/apps/runner_harness.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

constexpr int kExitUsage = 2;

// The settings text x264 ("x264 - core ...") or x265 ("x265 (build ...")
// writes into its first frame or the stream's header, or "" when none.
std::string EncoderSettingsText(const std::string& path) {
    InputContextPtr file = OpenForReading(path);
    if (!file) {
        return "";
    }
    const int video = FirstStreamOf(*file, AVMEDIA_TYPE_VIDEO);
    const AVCodecParameters& codec = *file->streams[video]->codecpar;
    std::string bytes(reinterpret_cast<const char*>(codec.extradata),
                      static_cast<std::size_t>(codec.extradata_size));
    const std::vector<PacketRecord> packets = ReadPackets(path, video);
    if (!packets.empty()) {
        bytes.append(packets.front().data.begin(), packets.front().data.end());
    }
    for (const char* start : {"x264 - core", "x265 (build"}) {
        const std::size_t at = bytes.find(start);
        if (at != std::string::npos) {
            return bytes.substr(at, bytes.find('\0', at) - at);
        }
    }
    return "";
}

std::string CodecNameOf(const std::string& path) {
    InputContextPtr file = OpenForReading(path);
    if (!file) {
        return "";
    }
    return avcodec_get_name(
        file->streams[FirstStreamOf(*file, AVMEDIA_TYPE_VIDEO)]->codecpar->codec_id);
}

std::string PixelFormatOf(const std::string& path) {
    InputContextPtr file = OpenForReading(path);
    if (!file) {
        return "";
    }
    const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(
        file->streams[FirstStreamOf(*file, AVMEDIA_TYPE_VIDEO)]->codecpar->format));
    return name != nullptr ? name : "";
}

class EncoderTest : public testing::Test {
protected:
    static void SetUpTestSuite() { TestClips(); }

    RunResult Render(const std::string& output, std::vector<std::string> options) {
        std::vector<std::string> arguments = {"render", Clip("main.mkv"), "-o", out_ / output,
                                              "-q"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return RunQuillmere(arguments);
    }

    ScratchFolder out_;
};

struct SettingsCase {
    const char* name;
    const char* output;
    std::vector<std::string> options;
    const char* codec;                  // libavcodec's name of the stream's codec
    std::vector<std::string> settings;  // words of the encoder's settings text
};
void PrintTo(const SettingsCase& test, std::ostream* out) { *out << test.name; }

// What x264 and x265 write for these settings: the quality as given, and
// what each preset is documented to choose (ultrafast: no CABAC, diamond
// search, no subpixel refinement; veryslow: multi-hexagon search, full
// refinement).
const SettingsCase kSettingsCases[] = {
    {"Mp4DefaultsToH264AtCrf18", "out.mp4", {}, "h264", {"crf=18.0"}},
    {"MkvDefaultsToFfv1", "out.mkv", {}, "ffv1", {}},
    {"H264ByCodecNameInMkv", "out.mkv", {"--codec", "h264"}, "h264", {"crf=18.0"}},
    {"H264ByEncoderName", "out.mov", {"--codec", "libx264"}, "h264", {"crf=18.0"}},
    {"CrfReachesX264", "out.mp4", {"--crf", "30"}, "h264", {"crf=30.0"}},
    {"UltrafastPreset", "out.mp4", {"--preset", "ultrafast"}, "h264",
     {"cabac=0", "me=dia", "subme=0", "crf=18.0"}},
    {"VeryslowPreset", "out.mp4", {"--preset", "veryslow"}, "h264", {"me=umh", "subme=10"}},
    {"OneThread", "out.mp4", {"--threads", "1"}, "h264", {"threads=1"}},
    {"ThreeThreads", "out.mp4", {"--threads", "3"}, "h264", {"threads=3"}},
    {"EncoderOptionPassedThrough", "out.mp4", {"--encoder-option", "x264-params=keyint=7"},
     "h264", {"keyint=7"}},
    {"EncoderOptionOverridesCrf", "out.mp4", {"--encoder-option", "crf=25"}, "h264",
     {"crf=25.0"}},
    {"HevcWithCrfAndPreset", "out.mkv",
     {"--codec", "hevc", "--crf", "30", "--preset", "ultrafast"}, "hevc", {"crf=30.0"}},
    {"Vp9InMkv", "out.mkv", {"--codec", "vp9", "--encoder-option", "deadline=realtime"}, "vp9",
     {}},
    {"WebmDefaultsToVp9", "out.webm", {}, "vp9", {}},
};

class EncoderSettings : public EncoderTest, public testing::WithParamInterface<SettingsCase> {};

TEST_P(EncoderSettings, ReachTheEncoder) {
    const SettingsCase& test = GetParam();
    const RunResult result = Render(test.output, test.options);
    ASSERT_EQ(result.exitCode, 0) << result.errorText;
    EXPECT_EQ(result.errorText.find("x265 ["), std::string::npos)
        << "the encoder's own report reached standard error:\n" << result.errorText;
    const std::string path = out_ / test.output;
    EXPECT_EQ(CodecNameOf(path), test.codec);
    const std::string text = EncoderSettingsText(path);
    std::vector<std::string> words;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find(' ', start), text.size());
        words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    for (const std::string& wanted : test.settings) {
        EXPECT_NE(std::find(words.begin(), words.end(), wanted), words.end())
            << wanted << " missing from: " << text;
    }
}

INSTANTIATE_TEST_SUITE_P(Options, EncoderSettings, testing::ValuesIn(kSettingsCases),
                         [](const testing::TestParamInfo<SettingsCase>& info) {
                             return info.param.name;
                         });

bool IsRgb(const std::string& pixelFormat) {
    const AVPixFmtDescriptor* descriptor =
        av_pix_fmt_desc_get(av_get_pix_fmt(pixelFormat.c_str()));
    return descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_RGB) != 0;
}

// The pixel format follows the main wherever the chosen encoder can take it:
// the RGB main stays RGB with x264's RGB variant (H.264 decodes it as planar
// GBR), where plain x264 makes it 4:2:0.
TEST_F(EncoderTest, AnRgbEncoderKeepsRgbPictures) {
    ASSERT_TRUE(IsRgb(PixelFormatOf(Clip("main.mkv"))));
    RunResult result = Render("rgb.mkv", {"--codec", "libx264rgb"});
    ASSERT_EQ(result.exitCode, 0) << result.errorText;
    EXPECT_EQ(CodecNameOf(out_ / "rgb.mkv"), "h264");
    EXPECT_TRUE(IsRgb(PixelFormatOf(out_ / "rgb.mkv"))) << PixelFormatOf(out_ / "rgb.mkv");
    result = Render("yuv.mkv", {"--codec", "libx264"});
    ASSERT_EQ(result.exitCode, 0) << result.errorText;
    EXPECT_EQ(PixelFormatOf(out_ / "yuv.mkv"), "yuv420p");
}

class KeyFrameInterval : public EncoderTest, public testing::WithParamInterface<int> {};

// FFV1 starts a key frame at every multiple of the interval and nowhere else.
TEST_P(KeyFrameInterval, FollowsTheGOption) {
    const int interval = GetParam();
    const RunResult result =
        Render("out.mkv", {"--encoder-option", "g=" + std::to_string(interval)});
    ASSERT_EQ(result.exitCode, 0) << result.errorText;
    const std::vector<PacketRecord> packets = ReadPackets(out_ / "out.mkv", 0);
    ASSERT_EQ(static_cast<std::int64_t>(packets.size()), kMainFrames);
    for (std::size_t index = 0; index < packets.size(); ++index) {
        EXPECT_EQ(packets[index].key, index % static_cast<std::size_t>(interval) == 0)
            << "packet " << index;
    }
}

INSTANTIATE_TEST_SUITE_P(Intervals, KeyFrameInterval, testing::Values(5, 10),
                         [](const testing::TestParamInfo<int>& info) {
                             return "Every" + std::to_string(info.param);
                         });

struct RefusalCase {
    const char* name;
    const char* output;
    std::vector<std::string> options;
    std::vector<std::string> named;  // what the message must name
};
void PrintTo(const RefusalCase& test, std::ostream* out) { *out << test.name; }

const RefusalCase kRefusalCases[] = {
    {"UnknownCodec", "out.mkv", {"--codec", "nosuchcodec"}, {"nosuchcodec", "ffv1", "h264"}},
    {"CodecTheContainerCannotHold", "out.mp4", {"--codec", "ffv1"}, {"ffv1", "h264"}},
    {"UnknownPreset", "out.mp4", {"--preset", "warp"}, {"warp", "ultrafast", "veryslow"}},
    {"PresetOfAnEncoderWithout", "out.mkv", {"--preset", "fast"}, {"ffv1", "--preset"}},
    {"CrfOfAnEncoderWithout", "out.mkv", {"--crf", "20"}, {"ffv1", "crf"}},
    {"UnknownEncoderOption", "out.mp4", {"--encoder-option", "nosuchkey=1"}, {"nosuchkey"}},
    {"BadEncoderOptionValue", "out.mkv", {"--encoder-option", "g=often"}, {"often", "'g'"}},
    {"EncoderOptionWithoutValue", "out.mkv", {"--encoder-option", "g"}, {"KEY=VALUE"}},
    {"DecoderOnlyOption", "out.mkv", {"--encoder-option", "skip_frame=all"}, {"skip_frame"}},
    {"ThreadsNotANumber", "out.mkv", {"--threads", "many"}, {"--threads"}},
};

class EncoderRefusal : public EncoderTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(EncoderRefusal, IsACommandLineErrorNamingTheChoices) {
    const RefusalCase& test = GetParam();
    const RunResult result = Render(test.output, test.options);
    EXPECT_EQ(result.exitCode, kExitUsage) << result.errorText;
    for (const std::string& name : test.named) {
        EXPECT_NE(result.errorText.find(name), std::string::npos)
            << name << " not named in: " << result.errorText;
    }
    EXPECT_TRUE(out_.Files().empty());
}

INSTANTIATE_TEST_SUITE_P(Mistakes, EncoderRefusal, testing::ValuesIn(kRefusalCases),
                         [](const testing::TestParamInfo<RefusalCase>& info) {
                             return info.param.name;
                         });

TEST_F(EncoderTest, HelpListsTheCodecsOfEachContainer) {
    const RunResult result = RunQuillmere({"--help"});
    ASSERT_EQ(result.exitCode, 0);
    const std::string& help = result.outputText;
    const std::size_t codecs = help.find("Codecs (--codec)");
    ASSERT_NE(codecs, std::string::npos) << help;
    for (const char* expected : {".mkv matroska             ffv1", ".mp4 mp4                  h264",
                                 "hevc (libx265)"}) {
        EXPECT_NE(help.find(expected, codecs), std::string::npos) << expected;
    }
}

}  // namespace
