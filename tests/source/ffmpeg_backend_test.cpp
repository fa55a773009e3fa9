// The FFmpeg backend through the module's own open sequence, on clips made by
// the ffmpeg program: every frame by number, in any order, pixel for pixel
// what FFmpeg decodes, and bad files handled as the failure table says.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "filter/filter_data.h"
#include "source/avi_library.h"
#include "source/decoded_frame_cache.h"
#include "source/ffmpeg_frame_reader.h"
#include "source/handle_registry.h"
#include "source/overlay_source.h"
#include "tests/source/recording_window_system.h"
#include "tests/source/test_clips.h"

namespace {

HWND const kDialog = reinterpret_cast<HWND>(0x55);

BITMAPINFOHEADER HeaderOf(const void* record) {
    BITMAPINFOHEADER header;
    std::memcpy(&header, record, sizeof header);
    return header;
}

// Every frame of `path` as FFmpeg decodes it, converted to top-down BGR
// rows, in presentation order.
std::vector<std::vector<std::uint8_t>> DecodeDirectly(const std::string& path) {
    std::vector<std::vector<std::uint8_t>> frames;
    AVFormatContext* input = nullptr;
    if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(input, nullptr) < 0) {
        ADD_FAILURE() << "cannot open " << path;
        return frames;
    }
    const int index = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodecParameters* parameters = input->streams[index]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, parameters);
    avcodec_open2(decoder, codec, nullptr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    SwsContext* scaler = nullptr;
    const auto collect = [&] {
        while (avcodec_receive_frame(decoder, frame) == 0) {
            scaler = sws_getCachedContext(scaler, frame->width, frame->height,
                                          static_cast<AVPixelFormat>(frame->format), frame->width,
                                          frame->height, AV_PIX_FMT_BGR24,
                                          SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                                          nullptr, nullptr, nullptr);
            std::vector<std::uint8_t> picture(static_cast<std::size_t>(frame->width) *
                                              frame->height * 3);
            std::uint8_t* planes[4] = {picture.data(), nullptr, nullptr, nullptr};
            int strides[4] = {frame->width * 3, 0, 0, 0};
            sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
            frames.push_back(std::move(picture));
        }
    };
    while (av_read_frame(input, packet) >= 0) {
        if (packet->stream_index == index) {
            avcodec_send_packet(decoder, packet);
            collect();
        }
        av_packet_unref(packet);
    }
    avcodec_send_packet(decoder, nullptr);
    collect();
    sws_freeContext(scaler);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&input);
    return frames;
}

// The picture of a 24-bit bottom-up record as top-down packed rows.
std::vector<std::uint8_t> TopDownPicture(const void* record, int bytesPerPixel) {
    const BITMAPINFOHEADER header = HeaderOf(record);
    const long rowBytes = (header.biWidth * header.biBitCount / 8 + 3) & ~3L;
    const auto* bits = static_cast<const std::uint8_t*>(record) + header.biSize;
    std::vector<std::uint8_t> picture;
    for (long y = 0; y < header.biHeight; ++y) {
        const std::uint8_t* row = bits + (header.biHeight - 1 - y) * rowBytes;
        for (long x = 0; x < header.biWidth; ++x) {
            picture.insert(picture.end(), row + x * header.biBitCount / 8,
                           row + x * header.biBitCount / 8 + bytesPerPixel);
        }
    }
    return picture;
}

class FfmpegBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseAviLibrary(nullptr);
        std::memset(&record_, 0, sizeof record_);
        record_.dialogWindow = kDialog;
    }
    void TearDown() override {
        DecodedFrameCache::Instance().SetLimit(kDecodedFrameCacheLimit);
        ReleaseTrackedHandles();
    }

    const AviLibrary& library() const { return CurrentAviLibrary(); }
    void* Fetch(long number) { return library().StreamGetFrame(record_.frameGetter, number); }
    int NumberAt(long number) {
        const void* frame = Fetch(number);
        return frame != nullptr ? NumberInRecord(frame) : -2;
    }

    FilterData record_;
    RecordingWindowSystem windows_;
    UsingWindowSystem using_{windows_};
};

// Playing forward frame by frame keeps only a few frames: the frame behind
// is retired, not cached (a clip played through once filled the cache).
// The first frame stays, so a frame fetched again after a jump, or every
// repeat from the start, gets the bytes it got before.
TEST_F(FfmpegBackendTest, ForwardPlayKeepsFewFramesAndTheFirstOne) {
    OpenOverlayFile(ClipPath(ClipKindNamed("h264-mp4")).c_str(), record_);
    ASSERT_NE(record_.frameGetter, nullptr);
    const std::size_t before = DecodedFrameCache::Instance().entryCount();
    const void* first = Fetch(0);
    ASSERT_NE(first, nullptr);
    const BITMAPINFOHEADER header = HeaderOf(first);
    const std::size_t recordBytes = sizeof header + header.biSizeImage;
    const std::vector<std::uint8_t> firstBytes(static_cast<const std::uint8_t*>(first),
                                               static_cast<const std::uint8_t*>(first) +
                                                   recordBytes);
    for (long n = 1; n < kClipFrames; ++n) {
        ASSERT_EQ(NumberAt(n), n);
    }
    EXPECT_LE(DecodedFrameCache::Instance().entryCount(), before + 4);
    const void* again = Fetch(0);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(std::equal(firstBytes.begin(), firstBytes.end(),
                           static_cast<const std::uint8_t*>(again)));
}

class EveryClipKind : public FfmpegBackendTest,
                      public ::testing::WithParamInterface<ClipKind> {};

TEST_P(EveryClipKind, OpensWithSizeAndLength) {
    OpenOverlayFile(ClipPath(GetParam()).c_str(), record_);
    ASSERT_NE(record_.frameGetter, nullptr);
    EXPECT_EQ(record_.overlayWidth, kClipWidth);
    EXPECT_EQ(record_.overlayHeight, kClipHeight);
    EXPECT_EQ(record_.overlayLength, kClipFrames);
    EXPECT_EQ(windows_.numbers[std::make_pair(kDialog, kOverlayLengthControl)],
              static_cast<unsigned>(kClipFrames));
    EXPECT_EQ(windows_.texts[std::make_pair(kDialog, kOverlaySizeControl)], "160 x 120");

    long size = 0;
    ASSERT_EQ(library().StreamReadFormat(record_.aviStream, 0, nullptr, &size), 0);
    ASSERT_EQ(size, 40);
    BITMAPINFOHEADER format{};
    ASSERT_EQ(library().StreamReadFormat(record_.aviStream, 0, &format, &size), 0);
    EXPECT_EQ(format.biBitCount, GetParam().withAlpha ? 32 : 24);
}

TEST_P(EveryClipKind, EveryFrameByNumberInAnyOrder) {
    OpenOverlayFile(ClipPath(GetParam()).c_str(), record_);
    ASSERT_NE(record_.frameGetter, nullptr);

    std::vector<long> order;
    for (long n = 0; n < kClipFrames; ++n) order.push_back(n);                // forward
    for (long n = kClipFrames - 1; n >= 0; --n) order.push_back(n);           // reversed
    std::vector<long> shuffled(order.begin(), order.begin() + kClipFrames);
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    order.insert(order.end(), shuffled.begin(), shuffled.end());              // jumps
    for (long n : {5L, 5L, 6L, 4L, 30L, 29L, 31L}) order.push_back(n);       // repeats, steps

    for (long n : order) {
        const void* frame = Fetch(n);
        ASSERT_NE(frame, nullptr) << "frame " << n;
        const BITMAPINFOHEADER header = HeaderOf(frame);
        EXPECT_EQ(header.biSize, 40u);
        EXPECT_EQ(header.biWidth, kClipWidth);
        EXPECT_EQ(header.biHeight, kClipHeight) << "bottom-up rows";
        EXPECT_EQ(NumberInRecord(frame), n);
    }
}

TEST_P(EveryClipKind, NumbersOutsideTheStreamGiveNoFrame) {
    OpenOverlayFile(ClipPath(GetParam()).c_str(), record_);
    ASSERT_NE(record_.frameGetter, nullptr);
    for (long n : {-1L, static_cast<long>(kClipFrames), 100000L, -100000L}) {
        EXPECT_EQ(Fetch(n), nullptr) << n;
    }
    EXPECT_EQ(NumberAt(kClipFrames - 1), kClipFrames - 1) << "still usable afterwards";
}

TEST_P(EveryClipKind, FramesAreWhatFfmpegDecodes) {
    const ClipKind& kind = GetParam();
    const std::string path = ClipPath(kind);
    OpenOverlayFile(path.c_str(), record_);
    ASSERT_NE(record_.frameGetter, nullptr);
    const auto reference = DecodeDirectly(path);
    ASSERT_EQ(reference.size(), static_cast<std::size_t>(kClipFrames));
    for (long n = kClipFrames - 1; n >= 0; n -= 3) {
        const void* frame = Fetch(n);
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(TopDownPicture(frame, 3), reference[static_cast<std::size_t>(n)]) << "frame " << n;
        if (kind.lossless) {
            const int bytesPerPixel = kind.withAlpha ? 4 : 3;
            EXPECT_EQ(TopDownPicture(frame, bytesPerPixel),
                      SourcePicture(static_cast<int>(n), kClipWidth, kClipHeight, bytesPerPixel))
                << "frame " << n << " differs from what was encoded";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Clips, EveryClipKind, ::testing::ValuesIn(AllClipKinds()),
                         [](const ::testing::TestParamInfo<ClipKind>& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

struct PlaybackCost {
    const char* clip;
    bool reversed;
    long mostPicturesPerFrame;  // decoded pictures allowed per frame shown, in tenths
};

class DecodingCost : public FfmpegBackendTest,
                     public ::testing::WithParamInterface<PlaybackCost> {};

// Playing an inter-coded clip backward must not decode a group of pictures
// per frame shown: about one picture per frame, as forward.
TEST_P(DecodingCost, StaysAboutOnePicturePerFrame) {
    const PlaybackCost& cost = GetParam();
    OpenOverlayFile(ClipPath(ClipKindNamed(cost.clip)).c_str(), record_);
    ASSERT_NE(record_.frameGetter, nullptr);
    const long before = FfmpegFrameReader::DecodedPictureCount();
    for (long i = 0; i < kClipFrames; ++i) {
        const long n = cost.reversed ? kClipFrames - 1 - i : i;
        ASSERT_EQ(NumberAt(n), n);
    }
    const long decoded = FfmpegFrameReader::DecodedPictureCount() - before;
    EXPECT_LE(decoded * 10, kClipFrames * cost.mostPicturesPerFrame) << decoded << " pictures";
}

INSTANTIATE_TEST_SUITE_P(
    Playback, DecodingCost,
    ::testing::Values(PlaybackCost{"h264-mp4", false, 10}, PlaybackCost{"h264-mp4", true, 12},
                      PlaybackCost{"h264-mkv", true, 12}, PlaybackCost{"mjpeg", true, 10}),
    [](const ::testing::TestParamInfo<PlaybackCost>& info) {
        std::string name = std::string(info.param.clip) + (info.param.reversed ? "_reversed" : "_forward");
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

TEST_F(FfmpegBackendTest, ReversedPlaybackStaysExactWithATinyCache) {
    // Room for three frames: every backward step must decode again.
    const std::size_t frameBytes = 40 + kClipWidth * kClipHeight * 3;
    DecodedFrameCache::Instance().SetLimit(3 * frameBytes);
    OpenOverlayFile(ClipPath(ClipKindNamed("h264-mp4")).c_str(), record_);
    ASSERT_NE(record_.frameGetter, nullptr);
    for (long n = kClipFrames - 1; n >= 0; --n) {
        EXPECT_EQ(NumberAt(n), n);
        EXPECT_LE(DecodedFrameCache::Instance().bytesInUse(), 3 * frameBytes);
    }
}

TEST_F(FfmpegBackendTest, RecordStaysValidWhileAnotherReaderFillsTheCache) {
    const std::size_t frameBytes = 40 + kClipWidth * kClipHeight * 3;
    DecodedFrameCache::Instance().SetLimit(2 * frameBytes);
    const std::string path = ClipPath(ClipKindNamed("h264-mp4"));
    FilterData other = record_;
    OpenOverlayFile(path.c_str(), record_);
    OpenOverlayFile(path.c_str(), other);
    ASSERT_NE(record_.frameGetter, nullptr);
    ASSERT_NE(other.frameGetter, nullptr);

    const auto* held = static_cast<const std::uint8_t*>(Fetch(17));
    ASSERT_NE(held, nullptr);
    const std::vector<std::uint8_t> copy(held, held + frameBytes);
    for (long n = kClipFrames - 1; n >= 0; --n) {
        ASSERT_NE(library().StreamGetFrame(other.frameGetter, n), nullptr);
    }
    EXPECT_TRUE(std::equal(copy.begin(), copy.end(), held));
    EXPECT_EQ(NumberInRecord(held), 17);
}

TEST_F(FfmpegBackendTest, ReleasingFileAndStreamLeavesTheReaderWorking) {
    // Opened directly, not through the module, so that nothing tracks them.
    AviFileHandle file = nullptr;
    const std::string path = ClipPath(ClipKindNamed("mjpeg"));
    ASSERT_EQ(library().FileOpen(&file, path.c_str(), kAviOpenReadOnly), 0);
    AviStreamHandle stream = nullptr;
    ASSERT_EQ(library().FileGetStream(file, &stream, kStreamTypeVideo, 0), 0);
    FrameGetterHandle reader = library().StreamGetFrameOpen(stream, nullptr);
    ASSERT_NE(reader, nullptr);
    library().StreamRelease(stream);
    library().FileRelease(file);
    const void* frame = library().StreamGetFrame(reader, 12);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(NumberInRecord(frame), 12);
    library().GetFrameClose(reader);
}

// --- Bad input ---------------------------------------------------------------

std::string AbsurdlySizedRaw() {
    std::string bytes = ReadFile(ClipPath(ClipKindNamed("raw24")));
    const std::int32_t absurd = 100000;
    // The main header's and the stream format's width and height.
    const std::string::size_type mainHeader = bytes.find("avih") + 8;
    std::memcpy(&bytes[mainHeader + 32], &absurd, 4);
    std::memcpy(&bytes[mainHeader + 36], &absurd, 4);
    const std::string::size_type format = bytes.find("strf") + 8;
    std::memcpy(&bytes[format + 4], &absurd, 4);
    std::memcpy(&bytes[format + 8], &absurd, 4);
    return WriteScratchFile("absurd.avi", bytes);
}

std::string MadeBy(const std::string& name, const std::string& options) {
    const std::string path = ScratchFolder() + "/" + name;
    const std::string command = "ffmpeg -nostdin -v error -y " + options + " '" + path + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return path;
}

struct BadInput {
    const char* name;
    std::string (*make)();
    // How far the open gets: 1 no file, 2 no video stream, 4 no reader, 5 no frame 0.
    int stopsAt;
    long length;  // when the length is written
};

const BadInput kBadInputs[] = {
    {"missing", [] { return ScratchFolder() + "/no-such-file.avi"; }, 1, 0},
    {"directory", [] { return ScratchFolder(); }, 1, 0},
    {"empty", [] { return WriteScratchFile("empty.avi", ""); }, 1, 0},
    {"text", [] { return WriteScratchFile("notes.avi", "These are not the frames.\n"); }, 1, 0},
    {"audio_only",
     [] { return MadeBy("audio.avi", "-f lavfi -i sine=duration=1 -c:a pcm_s16le"); }, 2, 0},
    {"zero_frames",
     [] {
         return MadeBy("zero.avi",
                       "-f lavfi -i color=size=160x120 -frames:v 0 -c:v rawvideo -pix_fmt bgr24");
     },
     5, 0},
    {"absurd_size", &AbsurdlySizedRaw, 4, kClipFrames},
};

class BadInputTable : public FfmpegBackendTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(BadInputTable, EndsAsTheFailureTableSays) {
    // A working overlay is in place beforehand.
    OpenOverlayFile(ClipPath(ClipKindNamed("raw24")).c_str(), record_);
    const FrameGetterHandle previousReader = record_.frameGetter;
    ASSERT_NE(previousReader, nullptr);
    record_.overlayWidth = 11;
    record_.overlayHeight = 22;
    record_.overlayLength = 33;

    const BadInput& input = GetParam();
    OpenOverlayFile(input.make().c_str(), record_);

    const int stop = input.stopsAt;
    EXPECT_EQ(record_.aviFile == nullptr, stop == 1);
    EXPECT_EQ(record_.aviStream == nullptr, stop == 2);
    if (stop <= 3) {
        EXPECT_EQ(record_.frameGetter, previousReader) << "the previous overlay stays in use";
    } else if (stop == 4) {
        EXPECT_EQ(record_.frameGetter, nullptr);
    } else {
        EXPECT_NE(record_.frameGetter, nullptr);
        EXPECT_NE(record_.frameGetter, previousReader);
    }
    EXPECT_EQ(record_.overlayWidth, 11);
    EXPECT_EQ(record_.overlayHeight, 22);
    EXPECT_EQ(record_.overlayLength, stop >= 4 ? input.length : 33);
}

INSTANTIATE_TEST_SUITE_P(Files, BadInputTable, ::testing::ValuesIn(kBadInputs),
                         [](const ::testing::TestParamInfo<BadInput>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(FfmpegBackendTest, CorruptedFrameGivesNoFrameAndItsNeighboursStillCome) {
    OpenOverlayFile(CorruptedMjpegClip(20).c_str(), record_);
    ASSERT_NE(record_.frameGetter, nullptr);
    EXPECT_EQ(record_.overlayLength, kClipFrames);
    for (long n = 0; n < kClipFrames; ++n) {
        EXPECT_EQ(NumberAt(n), n == 20 ? -2 : n) << "forward, frame " << n;
    }
    for (long n = kClipFrames - 1; n >= 0; --n) {
        EXPECT_EQ(NumberAt(n), n == 20 ? -2 : n) << "reversed, frame " << n;
    }
    EXPECT_EQ(NumberAt(20), -2);
    EXPECT_EQ(NumberAt(0), 0);
}

TEST_F(FfmpegBackendTest, CorruptedFirstFrame) {
    OpenOverlayFile(CorruptedMjpegClip(0).c_str(), record_);
    ASSERT_NE(record_.frameGetter, nullptr);
    EXPECT_EQ(NumberAt(0), -2);
    EXPECT_EQ(NumberAt(1), 1);
    EXPECT_EQ(NumberAt(0), -2);
}

TEST_F(FfmpegBackendTest, TruncatedFileGivesTheFramesItHolds) {
    std::string bytes = ReadFile(ClipPath(ClipKindNamed("raw24")));
    bytes.resize(bytes.size() / 2);
    OpenOverlayFile(WriteScratchFile("truncated.avi", bytes).c_str(), record_);
    ASSERT_NE(record_.frameGetter, nullptr);
    ASSERT_GT(record_.overlayLength, 5);
    ASSERT_LT(record_.overlayLength, kClipFrames);
    for (long n = record_.overlayLength - 1; n >= 0; --n) {
        const int number = NumberAt(n);
        // The frame cut in two may be dropped, never misnumbered.
        EXPECT_TRUE(number == n || (number == -2 && n == record_.overlayLength - 1)) << n << " got " << number;
    }
}

}  // namespace
