// A queue that hands items from one pipeline thread to another. It sets no
// limit of its own, so a push never waits: what bounds it is what goes
// through it. Frames come from a pool of fixed size, so a frame queue holds
// at most the pool; carried packets are drained after every frame, so that
// queue holds what the demuxer reads between two video frames.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

template <typename Item>
class HandoffQueue {
public:
    void Push(Item item) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            items_.push_back(std::move(item));
        }
        ready_.notify_one();
    }

    // Waits for an item. False when the queue was closed and is empty, or
    // was aborted.
    bool Pop(Item& item) {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return aborted_ || closed_ || !items_.empty(); });
        if (aborted_ || items_.empty()) {
            return false;
        }
        item = std::move(items_.front());
        items_.pop_front();
        return true;
    }

    // Takes an item if one is there, without waiting.
    bool TryPop(Item& item) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (aborted_ || items_.empty()) {
            return false;
        }
        item = std::move(items_.front());
        items_.pop_front();
        return true;
    }

    // No more items will come; Pop drains what is there, then fails.
    void Close() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closed_ = true;
        }
        ready_.notify_all();
    }

    // Stop at once: every waiting and later Pop fails.
    void Abort() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            aborted_ = true;
        }
        ready_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Item> items_;
    bool closed_ = false;
    bool aborted_ = false;
};
