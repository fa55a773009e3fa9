#include "apps/quillmere/overlay/overlay_fetch_log.h"

#include <stdexcept>
#include <string>

namespace {

thread_local OverlayFetchLog* t_recording = nullptr;
thread_local const OverlayFetchLog* t_replaying = nullptr;

}  // namespace

void OverlayFetchLog::Add(FrameGetterHandle reader, long position, SharedRecord record) {
    entries_.push_back(Entry{reader, position, std::move(record)});
}

void* OverlayFetchLog::Find(FrameGetterHandle reader, long position) const {
    for (const Entry& entry : entries_) {
        if (entry.reader == reader && entry.position == position) {
            // The filter reads records through a mutable pointer but never
            // writes them.
            return entry.record ? const_cast<std::uint8_t*>(entry.record->data()) : nullptr;
        }
    }
    throw std::logic_error("the filter fetched overlay frame " + std::to_string(position) +
                           ", which its rehearsal did not");
}

RecordingOverlayFetches::RecordingOverlayFetches(OverlayFetchLog& log) {
    log.Clear();
    t_recording = &log;
}

RecordingOverlayFetches::~RecordingOverlayFetches() { t_recording = nullptr; }

ReplayingOverlayFetches::ReplayingOverlayFetches(const OverlayFetchLog& log) {
    t_replaying = &log;
}

ReplayingOverlayFetches::~ReplayingOverlayFetches() { t_replaying = nullptr; }

OverlayFetchLog* RecordingLog() { return t_recording; }

const OverlayFetchLog* ReplayingLog() { return t_replaying; }
