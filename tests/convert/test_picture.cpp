#include "tests/convert/test_picture.h"

#include <cstring>
#include <stdexcept>
#include <tuple>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace {

constexpr int kGuardRows = 2;
constexpr int kGuardBytesLeft = 3;
constexpr int kGuardBytesRight = 6;

}  // namespace

bool SamplePosition::operator<(const SamplePosition& other) const {
    return std::tie(plane, y, x) < std::tie(other.plane, other.y, other.x);
}

std::string FormatName(AVPixelFormat format) {
    const char* name = av_get_pix_fmt_name(format);
    return name != nullptr ? name : "unknown";
}

TestPicture::TestPicture(AVPixelFormat format, int width, int height)
    : format_(format), width_(width), height_(height) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    depth_ = descriptor->comp[0].depth;
    // Every format deeper than 8 bits here keeps its samples in 16-bit words.
    bytesPerElement_ = depth_ > 8 ? 2 : 1;
    int rowBytes[4] = {};
    if (av_image_fill_linesizes(rowBytes, format, width) < 0) {
        throw std::invalid_argument("no layout for " + FormatName(format));
    }
    std::ptrdiff_t linesizes[4] = {};
    for (int i = 0; i < 4; ++i) {
        linesizes[i] = rowBytes[i];
    }
    std::size_t sizes[4] = {};
    av_image_fill_plane_sizes(sizes, format, height, linesizes);
    for (int i = 0; i < 4 && rowBytes[i] > 0; ++i) {
        Plane plane;
        plane.rowBytes = rowBytes[i];
        plane.rows = static_cast<int>(sizes[i] / static_cast<std::size_t>(rowBytes[i]));
        plane.stride = kGuardBytesLeft + plane.rowBytes + kGuardBytesRight;
        plane.storage.assign(static_cast<std::size_t>(plane.stride) *
                                 static_cast<std::size_t>(plane.rows + 2 * kGuardRows),
                             kGuard);
        plane.firstRow = static_cast<std::size_t>(kGuardRows * plane.stride + kGuardBytesLeft);
        planes_.push_back(std::move(plane));
    }
    PointAtPlanes();
    for (int plane = 0; plane < planeCount(); ++plane) {
        FillPlane(plane, 0);
    }
}

TestPicture::TestPicture(const TestPicture& other)
    : format_(other.format_),
      width_(other.width_),
      height_(other.height_),
      depth_(other.depth_),
      bytesPerElement_(other.bytesPerElement_),
      planes_(other.planes_) {
    PointAtPlanes();
}

void TestPicture::PointAtPlanes() {
    for (std::size_t i = 0; i < planes_.size(); ++i) {
        pointers_[i] = planes_[i].storage.data() + planes_[i].firstRow;
        linesizes_[i] = planes_[i].stride;
    }
}

int TestPicture::elementsPerRow(int plane) const {
    return planes_[static_cast<std::size_t>(plane)].rowBytes / bytesPerElement_;
}

int TestPicture::Sample(int plane, int x, int y) const {
    const std::uint8_t* at = pointers_[plane] + static_cast<std::ptrdiff_t>(y) * linesizes_[plane] +
                             x * bytesPerElement_;
    return bytesPerElement_ == 1 ? at[0] : at[0] | at[1] << 8;
}

void TestPicture::SetSample(int plane, int x, int y, int value) {
    std::uint8_t* at = pointers_[plane] + static_cast<std::ptrdiff_t>(y) * linesizes_[plane] +
                       x * bytesPerElement_;
    at[0] = static_cast<std::uint8_t>(value);
    if (bytesPerElement_ == 2) {
        at[1] = static_cast<std::uint8_t>(value >> 8);
    }
}

void TestPicture::FillRandom(std::mt19937& random) {
    std::uniform_int_distribution<int> values(0, bytesPerElement_ == 1 ? 255 : maximum());
    for (int plane = 0; plane < planeCount(); ++plane) {
        for (int y = 0; y < rows(plane); ++y) {
            for (int x = 0; x < elementsPerRow(plane); ++x) {
                SetSample(plane, x, y, values(random));
            }
        }
    }
}

void TestPicture::FillPlane(int plane, int value) {
    for (int y = 0; y < rows(plane); ++y) {
        for (int x = 0; x < elementsPerRow(plane); ++x) {
            SetSample(plane, x, y, value);
        }
    }
}

bool TestPicture::GuardsIntact() const {
    for (const Plane& plane : planes_) {
        for (std::size_t i = 0; i < plane.storage.size(); ++i) {
            const std::ptrdiff_t fromFirst =
                static_cast<std::ptrdiff_t>(i) - static_cast<std::ptrdiff_t>(plane.firstRow);
            const std::ptrdiff_t row = fromFirst >= 0 ? fromFirst / plane.stride : -1;
            const std::ptrdiff_t column = fromFirst >= 0 ? fromFirst % plane.stride : -1;
            const bool inside = row >= 0 && row < plane.rows && column < plane.rowBytes;
            if (!inside && plane.storage[i] != kGuard) {
                return false;
            }
        }
    }
    return true;
}

std::vector<SamplePosition> TestPicture::DifferencesFrom(const TestPicture& other) const {
    std::vector<SamplePosition> differences;
    for (int plane = 0; plane < planeCount(); ++plane) {
        for (int y = 0; y < rows(plane); ++y) {
            for (int x = 0; x < elementsPerRow(plane); ++x) {
                if (Sample(plane, x, y) != other.Sample(plane, x, y)) {
                    differences.push_back({plane, x, y});
                }
            }
        }
    }
    return differences;
}
