// Frame records handed out by overlay frame number, and the buffers they
// live in.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <vector>

#include "apps/quillmere/overlay/overlay_fetch_log.h"

// Buffers for frame records handed out as SharedRecord. One that nobody
// holds any more is used again, so that fetching frame after frame takes no
// fresh memory. One thread at a time.
class RecordPool {
public:
    std::shared_ptr<std::vector<std::uint8_t>> Take();

private:
    std::vector<std::shared_ptr<std::vector<std::uint8_t>>> buffers_;
};

// The size in bytes of a packed frame record (header, colour table or
// masks, rows padded to 4 bytes); 0 for one it cannot make sense of.
std::size_t RecordBytes(const void* record);

// Scaled overlay frames by frame number, so that none is scaled twice: the
// frame asked last (a still, or an overlay slower than the main, asks for
// it many times in a row), and, within a budget, every frame scaled so far
// for overlays whose frames come round again. Frames past the budget are
// not kept: in a cycle too long for it, the frames kept stay useful, where
// dropping the oldest would drop each frame just before it comes back.
class ScaledFrameCache {
public:
    explicit ScaledFrameCache(std::size_t budgetBytes = 0);
    // True when frame `frame` is known, with its record (null: it could not be had).
    bool Find(long frame, SharedRecord& record) const;
    void Add(long frame, SharedRecord record);

private:
    std::size_t budget_;
    std::size_t kept_ = 0;
    std::map<long, SharedRecord> frames_;
    long lastFrame_ = -1;
    SharedRecord last_;
};
