// Runs a filter the way the host does: a zero-filled instance record of the
// definition's size, then for a processing pass the parameter procedure, the
// start procedure, the run procedure once per frame and the end procedure.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "host/filter_interface.h"

// One instance of a registered filter: its zero-filled record, as the host
// allocates it when the user adds the filter.
class FilterInstance {
public:
    explicit FilterInstance(const FilterDefinition& definition);

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

// One processing pass over frames of one size: the constructor runs the
// parameter and start procedures, RunFrame the run procedure, and
// Finish (or the destructor) the end procedure.
class ProcessingPass {
public:
    ProcessingPass(FilterInstance& instance, int width, int height);
    ~ProcessingPass();
    ProcessingPass(const ProcessingPass&) = delete;
    ProcessingPass& operator=(const ProcessingPass&) = delete;

    // The source frame, 32-bit, bottom-up; fill it before RunFrame.
    VFBitmap& source() { return source_; }
    // The output frame after RunFrame.
    const VFBitmap& output() const { return output_; }
    // What the parameter procedure returned.
    long paramResult() const { return paramResult_; }

    // Runs the filter for output frame `frameNumber`; returns the run
    // procedure's result.
    int RunFrame(long frameNumber);
    void Finish();

private:
    FilterInstance& instance_;
    std::vector<Pixel32> sourcePixels_;
    std::vector<Pixel32> outputPixels_;
    VFBitmap source_{};
    VFBitmap output_{};
    FilterStateInfo state_{};
    long paramResult_ = 0;
    bool finished_ = false;
};
