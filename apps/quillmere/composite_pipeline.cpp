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

// Hands the pipeline's pictures to the processing pass. Like a host, the
// runner points the activation's source and output bitmaps at its own frame
// buffers, which have the pass's layout, so no frame is copied in or out;
// should the layouts ever differ, the pass's own buffers are used through
// copies instead.
class FrameBuffers {
public:
    FrameBuffers(FilterInstance& instance, ProcessingPass& pass, const Picture& sample)
        : source_(instance.activation().src->bitmap),
          output_(instance.activation().dst->bitmap),
          ownSource_(source_.data),
          ownOutput_(output_.data),
          pass_(pass) {
        const bool separateOutput = (pass.paramResult() & kFilterParamSwapBuffers) != 0;
        direct_ = separateOutput && Matches(source_, sample) && Matches(output_, sample);
    }
    ~FrameBuffers() { Restore(); }
    FrameBuffers(const FrameBuffers&) = delete;
    FrameBuffers& operator=(const FrameBuffers&) = delete;

    // Runs the filter on `input`, leaving the composite in `output` (or, with
    // no output, only in the pass).
    void Run(long frameNumber, Picture& input, Picture* output) {
        if (!direct_) {
            CopyIntoSource(input, pass_);
            pass_.RunFrame(frameNumber);
            if (output != nullptr) {
                CopyFromOutput(pass_, *output);
            }
            return;
        }
        source_.data = reinterpret_cast<Pixel32*>(input.pixels.data());
        output_.data = output != nullptr ? reinterpret_cast<Pixel32*>(output->pixels.data())
                                         : ownOutput_;
        pass_.RunFrame(frameNumber);
        Restore();
    }

    // Gives the pass its own buffers back.
    void Restore() {
        source_.data = ownSource_;
        output_.data = ownOutput_;
    }

private:
    static bool Matches(const VBitmap& bitmap, const Picture& picture) {
        return bitmap.w == picture.width && bitmap.h == picture.height &&
               bitmap.pitch == picture.pitch && bitmap.depth == 32;
    }

    VBitmap& source_;
    VBitmap& output_;
    Pixel32* const ownSource_;
    Pixel32* const ownOutput_;
    ProcessingPass& pass_;
    bool direct_ = false;
};

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
        if (job_.carryAudio && !job_.sinks.empty()) {
            job_.source->SetAudioHandler([this](PacketPtr packet, int audioIndex) {
                audio_.Push(AudioPacket{std::move(packet), audioIndex});
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
        job_.source->SetAudioHandler(nullptr);
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
        audio_.Abort();
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
        if (job_.outputOperations != nullptr) {
            job_.instance->activation().dst->bitmap.operations = job_.outputOperations;
        }
        const AVRational rate = source.frameRate();
        pass.SetMicrosecondsPerFrame(
            static_cast<long>(av_rescale(1000000, rate.den, rate.num)));
        FrameBuffers buffers(*job_.instance, pass, *inputPictures_.front());
        Picture* input = nullptr;
        while (toFilter_.Pop(input)) {
            const long frameNumber = input->frameNumber;
            Picture* output = nullptr;
            if (!job_.sinks.empty() && !freeOutput_.Pop(output)) {
                return;
            }
            buffers.Run(frameNumber, *input, output);
            freeInput_.Push(input);
            if (output == nullptr) {
                ++done_;
                continue;
            }
            output->frameNumber = frameNumber;
            toEncoder_.Push(output);
        }
        pass.Finish();
        toEncoder_.Close();
    }

    // Audio read so far goes out before the next frame; the muxer
    // interleaves the two by time.
    void PassAudio() {
        AudioPacket audio;
        while (audio_.TryPop(audio)) {
            for (FrameSink* sink : job_.sinks) {
                sink->ConsumeAudio(*audio.packet, audio.audioIndex);
            }
        }
    }

    void Encode() {
        Picture* picture = nullptr;
        while (toEncoder_.Pop(picture)) {
            PassAudio();
            for (FrameSink* sink : job_.sinks) {
                sink->Consume(*picture);
            }
            freeOutput_.Push(picture);
            ++done_;
        }
        // A queue that ended because of a failure elsewhere leaves the
        // output incomplete: it must not be finished as if it were whole.
        if (!Failed()) {
            PassAudio();
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
    struct AudioPacket {
        PacketPtr packet;
        int audioIndex = 0;
    };
    BoundedQueue<AudioPacket> audio_;
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
