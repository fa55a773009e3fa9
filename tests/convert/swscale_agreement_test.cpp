// Agreement with libswscale's accurate conversion (full chroma interpolation,
// accurate rounding, the same matrix and range) on smooth pictures with
// per-pixel luma noise, both directions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "convert/picture_converter.h"
#include "tests/convert/convert_test_formats.h"
#include "tests/convert/test_picture.h"

namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 64;
constexpr int kTolerance = 2;
// The scaler's chroma positions are in 1/256 of a luma pixel.
constexpr int kHalfPixel = 128;
constexpr int kScalerFlags =
    SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP;

struct AgreementCase {
    const char* name;
    AVPixelFormat format;
    AVColorSpace colorspace;
    int scalerColorspace;  // SWS_CS_*
    bool fullRange;
};

const AgreementCase kCases[] = {
    {"Yuv420pBt709Limited", AV_PIX_FMT_YUV420P, AVCOL_SPC_BT709, SWS_CS_ITU709, false},
    {"Yuv420pBt601Limited", AV_PIX_FMT_YUV420P, AVCOL_SPC_SMPTE170M, SWS_CS_ITU601, false},
    {"Yuvj420pBt601Full", AV_PIX_FMT_YUVJ420P, AVCOL_SPC_BT470BG, SWS_CS_ITU601, true},
    {"Yuv422pBt709Full", AV_PIX_FMT_YUV422P, AVCOL_SPC_BT709, SWS_CS_ITU709, true},
    {"Yuv444pBt2020Limited", AV_PIX_FMT_YUV444P, AVCOL_SPC_BT2020_NCL, SWS_CS_BT2020, false},
    {"Yuv420p10Bt2020Limited", AV_PIX_FMT_YUV420P10LE, AVCOL_SPC_BT2020_NCL, SWS_CS_BT2020, false},
    {"Yuv422p10Bt709Limited", AV_PIX_FMT_YUV422P10LE, AVCOL_SPC_BT709, SWS_CS_ITU709, false},
    {"Yuv444p12Bt709Limited", AV_PIX_FMT_YUV444P12LE, AVCOL_SPC_BT709, SWS_CS_ITU709, false},
    {"Yuv444p16Smpte240mLimited", AV_PIX_FMT_YUV444P16LE, AVCOL_SPC_SMPTE240M, SWS_CS_SMPTE240M, false},
    {"Gbrp", AV_PIX_FMT_GBRP, AVCOL_SPC_RGB, SWS_CS_DEFAULT, true},
    {"Gbrp10", AV_PIX_FMT_GBRP10LE, AVCOL_SPC_RGB, SWS_CS_DEFAULT, true},
    {"Rgb24", AV_PIX_FMT_RGB24, AVCOL_SPC_RGB, SWS_CS_DEFAULT, true},
};

void PrintTo(const AgreementCase& c, std::ostream* os) { *os << c.name; }

struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using FramePointer = std::unique_ptr<AVFrame, FrameDeleter>;

FramePointer MakeFrame(AVPixelFormat format) {
    FramePointer frame(av_frame_alloc());
    frame->format = format;
    frame->width = kWidth;
    frame->height = kHeight;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        ADD_FAILURE() << "no frame buffer";
    }
    return frame;
}

void RunScaler(const AgreementCase& c, AVPixelFormat from, AVPixelFormat to, const AVFrame& source,
               AVFrame& target) {
    // The scaler told where the chroma sits, as the converter takes it:
    // left (MPEG) or centred (JPEG) horizontally, centred vertically. Written
    // chroma is the average of its block, so centred in it whatever the tag.
    SwsContext* scaler = sws_alloc_context();
    ASSERT_NE(scaler, nullptr);
    const bool yuvSource = from != AV_PIX_FMT_BGRA;
    const int shiftX = ChromaShiftX(c.format), shiftY = ChromaShiftY(c.format);
    const bool centred = NamedAsJpegFormat(c.format) || !yuvSource;
    const int horizontalSiting = centred ? ((1 << shiftX) - 1) * kHalfPixel : 0;
    const int verticalSiting = ((1 << shiftY) - 1) * kHalfPixel;
    av_opt_set_int(scaler, "srcw", kWidth, 0);
    av_opt_set_int(scaler, "srch", kHeight, 0);
    av_opt_set_int(scaler, "dstw", kWidth, 0);
    av_opt_set_int(scaler, "dsth", kHeight, 0);
    av_opt_set_pixel_fmt(scaler, "src_format", from, 0);
    av_opt_set_pixel_fmt(scaler, "dst_format", to, 0);
    av_opt_set_int(scaler, "sws_flags", kScalerFlags, 0);
    av_opt_set_int(scaler, yuvSource ? "src_h_chr_pos" : "dst_h_chr_pos", horizontalSiting, 0);
    av_opt_set_int(scaler, yuvSource ? "src_v_chr_pos" : "dst_v_chr_pos", verticalSiting, 0);
    ASSERT_GE(sws_init_context(scaler, nullptr, nullptr), 0);
    const int* coefficients = sws_getCoefficients(c.scalerColorspace);
    const bool sourceFull = from == AV_PIX_FMT_BGRA || c.fullRange;
    const bool targetFull = to == AV_PIX_FMT_BGRA || c.fullRange;
    sws_setColorspaceDetails(scaler, coefficients, sourceFull, coefficients, targetFull, 0,
                             1 << 16, 1 << 16);
    sws_scale(scaler, source.data, source.linesize, 0, kHeight, target.data, target.linesize);
    sws_freeContext(scaler);
}

PictureConverter MakeConverter(const AgreementCase& c) {
    return PictureConverter(c.format, c.colorspace,
                            c.fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG,
                            AVCHROMA_LOC_UNSPECIFIED, kWidth, kHeight);
}

// A slowly varying value (period a few hundred pixels) with a random phase.
struct Wave {
    double phaseX, phaseY;
    double At(int x, int y) const {
        return std::sin(x / 41.0 + phaseX) * std::cos(y / 37.0 + phaseY);
    }
};

class SwscaleAgreement : public ::testing::TestWithParam<AgreementCase> {};

TEST_P(SwscaleAgreement, ToBgraWithinTwoCodeValues) {
    const AgreementCase& c = GetParam();
    std::mt19937 random(3);
    std::uniform_real_distribution<double> phase(0, 6.28);
    std::uniform_int_distribution<int> noise(-12, 12);
    const Wave waves[3] = {{phase(random), phase(random)},
                           {phase(random), phase(random)},
                           {phase(random), phase(random)}};
    FramePointer source = MakeFrame(c.format);
    TestPicture picture(c.format, kWidth, kHeight);
    const int maximum = picture.maximum();
    for (int plane = 0; plane < picture.planeCount(); ++plane) {
        for (int y = 0; y < picture.rows(plane); ++y) {
            for (int x = 0; x < picture.elementsPerRow(plane); ++x) {
                const double middle = maximum / 2.0;
                double value = middle + middle * 0.6 * waves[plane % 3].At(x, y);
                if (plane == 0) {
                    value += noise(random) * (maximum / 255.0);
                }
                picture.SetSample(plane, x, y,
                                  std::clamp(static_cast<int>(std::lround(value)), 0, maximum));
            }
        }
        for (int y = 0; y < picture.rows(plane); ++y) {
            std::memcpy(source->data[plane] + y * source->linesize[plane],
                        picture.planes()[plane] + y * picture.linesizes()[plane],
                        static_cast<std::size_t>(picture.elementsPerRow(plane) *
                                                 picture.bytesPerElement()));
        }
    }
    FramePointer expected = MakeFrame(AV_PIX_FMT_BGRA);
    RunScaler(c, c.format, AV_PIX_FMT_BGRA, *source, *expected);

    std::vector<std::uint8_t> pixels(kWidth * kHeight * 4);
    MakeConverter(c).ToBgra(picture.planes(), picture.linesizes(), {0, 0, kWidth, kHeight},
                            pixels.data(), kWidth * 4);
    // The scaler treats the chroma beyond the picture's last row differently
    // (the converter repeats the edge sample); compare the rows inside.
    int worst = 0;
    for (int y = 0; y < kHeight - 1; ++y) {
        for (int x = 0; x < kWidth * 4; ++x) {
            if (x % 4 == 3) {
                continue;
            }
            const int difference = std::abs(pixels[static_cast<std::size_t>(y * kWidth * 4 + x)] -
                                            expected->data[0][y * expected->linesize[0] + x]);
            worst = std::max(worst, difference);
        }
    }
    EXPECT_LE(worst, kTolerance);
}

TEST_P(SwscaleAgreement, FromBgraWithinTwoCodeValues) {
    const AgreementCase& c = GetParam();
    std::mt19937 random(4);
    std::uniform_real_distribution<double> phase(0, 6.28);
    std::uniform_int_distribution<int> noise(-12, 12);
    const Wave waves[3] = {{phase(random), phase(random)},
                           {phase(random), phase(random)},
                           {phase(random), phase(random)}};
    FramePointer source = MakeFrame(AV_PIX_FMT_BGRA);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            // Gray noise moves luma only; the colour varies slowly.
            const int grain = noise(random);
            for (int channel = 0; channel < 3; ++channel) {
                const double value = 128 + 80 * waves[channel].At(x, y) + grain;
                source->data[0][y * source->linesize[0] + 4 * x + channel] =
                    static_cast<std::uint8_t>(std::clamp<long>(std::lround(value), 0, 255));
            }
            source->data[0][y * source->linesize[0] + 4 * x + 3] = 255;
        }
    }
    FramePointer expected = MakeFrame(c.format);
    RunScaler(c, AV_PIX_FMT_BGRA, c.format, *source, *expected);

    TestPicture picture(c.format, kWidth, kHeight);
    MakeConverter(c).FromBgra(source->data[0], source->linesize[0], nullptr, 0,
                              {0, 0, kWidth, kHeight}, picture.planes(), picture.linesizes());
    const int bytes = picture.bytesPerElement();
    for (int plane = 0; plane < std::min(picture.planeCount(), 3); ++plane) {
        int worst = 0;
        for (int y = 0; y < picture.rows(plane); ++y) {
            const std::uint8_t* row = expected->data[plane] + y * expected->linesize[plane];
            for (int x = 0; x < picture.elementsPerRow(plane); ++x) {
                const int reference = bytes == 1 ? row[x] : row[2 * x] | row[2 * x + 1] << 8;
                worst = std::max(worst, std::abs(picture.Sample(plane, x, y) - reference));
            }
        }
        EXPECT_LE(worst, kTolerance) << "plane " << plane;
    }
}

INSTANTIATE_TEST_SUITE_P(SmoothPictures, SwscaleAgreement, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<AgreementCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
