#include "apps/quillmere/pipeline/area_compositor.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "apps/quillmere/media/frame_converter.h"
#include "apps/quillmere/runner_error.h"
#include "filter/filter_data.h"
#include "render/random_generator.h"

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

// Whether the overlay is expected to replace every pixel inside the mask
// on the frames it shows: a stretch always fills the mask, a 1:1 copy only
// when the overlay is at least as large, and without an overlay the black
// placeholder fills it. Frames that turn out otherwise are run again.
bool ExpectMaskReplaced(const FilterData& settings, std::int64_t maskWidth,
                        std::int64_t maskHeight) {
    if (settings.editing != 0) {
        return false;
    }
    if (settings.frameGetter == nullptr || settings.fitToFrame != 0) {
        return true;
    }
    return settings.overlayWidth >= maskWidth && settings.overlayHeight >= maskHeight;
}

// The wrapped 32-bit extent the run procedure takes between two corners.
std::int64_t MaskExtent(std::int32_t from, std::int32_t to) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(to) -
                                     static_cast<std::uint32_t>(from));
}

PictureRect Intersect(const PictureRect& rect, std::int64_t left, std::int64_t top,
                      std::int64_t right, std::int64_t bottom) {
    left = std::max<std::int64_t>(left, rect.x);
    top = std::max<std::int64_t>(top, rect.y);
    right = std::min<std::int64_t>(right, rect.right());
    bottom = std::min<std::int64_t>(bottom, rect.bottom());
    if (right <= left || bottom <= top) {
        return PictureRect{};
    }
    return PictureRect{static_cast<int>(left), static_cast<int>(top),
                       static_cast<int>(right - left), static_cast<int>(bottom - top)};
}

// `parts.area` less `inside` (a rect within it), as up to four bands: the
// rows above and below, then the columns left and right of it.
void BandsAround(FrameArea& parts, const PictureRect& inside) {
    const PictureRect& area = parts.area;
    const PictureRect candidates[] = {
        {area.x, area.y, area.width, inside.y - area.y},
        {area.x, inside.bottom(), area.width, area.bottom() - inside.bottom()},
        {area.x, inside.y, inside.x - area.x, inside.height},
        {inside.right(), inside.y, area.right() - inside.right(), inside.height},
    };
    parts.bandCount = 0;
    for (const PictureRect& band : candidates) {
        if (!band.empty()) {
            parts.bands[static_cast<std::size_t>(parts.bandCount++)] = band;
        }
    }
}

// The settings with the mask of one frame.
FilterData WithMask(const FilterData& settings, const FrameMask& mask) {
    FilterData moved = settings;
    moved.maskLeft = mask.left;
    moved.maskTop = mask.top;
    moved.maskRight = mask.right;
    moved.maskBottom = mask.bottom;
    return moved;
}

// Copies `from` into `to` (same size and format) but for the samples that
// the write-back of `replaced` overwrites: its colour samples in planar
// layouts. Alpha planes, which it leaves alone, and packed layouts, whose
// pixels mix both, are copied whole.
bool CopyAround(AVFrame& to, const AVFrame& from, const PictureRect& replaced) {
    const auto format = static_cast<AVPixelFormat>(from.format);
    const AVPixFmtDescriptor* layout = av_pix_fmt_desc_get(format);
    if (replaced.empty() || layout == nullptr || (layout->flags & AV_PIX_FMT_FLAG_PLANAR) == 0) {
        return av_frame_copy(&to, &from) >= 0;
    }
    const int alphaPlane =
        (layout->flags & AV_PIX_FMT_FLAG_ALPHA) != 0 ? layout->comp[3].plane : -1;
    const bool yuv = (layout->flags & AV_PIX_FMT_FLAG_RGB) == 0;
    for (int plane = 0; plane < av_pix_fmt_count_planes(format); ++plane) {
        const bool chroma = yuv && (plane == 1 || plane == 2);
        const int shiftY = chroma ? layout->log2_chroma_h : 0;
        const int rowBytes = av_image_get_linesize(format, from.width, plane);
        const int rows = AV_CEIL_RSHIFT(from.height, shiftY);
        if (rowBytes < 0) {
            return false;
        }
        const auto copy = [&](int firstRow, int endRow, int firstByte, int endByte) {
            if (endRow > firstRow && endByte > firstByte) {
                av_image_copy_plane(to.data[plane] + std::ptrdiff_t{firstRow} * to.linesize[plane] +
                                        firstByte,
                                    to.linesize[plane],
                                    from.data[plane] +
                                        std::ptrdiff_t{firstRow} * from.linesize[plane] + firstByte,
                                    from.linesize[plane], endByte - firstByte, endRow - firstRow);
            }
        };
        if (plane == alphaPlane) {
            copy(0, rows, 0, rowBytes);
            continue;
        }
        // The rect lies on the chroma grid, so its edges fall between samples.
        const int top = replaced.y >> shiftY;
        const int bottom = AV_CEIL_RSHIFT(replaced.bottom(), shiftY);
        const int left = replaced.x == 0 ? 0 : av_image_get_linesize(format, replaced.x, plane);
        const int right = av_image_get_linesize(format, replaced.right(), plane);
        if (left < 0 || right < 0) {
            return false;
        }
        copy(0, top, 0, rowBytes);
        copy(top, bottom, 0, left);
        copy(top, bottom, right, rowBytes);
        copy(bottom, rows, 0, rowBytes);
    }
    return true;
}

}  // namespace

AreaCompositor::AreaCompositor(FilterInstance& instance, const VideoFormat& format,
                               const FadeRamp& fade, const MaskMotion& motion,
                               int cornerRadius)
    : instance_(instance),
      record_(instance.recordAs<FilterData>()),
      settings_(record_),
      frameRate_(format.frameRate),
      fade_(fade),
      motion_(motion),
      frameWidth_(format.width),
      frameHeight_(format.height) {
    // A moving mask's frames all lie within the area of its envelope.
    const FilterData widest = motion_.moves() ? WithMask(settings_, motion_.Envelope()) : settings_;
    const ChangedArea changed = ChangedAreaOf(widest, format.width, format.height);
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
    bitmapLeft_ = BitmapStart(area_.x, widest.maskLeft, widest.maskRight);
    bitmapTop_ = BitmapStart(area_.y, widest.maskTop, widest.maskBottom);
    bitmapWidth_ = area_.x + area_.width - bitmapLeft_;
    bitmapHeight_ = area_.y + area_.height - bitmapTop_;
    still_.bitmapLeft = bitmapLeft_;
    still_.bitmapTop = bitmapTop_;
    still_.bitmapWidth = bitmapWidth_;
    still_.bitmapHeight = bitmapHeight_;
    sourcePitch_ = (static_cast<long>(bitmapWidth_) * kPixelBytes + kRowAlignment - 1) /
                   kRowAlignment * kRowAlignment;

    still_.area = area_;
    const std::int64_t maskWidth = MaskExtent(settings_.maskLeft, settings_.maskRight);
    const std::int64_t maskHeight = MaskExtent(settings_.maskTop, settings_.maskBottom);
    if (!motion_.moves() && maskWidth > 0 && maskHeight > 0 && ExpectMaskReplaced(settings_, maskWidth, maskHeight)) {
        maskInside_ = converter_->ShrinkToChromaGrid(
            Intersect(area_, settings_.maskLeft, settings_.maskTop,
                      std::int64_t{settings_.maskLeft} + maskWidth,
                      std::int64_t{settings_.maskTop} + maskHeight));
    }
    if (cornerRadius > 0 && !motion_.moves()) {
        corners_ = std::make_unique<RoundedCorners>(
            settings_, cornerRadius, area_, BitmapPlace{bitmapLeft_, bitmapTop_, bitmapHeight_});
        if (corners_->empty()) {
            corners_.reset();
        } else {
            for (const PictureRect& corner : corners_->maskCorners()) {
                cornerLoads_.push_back(converter_->AlignToChromaGrid(corner));
            }
        }
    }
}

AreaCompositor::~AreaCompositor() {
    // Each pass ends before the instance it runs goes.
    rehearsal_.pass.reset();
    for (Lane& lane : lanes_) {
        lane.pass.reset();
    }
    lanes_.clear();
    if (maskMoved_) {
        record_.maskLeft = settings_.maskLeft;
        record_.maskTop = settings_.maskTop;
        record_.maskRight = settings_.maskRight;
        record_.maskBottom = settings_.maskBottom;
    }
}

AreaCompositor::Lane AreaCompositor::MakeLane(FilterInstance* own, int width, int height,
                                              FrameMemory memory,
                                              const VBitmapOperations* outputOperations,
                                              bool overlayOverVideo) {
    Lane lane;
    if (own != nullptr) {
        lane.instance = own;
    } else {
        // A block copy of the record, as the host makes; its start procedure
        // gives it an overlay bitmap of its own.
        lane.copy = std::make_unique<FilterInstance>(instance_);
        lane.instance = lane.copy.get();
    }
    lane.pass = std::make_unique<ProcessingPass>(*lane.instance, width, height, memory);
    if (motion_.moves() && motion_.rounding() == MaskRounding::SubPixel &&
        memory == FrameMemory::Caller) {
        lane.subPixel = std::make_unique<SubPixelOperations>(
            outputOperations, settings_.borderOn != 0 ? settings_.borderSize : 0, width, height);
        outputOperations = &lane.subPixel->table;
    }
    FilterActivation& activation = lane.instance->activation();
    if (overlayOverVideo) {
        lane.overVideo =
            std::make_unique<OverVideoOperations>(outputOperations, &activation.src->bitmap);
        activation.dst->bitmap.operations = &lane.overVideo->table;
    } else if (outputOperations != nullptr) {
        activation.dst->bitmap.operations = outputOperations;
    }
    if (frameRate_.num > 0 && frameRate_.den > 0) {
        lane.pass->SetMicrosecondsPerFrame(
            static_cast<long>(av_rescale(kMicrosecondsPerSecond, frameRate_.den, frameRate_.num)));
    }
    return lane;
}

void AreaCompositor::Start(const VBitmapOperations* outputOperations, int lanes,
                           bool operationsCopy, bool overlayOverVideo) {
    if (!converter_ || started_) {
        return;
    }
    started_ = true;
    record_.maskLeft -= bitmapLeft_;
    record_.maskRight -= bitmapLeft_;
    record_.maskTop -= bitmapTop_;
    record_.maskBottom -= bitmapTop_;
    maskMoved_ = true;
    // The lanes run on the buffers of the frames on their way.
    lanes_.push_back(MakeLane(&instance_, bitmapWidth_, bitmapHeight_, FrameMemory::Caller,
                              outputOperations, overlayOverVideo));
    // The parts of a frame depend on these two, which the pass settles.
    opaqueCopy_ = (outputOperations == nullptr || operationsCopy) && !overlayOverVideo;
    ProcessingPass& pass = *lanes_.front().pass;
    if (pass.source().bitmap.pitch != sourcePitch_) {
        throw RunnerError("the processing pass laid out its frames unexpectedly");
    }
    separateOutput_ = (pass.paramResult() & kFilterParamSwapBuffers) != 0;
    if (fade_.fades() && !separateOutput_) {
        // Working in place, the filter leaves nothing of the area as it was to fade toward.
        throw RunnerError("the filter draws in place, so its drawing cannot fade");
    }
    if (overlayOverVideo && !separateOutput_) {
        throw RunnerError("the filter draws in place, so its overlay cannot be laid over the "
                          "video under it");
    }
    if (corners_ && !separateOutput_) {
        throw RunnerError("the filter draws in place, so its corners cannot be rounded");
    }
    for (int lane = 1; lane < lanes; ++lane) {
        lanes_.push_back(MakeLane(nullptr, bitmapWidth_, bitmapHeight_, FrameMemory::Caller,
                                  outputOperations, overlayOverVideo));
    }
    if (lanes > 1) {
        rehearsal_ = MakeLane(nullptr, 1, 1, FrameMemory::Pass, nullptr, false);
    }
    SplitAround(still_, maskInside_);
    skippedInside_ = still_.skippedInside;
}

void AreaCompositor::SplitAround(FrameArea& parts, const PictureRect& maskInside) const {
    // The inside can go unconverted only where the overlay is copied, not
    // blended, and where the filter leaves its source as it was.
    parts.skippedInside = PictureRect{};
    parts.bandCount = 0;
    if (opaqueCopy_ && separateOutput_ && !maskInside.empty()) {
        parts.skippedInside = maskInside;
        BandsAround(parts, maskInside);
    }
}

FrameArea AreaCompositor::PartsOf(long number) const {
    if (!motion_.moves()) {
        return still_;
    }
    FrameArea parts;
    parts.mask = motion_.MaskAt(number);
    const FilterData settings = WithMask(settings_, parts.mask);
    const ChangedArea changed = ChangedAreaOf(settings, frameWidth_, frameHeight_);
    parts.area = Intersect(area_, changed.left, changed.top, changed.right, changed.bottom);
    if (changed.empty() || parts.area.empty()) {
        // A mask wholly off the picture still runs the filter, on a pixel
        // that it leaves as it was: its shadow draws its random numbers, as
        // on every frame of a run in any number of lanes or segments.
        parts.area = PictureRect{area_.x, area_.y, 1, 1};
    }
    parts.area = converter_->AlignToChromaGrid(parts.area);
    parts.bitmapLeft = parts.area.x;
    parts.bitmapTop = parts.area.y;
    parts.bitmapWidth = parts.area.width;
    parts.bitmapHeight = parts.area.height;
    const ExactMask& exact = parts.mask.exact;
    const std::int64_t width = std::int64_t{parts.mask.right} - parts.mask.left;
    const std::int64_t height = std::int64_t{parts.mask.bottom} - parts.mask.top;
    if (width > 0 && height > 0 && ExpectMaskReplaced(settings, width, height)) {
        // Only the pixels the exact mask covers whole are the overlay's alone.
        SplitAround(parts, converter_->ShrinkToChromaGrid(Intersect(
                               parts.area, static_cast<std::int64_t>(std::ceil(exact.left)),
                               static_cast<std::int64_t>(std::ceil(exact.top)),
                               static_cast<std::int64_t>(std::floor(exact.right)),
                               static_cast<std::int64_t>(std::floor(exact.bottom)))));
    }
    return parts;
}

void AreaCompositor::UseFrameMask(Lane& lane, const FrameMask& mask, int originLeft,
                                  int originTop) const {
    if (!motion_.moves()) {
        return;
    }
    FilterData& record = lane.instance->recordAs<FilterData>();
    record.maskLeft = mask.left - originLeft;
    record.maskTop = mask.top - originTop;
    record.maskRight = mask.right - originLeft;
    record.maskBottom = mask.bottom - originTop;
    if (lane.subPixel) {
        const ExactMask& exact = mask.exact;
        lane.subPixel->SetMask(record.maskLeft, record.maskTop, record.maskRight,
                               record.maskBottom,
                               SubPixelRect{exact.left - originLeft, exact.top - originTop,
                                            exact.right - originLeft, exact.bottom - originTop});
    }
}

void AreaCompositor::Finish() {
    for (Lane& lane : lanes_) {
        lane.pass->Finish();
    }
    if (rehearsal_.pass) {
        rehearsal_.pass->Finish();
    }
}

std::ptrdiff_t AreaCompositor::RectOffset(const PictureRect& rect, long pitch,
                                          const FrameArea& parts) const {
    const int row = parts.bitmapHeight - 1 - (rect.y - parts.bitmapTop);
    return static_cast<std::ptrdiff_t>(row) * pitch +
           static_cast<std::ptrdiff_t>(rect.x - parts.bitmapLeft) * kPixelBytes;
}

void AreaCompositor::LoadRect(const AVFrame& frame, const PictureRect& rect,
                              AreaBuffers& buffers) const {
    auto* bytes = reinterpret_cast<std::uint8_t*>(buffers.source.data());
    converter_->ToBgra(frame.data, frame.linesize, rect,
                       bytes + RectOffset(rect, sourcePitch_, buffers.parts),
                       -sourcePitch_);
}

void AreaCompositor::Load(const AVFrame& frame, long number, AreaBuffers& buffers) const {
    buffers.loaded = converter_ != nullptr &&
                     !FrameLeftUntouched(settings_, static_cast<std::int32_t>(number));
    buffers.inside = MaskInside::Mixed;
    if (!buffers.loaded) {
        return;
    }
    buffers.parts = PartsOf(number);
    const FrameArea& parts = buffers.parts;
    SizeFor(buffers.source, sourcePitch_, bitmapHeight_);
    // A fading frame blends the drawing toward the inside as it was.
    buffers.insideLoaded = parts.skippedInside.empty() || fade_.WeightAt(number) < kFullWeight;
    if (buffers.insideLoaded) {
        LoadRect(frame, parts.area, buffers);
        return;
    }
    for (int band = 0; band < parts.bandCount; ++band) {
        LoadRect(frame, parts.bands[static_cast<std::size_t>(band)], buffers);
    }
    for (const PictureRect& corner : cornerLoads_) {
        LoadRect(frame, corner, buffers);
    }
}

void AreaCompositor::RunOnce(Lane& lane, AreaBuffers& buffers, long number) {
    FilterActivation& activation = lane.instance->activation();
    VBitmap& source = activation.src->bitmap;
    VBitmap& output = activation.dst->bitmap;
    // The pass's own bitmaps come back after the run, however it ends.
    const VBitmap ownSource = source;
    const VBitmap ownOutput = output;
    const FrameArea& parts = buffers.parts;
    source.data = buffers.source.data();
    if (separateOutput_) {
        SizeFor(buffers.output, output.pitch, bitmapHeight_);
        output.data = buffers.output.data();
    } else {
        output.data = source.data;
    }
    if (parts.bitmapWidth != source.w || parts.bitmapHeight != source.h) {
        // The frame's own part: its rows are the buffers' first, at the
        // same pitch, and the filter copies and clips to no more than it.
        for (VBitmap* bitmap : {&source, &output}) {
            bitmap->w = parts.bitmapWidth;
            bitmap->h = parts.bitmapHeight;
            bitmap->modulo = bitmap->pitch - static_cast<long>(parts.bitmapWidth) * kPixelBytes;
            bitmap->size = bitmap->pitch * parts.bitmapHeight;
        }
    }
    UseFrameMask(lane, parts.mask, parts.bitmapLeft, parts.bitmapTop);
    // Set again only if this run lays an overlay frame (see MaskInsideAfterRun).
    lane.instance->recordAs<FilterData>().overlayBits = nullptr;
    try {
        lane.pass->RunFrame(number);
    } catch (...) {
        source = ownSource;
        output = ownOutput;
        throw;
    }
    source = ownSource;
    output = ownOutput;
    // A run that drew nothing has nothing to round.
    if (corners_ && MaskInsideAfterRun(lane.instance->recordAs<FilterData>(), opaqueCopy_) !=
                        MaskInside::Untouched) {
        corners_->Apply(buffers.source.data(), sourcePitch_ / kPixelBytes, buffers.output.data(),
                        OutputPitch(buffers) / kPixelBytes);
    }
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
    const PictureRect& area = buffers.parts.area;
    auto* output = reinterpret_cast<std::uint8_t*>(buffers.output.data()) +
                   RectOffset(area, outputPitch, buffers.parts);
    const auto* source = reinterpret_cast<const std::uint8_t*>(buffers.source.data()) +
                         RectOffset(area, sourcePitch_, buffers.parts);
    FadeTowardOriginal(output, -outputPitch, source, -sourcePitch_, area.width, area.height,
                       weight);
}

void AreaCompositor::Run(const AVFrame& frame, AreaBuffers& buffers, long number, int lane) {
    if (!buffers.loaded) {
        return;
    }
    Lane& runner = lanes_.at(static_cast<std::size_t>(lane));
    const std::uint32_t randomStart = RandomState();
    RunOnce(runner, buffers, number);
    buffers.inside = MaskInsideAfterRun(runner.instance->recordAs<FilterData>(), opaqueCopy_);
    if (buffers.insideLoaded || buffers.inside != MaskInside::Mixed) {
        return;
    }
    // The source shows through inside the mask on this frame after all.
    LoadRect(frame, buffers.parts.skippedInside, buffers);
    buffers.insideLoaded = true;
    SeedRandom(randomStart);
    RunOnce(runner, buffers, number);
}

void AreaCompositor::Rehearse(long number) {
    // Frames that Load passes over never reach the filter.
    if (!converter_ || FrameLeftUntouched(settings_, static_cast<std::int32_t>(number))) {
        return;
    }
    if (!rehearsal_.pass) {
        throw std::logic_error("frames are rehearsed only for a pass on several lanes");
    }
    if (motion_.moves()) {
        UseFrameMask(rehearsal_, motion_.MaskAt(number), bitmapLeft_, bitmapTop_);
    }
    rehearsal_.pass->RunFrame(number);
}

void AreaCompositor::StoreRect(AVFrame& frame, const FrameArea& parts, const PictureRect& rect,
                               const std::uint8_t* output, long outputPitch,
                               const std::uint8_t* original) const {
    const std::uint8_t* compared =
        original != nullptr ? original + RectOffset(rect, sourcePitch_, parts) : nullptr;
    converter_->FromBgra(output + RectOffset(rect, outputPitch, parts), -outputPitch, compared,
                         -sourcePitch_, rect, frame.data, frame.linesize);
}

void AreaCompositor::Store(AVFrame& frame, const AreaBuffers& buffers) {
    // A run that drew nothing leaves the frame as decoded.
    if (!buffers.loaded || buffers.inside == MaskInside::Untouched) {
        return;
    }
    const bool insideReplaced =
        separateOutput_ && !buffers.insideLoaded && buffers.inside == MaskInside::Replaced;
    const FrameArea& parts = buffers.parts;
    MakeWritable(frame, insideReplaced ? parts.skippedInside : PictureRect{});
    const auto* source = reinterpret_cast<const std::uint8_t*>(buffers.source.data());
    if (!separateOutput_) {
        // The filter worked in place: nothing to compare with, every pixel goes back.
        StoreRect(frame, parts, parts.area, source, sourcePitch_, nullptr);
        return;
    }
    const long outputPitch = OutputPitch(buffers);
    const auto* output = reinterpret_cast<const std::uint8_t*>(buffers.output.data());
    if (buffers.insideLoaded) {
        StoreRect(frame, parts, parts.area, output, outputPitch, source);
        return;
    }
    // The overlay replaced the inside: it goes back whole; the bands
    // around it only where they changed.
    for (int band = 0; band < parts.bandCount; ++band) {
        StoreRect(frame, parts, parts.bands[static_cast<std::size_t>(band)], output, outputPitch, source);
    }
    StoreRect(frame, parts, parts.skippedInside, output, outputPitch, nullptr);
}

void AreaCompositor::Composite(AVFrame& frame, long number) {
    Start();
    Load(frame, number, ownBuffers_);
    Run(frame, ownBuffers_, number);
    Store(frame, ownBuffers_);
}

void AreaCompositor::MakeWritable(AVFrame& frame, const PictureRect& replaced) {
    if (av_frame_is_writable(&frame) != 0) {
        return;
    }
    // A spare is taken under the lock and copied into outside it, so that
    // filter threads copy at once.
    Spare* spare = nullptr;
    {
        std::lock_guard<std::mutex> hold(spareLock_);
        for (Spare& candidate : spareFrames_) {
            if (!candidate.taken && av_frame_is_writable(candidate.frame.get()) != 0) {
                spare = &candidate;
                break;
            }
        }
        if (spare == nullptr) {
            FramePtr made = NewFrame();
            made->format = frame.format;
            made->width = frame.width;
            made->height = frame.height;
            if (av_frame_get_buffer(made.get(), 0) < 0) {
                throw RunnerError("out of memory");
            }
            spareFrames_.push_back(Spare{std::move(made), false});
            spare = &spareFrames_.back();
        }
        spare->taken = true;
    }
    // Copying properties adds side data and metadata to what the spare
    // carries: what it carried for an earlier frame goes first.
    AVFrame& target = *spare->frame;
    while (target.nb_side_data > 0) {
        av_frame_remove_side_data(&target, target.side_data[0]->type);
    }
    av_dict_free(&target.metadata);
    const bool copied =
        CopyAround(target, frame, replaced) && av_frame_copy_props(&target, &frame) >= 0;
    bool shared = false;
    if (copied) {
        av_frame_unref(&frame);
        // The frame shares the spare's buffers until the encoder lets go of
        // them; the spare is reused only after that.
        shared = av_frame_ref(&frame, spare->frame.get()) >= 0;
    }
    {
        std::lock_guard<std::mutex> hold(spareLock_);
        spare->taken = false;
    }
    if (!copied) {
        throw RunnerError("cannot copy a frame of the main video");
    }
    if (!shared) {
        throw RunnerError("out of memory");
    }
}
