// The overlay's sound mixed into the main's audio through libavfilter: the
// overlay's audio is read from its file (amovie), cut and looped as the
// overlay's pictures are, faded with them, set to its level (volume) and
// delayed to where the overlay first shows, then summed with the main's
// (amix). Ducking lowers the main's level while the overlay plays, with
// short straight ramps at both ends (volume, evaluated on frames of a few
// samples so that the ramps have no audible steps).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "apps/quillmere/media/ffmpeg_handles.h"

struct AVFilterGraph;
struct AVFilterContext;

// Times are seconds on the main's clock (its streams' timestamps).
struct AudioMixing {
    std::string overlayPath;
    double start = 0;           // where the overlay first shows
    std::optional<double> end;  // where it stops showing; none: with the main
    double overlayFrom = 0;     // where in the overlay's sound `start` falls
    // With --repeat: the overlay's sound from overlayFrom, this long, comes round.
    std::optional<double> cycle;
    double fadeIn = 0;  // the overlay's fades, as long as its pictures'
    double fadeOut = 0;
    double volume = 1;  // the overlay's level, a factor
    double duck = 1;    // the main's level while the overlay plays, a factor
};

// How long the ducking ramps take: long enough not to click, short enough
// to sound like a switch.
constexpr double kDuckRampSeconds = 0.1;

// The filter graph's description, for a main whose first sample is at
// `mainStart` and whose samples come at `sampleRate` in `layout`.
std::string MixingGraphText(const AudioMixing& mixing, double mainStart, int sampleRate,
                            const std::string& layout);

class AudioMixer {
public:
    // `displayName` names the output in messages.
    AudioMixer(const AudioMixing& mixing, const std::string& displayName);
    ~AudioMixer();
    AudioMixer(const AudioMixer&) = delete;
    AudioMixer& operator=(const AudioMixer&) = delete;

    using FrameHandler = std::function<void(AVFrame& frame)>;
    // Takes a decoded frame of the main's audio, timed in `timeBase` (null:
    // the main's audio has ended); what the mix completes goes to `out`.
    void Push(AVFrame* frame, AVRational timeBase, const FrameHandler& out);

private:
    void Build(const AVFrame& first, AVRational timeBase);
    void Pull(const FrameHandler& out);

    AudioMixing mixing_;
    std::string displayName_;
    AVFilterGraph* graph_ = nullptr;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    FramePtr mixed_;
    AVRational timeBase_{0, 1};
    bool ended_ = false;
};
