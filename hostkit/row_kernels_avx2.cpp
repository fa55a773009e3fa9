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
// How far ahead of a blend the destination is fetched: the processor's own
// prefetching stops at each page and restarts late on each row.
constexpr int kReadAhead = 512;

const RowKernels& Plain() { return PlainRowKernels(); }

__m256i Load(const void* address) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(address));
}

void Store(void* address, __m256i value) {
    _mm256_storeu_si256(static_cast<__m256i*>(address), value);
}

__m128i LoadPixel(const std::uint8_t* row, std::int32_t column) {
    return _mm_loadu_si32(row + static_cast<std::ptrdiff_t>(column) * kPixelBytes);
}

// The pixels of a row at eight columns, loaded one by one: the processor's
// gather is slower here, and much slower where it is patched against the
// leak of gathered data.
__m256i Gather(const std::uint8_t* row, const std::int32_t* columns) {
    const auto four = [row](const std::int32_t* at) {
        return _mm_unpacklo_epi64(
            _mm_unpacklo_epi32(LoadPixel(row, at[0]), LoadPixel(row, at[1])),
            _mm_unpacklo_epi32(LoadPixel(row, at[2]), LoadPixel(row, at[3])));
    };
    return _mm256_inserti128_si256(_mm256_castsi128_si256(four(columns)), four(columns + 4), 1);
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

// Each pixel's top byte as 16-bit lanes, four per pixel, laid out as
// WidenLow and WidenHigh lay out the pixels' bytes.
__m256i SpreadTopLow(__m256i pixels) {
    const __m256i tops = _mm256_setr_epi8(3, -1, 3, -1, 3, -1, 3, -1, 7, -1, 7, -1, 7, -1, 7, -1,
                                          3, -1, 3, -1, 3, -1, 3, -1, 7, -1, 7, -1, 7, -1, 7, -1);
    return _mm256_shuffle_epi8(pixels, tops);
}
__m256i SpreadTopHigh(__m256i pixels) {
    const __m256i tops = _mm256_setr_epi8(11, -1, 11, -1, 11, -1, 11, -1, 15, -1, 15, -1, 15, -1,
                                          15, -1, 11, -1, 11, -1, 11, -1, 11, -1, 15, -1, 15, -1,
                                          15, -1, 15, -1);
    return _mm256_shuffle_epi8(pixels, tops);
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
        // 255 - A is the top byte of the complement.
        const __m256i remaining = _mm256_xor_si256(over, _mm256_set1_epi32(-1));
        const __m256i low =
            DivideBy255(_mm256_mullo_epi16(WidenLow(under), SpreadTopLow(remaining)));
        const __m256i high =
            DivideBy255(_mm256_mullo_epi16(WidenHigh(under), SpreadTopHigh(remaining)));
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
        const __m256i low = Blend(WidenLow(over), SpreadTopLow(over), WidenLow(under));
        const __m256i high = Blend(WidenHigh(over), SpreadTopHigh(over), WidenHigh(under));
        Store(out, WithTopOf(_mm256_packus_epi16(low, high), under));
    }

private:
    // Four pixels as 16-bit lanes with their alphas, as in the SSE2 set.
    __m256i Blend(__m256i over, __m256i alpha, __m256i under) const {
        const __m256i underWeight =
            _mm256_sub_epi16(_mm256_set1_epi16(static_cast<short>(255 * 255)),
                             _mm256_mullo_epi16(alpha, opacity_));
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

// Two adjacent pixels from `column` in the low 8 bytes.
__m128i LoadPair(const std::uint8_t* row, std::int32_t column) {
    return _mm_loadl_epi64(
        reinterpret_cast<const __m128i*>(row + static_cast<std::ptrdiff_t>(column) * kPixelBytes));
}

// Two columns' pixel pairs, one in each half, as 16-bit (first, second)
// pairs per byte: the form the multiply-add takes with the weights. Each
// pair is broadcast and the halves blended, which keeps the shuffle unit,
// the busiest here, to the one shuffle.
__m256i PairsOf(const std::uint8_t* row, const std::int32_t* first) {
    const __m256i bytes = _mm256_blend_epi32(_mm256_broadcastq_epi64(LoadPair(row, first[0])),
                                             _mm256_broadcastq_epi64(LoadPair(row, first[1])),
                                             0xF0);
    const __m256i interleave = _mm256_setr_epi8(0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1,
                                                7, -1, 0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1,
                                                3, -1, 7, -1);
    return _mm256_shuffle_epi8(bytes, interleave);
}

void Across(std::uint16_t* out, const std::uint8_t* row, const ColumnPairs& columns, int count) {
    int i = 0;
    if (columns.adjacent) {
        for (; i + 4 <= count; i += 4) {
            const std::uint16_t* weights = columns.weights + i * kColumnWeights;
            const __m256i firstTwo =
                _mm256_madd_epi16(PairsOf(row, columns.first + i), Load(weights));
            const __m256i lastTwo = _mm256_madd_epi16(PairsOf(row, columns.first + i + 2),
                                                      Load(weights + 2 * kColumnWeights));
            // The pack takes the columns as 0, 2 | 1, 3; the permute puts
            // them in order.
            Store(out + i * kPixelBytes,
                  _mm256_permute4x64_epi64(_mm256_packus_epi32(firstTwo, lastTwo), 0xD8));
        }
    }
    const ColumnPairs rest{columns.first + i, columns.second + i,
                           columns.weights + i * kColumnWeights, columns.adjacent};
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
        if (Laid::kBlends) {
            _mm_prefetch(reinterpret_cast<const char*>(out + i * kPixelBytes) + kReadAhead,
                         _MM_HINT_T0);
        }
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
        const __m256i premultiplied = _mm256_packus_epi16(
            DivideBy255(_mm256_mullo_epi16(WidenLow(pixels), SpreadTopLow(pixels))),
            DivideBy255(_mm256_mullo_epi16(WidenHigh(pixels), SpreadTopHigh(pixels))));
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
