#include "apps/quillmere/edit/preview_frames.h"

#include <algorithm>
#include <cmath>

#include "apps/quillmere/runner_error.h"

namespace {

// The share of the cache left to frames behind the one shown (1 / this),
// for a step back; decoding ahead fills the rest.
constexpr std::size_t kBehindShare = 4;

RunnerError NoSuchFrame(long number) {
    return RunnerError("the main video has no frame " + std::to_string(number));
}

}  // namespace

std::size_t FrameBytes(const AVFrame& frame) {
    std::size_t bytes = 0;
    for (const AVBufferRef* buffer : frame.buf) {
        bytes += buffer != nullptr ? buffer->size : 0;
    }
    for (int index = 0; index < frame.nb_extended_buf; ++index) {
        bytes += frame.extended_buf[index]->size;
    }
    return bytes;
}

void FrameCache::Put(long number, const AVFrame& frame) {
    const auto same = std::find_if(entries_.begin(), entries_.end(),
                                   [number](const Entry& entry) { return entry.number == number; });
    if (same != entries_.end()) {
        bytes_ -= same->bytes;
        entries_.erase(same);
    }
    const std::size_t size = FrameBytes(frame);
    if (size > bound_) {
        return;
    }
    while (bytes_ + size > bound_) {
        bytes_ -= entries_.front().bytes;
        entries_.pop_front();
    }
    FramePtr kept = NewFrame();
    if (av_frame_ref(kept.get(), &frame) < 0) {
        throw RunnerError("out of memory");
    }
    entries_.push_back(Entry{number, std::move(kept), size});
    bytes_ += size;
}

FramePtr FrameCache::Get(long number) const {
    for (const Entry& entry : entries_) {
        if (entry.number == number) {
            FramePtr copy = NewFrame();
            if (av_frame_ref(copy.get(), entry.frame.get()) < 0) {
                throw RunnerError("out of memory");
            }
            return copy;
        }
    }
    return nullptr;
}

bool FrameCache::Has(long number) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [number](const Entry& entry) { return entry.number == number; });
}

void FrameCache::Clear() {
    entries_.clear();
    bytes_ = 0;
}

std::deque<long> FrameCache::numbers() const {
    std::deque<long> numbers;
    for (const Entry& entry : entries_) {
        numbers.push_back(entry.number);
    }
    return numbers;
}

PreviewFrames::PreviewFrames(std::unique_ptr<FrameSource> source, std::size_t cacheBytes)
    : source_(std::move(source)),
      reach_(std::max(1L, std::lround(kDecodeAheadSeconds * av_q2d(source_->frameRate())))),
      cache_(cacheBytes) {
    worker_ = std::thread([this] { Work(); });
}

PreviewFrames::~PreviewFrames() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

bool PreviewFrames::Holds(long number) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return cache_.Has(number);
}

std::size_t PreviewFrames::cachedBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return cache_.bytes();
}

PreviewFrames::Found PreviewFrames::Find(long number, bool keyFrameFirst) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (FramePtr kept = cache_.Get(number)) {
        // From memory; decoding goes on ahead of it.
        focus_ = number;
        wake_.notify_one();
        return Found{std::move(kept), number, true};
    }
    request_ = Request{number, keyFrameFirst};
    answer_.reset();
    failure_ = nullptr;
    wake_.notify_one();
    answered_.wait(lock, [this] { return !request_; });
    if (failure_) {
        std::rethrow_exception(failure_);
    }
    Found found = std::move(*answer_);
    answer_.reset();
    return found;
}

bool PreviewFrames::DecodeNext(FramePtr& frame, long& number,
                               std::unique_lock<std::mutex>& lock) {
    frame = NewFrame();
    bool decoded = false;
    lock.unlock();
    try {
        decoded = source_->Next(*frame, number);
    } catch (...) {
        lock.lock();
        position_ = -1;  // lost: the next frame is reached by a jump
        throw;
    }
    lock.lock();
    if (!decoded) {
        exhausted_ = true;
        return false;
    }
    position_ = number + 1;
    if (aheadFrames_ == 0) {
        const std::size_t capacity = cache_.Capacity(FrameBytes(*frame));
        aheadFrames_ = std::max<std::size_t>(1, capacity - capacity / kBehindShare);
    }
    return true;
}

void PreviewFrames::PauseAhead() {
    std::lock_guard<std::mutex> lock(mutex_);
    paused_ = true;
}

void PreviewFrames::ResumeAhead() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        paused_ = false;
    }
    wake_.notify_one();
}

void PreviewFrames::JumpTowards(long number, std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    try {
        source_->SkipTowards(number);
    } catch (...) {
        lock.lock();
        position_ = -1;
        throw;
    }
    lock.lock();
    lastJumpTarget_ = number;
    exhausted_ = false;
    position_ = -1;  // known again with the first frame decoded
}

bool PreviewFrames::AheadWanted() const {
    if (paused_ || focus_ < 0 || aheadFrames_ == 0) {
        return false;
    }
    long next = focus_;
    while (cache_.Has(next)) {
        ++next;
    }
    if (static_cast<std::size_t>(next - focus_) >= aheadFrames_) {
        return false;
    }
    return !(exhausted_ && next >= position_);
}

PreviewFrames::Found PreviewFrames::Answer(const Request& request,
                                           std::unique_lock<std::mutex>& lock) {
    const long number = request.number;
    const bool onward = !exhausted_ && position_ >= 0 && number >= position_ &&
                        (number - position_ < reach_ || number == lastJumpTarget_);
    bool jumped = false;
    if (!onward) {
        JumpTowards(number, lock);
        jumped = true;
    }
    while (true) {
        if (stop_) {
            throw RunnerError("the page's frames are closing");
        }
        FramePtr frame;
        long got = 0;
        if (!DecodeNext(frame, got, lock)) {
            throw NoSuchFrame(number);
        }
        if (jumped && request.keyFrameFirst && number - got > reach_) {
            // The key frame shows at once; decoding goes on to the frame.
            focus_ = number;
            return Found{std::move(frame), got, false, true};
        }
        jumped = false;
        if (got == number) {
            cache_.Put(got, *frame);
            focus_ = number;
            return Found{std::move(frame), got, true, true};
        }
        if (got > number) {
            throw NoSuchFrame(number);
        }
    }
}

void PreviewFrames::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stop_ || request_ || AheadWanted(); });
        if (stop_) {
            if (request_) {
                failure_ = std::make_exception_ptr(RunnerError("the page's frames are closing"));
                request_.reset();
                answered_.notify_all();
            }
            return;
        }
        if (request_) {
            try {
                answer_ = Answer(*request_, lock);
                paused_ = true;
            } catch (...) {
                failure_ = std::current_exception();
            }
            request_.reset();
            answered_.notify_all();
            continue;
        }
        // One frame ahead of the page, then a look at what is asked.
        long next = focus_;
        while (cache_.Has(next)) {
            ++next;
        }
        try {
            const bool onward = !exhausted_ && position_ >= 0 && next >= position_ &&
                                (next - position_ < reach_ || next == lastJumpTarget_);
            if (!onward) {
                JumpTowards(next, lock);
            }
            FramePtr frame;
            long got = 0;
            if (DecodeNext(frame, got, lock) && got >= focus_) {
                cache_.Put(got, *frame);
                if (got > next) {
                    // The main has no frame `next`: nothing to look for ahead.
                    focus_ = -1;
                }
            }
        } catch (...) {
            // A frame that cannot be decoded ahead is left for a request
            // to report; until then nothing more is decoded ahead.
            focus_ = -1;
        }
    }
}
