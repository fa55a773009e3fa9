// The module-wide cache of decoded overlay frames of the FFmpeg backend.
//
// Frames are kept as the frame records the readers hand out (header and
// bits), keyed by reader and frame number, least recently used first out.
// One budget covers every reader, so readers of files the user has since
// replaced lose their frames first instead of holding memory per reader.
// A reader pins the record it has handed out: pinned entries are never
// evicted, so a record stays valid until its reader's next fetch even when
// other readers fill the cache meanwhile. Evicted entries are recycled,
// buffer and bookkeeping alike, so a full cache allocates nothing per frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>

// Memory for one frame record. Unlike a vector it is not zero-filled when
// it grows: every byte is written by the conversion that fills it.
class FrameBuffer {
public:
    std::uint8_t* data() { return memory_.get(); }
    const std::uint8_t* data() const { return memory_.get(); }
    std::uint8_t& operator[](std::size_t index) { return memory_[index]; }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    // Makes room for `size` bytes, keeping the memory when it is big enough.
    void Resize(std::size_t size) {
        if (size > capacity_) {
            memory_.reset(new std::uint8_t[size]);
            capacity_ = size;
        }
        size_ = size;
    }

private:
    std::unique_ptr<std::uint8_t[]> memory_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Buffers of retired entries kept for reuse: one per reader playing forward
// is what steady play needs.
constexpr std::size_t kSpareFrameBuffers = 4;

// Default budget of all cached frames together.
constexpr std::size_t kDecodedFrameCacheLimit = std::size_t{256} << 20;

class DecodedFrameCache {
public:
    struct Entry {
        const void* owner = nullptr;
        long frame = 0;
        FrameBuffer bytes;
        int pins = 0;
    };

    static DecodedFrameCache& Instance();

    // The entry of `owner`'s frame, pinned, or null when it is not cached.
    Entry* FindAndPin(const void* owner, long frame);
    // A pinned entry of `size` bytes for `owner`'s frame. `fresh` tells
    // whether the caller must fill it (false: the frame was cached already
    // and is handed back as is). Makes room by evicting the least recently
    // used unpinned entries.
    Entry* Insert(const void* owner, long frame, std::size_t size, bool* fresh);
    void Unpin(Entry* entry);
    // Removes an entry that turned out to hold no frame; it must be pinned
    // once, by the caller.
    void Drop(Entry* entry);
    // Unpins an entry whose frame will not be asked for again soon: it
    // leaves the cache, and its buffer is kept aside for the next Insert, so
    // playing forward neither fills the cache nor allocates per frame.
    void Retire(Entry* entry);
    // Drops every entry of `owner` (its reader is closing); none may be pinned.
    void Forget(const void* owner);

    void SetLimit(std::size_t bytes);
    std::size_t limit() const;
    std::size_t bytesInUse() const;
    std::size_t entryCount() const;

private:
    struct Key {
        const void* owner;
        long frame;
        bool operator==(const Key& other) const {
            return owner == other.owner && frame == other.frame;
        }
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const {
            return std::hash<const void*>()(key.owner) * 31u + std::hash<long>()(key.frame);
        }
    };
    using Recency = std::list<Entry>;  // most recently used first

    // The least recently used unpinned entry, or end().
    Recency::iterator EvictionCandidate();

    mutable std::mutex lock_;
    Recency entries_;
    Recency spares_;  // retired entries, whose buffers the next inserts reuse
    std::unordered_map<Key, Recency::iterator, KeyHash> index_;
    std::size_t limit_ = kDecodedFrameCacheLimit;
    std::size_t bytesInUse_ = 0;
};
