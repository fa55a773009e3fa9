#include "apps/quillmere/media/muxer_settings.h"

#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace {

constexpr std::size_t kTagLength = 4;

std::string Spelling(const std::string& key, const std::string& value) {
    return "--muxer-option " + key + "=" + value;
}

}  // namespace

unsigned FourCharacterCode(const std::string& tag) {
    return MKTAG(tag[0], tag[1], tag[2], tag[3]);
}

void ApplyMuxerOptions(AVFormatContext& muxer, const MuxerRequest& request) {
    const std::string name = muxer.oformat->name;
    for (const auto& [key, value] : request.options) {
        // The muxer's own options and those every muxer has (fflags, ...).
        const AVOption* option =
            av_opt_find(&muxer, key.c_str(), nullptr, 0, AV_OPT_SEARCH_CHILDREN);
        if (option == nullptr || option->type == AV_OPT_TYPE_CONST ||
            (option->flags & AV_OPT_FLAG_ENCODING_PARAM) == 0) {
            throw UsageError("the " + name + " muxer has no option " + Quoted(key) + " (" +
                             Spelling(key, value) + ")");
        }
        if (av_opt_set(&muxer, key.c_str(), value.c_str(), AV_OPT_SEARCH_CHILDREN) < 0) {
            throw UsageError("invalid value " + Quoted(value) + " for the " + name +
                             " muxer's option " + Quoted(key) + " (" + Spelling(key, value) +
                             ")");
        }
    }
}

void CheckMuxerRequest(const OutputFormat& format, AVCodecID codec, const MuxerRequest& request) {
    // A context of the muxer, never opened: its options can be tried on it.
    AVFormatContext* trial = nullptr;
    if (avformat_alloc_output_context2(&trial, nullptr, format.muxer, nullptr) < 0 ||
        trial == nullptr) {
        throw RunnerError(std::string("this FFmpeg cannot write ") + format.description);
    }
    OutputContextPtr owned(trial);
    ApplyMuxerOptions(*trial, request);
    const std::string& tag = request.videoTag;
    if (tag.empty()) {
        return;
    }
    if (tag.size() != kTagLength) {
        throw UsageError("invalid value " + Quoted(tag) +
                         " for --tag: expected four characters (hvc1)");
    }
    const AVCodecTag* const* tables = trial->oformat->codec_tag;
    if (tables == nullptr || av_codec_get_id(tables, FourCharacterCode(tag)) != codec) {
        unsigned usual = 0;
        const bool hasUsual = tables != nullptr && av_codec_get_tag2(tables, codec, &usual) != 0;
        char usualText[AV_FOURCC_MAX_STRING_SIZE] = {};
        av_fourcc_make_string(usualText, usual);
        throw UsageError(std::string("the ") + format.extension + " container has no tag " +
                         Quoted(tag) + " for " + avcodec_get_name(codec) + " video" +
                         (hasUsual ? std::string(" (its usual one is ") + Quoted(usualText) + ")"
                                   : std::string(" (it names the codec its own way)")));
    }
}
