#include "apps/quillmere/media/container_table.h"

#include <cstdint>

#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

// Lossless FFV1 keeps the composite exactly, in the main video's own pixel
// format; H.264 for the containers that players expect it in. MP4 and
// QuickTime write their index after the media, AVI its sizes into the header.
// Audio they cannot hold becomes lossless FLAC beside FFV1, 16-bit PCM in
// AVI (which has no place for FLAC), and AAC where players expect it.
// WebM holds only VP8, VP9 and AV1 with Vorbis and Opus: VP9 where this
// FFmpeg has libvpx, else AV1; audio becomes Opus.
const std::vector<OutputFormat> kOutputFormats = {
    {".mkv", "matroska", "ffv1", "Matroska, lossless FFV1", false, "flac", false},
    {".avi", "avi", "ffv1", "AVI, lossless FFV1", true, "pcm_s16le", true},
    {".nut", "nut", "ffv1", "NUT, lossless FFV1", false, "flac", false},
    {".mp4", "mp4", "libx264", "MP4, H.264", true, "aac", false},
    {".mov", "mov", "libx264", "QuickTime, H.264", true, "aac", false},
    {".webm", "webm", "libvpx-vp9", "WebM, VP9", false, "libopus", false, "libsvtav1"},
};

// The time base of a trial stream without a sample rate.
constexpr int kTrialTimeScale = 1000;

// Apple's players take HEVC only as 'hvc1' (parameter sets in the sample
// description), not as the 'hev1' that libavformat writes by default.
struct DefaultTagRow {
    const char* muxer;
    AVCodecID codec;
    const char* tag;
};
const DefaultTagRow kDefaultVideoTags[] = {
    {"mp4", AV_CODEC_ID_HEVC, "hvc1"},
    {"mov", AV_CODEC_ID_HEVC, "hvc1"},
};

// Muxers that write no stream titles: their tracks are named only by the
// handler box, which libavformat fills with its own names.
const char* const kMuxersWithoutStreamTitles[] = {"mp4", "mov"};

std::string KnownFormats() {
    std::string list;
    for (const OutputFormat& format : kOutputFormats) {
        list += list.empty() ? "" : ", ";
        list += format.extension;
    }
    return list;
}

std::string Lowercase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

}  // namespace

const std::vector<OutputFormat>& OutputFormats() { return kOutputFormats; }

const OutputFormat& OutputFormatForPath(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        const std::string extension = Lowercase(path.substr(dot));
        for (const OutputFormat& format : kOutputFormats) {
            if (extension == format.extension) {
                return format;
            }
        }
    }
    throw UsageError("cannot tell the output format from " + Quoted(path) + ": use " +
                     KnownFormats() + " or --format");
}

bool HoldsCodec(const OutputFormat& format, AVCodecID codec) {
    const AVOutputFormat* container = av_guess_format(format.muxer, nullptr, nullptr);
    return container != nullptr &&
           avformat_query_codec(container, codec, FF_COMPLIANCE_NORMAL) != 0;
}

bool HoldsStream(const OutputFormat& format, const AVCodecParameters& parameters) {
    AVFormatContext* trial = nullptr;
    if (avformat_alloc_output_context2(&trial, nullptr, format.muxer, nullptr) < 0 ||
        trial == nullptr) {
        return false;
    }
    AVStream* stream = avformat_new_stream(trial, nullptr);
    bool held = stream != nullptr && avcodec_parameters_copy(stream->codecpar, &parameters) >= 0 &&
                avio_open_dyn_buf(&trial->pb) >= 0;
    if (held) {
        stream->codecpar->codec_tag = 0;
        stream->time_base = AVRational{1, parameters.sample_rate > 0 ? parameters.sample_rate
                                                                     : kTrialTimeScale};
        held = avformat_write_header(trial, nullptr) >= 0;
    }
    if (trial->pb != nullptr) {
        std::uint8_t* written = nullptr;
        avio_close_dyn_buf(trial->pb, &written);
        av_free(written);
        trial->pb = nullptr;
    }
    avformat_free_context(trial);
    return held;
}

bool KeepsStreamTitles(const OutputFormat& format) {
    for (const char* muxer : kMuxersWithoutStreamTitles) {
        if (std::string(format.muxer) == muxer) {
            return false;
        }
    }
    return true;
}

std::string DefaultVideoTag(const OutputFormat& format, AVCodecID codec) {
    for (const DefaultTagRow& row : kDefaultVideoTags) {
        if (codec == row.codec && std::string(format.muxer) == row.muxer) {
            return row.tag;
        }
    }
    return "";
}

const OutputFormat& OutputFormatByName(const std::string& muxer) {
    for (const OutputFormat& format : kOutputFormats) {
        if (muxer == format.muxer || muxer == format.extension + 1) {
            return format;
        }
    }
    std::string names;
    for (const OutputFormat& format : kOutputFormats) {
        names += std::string(format.muxer) + ", ";
    }
    throw UsageError("unknown output format " + Quoted(muxer) + ": use one of " + names + "null");
}
