// What a render keeps of the main video: every sample outside the area the
// filter draws in, its pixel format and depth, its colours (overlays drawn
// with their own matrix, written with the main's), its tags, aspect,
// rotation and frame times. Inputs are made here with the ffmpeg program;
// outputs are read back with libavformat and libavcodec directly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tests/apps/runner_harness.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace {

// Everything of a file's first video stream that the tests look at.
struct DecodedVideo {
    AVPixelFormat format = AV_PIX_FMT_NONE;
    int width = 0;
    int height = 0;
    AVColorSpace colorspace = AVCOL_SPC_UNSPECIFIED;
    AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
    AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
    AVRational sampleAspectRatio{0, 1};
    double rotation = 0;  // degrees, from the display matrix
    std::string language;
    std::string title;
    std::string fileTitle;
    std::int64_t declaredFrames = 0;
    std::vector<double> times;  // seconds, presentation order, from the first
    std::vector<std::vector<std::vector<std::uint8_t>>> planes;  // frame, plane, bytes (packed rows)
    std::vector<int> planeWidthBytes;
    std::vector<int> planeHeights;
};

std::string Tag(const AVDictionary* tags, const char* key) {
    const AVDictionaryEntry* entry = av_dict_get(tags, key, nullptr, 0);
    return entry != nullptr ? entry->value : "";
}

DecodedVideo Decode(const std::string& path) {
    DecodedVideo video;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) != 0) {
        ADD_FAILURE() << "cannot open " << path;
        return video;
    }
    avformat_find_stream_info(format, nullptr);
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVStream* stream = format->streams[index];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, stream->codecpar);
    avcodec_open2(decoder, codec, nullptr);
    video.language = Tag(stream->metadata, "language");
    video.title = Tag(stream->metadata, "title");
    video.fileTitle = Tag(format->metadata, "title");
    video.declaredFrames = stream->nb_frames;
    video.sampleAspectRatio = stream->sample_aspect_ratio;
    std::size_t size = 0;
    if (const std::uint8_t* matrix =
            av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size)) {
        video.rotation = av_display_rotation_get(reinterpret_cast<const std::int32_t*>(matrix));
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::int64_t first = AV_NOPTS_VALUE;
    auto take = [&] {
        while (avcodec_receive_frame(decoder, frame) == 0) {
            video.format = static_cast<AVPixelFormat>(frame->format);
            video.width = frame->width;
            video.height = frame->height;
            video.colorspace = frame->colorspace;
            video.range = frame->color_range;
            video.primaries = frame->color_primaries;
            video.transfer = frame->color_trc;
            const std::int64_t time = frame->best_effort_timestamp;
            if (first == AV_NOPTS_VALUE) {
                first = time;
            }
            video.times.push_back(static_cast<double>(time - first) * av_q2d(stream->time_base));
            const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(video.format);
            std::vector<std::vector<std::uint8_t>> planes;
            video.planeWidthBytes.clear();
            video.planeHeights.clear();
            for (int plane = 0; plane < 4 && frame->data[plane] != nullptr; ++plane) {
                if ((descriptor->flags & AV_PIX_FMT_FLAG_PAL) != 0 && plane == 1) {
                    break;
                }
                const int bytes = av_image_get_linesize(video.format, frame->width, plane);
                const int rows = (plane == 1 || plane == 2)
                                     ? AV_CEIL_RSHIFT(frame->height, descriptor->log2_chroma_h)
                                     : frame->height;
                std::vector<std::uint8_t> data;
                for (int y = 0; y < rows; ++y) {
                    const std::uint8_t* row = frame->data[plane] + y * frame->linesize[plane];
                    data.insert(data.end(), row, row + bytes);
                }
                planes.push_back(std::move(data));
                video.planeWidthBytes.push_back(bytes);
                video.planeHeights.push_back(rows);
            }
            video.planes.push_back(std::move(planes));
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == index) {
            avcodec_send_packet(decoder, packet);
            take();
        }
        av_packet_unref(packet);
    }
    avcodec_send_packet(decoder, nullptr);
    take();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    return video;
}

// Copies a file's streams into `to`, giving its video a display matrix that
// turns the picture by `degrees`, as phones record it.
void RemuxWithRotation(const std::string& from, const std::string& to, double degrees) {
    AVFormatContext* input = nullptr;
    ASSERT_EQ(avformat_open_input(&input, from.c_str(), nullptr, nullptr), 0);
    avformat_find_stream_info(input, nullptr);
    AVFormatContext* output = nullptr;
    avformat_alloc_output_context2(&output, nullptr, nullptr, to.c_str());
    av_dict_copy(&output->metadata, input->metadata, 0);
    for (unsigned index = 0; index < input->nb_streams; ++index) {
        AVStream* stream = avformat_new_stream(output, nullptr);
        avcodec_parameters_copy(stream->codecpar, input->streams[index]->codecpar);
        stream->codecpar->codec_tag = 0;
        stream->time_base = input->streams[index]->time_base;
        stream->sample_aspect_ratio = input->streams[index]->sample_aspect_ratio;
        av_dict_copy(&stream->metadata, input->streams[index]->metadata, 0);
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            auto* matrix = reinterpret_cast<std::int32_t*>(
                av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(std::int32_t)));
            av_display_rotation_set(matrix, degrees);
        }
    }
    ASSERT_GE(avio_open(&output->pb, to.c_str(), AVIO_FLAG_WRITE), 0);
    ASSERT_GE(avformat_write_header(output, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(input, packet) >= 0) {
        av_packet_rescale_ts(packet, input->streams[packet->stream_index]->time_base,
                             output->streams[packet->stream_index]->time_base);
        packet->pos = -1;
        av_interleaved_write_frame(output, packet);
    }
    av_write_trailer(output);
    av_packet_free(&packet);
    avio_closep(&output->pb);
    avformat_free_context(output);
    avformat_close_input(&input);
}

class FidelityTest : public testing::Test {
protected:
    static void SetUpTestSuite() { TestClips(); }
    ScratchFolder out_;
};

// --- Background ----------------------------------------------------------

struct LayoutCase {
    const char* name;
    const char* ffmpegOutput;  // how the input is encoded
    const char* expectedFormat;  // what the lossless output holds
};

const LayoutCase kLayouts[] = {
    {"Yuv420p8bit", "-pix_fmt yuv420p -c:v ffv1", "yuv420p"},
    {"Yuv422p10bit", "-pix_fmt yuv422p10le -c:v ffv1", "yuv422p10le"},
    {"Yuv444p8bit", "-pix_fmt yuv444p -c:v ffv1", "yuv444p"},
    {"FullRange420", "-pix_fmt yuv420p -color_range pc -c:v ffv1", "yuv420p"},
    {"Bt709Tagged420", "-pix_fmt yuv420p -colorspace bt709 -color_primaries bt709 "
                       "-color_trc bt709 -c:v ffv1", "yuv420p"},
    {"Gray10bit", "-pix_fmt gray10le -c:v ffv1", "gray10le"},
    {"Gbrp12bit", "-pix_fmt gbrp12le -c:v ffv1", "gbrp12le"},
};

// The mask 40..99 x 30..69 (60 by 40 pixels) with a border of 3 and a shadow
// of 10 shifted 4 reaches columns 37..112 and rows 27..82; the chroma grid
// of 4:2:x widens that to even starts.
constexpr const char* kDrawing[] = {"--overlay", "OVERLAY", "--mask", "40,30,w60,h40", "--fit",
                                    "--bilinear", "--border", "3", "--shadow", "4",
                                    "--shadow-size", "10", "--shadow-shift", "4"};
constexpr int kAreaLeft = 36;
constexpr int kAreaTop = 26;
constexpr int kAreaRight = 113;
constexpr int kAreaBottom = 83;

class Background : public FidelityTest, public testing::WithParamInterface<LayoutCase> {};

TEST_P(Background, EverySampleOutsideTheAreaIsTheInputsAndTheLayoutIsKept) {
    const LayoutCase& test = GetParam();
    const std::string input = out_ / "in.mkv";
    RunFfmpeg("-f lavfi -i testsrc2=size=160x120:rate=25 -frames:v 4 " +
              std::string(test.ffmpegOutput) + " '" + input + "'");
    std::vector<std::string> arguments = {"render", input, "-o", out_ / "out.mkv", "--quiet"};
    for (const std::string& option : WithClips({std::begin(kDrawing), std::end(kDrawing)})) {
        arguments.push_back(option);
    }
    const RunResult run = RunQuillmere(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.errorText;

    const DecodedVideo before = Decode(input);
    const DecodedVideo after = Decode(out_ / "out.mkv");
    ASSERT_EQ(after.planes.size(), before.planes.size());
    EXPECT_STREQ(av_get_pix_fmt_name(after.format), test.expectedFormat);
    EXPECT_EQ(after.range, before.range);
    EXPECT_EQ(after.colorspace, before.colorspace);
    ASSERT_EQ(after.format, before.format);
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(before.format);
    const int bytesPerSample = descriptor->comp[0].depth > 8 ? 2 : 1;
    long changedInside = 0;
    for (std::size_t frame = 0; frame < before.planes.size(); ++frame) {
        for (std::size_t plane = 0; plane < before.planes[frame].size(); ++plane) {
            const bool chroma = (plane == 1 || plane == 2) &&
                                (descriptor->flags & AV_PIX_FMT_FLAG_RGB) == 0;
            const int shiftX = chroma ? descriptor->log2_chroma_w : 0;
            const int shiftY = chroma ? descriptor->log2_chroma_h : 0;
            const int rowBytes = before.planeWidthBytes[plane];
            for (int y = 0; y < before.planeHeights[plane]; ++y) {
                for (int byte = 0; byte < rowBytes; ++byte) {
                    const int x = (byte / bytesPerSample) << shiftX;
                    const int pictureY = y << shiftY;
                    const bool inside = x >= kAreaLeft && x < kAreaRight &&
                                        pictureY >= kAreaTop && pictureY < kAreaBottom;
                    const std::uint8_t a = before.planes[frame][plane][y * rowBytes + byte];
                    const std::uint8_t b = after.planes[frame][plane][y * rowBytes + byte];
                    if (inside) {
                        changedInside += a != b;
                    } else {
                        ASSERT_EQ(a, b) << "frame " << frame << " plane " << plane << " sample ("
                                        << byte / bytesPerSample << ", " << y << ")";
                    }
                }
            }
        }
    }
    EXPECT_GT(changedInside, 0) << "nothing was drawn";
}

INSTANTIATE_TEST_SUITE_P(Layouts, Background, testing::ValuesIn(kLayouts),
                         [](const testing::TestParamInfo<LayoutCase>& info) {
                             return info.param.name;
                         });

// --- Colour --------------------------------------------------------------

struct Matrix {
    const char* tag;  // as the ffmpeg program names it
    double kr;
    double kb;
};
constexpr Matrix kBt601{"smpte170m", 0.299, 0.114};
constexpr Matrix kBt709{"bt709", 0.2126, 0.0722};
constexpr Matrix kBt2020{"bt2020nc", 0.2627, 0.0593};

struct Yuv {
    double y, cb, cr;
};

// 8-bit samples to R'G'B' in 0..1, and back.
void ToRgb(const Yuv& yuv, const Matrix& m, bool full, double rgb[3]) {
    const double y = full ? yuv.y / 255.0 : (yuv.y - 16.0) / 219.0;
    const double cb = full ? (yuv.cb - 128.0) / 255.0 : (yuv.cb - 128.0) / 224.0;
    const double cr = full ? (yuv.cr - 128.0) / 255.0 : (yuv.cr - 128.0) / 224.0;
    const double kg = 1.0 - m.kr - m.kb;
    rgb[0] = y + 2.0 * (1.0 - m.kr) * cr;
    rgb[2] = y + 2.0 * (1.0 - m.kb) * cb;
    rgb[1] = (y - m.kr * rgb[0] - m.kb * rgb[2]) / kg;
}

Yuv FromRgb(const double rgb[3], const Matrix& m, bool full) {
    const double kg = 1.0 - m.kr - m.kb;
    const double y = m.kr * rgb[0] + kg * rgb[1] + m.kb * rgb[2];
    const double cb = (rgb[2] - y) / (2.0 * (1.0 - m.kb));
    const double cr = (rgb[0] - y) / (2.0 * (1.0 - m.kr));
    if (full) {
        return {y * 255.0, 128.0 + cb * 255.0, 128.0 + cr * 255.0};
    }
    return {16.0 + y * 219.0, 128.0 + cb * 224.0, 128.0 + cr * 224.0};
}

struct ColourCase {
    const char* name;
    Matrix main;
    bool mainFull;
    Matrix overlay;
    bool overlayFull;
    Yuv overlayColour;
};

const ColourCase kColourCases[] = {
    {"Bt709MainBt601Overlay", kBt709, false, kBt601, false, {93, 100, 192}},
    {"Bt601MainBt709Overlay", kBt601, false, kBt709, false, {145, 54, 34}},
    {"FullRangeMainLimitedOverlay", kBt709, true, kBt709, false, {180, 160, 90}},
    {"LimitedMainFullRangeOverlay", kBt601, false, kBt601, true, {60, 200, 120}},
    {"Bt2020MainBt709Overlay", kBt2020, false, kBt709, false, {110, 150, 170}},
};

// A clip of one flat colour in 4:4:4, tagged with its matrix and range.
void WriteFlatClip(const std::string& path, int width, int height, const Yuv& colour,
                   const Matrix& matrix, bool full, int frames) {
    const std::string raw = path + ".yuv";
    {
        std::ofstream file(raw, std::ios::binary);
        const std::size_t count = static_cast<std::size_t>(width) * height;
        for (int frame = 0; frame < frames; ++frame) {
            for (double value : {colour.y, colour.cb, colour.cr}) {
                const std::string plane(count, static_cast<char>(std::lround(value)));
                file << plane;
            }
        }
    }
    RunFfmpeg("-f rawvideo -pix_fmt yuv444p -s " + std::to_string(width) + "x" +
              std::to_string(height) + " -r 25 -i '" + raw + "' -c:v ffv1 -colorspace " +
              matrix.tag + " -color_range " + (full ? "pc" : "tv") + " '" + path + "'");
    std::remove(raw.c_str());
}

class ColourAccuracy : public FidelityTest, public testing::WithParamInterface<ColourCase> {};

TEST_P(ColourAccuracy, OverlayLandsWithinTwoCodeValuesOfTheMatrixConversion) {
    const ColourCase& test = GetParam();
    const std::string main = out_ / "main.mkv";
    const std::string overlay = out_ / "overlay.mkv";
    WriteFlatClip(main, 96, 64, {128, 128, 128}, test.main, test.mainFull, 2);
    WriteFlatClip(overlay, 32, 32, test.overlayColour, test.overlay, test.overlayFull, 2);
    const RunResult run = RunQuillmere({"render", main, "-o", out_ / "out.mkv", "--quiet",
                                        "--overlay", overlay, "--mask", "20,10,w40,h40", "--fit"});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;

    double rgb[3];
    ToRgb(test.overlayColour, test.overlay, test.overlayFull, rgb);
    // The filter holds 8-bit R'G'B'.
    for (double& channel : rgb) {
        channel = std::round(std::min(1.0, std::max(0.0, channel)) * 255.0) / 255.0;
    }
    const Yuv expected = FromRgb(rgb, test.main, test.mainFull);
    const DecodedVideo out = Decode(out_ / "out.mkv");
    ASSERT_FALSE(out.planes.empty());
    const int x = 35;
    const int y = 25;
    const std::size_t at = static_cast<std::size_t>(y) * out.planeWidthBytes[0] + x;
    EXPECT_NEAR(out.planes[0][0][at], expected.y, 2.0);
    EXPECT_NEAR(out.planes[0][1][at], expected.cb, 2.0);
    EXPECT_NEAR(out.planes[0][2][at], expected.cr, 2.0);
    // The main's colour far from the overlay is untouched.
    EXPECT_EQ(out.planes[0][0][5 * out.planeWidthBytes[0] + 90], 128);
}

INSTANTIATE_TEST_SUITE_P(Matrices, ColourAccuracy, testing::ValuesIn(kColourCases),
                         [](const testing::TestParamInfo<ColourCase>& info) {
                             return info.param.name;
                         });

// --- Tags, aspect, rotation, times ----------------------------------------

TEST_F(FidelityTest, TagsAspectAndRotationAreCarriedOver) {
    const std::string plain = out_ / "plain.mp4";
    RunFfmpeg("-f lavfi -i testsrc2=size=160x120:rate=25 -frames:v 10 -vf setsar=8/9 "
              "-c:v libx264 -pix_fmt yuv420p -colorspace bt709 -color_primaries bt709 "
              "-color_trc bt709 -metadata:s:v:0 language=fra "
              "-metadata title=Holiday '" + plain + "'");
    const std::string input = out_ / "phone.mp4";
    RemuxWithRotation(plain, input, 90);
    const DecodedVideo in = Decode(input);
    ASSERT_NE(in.rotation, 0.0) << "the ffmpeg program did not record the rotation";
    // Kept as stored: the rotation is carried (turned upright, it would not be).
    for (const char* name : {"out.mp4", "out.mkv"}) {
        const RunResult run = RunQuillmere({"render", input, "-o", out_ / name, "--mask",
                                            "10,10,w40,h30", "--border", "2", "--keep-rotation"});
        ASSERT_EQ(run.exitCode, 0) << name << ": " << run.errorText;
        const DecodedVideo out = Decode(out_ / name);
        EXPECT_EQ(out.sampleAspectRatio.num, 8) << name;
        EXPECT_EQ(out.sampleAspectRatio.den, 9) << name;
        EXPECT_EQ(out.colorspace, AVCOL_SPC_BT709) << name;
        EXPECT_EQ(out.primaries, AVCOL_PRI_BT709) << name;
        EXPECT_EQ(out.transfer, AVCOL_TRC_BT709) << name;
        EXPECT_EQ(out.format, AV_PIX_FMT_YUV420P) << name;
        EXPECT_EQ(out.language, "fra") << name;
        EXPECT_EQ(out.fileTitle, "Holiday") << name;
        if (std::string(name) == "out.mp4") {
            EXPECT_EQ(out.rotation, in.rotation) << name;
        } else {
            // Matroska cannot record it here: said, not silently lost.
            EXPECT_NE(run.errorText.find("rotation"), std::string::npos) << run.errorText;
        }
    }
}

TEST_F(FidelityTest, VariableFrameTimesAreKept) {
    const std::string input = out_ / "vfr.mkv";
    // Frames 0-9 at 25 fps, then at half that rate.
    RunFfmpeg("-f lavfi -i testsrc2=size=96x64:rate=25 -frames:v 20 "
              "-vf \"setpts='if(lt(N,10),N,2*N-10)/(25*TB)'\" -vsync passthrough -c:v ffv1 '" +
              input + "'");
    const DecodedVideo in = Decode(input);
    ASSERT_EQ(in.times.size(), 20u);
    ASSERT_NEAR(in.times[19] - in.times[18], 0.08, 0.002);
    for (const char* name : {"out.mkv", "out.mp4"}) {
        const RunResult run = RunQuillmere(
            {"render", input, "-o", out_ / name, "--quiet", "--mask", "4,4,w20,h20"});
        ASSERT_EQ(run.exitCode, 0) << name << ": " << run.errorText;
        const DecodedVideo out = Decode(out_ / name);
        ASSERT_EQ(out.times.size(), in.times.size()) << name;
        for (std::size_t frame = 0; frame < in.times.size(); ++frame) {
            EXPECT_NEAR(out.times[frame], in.times[frame], 0.0015) << name << " frame " << frame;
        }
    }
}

TEST_F(FidelityTest, AviWithAudioHoldsEveryFrameOnce) {
    const RunResult run = RunQuillmere({"render", Clip("main-audio.mkv"), "-o", out_ / "out.avi",
                                        "--quiet", "--mask", "4,4,w40,h30"});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    const DecodedVideo in = Decode(Clip("main-audio.mkv"));
    const DecodedVideo out = Decode(out_ / "out.avi");
    ASSERT_EQ(out.planes.size(), in.planes.size());
    EXPECT_EQ(out.declaredFrames, static_cast<std::int64_t>(in.planes.size()));
    for (std::size_t frame = 0; frame < in.times.size(); ++frame) {
        EXPECT_NEAR(out.times[frame], in.times[frame], 0.0015) << "frame " << frame;
    }
    // Below the mask, each frame is its own input frame.
    const int rowBytes = in.planeWidthBytes[0];
    auto row = [&](const DecodedVideo& video, std::size_t frame) {
        const auto& plane = video.planes[frame][0];
        return std::vector<std::uint8_t>(plane.begin() + 50 * rowBytes,
                                         plane.begin() + 51 * rowBytes);
    };
    for (std::size_t frame = 0; frame < in.planes.size(); ++frame) {
        EXPECT_EQ(row(out, frame), row(in, frame)) << "frame " << frame;
    }
}

TEST_F(FidelityTest, OddSizedMainInMp4IsCroppedNotMadeFourFourFour) {
    const std::string input = out_ / "odd.mkv";
    RunFfmpeg("-f lavfi -i testsrc2=size=75x41:rate=25 -frames:v 3 -pix_fmt yuv444p -c:v ffv1 '" +
              input + "'");
    const RunResult run = RunQuillmere({"render", input, "-o", out_ / "odd.mp4", "--quiet",
                                        "--mask", "2,2,w20,h10"});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    const DecodedVideo out = Decode(out_ / "odd.mp4");
    EXPECT_EQ(out.format, AV_PIX_FMT_YUV444P);  // the encoder takes 4:4:4 as it is
    // The ffmpeg program itself would round the size to even: a raw 4:2:0
    // picture of 75x41 keeps it.
    const std::string yuv420 = out_ / "odd420.mkv";
    {
        std::ofstream raw(out_ / "odd.yuv", std::ios::binary);
        const std::size_t bytes = 75 * 41 + 2 * 38 * 21;
        for (int frame = 0; frame < 3; ++frame) {
            for (std::size_t index = 0; index < bytes; ++index) {
                raw.put(static_cast<char>((index * 7 + frame * 13) & 0xFF));
            }
        }
    }
    RunFfmpeg("-f rawvideo -pix_fmt yuv420p -s 75x41 -r 25 -i '" + out_ / "odd.yuv" +
              "' -c:v ffv1 '" + yuv420 + "'");
    std::remove((out_ / "odd.yuv").c_str());
    const RunResult cropped =
        RunQuillmere({"render", yuv420, "-o", out_ / "odd420.mp4", "--mask", "2,2,w20,h10"});
    ASSERT_EQ(cropped.exitCode, 0) << cropped.errorText;
    const DecodedVideo small = Decode(out_ / "odd420.mp4");
    EXPECT_EQ(small.format, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(small.width, 74);
    EXPECT_EQ(small.height, 40);
    EXPECT_NE(cropped.errorText.find("cropped to 74x40"), std::string::npos) << cropped.errorText;
}

// --- Seeking -------------------------------------------------------------

TEST_F(FidelityTest, FrameAtFarIntoALongClipIsThatFrameOfTheRender) {
    const std::string input = out_ / "long.mp4";
    RunFfmpeg("-f lavfi -i testsrc=size=64x48:rate=25 -frames:v 1500 -c:v libx264 -g 50 "
              "-pix_fmt yuv420p '" + input + "'");
    const std::vector<std::string> options = {"--mask", "4,4,w20,h16", "--border", "1"};
    std::vector<std::string> still = {"frame", input, "--at", "1234", "-o", out_ / "still.png"};
    std::vector<std::string> whole = {"render", input, "-o", out_ / "all.mkv", "--quiet"};
    still.insert(still.end(), options.begin(), options.end());
    whole.insert(whole.end(), options.begin(), options.end());
    const RunResult stillRun = RunQuillmere(still);
    ASSERT_EQ(stillRun.exitCode, 0) << stillRun.errorText;
    const RunResult wholeRun = RunQuillmere(whole);
    ASSERT_EQ(wholeRun.exitCode, 0) << wholeRun.errorText;
    const std::vector<Picture> picture = DecodeAll(out_ / "still.png");
    const std::vector<Picture> frames = DecodeAll(out_ / "all.mkv");
    ASSERT_EQ(picture.size(), 1u);
    ASSERT_EQ(frames.size(), 1500u);
    std::string where;
    EXPECT_TRUE(SameColors(picture[0], frames[1234], where)) << where;
    EXPECT_FALSE(SameColors(picture[0], frames[1233], where));
    EXPECT_FALSE(SameColors(picture[0], frames[1235], where));
}

}  // namespace
