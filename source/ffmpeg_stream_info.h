// What the FFmpeg backend learned about the video stream behind one of its
// stream handles: its frame times above all. The module never asks; a host
// that adapts the overlay's timing does.
#pragma once

#include <memory>

#include "source/avi_library.h"
#include "source/ffmpeg_video_stream.h"

// Null for a null handle. `stream` must come from the FFmpeg backend.
std::shared_ptr<const VideoStreamInfo> FfmpegStreamInfo(AviStreamHandle stream);
