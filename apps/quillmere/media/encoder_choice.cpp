#include "apps/quillmere/media/encoder_choice.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "apps/quillmere/runner_error.h"
#include "apps/quillmere/media/container_table.h"
#include "hostkit/quoted_text.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace {

// The runner's own settings for an encoder, before the command line's.
// H.264 at a quality visually lossless for most material. VP9 at constant
// quality (its own default is a 200 kb/s bitrate, far too little for most
// pictures), as libvpx's guide suggests for files, with rows coded in
// parallel.
struct EncoderDefault {
    const char* encoder;
    const char* key;
    const char* value;
};
const EncoderDefault kEncoderDefaults[] = {
    {"libx264", "crf", "18"},
    {"libvpx-vp9", "crf", "31"},
    {"libvpx-vp9", "b", "0"},
    {"libvpx-vp9", "row-mt", "1"},
};
// FFV1 version 3 codes slices in parallel and checks each with a CRC.
constexpr int kFfv1Version = 3;
// Encoder libraries that report through logging of their own rather than
// FFmpeg's: the runner reports in its own lines, so they say only what went
// wrong, and nothing under -q. A level the user sets is kept.
void QuietenX265(AVCodecContext& context, bool quiet) {
    AVDictionary* params = nullptr;
    if (av_opt_get_dict_val(context.priv_data, "x265-params", 0, &params) < 0) {
        return;
    }
    if (av_dict_get(params, "log-level", nullptr, 0) == nullptr) {
        av_dict_set(&params, "log-level", quiet ? "none" : "error", 0);
        av_opt_set_dict_val(context.priv_data, "x265-params", params, 0);
    }
    av_dict_free(&params);
}
void QuietenSvtAv1(AVCodecContext&, bool quiet) {
    // Read from the environment when the encoder starts: 0 fatal, 1 errors.
    setenv("SVT_LOG", quiet ? "0" : "1", 0);
}
struct LibraryLog {
    const char* encoder;
    void (*quieten)(AVCodecContext& context, bool quiet);
};
const LibraryLog kLibraryLogs[] = {
    {"libx265", &QuietenX265},
    {"libsvtav1", &QuietenSvtAv1},
};

// Encoders that take their preset as free text and check it only when they
// open; their names are the x264 family's.
const char* const kFreeTextPresetEncoders[] = {"libx264", "libx264rgb", "libx265"};
const char* const kX264FamilyPresets[] = {"ultrafast", "superfast", "veryfast", "faster", "fast",
                                          "medium",    "slow",      "slower",   "veryslow",
                                          "placebo"};

std::string JoinNames(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names) {
        joined += (joined.empty() ? "" : ", ") + name;
    }
    return joined;
}

// OpenMAX encoders need a device and its library, and say so only by
// their names.
const char kDeviceEncoderSuffix[] = "_omx";

bool HasSuffix(const char* name, const char* suffix) {
    const std::size_t length = std::strlen(name);
    const std::size_t suffixLength = std::strlen(suffix);
    return length >= suffixLength && std::strcmp(name + length - suffixLength, suffix) == 0;
}

// An encoder the runner can open here: software, finished, taking frames
// in memory (hardware encoders want devices this machine may not have).
bool UsableHere(const AVCodec& codec) {
    constexpr int kNeedsDevice =
        AV_CODEC_CAP_EXPERIMENTAL | AV_CODEC_CAP_HARDWARE | AV_CODEC_CAP_HYBRID;
    if (!av_codec_is_encoder(&codec) || codec.type != AVMEDIA_TYPE_VIDEO ||
        (codec.capabilities & kNeedsDevice) != 0 ||
        HasSuffix(codec.name, kDeviceEncoderSuffix)) {
        return false;
    }
    if (codec.pix_fmts == nullptr) {
        return true;
    }
    for (const AVPixelFormat* format = codec.pix_fmts; *format != AV_PIX_FMT_NONE; ++format) {
        const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(*format);
        if (descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_HWACCEL) == 0) {
            return true;
        }
    }
    return false;
}

const AVOutputFormat& ContainerOf(const OutputFormat& format) {
    const AVOutputFormat* container = av_guess_format(format.muxer, nullptr, nullptr);
    if (container == nullptr) {
        throw RunnerError(std::string("this FFmpeg cannot write ") + format.description);
    }
    return *container;
}

// The encoders that suit the container, grouped by codec: the container's
// own codec first, the others by name; each codec's encoders in the order
// libavcodec prefers them.
std::vector<std::vector<const AVCodec*>> EncodersByCodec(const OutputFormat& format) {
    const AVOutputFormat& container = ContainerOf(format);
    std::map<std::string, std::vector<const AVCodec*>> byName;
    void* position = nullptr;
    while (const AVCodec* codec = av_codec_iterate(&position)) {
        if (UsableHere(*codec) &&
            avformat_query_codec(&container, codec->id, FF_COMPLIANCE_NORMAL) == 1) {
            byName[avcodec_get_name(codec->id)].push_back(codec);
        }
    }
    std::vector<std::vector<const AVCodec*>> groups;
    for (auto& [name, encoders] : byName) {
        const bool own = std::any_of(encoders.begin(), encoders.end(), [&](const AVCodec* codec) {
            return std::strcmp(codec->name, format.encoder) == 0;
        });
        groups.insert(own ? groups.begin() : groups.end(), encoders);
    }
    return groups;
}

std::string OptionRange(const AVOption& option) {
    switch (option.type) {
    case AV_OPT_TYPE_INT:
    case AV_OPT_TYPE_INT64:
    case AV_OPT_TYPE_FLOAT:
    case AV_OPT_TYPE_DOUBLE: {
        // A range as wide as the type says nothing worth reading.
        constexpr double kMeaningfulLimit = 1e9;
        if (option.min <= -kMeaningfulLimit || option.max >= kMeaningfulLimit) {
            return "";
        }
        char text[64];
        std::snprintf(text, sizeof text, " (from %g to %g)", option.min, option.max);
        return text;
    }
    default:
        return "";
    }
}

// Sets `key` as the command line spells it, on the context or the
// encoder's own options.
void SetEncoderOption(AVCodecContext& context, const AVCodec& codec, const std::string& key,
                      const std::string& value, const std::string& spelling) {
    const AVOption* option =
        av_opt_find(&context, key.c_str(), nullptr, 0, AV_OPT_SEARCH_CHILDREN);
    if (option == nullptr || option->type == AV_OPT_TYPE_CONST ||
        (option->flags & AV_OPT_FLAG_ENCODING_PARAM) == 0) {
        throw UsageError("the " + std::string(codec.name) + " encoder has no option " +
                         Quoted(key) + " (" + spelling + ")");
    }
    if (av_opt_set(&context, key.c_str(), value.c_str(), AV_OPT_SEARCH_CHILDREN) < 0) {
        throw UsageError("invalid value " + Quoted(value) + " for the " + codec.name +
                         " encoder's option " + Quoted(key) + OptionRange(*option) + " (" +
                         spelling + ")");
    }
}

// The preset names the encoder lists, or those of its family; empty when
// it states none (a number, say, which its range then checks).
std::vector<std::string> PresetNames(const AVCodecContext& context, const AVCodec& codec,
                                     const AVOption& preset) {
    std::vector<std::string> names;
    if (preset.unit != nullptr) {
        const AVOption* option = nullptr;
        while ((option = av_opt_next(context.priv_data, option)) != nullptr) {
            if (option->type == AV_OPT_TYPE_CONST && option->unit != nullptr &&
                std::strcmp(option->unit, preset.unit) == 0) {
                names.emplace_back(option->name);
            }
        }
    }
    for (const char* encoder : kFreeTextPresetEncoders) {
        if (names.empty() && std::strcmp(codec.name, encoder) == 0) {
            names = X264FamilyPresetNames();
        }
    }
    return names;
}

void SetPreset(AVCodecContext& context, const AVCodec& codec, const std::string& name) {
    const AVOption* preset = context.priv_data == nullptr
                                 ? nullptr
                                 : av_opt_find(context.priv_data, "preset", nullptr, 0, 0);
    if (preset == nullptr) {
        throw UsageError("the " + std::string(codec.name) + " encoder has no presets (--preset)");
    }
    const std::vector<std::string> names = PresetNames(context, codec, *preset);
    if (!names.empty() && std::find(names.begin(), names.end(), name) == names.end()) {
        throw UsageError("unknown preset " + Quoted(name) + " for the " + codec.name +
                         " encoder: use one of " + JoinNames(names));
    }
    SetEncoderOption(context, codec, "preset", name, "--preset");
}

// The constant-quality scales of the encoders people use it with. Their
// options accept more (x264's takes any float) but reach nothing beyond.
struct QualityScale {
    const char* encoder;
    double lowest;
    double highest;
};
const QualityScale kQualityScales[] = {
    {"libx264", 0, 51},    {"libx264rgb", 0, 51}, {"libx265", 0, 51},
    {"libvpx", 0, 63},     {"libvpx-vp9", 0, 63}, {"libaom-av1", 0, 63},
    {"libsvtav1", 0, 63},
};

// A --crf outside the encoder's scale is a mistake: say so rather than let
// the encoder quietly clamp or misread it.
void CheckQuality(const AVCodec& codec, const std::string& text) {
    for (const QualityScale& scale : kQualityScales) {
        if (std::strcmp(codec.name, scale.encoder) != 0) {
            continue;
        }
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (text.empty() || end != text.c_str() + text.size() || !(value >= scale.lowest) ||
            value > scale.highest) {
            char range[64];
            std::snprintf(range, sizeof range, "%g-%g", scale.lowest, scale.highest);
            throw UsageError("invalid value " + Quoted(text) + " for --crf: the " + codec.name +
                             " encoder's scale is " + range + ", lower is better");
        }
    }
}

}  // namespace

std::string CodecChoices(const OutputFormat& format) {
    std::vector<std::string> choices;
    for (const std::vector<const AVCodec*>& encoders : EncodersByCodec(format)) {
        const char* codecName = avcodec_get_name(encoders.front()->id);
        std::vector<std::string> encoderNames;
        for (const AVCodec* encoder : encoders) {
            if (std::strcmp(encoder->name, codecName) != 0) {
                encoderNames.emplace_back(encoder->name);
            }
        }
        choices.push_back(codecName + (encoderNames.empty() ? std::string()
                                                            : " (" + JoinNames(encoderNames) + ")"));
    }
    return JoinNames(choices);
}

std::vector<std::string> AllCodecNames() {
    std::set<std::string> names;
    for (const OutputFormat& format : OutputFormats()) {
        for (const std::vector<const AVCodec*>& encoders : EncodersByCodec(format)) {
            names.insert(avcodec_get_name(encoders.front()->id));
            for (const AVCodec* encoder : encoders) {
                names.insert(encoder->name);
            }
        }
    }
    return std::vector<std::string>(names.begin(), names.end());
}

std::vector<std::string> X264FamilyPresetNames() {
    return std::vector<std::string>(std::begin(kX264FamilyPresets), std::end(kX264FamilyPresets));
}

const AVCodec& ChooseEncoder(const OutputFormat& format, const EncoderRequest& request) {
    std::vector<std::string> wanted = {request.codec.empty() ? format.encoder : request.codec};
    if (request.codec.empty() && format.fallbackEncoder != nullptr) {
        wanted.emplace_back(format.fallbackEncoder);
    }
    const AVCodec* chosen = nullptr;
    const std::vector<std::vector<const AVCodec*>> groups = EncodersByCodec(format);
    for (const std::string& name : wanted) {
        for (const std::vector<const AVCodec*>& encoders : groups) {
            for (const AVCodec* encoder : encoders) {
                if (chosen == nullptr &&
                    (name == encoder->name || name == avcodec_get_name(encoder->id))) {
                    chosen = encoder;
                }
            }
        }
    }
    if (chosen == nullptr) {
        if (request.codec.empty()) {
            throw RunnerError(std::string("this FFmpeg has no ") + format.encoder +
                              " encoder for " + format.description);
        }
        const bool known = avcodec_find_encoder_by_name(request.codec.c_str()) != nullptr ||
                           avcodec_descriptor_get_by_name(request.codec.c_str()) != nullptr;
        throw UsageError((known ? "the " + std::string(format.muxer) + " container cannot hold '" +
                                      request.codec + "' here"
                                : "unknown codec " + Quoted(request.codec)) +
                         ": for " + format.description + " use one of " + CodecChoices(format));
    }
    // Every setting is tried now, so that a mistake is a command-line error
    // before any work starts.
    CodecContextPtr trial(avcodec_alloc_context3(chosen));
    if (!trial) {
        throw RunnerError("out of memory");
    }
    ConfigureEncoder(*trial, *chosen, request);
    return *chosen;
}

void ConfigureEncoder(AVCodecContext& context, const AVCodec& codec,
                      const EncoderRequest& request) {
    context.thread_count = request.threads;
    for (const EncoderDefault& setting : kEncoderDefaults) {
        if (std::strcmp(codec.name, setting.encoder) == 0) {
            av_opt_set(&context, setting.key, setting.value, AV_OPT_SEARCH_CHILDREN);
        }
    }
    if (codec.id == AV_CODEC_ID_FFV1) {
        av_opt_set_int(context.priv_data, "slicecrc", 1, 0);
        context.level = kFfv1Version;
    }
    if (!request.crf.empty()) {
        CheckQuality(codec, request.crf);
        SetEncoderOption(context, codec, "crf", request.crf, "--crf");
    }
    if (!request.preset.empty()) {
        SetPreset(context, codec, request.preset);
    }
    for (const auto& [key, value] : request.options) {
        SetEncoderOption(context, codec, key, value, "--encoder-option " + key + "=" + value);
    }
    for (const LibraryLog& library : kLibraryLogs) {
        if (std::strcmp(codec.name, library.encoder) == 0) {
            library.quieten(context, request.quiet);
        }
    }
}
