// The shared frame cache: least recently used out first, pinned records kept
// whatever the budget, recycled entries, and per-reader forgetting.
#include <gtest/gtest.h>

#include <algorithm>

#include "source/decoded_frame_cache.h"

namespace {

constexpr std::size_t kFrameBytes = 1000;

class DecodedFrameCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        cache_.Forget(kReaderA);
        cache_.Forget(kReaderB);
        cache_.SetLimit(3 * kFrameBytes);
    }
    void TearDown() override {
        cache_.Forget(kReaderA);
        cache_.Forget(kReaderB);
        cache_.SetLimit(kDecodedFrameCacheLimit);
    }

    // Inserts a frame, marks it with its number and lets go of it.
    void Put(const void* owner, long frame) {
        bool fresh = false;
        DecodedFrameCache::Entry* entry = cache_.Insert(owner, frame, kFrameBytes, &fresh);
        ASSERT_TRUE(fresh);
        entry->bytes[0] = static_cast<std::uint8_t>(frame);
        cache_.Unpin(entry);
    }
    bool Has(const void* owner, long frame) {
        DecodedFrameCache::Entry* entry = cache_.FindAndPin(owner, frame);
        if (entry == nullptr) {
            return false;
        }
        EXPECT_EQ(entry->bytes[0], static_cast<std::uint8_t>(frame));
        cache_.Unpin(entry);
        return true;
    }

    DecodedFrameCache& cache_ = DecodedFrameCache::Instance();
    const int readers_[2] = {};
    const void* const kReaderA = &readers_[0];
    const void* const kReaderB = &readers_[1];
};

TEST_F(DecodedFrameCacheTest, EvictsTheLeastRecentlyUsed) {
    Put(kReaderA, 0);
    Put(kReaderA, 1);
    Put(kReaderA, 2);
    EXPECT_TRUE(Has(kReaderA, 0));  // 1 is now the oldest
    Put(kReaderA, 3);
    EXPECT_FALSE(Has(kReaderA, 1));
    EXPECT_TRUE(Has(kReaderA, 0));
    EXPECT_TRUE(Has(kReaderA, 2));
    EXPECT_TRUE(Has(kReaderA, 3));
    EXPECT_EQ(cache_.entryCount(), 3u);
    EXPECT_LE(cache_.bytesInUse(), 3 * kFrameBytes);
}

TEST_F(DecodedFrameCacheTest, PinnedRecordOutlivesAnyNumberOfInserts) {
    bool fresh = false;
    DecodedFrameCache::Entry* held = cache_.Insert(kReaderA, 42, kFrameBytes, &fresh);
    std::fill(held->bytes.data(), held->bytes.data() + kFrameBytes, 0x5A);
    for (long frame = 0; frame < 20; ++frame) {
        Put(kReaderB, frame);
    }
    EXPECT_EQ(held->frame, 42);
    EXPECT_TRUE(std::all_of(held->bytes.data(), held->bytes.data() + kFrameBytes,
                            [](std::uint8_t byte) { return byte == 0x5A; }));
    cache_.Unpin(held);
}

TEST_F(DecodedFrameCacheTest, GoesOverBudgetOnlyForPinnedRecords) {
    bool fresh = false;
    DecodedFrameCache::Entry* pinned[4];
    for (long frame = 0; frame < 4; ++frame) {
        pinned[frame] = cache_.Insert(kReaderA, frame, kFrameBytes, &fresh);
        ASSERT_NE(pinned[frame], nullptr);
    }
    EXPECT_EQ(cache_.bytesInUse(), 4 * kFrameBytes);
    for (DecodedFrameCache::Entry* entry : pinned) {
        cache_.Unpin(entry);
    }
    Put(kReaderA, 9);
    EXPECT_LE(cache_.bytesInUse(), 3 * kFrameBytes);
}

TEST_F(DecodedFrameCacheTest, AFullCacheRecyclesItsEntries) {
    for (long frame = 0; frame < 50; ++frame) {
        Put(kReaderA, frame);
        EXPECT_LE(cache_.entryCount(), 3u);
    }
    EXPECT_TRUE(Has(kReaderA, 49));
}

TEST_F(DecodedFrameCacheTest, InsertingACachedFrameHandsItBack) {
    Put(kReaderA, 5);
    bool fresh = true;
    DecodedFrameCache::Entry* entry = cache_.Insert(kReaderA, 5, kFrameBytes, &fresh);
    EXPECT_FALSE(fresh);
    EXPECT_EQ(entry->bytes[0], 5);
    cache_.Unpin(entry);
}

TEST_F(DecodedFrameCacheTest, ForgetDropsOneReadersFramesOnly) {
    Put(kReaderA, 1);
    Put(kReaderB, 1);
    cache_.Forget(kReaderA);
    EXPECT_FALSE(Has(kReaderA, 1));
    EXPECT_TRUE(Has(kReaderB, 1));
    EXPECT_EQ(cache_.bytesInUse(), kFrameBytes);
}

TEST_F(DecodedFrameCacheTest, DroppedEntryIsGoneWithItsBytes) {
    Put(kReaderA, 1);
    bool fresh = false;
    DecodedFrameCache::Entry* entry = cache_.Insert(kReaderA, 2, kFrameBytes, &fresh);
    cache_.Drop(entry);
    EXPECT_FALSE(Has(kReaderA, 2));
    EXPECT_TRUE(Has(kReaderA, 1));
    EXPECT_EQ(cache_.bytesInUse(), kFrameBytes);
}

TEST_F(DecodedFrameCacheTest, ShrinkingTheBudgetEvictsAtOnce) {
    Put(kReaderA, 0);
    Put(kReaderA, 1);
    Put(kReaderA, 2);
    cache_.SetLimit(kFrameBytes);
    EXPECT_EQ(cache_.entryCount(), 1u);
    EXPECT_TRUE(Has(kReaderA, 2));
}

}  // namespace
