// The loads that clamp samples to the depth: plain, and in SSE2 eight
// samples at a time (an unsigned minimum from a saturating subtraction,
// which SSE2 has).
#include "convert/depth_clamp.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

void LoadClampedPlain(const std::uint8_t* row, int count, std::uint16_t maximum,
                      std::uint16_t* destination) {
    for (int i = 0; i < count; ++i) {
        std::uint16_t sample;
        std::memcpy(&sample, row + static_cast<std::ptrdiff_t>(i) * sizeof sample, sizeof sample);
        destination[i] = std::min(sample, maximum);
    }
}

#if defined(__SSE2__)

namespace {

constexpr int kVectorSamples = 8;

// min(value, maximum) = value - (value - maximum, or 0 below it).
void ClampEight(const std::uint8_t* source, __m128i ceiling, std::uint16_t* destination) {
    const __m128i values = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination),
                     _mm_sub_epi16(values, _mm_subs_epu16(values, ceiling)));
}

}  // namespace

void LoadClampedSse2(const std::uint8_t* row, int count, std::uint16_t maximum,
                     std::uint16_t* destination) {
    if (count < kVectorSamples) {
        LoadClampedPlain(row, count, maximum, destination);
        return;
    }
    const __m128i ceiling = _mm_set1_epi16(static_cast<std::int16_t>(maximum));
    const auto byteOf = [](int sample) { return static_cast<std::ptrdiff_t>(sample) * 2; };
    for (int i = 0; i + kVectorSamples <= count; i += kVectorSamples) {
        ClampEight(row + byteOf(i), ceiling, destination + i);
    }
    // The last eight again, overlapping what is done: the same values.
    const int last = count - kVectorSamples;
    ClampEight(row + byteOf(last), ceiling, destination + last);
}

#else  // no SSE2: the plain row

void LoadClampedSse2(const std::uint8_t* row, int count, std::uint16_t maximum,
                     std::uint16_t* destination) {
    LoadClampedPlain(row, count, maximum, destination);
}

#endif
