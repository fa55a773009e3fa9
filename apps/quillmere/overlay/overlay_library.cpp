#include "apps/quillmere/overlay/overlay_library.h"

#include <atomic>
#include <map>
#include <mutex>

#include "apps/quillmere/overlay/overlay_prescaler.h"
#include "apps/quillmere/overlay/overlay_timeline.h"
#include "apps/quillmere/overlay/shared_records.h"
#include "apps/quillmere/runner_error.h"
#include "apps/quillmere/overlay/overlay_turner.h"
#include "source/ffmpeg_stream_info.h"
#include "source/platform_avi_library.h"

namespace {

// Scaled frames kept for overlays whose frames come round again.
constexpr std::size_t kScaledFramesBudget = std::size_t{64} << 20;

struct ReaderState {
    std::shared_ptr<const OverlayTimeline> timeline;
    std::unique_ptr<OverlayTurner> turner;
    std::unique_ptr<SdrToHdrMapper> mapper;
    std::unique_ptr<OverlayPrescaler> prescaler;
    // The reader hands out frames scaled already (scaled in their own pixel
    // format before conversion, which for subsampled chroma costs a fraction
    // of scaling 32-bit pixels): only an overlay blended by straight alpha,
    // or one the reader does not scale, is scaled here instead.
    bool readerScales = false;
    ScaledFrameCache scaled;
    // The platform's record copied last for a recording, and its frame:
    // a still, or an overlay slower than the main, is copied once.
    long copiedFrame = -1;
    SharedRecord copied;
    // The frame turned (and converted) last, without a filtered scaler: a
    // still is turned once.
    long turnedFrame = -1;
    void* turned = nullptr;

    // Whether decoded frames are worked on before the filter sees them.
    bool Adjusts() const { return turner != nullptr || mapper != nullptr; }
    // A decoded record turned and converted as the adaptation asks: a record
    // of the turner's or the mapper's, valid until their next call; null
    // when either cannot read it.
    void* Adjusted(void* decoded) {
        void* turned = turner != nullptr ? turner->Turn(decoded) : decoded;
        return turned != nullptr && mapper != nullptr ? mapper->Map(turned) : turned;
    }
};

// The adaptation in place and what it keeps per stream and per reader. The
// filter's calls come from the thread that opened the overlay and from the
// ones that run it; `lock` keeps the tables whole between them, and
// `fetching` makes one fetch at a time (readers, scalers and the pool have
// one user). Handles may be released after the adaptation has ended (the
// module releases what it opened when it is unloaded): without a state every
// call passes through.
struct AdaptationState {
    OverlayAdaptation adaptation;
    std::mutex lock;
    std::mutex fetching;
    std::map<AviStreamHandle, std::shared_ptr<const OverlayTimeline>> streams;
    std::map<FrameGetterHandle, ReaderState> readers;
    RecordPool pool;
    std::string scalingProblem;  // set under `fetching`
};
AdaptationState* g_state = nullptr;

const AviLibrary& Platform() { return PlatformAviLibrary(); }

int SwsFlagsOf(OverlayScaler scaler) {
    switch (scaler) {
    case OverlayScaler::Area:
        return SWS_AREA;
    case OverlayScaler::Bicubic:
        return SWS_BICUBIC;
    case OverlayScaler::Lanczos:
        return SWS_LANCZOS;
    case OverlayScaler::Filter:
        break;
    }
    return 0;
}

std::shared_ptr<const OverlayTimeline> TimelineOf(AviStreamHandle stream) {
    const long length = Platform().StreamLength(stream);
    const std::shared_ptr<const VideoStreamInfo> info = FfmpegStreamInfo(stream);
    // Frame for frame is the plug-in's counting, stills included (shown on
    // the first frame only).
    if (g_state->adaptation.timing == OverlayTiming::Frames) {
        return std::make_shared<OverlayTimeline>(OverlayTimeline::FrameForFrame(length));
    }
    // Frames numbered by decoding order carry no times to go by.
    if (info == nullptr || info->numberedByDecodeOrder) {
        return std::make_shared<OverlayTimeline>(length == 1 ? OverlayTimeline::Still()
                                                             : OverlayTimeline::FrameForFrame(length));
    }
    return std::make_shared<OverlayTimeline>(OverlayTimeline::ByTime(
        info->frameTimes, info->timeBase, info->lastFrameDuration, g_state->adaptation.mainRate));
}

long FileOpen(AviFileHandle* file, const char* path, unsigned mode) {
    return Platform().FileOpen(file, path, mode);
}

long FileGetStream(AviFileHandle file, AviStreamHandle* stream, std::uint32_t type, long number) {
    const long result = Platform().FileGetStream(file, stream, type, number);
    if (result == 0 && *stream != nullptr && g_state != nullptr) {
        std::shared_ptr<const OverlayTimeline> timeline = TimelineOf(*stream);
        std::lock_guard<std::mutex> hold(g_state->lock);
        g_state->streams[*stream] = std::move(timeline);
    }
    return result;
}

long StreamStart(AviStreamHandle stream) { return Platform().StreamStart(stream); }

long StreamReadFormat(AviStreamHandle stream, long position, void* format, long* size) {
    return Platform().StreamReadFormat(stream, position, format, size);
}

FrameGetterHandle StreamGetFrameOpen(AviStreamHandle stream, BITMAPINFOHEADER* wanted) {
    FrameGetterHandle reader = Platform().StreamGetFrameOpen(stream, wanted);
    if (reader == nullptr || g_state == nullptr) {
        return reader;
    }
    std::lock_guard<std::mutex> hold(g_state->lock);
    ReaderState state;
    const auto found = g_state->streams.find(stream);
    if (found != g_state->streams.end()) {
        state.timeline = found->second;
    }
    if (!g_state->adaptation.turn.identity()) {
        state.turner = std::make_unique<OverlayTurner>(g_state->adaptation.turn);
    }
    if (g_state->adaptation.sdrToHdr) {
        state.mapper = std::make_unique<SdrToHdrMapper>(*g_state->adaptation.sdrToHdr);
    }
    g_state->readers[reader] = std::move(state);
    return reader;
}

std::atomic<long> g_scaledFrames{0};

// Frame `frame` scaled, from the reader's cache when it was scaled before.
SharedRecord ScaledFrame(FrameGetterHandle reader, ReaderState& state, long frame) {
    SharedRecord record;
    if (state.scaled.Find(frame, record)) {
        return record;
    }
    if (void* decoded = Platform().StreamGetFrame(reader, frame)) {
        std::shared_ptr<std::vector<std::uint8_t>> buffer = g_state->pool.Take();
        if (state.readerScales) {
            const auto* first = static_cast<const std::uint8_t*>(decoded);
            buffer->assign(first, first + RecordBytes(decoded));
            record = std::move(buffer);
        } else if (state.Adjusts()) {
            const void* turned = state.Adjusted(decoded);
            state.turnedFrame = -1;  // the turner's record is this frame's now
            if (turned != nullptr && state.prescaler->Scale(turned, *buffer)) {
                record = std::move(buffer);
            }
        } else if (state.prescaler->Scale(decoded, *buffer)) {
            record = std::move(buffer);
        }
        if (record == nullptr && !state.prescaler->problem().empty()) {
            g_state->scalingProblem = state.prescaler->problem() + " with " +
                                      FilteredScalerName(g_state->adaptation.scaler);
        }
        ++g_scaledFrames;
    }
    state.scaled.Add(frame, record);
    return record;
}

// The platform's record of frame `frame`, copied to outlast the reader's next fetch.
SharedRecord CopiedFrame(ReaderState* state, long frame, const void* decoded) {
    if (state != nullptr && state->copied != nullptr && state->copiedFrame == frame) {
        return state->copied;
    }
    const std::size_t bytes = RecordBytes(decoded);
    if (bytes == 0) {
        throw RunnerError("an overlay frame came in a layout that cannot be kept");
    }
    std::shared_ptr<std::vector<std::uint8_t>> buffer = g_state->pool.Take();
    const auto* first = static_cast<const std::uint8_t*>(decoded);
    buffer->assign(first, first + bytes);
    if (state != nullptr) {
        state->copiedFrame = frame;
        state->copied = buffer;
    }
    return buffer;
}

void* StreamGetFrame(FrameGetterHandle reader, long position) {
    if (const OverlayFetchLog* replaying = ReplayingLog()) {
        return replaying->Find(reader, position);
    }
    if (g_state == nullptr) {
        return Platform().StreamGetFrame(reader, position);
    }
    std::lock_guard<std::mutex> fetchingHold(g_state->fetching);
    ReaderState* state = nullptr;
    {
        std::lock_guard<std::mutex> hold(g_state->lock);
        const auto found = g_state->readers.find(reader);
        if (found != g_state->readers.end()) {
            state = &found->second;
            // Made once the mask's size is known: frames fetched while the
            // overlay is being opened go through unscaled.
            const OverlayAdaptation& adaptation = g_state->adaptation;
            if (state->prescaler == nullptr && adaptation.scaler != OverlayScaler::Filter &&
                adaptation.scaledWidth > 0 && adaptation.scaledHeight > 0) {
                state->prescaler = std::make_unique<OverlayPrescaler>(
                    adaptation.scaledWidth, adaptation.scaledHeight,
                    SwsFlagsOf(adaptation.scaler), adaptation.premultiplyBeforeScaling,
                    adaptation.scaledWindow);
                // A turned overlay is turned first, then scaled in 32 bits;
                // so is a window (the reader scales whole pictures).
                state->readerScales =
                    !adaptation.premultiplyBeforeScaling && !state->Adjusts() &&
                    adaptation.scaledWindow.width <= 0 &&
                    FfmpegScaleFrames(reader, adaptation.scaledWidth, adaptation.scaledHeight,
                                      SwsFlagsOf(adaptation.scaler));
                state->scaled =
                    ScaledFrameCache(adaptation.framesComeRound ? kScaledFramesBudget : 0);
            }
        }
    }
    OverlayFetchLog* recording = RecordingLog();
    const OverlayTimeline* timeline = state != nullptr ? state->timeline.get() : nullptr;
    const long frame = timeline != nullptr ? timeline->OverlayFrameFor(position) : position;
    void* result = nullptr;
    SharedRecord kept;
    if (frame < 0) {
        // Before the overlay's first frame or past its last: no frame.
    } else if (state != nullptr && state->prescaler != nullptr) {
        kept = ScaledFrame(reader, *state, frame);
        result = kept != nullptr ? const_cast<std::uint8_t*>(kept->data()) : nullptr;
    } else if (state != nullptr && state->Adjusts() && frame == state->turnedFrame &&
               state->turned != nullptr) {
        result = state->turned;
        if (recording != nullptr) {
            kept = CopiedFrame(state, frame, result);
        }
    } else {
        result = Platform().StreamGetFrame(reader, frame);
        if (result != nullptr && state != nullptr && state->Adjusts()) {
            result = state->Adjusted(result);
            state->turnedFrame = frame;
            state->turned = result;
        }
        if (recording != nullptr && result != nullptr) {
            kept = CopiedFrame(state, frame, result);
        }
    }
    if (recording != nullptr) {
        recording->Add(reader, position, std::move(kept));
    }
    return result;
}

long StreamLength(AviStreamHandle stream) {
    if (g_state != nullptr) {
        std::lock_guard<std::mutex> hold(g_state->lock);
        const auto found = g_state->streams.find(stream);
        if (found != g_state->streams.end()) {
            return found->second->length();
        }
    }
    return Platform().StreamLength(stream);
}

long GetFrameClose(FrameGetterHandle reader) {
    if (g_state != nullptr) {
        std::lock_guard<std::mutex> hold(g_state->lock);
        g_state->readers.erase(reader);
    }
    return Platform().GetFrameClose(reader);
}

long StreamRelease(AviStreamHandle stream) {
    if (g_state != nullptr) {
        std::lock_guard<std::mutex> hold(g_state->lock);
        g_state->streams.erase(stream);
    }
    return Platform().StreamRelease(stream);
}

long FileRelease(AviFileHandle file) { return Platform().FileRelease(file); }

const AviLibrary kAdaptedLibrary = {
    &FileOpen,       &FileGetStream, &StreamStart,   &StreamReadFormat, &StreamGetFrameOpen,
    &StreamGetFrame, &StreamLength,  &GetFrameClose, &StreamRelease,    &FileRelease,
};

}  // namespace

AdaptedOverlayLibrary::AdaptedOverlayLibrary(const OverlayAdaptation& adaptation) {
    g_state = new AdaptationState();
    g_state->adaptation = adaptation;
    previous_ = UseAviLibrary(&kAdaptedLibrary);
}

AdaptedOverlayLibrary::~AdaptedOverlayLibrary() {
    UseAviLibrary(previous_);
    delete g_state;
    g_state = nullptr;
}

void AdaptedOverlayLibrary::ScaleTo(int width, int height) {
    std::lock_guard<std::mutex> hold(g_state->lock);
    g_state->adaptation.scaledWidth = width;
    g_state->adaptation.scaledHeight = height;
    g_state->adaptation.scaledWindow = OutputWindow();
    for (auto& reader : g_state->readers) {
        reader.second.prescaler.reset();
        reader.second.readerScales = false;
        reader.second.scaled = ScaledFrameCache();
    }
}

long OverlayFramesScaled() { return g_scaledFrames.load(); }

std::string OverlayScalingProblem() {
    if (g_state == nullptr) {
        return "";
    }
    std::lock_guard<std::mutex> hold(g_state->fetching);
    return g_state->scalingProblem;
}

bool OverlayFetchesShareable() { return g_state != nullptr; }
