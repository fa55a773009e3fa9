#include "convert/pixel_layout.h"

#include <stdexcept>
#include <string>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

struct HandledFormat {
    AVPixelFormat format;
    LayoutFamily family;
};

// Little-endian only; everything else goes through the caller's fallback.
// The geometry (depth, subsampling, component positions) comes from
// libavutil's descriptor of each format.
const HandledFormat kHandledFormats[] = {
    // 4:2:0
    {AV_PIX_FMT_YUV420P, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUVJ420P, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUV420P9LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUV420P10LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUV420P12LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUV420P14LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUV420P16LE, LayoutFamily::PlanarYuv},
    // 4:2:2
    {AV_PIX_FMT_YUV422P, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUVJ422P, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUV422P9LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUV422P10LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUV422P12LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUV422P14LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUV422P16LE, LayoutFamily::PlanarYuv},
    // 4:4:4
    {AV_PIX_FMT_YUV444P, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUVJ444P, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUV444P9LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUV444P10LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUV444P12LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUV444P14LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUV444P16LE, LayoutFamily::PlanarYuv},
    // 4:4:0
    {AV_PIX_FMT_YUV440P, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUVJ440P, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUV440P10LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUV440P12LE, LayoutFamily::PlanarYuv},
    // 4:1:1
    {AV_PIX_FMT_YUV411P, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUVJ411P, LayoutFamily::PlanarYuv},
    // With alpha
    {AV_PIX_FMT_YUVA420P, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUVA420P9LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUVA420P10LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUVA420P16LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUVA422P, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUVA422P9LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUVA422P10LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUVA422P12LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUVA422P16LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUVA444P, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUVA444P9LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUVA444P10LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUVA444P12LE, LayoutFamily::PlanarYuv},
    {AV_PIX_FMT_YUVA444P16LE, LayoutFamily::PlanarYuv},
    // Planar RGB
    {AV_PIX_FMT_GBRP, LayoutFamily::PlanarGbr},
    {AV_PIX_FMT_GBRP9LE, LayoutFamily::PlanarGbr},
    {AV_PIX_FMT_GBRP10LE, LayoutFamily::PlanarGbr},
    {AV_PIX_FMT_GBRP12LE, LayoutFamily::PlanarGbr},
    {AV_PIX_FMT_GBRP14LE, LayoutFamily::PlanarGbr},
    {AV_PIX_FMT_GBRP16LE, LayoutFamily::PlanarGbr},
    {AV_PIX_FMT_GBRAP, LayoutFamily::PlanarGbr},
    {AV_PIX_FMT_GBRAP10LE, LayoutFamily::PlanarGbr},
    {AV_PIX_FMT_GBRAP12LE, LayoutFamily::PlanarGbr},
    {AV_PIX_FMT_GBRAP16LE, LayoutFamily::PlanarGbr},
    // Gray
    {AV_PIX_FMT_GRAY8, LayoutFamily::Gray},
    {AV_PIX_FMT_GRAY9LE, LayoutFamily::Gray},
    {AV_PIX_FMT_GRAY10LE, LayoutFamily::Gray},
    {AV_PIX_FMT_GRAY12LE, LayoutFamily::Gray},
    {AV_PIX_FMT_GRAY14LE, LayoutFamily::Gray},
    {AV_PIX_FMT_GRAY16LE, LayoutFamily::Gray},
    {AV_PIX_FMT_YA8, LayoutFamily::Gray},
    // Packed 8-bit RGB
    {AV_PIX_FMT_BGRA, LayoutFamily::PackedRgb},
    {AV_PIX_FMT_BGR0, LayoutFamily::PackedRgb},
    {AV_PIX_FMT_RGBA, LayoutFamily::PackedRgb},
    {AV_PIX_FMT_RGB0, LayoutFamily::PackedRgb},
    {AV_PIX_FMT_ARGB, LayoutFamily::PackedRgb},
    {AV_PIX_FMT_ABGR, LayoutFamily::PackedRgb},
    {AV_PIX_FMT_0RGB, LayoutFamily::PackedRgb},
    {AV_PIX_FMT_0BGR, LayoutFamily::PackedRgb},
    {AV_PIX_FMT_RGB24, LayoutFamily::PackedRgb},
    {AV_PIX_FMT_BGR24, LayoutFamily::PackedRgb},
};

const AVPixelFormat kFullRangeAliases[] = {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P,
                                           AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_YUVJ440P,
                                           AV_PIX_FMT_YUVJ411P};

const HandledFormat* FindFormat(AVPixelFormat format) {
    for (const HandledFormat& entry : kHandledFormats) {
        if (entry.format == format) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace

bool IsFullRangeAlias(AVPixelFormat format) {
    for (AVPixelFormat alias : kFullRangeAliases) {
        if (alias == format) {
            return true;
        }
    }
    return false;
}

bool IsHandledFormat(AVPixelFormat format) { return FindFormat(format) != nullptr; }

PixelLayout LayoutOf(AVPixelFormat format) {
    const HandledFormat* entry = FindFormat(format);
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    if (entry == nullptr || descriptor == nullptr) {
        const char* name = av_get_pix_fmt_name(format);
        throw std::invalid_argument(std::string("pixel format not handled by the converter: ") +
                                    (name != nullptr ? name : std::to_string(format)));
    }
    PixelLayout layout;
    layout.family = entry->family;
    layout.depth = descriptor->comp[0].depth;
    layout.bytesPerSample = layout.depth > 8 ? 2 : 1;
    layout.chromaShiftX = descriptor->log2_chroma_w;
    layout.chromaShiftY = descriptor->log2_chroma_h;
    layout.hasAlpha = (descriptor->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
    layout.fullRangeAlias = IsFullRangeAlias(format);
    if (entry->family == LayoutFamily::Gray) {
        layout.lumaStep = descriptor->comp[0].step / layout.bytesPerSample;
    }
    if (entry->family == LayoutFamily::PackedRgb) {
        // Components 0..2 are R, G, B; 3 is alpha when the format has one.
        layout.pixelBytes = descriptor->comp[0].step;
        layout.redByte = descriptor->comp[0].offset;
        layout.greenByte = descriptor->comp[1].offset;
        layout.blueByte = descriptor->comp[2].offset;
        layout.alphaByte = layout.hasAlpha ? descriptor->comp[3].offset : -1;
    }
    return layout;
}
