#include "apps/quillmere/frame_stream.h"

FileFrameSource::FileFrameSource(const std::string& path, PictureLimit limit)
    : reader_(path, limit), converter_(reader_.width(), reader_.height(), kFilterPixelFormat) {}

bool FileFrameSource::Next(Picture* picture) {
    const AVFrame* frame = reader_.NextFrame();
    if (frame == nullptr) {
        return false;
    }
    if (picture != nullptr) {
        std::uint8_t* planes[4] = {picture->top(), nullptr, nullptr, nullptr};
        const int strides[4] = {picture->topDownStride(), 0, 0, 0};
        converter_.Convert(*frame, planes, strides);
    }
    return true;
}
