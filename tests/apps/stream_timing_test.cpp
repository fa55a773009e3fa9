// Where a render puts the main's streams in time: every stream keeps its own
// start (a video that starts late, audio before it, Opus's pre-skip counted
// once), every packet is carried, and chapters keep their times. Expected
// figures come from the ffmpeg program's stream copy of the same clip (or
// the clip itself), read back with libavformat; the flash and the beep are
// found in the decoded pictures and sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/apps/media_readback.h"
#include "tests/apps/runner_harness.h"

namespace {

// A millisecond: the finest step Matroska keeps.
constexpr double kSyncTolerance = 0.001;
// The main video of late.mkv starts this long after its audio.
constexpr double kVideoDelay = 0.5;

// The clips the tests share, made once: H.264 with B-frames and AAC in
// MP4 (its audio's priming reaches before the first frame), a flash and a
// beep at 1 s with Opus in Matroska, and a video that starts half a second
// after its audio, with chapters on either side of that start.
const ScratchFolder& TimingClips() {
    static const std::unique_ptr<ScratchFolder> folder = [] {
        auto made = std::make_unique<ScratchFolder>();
        const ScratchFolder& f = *made;
        const std::string h264 = " -c:v libx264 -preset veryfast -pix_fmt yuv420p ";
        RunFfmpeg("-f lavfi -i testsrc2=s=160x120:r=25:d=1 "
                  "-f lavfi -i sine=f=440:sample_rate=48000:d=1" + h264 + "-c:a aac '" +
                  f / "h264-aac.mp4" + "'");
        RunFfmpeg("-f lavfi -i \"color=black:s=160x120:r=25:d=2,"
                  "drawbox=c=white:t=fill:enable='between(t,1,1.03)'\" "
                  "-f lavfi -i \"aevalsrc='if(between(t,1,1.1),0.8*sin(2*PI*1000*t),0)':"
                  "s=48000:d=2\"" + h264 + "-c:a libopus '" + f / "opus.mkv" + "'");
        RunFfmpeg("-i '" + f / "opus.mkv" + "' -c:v copy -c:a aac '" + f / "aac.mp4" + "'");
        std::ofstream(f / "chapters.txt")
            << ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=500\ntitle=Before\n"
               "[CHAPTER]\nTIMEBASE=1/1000\nSTART=500\nEND=1500\ntitle=After\n";
        RunFfmpeg("-itsoffset " + std::to_string(kVideoDelay) +
                  " -f lavfi -i testsrc2=s=160x120:r=25:d=1 "
                  "-f lavfi -i sine=f=440:sample_rate=48000:d=1.5 -i '" + f / "chapters.txt" +
                  "' -map 0:v -map 1:a -map_chapters 2" + h264 + "-c:a aac '" + f / "late.mkv" +
                  "'");
        return made;
    }();
    return *folder;
}

std::string TimingClip(const std::string& name) { return TimingClips() / name; }

class StreamTiming : public testing::Test {
protected:
    static void SetUpTestSuite() { TimingClips(); }
    ScratchFolder out_;
};

// What the expected figures are read from.
enum class Reference {
    StreamCopy,  // ffmpeg -i MAIN -map 0 -c copy into the same container
    // The main itself: FFmpeg 5.1's own copy of Opus into Matroska moves
    // the video by the codec delay (its muxer records the delay without
    // applying it), so it cannot stand for the right answer there.
    Main,
};

struct TimingCase {
    const char* name;
    const char* main;
    const char* extension;
    Reference reference;
};
void PrintTo(const TimingCase& test, std::ostream* out) { *out << test.name; }

const TimingCase kTimingCases[] = {
    {"H264AacToMkv", "h264-aac.mp4", ".mkv", Reference::StreamCopy},
    {"H264AacToMp4", "h264-aac.mp4", ".mp4", Reference::StreamCopy},
    {"OpusToMkv", "opus.mkv", ".mkv", Reference::Main},
    {"OpusToMp4", "opus.mkv", ".mp4", Reference::StreamCopy},
    {"LateVideoToMkv", "late.mkv", ".mkv", Reference::StreamCopy},
    {"LateVideoToMp4", "late.mkv", ".mp4", Reference::StreamCopy},
};

class StreamStarts : public StreamTiming, public testing::WithParamInterface<TimingCase> {};

TEST_P(StreamStarts, KeepEveryPacketAndTheirPlaceBesideTheVideo) {
    const TimingCase& test = GetParam();
    const std::string output = out_ / (std::string("out") + test.extension);
    const RunResult run = RunQuillmere({"render", TimingClip(test.main), "-o", output, "-q"});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    std::string reference = TimingClip(test.main);
    if (test.reference == Reference::StreamCopy) {
        reference = out_ / (std::string("copy") + test.extension);
        RunFfmpeg("-i '" + TimingClip(test.main) + "' -map 0 -c copy '" + reference + "'");
    }

    const std::vector<StreamSummary> expected = SummarizeStreams(reference);
    const std::vector<StreamSummary> written = SummarizeStreams(output);
    const StreamSummary* expectedVideo = FirstOf(expected, AVMEDIA_TYPE_VIDEO);
    const StreamSummary* expectedAudio = FirstOf(expected, AVMEDIA_TYPE_AUDIO);
    const StreamSummary* video = FirstOf(written, AVMEDIA_TYPE_VIDEO);
    const StreamSummary* audio = FirstOf(written, AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(expectedVideo && expectedAudio && video && audio);
    EXPECT_EQ(audio->packets, expectedAudio->packets);
    EXPECT_EQ(video->packets, expectedVideo->packets);
    // Where the whole file starts is the muxer's business (Matroska moves
    // everything past a negative time, ffmpeg's copy starts the file at 0);
    // where the audio starts beside the video is not.
    EXPECT_NEAR(audio->first - video->first, expectedAudio->first - expectedVideo->first,
                kSyncTolerance);

    const std::vector<ChapterTimes> expectedChapters = ChaptersOf(reference);
    const std::vector<ChapterTimes> chapters = ChaptersOf(output);
    ASSERT_EQ(chapters.size(), expectedChapters.size());
    for (std::size_t index = 0; index < chapters.size(); ++index) {
        EXPECT_EQ(chapters[index].title, expectedChapters[index].title);
        EXPECT_NEAR(chapters[index].start, expectedChapters[index].start, kSyncTolerance);
        EXPECT_NEAR(chapters[index].end, expectedChapters[index].end, kSyncTolerance);
    }
}

INSTANTIATE_TEST_SUITE_P(Mains, StreamStarts, testing::ValuesIn(kTimingCases),
                         [](const testing::TestParamInfo<TimingCase>& info) {
                             return info.param.name;
                         });

// Decodes the first stream of `type` in `path` and gives the time of the
// first place `find` reports: the frame's time plus `find`'s offset in
// seconds within the frame (negative: nothing in this frame). NAN when there
// is none, or when `usable` refuses the decoder.
double FirstTimeOf(const std::string& path, AVMediaType type,
                   const std::function<bool(const AVCodecContext&)>& usable,
                   const std::function<double(const AVFrame&)>& find) {
    InputContextPtr file = OpenForReading(path);
    const int index = file ? FirstStreamOf(*file, type) : -1;
    if (index < 0) {
        return NAN;
    }
    const AVStream& stream = *file->streams[index];
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    CodecContextPtr decoder(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(decoder.get(), stream.codecpar);
    decoder->pkt_timebase = stream.time_base;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0 || !usable(*decoder)) {
        return NAN;
    }
    PacketPtr packet = NewPacket();
    FramePtr frame = NewFrame();
    for (bool more = true; more;) {
        more = av_read_frame(file.get(), packet.get()) >= 0;
        if (more && packet->stream_index != index) {
            av_packet_unref(packet.get());
            continue;
        }
        avcodec_send_packet(decoder.get(), more ? packet.get() : nullptr);
        av_packet_unref(packet.get());
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            const double offset = find(*frame);
            if (offset >= 0) {
                return static_cast<double>(frame->best_effort_timestamp) *
                           av_q2d(stream.time_base) +
                       offset;
            }
        }
    }
    return NAN;
}

// The time of the first decoded picture brighter than mid-grey.
double FlashSeconds(const std::string& path) {
    return FirstTimeOf(
        path, AVMEDIA_TYPE_VIDEO, [](const AVCodecContext&) { return true; },
        [](const AVFrame& frame) {
            // Luma of the picture's centre, which the flash fills.
            const std::uint8_t luma =
                frame.data[0][(frame.height / 2) * frame.linesize[0] + frame.width / 2];
            return luma > 128 ? 0.0 : -1.0;
        });
}

// The time of the first decoded sample louder than a third of full scale.
double BeepSeconds(const std::string& path) {
    constexpr float kLoud = 0.3f;
    return FirstTimeOf(
        path, AVMEDIA_TYPE_AUDIO,
        [&path](const AVCodecContext& decoder) {
            if (decoder.sample_fmt != AV_SAMPLE_FMT_FLTP) {
                ADD_FAILURE() << path << ": expected a decoder of planar float samples";
                return false;
            }
            return true;
        },
        [](const AVFrame& frame) {
            const auto* samples = reinterpret_cast<const float*>(frame.data[0]);
            for (int sample = 0; sample < frame.nb_samples; ++sample) {
                if (std::fabs(samples[sample]) > kLoud) {
                    return static_cast<double>(sample) / frame.sample_rate;
                }
            }
            return -1.0;
        });
}

struct FlashCase {
    const char* name;
    const char* main;  // opus.mkv, or aac.mp4: the same with its audio in AAC
    const char* extension;
};
void PrintTo(const FlashCase& test, std::ostream* out) { *out << test.name; }

const FlashCase kFlashCases[] = {
    {"OpusKeptInMkv", "opus.mkv", ".mkv"},
    {"OpusIntoMp4BecomesAac", "opus.mkv", ".mp4"},
    {"OpusIntoMov", "opus.mkv", ".mov"},
    {"OpusKeptInWebm", "opus.mkv", ".webm"},
    {"AacIntoWebmBecomesOpus", "aac.mp4", ".webm"},
};

class FlashAndBeep : public StreamTiming, public testing::WithParamInterface<FlashCase> {};

// The beep keeps its distance from the flash (Opus's pre-skip counted once),
// also when the container cannot hold the audio and it is re-encoded.
TEST_P(FlashAndBeep, StayAsFarApartAsInTheMain) {
    const FlashCase& test = GetParam();
    const std::string main = TimingClip(test.main);
    const std::string output = out_ / (std::string("out") + test.extension);
    const RunResult run = RunQuillmere({"render", main, "-o", output, "-q"});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    const double expected = BeepSeconds(main) - FlashSeconds(main);
    EXPECT_NEAR(BeepSeconds(output) - FlashSeconds(output), expected, kSyncTolerance);
}

INSTANTIATE_TEST_SUITE_P(Containers, FlashAndBeep, testing::ValuesIn(kFlashCases),
                         [](const testing::TestParamInfo<FlashCase>& info) {
                             return info.param.name;
                         });

// AVI starts every stream with the first frame: the audio before a late
// video is left out (said once), and what stays starts with the video.
TEST_F(StreamTiming, AviLeavesOutTheAudioBeforeTheFirstFrame) {
    const std::string output = out_ / "out.avi";
    const RunResult run = RunQuillmere({"render", TimingClip("late.mkv"), "-o", output});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    EXPECT_NE(run.errorText.find("audio before it (0.541 s) is left out"), std::string::npos)
        << run.errorText;

    const std::vector<StreamSummary> main = SummarizeStreams(TimingClip("late.mkv"));
    const double videoStart = FirstOf(main, AVMEDIA_TYPE_VIDEO)->first;
    const std::vector<PacketRecord> audio = ReadPackets(TimingClip("late.mkv"), 1);
    ASSERT_GT(audio.size(), 1u);
    const double packetLength = audio[1].seconds - audio[0].seconds;
    // Packets that end after the first frame starts.
    const long kept = std::count_if(audio.begin(), audio.end(), [&](const PacketRecord& packet) {
        return packet.seconds + packetLength > videoStart;
    });
    const std::vector<StreamSummary> streams = SummarizeStreams(output);
    const StreamSummary* written = FirstOf(streams, AVMEDIA_TYPE_AUDIO);
    ASSERT_NE(written, nullptr);
    EXPECT_EQ(written->packets, kept);
}

}  // namespace
