// The main video's frames for the page, reached by number. Frames near the
// one last shown come from a cache of bounded size; a worker thread decodes
// on from the frame last shown into that cache while the page waits for
// nothing, so that the next frames (a slider dragged on, playback) are
// there when asked for. A frame not in the cache is decoded on from where
// the worker stands when it lies a little ahead, else reached by a jump to
// the key frame before it and decoding on from there, as the frame command
// reaches its frame.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/pipeline/frame_stream.h"

// How far ahead decoding on beats a jump, and how far past its key frame a
// frame lies before the key frame is shown first: two seconds of video.
constexpr double kDecodeAheadSeconds = 2.0;

// The most the decoded frames kept for the page may take: 96 MiB, 30
// frames of a 1080p 4:2:0 main (11 as the filter's 32-bit pixels, with
// --rgb-output). What the edit process takes in all for a 1080p main stays
// under 300 MB with it (see the README's edit section).
constexpr std::size_t kPreviewCacheBytes = std::size_t{96} << 20;

// The bytes a frame's buffers hold.
std::size_t FrameBytes(const AVFrame& frame);

// Decoded frames by number, within a bound on the bytes they hold; the
// frame kept first goes first to make room. Not thread-safe by itself.
class FrameCache {
public:
    explicit FrameCache(std::size_t boundBytes) : bound_(boundBytes) {}

    // Keeps a reference to `frame` as frame `number` (replacing one kept
    // under that number), first letting go of the oldest frames until it
    // fits. A frame larger than the bound is not kept.
    void Put(long number, const AVFrame& frame);
    // A new reference to frame `number`, or null when it is not kept.
    FramePtr Get(long number) const;
    bool Has(long number) const;
    void Clear();

    std::size_t bytes() const { return bytes_; }
    std::size_t bound() const { return bound_; }
    // The numbers kept, the oldest first.
    std::deque<long> numbers() const;
    // How many frames of `frameBytes` each fit.
    std::size_t Capacity(std::size_t frameBytes) const {
        return frameBytes == 0 ? 0 : bound_ / frameBytes;
    }

private:
    struct Entry {
        long number;
        FramePtr frame;
        std::size_t bytes;
    };
    std::deque<Entry> entries_;
    std::size_t bytes_ = 0;
    std::size_t bound_;
};

class PreviewFrames {
public:
    explicit PreviewFrames(std::unique_ptr<FrameSource> source,
                           std::size_t cacheBytes = kPreviewCacheBytes);
    ~PreviewFrames();
    PreviewFrames(const PreviewFrames&) = delete;
    PreviewFrames& operator=(const PreviewFrames&) = delete;

    struct Found {
        FramePtr frame;  // a reference of the caller's own
        long number = 0;
        bool exact = true;  // false: the key frame before the one asked for
        // True: the frame had to be decoded, not found in memory, and
        // decoding ahead waits for ResumeAhead (the caller's picture of it
        // goes first, with the machine to itself).
        bool decoded = false;
    };
    // Frame `number`; with `keyFrameFirst`, the key frame before it when the
    // frame lies more than kDecodeAheadSeconds past it (the worker then
    // decodes on to the frame meanwhile). Throws RunnerError when the main
    // has no such frame. One caller at a time.
    Found Find(long number, bool keyFrameFirst);

    // Decoding ahead waits from PauseAhead (or a Find that decoded) to
    // ResumeAhead: a picture for the page goes first, with the machine to
    // itself.
    void PauseAhead();
    void ResumeAhead();

    const VideoFormat& format() const { return source_->format(); }
    // Whether frame `number` is in memory now.
    bool Holds(long number) const;
    // The bytes the cache holds now, and its bound.
    std::size_t cachedBytes() const;
    std::size_t cacheBound() const { return cache_.bound(); }

private:
    struct Request {
        long number;
        bool keyFrameFirst;
    };
    void Work();
    // The worker's part of a request; its answer, or throws.
    Found Answer(const Request& request, std::unique_lock<std::mutex>& lock);
    // Decodes the source's next frame, unlocked; false at the end.
    bool DecodeNext(FramePtr& frame, long& number, std::unique_lock<std::mutex>& lock);
    // Lets the source's next frame be the key frame before `number`,
    // unlocked; the position is known again with the next frame decoded.
    void JumpTowards(long number, std::unique_lock<std::mutex>& lock);
    // Whether decoding on from the worker's position is wanted now.
    bool AheadWanted() const;

    std::unique_ptr<FrameSource> source_;  // the worker's alone
    const long reach_;                     // kDecodeAheadSeconds in frames

    mutable std::mutex mutex_;
    std::condition_variable wake_;      // the worker: a request, or stop
    std::condition_variable answered_;  // Find: the answer is there
    FrameCache cache_;
    std::optional<Request> request_;
    std::optional<Found> answer_;
    std::exception_ptr failure_;
    bool stop_ = false;
    bool paused_ = false;  // no decoding ahead until ResumeAhead
    // Where the source stands: the number of the next frame it delivers
    // (-1: unknown, a jump comes next) and whether it has run out.
    long position_ = 0;
    bool exhausted_ = false;
    long lastJumpTarget_ = -1;  // the frame the last jump was for
    // The frame the page is at: decoding runs ahead of it, keeping the
    // frames from it on, until `aheadFrames_` of them are kept.
    long focus_ = -1;
    std::size_t aheadFrames_ = 0;  // 0 until a frame's size is known
    std::thread worker_;
};
