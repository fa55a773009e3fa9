#include "apps/quillmere/pipeline/area_compositor.h"

#include <limits>

#include "apps/quillmere/media/frame_converter.h"
#include "apps/quillmere/runner_error.h"
#include "filter/filter_data.h"
#include "render/changed_area.h"

namespace {

constexpr int kPixelBytes = 4;
// The host's rows are padded to 8 bytes (see ProcessingPass).
constexpr long kRowAlignment = 8;
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

// Bitmap memory: the pixels of `height` rows `pitch` bytes apart.
void SizeFor(std::vector<Pixel32>& pixels, long pitch, int height) {
    const std::size_t count =
        static_cast<std::size_t>(pitch / kPixelBytes) * static_cast<std::size_t>(height);
    if (pixels.size() != count) {
        pixels.assign(count, 0);
    }
}

}  // namespace

AreaCompositor::AreaCompositor(FilterInstance& instance, const VideoFormat& format,
                               const FadeRamp& fade)
    : instance_(instance),
      record_(instance.recordAs<FilterData>()),
      settings_(record_),
      frameRate_(format.frameRate),
      fade_(fade) {
    const ChangedArea changed = ChangedAreaOf(settings_, format.width, format.height);
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
    bitmapLeft_ = BitmapStart(area_.x, settings_.maskLeft, settings_.maskRight);
    bitmapTop_ = BitmapStart(area_.y, settings_.maskTop, settings_.maskBottom);
    bitmapWidth_ = area_.x + area_.width - bitmapLeft_;
    bitmapHeight_ = area_.y + area_.height - bitmapTop_;
    sourcePitch_ = (static_cast<long>(bitmapWidth_) * kPixelBytes + kRowAlignment - 1) /
                   kRowAlignment * kRowAlignment;
}

AreaCompositor::~AreaCompositor() {
    pass_.reset();
    if (maskMoved_) {
        record_.maskLeft = settings_.maskLeft;
        record_.maskTop = settings_.maskTop;
        record_.maskRight = settings_.maskRight;
        record_.maskBottom = settings_.maskBottom;
    }
}

void AreaCompositor::Start(const VBitmapOperations* outputOperations) {
    if (!converter_ || pass_) {
        return;
    }
    record_.maskLeft -= bitmapLeft_;
    record_.maskRight -= bitmapLeft_;
    record_.maskTop -= bitmapTop_;
    record_.maskBottom -= bitmapTop_;
    maskMoved_ = true;
    pass_ = std::make_unique<ProcessingPass>(instance_, bitmapWidth_, bitmapHeight_);
    if (pass_->source().bitmap.pitch != sourcePitch_) {
        throw RunnerError("the processing pass laid out its frames unexpectedly");
    }
    separateOutput_ = (pass_->paramResult() & kFilterParamSwapBuffers) != 0;
    if (fade_.fades() && !separateOutput_) {
        // Working in place, the filter leaves nothing of the area as it was to fade toward.
        throw RunnerError("the filter draws in place, so its drawing cannot fade");
    }
    if (outputOperations != nullptr) {
        instance_.activation().dst->bitmap.operations = outputOperations;
    }
    if (frameRate_.num > 0 && frameRate_.den > 0) {
        pass_->SetMicrosecondsPerFrame(
            static_cast<long>(av_rescale(kMicrosecondsPerSecond, frameRate_.den, frameRate_.num)));
    }
}

void AreaCompositor::Finish() {
    if (pass_) {
        pass_->Finish();
    }
}

std::ptrdiff_t AreaCompositor::AreaOffset(long pitch, int height) const {
    const int row = height - 1 - (area_.y - bitmapTop_);
    return static_cast<std::ptrdiff_t>(row) * pitch +
           static_cast<std::ptrdiff_t>(area_.x - bitmapLeft_) * kPixelBytes;
}

void AreaCompositor::Load(const AVFrame& frame, long number, AreaBuffers& buffers) const {
    buffers.loaded = converter_ != nullptr &&
                     !FrameLeftUntouched(settings_, static_cast<std::int32_t>(number));
    if (!buffers.loaded) {
        return;
    }
    SizeFor(buffers.source, sourcePitch_, bitmapHeight_);
    auto* bytes = reinterpret_cast<std::uint8_t*>(buffers.source.data());
    converter_->ToBgra(frame.data, frame.linesize, area_,
                       bytes + AreaOffset(sourcePitch_, bitmapHeight_), -sourcePitch_);
}

void AreaCompositor::Run(AreaBuffers& buffers, long number) {
    if (!buffers.loaded) {
        return;
    }
    FilterActivation& activation = instance_.activation();
    VBitmap& source = activation.src->bitmap;
    VBitmap& output = activation.dst->bitmap;
    Pixel32* const ownSource = source.data;
    Pixel32* const ownOutput = output.data;
    source.data = buffers.source.data();
    if (separateOutput_) {
        SizeFor(buffers.output, output.pitch, bitmapHeight_);
        output.data = buffers.output.data();
    } else {
        output.data = source.data;
    }
    try {
        pass_->RunFrame(number);
    } catch (...) {
        source.data = ownSource;
        output.data = ownOutput;
        throw;
    }
    source.data = ownSource;
    output.data = ownOutput;
    const std::uint32_t weight = fade_.WeightAt(number);
    if (weight < kFullWeight) {
        Fade(buffers, weight);
    }
}

long AreaCompositor::OutputPitch(const AreaBuffers& buffers) const {
    return static_cast<long>(buffers.output.size() / static_cast<std::size_t>(bitmapHeight_)) *
           kPixelBytes;
}

void AreaCompositor::Fade(AreaBuffers& buffers, std::uint32_t weight) const {
    const long outputPitch = OutputPitch(buffers);
    auto* output = reinterpret_cast<std::uint8_t*>(buffers.output.data()) +
                   AreaOffset(outputPitch, bitmapHeight_);
    const auto* source = reinterpret_cast<const std::uint8_t*>(buffers.source.data()) +
                         AreaOffset(sourcePitch_, bitmapHeight_);
    FadeTowardOriginal(output, -outputPitch, source, -sourcePitch_, area_.width, area_.height,
                       weight);
}

void AreaCompositor::Store(AVFrame& frame, const AreaBuffers& buffers) {
    if (!buffers.loaded) {
        return;
    }
    MakeWritable(frame);
    const auto* source = reinterpret_cast<const std::uint8_t*>(buffers.source.data()) +
                         AreaOffset(sourcePitch_, bitmapHeight_);
    if (!separateOutput_) {
        // The filter worked in place: nothing to compare with, every pixel goes back.
        converter_->FromBgra(source, -sourcePitch_, nullptr, 0, area_, frame.data,
                             frame.linesize);
        return;
    }
    const long outputPitch = OutputPitch(buffers);
    const auto* output = reinterpret_cast<const std::uint8_t*>(buffers.output.data()) +
                         AreaOffset(outputPitch, bitmapHeight_);
    converter_->FromBgra(output, -outputPitch, source, -sourcePitch_, area_, frame.data,
                         frame.linesize);
}

void AreaCompositor::Composite(AVFrame& frame, long number) {
    Start();
    Load(frame, number, ownBuffers_);
    Run(ownBuffers_, number);
    Store(frame, ownBuffers_);
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
