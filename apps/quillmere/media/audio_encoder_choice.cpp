#include "apps/quillmere/media/audio_encoder_choice.h"

#include <map>
#include <set>
#include <vector>

#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace {

// The rate and layout an encoder is tried with when it takes them.
constexpr int kTrialSampleRate = 48000;
const AVChannelLayout kTrialLayout = AV_CHANNEL_LAYOUT_STEREO;

// Encoders the runner offers: finished ones (libavcodec's own Opus and
// Vorbis encoders are experimental; libopus and libvorbis are not).
bool Offered(const AVCodec& codec) {
    return av_codec_is_encoder(&codec) && codec.type == AVMEDIA_TYPE_AUDIO &&
           (codec.capabilities & AV_CODEC_CAP_EXPERIMENTAL) == 0;
}

int TrialRate(const AVCodec& codec) {
    if (codec.supported_samplerates == nullptr) {
        return kTrialSampleRate;
    }
    for (const int* rate = codec.supported_samplerates; *rate != 0; ++rate) {
        if (*rate == kTrialSampleRate) {
            return *rate;
        }
    }
    return codec.supported_samplerates[0];
}

const AVChannelLayout& TrialLayout(const AVCodec& codec) {
    if (codec.ch_layouts == nullptr) {
        return kTrialLayout;
    }
    for (const AVChannelLayout* layout = codec.ch_layouts; layout->nb_channels != 0; ++layout) {
        if (av_channel_layout_compare(layout, &kTrialLayout) == 0) {
            return *layout;
        }
    }
    return codec.ch_layouts[0];
}

// Whether the container's muxer takes what the encoder makes: the encoder
// is opened on a made-up stream, and the container asked about its output.
bool TakesEncoder(const OutputFormat& format, const AVCodec& codec) {
    if (!HoldsCodec(format, codec.id)) {
        return false;
    }
    CodecContextPtr trial(avcodec_alloc_context3(&codec));
    if (!trial) {
        throw RunnerError("out of memory");
    }
    trial->sample_rate = TrialRate(codec);
    trial->sample_fmt = codec.sample_fmts != nullptr ? codec.sample_fmts[0] : AV_SAMPLE_FMT_S16;
    trial->time_base = AVRational{1, trial->sample_rate};
    if (av_channel_layout_copy(&trial->ch_layout, &TrialLayout(codec)) < 0) {
        throw RunnerError("out of memory");
    }
    const AVOutputFormat* container = av_guess_format(format.muxer, nullptr, nullptr);
    if (container != nullptr && (container->flags & AVFMT_GLOBALHEADER) != 0) {
        trial->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    AVCodecParameters* parameters = avcodec_parameters_alloc();
    if (parameters == nullptr) {
        throw RunnerError("out of memory");
    }
    const bool takes = avcodec_open2(trial.get(), &codec, nullptr) >= 0 &&
                       avcodec_parameters_from_context(parameters, trial.get()) >= 0 &&
                       HoldsStream(format, *parameters);
    avcodec_parameters_free(&parameters);
    return takes;
}

// Offered encoders by codec name, each codec's in the order libavcodec
// prefers them, for the codecs the container's tag list names.
std::map<std::string, std::vector<const AVCodec*>> EncodersFor(const OutputFormat& format) {
    std::map<std::string, std::vector<const AVCodec*>> byCodec;
    void* position = nullptr;
    while (const AVCodec* codec = av_codec_iterate(&position)) {
        if (Offered(*codec) && HoldsCodec(format, codec->id)) {
            byCodec[avcodec_get_name(codec->id)].push_back(codec);
        }
    }
    return byCodec;
}

}  // namespace

std::vector<std::string> AllAudioCodecNames() {
    std::set<std::string> names;
    for (const OutputFormat& format : OutputFormats()) {
        for (const auto& [codec, encoders] : EncodersFor(format)) {
            names.insert(codec);
            for (const AVCodec* encoder : encoders) {
                names.insert(encoder->name);
            }
        }
    }
    return std::vector<std::string>(names.begin(), names.end());
}

std::string AudioCodecChoices(const OutputFormat& format) {
    std::string choices;
    for (const auto& [codec, encoders] : EncodersFor(format)) {
        if (!TakesEncoder(format, *encoders.front())) {
            continue;
        }
        std::string others;
        for (const AVCodec* encoder : encoders) {
            if (codec != encoder->name) {
                others += (others.empty() ? "" : ", ") + std::string(encoder->name);
            }
        }
        choices += (choices.empty() ? "" : ", ") + codec + (others.empty() ? "" : " (" + others + ")");
    }
    return choices;
}

const AVCodec& ChooseAudioEncoder(const OutputFormat& format, const std::string& name) {
    const AVCodec* chosen = avcodec_find_encoder_by_name(name.c_str());
    if (chosen == nullptr || !Offered(*chosen)) {
        chosen = nullptr;
        const AVCodecDescriptor* descriptor = avcodec_descriptor_get_by_name(name.c_str());
        void* position = nullptr;
        while (const AVCodec* codec = descriptor != nullptr ? av_codec_iterate(&position)
                                                            : nullptr) {
            if (chosen == nullptr && codec->id == descriptor->id && Offered(*codec)) {
                chosen = codec;
            }
        }
    }
    if (chosen != nullptr && TakesEncoder(format, *chosen)) {
        return *chosen;
    }
    const AVCodec* known = avcodec_find_encoder_by_name(name.c_str());
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get_by_name(name.c_str());
    const bool audio = (known != nullptr && known->type == AVMEDIA_TYPE_AUDIO) ||
                       (descriptor != nullptr && descriptor->type == AVMEDIA_TYPE_AUDIO);
    throw UsageError((audio ? "the " + std::string(format.extension) + " container cannot hold " +
                                  Quoted(name) + " audio"
                            : "unknown audio codec " + Quoted(name)) +
                     " (--audio-codec): for " + format.description + " use one of " +
                     AudioCodecChoices(format));
}

AudioEncoding MixedAudioEncoding(const OutputFormat& format, int codec, std::int64_t bitRate,
                                 std::string& why) {
    const auto id = static_cast<AVCodecID>(codec);
    const AVCodec* same = avcodec_find_encoder(id);
    why.clear();
    if (same != nullptr && HoldsCodec(format, id)) {
        return AudioEncoding{same->name, bitRate};
    }
    if (avcodec_find_encoder_by_name(format.audioEncoder) == nullptr) {
        throw RunnerError(std::string("cannot mix the overlay's sound into the main video's ") +
                          avcodec_get_name(id) + " audio: this FFmpeg has no encoder for it or "
                          "for " + format.audioEncoder + " (--audio-codec names another)");
    }
    why = same == nullptr ? "this FFmpeg has no encoder for it"
                          : "the " + std::string(format.extension) + " container cannot hold it";
    return AudioEncoding{format.audioEncoder, bitRate};
}
