// The row loops four pixels at a time with SSE2, which every x86-64 processor
// has. Each loop leaves the last pixels of a row to the plain one.
#include <emmintrin.h>

#include <cstring>

#include "hostkit/row_kernels.h"

namespace {

constexpr int kPixelBytes = 4;
constexpr int kLanes = 4;  // pixels per vector
constexpr int kAllBytes = 0xFFFF;

const RowKernels& Plain() { return PlainRowKernels(); }

__m128i Load(const void* address) {
    return _mm_loadu_si128(static_cast<const __m128i*>(address));
}

void Store(void* address, __m128i value) {
    _mm_storeu_si128(static_cast<__m128i*>(address), value);
}

__m128i LoadPixel(const std::uint8_t* row, std::int32_t column) {
    int value;
    std::memcpy(&value, row + static_cast<std::ptrdiff_t>(column) * kPixelBytes, sizeof value);
    return _mm_cvtsi32_si128(value);
}

// The pixels of a row at four columns.
__m128i Gather(const std::uint8_t* row, const std::int32_t* columns) {
    const __m128i low = _mm_unpacklo_epi32(LoadPixel(row, columns[0]), LoadPixel(row, columns[1]));
    const __m128i high =
        _mm_unpacklo_epi32(LoadPixel(row, columns[2]), LoadPixel(row, columns[3]));
    return _mm_unpacklo_epi64(low, high);
}

bool AllZero(__m128i value) {
    return _mm_movemask_epi8(_mm_cmpeq_epi8(value, _mm_setzero_si128())) == kAllBytes;
}

bool AllOpaque(__m128i pixels) {
    const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
    return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(pixels, colour),
                                            _mm_set1_epi32(-1))) == kAllBytes;
}

// The colour bytes of `colour` under the top bytes of `top`.
__m128i WithTopOf(__m128i colour, __m128i top) {
    const __m128i mask = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    return _mm_or_si128(_mm_andnot_si128(mask, colour), _mm_and_si128(mask, top));
}

__m128i WidenLow(__m128i bytes) { return _mm_unpacklo_epi8(bytes, _mm_setzero_si128()); }
__m128i WidenHigh(__m128i bytes) { return _mm_unpackhi_epi8(bytes, _mm_setzero_si128()); }

// The top lane of each pixel's four 16-bit lanes, in all four.
__m128i SpreadTop(__m128i wide) {
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(wide, 0xFF), 0xFF);
}

// Each 16-bit lane up to 255 * 255 divided by 255, rounded: (x + 128) * 257 >> 16
// is the plain (y + (y >> 8)) >> 8 with y = x + 128.
__m128i DivideBy255(__m128i x) {
    return _mm_mulhi_epu16(_mm_add_epi16(x, _mm_set1_epi16(128)), _mm_set1_epi16(257));
}

// Each 32-bit lane divided by 255 * 255, rounded, as the plain loop does it:
// floor(y * 66052 / 2^32) is (y + (y * 129 >> 14)) >> 16, all within 32 bits
// for the largest blend, and the product corrects an overshoot by one.
__m128i DivideBy65025(__m128i x) {
    const __m128i rounded = _mm_add_epi32(x, _mm_set1_epi32(32512));
    const __m128i times129 = _mm_add_epi32(_mm_slli_epi32(rounded, 7), rounded);
    const __m128i quotient =
        _mm_srli_epi32(_mm_add_epi32(rounded, _mm_srli_epi32(times129, 14)), 16);
    const __m128i product = _mm_add_epi32(
        _mm_sub_epi32(_mm_slli_epi32(quotient, 16), _mm_slli_epi32(quotient, 9)), quotient);
    return _mm_add_epi32(quotient, _mm_cmpgt_epi32(product, rounded));
}

// How four pixels land on the destination, one type per Laying; `kBlends`
// says whether transparent pixels leave it as it is.
struct CopyLaying {
    static constexpr Laying kLaying = Laying::Copy;
    static constexpr bool kBlends = false;
    explicit CopyLaying(int) {}
    void Put(std::uint8_t* out, __m128i over) const { Store(out, over); }
};

struct OverLaying {
    static constexpr Laying kLaying = Laying::Over;
    static constexpr bool kBlends = true;
    explicit OverLaying(int) {}
    void Put(std::uint8_t* out, __m128i over) const {
        if (AllZero(over)) {
            return;
        }
        const __m128i under = Load(out);
        if (AllOpaque(over)) {
            Store(out, WithTopOf(over, under));
            return;
        }
        const __m128i max = _mm_set1_epi16(255);
        const __m128i low = DivideBy255(
            _mm_mullo_epi16(WidenLow(under), _mm_sub_epi16(max, SpreadTop(WidenLow(over)))));
        const __m128i high = DivideBy255(
            _mm_mullo_epi16(WidenHigh(under), _mm_sub_epi16(max, SpreadTop(WidenHigh(over)))));
        Store(out, WithTopOf(_mm_adds_epu8(over, _mm_packus_epi16(low, high)), under));
    }
};

struct FadedLaying {
    static constexpr Laying kLaying = Laying::Faded;
    static constexpr bool kBlends = true;
    explicit FadedLaying(int opacity)
        : opacity_(_mm_set1_epi16(static_cast<short>(opacity))),
          transparency_(_mm_set1_epi16(static_cast<short>(255 - opacity))),
          overWeight_(_mm_set1_epi16(static_cast<short>(opacity * 255))) {}

    void Put(std::uint8_t* out, __m128i over) const {
        if (AllZero(over)) {
            return;
        }
        const __m128i under = Load(out);
        if (AllOpaque(over)) {
            // With A = 255 the weights share a factor of 255:
            // (C O + D (255 - O)) / 255, which fits 16 bits.
            const __m128i low = DivideBy255(_mm_add_epi16(
                _mm_mullo_epi16(WidenLow(over), opacity_),
                _mm_mullo_epi16(WidenLow(under), transparency_)));
            const __m128i high = DivideBy255(_mm_add_epi16(
                _mm_mullo_epi16(WidenHigh(over), opacity_),
                _mm_mullo_epi16(WidenHigh(under), transparency_)));
            Store(out, WithTopOf(_mm_packus_epi16(low, high), under));
            return;
        }
        const __m128i low = Blend(WidenLow(over), WidenLow(under));
        const __m128i high = Blend(WidenHigh(over), WidenHigh(under));
        Store(out, WithTopOf(_mm_packus_epi16(low, high), under));
    }

private:
    // Two pixels as 16-bit lanes: C * O * 255 + D * (255 * 255 - A * O) as
    // exact 32-bit products from their low and high halves, then divided.
    __m128i Blend(__m128i over, __m128i under) const {
        const __m128i underWeight = _mm_sub_epi16(_mm_set1_epi16(static_cast<short>(255 * 255)),
                                                  _mm_mullo_epi16(SpreadTop(over), opacity_));
        const __m128i overLow = _mm_mullo_epi16(over, overWeight_);
        const __m128i overHigh = _mm_mulhi_epu16(over, overWeight_);
        const __m128i underLow = _mm_mullo_epi16(under, underWeight);
        const __m128i underHigh = _mm_mulhi_epu16(under, underWeight);
        const __m128i first = _mm_add_epi32(_mm_unpacklo_epi16(overLow, overHigh),
                                            _mm_unpacklo_epi16(underLow, underHigh));
        const __m128i second = _mm_add_epi32(_mm_unpackhi_epi16(overLow, overHigh),
                                             _mm_unpackhi_epi16(underLow, underHigh));
        return _mm_packs_epi32(DivideBy65025(first), DivideBy65025(second));
    }

    __m128i opacity_;
    __m128i transparency_;
    __m128i overWeight_;
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

// The shares of two columns, each four times.
__m128i SharesOf(const std::uint16_t* weights) {
    return _mm_packs_epi32(_mm_srli_epi32(Load(weights), 16),
                           _mm_srli_epi32(Load(weights + kColumnWeights), 16));
}

void Across(std::uint16_t* out, const std::uint8_t* row, const ColumnPairs& columns, int count) {
    const __m128i one = _mm_set1_epi16(256);
    int i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        const __m128i first = Gather(row, columns.first + i);
        const __m128i second = Gather(row, columns.second + i);
        const __m128i sharesLow = SharesOf(columns.weights + i * kColumnWeights);
        const __m128i sharesHigh = SharesOf(columns.weights + (i + 2) * kColumnWeights);
        Store(out + i * kPixelBytes,
              _mm_add_epi16(_mm_mullo_epi16(WidenLow(first), _mm_sub_epi16(one, sharesLow)),
                            _mm_mullo_epi16(WidenLow(second), sharesLow)));
        Store(out + i * kPixelBytes + 8,
              _mm_add_epi16(_mm_mullo_epi16(WidenHigh(first), _mm_sub_epi16(one, sharesHigh)),
                            _mm_mullo_epi16(WidenHigh(second), sharesHigh)));
    }
    const ColumnPairs rest{columns.first + i, columns.second + i,
                           columns.weights + i * kColumnWeights, columns.adjacent};
    Plain().across(out + i * kPixelBytes, row, rest, count - i);
}

// One pixel's four bytes from its (upper, lower) pairs. The values, up to
// 255 * 256, are centred on 0 (the top bit flipped) so that the signed
// multiply-add takes them: the product then lacks 32768 * 256, added back
// with the rounding.
__m128i DownPixel(__m128i pairs, __m128i weights) {
    const __m128i restore = _mm_set1_epi32(32768 * 256 + 32768);
    return _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(pairs, weights), restore), 16);
}

template <class Laid>
void Down(std::uint8_t* out, const std::uint16_t* upper, const std::uint16_t* lower, int count,
          int share, int opacity) {
    const Laid laying(opacity);
    const __m128i weights = _mm_set1_epi32((256 - share) | (share << 16));
    const __m128i centre = _mm_set1_epi16(static_cast<short>(0x8000));
    int i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        const std::uint16_t* top = upper + i * kPixelBytes;
        const std::uint16_t* bottom = lower + i * kPixelBytes;
        __m128i upperFirst = Load(top), upperSecond = Load(top + 8);
        __m128i lowerFirst = Load(bottom), lowerSecond = Load(bottom + 8);
        if (Laid::kBlends && AllZero(_mm_or_si128(_mm_or_si128(upperFirst, upperSecond),
                                                  _mm_or_si128(lowerFirst, lowerSecond)))) {
            continue;  // transparent pixels: nothing to lay
        }
        upperFirst = _mm_xor_si128(upperFirst, centre);
        upperSecond = _mm_xor_si128(upperSecond, centre);
        lowerFirst = _mm_xor_si128(lowerFirst, centre);
        lowerSecond = _mm_xor_si128(lowerSecond, centre);
        const __m128i first =
            _mm_packs_epi32(DownPixel(_mm_unpacklo_epi16(upperFirst, lowerFirst), weights),
                            DownPixel(_mm_unpackhi_epi16(upperFirst, lowerFirst), weights));
        const __m128i second =
            _mm_packs_epi32(DownPixel(_mm_unpacklo_epi16(upperSecond, lowerSecond), weights),
                            DownPixel(_mm_unpackhi_epi16(upperSecond, lowerSecond), weights));
        laying.Put(out + i * kPixelBytes, _mm_packus_epi16(first, second));
    }
    Plain().down[static_cast<int>(Laid::kLaying)](out + i * kPixelBytes, upper + i * kPixelBytes,
                                                   lower + i * kPixelBytes, count - i, share,
                                                   opacity);
}

void PrepareStraight(std::uint8_t* out, const std::uint8_t* in, int count) {
    int i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        const __m128i pixels = Load(in + i * kPixelBytes);
        const __m128i low = WidenLow(pixels), high = WidenHigh(pixels);
        const __m128i premultiplied =
            _mm_packus_epi16(DivideBy255(_mm_mullo_epi16(low, SpreadTop(low))),
                             DivideBy255(_mm_mullo_epi16(high, SpreadTop(high))));
        Store(out + i * kPixelBytes, WithTopOf(premultiplied, pixels));
    }
    Plain().prepare[static_cast<int>(SourceAlpha::Straight)](out + i * kPixelBytes,
                                                             in + i * kPixelBytes, count - i);
}

void PreparePremultiplied(std::uint8_t* out, const std::uint8_t* in, int count) {
    int i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        const __m128i pixels = Load(in + i * kPixelBytes);
        const __m128i alpha = _mm_srli_epi32(pixels, 24);
        const __m128i twice = _mm_or_si128(alpha, _mm_slli_epi32(alpha, 8));
        const __m128i everywhere = _mm_or_si128(twice, _mm_slli_epi32(twice, 16));
        Store(out + i * kPixelBytes, _mm_min_epu8(pixels, everywhere));
    }
    Plain().prepare[static_cast<int>(SourceAlpha::Premultiplied)](
        out + i * kPixelBytes, in + i * kPixelBytes, count - i);
}

void PrepareOpaque(std::uint8_t* out, const std::uint8_t* in, int count) {
    const __m128i top = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    int i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        Store(out + i * kPixelBytes, _mm_or_si128(Load(in + i * kPixelBytes), top));
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

const RowKernels kSse2 = {
    "sse2",
    {&Nearest<CopyLaying>, &Nearest<OverLaying>, &Nearest<FadedLaying>},
    &Across,
    {&Down<CopyLaying>, &Down<OverLaying>, &Down<FadedLaying>},
    {&PrepareStraight, &PreparePremultiplied, &PrepareOpaque},
    &Lay<OverLaying>,
    &Lay<FadedLaying>,
};

}  // namespace

const RowKernels& Sse2RowKernels() { return kSse2; }
