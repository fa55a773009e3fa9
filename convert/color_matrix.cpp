#include "convert/color_matrix.h"

#include <stdexcept>
#include <string>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

// Pictures this tall and taller are HD: untagged ones use BT.709.
constexpr int kHighDefinitionLines = 720;

struct MatrixEntry {
    AVColorSpace colorspace;
    LumaWeights weights;
};

const LumaWeights kBt601 = {0.299, 0.114};
const LumaWeights kBt709 = {0.2126, 0.0722};
const LumaWeights kBt2020 = {0.2627, 0.0593};
const LumaWeights kSmpte240m = {0.212, 0.087};

// FCC's own weights differ from BT.601 by less than a code value in
// practice; decoders treat it as BT.601, so we do too. The constant-luminance
// BT.2020 variant is approximated by the non-constant one.
const MatrixEntry kMatrices[] = {
    {AVCOL_SPC_BT470BG, kBt601},     {AVCOL_SPC_SMPTE170M, kBt601},
    {AVCOL_SPC_FCC, kBt601},         {AVCOL_SPC_BT709, kBt709},
    {AVCOL_SPC_BT2020_NCL, kBt2020}, {AVCOL_SPC_BT2020_CL, kBt2020},
    {AVCOL_SPC_SMPTE240M, kSmpte240m},
};

const MatrixEntry* FindMatrix(AVColorSpace colorspace) {
    for (const MatrixEntry& entry : kMatrices) {
        if (entry.colorspace == colorspace) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace

AVColorSpace PlayersColorspace(AVColorSpace tagged, int frameHeight) {
    if (tagged != AVCOL_SPC_UNSPECIFIED && tagged != AVCOL_SPC_RESERVED &&
        tagged != AVCOL_SPC_RGB) {
        return tagged;
    }
    return frameHeight >= kHighDefinitionLines ? AVCOL_SPC_BT709 : AVCOL_SPC_BT470BG;
}

bool KnownColorspace(AVColorSpace colorspace) {
    return colorspace == AVCOL_SPC_UNSPECIFIED || FindMatrix(colorspace) != nullptr;
}

LumaWeights ResolveLumaWeights(AVColorSpace colorspace, int frameHeight) {
    if (colorspace == AVCOL_SPC_UNSPECIFIED) {
        colorspace = PlayersColorspace(colorspace, frameHeight);
    }
    const MatrixEntry* entry = FindMatrix(colorspace);
    if (entry == nullptr) {
        const char* name = av_color_space_name(colorspace);
        throw std::invalid_argument(std::string("unsupported YUV matrix: ") +
                                    (name != nullptr ? name : std::to_string(colorspace)));
    }
    return entry->weights;
}
