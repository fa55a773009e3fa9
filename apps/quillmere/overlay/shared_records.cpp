#include "apps/quillmere/overlay/shared_records.h"

#include <cstring>

#include "host/win_types.h"
#include "source/ffmpeg_video_stream.h"

namespace {

constexpr std::int64_t kLargestSide = 16384;
constexpr int kLargestPalettisedDepth = 8;
constexpr std::size_t kPaletteEntryBytes = 4;
constexpr std::size_t kBitfieldMasksBytes = 3 * 4;

}  // namespace

std::shared_ptr<std::vector<std::uint8_t>> RecordPool::Take() {
    for (const auto& buffer : buffers_) {
        // Only the pool holds it: no record points into it any more.
        if (buffer.use_count() == 1) {
            return buffer;
        }
    }
    buffers_.push_back(std::make_shared<std::vector<std::uint8_t>>());
    return buffers_.back();
}

std::size_t RecordBytes(const void* record) {
    BITMAPINFOHEADER header;
    std::memcpy(&header, record, sizeof header);
    const std::int64_t height = header.biHeight < 0 ? -std::int64_t{header.biHeight}
                                                    : header.biHeight;
    if (header.biSize < sizeof header || header.biWidth <= 0 || header.biWidth > kLargestSide ||
        height <= 0 || height > kLargestSide || header.biBitCount == 0 ||
        header.biBitCount > 32) {
        return 0;
    }
    std::size_t bits = header.biSize;
    if (header.biBitCount <= kLargestPalettisedDepth) {
        bits += (header.biClrUsed != 0 ? header.biClrUsed : std::size_t{1} << header.biBitCount) *
                kPaletteEntryBytes;
    } else if (header.biCompression == BI_BITFIELDS && header.biSize == sizeof header) {
        bits += kBitfieldMasksBytes;
    }
    return bits + static_cast<std::size_t>(FrameRowBytes(header.biWidth, header.biBitCount) *
                                           height);
}

ScaledFrameCache::ScaledFrameCache(std::size_t budgetBytes) : budget_(budgetBytes) {}

bool ScaledFrameCache::Find(long frame, SharedRecord& record) const {
    if (frame == lastFrame_) {
        record = last_;
        return true;
    }
    const auto found = frames_.find(frame);
    if (found == frames_.end()) {
        return false;
    }
    record = found->second;
    return true;
}

void ScaledFrameCache::Add(long frame, SharedRecord record) {
    lastFrame_ = frame;
    last_ = record;
    if (record == nullptr || budget_ == 0 || record->size() > budget_ - kept_ ||
        frames_.count(frame) != 0) {
        return;
    }
    kept_ += record->size();
    frames_.emplace(frame, std::move(record));
}
