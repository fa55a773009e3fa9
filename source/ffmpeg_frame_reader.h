// The FFmpeg backend's decompressing frame reader: frames by number as packed
// device-independent bitmaps (header, then bottom-up rows padded to 4 bytes).
//
// Sequential requests decode forward. A request behind the decoder, or past
// the next key frame, seeks to the key frame before it. A step backward also
// keeps every frame decoded on the way from that key frame in the shared
// frame cache, so playing a stream backward decodes each group of pictures
// about once, as playing it forward does.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "convert/picture_converter.h"
#include "source/decoded_frame_cache.h"
#include "source/ffmpeg_video_stream.h"

class FfmpegFrameReader {
public:
    // Null when the stream cannot be decoded or its frames are too large.
    static std::unique_ptr<FfmpegFrameReader> Open(std::shared_ptr<const VideoStreamInfo> info);
    ~FfmpegFrameReader();
    FfmpegFrameReader(const FfmpegFrameReader&) = delete;
    FfmpegFrameReader& operator=(const FfmpegFrameReader&) = delete;

    // The record of frame `number`, valid until the next Fetch; null outside
    // the stream or when that frame cannot be decoded.
    void* Fetch(long number);

    // From now on hands out frames scaled to `width` x `height` with
    // libswscale's filter `swsFlags` (SWS_LANCZOS, ...). Pictures the exact
    // converter takes are scaled in their own pixel format and converted at
    // the new size; others are scaled by libswscale as it converts them.
    // False, changing nothing, for a size beyond the picture limits, and for
    // a stream whose chroma is not subsampled: scaling it before conversion
    // gains nothing, and libswscale scales packed RGB far more slowly than
    // the caller's 32-bit records.
    bool ScaleTo(int width, int height, int swsFlags);

    // Pictures decoded by all readers so far: what playing in some order
    // costs, counted rather than timed.
    static long DecodedPictureCount();
    // Requests for a frame within the stream that could not be decoded, by
    // all readers so far: the runner reports them after a run.
    static long UndecodableFrameCount();

private:
    explicit FfmpegFrameReader(std::shared_ptr<const VideoStreamInfo> info);
    bool OpenInput();
    bool OpenDecoder();
    // The record handed out for a frame within the stream, counting a failure.
    void* HandOut();

    enum class Outcome { Found, Missing, Overshot };
    // Seeks to key frame `keyIndex` (-1: back to the very start); false when
    // the demuxer did not land on that key frame's packet.
    bool SeekTo(long keyIndex);
    // Reads the next packet of the stream into packet_; false at the end.
    bool ReadPacket();
    // Decodes on until frame `number`, keeping frames from `keepFrom` on in
    // the cache. `afterSeek` reports a first frame already past `number`.
    Outcome DecodeUntil(long number, long keepFrom, bool afterSeek);
    // Next decoded frame into frame_ and its number; false at the end.
    bool DecodeNext(long* number);
    // Converts frame_ into a pinned cache entry for frame `number`; null
    // when it cannot be converted.
    DecodedFrameCache::Entry* Store(long number);

    std::shared_ptr<const VideoStreamInfo> info_;
    FormatContext input_;
    AVCodecContext* decoder_ = nullptr;
    SwsContext* scaler_ = nullptr;
    // What scaler_ was made for: source size, pixel format, range and matrix.
    struct ScalerInput {
        int width = 0;
        int height = 0;
        int format = AV_PIX_FMT_NONE;
        bool fullRange = false;
        int colorspace = AVCOL_SPC_UNSPECIFIED;
        int chromaLocation = AVCHROMA_LOC_UNSPECIFIED;
        bool operator==(const ScalerInput& other) const {
            return width == other.width && height == other.height && format == other.format &&
                   fullRange == other.fullRange && colorspace == other.colorspace &&
                   chromaLocation == other.chromaLocation;
        }
    } scalerInput_;
    // A converter for frame_ into the record's format; false when none can be made.
    bool PrepareScaler();
    // The exact converter for frame_, when it handles the frame's format and
    // the records are 32-bit; null otherwise (swscale converts instead).
    const PictureConverter* PrepareConverter();
    // frame_ scaled to the record's size in its own pixel format; null
    // when libswscale cannot scale it.
    const AVFrame* ScaledPicture();
    void SizeRecords();
    std::unique_ptr<PictureConverter> converter_;
    ScalerInput converterInput_;
    bool converterUnusable_ = false;
    // Hands back the record handed out last: kept in the cache when play may
    // come back to it, dropped when playing on forward.
    void ReleaseHandedOut(long nextRequest);
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPixelFormat recordPixelFormat_ = AV_PIX_FMT_BGR24;
    // The records' header: the stream's format, or the size asked by ScaleTo.
    BITMAPINFOHEADER recordFormat_{};
    int scaleFlags_ = 0;  // libswscale's filter for ScaleTo; 0: no scaling
    SwsContext* pictureScaler_ = nullptr;
    ScalerInput pictureScalerInput_;
    AVFrame* scaledPicture_ = nullptr;
    long rowBytes_ = 0;
    std::size_t recordBytes_ = 0;
    // Number of the frame the decoder delivers next; -1 when only a seek can
    // tell (at the end of the stream or after a failure).
    long nextNumber_ = -1;
    bool draining_ = false;
    // packet_ holds the packet a seek read to check where it landed.
    bool pendingPacket_ = false;
    long lastRequest_ = -1;
    DecodedFrameCache::Entry* handedOut_ = nullptr;
};
