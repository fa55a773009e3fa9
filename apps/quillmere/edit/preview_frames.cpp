#include "apps/quillmere/edit/preview_frames.h"

#include <cmath>

#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

PreviewFrames::PreviewFrames(std::unique_ptr<FileFrameSource> source)
    : source_(std::move(source)),
      reach_(std::max(1L, std::lround(kDecodeAheadSeconds * av_q2d(source_->frameRate())))),
      current_(NewFrame()),
      spare_(NewFrame()) {}

bool PreviewFrames::DecodeNext() {
    av_frame_unref(spare_.get());
    long number = 0;
    if (!source_->Next(*spare_, number)) {
        return false;
    }
    std::swap(current_, spare_);
    currentNumber_ = number;
    return true;
}

PreviewFrames::Found PreviewFrames::Find(long number, bool keyFrameFirst) {
    if (currentNumber_ == number) {
        return Found{current_.get(), number, true};
    }
    // Before the first frame is decoded the source stands at frame 0.
    const long position = currentNumber_ < 0 ? 0 : currentNumber_ + 1;
    const bool onward = !exhausted_ && number >= position &&
                        (number - position < reach_ || number == lastJumpTarget_);
    bool jumped = false;
    if (!onward) {
        source_->SkipTowards(number);
        lastJumpTarget_ = number;
        exhausted_ = false;
        jumped = true;
    }
    const auto missing = [number] {
        return RunnerError("the main video has no frame " + std::to_string(number));
    };
    while (true) {
        if (!DecodeNext()) {
            exhausted_ = true;
            throw missing();
        }
        if (jumped && keyFrameFirst && number - currentNumber_ > reach_) {
            return Found{current_.get(), currentNumber_, false};
        }
        jumped = false;
        if (currentNumber_ >= number) {
            break;
        }
    }
    if (currentNumber_ != number) {
        throw missing();
    }
    return Found{current_.get(), number, true};
}
