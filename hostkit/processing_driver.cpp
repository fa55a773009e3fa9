#include "hostkit/processing_driver.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include "hostkit/bitmap_operations.h"
#include "hostkit/host_services.h"

namespace {

constexpr long kPixelBytes = 4;
// The host's source rows are padded to 8 bytes.
constexpr long kSourceRowAlignment = 8;
// Frames beyond this many bytes are refused rather than allocated: the
// bitmap records count bytes in 32 bits.
constexpr long long kLargestFrameBytes = std::numeric_limits<std::int32_t>::max();

void LayOut(VFBitmap& frame, Pixel32* pixels, int width, int height, long pitch) {
    VBitmap& bitmap = frame.bitmap;
    bitmap.operations = &HostBitmapOperations();
    bitmap.data = pixels;
    bitmap.palette = nullptr;
    bitmap.depth = 32;
    bitmap.w = width;
    bitmap.h = height;
    bitmap.pitch = pitch;
    bitmap.modulo = pitch - kPixelBytes * width;
    bitmap.size = pitch * height;
    bitmap.offset = 0;
    frame.dwFlags = 0;
    frame.hdc = nullptr;
}

std::vector<Pixel32> FrameBuffer(long pitch, int height) {
    return std::vector<Pixel32>(static_cast<std::size_t>(pitch / kPixelBytes) *
                                static_cast<std::size_t>(height));
}

}  // namespace

FilterInstance::FilterInstance(const FilterDefinition& definition)
    : definition_(&definition) {
    if (definition.inst_data_size < 0) {
        throw std::invalid_argument("the filter definition asks for an instance record of " +
                                    std::to_string(definition.inst_data_size) + " bytes");
    }
    // At least one byte, so that the record has an address of its own.
    record_.assign(static_cast<std::size_t>(definition.inst_data_size) + 1, 0);
    activation_.filter = const_cast<FilterDefinition*>(definition_);
    activation_.filter_data = record_.data();
    if (definition.initProc != nullptr) {
        definition.initProc(&activation_, &HostFilterFunctions());
    }
}

FilterInstance::FilterInstance(const FilterInstance& other)
    : definition_(other.definition_), record_(other.record_), activation_(other.activation_) {
    activation_.filter_data = record_.data();
    activation_.src = nullptr;
    activation_.dst = nullptr;
    activation_.last = nullptr;
    activation_.pfsi = nullptr;
}

FilterInstance::~FilterInstance() {
    if (definition_->deinitProc != nullptr) {
        definition_->deinitProc(&activation_, &HostFilterFunctions());
    }
}

ProcessingPass::ProcessingPass(FilterInstance& instance, int width, int height,
                               FrameMemory memory)
    : instance_(instance), memory_(memory) {
    if (width <= 0 || height <= 0) {
        throw std::invalid_argument("frames of " + std::to_string(width) + " x " +
                                    std::to_string(height) + " pixels cannot be processed");
    }
    const long long sourcePitch =
        (static_cast<long long>(width) * kPixelBytes + kSourceRowAlignment - 1) /
        kSourceRowAlignment * kSourceRowAlignment;
    if (sourcePitch > kLargestFrameBytes / height) {
        throw std::invalid_argument("frames of " + std::to_string(width) + " x " +
                                    std::to_string(height) + " pixels are too large");
    }
    if (memory_ == FrameMemory::Pass) {
        sourcePixels_ = FrameBuffer(static_cast<long>(sourcePitch), height);
    }
    LayOut(source_, sourcePixels_.empty() ? nullptr : sourcePixels_.data(), width, height,
           static_cast<long>(sourcePitch));
    // The output starts as the source's twin; the parameter procedure may
    // change its pitch.
    output_ = source_;
    output_.bitmap.data = nullptr;

    FilterActivation& activation = instance_.activation();
    activation.src = &source_;
    activation.dst = &output_;
    activation.last = nullptr;
    activation.pfsi = &state_;
    try {
        Begin();
    } catch (...) {
        Detach();
        throw;
    }
}

void ProcessingPass::Begin() {
    FilterActivation& activation = instance_.activation();
    const int width = source_.bitmap.w, height = source_.bitmap.h;
    const FilterDefinition& definition = instance_.definition();
    const FilterFunctions* functions = &HostFilterFunctions();
    if (definition.paramProc != nullptr) {
        paramResult_ = definition.paramProc(&activation, functions);
    }
    if ((paramResult_ & kFilterParamSwapBuffers) != 0) {
        const long pitch = output_.bitmap.pitch;
        if (pitch < kPixelBytes * width) {
            throw std::runtime_error("the filter set an output pitch of " + std::to_string(pitch) +
                                     " bytes, less than a row of " +
                                     std::to_string(kPixelBytes * width) + " bytes");
        }
        if (pitch % kPixelBytes != 0) {
            throw std::runtime_error("the filter set an output pitch of " + std::to_string(pitch) +
                                     " bytes, not a whole number of pixels");
        }
        if (pitch > kLargestFrameBytes / height) {
            throw std::runtime_error("the filter set an output pitch of " + std::to_string(pitch) +
                                     " bytes, too large for " + std::to_string(height) + " rows");
        }
        if (memory_ == FrameMemory::Pass) {
            outputPixels_ = FrameBuffer(pitch, height);
        }
        LayOut(output_, outputPixels_.empty() ? nullptr : outputPixels_.data(), width, height,
               pitch);
    } else {
        output_ = source_;
    }

    if (definition.startProc != nullptr) {
        const int result = definition.startProc(&activation, functions);
        if (result != 0) {
            finished_ = true;
            throw std::runtime_error("the filter's start procedure failed (" +
                                     std::to_string(result) + ")");
        }
    }
}

ProcessingPass::~ProcessingPass() {
    Finish();
    Detach();
}

// The instance outlives the pass: leave it no pointer into the pass.
void ProcessingPass::Detach() {
    FilterActivation& activation = instance_.activation();
    activation.src = nullptr;
    activation.dst = nullptr;
    activation.pfsi = nullptr;
}

void ProcessingPass::LoadSource(const Pixel32* topDownRows, std::ptrdiff_t strideBytes) {
    const VBitmap& bitmap = source_.bitmap;
    const std::size_t rowBytes = static_cast<std::size_t>(bitmap.w) * kPixelBytes;
    const std::ptrdiff_t stride = strideBytes != 0 ? strideBytes : static_cast<std::ptrdiff_t>(rowBytes);
    const auto* in = reinterpret_cast<const unsigned char*>(topDownRows);
    for (int y = 0; y < bitmap.h; ++y) {
        std::memcpy(PictureRow(bitmap, y), in + y * stride, rowBytes);
    }
}

void ProcessingPass::StoreOutput(Pixel32* topDownRows, std::ptrdiff_t strideBytes) const {
    const VBitmap& bitmap = output_.bitmap;
    const std::size_t rowBytes = static_cast<std::size_t>(bitmap.w) * kPixelBytes;
    const std::ptrdiff_t stride = strideBytes != 0 ? strideBytes : static_cast<std::ptrdiff_t>(rowBytes);
    auto* out = reinterpret_cast<unsigned char*>(topDownRows);
    for (int y = 0; y < bitmap.h; ++y) {
        std::memcpy(out + y * stride, PictureRow(bitmap, y), rowBytes);
    }
}

void ProcessingPass::SetMicrosecondsPerFrame(long microseconds) {
    state_.lMicrosecsPerFrame = microseconds;
    state_.lMicrosecsPerSrcFrame = microseconds;
}

int ProcessingPass::RunFrame(long frameNumber) {
    if (finished_) {
        throw std::logic_error("a frame was run after the end of the processing pass");
    }
    state_.lCurrentFrame = frameNumber;
    state_.lCurrentSourceFrame = frameNumber;
    const double milliseconds =
        std::clamp(static_cast<double>(frameNumber) * state_.lMicrosecsPerFrame / 1000.0,
                   static_cast<double>(std::numeric_limits<long>::min()),
                   static_cast<double>(std::numeric_limits<long>::max() / 2));
    state_.lSourceFrameMS = static_cast<long>(milliseconds);
    state_.lDestFrameMS = static_cast<long>(milliseconds);
    const FilterDefinition& definition = instance_.definition();
    if (definition.runProc == nullptr) {
        return 0;
    }
    return definition.runProc(&instance_.activation(), &HostFilterFunctions());
}

void ProcessingPass::Finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    const FilterDefinition& definition = instance_.definition();
    if (definition.endProc != nullptr) {
        definition.endProc(&instance_.activation(), &HostFilterFunctions());
    }
}
