#include "apps/quillmere/overlay/partial_scale.h"

#include <algorithm>
#include <numeric>

namespace {

// One source pixel in libswscale's fixed-point increments.
constexpr std::int64_t kWholePixel = std::int64_t{1} << 16;
// Taps per source pixel crossed of the widest filter offered (lanczos);
// libswscale's filter spans this many plus one.
constexpr std::int64_t kWidestSizeFactor = 6;
// Source pixels kept beyond the filter's reach: libswscale centres its
// taps to within a pixel.
constexpr std::int64_t kReachSlack = 2;

std::int64_t Increment(std::int64_t source, std::int64_t output) {
    return ((source << 16) + (output >> 1)) / output;
}

// libswscale's filter length along an axis, before it trims negligible taps.
std::int64_t FilterTaps(std::int64_t source, std::int64_t output) {
    return output >= source ? 1 + kWidestSizeFactor
                            : 1 + (kWidestSizeFactor * source + output - 1) / output;
}

// Packed RGB is read with its chroma halved across for outputs at most half as wide.
bool HalvesChroma(std::int64_t source, std::int64_t output) { return output <= (source >> 1); }

std::int64_t FloorDivide(std::int64_t value, std::int64_t divisor) {
    return value >= 0 ? value / divisor : -((divisor - 1 - value) / divisor);
}

// The source pixel under output pixel `index`'s centre (rounded down).
std::int64_t SourcePixelUnder(std::int64_t index, std::int64_t increment) {
    return FloorDivide((2 * index + 1) * increment - kWholePixel, 2 * kWholePixel);
}

struct AxisScale {
    std::int64_t source;
    std::int64_t output;
    bool acrossRgb;  // the horizontal axis of packed RGB (chroma may be halved)

    // Whether a smaller scale of `length` source pixels into `outputs`
    // steps and filters as this one does.
    bool SameSteps(std::int64_t length, std::int64_t outputs) const {
        if (Increment(length, outputs) != Increment(source, output)) {
            return false;
        }
        if (!acrossRgb) {
            return true;
        }
        const bool halved = HalvesChroma(source, output);
        return HalvesChroma(length, outputs) == halved &&
               (!halved || Increment((length + 1) / 2, outputs) ==
                               Increment((source + 1) / 2, output));
    }
};

// The span of a smaller scale whose output from `outputStart` on reaches
// `last` of the whole scale's output and whose source reaches
// `neededSourceEnd`; none (output length 0) when no span starting there fits.
PartialSpan SpanFrom(const AxisScale& axis, std::int64_t outputStart, std::int64_t last,
                     std::int64_t neededSourceEnd) {
    const std::int64_t increment = Increment(axis.source, axis.output);
    const std::int64_t sourceStart = outputStart * increment / kWholePixel;
    PartialSpan span{sourceStart, 0, outputStart, 0};
    if (neededSourceEnd >= axis.source) {
        // The whole scale's far edge clamps the window's taps: share it.
        span.sourceLength = axis.source - sourceStart;
        span.outputLength = axis.output - outputStart;
        if (!axis.SameSteps(span.sourceLength, span.outputLength)) {
            span.outputLength = 0;
        }
        return span;
    }
    for (std::int64_t outputs = last - outputStart; outputStart + outputs <= axis.output;
         ++outputs) {
        // The source lengths whose increment into `outputs` is the same.
        const std::int64_t lowest =
            (increment * outputs - (outputs >> 1) + kWholePixel - 1) / kWholePixel;
        const std::int64_t highest =
            ((increment + 1) * outputs - (outputs >> 1) + kWholePixel - 1) / kWholePixel - 1;
        for (std::int64_t length = std::max(lowest, neededSourceEnd - sourceStart);
             length <= highest && sourceStart + length <= axis.source; ++length) {
            if (axis.SameSteps(length, outputs)) {
                span.sourceLength = length;
                span.outputLength = outputs;
                return span;
            }
        }
    }
    return span;
}

PartialSpan PlanAxis(const AxisScale& axis, std::int64_t first, std::int64_t last) {
    const PartialSpan whole{0, axis.source, 0, axis.output};
    const std::int64_t taps = FilterTaps(axis.source, axis.output);
    if ((first <= 0 && last >= axis.output) || axis.source < taps + 2) {
        // A source narrower than the filter is filtered with fewer taps, as
        // a part of it would not be.
        return whole;
    }
    const std::int64_t increment = Increment(axis.source, axis.output);
    const std::int64_t reach = taps / 2 + kReachSlack;
    const std::int64_t neededStart = SourcePixelUnder(first, increment) - reach;
    const std::int64_t neededEnd = SourcePixelUnder(last - 1, increment) + reach + 1;
    // Output pixels whose position falls on a whole source pixel.
    const std::int64_t period = kWholePixel / std::gcd(increment, kWholePixel);
    std::int64_t start = first / period * period;
    if (neededStart <= 0 || (axis.acrossRgb && HalvesChroma(axis.source, axis.output))) {
        start = 0;
    }
    for (; start > 0; start -= period) {
        if (start * increment / kWholePixel <= neededStart) {
            break;
        }
    }
    for (; start >= 0; start -= period) {
        const PartialSpan span = SpanFrom(axis, start, last, neededEnd);
        if (span.outputLength > 0) {
            return span;
        }
        if (start == 0) {
            break;
        }
    }
    return whole;
}

}  // namespace

PartialScale PlanPartialScale(std::int64_t sourceWidth, std::int64_t sourceHeight,
                              std::int64_t outputWidth, std::int64_t outputHeight,
                              const OutputWindow& window) {
    PartialScale scale;
    scale.across = PlanAxis(AxisScale{sourceWidth, outputWidth, true}, window.left,
                            window.left + window.width);
    scale.down = PlanAxis(AxisScale{sourceHeight, outputHeight, false}, window.top,
                          window.top + window.height);
    return scale;
}
