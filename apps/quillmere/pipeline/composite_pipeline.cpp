#include "apps/quillmere/pipeline/composite_pipeline.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "apps/quillmere/pipeline/area_compositor.h"
#include "apps/quillmere/pipeline/handoff_queue.h"
#include "apps/quillmere/run/interruption.h"
#include "apps/quillmere/run/progress.h"
#include "apps/quillmere/runner_error.h"

namespace {

// Frames in circulation: enough for every stage to work while the next
// one works, and a little slack. Their buffers are the decoder's; this
// bounds how many the pipeline holds at once.
constexpr int kFramesInFlight = 4;
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

class Pipeline {
public:
    explicit Pipeline(const CompositeJob& job)
        : job_(job), compositor_(*job.instance, job.source->format(), job.fade) {
        buffers_.resize(kFramesInFlight);
        for (int index = 0; index < kFramesInFlight; ++index) {
            frames_.push_back(NewFrame());
            free_.Push(Slot{frames_.back().get(), 0, &buffers_[static_cast<std::size_t>(index)]});
        }
    }

    std::int64_t Run() {
        if (!job_.carriedStreams.empty() && !job_.sinks.empty()) {
            job_.source->CarryStreams(job_.carriedStreams,
                                      [this](PacketPtr packet, int carriedIndex) {
                                          carried_.Push(CarriedPacket{std::move(packet),
                                                                      carriedIndex});
                                      });
        }
        std::thread decoder([this] { Guard([this] { Decode(); }); });
        std::thread filter([this] { Guard([this] { Filter(); }); });
        std::thread encoder;
        if (!job_.sinks.empty()) {
            encoder = std::thread([this] { Guard([this] { Encode(); }); });
        }
        WatchProgress();
        decoder.join();
        filter.join();
        if (encoder.joinable()) {
            encoder.join();
        }
        job_.source->CarryStreams({}, nullptr);
        if (Failed()) {
            std::rethrow_exception(error_);
        }
        if (job_.progress != nullptr) {
            job_.progress->Done(done_.load());
        }
        return done_.load();
    }

private:
    template <typename Work>
    void Guard(Work work) {
        try {
            work();
        } catch (...) {
            Fail(std::current_exception());
        }
        StageEnded();
    }

    void Fail(std::exception_ptr error) {
        {
            std::lock_guard<std::mutex> lock(errorMutex_);
            if (!error_) {
                error_ = error;
            }
        }
        for (HandoffQueue<Slot>* queue : {&free_, &toFilter_, &toEncoder_}) {
            queue->Abort();
        }
        carried_.Abort();
    }

    void StageEnded() {
        {
            std::lock_guard<std::mutex> lock(stagesMutex_);
            ++stagesEnded_;
        }
        stagesChanged_.notify_all();
    }

    void Decode() {
        if (job_.firstFrame > 0) {
            job_.source->SkipTowards(job_.firstFrame);
        }
        for (;;) {
            ThrowIfInterrupted();
            Slot slot;
            if (!free_.Pop(slot)) {
                return;
            }
            long number = 0;
            if (!job_.source->Next(*slot.frame, number)) {
                break;
            }
            if (job_.lastFrame >= 0 && number > job_.lastFrame) {
                av_frame_unref(slot.frame);
                break;
            }
            if (number < job_.firstFrame) {
                // Decoded on the way to the first frame wanted.
                av_frame_unref(slot.frame);
                free_.Push(slot);
                continue;
            }
            slot.number = number;
            compositor_.Load(*slot.frame, number, *slot.area);
            toFilter_.Push(slot);
        }
        toFilter_.Close();
    }

    void Filter() {
        compositor_.Start(job_.outputOperations);
        if (job_.afterStart) {
            job_.afterStart(*job_.instance);
        }
        Slot slot;
        while (toFilter_.Pop(slot)) {
            compositor_.Run(*slot.area, slot.number);
            if (job_.sinks.empty()) {
                compositor_.Store(*slot.frame, *slot.area);
                av_frame_unref(slot.frame);
                free_.Push(slot);
                ++done_;
                continue;
            }
            toEncoder_.Push(slot);
        }
        compositor_.Finish();
        toEncoder_.Close();
    }

    // Audio and subtitles read so far go out before the next frame; the
    // muxer interleaves them with the video by time.
    void PassCarried() {
        CarriedPacket carried;
        while (carried_.TryPop(carried)) {
            for (FrameSink* sink : job_.sinks) {
                sink->ConsumePassthrough(*carried.packet, carried.carriedIndex);
            }
        }
    }

    void Encode() {
        Slot slot;
        while (toEncoder_.Pop(slot)) {
            compositor_.Store(*slot.frame, *slot.area);
            for (FrameSink* sink : job_.sinks) {
                sink->Consume(*slot.frame, slot.number);
            }
            av_frame_unref(slot.frame);
            free_.Push(slot);
            ++done_;
            // After the frame: the first one opens the output.
            PassCarried();
        }
        // A queue that ended because of a failure elsewhere leaves the
        // output incomplete: it must not be finished as if it were whole.
        if (!Failed()) {
            PassCarried();
            for (FrameSink* sink : job_.sinks) {
                sink->Finish();
            }
        }
    }

    bool Failed() {
        std::lock_guard<std::mutex> lock(errorMutex_);
        return error_ != nullptr;
    }

    // The calling thread shows progress and stops the stages on a signal.
    void WatchProgress() {
        const int stages = job_.sinks.empty() ? 2 : 3;
        std::unique_lock<std::mutex> lock(stagesMutex_);
        while (stagesEnded_ < stages) {
            stagesChanged_.wait_for(lock, kProgressInterval);
            if (InterruptSignal() != 0) {
                lock.unlock();
                Fail(std::make_exception_ptr(RunnerError("interrupted")));
                lock.lock();
            }
            if (job_.progress != nullptr) {
                job_.progress->Update(done_.load());
            }
        }
    }

    // A frame on its way, with its number.
    struct Slot {
        AVFrame* frame = nullptr;
        long number = 0;
        AreaBuffers* area = nullptr;
    };

    const CompositeJob& job_;
    // Converts areas on the decoder's thread, runs the filter on its own and
    // converts back on the encoder's.
    AreaCompositor compositor_;
    std::vector<AreaBuffers> buffers_;
    std::vector<FramePtr> frames_;
    HandoffQueue<Slot> free_;
    HandoffQueue<Slot> toFilter_;
    HandoffQueue<Slot> toEncoder_;
    struct CarriedPacket {
        PacketPtr packet;
        int carriedIndex = 0;
    };
    HandoffQueue<CarriedPacket> carried_;
    std::atomic<std::int64_t> done_{0};
    std::mutex errorMutex_;
    std::exception_ptr error_;
    std::mutex stagesMutex_;
    std::condition_variable stagesChanged_;
    int stagesEnded_ = 0;
};

}  // namespace

std::int64_t RunComposite(const CompositeJob& job) {
    Pipeline pipeline(job);
    return pipeline.Run();
}
