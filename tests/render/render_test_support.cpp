#include "render_test_support.h"

#include <cstdlib>
#include <cstring>

#include "render/bitmap_objects.h"
#include "render/frame_compositor.h"

GuardedBitmap::GuardedBitmap(int width, int height, int paddingPixels, int guardRows,
                             bool topDown) {
    const int stride = width + paddingPixels;
    const int storedRows = height + 2 * guardRows;
    storage_.assign(static_cast<std::size_t>(stride) * storedRows, kGuard);
    isPicture_.assign(storage_.size(), false);
    for (int row = guardRows; row < guardRows + height; ++row) {
        for (int x = 0; x < width; ++x) {
            isPicture_[static_cast<std::size_t>(row) * stride + x] = true;
        }
    }
    VBitmap& bitmap = frame_.bitmap;
    bitmap.depth = 32;
    bitmap.w = width;
    bitmap.h = height;
    bitmap.pitch = static_cast<long>(stride) * 4;
    bitmap.modulo = static_cast<long>(paddingPixels) * 4;
    bitmap.size = bitmap.pitch * height;
    Pixel32* firstStored = storage_.data() + static_cast<std::size_t>(guardRows) * stride;
    if (topDown) {
        // Picture row 0 is the first stored row; the bitmap starts at the last.
        bitmap.data = firstStored + static_cast<std::size_t>(height - 1) * stride;
        bitmap.pitch = -bitmap.pitch;
        bitmap.modulo = bitmap.pitch - static_cast<long>(width) * 4;
    } else {
        bitmap.data = firstStored;
    }
}

void GuardedBitmap::CopyPictureFrom(const GuardedBitmap& other) {
    Fill([&other](int x, int y) { return other.At(x, y); });
}

bool GuardedBitmap::SamePicture(const GuardedBitmap& other) const {
    for (int y = 0; y < height(); ++y) {
        for (int x = 0; x < width(); ++x) {
            if (At(x, y) != other.At(x, y)) {
                return false;
            }
        }
    }
    return true;
}

bool GuardedBitmap::GuardsIntact() const {
    for (std::size_t i = 0; i < storage_.size(); ++i) {
        if (!isPicture_[i] && storage_[i] != kGuard) {
            return false;
        }
    }
    return true;
}

TestFrames::TestFrames(int width, int height, int paddingPixels)
    : source(width, height, paddingPixels), output(width, height, paddingPixels + 2) {
    activation.filter_data = &record;
    activation.src = &source.frame();
    activation.dst = &output.frame();
    activation.pfsi = &state;
    record.randScale = 32768.0f;
}

int TestFrames::RunFrame(long frameNumber) {
    state.lCurrentFrame = frameNumber;
    return RunProc(&activation, nullptr);
}

namespace {

std::vector<OperationCall> g_calls;

void Record(const char* name, const VBitmap* self, const VBitmap* source,
            std::vector<double> arguments) {
    g_calls.push_back({name, self, source, std::move(arguments)});
}

VBitmap* HOST_THISCALL RecordInitFromHeader(VBitmap* self, void* data,
                                            BITMAPINFOHEADER* header) {
    Record("initFromHeader", self, nullptr,
           {static_cast<double>(reinterpret_cast<std::uintptr_t>(data)),
            static_cast<double>(reinterpret_cast<std::uintptr_t>(header))});
    self->data = static_cast<Pixel32*>(data);
    self->depth = header->biBitCount;
    self->w = header->biWidth;
    self->h = header->biHeight < 0 ? -header->biHeight : header->biHeight;
    self->pitch = ((static_cast<long>(self->w) * self->depth + 31) / 32) * 4;
    self->modulo = self->pitch - static_cast<long>(self->w) * self->depth / 8;
    return self;
}

VBitmap* HOST_THISCALL RecordInitFromSize(VBitmap* self, void* data, long w, long h,
                                          int depth) {
    Record("initFromSize", self, nullptr,
           {static_cast<double>(reinterpret_cast<std::uintptr_t>(data)), static_cast<double>(w),
            static_cast<double>(h), static_cast<double>(depth)});
    self->data = static_cast<Pixel32*>(data);
    self->depth = depth;
    self->w = static_cast<int>(w);
    self->h = static_cast<int>(h);
    self->pitch = w * depth / 8;
    self->modulo = 0;
    return self;
}

void HOST_THISCALL RecordBitBlt(const VBitmap* self, long x2, long y2, const VBitmap* source,
                                long x1, long y1, long dx, long dy) {
    Record("BitBlt", self, source,
           {double(x2), double(y2), double(x1), double(y1), double(dx), double(dy)});
}

bool HOST_THISCALL RecordNearest(const VBitmap* self, long x1, long y1, long dx, long dy,
                                 const VBitmap* source, double x2, double y2, double dx1,
                                 double dy1) {
    Record("StretchBltNearestFast", self, source,
           {double(x1), double(y1), double(dx), double(dy), x2, y2, dx1, dy1});
    return true;
}

bool HOST_THISCALL RecordBilinear(const VBitmap* self, long x1, long y1, long dx, long dy,
                                  const VBitmap* source, double x2, double y2, double dx1,
                                  double dy1) {
    Record("StretchBltBilinearFast", self, source,
           {double(x1), double(y1), double(dx), double(dy), x2, y2, dx1, dy1});
    return true;
}

bool HOST_THISCALL RecordRectFill(const VBitmap* self, long x1, long y1, long dx, long dy,
                                  std::uint32_t pixel) {
    Record("RectFill", self, nullptr,
           {double(x1), double(y1), double(dx), double(dy), double(pixel)});
    return true;
}

const VBitmapOperations kRecordingTable = [] {
    VBitmapOperations table{};
    table.initFromHeader = &RecordInitFromHeader;
    table.initFromSize = &RecordInitFromSize;
    table.BitBlt = &RecordBitBlt;
    table.StretchBltNearestFast = &RecordNearest;
    table.StretchBltBilinearFast = &RecordBilinear;
    table.RectFill = &RecordRectFill;
    return table;
}();

}  // namespace

RecordingOperations::RecordingOperations()
    : previousModuleTable_(g_filterVTables.pvtblVBitmap) {
    g_calls.clear();
    g_filterVTables.pvtblVBitmap = &kRecordingTable;
}

RecordingOperations::~RecordingOperations() {
    g_filterVTables.pvtblVBitmap = previousModuleTable_;
    g_calls.clear();
}

const VBitmapOperations* RecordingOperations::table() const { return &kRecordingTable; }
const std::vector<OperationCall>& RecordingOperations::calls() const { return g_calls; }
void RecordingOperations::Clear() { g_calls.clear(); }

std::vector<OperationCall> RecordingOperations::CallsNamed(const std::string& name) const {
    std::vector<OperationCall> named;
    for (const OperationCall& call : g_calls) {
        if (call.name == name) {
            named.push_back(call);
        }
    }
    return named;
}

std::vector<std::uint8_t> MemoryOverlayLibrary::MakeFrame(int width, int height, int depth,
                                                          std::uint32_t colourTableEntries,
                                                          std::uint32_t compression) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(depth);
    header.biCompression = compression;
    header.biClrUsed = colourTableEntries;
    std::size_t tableBytes = 0;
    if (depth <= 8) {
        tableBytes = 4 * (colourTableEntries != 0 ? colourTableEntries : 1u << depth);
    } else if (compression == BI_BITFIELDS) {
        tableBytes = 12;
    }
    const std::size_t rowBytes = ((static_cast<std::size_t>(width) * depth + 31) / 32) * 4;
    header.biSizeImage = static_cast<DWORD>(rowBytes * height);
    std::vector<std::uint8_t> frame(sizeof header + tableBytes + rowBytes * height);
    std::memcpy(frame.data(), &header, sizeof header);
    // A recognisable pattern in the bits.
    for (std::size_t i = sizeof header + tableBytes; i < frame.size(); ++i) {
        frame[i] = static_cast<std::uint8_t>(i * 7);
    }
    return frame;
}

MemoryOverlayLibrary::MemoryOverlayLibrary() {
    library_.StreamGetFrame = &GetFrame;
    previous_ = UseAviLibrary(&library_);
}

MemoryOverlayLibrary::~MemoryOverlayLibrary() {
    UseAviLibrary(previous_);
}

void MemoryOverlayLibrary::ServeFrames(long count, const std::vector<std::uint8_t>& frame) {
    count_ = count;
    frame_ = frame;
}

FrameGetterHandle MemoryOverlayLibrary::handle() const {
    return reinterpret_cast<FrameGetterHandle>(const_cast<MemoryOverlayLibrary*>(this));
}

void* MemoryOverlayLibrary::GetFrame(FrameGetterHandle reader, long position) {
    MemoryOverlayLibrary& self = *reinterpret_cast<MemoryOverlayLibrary*>(reader);
    self.requests_.push_back(position);
    if (position < 0 || position >= self.count_ || self.undecodable_.count(position) != 0) {
        return nullptr;
    }
    auto special = self.special_.find(position);
    std::vector<std::uint8_t>& frame = special != self.special_.end() ? special->second : self.frame_;
    self.lastServed_ = frame.data();
    return frame.data();
}
