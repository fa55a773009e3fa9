// Runs a filter the way the host does: a zero-filled instance record of the
// definition's size, then for a processing pass the parameter procedure, the
// start procedure, the run procedure once per frame and the end procedure.
//
// Works on any FilterDefinition; procedures the definition leaves null are
// skipped. The activation's preview pointer (`ifp`) stays null unless the
// caller sets it. Errors of the caller or of the filter's output layout are
// thrown as std::invalid_argument / std::runtime_error with a clear message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "host/filter_interface.h"

// One instance of a registered filter: its zero-filled record, as the host
// allocates it when the user adds the filter. The definition's init
// procedure runs on creation, its deinit procedure on destruction. Copying
// an instance copies the record as a block, as the host does.
class FilterInstance {
public:
    explicit FilterInstance(const FilterDefinition& definition);
    FilterInstance(const FilterInstance& other);
    FilterInstance& operator=(const FilterInstance&) = delete;
    ~FilterInstance();

    const FilterDefinition& definition() const { return *definition_; }
    void* record() { return record_.data(); }
    template <typename Record>
    Record& recordAs() { return *static_cast<Record*>(record()); }

    // The activation record the host passes to every procedure of this instance.
    FilterActivation& activation() { return activation_; }

private:
    const FilterDefinition* definition_;
    std::vector<std::uint8_t> record_;
    FilterActivation activation_{};
};

// The host's parameter-procedure flag that asks for an output buffer of its
// own; without it the filter works in place on the source buffer.
constexpr long kFilterParamSwapBuffers = 1;

// Who holds the memory of a pass's frames.
enum class FrameMemory {
    Pass,    // the pass allocates both frames
    Caller,  // none is allocated: the caller points both bitmaps' `data` at
             // frames of its own before every run (LoadSource and
             // StoreOutput are then not for use)
};

// One processing pass over frames of one size: the constructor runs the
// parameter and start procedures, RunFrame the run procedure, and
// Finish (or the destructor) the end procedure, once.
class ProcessingPass {
public:
    ProcessingPass(FilterInstance& instance, int width, int height,
                   FrameMemory memory = FrameMemory::Pass);
    ~ProcessingPass();
    ProcessingPass(const ProcessingPass&) = delete;
    ProcessingPass& operator=(const ProcessingPass&) = delete;

    // The source frame, 32-bit, bottom-up, pitch 4 * width rounded up to 8
    // bytes; fill it before RunFrame.
    VFBitmap& source() { return source_; }
    // The output frame after RunFrame: the filter's own buffer when its
    // parameter procedure asked for one, else the source buffer.
    const VFBitmap& output() const { return output_; }
    // What the parameter procedure returned.
    long paramResult() const { return paramResult_; }
    FilterStateInfo& frameState() { return state_; }

    // Copies a top-down picture of width x height 32-bit pixels, rows
    // `strideBytes` apart (0: packed), into the source frame.
    void LoadSource(const Pixel32* topDownRows, std::ptrdiff_t strideBytes = 0);
    // Copies the output frame out as a top-down picture, rows `strideBytes`
    // apart (0: packed).
    void StoreOutput(Pixel32* topDownRows, std::ptrdiff_t strideBytes = 0) const;

    // Sets the frame timing the state record reports (microseconds per
    // output frame; source and output run at the same rate).
    void SetMicrosecondsPerFrame(long microseconds);

    // Runs the filter for output frame `frameNumber`; returns the run
    // procedure's result.
    int RunFrame(long frameNumber);
    // Runs the end procedure; later calls do nothing.
    void Finish();

private:
    void Begin();
    void Detach();

    FilterInstance& instance_;
    std::vector<Pixel32> sourcePixels_;
    std::vector<Pixel32> outputPixels_;
    VFBitmap source_{};
    VFBitmap output_{};
    FilterStateInfo state_{};
    long paramResult_ = 0;
    bool finished_ = false;
    FrameMemory memory_;
};
