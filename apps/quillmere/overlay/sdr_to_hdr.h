// Standard-range pictures and colours carried into a high-dynamic-range
// main (PQ or HLG): as a display shows them, their white at the reference
// white graphics have in HDR, in the main's primaries. Without it an SDR
// white would be coded as the display's peak.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "host/win_types.h"

// Where SDR white lands in an HDR picture, in cd/m2: the reference white of
// HDR production, which is also HLG's 75% signal on a 1000 cd/m2 display.
constexpr double kSdrReferenceWhite = 203.0;

struct SdrToHdr {
    AVColorTransferCharacteristic sourceTransfer = AVCOL_TRC_BT709;
    AVColorPrimaries sourcePrimaries = AVCOL_PRI_BT709;
    AVColorTransferCharacteristic targetTransfer = AVCOL_TRC_SMPTE2084;
    AVColorPrimaries targetPrimaries = AVCOL_PRI_BT2020;
};

// Whether a transfer is one of the HDR ones this converts into.
bool IsHdrTransfer(AVColorTransferCharacteristic transfer);

// The conversion a picture of `source` transfer and primaries needs in a
// main of `target` ones: none when the main is not HDR or the picture is.
std::optional<SdrToHdr> SdrToHdrFor(AVColorTransferCharacteristic sourceTransfer,
                                    AVColorPrimaries sourcePrimaries,
                                    AVColorTransferCharacteristic targetTransfer,
                                    AVColorPrimaries targetPrimaries);

// Converts packed bitmap records (24 or 32 bits, either row order; alpha
// kept) into a record of its own of the same layout.
class SdrToHdrMapper {
public:
    explicit SdrToHdrMapper(const SdrToHdr& conversion);
    ~SdrToHdrMapper();
    SdrToHdrMapper(const SdrToHdrMapper&) = delete;
    SdrToHdrMapper& operator=(const SdrToHdrMapper&) = delete;

    // The converted record, valid until the next call; null for a record it
    // cannot read or a conversion that failed.
    void* Map(const void* record);
    // One colour (0x00BBGGRR), as the pictures' pixels are converted.
    COLORREF MapColor(COLORREF color);

private:
    struct Graph;
    bool Convert(int width, int height);

    SdrToHdr conversion_;
    std::unique_ptr<Graph> graph_;
    std::vector<std::uint8_t> output_;
};
