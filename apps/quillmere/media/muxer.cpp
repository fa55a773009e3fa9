#include "apps/quillmere/media/muxer.h"

#include <cstdio>
#include <cstring>

#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

extern "C" {
#include <libavutil/avstring.h>
#include <libavutil/display.h>
}

namespace {

// Tags that describe a file's former encoding rather than its content; the
// output gets its own.
const char* const kTagsNotCarried[] = {
    "encoder", "major_brand", "minor_version", "compatible_brands", "DURATION",
    "NUMBER_OF_FRAMES", "NUMBER_OF_BYTES", "BPS", "_STATISTICS_WRITING_APP",
    "_STATISTICS_WRITING_DATE_UTC", "_STATISTICS_TAGS", "handler_name", "vendor_id",
};

void CopyTags(AVDictionary** to, const AVDictionary* from) {
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = av_dict_get(from, "", entry, AV_DICT_IGNORE_SUFFIX)) != nullptr) {
        bool carried = true;
        for (const char* skipped : kTagsNotCarried) {
            const std::size_t length = std::strlen(skipped);
            if (av_strncasecmp(entry->key, skipped, length) == 0 &&
                (entry->key[length] == '\0' || entry->key[length] == '-')) {
                carried = false;
            }
        }
        if (carried) {
            av_dict_set(to, entry->key, entry->value, 0);
        }
    }
}

const char* KindOf(const AVStream& stream) {
    return stream.codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE ? "subtitles" : "audio";
}

const char* LeaveOutOptionFor(const AVStream& stream) {
    return stream.codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE ? "--no-subtitles" : "--no-audio";
}

}  // namespace

Muxer::Muxer(const std::string& path, const std::string& displayName, const OutputFormat& format,
             NoticeHandler notice)
    : path_(path), displayName_(displayName), format_(format), notice_(notice) {
    AVFormatContext* muxer = nullptr;
    const int error = avformat_alloc_output_context2(&muxer, nullptr, format.muxer, path.c_str());
    if (error < 0 || muxer == nullptr) {
        throw RunnerError("cannot write " + Quoted(displayName) + ": " + AvErrorText(error));
    }
    muxer_.reset(muxer);
}

bool Muxer::wantsGlobalHeader() const {
    return (muxer_->oformat->flags & AVFMT_GLOBALHEADER) != 0;
}

void Muxer::CarryOver(const CarriedOver& carried, const VideoFormat& video) {
    stream_->sample_aspect_ratio = video.sampleAspectRatio;
    if (carried.stream != nullptr) {
        CopyTags(&stream_->metadata, carried.stream->metadata);
        stream_->disposition = carried.stream->disposition;
        // The picture's rotation (phones record it rather than turn the
        // picture).
        std::size_t size = 0;
        const std::uint8_t* matrix = av_stream_get_side_data(
            carried.stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
        if (matrix != nullptr && size > 0) {
            const char* muxer = muxer_->oformat->name;
            if (std::strstr(muxer, "mp4") == nullptr && std::strstr(muxer, "mov") == nullptr) {
                char degrees[32];
                std::snprintf(degrees, sizeof degrees, "%g",
                              -av_display_rotation_get(reinterpret_cast<const std::int32_t*>(matrix)));
                notice_("the main video's rotation (" + std::string(degrees) +
                        " degrees) cannot be recorded in " + Quoted(displayName_) + " (.mp4 and .mov can); it will show unturned");
            }
            std::uint8_t* copy = av_stream_new_side_data(stream_, AV_PKT_DATA_DISPLAYMATRIX, size);
            if (copy == nullptr) {
                throw RunnerError("out of memory");
            }
            std::memcpy(copy, matrix, size);
        }
    }
    if (carried.container == nullptr) {
        return;
    }
    CopyTags(&muxer_->metadata, carried.container->metadata);
    // Chapters keep their times relative to the first frame.
    const double start = static_cast<double>(video.startTime) * av_q2d(video.timeBase);
    for (unsigned index = 0; index < carried.container->nb_chapters; ++index) {
        const AVChapter& from = *carried.container->chapters[index];
        auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (chapter == nullptr) {
            throw RunnerError("out of memory");
        }
        const std::int64_t offset =
            static_cast<std::int64_t>(start / av_q2d(from.time_base) + 0.5);
        chapter->id = from.id;
        chapter->time_base = from.time_base;
        chapter->start = from.start - offset;
        chapter->end = from.end - offset;
        CopyTags(&chapter->metadata, from.metadata);
        if (av_dynarray_add_nofree(&muxer_->chapters, reinterpret_cast<int*>(&muxer_->nb_chapters),
                                   chapter) < 0) {
            av_dict_free(&chapter->metadata);
            av_free(chapter);
            throw RunnerError("out of memory");
        }
    }
}

void Muxer::AddVideoStream(const AVCodecContext& encoder, const VideoFormat& video,
                           const CarriedOver& carried) {
    stream_ = avformat_new_stream(muxer_.get(), nullptr);
    if (stream_ == nullptr) {
        throw RunnerError("out of memory");
    }
    stream_->time_base = encoder.time_base;
    stream_->avg_frame_rate = video.frameRate;
    avcodec_parameters_from_context(stream_->codecpar, &encoder);
    CarryOver(carried, video);
}

void Muxer::AddCopiedStreams(const StreamPassthrough& passthrough) {
    videoStartSeconds_ = passthrough.videoStartSeconds;
    for (const AVStream* input : passthrough.streams) {
        const AVCodecID inputCodec = input->codecpar->codec_id;
        if (avformat_query_codec(muxer_->oformat, inputCodec, FF_COMPLIANCE_NORMAL) == 0) {
            throw RunnerError("cannot write " + Quoted(displayName_) + ": the " +
                              format_.extension + " container cannot hold the " +
                              avcodec_get_name(inputCodec) + " " + KindOf(*input) +
                              " of the main video (use .mkv, or " + LeaveOutOptionFor(*input) +
                              " to leave them out)");
        }
        AVStream* output = avformat_new_stream(muxer_.get(), nullptr);
        if (output == nullptr) {
            throw RunnerError("out of memory");
        }
        avcodec_parameters_copy(output->codecpar, input->codecpar);
        output->codecpar->codec_tag = 0;  // the container chooses its own tag
        output->time_base = input->time_base;
        output->disposition = input->disposition;
        CopyTags(&output->metadata, input->metadata);
        copied_.push_back(CopiedStream{output, input->time_base, 0});
    }
}

void Muxer::Start() {
    const std::string failure = "cannot write " + Quoted(displayName_) + ": ";
    int error = 0;
    if (!(muxer_->oformat->flags & AVFMT_NOFILE)) {
        error = avio_open(&muxer_->pb, path_.c_str(), AVIO_FLAG_WRITE);
        if (error < 0) {
            throw RunnerError(failure + AvErrorText(error));
        }
    }
    error = avformat_write_header(muxer_.get(), nullptr);
    if (error < 0) {
        throw RunnerError(failure + AvErrorText(error));
    }
    // The muxer may have chosen other time bases.
    for (CopiedStream& stream : copied_) {
        stream.startOffset = static_cast<std::int64_t>(
            videoStartSeconds_ / av_q2d(stream.output->time_base) + 0.5);
    }
}

void Muxer::Write(AVPacket& packet) {
    const int error = av_interleaved_write_frame(muxer_.get(), &packet);
    if (error < 0) {
        throw RunnerError("cannot write " + Quoted(displayName_) + ": " + AvErrorText(error));
    }
}

void Muxer::WriteVideo(AVPacket& packet, AVRational timeBase) {
    av_packet_rescale_ts(&packet, timeBase, stream_->time_base);
    packet.stream_index = stream_->index;
    Write(packet);
}

void Muxer::WriteCopied(AVPacket& packet, int carriedIndex) {
    const CopiedStream& stream = copied_.at(static_cast<std::size_t>(carriedIndex));
    av_packet_rescale_ts(&packet, stream.inputTimeBase, stream.output->time_base);
    if (packet.pts != AV_NOPTS_VALUE) {
        packet.pts -= stream.startOffset;
    }
    if (packet.dts != AV_NOPTS_VALUE) {
        packet.dts -= stream.startOffset;
    }
    packet.stream_index = stream.output->index;
    packet.pos = -1;
    Write(packet);
}

void Muxer::Finish() {
    int error = av_write_trailer(muxer_.get());
    if (error < 0) {
        throw RunnerError("cannot write " + Quoted(displayName_) + ": " + AvErrorText(error));
    }
    if (muxer_->pb != nullptr && !(muxer_->oformat->flags & AVFMT_NOFILE)) {
        error = avio_closep(&muxer_->pb);
        if (error < 0) {
            throw RunnerError("cannot write " + Quoted(displayName_) + ": " + AvErrorText(error));
        }
    }
}
