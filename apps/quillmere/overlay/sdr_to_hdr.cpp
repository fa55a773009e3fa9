#include "apps/quillmere/overlay/sdr_to_hdr.h"

#include <zimg.h>

#include <array>
#include <cstring>

namespace {

constexpr std::int64_t kLargestSide = 16384;
constexpr int kBitsPerByte = 8;
constexpr std::size_t kPlanes = 3;
// zimg's buffers start, and their rows step, on this many bytes.
constexpr std::size_t kAlignment = 64;

std::int64_t RowBytes(std::int64_t width, int bitCount) {
    return (width * bitCount / kBitsPerByte + 3) & ~std::int64_t{3};
}

std::size_t Aligned(std::size_t bytes) { return (bytes + kAlignment - 1) & ~(kAlignment - 1); }

// A block of memory whose start is aligned for zimg.
class AlignedBlock {
public:
    void Resize(std::size_t bytes) {
        storage_.resize(bytes + kAlignment);
        const auto address = reinterpret_cast<std::uintptr_t>(storage_.data());
        start_ = storage_.data() + (Aligned(address) - address);
    }
    std::uint8_t* data() { return start_; }

private:
    std::vector<std::uint8_t> storage_;
    std::uint8_t* start_ = nullptr;
};

// libavutil and zimg number transfers and primaries alike (the codes of
// ITU-T H.273); these are the ones both know.
zimg_transfer_characteristics_e ZimgTransfer(AVColorTransferCharacteristic transfer) {
    switch (transfer) {
    case AVCOL_TRC_SMPTE2084:
        return ZIMG_TRANSFER_ST2084;
    case AVCOL_TRC_ARIB_STD_B67:
        return ZIMG_TRANSFER_ARIB_B67;
    case AVCOL_TRC_IEC61966_2_1:
        return ZIMG_TRANSFER_IEC_61966_2_1;
    case AVCOL_TRC_GAMMA22:
        return ZIMG_TRANSFER_BT470_M;
    case AVCOL_TRC_GAMMA28:
        return ZIMG_TRANSFER_BT470_BG;
    case AVCOL_TRC_SMPTE240M:
        return ZIMG_TRANSFER_ST240_M;
    default:
        // Unstated, and the BT.709 family: SDR as displays show it.
        return ZIMG_TRANSFER_BT709;
    }
}

zimg_color_primaries_e ZimgPrimaries(AVColorPrimaries primaries) {
    switch (primaries) {
    case AVCOL_PRI_BT2020:
        return ZIMG_PRIMARIES_BT2020;
    case AVCOL_PRI_BT470M:
        return ZIMG_PRIMARIES_BT470_M;
    case AVCOL_PRI_BT470BG:
        return ZIMG_PRIMARIES_BT470_BG;
    case AVCOL_PRI_SMPTE170M:
    case AVCOL_PRI_SMPTE240M:
        return ZIMG_PRIMARIES_ST170_M;
    case AVCOL_PRI_SMPTE432:
        return ZIMG_PRIMARIES_ST432_1;
    default:
        return ZIMG_PRIMARIES_BT709;
    }
}

}  // namespace

bool IsHdrTransfer(AVColorTransferCharacteristic transfer) {
    return transfer == AVCOL_TRC_SMPTE2084 || transfer == AVCOL_TRC_ARIB_STD_B67;
}

std::optional<SdrToHdr> SdrToHdrFor(AVColorTransferCharacteristic sourceTransfer,
                                    AVColorPrimaries sourcePrimaries,
                                    AVColorTransferCharacteristic targetTransfer,
                                    AVColorPrimaries targetPrimaries) {
    if (!IsHdrTransfer(targetTransfer) || IsHdrTransfer(sourceTransfer)) {
        return std::nullopt;
    }
    SdrToHdr conversion;
    conversion.sourceTransfer = sourceTransfer;
    conversion.sourcePrimaries = sourcePrimaries;
    conversion.targetTransfer = targetTransfer;
    // HDR pictures that do not say otherwise are in the wide primaries.
    conversion.targetPrimaries =
        targetPrimaries == AVCOL_PRI_UNSPECIFIED ? AVCOL_PRI_BT2020 : targetPrimaries;
    return conversion;
}

// The zimg graph for one picture size, and its planes.
struct SdrToHdrMapper::Graph {
    int width = 0;
    int height = 0;
    std::size_t stride = 0;
    zimg_filter_graph* graph = nullptr;
    AlignedBlock input;
    AlignedBlock converted;
    AlignedBlock scratch;
    ~Graph() { zimg_filter_graph_free(graph); }
};

SdrToHdrMapper::SdrToHdrMapper(const SdrToHdr& conversion) : conversion_(conversion) {}
SdrToHdrMapper::~SdrToHdrMapper() = default;

bool SdrToHdrMapper::Convert(int width, int height) {
    if (graph_ != nullptr && graph_->width == width && graph_->height == height) {
        return true;
    }
    auto made = std::make_unique<Graph>();
    zimg_image_format source;
    zimg_image_format target;
    for (zimg_image_format* format : {&source, &target}) {
        zimg_image_format_default(format, ZIMG_API_VERSION);
        format->width = static_cast<unsigned>(width);
        format->height = static_cast<unsigned>(height);
        format->pixel_type = ZIMG_PIXEL_BYTE;
        format->color_family = ZIMG_COLOR_RGB;
        format->matrix_coefficients = ZIMG_MATRIX_RGB;
        format->pixel_range = ZIMG_RANGE_FULL;
        format->depth = kBitsPerByte;
    }
    source.transfer_characteristics = ZimgTransfer(conversion_.sourceTransfer);
    source.color_primaries = ZimgPrimaries(conversion_.sourcePrimaries);
    target.transfer_characteristics = ZimgTransfer(conversion_.targetTransfer);
    target.color_primaries = ZimgPrimaries(conversion_.targetPrimaries);
    zimg_graph_builder_params params;
    zimg_graph_builder_params_default(&params, ZIMG_API_VERSION);
    params.nominal_peak_luminance = kSdrReferenceWhite;
    made->graph = zimg_filter_graph_build(&source, &target, &params);
    std::size_t scratchBytes = 0;
    if (made->graph == nullptr ||
        zimg_filter_graph_get_tmp_size(made->graph, &scratchBytes) != ZIMG_ERROR_SUCCESS) {
        return false;
    }
    made->width = width;
    made->height = height;
    made->stride = Aligned(static_cast<std::size_t>(width));
    const std::size_t planeBytes = made->stride * static_cast<std::size_t>(height);
    made->input.Resize(planeBytes * kPlanes);
    made->converted.Resize(planeBytes * kPlanes);
    made->scratch.Resize(scratchBytes);
    graph_ = std::move(made);
    return true;
}

void* SdrToHdrMapper::Map(const void* record) {
    BITMAPINFOHEADER header;
    std::memcpy(&header, record, sizeof header);
    const int bitCount = header.biBitCount;
    const std::int64_t width = header.biWidth;
    const std::int64_t height =
        header.biHeight < 0 ? -std::int64_t{header.biHeight} : header.biHeight;
    if ((bitCount != 24 && bitCount != 32) || header.biCompression != BI_RGB || width <= 0 ||
        width > kLargestSide || height <= 0 || height > kLargestSide ||
        !Convert(static_cast<int>(width), static_cast<int>(height))) {
        return nullptr;
    }
    const std::int64_t row = RowBytes(width, bitCount);
    const std::size_t pixelBytes = static_cast<std::size_t>(bitCount / kBitsPerByte);
    const auto* bits = static_cast<const std::uint8_t*>(record) + header.biSize;
    output_.resize(sizeof(BITMAPINFOHEADER) + static_cast<std::size_t>(row * height));
    BITMAPINFOHEADER mapped = header;
    mapped.biSize = sizeof(BITMAPINFOHEADER);
    mapped.biSizeImage = static_cast<DWORD>(row * height);
    std::memcpy(output_.data(), &mapped, sizeof mapped);
    std::uint8_t* out = output_.data() + sizeof(BITMAPINFOHEADER);

    // Rows keep their stored order: the conversion works pixel by pixel.
    Graph& graph = *graph_;
    const std::size_t planeBytes = graph.stride * static_cast<std::size_t>(height);
    std::array<std::uint8_t*, kPlanes> input{};
    std::array<std::uint8_t*, kPlanes> converted{};
    for (std::size_t plane = 0; plane < kPlanes; ++plane) {
        input[plane] = graph.input.data() + plane * planeBytes;
        converted[plane] = graph.converted.data() + plane * planeBytes;
    }
    // Records hold blue, green, red; zimg's planes are red, green, blue.
    constexpr std::array<std::size_t, kPlanes> kRecordByte{2, 1, 0};
    for (std::int64_t y = 0; y < height; ++y) {
        const std::uint8_t* pixel = bits + y * row;
        const std::size_t offset = static_cast<std::size_t>(y) * graph.stride;
        for (std::int64_t x = 0; x < width; ++x, pixel += pixelBytes) {
            for (std::size_t plane = 0; plane < kPlanes; ++plane) {
                input[plane][offset + static_cast<std::size_t>(x)] = pixel[kRecordByte[plane]];
            }
        }
    }
    zimg_image_buffer_const source{};
    source.version = ZIMG_API_VERSION;
    zimg_image_buffer target{};
    target.version = ZIMG_API_VERSION;
    for (std::size_t plane = 0; plane < kPlanes; ++plane) {
        source.plane[plane].data = input[plane];
        source.plane[plane].stride = static_cast<std::ptrdiff_t>(graph.stride);
        source.plane[plane].mask = ZIMG_BUFFER_MAX;
        target.plane[plane].data = converted[plane];
        target.plane[plane].stride = static_cast<std::ptrdiff_t>(graph.stride);
        target.plane[plane].mask = ZIMG_BUFFER_MAX;
    }
    if (zimg_filter_graph_process(graph.graph, &source, &target, graph.scratch.data(), nullptr,
                                  nullptr, nullptr, nullptr) != ZIMG_ERROR_SUCCESS) {
        return nullptr;
    }
    for (std::int64_t y = 0; y < height; ++y) {
        const std::uint8_t* from = bits + y * row;
        std::uint8_t* to = out + y * row;
        // Alpha and the row's padding come as they were.
        std::memcpy(to, from, static_cast<std::size_t>(row));
        const std::size_t offset = static_cast<std::size_t>(y) * graph.stride;
        for (std::int64_t x = 0; x < width; ++x, to += pixelBytes) {
            for (std::size_t plane = 0; plane < kPlanes; ++plane) {
                to[kRecordByte[plane]] = converted[plane][offset + static_cast<std::size_t>(x)];
            }
        }
    }
    return output_.data();
}

COLORREF SdrToHdrMapper::MapColor(COLORREF color) {
    struct {
        BITMAPINFOHEADER header;
        std::uint8_t pixel[4];
    } one{};
    one.header.biSize = sizeof(BITMAPINFOHEADER);
    one.header.biWidth = 1;
    one.header.biHeight = 1;
    one.header.biPlanes = 1;
    one.header.biBitCount = 32;
    one.header.biCompression = BI_RGB;
    // COLORREF is 0x00BBGGRR; the record's pixel is blue, green, red.
    one.pixel[0] = static_cast<std::uint8_t>(color >> 16);
    one.pixel[1] = static_cast<std::uint8_t>(color >> 8);
    one.pixel[2] = static_cast<std::uint8_t>(color);
    const auto* mapped = static_cast<const std::uint8_t*>(Map(&one));
    if (mapped == nullptr) {
        return color;
    }
    const std::uint8_t* pixel = mapped + sizeof(BITMAPINFOHEADER);
    return static_cast<COLORREF>(pixel[2]) | static_cast<COLORREF>(pixel[1]) << 8 |
           static_cast<COLORREF>(pixel[0]) << 16;
}
