#include "source/ffmpeg_frame_reader.h"

#include "convert/color_matrix.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <atomic>
#include <cstring>
#include <utility>

namespace {

// Consecutive decoding errors after which a stream counts as undecodable
// from where it stands (each error drops one packet, so the count also
// bounds the work spent on a damaged stretch).
constexpr int kMaxConsecutiveErrors = 64;
// Earlier key frames tried when a seek lands past the wanted frame, before
// starting over from the beginning of the file.
constexpr int kSeekRetries = 2;
// Scaling only converts pixel formats (sizes match), so the filter hardly
// matters; accurate rounding keeps conversions exact where they can be.
constexpr int kScalerFlags = SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;

// The full-range ("J") YUV formats that JPEG decoders report are the plain
// formats with full range; naming them so keeps the scaler from warning.
AVPixelFormat FullRangeAlias(AVPixelFormat format, bool* fullRange) {
    struct Alias {
        AVPixelFormat jpeg;
        AVPixelFormat plain;
    };
    static const Alias kAliases[] = {
        {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV420P}, {AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUV422P},
        {AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_YUV444P}, {AV_PIX_FMT_YUVJ440P, AV_PIX_FMT_YUV440P},
        {AV_PIX_FMT_YUVJ411P, AV_PIX_FMT_YUV411P},
    };
    for (const Alias& alias : kAliases) {
        if (alias.jpeg == format) {
            *fullRange = true;
            return alias.plain;
        }
    }
    *fullRange = false;
    return format;
}

std::atomic<long> g_decodedPictures{0};
std::atomic<long> g_undecodableFrames{0};


}  // namespace

long FfmpegFrameReader::DecodedPictureCount() { return g_decodedPictures.load(); }

long FfmpegFrameReader::UndecodableFrameCount() { return g_undecodableFrames.load(); }

void* FfmpegFrameReader::HandOut() {
    if (handedOut_ == nullptr) {
        ++g_undecodableFrames;
        return nullptr;
    }
    return handedOut_->bytes.data();
}

std::unique_ptr<FfmpegFrameReader> FfmpegFrameReader::Open(
    std::shared_ptr<const VideoStreamInfo> info) {
    if (info == nullptr || !info->sizeAcceptable) {
        return nullptr;
    }
    std::unique_ptr<FfmpegFrameReader> reader(new FfmpegFrameReader(std::move(info)));
    if (!reader->OpenInput() || !reader->OpenDecoder()) {
        return nullptr;
    }
    return reader;
}

FfmpegFrameReader::FfmpegFrameReader(std::shared_ptr<const VideoStreamInfo> info)
    : info_(std::move(info)), recordFormat_(info_->format) {
    recordPixelFormat_ = recordFormat_.biBitCount == 32 ? AV_PIX_FMT_BGRA : AV_PIX_FMT_BGR24;
    SizeRecords();
}

void FfmpegFrameReader::SizeRecords() {
    rowBytes_ = static_cast<long>(FrameRowBytes(recordFormat_.biWidth, recordFormat_.biBitCount));
    recordBytes_ = sizeof(BITMAPINFOHEADER) + static_cast<std::size_t>(rowBytes_) *
                                                  static_cast<std::size_t>(recordFormat_.biHeight);
}

namespace {

bool SubsampledChroma(AVPixelFormat format) {
    const AVPixFmtDescriptor* layout = av_pix_fmt_desc_get(format);
    return layout != nullptr && (layout->flags & AV_PIX_FMT_FLAG_RGB) == 0 &&
           (layout->log2_chroma_w > 0 || layout->log2_chroma_h > 0);
}

}  // namespace

bool FfmpegFrameReader::ScaleTo(int width, int height, int swsFlags) {
    if (width <= 0 || height <= 0 || !PictureSizeAllowed(width, height) ||
        !SubsampledChroma(static_cast<AVPixelFormat>(info_->codec->format))) {
        return false;
    }
    // Records of the old size go; none is handed out any more.
    DecodedFrameCache& cache = DecodedFrameCache::Instance();
    cache.Unpin(handedOut_);
    handedOut_ = nullptr;
    cache.Forget(this);
    recordFormat_.biWidth = width;
    recordFormat_.biHeight = height;
    SizeRecords();
    recordFormat_.biSizeImage = static_cast<DWORD>(recordBytes_ - sizeof(BITMAPINFOHEADER));
    scaleFlags_ = swsFlags;
    sws_freeContext(scaler_);
    scaler_ = nullptr;
    converter_.reset();
    converterInput_ = ScalerInput();
    converterUnusable_ = false;
    return true;
}

FfmpegFrameReader::~FfmpegFrameReader() {
    DecodedFrameCache& cache = DecodedFrameCache::Instance();
    cache.Unpin(handedOut_);
    cache.Forget(this);
    sws_freeContext(scaler_);
    sws_freeContext(pictureScaler_);
    av_frame_free(&scaledPicture_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&decoder_);
}

bool FfmpegFrameReader::OpenInput() {
    input_ = OpenMediaFile(info_->path, false);
    if (input_ != nullptr && static_cast<unsigned>(info_->streamIndex) >= input_->nb_streams) {
        // Streams that show only once packets are read.
        if (avformat_find_stream_info(input_.get(), nullptr) < 0) {
            input_.reset();
        }
    }
    if (input_ == nullptr || static_cast<unsigned>(info_->streamIndex) >= input_->nb_streams) {
        input_.reset();
        return false;
    }
    for (unsigned i = 0; i < input_->nb_streams; ++i) {
        input_->streams[i]->discard =
            static_cast<int>(i) == info_->streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    nextNumber_ = 0;
    draining_ = false;
    return true;
}

bool FfmpegFrameReader::OpenDecoder() {
    const AVCodec* codec = avcodec_find_decoder(info_->codec->codec_id);
    if (codec == nullptr) {
        return false;
    }
    decoder_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (decoder_ == nullptr || packet_ == nullptr || frame_ == nullptr ||
        avcodec_parameters_to_context(decoder_, info_->codec.get()) < 0) {
        return false;
    }
    decoder_->pkt_timebase = input_->streams[info_->streamIndex]->time_base;
    decoder_->thread_count = 0;  // as many as the machine has
    return avcodec_open2(decoder_, codec, nullptr) == 0;
}

bool FfmpegFrameReader::SeekTo(long keyIndex) {
    avcodec_flush_buffers(decoder_);
    draining_ = false;
    if (pendingPacket_) {
        av_packet_unref(packet_);
        pendingPacket_ = false;
    }
    if (keyIndex >= 0) {
        const KeyFrame& key = info_->keyFrames[static_cast<std::size_t>(keyIndex)];
        // Asked for the key frame's own time, a demuxer lands on it. (Asked
        // to go backward from it, the MP4 demuxer goes back to the start.)
        if (av_seek_frame(input_.get(), info_->streamIndex, key.seekTime, 0) < 0) {
            nextNumber_ = -1;
            return false;
        }
        nextNumber_ = key.frame;
        if (!ReadPacket()) {
            nextNumber_ = -1;
            return false;
        }
        pendingPacket_ = true;
        return PacketFingerprint(*packet_) == key.fingerprint;
    }
    // The start of the file is always reachable by opening it again.
    if (!OpenInput()) {
        nextNumber_ = -1;
        return false;
    }
    return true;
}

bool FfmpegFrameReader::ReadPacket() {
    while (av_read_frame(input_.get(), packet_) >= 0) {
        if (packet_->stream_index == info_->streamIndex &&
            (packet_->flags & AV_PKT_FLAG_DISCARD) == 0) {
            return true;
        }
        av_packet_unref(packet_);
    }
    return false;
}

bool FfmpegFrameReader::DecodeNext(long* number) {
    if (input_ == nullptr) {
        return false;
    }
    int errors = 0;
    for (;;) {
        const int received = avcodec_receive_frame(decoder_, frame_);
        if (received == 0) {
            g_decodedPictures.fetch_add(1, std::memory_order_relaxed);
            const std::int64_t time = frame_->best_effort_timestamp;
            // Timed frames are numbered by their time; untimed ones are
            // counted on from the last key frame sought.
            const bool counted = info_->numberedByDecodeOrder || time == AV_NOPTS_VALUE;
            *number = counted ? nextNumber_ : info_->FrameAt(time);
            return *number >= 0;
        }
        if (received == AVERROR_EOF) {
            return false;
        }
        if (received != AVERROR(EAGAIN)) {
            if (++errors > kMaxConsecutiveErrors) {
                return false;
            }
            continue;
        }
        if (draining_) {
            return false;
        }
        // The decoder wants input: the next packet of the stream, or the
        // signal to give out what it still holds.
        if (!pendingPacket_ && !ReadPacket()) {
            avcodec_send_packet(decoder_, nullptr);
            draining_ = true;
            continue;
        }
        pendingPacket_ = false;
        const int sent = avcodec_send_packet(decoder_, packet_);
        av_packet_unref(packet_);
        if (sent < 0 && sent != AVERROR(EAGAIN) && ++errors > kMaxConsecutiveErrors) {
            return false;
        }
    }
}

bool FfmpegFrameReader::PrepareScaler() {
    ScalerInput input;
    input.width = frame_->width;
    input.height = frame_->height;
    input.format = FullRangeAlias(static_cast<AVPixelFormat>(frame_->format), &input.fullRange);
    input.fullRange = input.fullRange || frame_->color_range == AVCOL_RANGE_JPEG;
    input.colorspace = frame_->colorspace;
    if (scaler_ != nullptr && input == scalerInput_) {
        return true;
    }
    sws_freeContext(scaler_);
    const BITMAPINFOHEADER& format = recordFormat_;
    const int flags = scaleFlags_ != 0 ? scaleFlags_ | (kScalerFlags & ~SWS_BILINEAR)
                                       : kScalerFlags;
    scaler_ = sws_getContext(input.width, input.height, static_cast<AVPixelFormat>(input.format),
                             format.biWidth, format.biHeight, recordPixelFormat_, flags,
                             nullptr, nullptr, nullptr);
    if (scaler_ == nullptr) {
        return false;
    }
    // The source's own matrix and range (the scaler's numbering of matrices
    // is FFmpeg's; an untagged source gets what players assume); RGB out is
    // always full range.
    const int* coefficients =
        sws_getCoefficients(PlayersColorspace(static_cast<AVColorSpace>(input.colorspace),
                                            input.height));
    sws_setColorspaceDetails(scaler_, coefficients, input.fullRange ? 1 : 0,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    scalerInput_ = input;
    return true;
}

const PictureConverter* FfmpegFrameReader::PrepareConverter() {
    if (recordFormat_.biBitCount != 32) {
        return nullptr;
    }
    ScalerInput input;
    input.width = frame_->width;
    input.height = frame_->height;
    input.format = frame_->format;
    input.fullRange = frame_->color_range == AVCOL_RANGE_JPEG;
    input.colorspace = frame_->colorspace;
    input.chromaLocation = frame_->chroma_location;
    if (input == converterInput_ && (converter_ != nullptr || converterUnusable_)) {
        return converter_.get();
    }
    converter_.reset();
    converterInput_ = input;
    const AVPixelFormat format = static_cast<AVPixelFormat>(frame_->format);
    // Scaled pictures are converted at the records' size, keeping the matrix
    // their source's size implies.
    const bool sizesMatch =
        scaleFlags_ != 0 ||
        (input.width == recordFormat_.biWidth && input.height == recordFormat_.biHeight);
    const AVColorSpace colorspace = PlayersColorspace(frame_->colorspace, input.height);
    converterUnusable_ = !sizesMatch || !PictureConverter::Handles(format) ||
                         !PictureConverter::HandlesColorspace(colorspace);
    if (!converterUnusable_) {
        converter_ = std::make_unique<PictureConverter>(
            format, scaleFlags_ != 0 ? colorspace : frame_->colorspace, frame_->color_range,
            frame_->chroma_location, recordFormat_.biWidth, recordFormat_.biHeight);
    }
    return converter_.get();
}

const AVFrame* FfmpegFrameReader::ScaledPicture() {
    ScalerInput input;
    input.width = frame_->width;
    input.height = frame_->height;
    // The full-range formats' plain twins: scaling only resamples samples.
    input.format = FullRangeAlias(static_cast<AVPixelFormat>(frame_->format), &input.fullRange);
    if (pictureScaler_ == nullptr || !(input == pictureScalerInput_)) {
        sws_freeContext(pictureScaler_);
        const auto format = static_cast<AVPixelFormat>(input.format);
        pictureScaler_ = sws_getContext(input.width, input.height, format, recordFormat_.biWidth,
                                        recordFormat_.biHeight, format,
                                        scaleFlags_ | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
        if (scaledPicture_ == nullptr) {
            scaledPicture_ = av_frame_alloc();
        }
        av_frame_unref(scaledPicture_);
        pictureScalerInput_ = input;
        if (pictureScaler_ == nullptr || scaledPicture_ == nullptr) {
            return nullptr;
        }
        scaledPicture_->format = format;
        scaledPicture_->width = recordFormat_.biWidth;
        scaledPicture_->height = recordFormat_.biHeight;
        if (av_frame_get_buffer(scaledPicture_, 0) < 0) {
            sws_freeContext(pictureScaler_);
            pictureScaler_ = nullptr;
            return nullptr;
        }
    }
    if (pictureScaler_ == nullptr) {
        return nullptr;
    }
    sws_scale(pictureScaler_, frame_->data, frame_->linesize, 0, frame_->height,
              scaledPicture_->data, scaledPicture_->linesize);
    return scaledPicture_;
}

DecodedFrameCache::Entry* FfmpegFrameReader::Store(long number) {
    bool fresh = false;
    DecodedFrameCache::Entry* entry =
        DecodedFrameCache::Instance().Insert(this, number, recordBytes_, &fresh);
    if (!fresh) {
        return entry;
    }
    const BITMAPINFOHEADER& format = recordFormat_;
    std::uint8_t* record = entry->bytes.data();
    std::memcpy(record, &format, sizeof format);

    std::uint8_t* bits = record + sizeof format;
    const PictureConverter* converter = PrepareConverter();
    const AVFrame* picture = converter == nullptr ? nullptr
                             : scaleFlags_ != 0   ? ScaledPicture()
                                                  : frame_;
    if (picture != nullptr) {
        // Bottom-up rows: the top row is the last one stored.
        converter->ToBgra(picture->data, picture->linesize,
                          PictureRect{0, 0, format.biWidth, format.biHeight},
                          bits + static_cast<std::size_t>(rowBytes_) *
                                     static_cast<std::size_t>(format.biHeight - 1),
                          -rowBytes_);
        return entry;
    }
    if (!PrepareScaler()) {
        // A picture that cannot be converted counts as one that cannot be decoded.
        DecodedFrameCache::Instance().Drop(entry);
        return nullptr;
    }
    // Bottom-up rows: start at the last stored row and step backward.
    std::uint8_t* planes[4] = {bits + static_cast<std::size_t>(rowBytes_) *
                                          static_cast<std::size_t>(format.biHeight - 1),
                               nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(-rowBytes_), 0, 0, 0};
    sws_scale(scaler_, frame_->data, frame_->linesize, 0, frame_->height, planes, strides);
    // The padding at each row's end is part of the record; keep it defined.
    const long pixelBytes = format.biWidth * (format.biBitCount / 8);
    if (pixelBytes < rowBytes_) {
        for (long row = 0; row < format.biHeight; ++row) {
            std::memset(bits + row * rowBytes_ + pixelBytes, 0,
                        static_cast<std::size_t>(rowBytes_ - pixelBytes));
        }
    }
    return entry;
}

FfmpegFrameReader::Outcome FfmpegFrameReader::DecodeUntil(long number, long keepFrom,
                                                         bool afterSeek) {
    DecodedFrameCache& cache = DecodedFrameCache::Instance();
    bool first = afterSeek;
    long decoded = 0;
    while (DecodeNext(&decoded)) {
        if (first && decoded > number) {
            nextNumber_ = decoded + 1;
            return Outcome::Overshot;
        }
        first = false;
        nextNumber_ = decoded + 1;
        if (decoded == number) {
            handedOut_ = Store(decoded);
            return Outcome::Found;
        }
        if (decoded > number) {
            // The wanted frame never came out: it cannot be decoded. The one
            // that did is most likely asked for next.
            cache.Unpin(Store(decoded));
            return Outcome::Missing;
        }
        if (decoded >= keepFrom) {
            cache.Unpin(Store(decoded));
        }
    }
    nextNumber_ = -1;
    return Outcome::Missing;
}

void FfmpegFrameReader::ReleaseHandedOut(long nextRequest) {
    if (handedOut_ == nullptr) {
        return;
    }
    DecodedFrameCache& cache = DecodedFrameCache::Instance();
    // Playing forward frame by frame, the frame behind is not asked for
    // again until play starts over, which decodes it again as cheaply;
    // keeping every frame would only fill memory. The first frame stays:
    // every repeat starts over from it. Jumps keep what they leave behind.
    if (nextRequest == lastRequest_ + 1 && lastRequest_ > 0 &&
        handedOut_->frame == lastRequest_) {
        cache.Retire(handedOut_);
    } else {
        cache.Unpin(handedOut_);
    }
    handedOut_ = nullptr;
}

void* FfmpegFrameReader::Fetch(long number) {
    DecodedFrameCache& cache = DecodedFrameCache::Instance();
    ReleaseHandedOut(number);
    if (number < 0 || number >= info_->length()) {
        return nullptr;
    }
    if ((handedOut_ = cache.FindAndPin(this, number)) != nullptr) {
        lastRequest_ = number;
        return handedOut_->bytes.data();
    }

    // The first request may well be the start of a backward run (reversed
    // overlays begin at the last frame).
    const bool backward = lastRequest_ < 0 || number < lastRequest_;
    lastRequest_ = number;
    long key = info_->KeyFrameBefore(number);
    const long keyFrame = key >= 0 ? info_->keyFrames[static_cast<std::size_t>(key)].frame : 0;
    // Stepping backward keeps the frames from the key frame on: they are the
    // ones asked for next.
    const long keepFrom = backward ? keyFrame : number;

    const bool mustSeek = nextNumber_ < 0 || number < nextNumber_ || keyFrame > nextNumber_;
    if (!mustSeek && DecodeUntil(number, keepFrom, false) != Outcome::Overshot) {
        return HandOut();
    }
    for (int attempt = 0;; ++attempt) {
        // A seek that missed its key frame, or landed past the wanted frame
        // (pictures that need an earlier key frame), goes further back, in
        // the end to the start of the file.
        const bool landed = SeekTo(key);
        if (landed || key < 0) {
            const Outcome outcome = DecodeUntil(number, keepFrom, true);
            if (outcome != Outcome::Overshot || key < 0) {
                return HandOut();
            }
        }
        key = attempt < kSeekRetries ? key - 1 : -1;
    }
}
