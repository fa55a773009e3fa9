// Turns overlay frame records (packed bitmaps, 24 or 32 bits, either row
// order) as the overlay's display matrix asks, into a record of its own:
// the same depth, bottom-up rows padded to 4 bytes. Pixels are moved, not
// computed.
#pragma once

#include <cstdint>
#include <vector>

#include "apps/quillmere/media/orientation.h"

class OverlayTurner {
public:
    explicit OverlayTurner(const Orientation& turn) : turn_(turn) {}

    // The turned record, valid until the next call; null for a record it
    // cannot read.
    void* Turn(const void* record);

private:
    Orientation turn_;
    std::vector<std::uint8_t> output_;
};
