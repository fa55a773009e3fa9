// A whole frame in the filter's pixel layout, converted with the frame's
// own matrix and range: what a PNG of a frame shows, and what the tests
// compare.
#pragma once

#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/base/picture.h"
#include "convert/picture_rect.h"

Picture PictureOfFrame(const AVFrame& frame);

// Brings `picture`, the PictureOfFrame of `frame` as it was before `changed`
// (a rectangle of it) was written over, up to date: the pixels that the
// change can reach are converted again, and the result equals
// PictureOfFrame(frame). Formats that PictureOfFrame converts otherwise
// are converted whole.
void UpdatePictureOfFrame(const AVFrame& frame, PictureRect changed, Picture& picture);
