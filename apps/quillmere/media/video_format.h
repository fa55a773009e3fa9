// What the main video's pictures are, as the pipeline carries them from the
// decoder to the encoder unchanged: size, pixel format, colour description,
// aspect and timing.
#pragma once

#include <cstdint>

#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/media/light_metadata.h"

struct VideoFormat {
    int width = 0;
    int height = 0;
    AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;
    AVColorSpace colorspace = AVCOL_SPC_UNSPECIFIED;
    AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
    AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
    AVChromaLocation chromaLocation = AVCHROMA_LOC_UNSPECIFIED;
    AVRational sampleAspectRatio{0, 1};
    // Timestamps of the frames count in `timeBase`; `startTime` is the first
    // frame's (frame numbers count from it; the output keeps the times).
    AVRational timeBase{1, 25};
    AVRational frameRate{25, 1};
    std::int64_t startTime = 0;
    // The container states no constant rate: frames keep their own times.
    bool variableRate = false;
    // HDR10's static metadata and Dolby Vision, as the main states them.
    LightMetadata light;
};

// The picture part of `format` taken from a decoded frame.
void TakePictureFormat(const AVFrame& frame, VideoFormat& format);
// True when `frame` has the size and pixel format of `format`.
bool MatchesPicture(const AVFrame& frame, const VideoFormat& format);
