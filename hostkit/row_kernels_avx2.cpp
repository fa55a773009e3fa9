// The row loops eight pixels at a time with AVX2, built with -mavx2 and run
// only where the processor has it (see row_kernels.cpp). Nothing here is an
// inline function or template of a shared header, so no AVX2 copy of one can
// stand in for the plain build's. Each loop leaves the last pixels of a row
// to the plain one.
#include <immintrin.h>

#include "hostkit/row_kernels.h"

namespace {

constexpr int kPixelBytes = 4;
constexpr int kLanes = 8;  // pixels per vector
constexpr int kAllBytes = -1;

const RowKernels& Plain() { return PlainRowKernels(); }

__m256i Load(const void* address) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(address));
}

void Store(void* address, __m256i value) {
    _mm256_storeu_si256(static_cast<__m256i*>(address), value);
}

// The pixels of a row at eight columns.
__m256i Gather(const std::uint8_t* row, const std::int32_t* columns) {
    return _mm256_i32gather_epi32(reinterpret_cast<const int*>(row), Load(columns), kPixelBytes);
}

bool AllZero(__m256i value) { return _mm256_testz_si256(value, value) != 0; }

bool AllOpaque(__m256i pixels) {
    const __m256i colour = _mm256_set1_epi32(0x00FFFFFF);
    return _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_or_si256(pixels, colour),
                                                  _mm256_set1_epi32(-1))) == kAllBytes;
}

// The colour bytes of `colour` under the top bytes of `top`.
__m256i WithTopOf(__m256i colour, __m256i top) {
    const __m256i mask = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    return _mm256_or_si256(_mm256_andnot_si256(mask, colour), _mm256_and_si256(mask, top));
}

// Within each 128-bit half, as SSE2 widens: pixels 0, 1 | 4, 5 and 2, 3 | 6, 7.
// Packing the two back gives the pixels in order.
__m256i WidenLow(__m256i bytes) { return _mm256_unpacklo_epi8(bytes, _mm256_setzero_si256()); }
__m256i WidenHigh(__m256i bytes) { return _mm256_unpackhi_epi8(bytes, _mm256_setzero_si256()); }

// The top lane of each pixel's four 16-bit lanes, in all four.
__m256i SpreadTop(__m256i wide) {
    return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(wide, 0xFF), 0xFF);
}

// Each 16-bit lane up to 255 * 255 divided by 255, rounded, as in the SSE2 set.
__m256i DivideBy255(__m256i x) {
    return _mm256_mulhi_epu16(_mm256_add_epi16(x, _mm256_set1_epi16(128)),
                              _mm256_set1_epi16(257));
}

// Each 32-bit lane divided by 255 * 255, rounded, as in the SSE2 set.
__m256i DivideBy65025(__m256i x) {
    const __m256i rounded = _mm256_add_epi32(x, _mm256_set1_epi32(32512));
    const __m256i times129 = _mm256_add_epi32(_mm256_slli_epi32(rounded, 7), rounded);
    const __m256i quotient =
        _mm256_srli_epi32(_mm256_add_epi32(rounded, _mm256_srli_epi32(times129, 14)), 16);
    const __m256i product = _mm256_mullo_epi32(quotient, _mm256_set1_epi32(255 * 255));
    return _mm256_add_epi32(quotient, _mm256_cmpgt_epi32(product, rounded));
}

struct CopyLaying {
    static constexpr Laying kLaying = Laying::Copy;
    static constexpr bool kBlends = false;
    explicit CopyLaying(int) {}
    void Put(std::uint8_t* out, __m256i over) const { Store(out, over); }
};

struct OverLaying {
    static constexpr Laying kLaying = Laying::Over;
    static constexpr bool kBlends = true;
    explicit OverLaying(int) {}
    void Put(std::uint8_t* out, __m256i over) const {
        if (AllZero(over)) {
            return;
        }
        const __m256i under = Load(out);
        if (AllOpaque(over)) {
            Store(out, WithTopOf(over, under));
            return;
        }
        const __m256i max = _mm256_set1_epi16(255);
        const __m256i low = DivideBy255(_mm256_mullo_epi16(
            WidenLow(under), _mm256_sub_epi16(max, SpreadTop(WidenLow(over)))));
        const __m256i high = DivideBy255(_mm256_mullo_epi16(
            WidenHigh(under), _mm256_sub_epi16(max, SpreadTop(WidenHigh(over)))));
        Store(out, WithTopOf(_mm256_adds_epu8(over, _mm256_packus_epi16(low, high)), under));
    }
};

struct FadedLaying {
    static constexpr Laying kLaying = Laying::Faded;
    static constexpr bool kBlends = true;
    explicit FadedLaying(int opacity)
        : opacity_(_mm256_set1_epi16(static_cast<short>(opacity))),
          transparency_(_mm256_set1_epi16(static_cast<short>(255 - opacity))),
          overWeight_(_mm256_set1_epi16(static_cast<short>(opacity * 255))) {}

    void Put(std::uint8_t* out, __m256i over) const {
        if (AllZero(over)) {
            return;
        }
        const __m256i under = Load(out);
        if (AllOpaque(over)) {
            // As in the SSE2 set: (C O + D (255 - O)) / 255.
            const __m256i low = DivideBy255(_mm256_add_epi16(
                _mm256_mullo_epi16(WidenLow(over), opacity_),
                _mm256_mullo_epi16(WidenLow(under), transparency_)));
            const __m256i high = DivideBy255(_mm256_add_epi16(
                _mm256_mullo_epi16(WidenHigh(over), opacity_),
                _mm256_mullo_epi16(WidenHigh(under), transparency_)));
            Store(out, WithTopOf(_mm256_packus_epi16(low, high), under));
            return;
        }
        const __m256i low = Blend(WidenLow(over), WidenLow(under));
        const __m256i high = Blend(WidenHigh(over), WidenHigh(under));
        Store(out, WithTopOf(_mm256_packus_epi16(low, high), under));
    }

private:
    // Four pixels as 16-bit lanes, as in the SSE2 set.
    __m256i Blend(__m256i over, __m256i under) const {
        const __m256i underWeight =
            _mm256_sub_epi16(_mm256_set1_epi16(static_cast<short>(255 * 255)),
                             _mm256_mullo_epi16(SpreadTop(over), opacity_));
        const __m256i overLow = _mm256_mullo_epi16(over, overWeight_);
        const __m256i overHigh = _mm256_mulhi_epu16(over, overWeight_);
        const __m256i underLow = _mm256_mullo_epi16(under, underWeight);
        const __m256i underHigh = _mm256_mulhi_epu16(under, underWeight);
        const __m256i first = _mm256_add_epi32(_mm256_unpacklo_epi16(overLow, overHigh),
                                               _mm256_unpacklo_epi16(underLow, underHigh));
        const __m256i second = _mm256_add_epi32(_mm256_unpackhi_epi16(overLow, overHigh),
                                                _mm256_unpackhi_epi16(underLow, underHigh));
        return _mm256_packs_epi32(DivideBy65025(first), DivideBy65025(second));
    }

    __m256i opacity_;
    __m256i transparency_;
    __m256i overWeight_;
};

template <class Laid>
void Nearest(std::uint8_t* out, const std::uint8_t* row, const std::int32_t* columns, int count,
             int opacity) {
    const Laid laying(opacity);
    int i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        laying.Put(out + i * kPixelBytes, Gather(row, columns + i));
    }
    Plain().nearest[static_cast<int>(Laid::kLaying)](out + i * kPixelBytes, row, columns + i,
                                                      count - i, opacity);
}

// Pixels 0-3 and 4-7 of eight as 16-bit lanes, in order.
__m256i WidenFirstFour(__m256i pixels) {
    return _mm256_cvtepu8_epi16(_mm256_castsi256_si128(pixels));
}
__m256i WidenLastFour(__m256i pixels) {
    return _mm256_cvtepu8_epi16(_mm256_extracti128_si256(pixels, 1));
}

void Across(std::uint16_t* out, const std::uint8_t* row, const ColumnPairs& columns, int count) {
    const __m256i one = _mm256_set1_epi16(256);
    int i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        const __m256i first = Gather(row, columns.first + i);
        const __m256i second = Gather(row, columns.second + i);
        const __m256i sharesLow = Load(columns.shares + i * kPixelBytes);
        const __m256i sharesHigh = Load(columns.shares + i * kPixelBytes + 16);
        Store(out + i * kPixelBytes,
              _mm256_add_epi16(
                  _mm256_mullo_epi16(WidenFirstFour(first), _mm256_sub_epi16(one, sharesLow)),
                  _mm256_mullo_epi16(WidenFirstFour(second), sharesLow)));
        Store(out + i * kPixelBytes + 16,
              _mm256_add_epi16(
                  _mm256_mullo_epi16(WidenLastFour(first), _mm256_sub_epi16(one, sharesHigh)),
                  _mm256_mullo_epi16(WidenLastFour(second), sharesHigh)));
    }
    const ColumnPairs rest{columns.first + i, columns.second + i,
                           columns.shares + i * kPixelBytes};
    Plain().across(out + i * kPixelBytes, row, rest, count - i);
}

// Pixels' bytes from their centred (upper, lower) pairs, as in the SSE2 set.
__m256i DownPixels(__m256i pairs, __m256i weights) {
    const __m256i restore = _mm256_set1_epi32(32768 * 256 + 32768);
    return _mm256_srli_epi32(_mm256_add_epi32(_mm256_madd_epi16(pairs, weights), restore), 16);
}

template <class Laid>
void Down(std::uint8_t* out, const std::uint16_t* upper, const std::uint16_t* lower, int count,
          int share, int opacity) {
    const Laid laying(opacity);
    const __m256i weights = _mm256_set1_epi32((256 - share) | (share << 16));
    const __m256i centre = _mm256_set1_epi16(static_cast<short>(0x8000));
    int i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        const std::uint16_t* top = upper + i * kPixelBytes;
        const std::uint16_t* bottom = lower + i * kPixelBytes;
        __m256i upperFirst = Load(top), upperSecond = Load(top + 16);
        __m256i lowerFirst = Load(bottom), lowerSecond = Load(bottom + 16);
        if (Laid::kBlends &&
            AllZero(_mm256_or_si256(_mm256_or_si256(upperFirst, upperSecond),
                                    _mm256_or_si256(lowerFirst, lowerSecond)))) {
            continue;  // transparent pixels: nothing to lay
        }
        upperFirst = _mm256_xor_si256(upperFirst, centre);
        upperSecond = _mm256_xor_si256(upperSecond, centre);
        lowerFirst = _mm256_xor_si256(lowerFirst, centre);
        lowerSecond = _mm256_xor_si256(lowerSecond, centre);
        // Halves hold pixels 0, 1 | 2, 3 and 4, 5 | 6, 7; the byte pack
        // interleaves them by half, which the final permute undoes.
        const __m256i first = _mm256_packs_epi32(
            DownPixels(_mm256_unpacklo_epi16(upperFirst, lowerFirst), weights),
            DownPixels(_mm256_unpackhi_epi16(upperFirst, lowerFirst), weights));
        const __m256i second = _mm256_packs_epi32(
            DownPixels(_mm256_unpacklo_epi16(upperSecond, lowerSecond), weights),
            DownPixels(_mm256_unpackhi_epi16(upperSecond, lowerSecond), weights));
        laying.Put(out + i * kPixelBytes,
                   _mm256_permute4x64_epi64(_mm256_packus_epi16(first, second), 0xD8));
    }
    Plain().down[static_cast<int>(Laid::kLaying)](out + i * kPixelBytes, upper + i * kPixelBytes,
                                                   lower + i * kPixelBytes, count - i, share,
                                                   opacity);
}

void PrepareStraight(std::uint8_t* out, const std::uint8_t* in, int count) {
    int i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        const __m256i pixels = Load(in + i * kPixelBytes);
        const __m256i low = WidenLow(pixels), high = WidenHigh(pixels);
        const __m256i premultiplied =
            _mm256_packus_epi16(DivideBy255(_mm256_mullo_epi16(low, SpreadTop(low))),
                                DivideBy255(_mm256_mullo_epi16(high, SpreadTop(high))));
        Store(out + i * kPixelBytes, WithTopOf(premultiplied, pixels));
    }
    Plain().prepare[static_cast<int>(SourceAlpha::Straight)](out + i * kPixelBytes,
                                                             in + i * kPixelBytes, count - i);
}

void PreparePremultiplied(std::uint8_t* out, const std::uint8_t* in, int count) {
    const __m256i topOfEach = _mm256_setr_epi8(3, 3, 3, 3, 7, 7, 7, 7, 11, 11, 11, 11, 15, 15,
                                               15, 15, 3, 3, 3, 3, 7, 7, 7, 7, 11, 11, 11, 11,
                                               15, 15, 15, 15);
    int i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        const __m256i pixels = Load(in + i * kPixelBytes);
        Store(out + i * kPixelBytes,
              _mm256_min_epu8(pixels, _mm256_shuffle_epi8(pixels, topOfEach)));
    }
    Plain().prepare[static_cast<int>(SourceAlpha::Premultiplied)](
        out + i * kPixelBytes, in + i * kPixelBytes, count - i);
}

void PrepareOpaque(std::uint8_t* out, const std::uint8_t* in, int count) {
    const __m256i top = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    int i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        Store(out + i * kPixelBytes, _mm256_or_si256(Load(in + i * kPixelBytes), top));
    }
    Plain().prepare[static_cast<int>(SourceAlpha::Opaque)](out + i * kPixelBytes,
                                                           in + i * kPixelBytes, count - i);
}

template <class Laid>
void Lay(std::uint8_t* out, const std::uint8_t* pixels, int count, int opacity) {
    const Laid laying(opacity);
    int i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        laying.Put(out + i * kPixelBytes, Load(pixels + i * kPixelBytes));
    }
    const RowKernels::Lay rest = Laid::kLaying == Laying::Over ? Plain().layOver
                                                                : Plain().layFaded;
    rest(out + i * kPixelBytes, pixels + i * kPixelBytes, count - i, opacity);
}

const RowKernels kAvx2 = {
    "avx2",
    {&Nearest<CopyLaying>, &Nearest<OverLaying>, &Nearest<FadedLaying>},
    &Across,
    {&Down<CopyLaying>, &Down<OverLaying>, &Down<FadedLaying>},
    {&PrepareStraight, &PreparePremultiplied, &PrepareOpaque},
    &Lay<OverLaying>,
    &Lay<FadedLaying>,
};

}  // namespace

const RowKernels& Avx2RowKernels() { return kAvx2; }
