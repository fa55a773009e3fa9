#include "apps/quillmere/media/muxer.h"

#include <algorithm>
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

// Matroska keeps a codec's delay (Opus's pre-skip) as CodecDelay and reads
// every block that much earlier. Before libavformat 60 its muxer recorded
// the delay without writing the blocks that much later, so the audio came
// back early by the delay; the runner moves the blocks itself there.
constexpr unsigned kMatroskaAppliesCodecDelay = AV_VERSION_INT(60, 0, 0);
// Opus counts its pre-skip at 48 kHz whatever the stream's rate.
constexpr AVRational kOpusDelayUnit{1, 48000};

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

std::string SecondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", seconds);
    return text;
}

}  // namespace

Muxer::Muxer(const std::string& path, const std::string& displayName, const OutputFormat& format,
             NoticeHandler notice, const MuxerRequest& request)
    : path_(path), displayName_(displayName), format_(format), notice_(notice),
      request_(request) {
    AVFormatContext* muxer = nullptr;
    const int error = avformat_alloc_output_context2(&muxer, nullptr, format.muxer, path.c_str());
    if (error < 0 || muxer == nullptr) {
        throw RunnerError("cannot write " + Quoted(displayName) + ": " + AvErrorText(error));
    }
    muxer_.reset(muxer);
    ApplyMuxerOptions(*muxer_, request_);
}

bool Muxer::wantsGlobalHeader() const {
    return (muxer_->oformat->flags & AVFMT_GLOBALHEADER) != 0;
}

AVStream& Muxer::NewStream() {
    AVStream* stream = avformat_new_stream(muxer_.get(), nullptr);
    if (stream == nullptr) {
        throw RunnerError("out of memory");
    }
    timing_.emplace_back();
    return *stream;
}

void Muxer::CarryOver(const CarriedOver& carried) {
    AVStream& stream = *muxer_->streams[0];
    if (carried.stream != nullptr) {
        CopyTags(&stream.metadata, carried.stream->metadata);
        stream.disposition = carried.stream->disposition;
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
            std::uint8_t* copy = av_stream_new_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, size);
            if (copy == nullptr) {
                throw RunnerError("out of memory");
            }
            std::memcpy(copy, matrix, size);
        }
    }
    if (carried.container != nullptr) {
        CopyTags(&muxer_->metadata, carried.container->metadata);
        if (carried.chapters) {
            CarryChapters(*carried.container);
        }
    }
    fileTags_ = carried.fileTags;
}

void Muxer::CarryChapters(const AVFormatContext& container) {
    // Chapters keep their own times, as the streams do. None of the
    // containers written holds a chapter before time 0: such a start (or
    // end) becomes 0, and the chapter stays, with its title.
    for (unsigned index = 0; index < container.nb_chapters; ++index) {
        const AVChapter& from = *container.chapters[index];
        auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (chapter == nullptr) {
            throw RunnerError("out of memory");
        }
        chapter->id = from.id;
        chapter->time_base = from.time_base;
        chapter->start = std::max<std::int64_t>(from.start, 0);
        chapter->end = std::max(from.end, chapter->start);
        CopyTags(&chapter->metadata, from.metadata);
        if (av_dynarray_add_nofree(&muxer_->chapters, reinterpret_cast<int*>(&muxer_->nb_chapters),
                                   chapter) < 0) {
            av_dict_free(&chapter->metadata);
            av_free(chapter);
            throw RunnerError("out of memory");
        }
    }
}

void Muxer::StartVideo(AVStream& stream, const VideoFormat& video, const CarriedOver& carried) {
    AddLightSideData(stream, video.light);
    stream.avg_frame_rate = video.frameRate;
    stream.sample_aspect_ratio = video.sampleAspectRatio;
    videoStart_ = video.startTime;
    videoTimeBase_ = video.timeBase;
    CarryOver(carried);
}

int Muxer::AddVideoStream(const AVCodecContext& encoder, const VideoFormat& video,
                          const CarriedOver& carried) {
    AVStream& stream = NewStream();
    stream.time_base = encoder.time_base;
    avcodec_parameters_from_context(stream.codecpar, &encoder);
    if (!request_.videoTag.empty()) {
        stream.codecpar->codec_tag = FourCharacterCode(request_.videoTag);
    }
    StartVideo(stream, video, carried);
    return stream.index;
}

int Muxer::AddCopiedVideoStream(const AVCodecParameters& copied, AVRational timeBase,
                                const VideoFormat& video, const CarriedOver& carried) {
    AVStream& stream = NewStream();
    if (avcodec_parameters_copy(stream.codecpar, &copied) < 0) {
        throw RunnerError("out of memory");
    }
    // The container chooses its own tag, except where a render would have
    // set one (hvc1 for HEVC in MP4).
    const std::string tag = DefaultVideoTag(format_, copied.codec_id);
    stream.codecpar->codec_tag = tag.empty() ? 0 : FourCharacterCode(tag);
    stream.time_base = timeBase;
    StartVideo(stream, video, carried);
    return stream.index;
}

int Muxer::AddCarried(AVStream& output, const AVStream& input) {
    output.disposition = input.disposition;
    CopyTags(&output.metadata, input.metadata);
    StreamTiming& timing = timing_.back();
    timing.carried = true;
    if (format_.startsStreamsTogether) {
        timing.dropBeforeStart = true;
        const std::int64_t start = input.start_time == AV_NOPTS_VALUE ? 0 : input.start_time;
        const double apart = static_cast<double>(start) * av_q2d(input.time_base) -
                             static_cast<double>(videoStart_) * av_q2d(videoTimeBase_);
        if (!startNoticed_ && av_compare_ts(start, input.time_base, videoStart_,
                                            videoTimeBase_) != 0) {
            startNoticed_ = true;
            notice_("the " + std::string(format_.extension) +
                    " container starts every stream with the first frame: the main video's " +
                    KindOf(input) +
                    (apart < 0 ? " before it (" + SecondsText(-apart) + ") is left out of " +
                                     Quoted(displayName_)
                               : " plays " + SecondsText(apart) + " early in " +
                                     Quoted(displayName_)));
        }
    }
    return output.index;
}

int Muxer::AddCopiedStream(const AVStream& input) {
    if (!HoldsStream(format_, *input.codecpar)) {
        throw RunnerError("cannot write " + Quoted(displayName_) + ": the " + format_.extension +
                          " container cannot hold the " +
                          avcodec_get_name(input.codecpar->codec_id) + " " + KindOf(input) +
                          " of the main video (" + LeaveOutOptionFor(input) +
                          " leaves them out)");
    }
    AVStream& output = NewStream();
    avcodec_parameters_copy(output.codecpar, input.codecpar);
    output.codecpar->codec_tag = 0;  // the container chooses its own tag
    output.time_base = input.time_base;
    return AddCarried(output, input);
}

int Muxer::AddEncodedStream(const AVCodecContext& encoder, const AVStream& input) {
    AVStream& output = NewStream();
    avcodec_parameters_from_context(output.codecpar, &encoder);
    output.time_base = encoder.time_base;
    return AddCarried(output, input);
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
    for (const auto& [key, value] : fileTags_) {
        av_dict_set(&muxer_->metadata, key.c_str(), value.c_str(), 0);
    }
    AVDictionary* options = nullptr;
    // MP4 and QuickTime keep only the tags they have boxes for, unless asked.
    if (!fileTags_.empty()) {
        av_dict_set(&options, "movflags", "+use_metadata_tags", 0);
    }
    error = avformat_write_header(muxer_.get(), &options);
    av_dict_free(&options);
    if (error < 0) {
        throw RunnerError(failure + AvErrorText(error));
    }
    // The muxer has chosen its time bases now.
    // WebM is Matroska's muxer under another name.
    const bool matroska = std::strcmp(format_.muxer, "matroska") == 0 ||
                          std::strcmp(format_.muxer, "webm") == 0;
    for (unsigned index = 0; index < muxer_->nb_streams; ++index) {
        const AVStream& stream = *muxer_->streams[index];
        StreamTiming& timing = timing_[index];
        if (timing.carried && format_.startsStreamsTogether) {
            timing.shift = -av_rescale_q(videoStart_, videoTimeBase_, stream.time_base);
        }
        const AVCodecParameters& codec = *stream.codecpar;
        if (matroska && codec.codec_id == AV_CODEC_ID_OPUS && codec.initial_padding > 0 &&
            avformat_version() < kMatroskaAppliesCodecDelay) {
            timing.shift += av_rescale_q(codec.initial_padding, kOpusDelayUnit, stream.time_base);
        }
    }
}

void Muxer::Write(AVPacket& packet, int stream, AVRational timeBase) {
    const AVStream& output = *muxer_->streams[stream];
    const StreamTiming& timing = timing_[static_cast<std::size_t>(stream)];
    av_packet_rescale_ts(&packet, timeBase, output.time_base);
    if (packet.pts != AV_NOPTS_VALUE) {
        packet.pts += timing.shift;
    }
    if (packet.dts != AV_NOPTS_VALUE) {
        packet.dts += timing.shift;
    }
    // What ends before the first frame is left out; a packet across it stays
    // (an encoder's first packet always reaches back before its start).
    if (timing.dropBeforeStart && packet.pts != AV_NOPTS_VALUE &&
        packet.pts + std::max<std::int64_t>(packet.duration, 1) <= 0) {
        av_packet_unref(&packet);
        return;
    }
    packet.stream_index = stream;
    packet.pos = -1;
    const int error = av_interleaved_write_frame(muxer_.get(), &packet);
    if (error < 0) {
        throw RunnerError("cannot write " + Quoted(displayName_) + ": " + AvErrorText(error));
    }
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
