#include "apps/quillmere/media/frame_picture.h"

#include <cstring>

#include "apps/quillmere/media/frame_converter.h"
#include "convert/picture_converter.h"

Picture PictureOfFrame(const AVFrame& frame) {
    Picture picture(frame.width, frame.height);
    const AVPixelFormat format = static_cast<AVPixelFormat>(frame.format);
    if (PictureConverter::Handles(format) &&
        PictureConverter::HandlesColorspace(MatrixOf(frame.colorspace, frame.height))) {
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
