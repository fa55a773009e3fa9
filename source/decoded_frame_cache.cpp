#include "source/decoded_frame_cache.h"

DecodedFrameCache& DecodedFrameCache::Instance() {
    static DecodedFrameCache cache;
    return cache;
}

DecodedFrameCache::Entry* DecodedFrameCache::FindAndPin(const void* owner, long frame) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = index_.find(Key{owner, frame});
    if (found == index_.end()) {
        return nullptr;
    }
    entries_.splice(entries_.begin(), entries_, found->second);
    ++found->second->pins;
    return &*found->second;
}

DecodedFrameCache::Recency::iterator DecodedFrameCache::EvictionCandidate() {
    for (auto entry = entries_.end(); entry != entries_.begin();) {
        --entry;
        if (entry->pins == 0) {
            return entry;
        }
    }
    return entries_.end();
}

DecodedFrameCache::Entry* DecodedFrameCache::Insert(const void* owner, long frame,
                                                    std::size_t size, bool* fresh) {
    std::lock_guard<std::mutex> hold(lock_);
    const Key key{owner, frame};
    if (const auto found = index_.find(key); found != index_.end()) {
        entries_.splice(entries_.begin(), entries_, found->second);
        ++found->second->pins;
        *fresh = false;
        return &*found->second;
    }
    *fresh = true;

    if (!spares_.empty() && bytesInUse_ + size <= limit_) {
        // A retired entry's buffer, when there is one.
        entries_.splice(entries_.begin(), spares_, spares_.begin());
        const Recency::iterator spare = entries_.begin();
        spare->owner = owner;
        spare->frame = frame;
        spare->pins = 1;
        index_.emplace(key, spare);
        spare->bytes.Resize(size);
        bytesInUse_ += spare->bytes.capacity();
        return &*spare;
    }

    // Evict until the new frame fits; the last entry evicted is reused for it
    // (its bytes no longer count while it is being reused).
    Recency::iterator reused = entries_.end();
    while (bytesInUse_ + size > limit_) {
        const Recency::iterator victim = EvictionCandidate();
        if (victim == entries_.end()) {
            break;  // everything left is pinned: go over the budget rather than fail
        }
        if (reused != entries_.end()) {
            index_.erase(Key{reused->owner, reused->frame});
            entries_.erase(reused);
        }
        reused = victim;
        bytesInUse_ -= reused->bytes.capacity();
        // Parked at the front and pinned so that the next search skips it.
        entries_.splice(entries_.begin(), entries_, reused);
        ++reused->pins;
    }

    if (reused != entries_.end()) {
        auto node = index_.extract(Key{reused->owner, reused->frame});
        node.key() = key;
        index_.insert(std::move(node));
        reused->owner = owner;
        reused->frame = frame;
        reused->pins = 1;
    } else {
        entries_.emplace_front();
        reused = entries_.begin();
        reused->owner = owner;
        reused->frame = frame;
        reused->pins = 1;
        index_.emplace(key, reused);
    }
    reused->bytes.Resize(size);
    bytesInUse_ += reused->bytes.capacity();
    return &*reused;
}

void DecodedFrameCache::Unpin(Entry* entry) {
    if (entry == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> hold(lock_);
    --entry->pins;
}

void DecodedFrameCache::Retire(Entry* entry) {
    if (entry == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> hold(lock_);
    if (--entry->pins > 0) {
        return;
    }
    const auto found = index_.find(Key{entry->owner, entry->frame});
    if (found == index_.end()) {
        return;
    }
    const Recency::iterator retired = found->second;
    index_.erase(found);
    bytesInUse_ -= retired->bytes.capacity();
    if (spares_.size() < kSpareFrameBuffers) {
        spares_.splice(spares_.begin(), entries_, retired);
        retired->owner = nullptr;
    } else {
        entries_.erase(retired);
    }
}

void DecodedFrameCache::Drop(Entry* entry) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = index_.find(Key{entry->owner, entry->frame});
    if (found == index_.end()) {
        return;
    }
    bytesInUse_ -= found->second->bytes.capacity();
    entries_.erase(found->second);
    index_.erase(found);
}

void DecodedFrameCache::Forget(const void* owner) {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto entry = entries_.begin(); entry != entries_.end();) {
        if (entry->owner == owner) {
            bytesInUse_ -= entry->bytes.capacity();
            index_.erase(Key{entry->owner, entry->frame});
            entry = entries_.erase(entry);
        } else {
            ++entry;
        }
    }
}

void DecodedFrameCache::SetLimit(std::size_t bytes) {
    std::lock_guard<std::mutex> hold(lock_);
    limit_ = bytes;
    while (bytesInUse_ > limit_) {
        const Recency::iterator victim = EvictionCandidate();
        if (victim == entries_.end()) {
            break;
        }
        bytesInUse_ -= victim->bytes.capacity();
        index_.erase(Key{victim->owner, victim->frame});
        entries_.erase(victim);
    }
}

std::size_t DecodedFrameCache::limit() const {
    std::lock_guard<std::mutex> hold(lock_);
    return limit_;
}

std::size_t DecodedFrameCache::bytesInUse() const {
    std::lock_guard<std::mutex> hold(lock_);
    return bytesInUse_;
}

std::size_t DecodedFrameCache::entryCount() const {
    std::lock_guard<std::mutex> hold(lock_);
    return entries_.size();
}
