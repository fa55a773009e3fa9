#include "tests/convert/convert_test_formats.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/pixdesc.h>
}

const std::vector<AVPixelFormat>& YuvFormats() {
    static const std::vector<AVPixelFormat> formats = {
        AV_PIX_FMT_YUV420P,     AV_PIX_FMT_YUVJ420P,    AV_PIX_FMT_YUV420P9LE,
        AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_YUV420P12LE, AV_PIX_FMT_YUV420P14LE,
        AV_PIX_FMT_YUV420P16LE, AV_PIX_FMT_YUV422P,     AV_PIX_FMT_YUVJ422P,
        AV_PIX_FMT_YUV422P9LE,  AV_PIX_FMT_YUV422P10LE, AV_PIX_FMT_YUV422P12LE,
        AV_PIX_FMT_YUV422P14LE, AV_PIX_FMT_YUV422P16LE, AV_PIX_FMT_YUV444P,
        AV_PIX_FMT_YUVJ444P,    AV_PIX_FMT_YUV444P9LE,  AV_PIX_FMT_YUV444P10LE,
        AV_PIX_FMT_YUV444P12LE, AV_PIX_FMT_YUV444P14LE, AV_PIX_FMT_YUV444P16LE,
        AV_PIX_FMT_YUV440P,     AV_PIX_FMT_YUVJ440P,    AV_PIX_FMT_YUV440P10LE,
        AV_PIX_FMT_YUV440P12LE, AV_PIX_FMT_YUV411P,     AV_PIX_FMT_YUVJ411P,
        AV_PIX_FMT_YUVA420P,    AV_PIX_FMT_YUVA420P9LE, AV_PIX_FMT_YUVA420P10LE,
        AV_PIX_FMT_YUVA420P16LE, AV_PIX_FMT_YUVA422P,   AV_PIX_FMT_YUVA422P9LE,
        AV_PIX_FMT_YUVA422P10LE, AV_PIX_FMT_YUVA422P12LE, AV_PIX_FMT_YUVA422P16LE,
        AV_PIX_FMT_YUVA444P,    AV_PIX_FMT_YUVA444P9LE, AV_PIX_FMT_YUVA444P10LE,
        AV_PIX_FMT_YUVA444P12LE, AV_PIX_FMT_YUVA444P16LE,
    };
    return formats;
}

const std::vector<AVPixelFormat>& GrayFormats() {
    static const std::vector<AVPixelFormat> formats = {
        AV_PIX_FMT_GRAY8,    AV_PIX_FMT_GRAY9LE,  AV_PIX_FMT_GRAY10LE, AV_PIX_FMT_GRAY12LE,
        AV_PIX_FMT_GRAY14LE, AV_PIX_FMT_GRAY16LE, AV_PIX_FMT_YA8,
    };
    return formats;
}

const std::vector<AVPixelFormat>& GbrFormats() {
    static const std::vector<AVPixelFormat> formats = {
        AV_PIX_FMT_GBRP,      AV_PIX_FMT_GBRP9LE,   AV_PIX_FMT_GBRP10LE,  AV_PIX_FMT_GBRP12LE,
        AV_PIX_FMT_GBRP14LE,  AV_PIX_FMT_GBRP16LE,  AV_PIX_FMT_GBRAP,     AV_PIX_FMT_GBRAP10LE,
        AV_PIX_FMT_GBRAP12LE, AV_PIX_FMT_GBRAP16LE,
    };
    return formats;
}

const std::vector<AVPixelFormat>& PackedRgbFormats() {
    static const std::vector<AVPixelFormat> formats = {
        AV_PIX_FMT_BGRA, AV_PIX_FMT_BGR0, AV_PIX_FMT_RGBA,  AV_PIX_FMT_RGB0,  AV_PIX_FMT_ARGB,
        AV_PIX_FMT_ABGR, AV_PIX_FMT_0RGB, AV_PIX_FMT_0BGR, AV_PIX_FMT_RGB24, AV_PIX_FMT_BGR24,
    };
    return formats;
}

std::vector<AVPixelFormat> AllHandledFormats() {
    std::vector<AVPixelFormat> all = YuvFormats();
    for (const auto* group : {&GrayFormats(), &GbrFormats(), &PackedRgbFormats()}) {
        all.insert(all.end(), group->begin(), group->end());
    }
    return all;
}

bool NamedAsJpegFormat(AVPixelFormat format) {
    const char* name = av_get_pix_fmt_name(format);
    return name[0] == 'y' && name[1] == 'u' && name[2] == 'v' && name[3] == 'j';
}

int DepthOf(AVPixelFormat format) { return av_pix_fmt_desc_get(format)->comp[0].depth; }
int ChromaShiftX(AVPixelFormat format) { return av_pix_fmt_desc_get(format)->log2_chroma_w; }
int ChromaShiftY(AVPixelFormat format) { return av_pix_fmt_desc_get(format)->log2_chroma_h; }
bool HasAlpha(AVPixelFormat format) {
    return (av_pix_fmt_desc_get(format)->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
}

const std::vector<MatrixUnderTest>& MatricesUnderTest() {
    static const std::vector<MatrixUnderTest> matrices = {
        {AVCOL_SPC_BT470BG, "bt470bg", 0.299, 0.114},
        {AVCOL_SPC_SMPTE170M, "smpte170m", 0.299, 0.114},
        {AVCOL_SPC_FCC, "fcc", 0.299, 0.114},
        {AVCOL_SPC_BT709, "bt709", 0.2126, 0.0722},
        {AVCOL_SPC_BT2020_NCL, "bt2020nc", 0.2627, 0.0593},
        {AVCOL_SPC_BT2020_CL, "bt2020c", 0.2627, 0.0593},
        {AVCOL_SPC_SMPTE240M, "smpte240m", 0.212, 0.087},
    };
    return matrices;
}

CodeRange CodeRangeFor(int depth, bool fullRange) {
    const double step = std::ldexp(1.0, depth - 8);
    if (fullRange) {
        const double maximum = std::ldexp(1.0, depth) - 1;
        return {0, maximum, std::ldexp(1.0, depth - 1), maximum};
    }
    return {16 * step, 219 * step, 128 * step, 224 * step};
}

YuvValue RgbToYuv(RgbValue rgb, const MatrixUnderTest& matrix, const CodeRange& range) {
    const double kg = 1 - matrix.kr - matrix.kb;
    const double r = rgb.r / 255, g = rgb.g / 255, b = rgb.b / 255;
    const double luma = matrix.kr * r + kg * g + matrix.kb * b;
    const double pb = (b - luma) / (2 * (1 - matrix.kb));
    const double pr = (r - luma) / (2 * (1 - matrix.kr));
    return {range.lumaOffset + range.lumaScale * luma, range.chromaOffset + range.chromaScale * pb,
            range.chromaOffset + range.chromaScale * pr};
}

RgbValue YuvToRgb(YuvValue yuv, const MatrixUnderTest& matrix, const CodeRange& range) {
    const double kg = 1 - matrix.kr - matrix.kb;
    const double luma = (yuv.y - range.lumaOffset) / range.lumaScale;
    const double pb = (yuv.cb - range.chromaOffset) / range.chromaScale;
    const double pr = (yuv.cr - range.chromaOffset) / range.chromaScale;
    const double r = luma + 2 * (1 - matrix.kr) * pr;
    const double b = luma + 2 * (1 - matrix.kb) * pb;
    const double g = (luma - matrix.kr * r - matrix.kb * b) / kg;
    return {255 * r, 255 * g, 255 * b};
}
