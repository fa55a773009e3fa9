#include "apps/quillmere/media/audio_mixer.h"

#include <algorithm>
#include <cstdio>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

namespace {

// Ducking's level is worked out per frame: frames this short make the
// ramps' steps too small to hear.
constexpr int kDuckFrameSamples = 64;
constexpr double kMillisecondsPerSecond = 1000;

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", value);
    return text;
}

// The main's gain while the overlay plays: from 1 down to the duck's level
// over a ramp from `start`, and back up over a ramp ending at `end`.
std::string DuckExpression(const AudioMixing& mixing) {
    const std::string ramp = Number(kDuckRampSeconds);
    std::string weight = "(t-" + Number(mixing.start) + ")/" + ramp;
    if (mixing.end) {
        weight = "min(" + weight + "\\," + "(" + Number(*mixing.end) + "-t)/" + ramp + ")";
    }
    return "1-" + Number(1 - mixing.duck) + "*clip(" + weight + "\\,0\\,1)";
}

std::string LayoutName(const AVChannelLayout& layout) {
    AVChannelLayout named{};
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_default(&named, layout.nb_channels);
    } else if (av_channel_layout_copy(&named, &layout) < 0) {
        throw RunnerError("out of memory");
    }
    char text[128] = "";
    av_channel_layout_describe(&named, text, sizeof text);
    av_channel_layout_uninit(&named);
    return text;
}

}  // namespace

std::string MixingGraphText(const AudioMixing& mixing, double mainStart, int sampleRate,
                            const std::string& layout) {
    std::string main = "[in]";
    if (mixing.duck < 1) {
        main += "asetnsamples=n=" + std::to_string(kDuckFrameSamples) +
                ":p=0,volume=volume=" + DuckExpression(mixing) + ":eval=frame";
    } else {
        main += "anull";
    }
    main += "[main]";

    // The overlay's sound in its own time, from 0 where it first shows.
    std::string layer = "[overlay]aresample=" + std::to_string(sampleRate) +
                        ",aformat=sample_fmts=fltp:sample_rates=" + std::to_string(sampleRate) +
                        ":channel_layouts=" + layout + ",atrim=start=" + Number(mixing.overlayFrom);
    if (mixing.cycle) {
        layer += ":end=" + Number(mixing.overlayFrom + *mixing.cycle);
    }
    layer += ",asetpts=PTS-STARTPTS";
    if (mixing.cycle) {
        const auto samples = static_cast<long long>(*mixing.cycle * sampleRate + 0.5);
        layer += ",aloop=loop=-1:size=" + std::to_string(std::max(1LL, samples));
    }
    // A main whose sound starts after the overlay does misses the beginning.
    const double late = mainStart - mixing.start;
    if (late > 0) {
        layer += ",atrim=start=" + Number(late) + ",asetpts=PTS-STARTPTS";
    }
    const double shown = std::max(0.0, mixing.start - mainStart);
    if (mixing.end) {
        const double length = *mixing.end - std::max(mixing.start, mainStart);
        layer += ",atrim=end=" + Number(std::max(0.0, length));
        if (mixing.fadeOut > 0) {
            layer += ",afade=t=out:st=" + Number(std::max(0.0, length - mixing.fadeOut)) +
                     ":d=" + Number(mixing.fadeOut);
        }
    }
    if (mixing.fadeIn > 0) {
        layer += ",afade=t=in:st=" + Number(-std::min(0.0, late)) + ":d=" + Number(mixing.fadeIn);
    }
    layer += ",volume=volume=" + Number(mixing.volume);
    if (shown > 0) {
        layer += ",adelay=delays=" + Number(shown * kMillisecondsPerSecond) + ":all=1";
    }
    layer += "[layer]";
    return main + ";" + layer +
           ";[main][layer]amix=inputs=2:duration=first:dropout_transition=0:normalize=0[out]";
}

AudioMixer::AudioMixer(const AudioMixing& mixing, const std::string& displayName)
    : mixing_(mixing), displayName_(displayName), mixed_(NewFrame()) {}

AudioMixer::~AudioMixer() { avfilter_graph_free(&graph_); }

void AudioMixer::Build(const AVFrame& first, AVRational timeBase) {
    timeBase_ = timeBase;
    graph_ = avfilter_graph_alloc();
    if (graph_ == nullptr) {
        throw RunnerError("out of memory");
    }
    const std::string layout = LayoutName(first.ch_layout);
    const char* format = av_get_sample_fmt_name(static_cast<AVSampleFormat>(first.format));
    const std::string sourceArguments =
        "time_base=" + std::to_string(timeBase.num) + "/" + std::to_string(timeBase.den) +
        ":sample_rate=" + std::to_string(first.sample_rate) +
        ":sample_fmt=" + (format != nullptr ? format : "flt") + ":channel_layout=" + layout;
    int error = avfilter_graph_create_filter(&source_, avfilter_get_by_name("abuffer"), "in",
                                             sourceArguments.c_str(), nullptr, graph_);
    if (error >= 0) {
        error = avfilter_graph_create_filter(&sink_, avfilter_get_by_name("abuffersink"), "out",
                                             nullptr, nullptr, graph_);
    }
    if (error < 0) {
        throw RunnerError("cannot mix the overlay's sound into " + Quoted(displayName_) + ": " +
                          AvErrorText(error));
    }
    // The overlay's file is named through its option, which needs no escaping.
    AVFilterContext* overlay =
        avfilter_graph_alloc_filter(graph_, avfilter_get_by_name("amovie"), "overlay");
    if (overlay == nullptr) {
        throw RunnerError("out of memory");
    }
    error = av_opt_set(overlay, "filename", mixing_.overlayPath.c_str(), AV_OPT_SEARCH_CHILDREN);
    if (error >= 0) {
        error = avfilter_init_str(overlay, nullptr);
    }
    if (error < 0) {
        throw RunnerError("cannot read the sound of the overlay " + Quoted(mixing_.overlayPath) +
                          " (" + AvErrorText(error) + "); without --overlay-audio the main's "
                          "audio is kept alone");
    }

    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* overlayOutput = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    if (outputs == nullptr || overlayOutput == nullptr || inputs == nullptr) {
        avfilter_inout_free(&outputs);
        avfilter_inout_free(&overlayOutput);
        avfilter_inout_free(&inputs);
        throw RunnerError("out of memory");
    }
    outputs->name = av_strdup("in");
    outputs->filter_ctx = source_;
    outputs->next = overlayOutput;
    overlayOutput->name = av_strdup("overlay");
    overlayOutput->filter_ctx = overlay;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink_;
    const double mainStart = first.pts != AV_NOPTS_VALUE ? first.pts * av_q2d(timeBase) : 0;
    const std::string text = MixingGraphText(mixing_, mainStart, first.sample_rate, layout);
    error = avfilter_graph_parse_ptr(graph_, text.c_str(), &inputs, &outputs, nullptr);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (error >= 0) {
        error = avfilter_graph_config(graph_, nullptr);
    }
    if (error < 0) {
        throw RunnerError("cannot mix the sound of the overlay " + Quoted(mixing_.overlayPath) +
                          " into " + Quoted(displayName_) + ": " + AvErrorText(error));
    }
}

void AudioMixer::Push(AVFrame* frame, AVRational timeBase, const FrameHandler& out) {
    if (ended_) {
        return;
    }
    if (frame == nullptr) {
        ended_ = true;
        if (graph_ == nullptr) {
            return;  // the main had no sound to mix into
        }
        const int error = av_buffersrc_add_frame_flags(source_, nullptr, 0);
        if (error < 0) {
            throw RunnerError("cannot mix the overlay's sound into " + Quoted(displayName_) +
                              ": " + AvErrorText(error));
        }
        Pull(out);
        return;
    }
    if (graph_ == nullptr) {
        Build(*frame, timeBase);
    }
    frame->pts = av_rescale_q(frame->pts, timeBase, timeBase_);
    const int error = av_buffersrc_add_frame_flags(source_, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
    if (error < 0) {
        throw RunnerError("cannot mix the overlay's sound into " + Quoted(displayName_) + ": " +
                          AvErrorText(error));
    }
    Pull(out);
}

void AudioMixer::Pull(const FrameHandler& out) {
    for (;;) {
        const int error = av_buffersink_get_frame(sink_, mixed_.get());
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) {
            return;
        }
        if (error < 0) {
            throw RunnerError("cannot mix the overlay's sound into " + Quoted(displayName_) +
                              ": " + AvErrorText(error));
        }
        out(*mixed_);
        av_frame_unref(mixed_.get());
    }
}
