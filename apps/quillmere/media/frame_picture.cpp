#include "apps/quillmere/media/frame_picture.h"

#include <cstring>

#include "apps/quillmere/media/frame_converter.h"
#include "convert/picture_converter.h"

namespace {

// How far a pixel's conversion reaches for chroma samples beyond its own:
// two chroma blocks of the widest subsampling.
constexpr int kChromaReach = 8;

bool ConvertsItself(const AVFrame& frame) {
    return PictureConverter::Handles(static_cast<AVPixelFormat>(frame.format)) &&
           PictureConverter::HandlesColorspace(MatrixOf(frame.colorspace, frame.height));
}

}  // namespace

void UpdatePictureOfFrame(const AVFrame& frame, PictureRect changed, Picture& picture) {
    if (!ConvertsItself(frame) || picture.width != frame.width ||
        picture.height != frame.height) {
        picture = PictureOfFrame(frame);
        return;
    }
    if (changed.empty()) {
        return;
    }
    const PictureConverter converter(static_cast<AVPixelFormat>(frame.format), frame.colorspace,
                                     frame.color_range, frame.chroma_location, frame.width,
                                     frame.height);
    const PictureRect reach = converter.AlignToChromaGrid(
        PictureRect{changed.x - kChromaReach, changed.y - kChromaReach,
                    changed.width + 2 * kChromaReach, changed.height + 2 * kChromaReach});
    converter.ToBgra(frame.data, frame.linesize, reach,
                     picture.row(reach.y) + static_cast<std::ptrdiff_t>(reach.x) * 4,
                     picture.topDownStride());
}

Picture PictureOfFrame(const AVFrame& frame) {
    Picture picture(frame.width, frame.height);
    const AVPixelFormat format = static_cast<AVPixelFormat>(frame.format);
    if (ConvertsItself(frame)) {
        const PictureConverter converter(format, frame.colorspace, frame.color_range,
                                         frame.chroma_location, frame.width, frame.height);
        converter.ToBgra(frame.data, frame.linesize, PictureRect{0, 0, frame.width, frame.height},
                         picture.top(), picture.topDownStride());
        return picture;
    }
    FramePtr converted = NewFrame();
    FrameConverter converter;
    converter.Convert(frame, kFilterPixelFormat, frame.width, frame.height, *converted);
    const std::size_t rowBytes = static_cast<std::size_t>(frame.width) * 4;
    for (int y = 0; y < frame.height; ++y) {
        std::memcpy(picture.row(y),
                    converted->data[0] + static_cast<std::ptrdiff_t>(y) * converted->linesize[0],
                    rowBytes);
    }
    return picture;
}
