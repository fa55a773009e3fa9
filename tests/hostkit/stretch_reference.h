// What the host kit's tests share: pixel storage with guard bands, and the
// stretches' sampling rule as bitmap_operations.h states it, one pixel at a
// time.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/vbitmap.h"

constexpr std::uint8_t kGuard = 0xA5;
constexpr std::size_t kGuardBytes = 64;

// Pixel storage with guard bands on both sides: an operation that writes
// outside its bitmap changes a guard byte. `lead` bytes of the band before
// the pixels move them off any alignment.
class GuardedBuffer {
public:
    explicit GuardedBuffer(std::size_t bytes, std::size_t lead = 0)
        : bytes_(kGuardBytes + lead + bytes + kGuardBytes, kGuard), lead_(lead), size_(bytes) {}
    std::uint8_t* data() { return bytes_.data() + kGuardBytes + lead_; }
    const std::vector<std::uint8_t>& all() const { return bytes_; }
    bool GuardsIntact() const {
        for (std::size_t i = 0; i < kGuardBytes + lead_; ++i) {
            if (bytes_[i] != kGuard) return false;
        }
        for (std::size_t i = kGuardBytes + lead_ + size_; i < bytes_.size(); ++i) {
            if (bytes_[i] != kGuard) return false;
        }
        return true;
    }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t lead_;
    std::size_t size_;
};

// The source pixel or pixels around position p (in source pixels) of an
// extent, and the share of the second in 1/256.
struct RuleSample {
    int first, second, share;
};

inline RuleSample NearestByRule(double p, int extent) {
    const int index = p < 0 || std::isnan(p) ? 0
                      : p >= extent         ? extent - 1
                                            : static_cast<int>(std::floor(p));
    return {index, index, 0};
}

inline RuleSample BilinearByRule(double p, int extent) {
    p -= 0.5;
    if (!(p > 0)) return {0, 0, 0};
    if (p >= extent - 1) return {extent - 1, extent - 1, 0};
    const int i = static_cast<int>(std::floor(p));
    return {i, i + 1, static_cast<int>(std::floor((p - i) * 256))};
}

// The stretched pixel at source position (u, v) of a w x h source that
// `pixelAt(x, y)` reads.
template <class PixelAt>
Pixel32 SampleByRule(const PixelAt& pixelAt, int w, int h, double u, double v, bool bilinear) {
    const RuleSample across = bilinear ? BilinearByRule(u, w) : NearestByRule(u, w);
    const RuleSample down = bilinear ? BilinearByRule(v, h) : NearestByRule(v, h);
    Pixel32 result = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        auto byte = [&](int x, int y) { return (pixelAt(x, y) >> shift) & 0xFF; };
        const unsigned top = byte(across.first, down.first) * (256 - across.share) +
                             byte(across.second, down.first) * across.share;
        const unsigned bottom = byte(across.first, down.second) * (256 - across.share) +
                                byte(across.second, down.second) * across.share;
        result |= ((top * (256 - down.share) + bottom * down.share + 32768) >> 16) << shift;
    }
    return result;
}
