// What the FFmpeg backend learned about the video stream behind one of its
// stream handles: its frame times above all; and a reader's frames scaled as
// they are decoded. The module never asks; a host that adapts the overlay's
// timing or size does.
#pragma once

#include <memory>

#include "source/avi_library.h"
#include "source/ffmpeg_video_stream.h"

// Null for a null handle. `stream` must come from the FFmpeg backend.
std::shared_ptr<const VideoStreamInfo> FfmpegStreamInfo(AviStreamHandle stream);

// Asks `reader` (from the FFmpeg backend) for frames scaled to `width` x
// `height` with libswscale's filter `swsFlags` from now on (see
// FfmpegFrameReader::ScaleTo); false when it cannot.
bool FfmpegScaleFrames(FrameGetterHandle reader, int width, int height, int swsFlags);
