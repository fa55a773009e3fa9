#include "apps/quillmere/pipeline/composite_pipeline.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "apps/quillmere/overlay/overlay_fetch_log.h"
#include "apps/quillmere/overlay/overlay_library.h"
#include "apps/quillmere/pipeline/area_compositor.h"
#include "apps/quillmere/pipeline/handoff_queue.h"
#include "apps/quillmere/base/interruption.h"
#include "apps/quillmere/runner_error.h"
#include "filter/filter_data.h"
#include "render/random_generator.h"

namespace {

// Frames in circulation with one filter thread: enough for every stage to
// work while the next one works, and a little slack; each further filter
// thread adds one. Their buffers are the decoder's; this bounds how many the
// pipeline holds at once.
constexpr int kFramesInFlight = 4;
// Filter threads when the job leaves it to the machine: one per core, up to
// this many (the rehearsals in frame order bound what more could do).
constexpr int kMostAutomaticFilterThreads = 8;
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

class Pipeline {
    // A frame on its way, with its number.
    struct Slot {
        AVFrame* frame = nullptr;
        long number = 0;
        AreaBuffers* area = nullptr;         // with one filter thread: converted on decoding
        OverlayFetchLog* fetches = nullptr;  // what its rehearsal fetched
        std::int64_t sequence = 0;           // its place in the filter threads' order
        bool stored = false;                 // written back by a filter thread
    };

public:
    explicit Pipeline(const CompositeJob& job)
        : job_(job),
          compositor_(*job.instance, job.source->format(), job.fade, job.motion,
                      job.cornerRadius),
          lanes_(FilterThreadsFor(job)) {
        const int frames = kFramesInFlight + lanes_ - 1;
        // One filter thread takes frames converted on the decoder's thread;
        // several convert their own frames, each into its own buffers.
        buffers_.resize(static_cast<std::size_t>(lanes_ == 1 ? frames : lanes_));
        fetchLogs_.resize(static_cast<std::size_t>(frames));
        waiting_.resize(static_cast<std::size_t>(frames));
        for (std::size_t index = 0; index < static_cast<std::size_t>(frames); ++index) {
            frames_.push_back(NewFrame());
            Slot slot;
            slot.frame = frames_.back().get();
            slot.area = lanes_ == 1 ? &buffers_[index] : nullptr;
            slot.fetches = &fetchLogs_[index];
            free_.Push(slot);
        }
    }

    std::int64_t Run() {
        // The start procedure seeds the generator of the thread it runs on;
        // the filter threads take it on from here.
        compositor_.Start(job_.outputOperations, lanes_, job_.outputOperationsCopy,
                          job_.overlayOverVideo);
        if (job_.afterStart) {
            job_.afterStart(*job_.instance);
        }
        sequenceState_ = RandomState();
        if (!job_.carriedStreams.empty() && !job_.sinks.empty()) {
            job_.source->CarryStreams(job_.carriedStreams,
                                      [this](PacketPtr packet, int carriedIndex) {
                                          carried_.Push(CarriedPacket{std::move(packet),
                                                                      carriedIndex});
                                      });
        }
        std::thread decoder([this] { Guard([this] { Decode(); }); });
        std::vector<std::thread> filters;
        lanesRunning_ = lanes_;
        for (int lane = 0; lane < lanes_; ++lane) {
            filters.emplace_back([this, lane] {
                Guard([this, lane] { lanes_ == 1 ? Filter() : FilterLane(lane); });
            });
        }
        std::thread encoder;
        if (!job_.sinks.empty()) {
            encoder = std::thread([this] { Guard([this] { Encode(); }); });
        }
        WatchProgress();
        decoder.join();
        for (std::thread& filter : filters) {
            filter.join();
        }
        if (encoder.joinable()) {
            encoder.join();
        }
        job_.source->CarryStreams({}, nullptr);
        if (Failed()) {
            std::rethrow_exception(error_);
        }
        compositor_.Finish();
        if (job_.progress) {
            job_.progress(done_.load(), true);
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
            if (slot.area != nullptr) {
                compositor_.Load(*slot.frame, number, *slot.area);
            }
            toFilter_.Push(slot);
        }
        toFilter_.Close();
    }

    // The filter stage on one thread: its frames in order, the generator
    // going on from one to the next.
    void Filter() {
        SeedRandom(sequenceState_);
        Slot slot;
        while (toFilter_.Pop(slot)) {
            compositor_.Run(*slot.frame, *slot.area, slot.number);
            if (job_.sinks.empty()) {
                compositor_.Store(*slot.frame, *slot.area);
                Discard(slot);
                continue;
            }
            toEncoder_.Push(slot);
        }
        toEncoder_.Close();
    }

    // One of several filter threads: takes the next frame and rehearses it
    // (in frame order, one thread at a time), then converts it, filters it
    // with what the rehearsal gave, writes it back and passes it on in order.
    void FilterLane(int lane) {
        AreaBuffers& area = buffers_[static_cast<std::size_t>(lane)];
        for (;;) {
            Slot slot;
            std::uint32_t frameState = 0;
            {
                std::lock_guard<std::mutex> hold(sequenceLock_);
                if (!toFilter_.Pop(slot)) {
                    break;
                }
                slot.sequence = nextSequence_++;
                frameState = sequenceState_;
                SeedRandom(frameState);
                {
                    RecordingOverlayFetches recording(*slot.fetches);
                    compositor_.Rehearse(slot.number);
                }
                sequenceState_ = RandomState();
            }
            compositor_.Load(*slot.frame, slot.number, area);
            SeedRandom(frameState);
            {
                ReplayingOverlayFetches replaying(*slot.fetches);
                compositor_.Run(*slot.frame, area, slot.number, lane);
            }
            compositor_.Store(*slot.frame, area);
            slot.stored = true;
            PassOnInOrder(slot);
        }
        bool last = false;
        {
            std::lock_guard<std::mutex> hold(orderLock_);
            last = --lanesRunning_ == 0;
        }
        if (last) {
            toEncoder_.Close();
        }
    }

    // Frames wait here until every earlier one has gone on. A frame holds
    // its slot meanwhile, so fewer than the pool's size can wait.
    void PassOnInOrder(const Slot& done) {
        std::lock_guard<std::mutex> hold(orderLock_);
        waiting_[static_cast<std::size_t>(done.sequence) % waiting_.size()] = done;
        for (;;) {
            std::optional<Slot>& next =
                waiting_[static_cast<std::size_t>(nextToPass_) % waiting_.size()];
            if (!next) {
                return;
            }
            const Slot ready = *next;
            next.reset();
            ++nextToPass_;
            if (job_.sinks.empty()) {
                Discard(ready);
            } else {
                toEncoder_.Push(ready);
            }
        }
    }

    // A frame composited for no sink goes back to the pool.
    void Discard(Slot slot) {
        av_frame_unref(slot.frame);
        slot.stored = false;
        free_.Push(slot);
        ++done_;
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
            if (!slot.stored) {
                compositor_.Store(*slot.frame, *slot.area);
            }
            for (FrameSink* sink : job_.sinks) {
                sink->Consume(*slot.frame, slot.number);
            }
            av_frame_unref(slot.frame);
            slot.stored = false;
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
        const int stages = 1 + lanes_ + (job_.sinks.empty() ? 0 : 1);
        std::unique_lock<std::mutex> lock(stagesMutex_);
        while (stagesEnded_ < stages) {
            stagesChanged_.wait_for(lock, kProgressInterval);
            if (InterruptSignal() != 0) {
                lock.unlock();
                Fail(std::make_exception_ptr(RunnerError("interrupted")));
                lock.lock();
            }
            if (job_.progress) {
                job_.progress(done_.load(), false);
            }
        }
    }

    const CompositeJob& job_;
    // Converts areas on the decoder's thread, runs the filter on its own and
    // converts back on the encoder's; several filter threads do all three.
    AreaCompositor compositor_;
    const int lanes_;
    std::vector<AreaBuffers> buffers_;  // per frame slot, or per filter thread
    std::vector<OverlayFetchLog> fetchLogs_;
    // Rehearsals, one at a time in frame order, and the generator's state
    // the next frame starts from.
    std::mutex sequenceLock_;
    std::uint32_t sequenceState_ = 0;
    std::int64_t nextSequence_ = 0;
    // Frames filtered ahead of an earlier one, by sequence modulo the pool.
    std::mutex orderLock_;
    std::vector<std::optional<Slot>> waiting_;
    std::int64_t nextToPass_ = 0;
    int lanesRunning_ = 0;
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

int FilterThreadsFor(const CompositeJob& job) {
    int threads = job.filterThreads;
    if (threads <= 0) {
        threads = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1,
                             kMostAutomaticFilterThreads);
    }
    // Without an adapted overlay library the filter's fetches go straight
    // to a reader that one thread at a time may use, and in order.
    const FilterData& record = job.instance->recordAs<FilterData>();
    if (record.frameGetter != nullptr && !OverlayFetchesShareable()) {
        return 1;
    }
    return threads;
}

std::int64_t RunComposite(const CompositeJob& job) {
    Pipeline pipeline(job);
    return pipeline.Run();
}
