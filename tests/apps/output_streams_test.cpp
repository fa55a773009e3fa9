// What a render makes of the main's streams and the container besides the
// pictures: audio the container cannot hold re-encoded, audio re-encoded on
// request, the muxer's options and the video's tag, encoder libraries kept
// quiet, subtitle advice that names what works, and the same streams kept
// when edit plans the render its page starts. Expected figures come from the
// ffmpeg program doing the same, read back with libavformat.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "apps/quillmere/cli/read_command_line.h"
#include "apps/quillmere/edit/edit_session.h"
#include "apps/quillmere/edit/runner_work.h"
#include "apps/quillmere/media/container_table.h"
#include "apps/quillmere/media/light_metadata.h"
#include "apps/quillmere/media/video_reader.h"
#include "apps/quillmere/plan/input_facts.h"
#include "apps/quillmere/plan/planning.h"
#include "tests/apps/media_readback.h"
#include "tests/apps/runner_harness.h"

namespace {

constexpr double kSyncTolerance = 0.001;

class OutputStreams : public testing::Test {
protected:
    static void SetUpTestSuite() { TestClips(); }
    ScratchFolder out_;
};

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos;
         at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

struct ReencodingCase {
    const char* name;
    std::vector<std::string> options;
    const char* extension;
    const char* encoder;  // what ffmpeg is told to encode the reference with
    AVCodecID codec;
    bool noted;  // the runner says why it re-encodes
    // The container trims the encoder's padding (MP4's edit list): the audio
    // lasts exactly as long as the main's.
    bool trimmed;
};
void PrintTo(const ReencodingCase& test, std::ostream* out) { *out << test.name; }

const ReencodingCase kReencodingCases[] = {
    {"PcmIntoMp4BecomesAac", {}, ".mp4", "aac", AV_CODEC_ID_AAC, true, true},
    {"Opus", {"--audio-codec", "opus"}, ".mkv", "libopus", AV_CODEC_ID_OPUS, false, false},
    {"Vorbis", {"--audio-codec", "libvorbis"}, ".mkv", "libvorbis", AV_CODEC_ID_VORBIS, false,
     false},
    {"Mp3", {"--audio-codec", "mp3"}, ".mp4", "libmp3lame", AV_CODEC_ID_MP3, false, true},
    {"PcmIntoWebmBecomesOpus", {}, ".webm", "libopus", AV_CODEC_ID_OPUS, true, false},
};

class AudioReencoding : public OutputStreams,
                        public testing::WithParamInterface<ReencodingCase> {};

// The main's PCM audio re-encoded: as many packets as ffmpeg's own encoding
// of it, starting where those do, and as long as the main's audio where the
// container trims the padding; a note only where the runner chose to
// re-encode, and none under -q.
TEST_P(AudioReencoding, MatchesFfmpegsOwnEncoding) {
    const ReencodingCase& test = GetParam();
    const std::string output = out_ / (std::string("out") + test.extension);
    std::vector<std::string> arguments = {"render", Clip("main-audio.mkv"), "-o", output};
    arguments.insert(arguments.end(), test.options.begin(), test.options.end());
    const RunResult run = RunQuillmere(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    EXPECT_EQ(Occurrences(run.errorText, "audio of the main video; it is re-encoded"),
              test.noted ? 1u : 0u)
        << run.errorText;
    const std::string reference = out_ / (std::string("reference") + test.extension);
    RunFfmpeg("-i '" + Clip("main-audio.mkv") + "' -map 0:a -c:a " + test.encoder + " '" +
              reference + "'");

    const std::vector<StreamSummary> mainStreams = SummarizeStreams(Clip("main-audio.mkv"));
    const std::vector<StreamSummary> expectedStreams = SummarizeStreams(reference);
    const std::vector<StreamSummary> writtenStreams = SummarizeStreams(output);
    const StreamSummary* main = FirstOf(mainStreams, AVMEDIA_TYPE_AUDIO);
    const StreamSummary* expected = FirstOf(expectedStreams, AVMEDIA_TYPE_AUDIO);
    const StreamSummary* audio = FirstOf(writtenStreams, AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(main && expected && audio);
    EXPECT_EQ(audio->codec, test.codec);
    EXPECT_EQ(audio->packets, expected->packets);
    EXPECT_NEAR(audio->first, expected->first, kSyncTolerance);
    if (test.trimmed) {
        EXPECT_NEAR(audio->end, main->end, kSyncTolerance);
    }

    arguments.push_back("-q");
    arguments.push_back("-y");
    EXPECT_EQ(RunQuillmere(arguments).errorText, "");
}

INSTANTIATE_TEST_SUITE_P(Codecs, AudioReencoding, testing::ValuesIn(kReencodingCases),
                         [](const testing::TestParamInfo<ReencodingCase>& info) {
                             return info.param.name;
                         });

struct ContainerTagCase {
    const char* name;
    std::vector<std::string> options;
    const char* extension;
    const char* tag;  // the video stream's, as the file holds it
    bool indexFirst;  // MP4's moov box before its mdat box
};
void PrintTo(const ContainerTagCase& test, std::ostream* out) { *out << test.name; }

const ContainerTagCase kContainerTagCases[] = {
    {"HevcInMp4IsHvc1", {"--codec", "hevc"}, ".mp4", "hvc1", false},
    {"HevcInMovIsHvc1", {"--codec", "hevc"}, ".mov", "hvc1", false},
    {"TagChosen", {"--codec", "hevc", "--tag", "hev1"}, ".mp4", "hev1", false},
    {"H264KeepsItsOwn", {}, ".mp4", "avc1", false},
    {"FaststartPutsTheIndexFirst", {"--muxer-option", "movflags=+faststart"}, ".mp4", "avc1",
     true},
};

// The top-level boxes of an MP4 file, in order.
std::vector<std::string> TopLevelBoxes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<std::string> boxes;
    unsigned char header[8];
    while (file.read(reinterpret_cast<char*>(header), sizeof header)) {
        std::uint64_t size = (std::uint64_t{header[0]} << 24) | (header[1] << 16) |
                             (header[2] << 8) | header[3];
        boxes.emplace_back(reinterpret_cast<char*>(header) + 4, 4);
        std::uint64_t headerSize = sizeof header;
        if (size == 1) {  // a 64-bit size follows
            unsigned char wide[8];
            file.read(reinterpret_cast<char*>(wide), sizeof wide);
            size = 0;
            for (unsigned char byte : wide) {
                size = (size << 8) | byte;
            }
            headerSize += sizeof wide;
        }
        if (size < headerSize) {
            break;
        }
        file.seekg(static_cast<std::streamoff>(size - headerSize), std::ios::cur);
    }
    return boxes;
}

class ContainerTags : public OutputStreams,
                      public testing::WithParamInterface<ContainerTagCase> {};

TEST_P(ContainerTags, AreWrittenAsAsked) {
    const ContainerTagCase& test = GetParam();
    const std::string output = out_ / (std::string("out") + test.extension);
    std::vector<std::string> arguments = {"render", Clip("main.mp4"), "-o", output, "-q"};
    arguments.insert(arguments.end(), test.options.begin(), test.options.end());
    const RunResult run = RunQuillmere(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    const std::vector<StreamSummary> streams = SummarizeStreams(output);
    const StreamSummary* video = FirstOf(streams, AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    char tag[AV_FOURCC_MAX_STRING_SIZE] = {};
    av_fourcc_make_string(tag, video->codecTag);
    EXPECT_STREQ(tag, test.tag);
    const std::vector<std::string> boxes = TopLevelBoxes(output);
    const auto index = std::find(boxes.begin(), boxes.end(), "moov");
    const auto media = std::find(boxes.begin(), boxes.end(), "mdat");
    ASSERT_TRUE(index != boxes.end() && media != boxes.end());
    EXPECT_EQ(index < media, test.indexFirst);
}

INSTANTIATE_TEST_SUITE_P(Requests, ContainerTags, testing::ValuesIn(kContainerTagCases),
                         [](const testing::TestParamInfo<ContainerTagCase>& info) {
                             return info.param.name;
                         });

struct QuietCase {
    const char* name;
    const char* encoder;
    std::vector<std::string> options;
};
void PrintTo(const QuietCase& test, std::ostream* out) { *out << test.name; }

// Encoder libraries that report through logging of their own, even with
// parameters of the user's own.
const QuietCase kQuietCases[] = {
    {"X265WithItsOwnParameters", "libx265",
     {"--codec", "libx265", "--encoder-option", "x265-params=crf=30:keyint=10"}},
    {"SvtAv1", "libsvtav1", {"--codec", "libsvtav1", "--preset", "12"}},
};

class QuietRender : public OutputStreams, public testing::WithParamInterface<QuietCase> {};

TEST_P(QuietRender, LeavesStandardErrorEmpty) {
    const QuietCase& test = GetParam();
    if (avcodec_find_encoder_by_name(test.encoder) == nullptr) {
        GTEST_SKIP() << "this FFmpeg has no " << test.encoder;
    }
    std::vector<std::string> arguments = {"render", Clip("main.mp4"), "-o", out_ / "out.mkv",
                                          "-q"};
    arguments.insert(arguments.end(), test.options.begin(), test.options.end());
    const RunResult run = RunQuillmere(arguments);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.errorText, "");
}

INSTANTIATE_TEST_SUITE_P(Encoders, QuietRender, testing::ValuesIn(kQuietCases),
                         [](const testing::TestParamInfo<QuietCase>& info) {
                             return info.param.name;
                         });

// What a command prints on standard output; its standard error goes to
// `errors`.
std::string CommandOutput(const std::string& command, const std::string& errorsPath,
                          std::string& errors) {
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(
        popen((command + " 2>'" + errorsPath + "'").c_str(), "r"), &pclose);
    char buffer[256];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr) {
        output += buffer;
    }
    pipe.reset();
    std::ifstream file(errorsPath);
    errors.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return output;
}

// A WebM render reads back without a complaint from ffprobe or from
// decoding every packet, in VP9 and Opus.
TEST_F(OutputStreams, WebmPassesFfprobesChecks) {
    const std::string output = out_ / "out.webm";
    const RunResult run = RunQuillmere({"render", Clip("main-audio.mkv"), "-o", output, "-q"});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    std::string errors;
    const std::string codecs = CommandOutput(
        "ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" + output + "'",
        out_ / "probe.txt", errors);
    EXPECT_EQ(codecs, "vp9\nopus\n");
    EXPECT_EQ(errors, "");
    CommandOutput("ffprobe -v error -show_packets -show_frames '" + output + "' >/dev/null", out_ / "frames.txt",
                  errors);
    EXPECT_EQ(errors, "");
    CommandOutput("ffmpeg -nostdin -v error -i '" + output + "' -f null -", out_ / "decode.txt",
                  errors);
    EXPECT_EQ(errors, "");
}

// HDR10's static metadata as x265 is told it when the test clip is made:
// chromaticities in 0.00002, luminance in 0.0001 cd/m2 (BT.2020 primaries,
// D65, a 1000 cd/m2 display down to 0.005; content up to 1000, 400 on average).
constexpr const char* kMasterDisplay =
    "G(8500,39850)B(6550,2300)R(35400,14600)WP(15635,16450)L(10000000,50)";
constexpr const char* kMaxCll = "1000,400";

// A 10-bit BT.2020 PQ HEVC clip in Matroska whose pictures carry that
// metadata (the ffmpeg program leaves the stream without it).
const std::string& HdrClip() {
    static const ScratchFolder folder;
    static const std::string path = [] {
        const std::string made = folder / "hdr10.mkv";
        RunFfmpeg(std::string("-f lavfi -i testsrc2=s=256x144:r=25:d=0.2 -pix_fmt yuv420p10le "
                              "-color_primaries bt2020 -color_trc smpte2084 -colorspace bt2020nc "
                              "-c:v libx265 -x265-params 'log-level=error:hdr10=1:master-display=") +
                  kMasterDisplay + ":max-cll=" + kMaxCll + "' '" + made + "'");
        return made;
    }();
    return path;
}

using SideDataFields = std::map<std::string, std::string>;

// The mastering-display and light-level fields ffprobe shows for the first
// video stream (`section` "stream") or its first frame ("frame").
SideDataFields ProbedLightFields(const std::string& path, const std::string& section,
                                 const ScratchFolder& folder) {
    const std::string options = section == "stream" ? "-show_streams"
                                                    : "-show_frames -read_intervals %+#1";
    std::string errors;
    const std::string text = CommandOutput("ffprobe -v error -select_streams v:0 " + options +
                                               " '" + path + "'",
                                           folder / "probe-errors.txt", errors);
    SideDataFields fields;
    bool light = false;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.rfind("side_data_type=", 0) == 0) {
            light = line.find("Mastering display") != std::string::npos ||
                    line.find("Content light level") != std::string::npos;
        } else if (line == "[/SIDE_DATA]") {
            light = false;
        } else if (light && line.find('=') != std::string::npos) {
            fields[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
        }
    }
    return fields;
}

// ffprobe's "a/b" or "n" as a fraction.
std::pair<long long, long long> Fraction(const std::string& text) {
    const std::size_t slash = text.find('/');
    return {std::stoll(text.substr(0, slash)),
            slash == std::string::npos ? 1 : std::stoll(text.substr(slash + 1))};
}

// The same fields with the same values (Matroska keeps them as decimals,
// so 34000/50000 may come back as 17/25).
void ExpectSameFields(const SideDataFields& written, const SideDataFields& expected,
                      const std::string& what) {
    ASSERT_EQ(written.size(), expected.size()) << what;
    for (const auto& [key, value] : expected) {
        ASSERT_EQ(written.count(key), 1u) << what << ": " << key;
        const auto [num, den] = Fraction(value);
        const auto [writtenNum, writtenDen] = Fraction(written.at(key));
        EXPECT_EQ(num * writtenDen, writtenNum * den)
            << what << ": " << key << " " << written.at(key) << " for " << value;
    }
}

struct HdrCase {
    const char* name;
    const char* extension;
    std::vector<std::string> options;
    bool inPictures;  // the encoder writes it into the pictures as well
    bool inStream;    // the container keeps it as the stream's
};
void PrintTo(const HdrCase& test, std::ostream* out) { *out << test.name; }

const HdrCase kHdrCases[] = {
    {"HevcInMkv", ".mkv", {"--codec", "hevc"}, true, true},
    {"HevcInMp4", ".mp4", {"--codec", "hevc"}, true, true},
    {"Ffv1InMkv", ".mkv", {}, false, true},
    {"HevcInNut", ".nut", {"--codec", "hevc"}, true, false},
};

class HdrMetadata : public OutputStreams, public testing::WithParamInterface<HdrCase> {};

// The metadata of the main's pictures comes out as the stream's where the
// container keeps it and in the pictures where the encoder writes them,
// with the same values, and with no word said; x265's settings show it in
// its own units as the clip was made with.
TEST_P(HdrMetadata, IsKeptWithTheSameValues) {
    const HdrCase& test = GetParam();
    const std::string output = out_ / (std::string("out") + test.extension);
    std::vector<std::string> arguments = {"render", HdrClip(), "-o", output, "--overlay",
                                          Clip("overlay.avi"), "--size", "25%"};
    arguments.insert(arguments.end(), test.options.begin(), test.options.end());
    const RunResult run = RunQuillmere(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    // Nothing said of the metadata: a note says only what could not be kept.
    EXPECT_EQ(run.errorText.find("metadata"), std::string::npos) << run.errorText;

    const SideDataFields expected = ProbedLightFields(HdrClip(), "frame", out_);
    ASSERT_EQ(expected.size(), 12u);  // ten of the display, two light levels
    ExpectSameFields(ProbedLightFields(output, "stream", out_),
                     test.inStream ? expected : SideDataFields(), "stream");
    ExpectSameFields(ProbedLightFields(output, "frame", out_),
                     test.inPictures ? expected : SideDataFields(), "first frame");
}

INSTANTIATE_TEST_SUITE_P(Outputs, HdrMetadata, testing::ValuesIn(kHdrCases),
                         [](const testing::TestParamInfo<HdrCase>& info) {
                             return info.param.name;
                         });

// Where neither the container nor the encoder keeps it, one note says what
// is left out.
TEST_F(OutputStreams, HdrMetadataAviCannotKeepIsNamedOnce) {
    const RunResult run = RunQuillmere({"render", HdrClip(), "-o", out_ / "out.avi"});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    EXPECT_EQ(Occurrences(run.errorText, "HDR description"), 1u) << run.errorText;
    EXPECT_NE(run.errorText.find("its mastering-display and light-level metadata and its PQ "
                                 "transfer"),
              std::string::npos)
        << run.errorText;
}

// The encoders' own parameters, worked out by hand from rationals as
// libavutil holds them: thousandths (D65 as 3127/10000), and AV1's 16-bit
// fractions, which round to the nearest x265 unit.
TEST(LightParameters, AreInTheEncodersOwnUnits) {
    LightMetadata light;
    AVMasteringDisplayMetadata mastering{};
    mastering.display_primaries[0][0] = {708, 1000};  // red
    mastering.display_primaries[0][1] = {292, 1000};
    mastering.display_primaries[1][0] = {170, 1000};  // green
    mastering.display_primaries[1][1] = {797, 1000};
    mastering.display_primaries[2][0] = {131, 1000};  // blue
    mastering.display_primaries[2][1] = {46, 1000};
    mastering.white_point[0] = {3127, 10000};
    mastering.white_point[1] = {3290, 10000};
    mastering.max_luminance = {1000, 1};
    mastering.min_luminance = {1, 200};
    mastering.has_primaries = 1;
    mastering.has_luminance = 1;
    light.mastering = mastering;
    light.contentLight = AVContentLightMetadata{1000, 400};
    // 0.708 * 50000 = 35400, ..., 0.005 cd/m2 * 10000 = 50.
    EXPECT_EQ(X265LightParameters(light),
              std::string("hdr10=1:master-display=") + kMasterDisplay + ":max-cll=" + kMaxCll);
    EXPECT_EQ(SvtAv1LightParameters(light),
              "enable-hdr=1:mastering-display=G(0.17,0.797)B(0.131,0.046)R(0.708,0.292)"
              "WP(0.3127,0.329)L(1000,0.005):content-light=1000,400");

    // 44564/65536 = 0.679993..., 34000 in x265's units (33999.6); 20972/65536
    // = 0.320007..., 16000; 82/16384 cd/m2 = 0.0050049, 50.
    mastering.display_primaries[0][0] = {44564, 65536};
    mastering.display_primaries[0][1] = {20972, 65536};
    mastering.min_luminance = {82, 16384};
    light.mastering = mastering;
    light.contentLight.reset();
    EXPECT_EQ(X265LightParameters(light),
              "hdr10=1:master-display=G(8500,39850)B(6550,2300)R(34000,16000)"
              "WP(15635,16450)L(10000000,50)");
    // Light levels alone; a display without luminance is not written.
    mastering.has_luminance = 0;
    light.mastering = mastering;
    light.contentLight = AVContentLightMetadata{4000, 1200};
    EXPECT_EQ(X265LightParameters(light), "hdr10=1:max-cll=4000,1200");
    EXPECT_EQ(X265LightParameters(LightMetadata()), "");
}

// MP4 subtitles (mov_text) cannot go into .mkv: the advice names the
// containers that take them, never the one asked for.
TEST_F(OutputStreams, SubtitleAdviceNamesWhatHoldsThem) {
    std::ofstream(out_ / "words.srt") << "1\n00:00:00,000 --> 00:00:00,500\nHello\n";
    RunFfmpeg("-f lavfi -i testsrc=s=96x64:r=25:d=0.5 -i '" + out_ / "words.srt" +
              "' -c:v libx264 -pix_fmt yuv420p -c:s mov_text '" + out_ / "talk.mp4" + "'");
    const RunResult run = RunQuillmere({"render", out_ / "talk.mp4", "-o", out_ / "out.mkv"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.errorText.find("cannot hold the mov_text subtitles of the main video (use "
                                 ".mp4 or .mov, or --no-subtitles to leave them out)"),
              std::string::npos)
        << run.errorText;
}

// `edit MAIN -o OUT` plans, as it starts, the render its page starts: the
// same job as `render MAIN -o OUT`, so the same streams kept, each copied
// or re-encoded alike, with the same notes or the same refusal.
struct SameJobCase {
    const char* name;
    const char* main;
    const char* extension;
    std::vector<std::string> options;
    // The codecs of the output's streams besides the video, in order, as the
    // containers hold them; "" where the render is refused.
    const char* kept;
};

const SameJobCase kSameJobCases[] = {
    {"MovTextAndAacIntoMp4", "talk.mp4", ".mp4", {}, "aac,mov_text"},
    {"MovTextIntoMkvRefused", "talk.mp4", ".mkv", {}, ""},
    {"AacCopiedIntoMkv", "talk.mp4", ".mkv", {"--no-subtitles"}, "aac"},
    {"SubripAndFlacIntoMkv", "talk.mkv", ".mkv", {}, "flac,subrip"},
    {"SubripIntoMp4Refused", "talk.mkv", ".mp4", {}, ""},
    {"FlacReencodedIntoMp4", "talk.mkv", ".mp4", {"--no-subtitles"}, "aac"},
};

class EditAndRender : public testing::TestWithParam<SameJobCase> {
protected:
    static void SetUpTestSuite() {
        clips_ = new ScratchFolder;
        std::ofstream(*clips_ / "words.srt") << "1\n00:00:00,000 --> 00:00:00,400\nHello\n";
        const std::string sources = "-f lavfi -i testsrc=s=96x64:r=25:d=0.5 -f lavfi -i "
                                    "sine=d=0.5:sample_rate=48000 -i '" + *clips_ / "words.srt" +
                                    "' -map 0 -map 1 -map 2 ";
        RunFfmpeg(sources + "-c:v libx264 -pix_fmt yuv420p -c:a aac -c:s mov_text '" +
                  *clips_ / "talk.mp4" + "'");
        RunFfmpeg(sources + "-c:v ffv1 -pix_fmt yuv420p -c:a flac -c:s subrip '" +
                  *clips_ / "talk.mkv" + "'");
    }
    static void TearDownTestSuite() {
        delete clips_;
        clips_ = nullptr;
    }
    static ScratchFolder* clips_;
};
ScratchFolder* EditAndRender::clips_ = nullptr;

void IgnoreNotice(const std::string&) {}
void NoSettingsFile(const std::string&, const std::string&) {}

TEST_P(EditAndRender, KeepTheSameStreams) {
    const SameJobCase& test = GetParam();
    ScratchFolder out;
    const std::string output = out / (std::string("out") + test.extension);
    std::vector<std::string> arguments{*clips_ / test.main, "-o", output, "--mask",
                                       "8,8,w32,h24"};
    arguments.insert(arguments.end(), test.options.begin(), test.options.end());

    std::vector<std::string> render{"render"};
    render.insert(render.end(), arguments.begin(), arguments.end());
    const RunResult rendered = RunQuillmere(render);
    ASSERT_EQ(rendered.exitCode, std::string(test.kept).empty() ? 1 : 0) << rendered.errorText;
    std::string written;
    std::string renderSaid = rendered.errorText;
    if (rendered.exitCode == 0) {
        for (const StreamSummary& stream : SummarizeStreams(output)) {
            if (stream.type != AVMEDIA_TYPE_VIDEO) {
                written += std::string(written.empty() ? "" : ",") +
                           avcodec_get_name(stream.codec);
            }
        }
        // Its last line sums the run up; the lines before are the plan's.
        const std::size_t summary = renderSaid.rfind("quillmere: done:");
        ASSERT_NE(summary, std::string::npos) << renderSaid;
        renderSaid.erase(summary);
    }
    EXPECT_EQ(written, test.kept) << rendered.errorText;

    // edit's start, in process as the command makes it: its own facts, and
    // the page's render planned from them.
    std::vector<std::string> words{"quillmere", "edit"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<const char*> argv;
    for (const std::string& word : words) {
        argv.push_back(word.c_str());
    }
    const CommandLine line = ReadCommandLine(static_cast<int>(argv.size()), argv.data());
    auto reader = std::make_unique<VideoReader>(line.input, line.videoStream, line.pictureLimit);
    EditStart start{line, GatherFacts(line, *reader), 0};
    RunnerEditWork work(std::move(reader), &IgnoreNotice, QUILLMERE_PROGRAM);
    std::string planned;
    std::string editSaid;
    try {
        const EditSession session(start, work, &NoSettingsFile);
        const RenderJob job = PlanJob(session.LineFor(Command::Render), session.facts());
        for (const std::string& note : job.notes) {
            editSaid += "quillmere: " + note + "\n";
        }
        InputContextPtr main = OpenForReading(*clips_ / test.main);
        for (const KeptStream& kept : job.output.kept) {
            const AVCodecID codec =
                kept.encoding ? avcodec_find_encoder_by_name(kept.encoding->encoder.c_str())->id
                              : main->streams[kept.index]->codecpar->codec_id;
            planned += std::string(planned.empty() ? "" : ",") + avcodec_get_name(codec);
        }
    } catch (const std::exception& error) {
        editSaid = std::string("quillmere: ") + error.what() + "\n";
    }
    EXPECT_EQ(planned, test.kept);
    EXPECT_EQ(editSaid, renderSaid);
}

INSTANTIATE_TEST_SUITE_P(Outputs, EditAndRender, testing::ValuesIn(kSameJobCases),
                         [](const testing::TestParamInfo<SameJobCase>& info) {
                             return std::string(info.param.name);
                         });

// Whether a container takes a stream as it is decides between copying and
// re-encoding; the ffmpeg program, copying the same stream, is the judge.
TEST(ContainerTakes, WhatTheFfmpegProgramCanCopyIntoIt) {
    ScratchFolder folder;
    // PCM, which MP4 refuses; FLAC and Opus, which libavformat's tag lists
    // name for containers whose muxers then refuse them.
    for (const char* encoder : {"pcm_s16le", "flac", "libopus"}) {
        const std::string source = folder / (std::string(encoder) + ".mka");
        RunFfmpeg("-f lavfi -i sine=d=0.1 -c:a " + std::string(encoder) + " '" + source + "'");
        InputContextPtr file = OpenForReading(source);
        ASSERT_TRUE(file);
        // Every container at once: each copy prints its extension and whether it worked.
        std::string script;
        for (const OutputFormat& format : OutputFormats()) {
            script += std::string("(ffmpeg -nostdin -v quiet -y -i '") + source +
                      "' -c copy -f " + format.muxer + " '" + folder / "copy" +
                      format.extension + "' >/dev/null 2>&1; echo " + format.extension +
                      " $?) & ";
        }
        std::unique_ptr<FILE, int (*)(FILE*)> results(popen((script + "wait").c_str(), "r"),
                                                       &pclose);
        ASSERT_TRUE(results);
        std::map<std::string, bool> copied;
        char extension[16] = {};
        int status = 0;
        while (std::fscanf(results.get(), "%15s %d", extension, &status) == 2) {
            copied[extension] = status == 0;
        }
        for (const OutputFormat& format : OutputFormats()) {
            ASSERT_EQ(copied.count(format.extension), 1u) << format.extension;
            EXPECT_EQ(HoldsStream(format, *file->streams[0]->codecpar),
                      copied[format.extension])
                << encoder << " in " << format.extension;
        }
    }
}

}  // namespace
