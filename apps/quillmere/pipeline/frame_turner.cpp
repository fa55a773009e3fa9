#include "apps/quillmere/pipeline/frame_turner.h"

#include <algorithm>
#include <utility>

#include "apps/quillmere/media/chroma_siting.h"
#include "apps/quillmere/media/plane_turn.h"
#include "apps/quillmere/runner_error.h"
#include "convert/picture_converter.h"
#include "convert/pixel_layout.h"

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/imgutils.h>
#include <libavutil/macros.h>
#include <libavutil/pixdesc.h>
}

namespace {

constexpr int kMaxPlanes = 4;
// Rows of turned pictures start on this many bytes, as decoders lay them out.
constexpr int kRowAlignment = 64;

std::string NameOf(AVPixelFormat format) {
    const char* name = av_get_pix_fmt_name(format);
    return name != nullptr ? name : "an unknown pixel format";
}

// Samples laid out alike: the same components at the same depths in the
// same places, the same flags; only the chroma subsampling may differ.
bool SameSamples(const AVPixFmtDescriptor& a, const AVPixFmtDescriptor& b) {
    if (a.nb_components != b.nb_components || a.flags != b.flags) {
        return false;
    }
    for (int component = 0; component < a.nb_components; ++component) {
        const AVComponentDescriptor& first = a.comp[component];
        const AVComponentDescriptor& second = b.comp[component];
        if (first.plane != second.plane || first.step != second.step ||
            first.offset != second.offset || first.shift != second.shift ||
            first.depth != second.depth) {
            return false;
        }
    }
    return true;
}

// The carried format with the samples of `format` and chroma subsampled by
// 2^shiftX across and 2^shiftY down; none when there is no such format.
AVPixelFormat WithSubsampling(AVPixelFormat format, int shiftX, int shiftY) {
    const AVPixFmtDescriptor* wanted = av_pix_fmt_desc_get(format);
    for (const AVPixFmtDescriptor* candidate = av_pix_fmt_desc_next(nullptr); candidate != nullptr;
         candidate = av_pix_fmt_desc_next(candidate)) {
        const AVPixelFormat id = av_pix_fmt_desc_get_id(candidate);
        if (candidate->log2_chroma_w == shiftX && candidate->log2_chroma_h == shiftY &&
            SameSamples(*candidate, *wanted) && PlainFormat(id) == id &&
            PictureConverter::Handles(id)) {
            return id;
        }
    }
    return AV_PIX_FMT_NONE;
}

// Bytes of one element of each plane, and how many planes there are.
int ElementBytes(const AVPixFmtDescriptor& descriptor, int (&bytes)[kMaxPlanes]) {
    int planes = 0;
    for (int& entry : bytes) {
        entry = 0;
    }
    for (int component = 0; component < descriptor.nb_components; ++component) {
        const AVComponentDescriptor& part = descriptor.comp[component];
        bytes[part.plane] = std::max(bytes[part.plane], part.step);
        planes = std::max(planes, part.plane + 1);
    }
    return planes;
}

}  // namespace

FrameTurner::FrameTurner(const VideoFormat& stored, const Orientation& turn)
    : turn_(turn), upright_(stored), turnedLayout_(stored.pixelFormat) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(stored.pixelFormat);
    if (descriptor == nullptr) {
        throw RunnerError("cannot turn pictures of an unknown pixel format upright");
    }
    AVPixelFormat uprightLayout = stored.pixelFormat;
    if (turn.transpose && descriptor->log2_chroma_w != descriptor->log2_chroma_h) {
        uprightLayout = WithSubsampling(stored.pixelFormat, descriptor->log2_chroma_h,
                                        descriptor->log2_chroma_w);
        if (uprightLayout != AV_PIX_FMT_NONE) {
            notes_.push_back("the main video's " + NameOf(stored.pixelFormat) +
                             " pictures turned upright are " + NameOf(uprightLayout) +
                             ": the same samples, the chroma halved down instead of across");
        } else {
            turnedLayout_ = WithSubsampling(stored.pixelFormat, 0, 0);
            if (turnedLayout_ == AV_PIX_FMT_NONE) {
                throw RunnerError("cannot turn " + NameOf(stored.pixelFormat) +
                                  " pictures upright");
            }
            uprightLayout = turnedLayout_;
            widen_ = true;
            notes_.push_back("the main video's " + NameOf(stored.pixelFormat) +
                             " pictures have no layout that turns upright as it is; they are "
                             "converted to " + NameOf(turnedLayout_) + " to turn them");
        }
    }
    const AVPixFmtDescriptor* turned = av_pix_fmt_desc_get(turnedLayout_);
    upright_.pixelFormat = uprightLayout;
    upright_.width = turn.SeenWidth(stored.width, stored.height);
    upright_.height = turn.SeenHeight(stored.width, stored.height);
    if (turn.transpose && stored.sampleAspectRatio.num > 0 && stored.sampleAspectRatio.den > 0) {
        upright_.sampleAspectRatio = av_inv_q(stored.sampleAspectRatio);
    }
    // An untagged matrix is guessed from the picture's height; turned, the
    // guess could change, and the colours with it. The stored shape's guess
    // is stated instead.
    const bool yuv =
        (descriptor->flags & AV_PIX_FMT_FLAG_RGB) == 0 && descriptor->nb_components >= 3;
    const AVColorSpace storedMatrix = MatrixOf(stored.colorspace, stored.height);
    if (yuv && stored.colorspace == AVCOL_SPC_UNSPECIFIED &&
        MatrixOf(stored.colorspace, upright_.height) != storedMatrix) {
        upright_.colorspace = storedMatrix;
        notes_.push_back(std::string("the main video states no colour matrix; turned upright it "
                                     "is tagged ") +
                         av_color_space_name(storedMatrix) +
                         ", the one its stored shape implies, so that its colours stay");
    }
    const TurnedSiting siting =
        TurnedChromaLocation(stored.chromaLocation, IsFullRangeAlias(stored.pixelFormat),
                             turned->log2_chroma_w, turned->log2_chroma_h, stored.width,
                             stored.height, turn);
    upright_.chromaLocation = siting.location;
    if (!siting.exact) {
        notes_.push_back(std::string("turned upright, the main video's chroma samples sit "
                                     "where no chroma location tag can place them; they are "
                                     "kept as they are and tagged '") +
                         av_chroma_location_name(siting.location) + "', the nearest");
    }
}

void FrameTurner::TakeBuffer() {
    if (!pool_) {
        bufferBytes_ = av_image_get_buffer_size(upright_.pixelFormat, upright_.width,
                                                upright_.height, kRowAlignment);
        AVBufferPool* pool =
            bufferBytes_ > 0 ? av_buffer_pool_init(static_cast<std::size_t>(bufferBytes_), nullptr)
                             : nullptr;
        if (pool == nullptr) {
            throw RunnerError("out of memory");
        }
        pool_ = {pool, [](AVBufferPool* unused) { av_buffer_pool_uninit(&unused); }};
        turned_ = NewFrame();
    }
    AVFrame& frame = *turned_;
    av_frame_unref(&frame);  // what a failed turn left
    frame.buf[0] = av_buffer_pool_get(pool_.get());
    if (frame.buf[0] == nullptr) {
        throw RunnerError("out of memory");
    }
    frame.format = upright_.pixelFormat;
    frame.width = upright_.width;
    frame.height = upright_.height;
    if (av_image_fill_arrays(frame.data, frame.linesize, frame.buf[0]->data, upright_.pixelFormat,
                             upright_.width, upright_.height, kRowAlignment) < 0) {
        throw RunnerError("cannot lay out a turned picture");
    }
}

void FrameTurner::Turn(AVFrame& frame) {
    const AVFrame* stored = &frame;
    if (widen_) {
        if (!widened_) {
            widened_ = NewFrame();
        }
        widener_.Convert(frame, turnedLayout_, frame.width, frame.height, *widened_);
        stored = widened_.get();
    }
    TakeBuffer();
    AVFrame& turned = *turned_;
    if (av_frame_copy_props(&turned, &frame) < 0) {
        throw RunnerError("out of memory");
    }
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(turnedLayout_);
    int bytes[kMaxPlanes];
    const int planes = ElementBytes(*descriptor, bytes);
    for (int plane = 0; plane < planes; ++plane) {
        const bool chroma = plane == 1 || plane == 2;
        const int width = chroma ? AV_CEIL_RSHIFT(stored->width, descriptor->log2_chroma_w)
                                 : stored->width;
        const int height = chroma ? AV_CEIL_RSHIFT(stored->height, descriptor->log2_chroma_h)
                                  : stored->height;
        TurnPlane(stored->data[plane], stored->linesize[plane], width, height, bytes[plane], turn_,
                  turned.data[plane], turned.linesize[plane]);
    }
    turned.sample_aspect_ratio = upright_.sampleAspectRatio;
    turned.chroma_location = upright_.chromaLocation;
    turned.colorspace = upright_.colorspace;
    av_frame_remove_side_data(&turned, AV_FRAME_DATA_DISPLAYMATRIX);
    av_frame_unref(&frame);
    av_frame_move_ref(&frame, &turned);
}
