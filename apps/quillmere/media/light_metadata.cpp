#include "apps/quillmere/media/light_metadata.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "apps/quillmere/media/container_table.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
}

namespace {

using Settings = std::vector<std::pair<std::string, std::string>>;

// x265's units (those of the HEVC SEI): chromaticities in 0.00002,
// luminance in 0.0001 cd/m2.
constexpr std::int64_t kX265ChromaUnits = 50000;
constexpr std::int64_t kX265LuminanceUnits = 10000;

// Muxers that keep mastering-display and light-level side data as boxes
// or elements of their own, and those that keep the colour description.
const char* const kLightMuxers[] = {"matroska", "webm", "mp4", "mov"};
const char* const kColourMuxers[] = {"matroska", "webm", "mp4", "mov"};
// Codecs whose streams state their colour description themselves.
const AVCodecID kColourCodecs[] = {AV_CODEC_ID_H264, AV_CODEC_ID_HEVC, AV_CODEC_ID_VP9,
                                   AV_CODEC_ID_AV1};

// An encoder whose FFmpeg wrapper leaves the metadata out, and where its
// own parameters take it.
struct LightParameters {
    const char* encoder;
    const char* option;
    Settings (*settings)(const LightMetadata& light);
};

std::int64_t InUnits(AVRational value, std::int64_t units) {
    return value.den == 0 ? 0 : av_rescale_rnd(value.num, units, value.den, AV_ROUND_NEAR_INF);
}

// The display's primaries in x265's order (green, blue, red: index 1, 2,
// 0 of libavutil's red, green, blue), then the white point and luminance,
// each value written by `write`.
std::string MasteringText(const AVMasteringDisplayMetadata& mastering,
                          std::string (*chroma)(AVRational),
                          std::string (*luminance)(AVRational)) {
    const AVRational(&primaries)[3][2] = mastering.display_primaries;
    const auto pair = [chroma](const char* name, const AVRational(&xy)[2]) {
        return std::string(name) + "(" + chroma(xy[0]) + "," + chroma(xy[1]) + ")";
    };
    return pair("G", primaries[1]) + pair("B", primaries[2]) + pair("R", primaries[0]) +
           pair("WP", mastering.white_point) + "L(" + luminance(mastering.max_luminance) + "," +
           luminance(mastering.min_luminance) + ")";
}

std::string X265Chroma(AVRational value) {
    return std::to_string(InUnits(value, kX265ChromaUnits));
}
std::string X265Luminance(AVRational value) {
    return std::to_string(InUnits(value, kX265LuminanceUnits));
}
std::string Decimal(AVRational value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value.den == 0 ? 0.0 : av_q2d(value));
    return text;
}

std::string LightLevels(const AVContentLightMetadata& levels) {
    return std::to_string(levels.MaxCLL) + "," + std::to_string(levels.MaxFALL);
}

// Both need the whole colour volume: a display without primaries or
// without luminance is not written.
bool Complete(const AVMasteringDisplayMetadata& mastering) {
    return mastering.has_primaries != 0 && mastering.has_luminance != 0;
}

Settings X265Settings(const LightMetadata& light) {
    Settings settings;
    if (light.mastering && Complete(*light.mastering)) {
        settings.emplace_back("master-display",
                              MasteringText(*light.mastering, &X265Chroma, &X265Luminance));
    }
    if (light.contentLight) {
        settings.emplace_back("max-cll", LightLevels(*light.contentLight));
    }
    if (!settings.empty()) {
        settings.emplace(settings.begin(), "hdr10", "1");
    }
    return settings;
}

Settings SvtAv1Settings(const LightMetadata& light) {
    Settings settings;
    if (light.mastering && Complete(*light.mastering)) {
        settings.emplace_back("mastering-display",
                              MasteringText(*light.mastering, &Decimal, &Decimal));
    }
    if (light.contentLight) {
        settings.emplace_back("content-light", LightLevels(*light.contentLight));
    }
    if (!settings.empty()) {
        settings.emplace(settings.begin(), "enable-hdr", "1");
    }
    return settings;
}

const LightParameters kLightParameters[] = {
    {"libx265", "x265-params", &X265Settings},
    {"libsvtav1", "svtav1-params", &SvtAv1Settings},
};

std::string Joined(const Settings& settings) {
    std::string text;
    for (const auto& [key, value] : settings) {
        text += (text.empty() ? "" : ":") + key + "=" + value;
    }
    return text;
}

bool Named(const char* name, const char* const* begin, const char* const* end) {
    for (const char* const* entry = begin; entry != end; ++entry) {
        if (std::strcmp(name, *entry) == 0) {
            return true;
        }
    }
    return false;
}

bool WritesLight(const AVCodec& codec) {
    for (const LightParameters& parameters : kLightParameters) {
        if (std::strcmp(codec.name, parameters.encoder) == 0) {
            return true;
        }
    }
    return false;
}

void AddSideData(AVStream& stream, AVPacketSideDataType type, const void* data,
                 std::size_t size) {
    std::uint8_t* copy = av_stream_new_side_data(&stream, type, size);
    if (copy == nullptr) {
        throw RunnerError("out of memory");
    }
    std::memcpy(copy, data, size);
}

}  // namespace

LightMetadata LightMetadataOf(const AVStream& stream, const AVFrame* frame) {
    LightMetadata light;
    std::size_t size = 0;
    const std::uint8_t* data =
        av_stream_get_side_data(&stream, AV_PKT_DATA_MASTERING_DISPLAY_METADATA, &size);
    if (data != nullptr && size >= sizeof(AVMasteringDisplayMetadata)) {
        light.mastering = *reinterpret_cast<const AVMasteringDisplayMetadata*>(data);
    }
    data = av_stream_get_side_data(&stream, AV_PKT_DATA_CONTENT_LIGHT_LEVEL, &size);
    if (data != nullptr && size >= sizeof(AVContentLightMetadata)) {
        light.contentLight = *reinterpret_cast<const AVContentLightMetadata*>(data);
    }
    light.dolbyVision =
        av_stream_get_side_data(&stream, AV_PKT_DATA_DOVI_CONF, &size) != nullptr;
    if (frame != nullptr) {
        const AVFrameSideData* side =
            av_frame_get_side_data(frame, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA);
        if (!light.mastering && side != nullptr &&
            side->size >= sizeof(AVMasteringDisplayMetadata)) {
            light.mastering = *reinterpret_cast<const AVMasteringDisplayMetadata*>(side->data);
        }
        side = av_frame_get_side_data(frame, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL);
        if (!light.contentLight && side != nullptr &&
            side->size >= sizeof(AVContentLightMetadata)) {
            light.contentLight = *reinterpret_cast<const AVContentLightMetadata*>(side->data);
        }
        light.dolbyVision = light.dolbyVision ||
                            av_frame_get_side_data(frame, AV_FRAME_DATA_DOVI_METADATA) != nullptr ||
                            av_frame_get_side_data(frame, AV_FRAME_DATA_DOVI_RPU_BUFFER) != nullptr;
    }
    if (light.mastering && light.mastering->has_primaries == 0 &&
        light.mastering->has_luminance == 0) {
        light.mastering.reset();
    }
    return light;
}

std::string X265LightParameters(const LightMetadata& light) {
    return Joined(X265Settings(light));
}

std::string SvtAv1LightParameters(const LightMetadata& light) {
    return Joined(SvtAv1Settings(light));
}

void PassLightMetadata(AVCodecContext& context, const AVCodec& codec, const LightMetadata& light) {
    for (const LightParameters& parameters : kLightParameters) {
        if (std::strcmp(codec.name, parameters.encoder) != 0) {
            continue;
        }
        const Settings settings = parameters.settings(light);
        if (settings.empty()) {
            return;
        }
        AVDictionary* dictionary = nullptr;
        if (av_opt_get_dict_val(context.priv_data, parameters.option, 0, &dictionary) < 0) {
            return;  // a build of the wrapper without the option
        }
        for (const auto& [key, value] : settings) {
            av_dict_set(&dictionary, key.c_str(), value.c_str(), AV_DICT_DONT_OVERWRITE);
        }
        const int error = av_opt_set_dict_val(context.priv_data, parameters.option, dictionary, 0);
        av_dict_free(&dictionary);
        if (error < 0) {
            throw RunnerError("out of memory");
        }
    }
}

void AddLightSideData(AVStream& stream, const LightMetadata& light) {
    if (light.mastering) {
        AddSideData(stream, AV_PKT_DATA_MASTERING_DISPLAY_METADATA, &*light.mastering,
                    sizeof(AVMasteringDisplayMetadata));
    }
    if (light.contentLight) {
        AddSideData(stream, AV_PKT_DATA_CONTENT_LIGHT_LEVEL, &*light.contentLight,
                    sizeof(AVContentLightMetadata));
    }
}

std::string LostLightNote(const OutputFormat& format, const AVCodec& codec,
                          const LightMetadata& light, AVColorTransferCharacteristic transfer,
                          const std::string& displayName) {
    std::vector<std::string> lost;
    const bool lightMuxer =
        Named(format.muxer, std::begin(kLightMuxers), std::end(kLightMuxers));
    if (light.hdr10() && !lightMuxer && !WritesLight(codec)) {
        lost.emplace_back("its mastering-display and light-level metadata");
    }
    const bool hdrTransfer = transfer == AVCOL_TRC_SMPTE2084 || transfer == AVCOL_TRC_ARIB_STD_B67;
    bool colourCodec = false;
    for (const AVCodecID id : kColourCodecs) {
        colourCodec = colourCodec || codec.id == id;
    }
    if (hdrTransfer && !colourCodec &&
        !Named(format.muxer, std::begin(kColourMuxers), std::end(kColourMuxers))) {
        lost.emplace_back(std::string("its ") +
                          (transfer == AVCOL_TRC_SMPTE2084 ? "PQ" : "HLG") +
                          " transfer and BT.2020 colours (players show it as SDR)");
    }
    if (light.dolbyVision) {
        lost.emplace_back("its Dolby Vision metadata, which the " + std::string(codec.name) +
                          " encoder cannot make again (the pictures keep their base layer's "
                          "HDR)");
    }
    if (lost.empty()) {
        return "";
    }
    std::string items;
    for (std::size_t index = 0; index < lost.size(); ++index) {
        items += (index == 0 ? "" : index + 1 == lost.size() ? " and " : ", ") + lost[index];
    }
    return Quoted(displayName) + " cannot keep all of the main video's HDR description; it " +
           "leaves out " + items + " (.mkv, or .mp4 with --codec hevc, keeps HDR10)";
}
