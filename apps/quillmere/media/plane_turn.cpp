#include "apps/quillmere/media/plane_turn.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

// A transposed plane is walked in square tiles, so that the rows a tile
// reads across stay in the cache while it is written.
constexpr int kTile = 32;
constexpr int kLargestElement = 8;

template <int Bytes>
struct Element {
    std::uint8_t bytes[Bytes];
};

template <int Bytes>
void TurnElements(const std::uint8_t* in, std::ptrdiff_t inStride, int width, int height,
                  const Orientation& turn, std::uint8_t* out, std::ptrdiff_t outStride) {
    using Sample = Element<Bytes>;
    if (!turn.transpose) {
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* from = in + (turn.mirrorY ? height - 1 - y : y) * inStride;
            std::uint8_t* to = out + y * outStride;
            if (!turn.mirrorX) {
                std::memcpy(to, from, static_cast<std::size_t>(width) * Bytes);
                continue;
            }
            const auto* source = reinterpret_cast<const Sample*>(from);
            auto* target = reinterpret_cast<Sample*>(to);
            for (int x = 0; x < width; ++x) {
                target[x] = source[width - 1 - x];
            }
        }
        return;
    }
    // Seen: `height` wide and `width` tall; seen (x, y) shows stored (p, q)
    // with p from y and q from x.
    const int seenWidth = height;
    const int seenHeight = width;
    const std::ptrdiff_t step = turn.mirrorX ? -inStride : inStride;
    for (int tileY = 0; tileY < seenHeight; tileY += kTile) {
        const int endY = std::min(tileY + kTile, seenHeight);
        for (int tileX = 0; tileX < seenWidth; tileX += kTile) {
            const int endX = std::min(tileX + kTile, seenWidth);
            const int firstRow = turn.mirrorX ? seenWidth - 1 - tileX : tileX;
            for (int y = tileY; y < endY; ++y) {
                const int column = turn.mirrorY ? seenHeight - 1 - y : y;
                const std::uint8_t* from = in + firstRow * inStride + column * Bytes;
                auto* target = reinterpret_cast<Sample*>(out + y * outStride);
                for (int x = tileX; x < endX; ++x, from += step) {
                    std::memcpy(&target[x], from, Bytes);
                }
            }
        }
    }
}

}  // namespace

void TurnPlane(const std::uint8_t* in, std::ptrdiff_t inStride, int width, int height,
               int elementBytes, const Orientation& turn, std::uint8_t* out,
               std::ptrdiff_t outStride) {
    switch (elementBytes) {
    case 1: return TurnElements<1>(in, inStride, width, height, turn, out, outStride);
    case 2: return TurnElements<2>(in, inStride, width, height, turn, out, outStride);
    case 3: return TurnElements<3>(in, inStride, width, height, turn, out, outStride);
    case 4: return TurnElements<4>(in, inStride, width, height, turn, out, outStride);
    case 6: return TurnElements<6>(in, inStride, width, height, turn, out, outStride);
    case kLargestElement:
        return TurnElements<kLargestElement>(in, inStride, width, height, turn, out, outStride);
    default:
        throw std::invalid_argument("no plane of " + std::to_string(elementBytes) +
                                    "-byte elements can be turned");
    }
}
