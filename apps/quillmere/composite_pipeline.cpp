#include "apps/quillmere/composite_pipeline.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "apps/quillmere/bounded_queue.h"
#include "apps/quillmere/filter_host.h"
#include "apps/quillmere/pending_output.h"
#include "apps/quillmere/progress.h"
#include "apps/quillmere/runner_error.h"

namespace {

// Pictures in circulation on each side of the filter: enough for every
// stage to work while the next one works, and a little slack.
constexpr int kPicturesPerSide = 3;
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

class Pipeline {
public:
    explicit Pipeline(const CompositeJob& job) : job_(job) {
        const int width = job.source->width();
        const int height = job.source->height();
        for (int index = 0; index < kPicturesPerSide; ++index) {
            inputPictures_.emplace_back(std::make_unique<Picture>(width, height));
            freeInput_.Push(inputPictures_.back().get());
            if (!job.sinks.empty()) {
                outputPictures_.emplace_back(std::make_unique<Picture>(width, height));
                freeOutput_.Push(outputPictures_.back().get());
            }
        }
    }

    std::int64_t Run() {
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
        for (BoundedQueue<Picture*>* queue :
             {&freeInput_, &toFilter_, &freeOutput_, &toEncoder_}) {
            queue->Abort();
        }
    }

    void StageEnded() {
        {
            std::lock_guard<std::mutex> lock(stagesMutex_);
            ++stagesEnded_;
        }
        stagesChanged_.notify_all();
    }

    void Decode() {
        long frameNumber = 0;
        for (; job_.lastFrame < 0 || frameNumber <= job_.lastFrame; ++frameNumber) {
            ThrowIfInterrupted();
            if (frameNumber < job_.firstFrame) {
                if (!job_.source->Next(nullptr)) {
                    break;
                }
                continue;
            }
            Picture* picture = nullptr;
            if (!freeInput_.Pop(picture)) {
                return;
            }
            if (!job_.source->Next(picture)) {
                break;
            }
            picture->frameNumber = frameNumber;
            toFilter_.Push(picture);
        }
        toFilter_.Close();
    }

    void Filter() {
        const FrameSource& source = *job_.source;
        ProcessingPass pass(*job_.instance, source.width(), source.height());
        const AVRational rate = source.frameRate();
        pass.SetMicrosecondsPerFrame(
            static_cast<long>(av_rescale(1000000, rate.den, rate.num)));
        Picture* input = nullptr;
        while (toFilter_.Pop(input)) {
            CopyIntoSource(*input, pass);
            const long frameNumber = input->frameNumber;
            freeInput_.Push(input);
            pass.RunFrame(frameNumber);
            if (job_.sinks.empty()) {
                ++done_;
                continue;
            }
            Picture* output = nullptr;
            if (!freeOutput_.Pop(output)) {
                return;
            }
            CopyFromOutput(pass, *output);
            output->frameNumber = frameNumber;
            toEncoder_.Push(output);
        }
        pass.Finish();
        toEncoder_.Close();
    }

    void Encode() {
        Picture* picture = nullptr;
        while (toEncoder_.Pop(picture)) {
            for (FrameSink* sink : job_.sinks) {
                sink->Consume(*picture);
            }
            freeOutput_.Push(picture);
            ++done_;
        }
        // A queue that ended because of a failure elsewhere leaves the
        // output incomplete: it must not be finished as if it were whole.
        if (!Failed()) {
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

    const CompositeJob& job_;
    std::vector<std::unique_ptr<Picture>> inputPictures_;
    std::vector<std::unique_ptr<Picture>> outputPictures_;
    BoundedQueue<Picture*> freeInput_;
    BoundedQueue<Picture*> toFilter_;
    BoundedQueue<Picture*> freeOutput_;
    BoundedQueue<Picture*> toEncoder_;
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
