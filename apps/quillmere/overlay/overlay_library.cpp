#include "apps/quillmere/overlay/overlay_library.h"

#include <map>
#include <mutex>

#include "apps/quillmere/overlay/overlay_prescaler.h"
#include "apps/quillmere/overlay/overlay_timeline.h"
#include "apps/quillmere/overlay/overlay_turner.h"
#include "source/ffmpeg_stream_info.h"
#include "source/platform_avi_library.h"

namespace {

struct ReaderState {
    std::shared_ptr<const OverlayTimeline> timeline;
    std::unique_ptr<OverlayTurner> turner;
    std::unique_ptr<OverlayPrescaler> prescaler;
    // The frame adapted (turned, scaled) last and its record: a still, or an
    // overlay slower than the main, asks for one frame many times in a row.
    long adaptedFrame = -1;
    void* adaptedRecord = nullptr;
};

// The adaptation in place and what it keeps per stream and per reader. The
// filter's calls come from the thread that opened the overlay and from the
// one that runs it; the lock keeps the tables whole between them. Handles
// may be released after the adaptation has ended (the module releases what
// it opened when it is unloaded): without a state every call passes through.
struct AdaptationState {
    OverlayAdaptation adaptation;
    std::mutex lock;
    std::map<AviStreamHandle, std::shared_ptr<const OverlayTimeline>> streams;
    std::map<FrameGetterHandle, ReaderState> readers;
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
    g_state->readers[reader] = std::move(state);
    return reader;
}

void* StreamGetFrame(FrameGetterHandle reader, long position) {
    const OverlayTimeline* timeline = nullptr;
    ReaderState* adapting = nullptr;
    if (g_state != nullptr) {
        std::lock_guard<std::mutex> hold(g_state->lock);
        const auto found = g_state->readers.find(reader);
        if (found != g_state->readers.end()) {
            ReaderState& state = found->second;
            timeline = state.timeline.get();
            // Made once the mask's size is known: frames fetched while the
            // overlay is being opened go through unscaled.
            const OverlayAdaptation& adaptation = g_state->adaptation;
            if (state.prescaler == nullptr && adaptation.scaler != OverlayScaler::Filter &&
                adaptation.scaledWidth > 0 && adaptation.scaledHeight > 0) {
                state.prescaler = std::make_unique<OverlayPrescaler>(
                    adaptation.scaledWidth, adaptation.scaledHeight,
                    SwsFlagsOf(adaptation.scaler), adaptation.premultiplyBeforeScaling);
                // What was adapted before went unscaled.
                state.adaptedFrame = -1;
                state.adaptedRecord = nullptr;
            }
            if (state.turner != nullptr || state.prescaler != nullptr) {
                adapting = &state;
            }
        }
    }
    const long frame = timeline != nullptr ? timeline->OverlayFrameFor(position) : position;
    if (frame < 0) {
        return nullptr;
    }
    if (adapting == nullptr) {
        return Platform().StreamGetFrame(reader, frame);
    }
    // The thread that opens the overlay fetches, then only the thread that
    // runs the filter: never both at once.
    if (frame == adapting->adaptedFrame && adapting->adaptedRecord != nullptr) {
        return adapting->adaptedRecord;
    }
    void* record = Platform().StreamGetFrame(reader, frame);
    if (record != nullptr && adapting->turner != nullptr) {
        record = adapting->turner->Turn(record);
    }
    if (record != nullptr && adapting->prescaler != nullptr) {
        record = adapting->prescaler->Scale(record);
    }
    adapting->adaptedRecord = record;
    adapting->adaptedFrame = frame;
    return record;
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
    for (auto& reader : g_state->readers) {
        reader.second.prescaler.reset();
        reader.second.adaptedRecord = nullptr;
        reader.second.adaptedFrame = -1;
    }
}
