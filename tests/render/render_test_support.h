// Shared fixtures of the render tests: bitmaps fenced by guard pixels, an
// activation record around them, a bitmap operation table that records its
// calls, and an overlay frame reader serving frames from memory.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "filter/filter_data.h"
#include "host/filter_interface.h"
#include "source/avi_library.h"

// A 32-bit bitmap whose rows carry padding and which has guard rows above and
// below, all filled with a guard value, so a write outside the picture shows.
class GuardedBitmap {
public:
    static constexpr Pixel32 kGuard = 0xA5A5A5A5u;

    GuardedBitmap(int width, int height, int paddingPixels = 3, int guardRows = 2,
                  bool topDown = false);
    GuardedBitmap(const GuardedBitmap&) = delete;
    GuardedBitmap& operator=(const GuardedBitmap&) = delete;

    VFBitmap& frame() { return frame_; }
    const VBitmap& bitmap() const { return frame_.bitmap; }
    int width() const { return frame_.bitmap.w; }
    int height() const { return frame_.bitmap.h; }

    Pixel32 At(int x, int y) const { return PictureRow(frame_.bitmap, y)[x]; }
    void Set(int x, int y, Pixel32 pixel) { PictureRow(frame_.bitmap, y)[x] = pixel; }
    template <class Paint>
    void Fill(Paint paint) {
        for (int y = 0; y < height(); ++y) {
            for (int x = 0; x < width(); ++x) {
                Set(x, y, paint(x, y));
            }
        }
    }
    void FillWith(Pixel32 pixel) {
        Fill([pixel](int, int) { return pixel; });
    }
    void CopyPictureFrom(const GuardedBitmap& other);
    bool SamePicture(const GuardedBitmap& other) const;
    // Every padding and guard pixel still holds the guard value.
    bool GuardsIntact() const;

private:
    std::vector<Pixel32> storage_;
    std::vector<bool> isPicture_;
    VFBitmap frame_{};
};

// The pixel with the same value in blue, green and red.
constexpr Pixel32 Grey(std::uint32_t level) { return level * 0x010101u; }

// A source and an output frame of one size, a record and the activation
// that binds them, as the host passes them to the run procedure.
struct TestFrames {
    TestFrames(int width, int height, int paddingPixels = 3);

    int RunFrame(long frameNumber);

    GuardedBitmap source;
    GuardedBitmap output;
    FilterData record{};
    FilterStateInfo state{};
    FilterActivation activation{};
};

// One call of a bitmap operation, as the recording table saw it.
struct OperationCall {
    std::string name;
    const VBitmap* self;
    const VBitmap* source;  // the source bitmap of copies and stretches
    std::vector<double> arguments;
};

// An operation table that records every call. `init` fills the object's
// fields from the header or the size it is given; nothing else draws.
class RecordingOperations {
public:
    RecordingOperations();
    ~RecordingOperations();
    RecordingOperations(const RecordingOperations&) = delete;
    RecordingOperations& operator=(const RecordingOperations&) = delete;

    const VBitmapOperations* table() const;
    const std::vector<OperationCall>& calls() const;
    std::vector<OperationCall> CallsNamed(const std::string& name) const;
    void Clear();

private:
    const VBitmapOperations* previousModuleTable_;
};

// An overlay frame reader over frames kept in memory. Frames 0 .. count - 1
// exist unless marked undecodable; every request is recorded.
class MemoryOverlayLibrary {
public:
    MemoryOverlayLibrary();
    ~MemoryOverlayLibrary();
    MemoryOverlayLibrary(const MemoryOverlayLibrary&) = delete;
    MemoryOverlayLibrary& operator=(const MemoryOverlayLibrary&) = delete;

    // A frame record of the given depth: header, colour table or masks as
    // given, then the bits (bottom-up rows padded to 4 bytes).
    static std::vector<std::uint8_t> MakeFrame(int width, int height, int depth,
                                               std::uint32_t colourTableEntries = 0,
                                               std::uint32_t compression = BI_RGB);

    void ServeFrames(long count, const std::vector<std::uint8_t>& frame);
    void MarkUndecodable(long position) { undecodable_.insert(position); }
    // A distinct frame for one position.
    void ServeFrameAt(long position, const std::vector<std::uint8_t>& frame) {
        special_[position] = frame;
    }

    FrameGetterHandle handle() const;
    const std::vector<long>& requests() const { return requests_; }
    void ClearRequests() { requests_.clear(); }
    // The record that the last successful request returned.
    const std::uint8_t* lastServed() const { return lastServed_; }

private:
    static void* GetFrame(FrameGetterHandle reader, long position);

    long count_ = 0;
    std::vector<std::uint8_t> frame_;
    std::map<long, std::vector<std::uint8_t>> special_;
    std::set<long> undecodable_;
    std::vector<long> requests_;
    const std::uint8_t* lastServed_ = nullptr;
    AviLibrary library_{};
    const AviLibrary* previous_;
};
