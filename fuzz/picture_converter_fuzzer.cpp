// The picture converter on pictures a damaged or raw file could hold: any
// pixel format it handles, frame size, matrix, range and chroma siting, any
// rectangle, plane strides (bottom-up planes too) and any 16-bit words in
// the samples, above the depth included.
// Checks: nothing is read outside the planes, each in a block of exactly its
// own size, or past the converter's tables (the sanitizer); the fastest
// kernels (SSE2) and the plain reference kernels give the same bytes both
// ways; a picture converts as the same picture with every sample clamped to
// its depth; ToBgra writes the rectangle's pixels and nothing else (row gaps
// and the guard bytes around them keep their bytes); the write-back changes
// no sample outside the rectangle's pixels and chroma blocks, never an alpha
// sample, and with an original only samples made from changed pixels; a
// rectangle outside the frame or off the chroma grid is refused.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "convert/conversion_kernels.h"
#include "convert/conversion_plan.h"
#include "convert/picture_converter.h"
#include "fuzz_input.h"

namespace {

constexpr const char* kTarget = "picture_converter_fuzzer";
constexpr std::uint8_t kGuard = 0xA5;
constexpr std::uint8_t kRowPadding = 0x5A;
constexpr std::size_t kGuardBytes = 64;
constexpr int kBytesPerPixel = 4;
constexpr int kLargestWidth = 300;  // more than one kernel chunk (256 pixels)
constexpr int kLargestHeight = 12;
constexpr int kLargestRowPadding = 40;
constexpr int kLargestPixelGap = 3;  // spare pixels between output rows
constexpr int kPlanes = 4;
// What the write-back reads: original or not, how many pixels change, and
// the seed of the changes.
constexpr std::size_t kWriteBackBytes = 1 + 4 + 4;

const AVColorSpace kColorspaces[] = {AVCOL_SPC_UNSPECIFIED, AVCOL_SPC_BT709,
                                     AVCOL_SPC_BT470BG,     AVCOL_SPC_SMPTE170M,
                                     AVCOL_SPC_FCC,         AVCOL_SPC_BT2020_NCL,
                                     AVCOL_SPC_BT2020_CL,   AVCOL_SPC_SMPTE240M};
const AVColorRange kRanges[] = {AVCOL_RANGE_UNSPECIFIED, AVCOL_RANGE_MPEG, AVCOL_RANGE_JPEG};
const AVChromaLocation kLocations[] = {AVCHROMA_LOC_UNSPECIFIED, AVCHROMA_LOC_LEFT,
                                       AVCHROMA_LOC_CENTER,      AVCHROMA_LOC_TOPLEFT,
                                       AVCHROMA_LOC_TOP,         AVCHROMA_LOC_BOTTOMLEFT,
                                       AVCHROMA_LOC_BOTTOM};

template <typename T, std::size_t N>
T Pick(FuzzInput& input, const T (&values)[N]) {
    return values[input.ReadBetween(0, static_cast<std::int64_t>(N) - 1)];
}

// The formats the converter takes, from libavutil's own list.
const std::vector<AVPixelFormat>& HandledFormats() {
    static const std::vector<AVPixelFormat> formats = [] {
        std::vector<AVPixelFormat> handled;
        for (const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_next(nullptr);
             descriptor != nullptr; descriptor = av_pix_fmt_desc_next(descriptor)) {
            const AVPixelFormat format = av_pix_fmt_desc_get_id(descriptor);
            if (PictureConverter::Handles(format)) {
                handled.push_back(format);
            }
        }
        return handled;
    }();
    return formats;
}

// A format by libavutil's number when the converter handles it, else one of
// those picked by the number (most numbers name no format at all).
AVPixelFormat ReadFormat(FuzzInput& input) {
    const auto id = input.Read<std::uint16_t>();
    const std::vector<AVPixelFormat>& formats = HandledFormats();
    for (const AVPixelFormat format : formats) {
        if (static_cast<int>(format) == id) {
            return format;
        }
    }
    return formats[id % formats.size()];
}

// The rest of the input, repeated as needed (shifted on each pass).
class Filler {
public:
    explicit Filler(std::string bytes) : bytes_(std::move(bytes)) {}
    std::uint8_t Next() {
        const std::size_t k = next_++;
        if (bytes_.empty()) {
            return static_cast<std::uint8_t>(k * 29 + 7);
        }
        return static_cast<std::uint8_t>(bytes_[k % bytes_.size()] + k / bytes_.size());
    }

private:
    std::string bytes_;
    std::size_t next_ = 0;
};

// How each word of a deep picture is drawn: as the input has it (mostly
// above a 10-bit depth), within the depth, or either in turn.
enum class Words { Any, WithinDepth, Mixed };

// A picture's planes, each in a block of exactly its rows (the last without
// padding after it), rows top first or bottom first.
struct Picture {
    AVPixelFormat format = AV_PIX_FMT_NONE;
    int depth = 8, bytesPerSample = 1;
    int planeCount = 0;
    int rowBytes[kPlanes] = {};
    int rows[kPlanes] = {};
    int strides[kPlanes] = {};  // positive: distance between rows in memory
    bool bottomUp[kPlanes] = {};
    std::vector<std::uint8_t> blocks[kPlanes];

    std::uint8_t* pointers[kPlanes] = {};
    int linesizes[kPlanes] = {};

    void PointAtPlanes() {
        for (int p = 0; p < planeCount; ++p) {
            std::uint8_t* first = blocks[p].data();
            pointers[p] = bottomUp[p] ? first + static_cast<std::ptrdiff_t>(rows[p] - 1) * strides[p]
                                      : first;
            linesizes[p] = bottomUp[p] ? -strides[p] : strides[p];
        }
    }
    Picture() = default;
    Picture(const Picture& other)
        : format(other.format), depth(other.depth), bytesPerSample(other.bytesPerSample),
          planeCount(other.planeCount) {
        for (int p = 0; p < kPlanes; ++p) {
            rowBytes[p] = other.rowBytes[p];
            rows[p] = other.rows[p];
            strides[p] = other.strides[p];
            bottomUp[p] = other.bottomUp[p];
            blocks[p] = other.blocks[p];
        }
        PointAtPlanes();
    }
    Picture& operator=(const Picture&) = delete;

    // Byte `column` of picture row `y` of plane `p`.
    std::uint8_t* At(int p, int y, int column) {
        return pointers[p] + static_cast<std::ptrdiff_t>(y) * linesizes[p] + column;
    }
    int Word(int p, int y, int column) {
        const std::uint8_t* at = At(p, y, column);
        return bytesPerSample == 1 ? at[0] : at[0] | at[1] << 8;
    }
    bool SameBytes(const Picture& other) const {
        for (int p = 0; p < planeCount; ++p) {
            if (blocks[p] != other.blocks[p]) {
                return false;
            }
        }
        return true;
    }
};

Picture MakePicture(FuzzInput& input, AVPixelFormat format, int width, int height) {
    Picture picture;
    picture.format = format;
    picture.depth = av_pix_fmt_desc_get(format)->comp[0].depth;
    picture.bytesPerSample = picture.depth > 8 ? 2 : 1;
    int rowBytes[kPlanes] = {};
    av_image_fill_linesizes(rowBytes, format, width);
    std::ptrdiff_t linesizes[kPlanes] = {};
    for (int p = 0; p < kPlanes; ++p) {
        linesizes[p] = rowBytes[p];
    }
    std::size_t sizes[kPlanes] = {};
    av_image_fill_plane_sizes(sizes, format, height, linesizes);
    for (int p = 0; p < kPlanes && rowBytes[p] > 0; ++p) {
        picture.planeCount = p + 1;
        picture.rowBytes[p] = rowBytes[p];
        picture.rows[p] = static_cast<int>(sizes[p] / static_cast<std::size_t>(rowBytes[p]));
        picture.strides[p] =
            rowBytes[p] + static_cast<int>(input.ReadBetween(0, kLargestRowPadding));
        picture.bottomUp[p] = input.Read<std::uint8_t>() % 4 == 0;
        picture.blocks[p].assign(static_cast<std::size_t>(picture.rows[p] - 1) *
                                         static_cast<std::size_t>(picture.strides[p]) +
                                     static_cast<std::size_t>(rowBytes[p]),
                                 kRowPadding);
    }
    picture.PointAtPlanes();
    return picture;
}

void FillSamples(Picture& picture, Filler& filler, Words words) {
    const int highMask = picture.bytesPerSample == 2 ? (1 << (picture.depth - 8)) - 1 : 0xFF;
    std::size_t count = 0;
    for (int p = 0; p < picture.planeCount; ++p) {
        for (int y = 0; y < picture.rows[p]; ++y) {
            for (int column = 0; column < picture.rowBytes[p]; ++column, ++count) {
                std::uint8_t value = filler.Next();
                const bool highByte = picture.bytesPerSample == 2 && column % 2 == 1;
                const bool within = words == Words::WithinDepth ||
                                    (words == Words::Mixed && (count / 2) % 3 != 0);
                if (highByte && within) {
                    value = static_cast<std::uint8_t>(value & highMask);
                }
                *picture.At(p, y, column) = value;
            }
        }
    }
}

// The same picture with every sample above the depth lowered to its maximum.
Picture ClampedCopy(const Picture& picture) {
    Picture clamped(picture);
    if (clamped.bytesPerSample == 1) {
        return clamped;
    }
    const int maximum = (1 << clamped.depth) - 1;
    for (int p = 0; p < clamped.planeCount; ++p) {
        for (int y = 0; y < clamped.rows[p]; ++y) {
            for (int column = 0; column < clamped.rowBytes[p]; column += 2) {
                const int value = std::min(clamped.Word(p, y, column), maximum);
                clamped.At(p, y, column)[0] = static_cast<std::uint8_t>(value);
                clamped.At(p, y, column)[1] = static_cast<std::uint8_t>(value >> 8);
            }
        }
    }
    return clamped;
}

// Pixel rows of a rectangle over guarded memory, `gap` spare pixels between
// rows, top row first or last in memory.
struct PixelBuffer {
    PixelBuffer(PictureRect rect, int gap, bool bottomUp)
        : width(rect.width), height(rect.height), stride((rect.width + gap) * kBytesPerPixel),
          bottomUp(bottomUp),
          bytes(kGuardBytes * 2 + static_cast<std::size_t>(std::max(rect.height, 1)) *
                                      static_cast<std::size_t>(stride),
                kGuard) {}
    std::uint8_t* Row(int y) {
        const int stored = bottomUp ? height - 1 - y : y;
        return bytes.data() + kGuardBytes + static_cast<std::size_t>(stored) * stride;
    }
    std::ptrdiff_t Stride() const { return bottomUp ? -stride : stride; }
    // Whether byte `i` of the buffer belongs to a pixel of the rectangle.
    bool InRect(std::size_t i) const {
        if (i < kGuardBytes) {
            return false;
        }
        const std::size_t offset = i - kGuardBytes;
        const std::size_t row = offset / static_cast<std::size_t>(stride);
        return row < static_cast<std::size_t>(height) &&
               offset % static_cast<std::size_t>(stride) <
                   static_cast<std::size_t>(width) * kBytesPerPixel;
    }

    int width, height, stride;
    bool bottomUp;
    std::vector<std::uint8_t> bytes;
};

// Converters for the last stream seen: the plan of a deep format builds
// tables of 2^16 entries, and mutations mostly keep the stream.
struct Stream {
    AVPixelFormat format;
    AVColorSpace colorspace;
    AVColorRange range;
    AVChromaLocation location;
    int width, height;
    bool operator==(const Stream& other) const {
        return format == other.format && colorspace == other.colorspace &&
               range == other.range && location == other.location && width == other.width &&
               height == other.height;
    }
};

struct Converters {
    Stream stream;
    ConversionPlan plan;
    PictureConverter converter;
    explicit Converters(const Stream& s)
        : stream(s),
          plan(BuildConversionPlan(s.format, s.colorspace, s.range, s.location, s.width,
                                   s.height)),
          converter(s.format, s.colorspace, s.range, s.location, s.width, s.height) {}
};

const Converters& ConvertersFor(const Stream& stream) {
    static std::unique_ptr<Converters> last;
    if (last == nullptr || !(last->stream == stream)) {
        last.reset();
        last = std::make_unique<Converters>(stream);
    }
    return *last;
}

// ToBgra through the converter (the fastest kernels) and through the
// reference kernel, on the picture and on its clamped copy.
void CheckToBgra(const Converters& c, const Picture& picture, PictureRect rect, int gap,
                 bool bottomUp) {
    const Picture clamped = ClampedCopy(picture);
    PixelBuffer fastest(rect, gap, bottomUp), reference(fastest), fromClamped(fastest);
    c.converter.ToBgra(picture.pointers, picture.linesizes, rect, fastest.Row(0),
                       fastest.Stride());
    const ToBgraKernel plain = SelectToBgra(c.plan, KernelChoice::Reference);
    plain(c.plan, picture.pointers, picture.linesizes, rect, reference.Row(0),
          reference.Stride());
    plain(c.plan, clamped.pointers, clamped.linesizes, rect, fromClamped.Row(0),
          fromClamped.Stride());
    FUZZ_CHECK(fastest.bytes == reference.bytes, kTarget, "ToBgra: fastest and reference differ");
    FUZZ_CHECK(reference.bytes == fromClamped.bytes, kTarget,
               "ToBgra: samples above the depth do not read as its maximum");
    for (std::size_t i = 0; i < fastest.bytes.size(); ++i) {
        if (!fastest.InRect(i)) {
            FUZZ_CHECK(fastest.bytes[i] == kGuard, kTarget, "ToBgra wrote outside the rectangle");
        }
    }
}

// Which pixels a sample is made from: its component, and the pixel (or for
// subsampled chroma the block) it belongs to.
struct SampleOwner {
    bool written = false;  // a component the write-back may write (not alpha, not padding)
    int column = 0, row = 0;
    bool subsampled = false;
};

SampleOwner OwnerOf(const AVPixFmtDescriptor& descriptor, int plane, int byte, int row,
                    int bytesPerSample) {
    const bool rgb = (descriptor.flags & AV_PIX_FMT_FLAG_RGB) != 0;
    const bool alpha = (descriptor.flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
    for (int i = 0; i < descriptor.nb_components; ++i) {
        const AVComponentDescriptor& component = descriptor.comp[i];
        const int offset = byte - component.offset;
        if (component.plane != plane || offset < 0 || offset % component.step >= bytesPerSample) {
            continue;
        }
        SampleOwner owner;
        owner.written = !(alpha && i == descriptor.nb_components - 1);
        owner.column = offset / component.step;
        owner.row = row;
        owner.subsampled = !rgb && (i == 1 || i == 2);
        return owner;
    }
    return {};
}

// Whether any pixel a sample is made from lies in `rect` and is marked in
// `changed` (null: every pixel of the rectangle counts as changed).
bool MadeFromChanged(const SampleOwner& owner, const AVPixFmtDescriptor& descriptor,
                     PictureRect rect, int width, int height, const std::vector<bool>* changed) {
    const int shiftX = owner.subsampled ? descriptor.log2_chroma_w : 0;
    const int shiftY = owner.subsampled ? descriptor.log2_chroma_h : 0;
    const int left = owner.column << shiftX, top = owner.row << shiftY;
    for (int y = top; y < std::min(top + (1 << shiftY), height); ++y) {
        for (int x = left; x < std::min(left + (1 << shiftX), width); ++x) {
            const bool inside = x >= rect.x && x < rect.right() && y >= rect.y && y < rect.bottom();
            if (inside && (changed == nullptr ||
                           (*changed)[static_cast<std::size_t>((y - rect.y) * rect.width +
                                                               (x - rect.x))])) {
                return true;
            }
        }
    }
    return false;
}

// FromBgra through the converter and the reference kernel, from the
// rectangle's conversion with some pixels changed, with and without it as
// the original.
void CheckFromBgra(FuzzInput& input, const Converters& c, const Picture& picture,
                   PictureRect asked) {
    const PictureRect rect = c.converter.AlignToChromaGrid(asked);
    if (rect.empty()) {
        return;
    }
    const bool withOriginal = input.Read<std::uint8_t>() % 2 == 0;
    const int changeOneIn = static_cast<int>(input.ReadBetween(1, 8));
    std::minstd_rand random(input.Read<std::uint32_t>());

    PixelBuffer original(rect, 0, false);
    c.converter.ToBgra(picture.pointers, picture.linesizes, rect, original.Row(0),
                       original.Stride());
    PixelBuffer pixels(original);
    std::vector<bool> changed(static_cast<std::size_t>(rect.width * rect.height), false);
    for (int y = 0; y < rect.height; ++y) {
        for (int x = 0; x < rect.width; ++x) {
            if (static_cast<int>(random() % static_cast<unsigned>(changeOneIn)) != 0) {
                continue;
            }
            std::uint8_t* pixel = pixels.Row(y) + x * kBytesPerPixel;
            for (int k = 0; k < kBytesPerPixel; ++k) {
                pixel[k] = static_cast<std::uint8_t>(random());
            }
            const std::uint8_t* before = original.Row(y) + x * kBytesPerPixel;
            changed[static_cast<std::size_t>(y * rect.width + x)] =
                std::memcmp(pixel, before, 3) != 0;
        }
    }

    Picture fastest(picture), reference(picture);
    const std::uint8_t* originalRow = withOriginal ? original.Row(0) : nullptr;
    c.converter.FromBgra(pixels.Row(0), pixels.Stride(), originalRow, original.Stride(), rect,
                         fastest.pointers, fastest.linesizes);
    SelectFromBgra(c.plan, KernelChoice::Reference)(c.plan, pixels.Row(0), pixels.Stride(),
                                                    originalRow, original.Stride(), rect,
                                                    reference.pointers, reference.linesizes);
    FUZZ_CHECK(fastest.SameBytes(reference), kTarget, "FromBgra: fastest and reference differ");

    const AVPixFmtDescriptor& descriptor = *av_pix_fmt_desc_get(picture.format);
    Picture before(picture);
    for (int p = 0; p < fastest.planeCount; ++p) {
        for (int y = 0; y < fastest.rows[p]; ++y) {
            for (int column = 0; column < fastest.strides[p]; ++column) {
                const bool inRow = column < fastest.rowBytes[p];
                if (!inRow && y == fastest.rows[p] - 1 && !fastest.bottomUp[p]) {
                    break;  // the block ends with the last row's samples
                }
                if (!inRow && y == 0 && fastest.bottomUp[p]) {
                    break;
                }
                const SampleOwner owner =
                    inRow ? OwnerOf(descriptor, p, column, y, fastest.bytesPerSample)
                          : SampleOwner{};
                const bool mayChange =
                    owner.written &&
                    MadeFromChanged(owner, descriptor, rect, c.stream.width, c.stream.height,
                                    withOriginal ? &changed : nullptr);
                if (!mayChange) {
                    FUZZ_CHECK(*fastest.At(p, y, column) == *before.At(p, y, column), kTarget,
                               "FromBgra wrote a sample it had no reason to (plane " +
                                   std::to_string(p) + ", row " + std::to_string(y) +
                                   ", byte " + std::to_string(column) + ")");
                }
            }
        }
    }
}

// The converter refuses a rectangle outside the frame, and in the write-back
// one off the chroma grid, before touching anything.
void CheckRefusals(const Converters& c, Picture& picture, PictureRect rect) {
    PictureRect outside = rect;
    outside.width = c.stream.width - rect.x + 1;
    PixelBuffer pixels(outside, 0, false);
    bool refused = false;
    try {
        c.converter.ToBgra(picture.pointers, picture.linesizes, outside, pixels.Row(0),
                           pixels.Stride());
    } catch (const std::out_of_range&) {
        refused = true;
    }
    FUZZ_CHECK(refused, kTarget, "ToBgra took a rectangle outside the frame");

    const PictureRect aligned = c.converter.AlignToChromaGrid(rect);
    const bool offGrid = aligned.x != rect.x || aligned.y != rect.y ||
                         aligned.width != rect.width || aligned.height != rect.height;
    if (!offGrid) {
        return;
    }
    const Picture before(picture);
    PixelBuffer source(rect, 0, false);
    refused = false;
    try {
        c.converter.FromBgra(source.Row(0), source.Stride(), nullptr, 0, rect, picture.pointers,
                             picture.linesizes);
    } catch (const std::invalid_argument&) {
        refused = true;
    }
    FUZZ_CHECK(refused && picture.SameBytes(before), kTarget,
               "FromBgra took a rectangle off the chroma grid");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    Stream stream{};
    stream.format = ReadFormat(input);
    stream.colorspace = Pick(input, kColorspaces);
    stream.range = Pick(input, kRanges);
    stream.location = Pick(input, kLocations);
    stream.width = static_cast<int>(input.ReadBetween(1, kLargestWidth));
    stream.height = static_cast<int>(input.ReadBetween(1, kLargestHeight));
    Picture picture = MakePicture(input, stream.format, stream.width, stream.height);

    PictureRect rect;
    rect.x = static_cast<int>(input.ReadBetween(0, stream.width - 1));
    rect.y = static_cast<int>(input.ReadBetween(0, stream.height - 1));
    rect.width = static_cast<int>(input.ReadBetween(1, stream.width - rect.x));
    rect.height = static_cast<int>(input.ReadBetween(1, stream.height - rect.y));
    const int gap = static_cast<int>(input.ReadBetween(0, kLargestPixelGap));
    const bool bottomUpPixels = input.Read<std::uint8_t>() % 2 == 1;
    const auto words = static_cast<Words>(input.ReadBetween(0, 2));
    const auto step = input.Read<std::uint8_t>() % 3;

    // The write-back's choices come before the samples, which take the rest.
    const std::string writeBackBytes = input.ReadBytes(kWriteBackBytes);
    FuzzInput writeBackInput(reinterpret_cast<const std::uint8_t*>(writeBackBytes.data()),
                             writeBackBytes.size());
    Filler filler(input.Rest());
    const Converters& converters = ConvertersFor(stream);
    FillSamples(picture, filler, words);

    CheckToBgra(converters, picture, rect, gap, bottomUpPixels);
    if (step == 1) {
        CheckFromBgra(writeBackInput, converters, picture, rect);
    } else if (step == 2) {
        CheckRefusals(converters, picture, rect);
    }
    return 0;
}
