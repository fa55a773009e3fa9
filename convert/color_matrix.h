#pragma once

extern "C" {
#include <libavutil/pixfmt.h>
}

// Luma weights of a YUV matrix; the green weight is 1 - kr - kb.
struct LumaWeights {
    double kr = 0;
    double kb = 0;
};

// The matrix of YUV samples tagged `tagged`: the tag itself, or for a
// stream that names none (unspecified, reserved, or RGB on YUV samples)
// what players assume: BT.709 from 720 lines up, BT.601 below.
AVColorSpace PlayersColorspace(AVColorSpace tagged, int frameHeight);

// True when the matrix of `colorspace` is known here (an unspecified one
// counts: it is chosen from the picture height).
bool KnownColorspace(AVColorSpace colorspace);

// The matrix a player uses for `colorspace`: unspecified ones are BT.709
// from 720 lines up and BT.601 below. Throws std::invalid_argument for a
// colorspace without luma weights here (YCgCo, RGB, ...).
LumaWeights ResolveLumaWeights(AVColorSpace colorspace, int frameHeight);
