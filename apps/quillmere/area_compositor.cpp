#include "apps/quillmere/area_compositor.h"

#include <limits>

#include "apps/quillmere/frame_converter.h"
#include "apps/quillmere/runner_error.h"
#include "filter/filter_data.h"
#include "render/changed_area.h"

namespace {

constexpr int kPixelBytes = 4;
constexpr std::int64_t kMicrosecondsPerSecond = 1000000;

bool FitsInt32(std::int64_t value) {
    return value >= std::numeric_limits<std::int32_t>::min() &&
           value <= std::numeric_limits<std::int32_t>::max();
}

// Where the bitmaps can begin along one axis: at the area's start, unless
// moving a mask corner by that much would leave 32 bits; then at the frame's
// edge, which needs no move.
int BitmapStart(int areaStart, std::int32_t corner1, std::int32_t corner2) {
    const bool movable = FitsInt32(static_cast<std::int64_t>(corner1) - areaStart) &&
                         FitsInt32(static_cast<std::int64_t>(corner2) - areaStart);
    return movable ? areaStart : 0;
}

}  // namespace

AreaCompositor::AreaCompositor(FilterInstance& instance, const VideoFormat& format)
    : instance_(instance),
      record_(instance.recordAs<FilterData>()),
      savedMask_{record_.maskLeft, record_.maskTop, record_.maskRight, record_.maskBottom} {
    const ChangedArea changed = ChangedAreaOf(record_, format.width, format.height);
    if (changed.empty()) {
        return;
    }
    try {
        converter_ = std::make_unique<PictureConverter>(format.pixelFormat, format.colorspace,
                                                        format.range, format.chromaLocation,
                                                        format.width, format.height);
    } catch (const std::invalid_argument& error) {
        throw RunnerError(std::string("cannot composite these pictures: ") + error.what());
    }
    area_ = converter_->AlignToChromaGrid(PictureRect{
        static_cast<int>(changed.left), static_cast<int>(changed.top),
        static_cast<int>(changed.right - changed.left),
        static_cast<int>(changed.bottom - changed.top)});
    bitmapLeft_ = BitmapStart(area_.x, record_.maskLeft, record_.maskRight);
    bitmapTop_ = BitmapStart(area_.y, record_.maskTop, record_.maskBottom);
    const int width = area_.x + area_.width - bitmapLeft_;
    const int height = area_.y + area_.height - bitmapTop_;

    record_.maskLeft -= bitmapLeft_;
    record_.maskRight -= bitmapLeft_;
    record_.maskTop -= bitmapTop_;
    record_.maskBottom -= bitmapTop_;
    try {
        pass_ = std::make_unique<ProcessingPass>(instance_, width, height);
    } catch (...) {
        record_.maskLeft = savedMask_[0];
        record_.maskTop = savedMask_[1];
        record_.maskRight = savedMask_[2];
        record_.maskBottom = savedMask_[3];
        throw;
    }
    const AVRational rate = format.frameRate;
    if (rate.num > 0 && rate.den > 0) {
        pass_->SetMicrosecondsPerFrame(
            static_cast<long>(av_rescale(kMicrosecondsPerSecond, rate.den, rate.num)));
    }
    separateOutput_ = (pass_->paramResult() & kFilterParamSwapBuffers) != 0;
}

AreaCompositor::~AreaCompositor() {
    if (pass_) {
        pass_->Finish();
    }
    record_.maskLeft = savedMask_[0];
    record_.maskTop = savedMask_[1];
    record_.maskRight = savedMask_[2];
    record_.maskBottom = savedMask_[3];
}

std::uint8_t* AreaCompositor::AreaTopLeft(const VBitmap& bitmap) const {
    const int row = bitmap.h - 1 - (area_.y - bitmapTop_);
    return reinterpret_cast<std::uint8_t*>(bitmap.data) +
           static_cast<std::ptrdiff_t>(row) * bitmap.pitch +
           static_cast<std::ptrdiff_t>(area_.x - bitmapLeft_) * kPixelBytes;
}

void AreaCompositor::MakeWritable(AVFrame& frame) {
    if (av_frame_is_writable(&frame) != 0) {
        return;
    }
    AVFrame* spare = nullptr;
    for (FramePtr& candidate : spareFrames_) {
        if (av_frame_is_writable(candidate.get()) != 0) {
            spare = candidate.get();
            break;
        }
    }
    if (spare == nullptr) {
        spareFrames_.push_back(NewFrame());
        spare = spareFrames_.back().get();
        spare->format = frame.format;
        spare->width = frame.width;
        spare->height = frame.height;
        if (av_frame_get_buffer(spare, 0) < 0) {
            spareFrames_.pop_back();
            throw RunnerError("out of memory");
        }
    }
    if (av_frame_copy(spare, &frame) < 0 || av_frame_copy_props(spare, &frame) < 0) {
        throw RunnerError("cannot copy a frame of the main video");
    }
    av_frame_unref(&frame);
    // The frame shares the spare's buffers until the encoder lets go of
    // them; the spare is reused only after that.
    if (av_frame_ref(&frame, spare) < 0) {
        throw RunnerError("out of memory");
    }
}

void AreaCompositor::Composite(AVFrame& frame, long number) {
    if (!pass_ || FrameLeftUntouched(record_, static_cast<std::int32_t>(number))) {
        return;
    }
    const VBitmap& source = pass_->source().bitmap;
    const VBitmap& output = pass_->output().bitmap;
    std::uint8_t* sourceArea = AreaTopLeft(source);
    converter_->ToBgra(frame.data, frame.linesize, area_, sourceArea, -source.pitch);
    pass_->RunFrame(number);
    MakeWritable(frame);
    // Without an output buffer of its own the filter worked in place, and
    // there is nothing to compare with: every pixel goes back.
    const std::uint8_t* original = separateOutput_ ? sourceArea : nullptr;
    converter_->FromBgra(AreaTopLeft(output), -output.pitch, original, -source.pitch, area_,
                         frame.data, frame.linesize);
}
