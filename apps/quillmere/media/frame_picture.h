// A whole frame in the filter's pixel layout, converted with the frame's
// own matrix and range: what a PNG of a frame shows, and what the tests
// compare.
#pragma once

#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/pipeline/picture.h"

Picture PictureOfFrame(const AVFrame& frame);
