// Overlay frames fetched for one output frame, held so that the filter can
// run that frame on another thread and see exactly those frames.
//
// Frames filtered on several threads share one overlay reader, and a reader
// decodes well only in order, handing out a record that lasts until its next
// fetch. So a frame's fetches are made in frame order on one thread at a
// time, while a RecordingOverlayFetches is alive there; the adapted overlay
// library (overlay_library.h) keeps each record it hands out in the log.
// Where the frame is then filtered, a ReplayingOverlayFetches answers the
// filter's fetches from the log alone.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "source/avi_library.h"

// A frame record (header and bits) that stays as it is while anyone holds it.
using SharedRecord = std::shared_ptr<const std::vector<std::uint8_t>>;

class OverlayFetchLog {
public:
    void Clear() { entries_.clear(); }
    // Logs what a fetch of `position` from `reader` gave (null: no frame).
    void Add(FrameGetterHandle reader, long position, SharedRecord record);
    // The record logged for that fetch, or null for a fetch that gave none.
    // Throws std::logic_error for a fetch that was never logged.
    void* Find(FrameGetterHandle reader, long position) const;

private:
    struct Entry {
        FrameGetterHandle reader;
        long position;
        SharedRecord record;
    };
    std::vector<Entry> entries_;
};

// While alive, the calling thread's fetches through the adapted library are
// made as usual and logged into `log`, cleared first.
class RecordingOverlayFetches {
public:
    explicit RecordingOverlayFetches(OverlayFetchLog& log);
    ~RecordingOverlayFetches();
    RecordingOverlayFetches(const RecordingOverlayFetches&) = delete;
    RecordingOverlayFetches& operator=(const RecordingOverlayFetches&) = delete;
};

// While alive, the calling thread's fetches are answered from `log`.
class ReplayingOverlayFetches {
public:
    explicit ReplayingOverlayFetches(const OverlayFetchLog& log);
    ~ReplayingOverlayFetches();
    ReplayingOverlayFetches(const ReplayingOverlayFetches&) = delete;
    ReplayingOverlayFetches& operator=(const ReplayingOverlayFetches&) = delete;
};

// For the adapted library: the calling thread's log, if it is recording or
// replaying (null otherwise).
OverlayFetchLog* RecordingLog();
const OverlayFetchLog* ReplayingLog();
