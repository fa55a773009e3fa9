#include "apps/quillmere/media/video_writer.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

extern "C" {
#include <libavutil/avstring.h>
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
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

bool HasAlpha(AVPixelFormat format) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    return descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
}

bool IsRgbFormat(AVPixelFormat format) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    return descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_RGB) != 0;
}

int DepthOf(AVPixelFormat format) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    return descriptor != nullptr ? descriptor->comp[0].depth : 8;
}

bool Supports(const AVPixelFormat* list, AVPixelFormat format) {
    for (; list != nullptr && *list != AV_PIX_FMT_NONE; ++list) {
        if (*list == format) {
            return true;
        }
    }
    return list == nullptr;
}

std::string PixelFormatName(AVPixelFormat format) {
    const char* name = av_get_pix_fmt_name(format);
    return name != nullptr ? name : "?";
}

void WriteAll(const std::string& path, const std::string& displayName, const std::uint8_t* data,
              std::size_t size) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"),
                                                          &std::fclose);
    if (!file) {
        throw RunnerError("cannot write " + Quoted(displayName) + ": " + std::strerror(errno));
    }
    if (std::fwrite(data, 1, size, file.get()) != size || std::fflush(file.get()) != 0) {
        throw RunnerError("cannot write " + Quoted(displayName) + ": " + std::strerror(errno));
    }
    if (std::fclose(file.release()) != 0) {
        throw RunnerError("cannot write " + Quoted(displayName) + ": " + std::strerror(errno));
    }
}

const char* KindOf(const AVStream& stream) {
    return stream.codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE ? "subtitles" : "audio";
}

const char* LeaveOutOptionFor(const AVStream& stream) {
    return stream.codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE ? "--no-subtitles" : "--no-audio";
}

}  // namespace

void VideoWriter::ChooseEncoderPicture(const AVCodec& codec, const VideoFormat& video) {
    AVPixelFormat chosen = video.pixelFormat;
    if (!Supports(codec.pix_fmts, chosen)) {
        // RGB for an encoder of YUV: the 4:2:0 that players expect, at the
        // source's depth where the encoder has it.
        const AVPixelFormat playable =
            DepthOf(chosen) > 8 ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P;
        if (IsRgbFormat(chosen) && Supports(codec.pix_fmts, playable)) {
            chosen = playable;
        } else {
            chosen = avcodec_find_best_pix_fmt_of_list(codec.pix_fmts, video.pixelFormat,
                                                       HasAlpha(video.pixelFormat) ? 1 : 0,
                                                       nullptr);
        }
        notice_("the " + std::string(codec.name) + " encoder cannot take " +
                PixelFormatName(video.pixelFormat) + " pictures; " + Quoted(displayName_) + " holds them as " + PixelFormatName(chosen));
        convert_ = true;
    }
    int width = video.width;
    int height = video.height;
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(chosen);
    if (descriptor != nullptr && std::strcmp(codec.name, "ffv1") != 0) {
        // Subsampled chroma needs whole chroma blocks: leave out the last
        // column or row rather than change the layout.
        const int columns = (1 << descriptor->log2_chroma_w) - 1;
        const int rows = (1 << descriptor->log2_chroma_h) - 1;
        if ((width & columns) != 0 || (height & rows) != 0) {
            width &= ~columns;
            height &= ~rows;
            notice_("the " + std::string(codec.name) + " encoder needs " +
                    PixelFormatName(chosen) + " pictures of even size; " + Quoted(displayName_) + " is cropped to " + std::to_string(width) + "x" + std::to_string(height));
            crop_ = true;
        }
    }
    encoder_->pix_fmt = chosen;
    encoder_->width = width;
    encoder_->height = height;
    encoder_->colorspace = video.colorspace;
    encoder_->color_range = video.range;
    encoder_->color_primaries = video.primaries;
    encoder_->color_trc = video.transfer;
    encoder_->chroma_sample_location = video.chromaLocation;
    if (convert_ && IsRgbFormat(video.pixelFormat) && !IsRgbFormat(chosen)) {
        // Made YUV here: say with which matrix.
        encoder_->colorspace = MatrixOf(AVCOL_SPC_UNSPECIFIED, height);
        encoder_->color_range = AVCOL_RANGE_MPEG;
    } else if (convert_ && IsRgbFormat(chosen)) {
        encoder_->colorspace = AVCOL_SPC_RGB;
        encoder_->color_range = AVCOL_RANGE_JPEG;
    }
    encoder_->sample_aspect_ratio = video.sampleAspectRatio;
}

void VideoWriter::CarryOver(const CarriedOver& carried, const VideoFormat& video) {
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
    if (!carried.chapters) {
        return;
    }
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

void VideoWriter::OpenMuxer(const std::string& path, const OutputFormat& format) {
    AVFormatContext* muxer = nullptr;
    const int error = avformat_alloc_output_context2(&muxer, nullptr, format.muxer, path.c_str());
    if (error < 0 || muxer == nullptr) {
        throw RunnerError("cannot write " + Quoted(displayName_) + ": " + AvErrorText(error));
    }
    muxer_.reset(muxer);
    // AVI holds frames at a constant rate; other containers keep each
    // frame's own time, so a variable rate stays variable.
    renumber_ = std::strcmp(format.muxer, "avi") == 0;
}

void VideoWriter::CopyStreams(const StreamPassthrough& passthrough, const OutputFormat& format) {
    for (const AVStream* input : passthrough.streams) {
        const AVCodecID inputCodec = input->codecpar->codec_id;
        if (avformat_query_codec(muxer_->oformat, inputCodec, FF_COMPLIANCE_NORMAL) == 0) {
            throw RunnerError("cannot write " + Quoted(displayName_) + ": the " +
                              format.extension + " container cannot hold the " +
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

void VideoWriter::WriteHeader(const std::string& path, const CarriedOver& carried) {
    const std::string failure = "cannot write " + Quoted(displayName_) + ": ";
    for (const auto& tag : carried.fileTags) {
        av_dict_set(&muxer_->metadata, tag.first.c_str(), tag.second.c_str(), 0);
    }
    if (!(muxer_->oformat->flags & AVFMT_NOFILE)) {
        const int error = avio_open(&muxer_->pb, path.c_str(), AVIO_FLAG_WRITE);
        if (error < 0) {
            throw RunnerError(failure + AvErrorText(error));
        }
    }
    AVDictionary* options = nullptr;
    // MP4 and QuickTime keep only the tags they have boxes for, unless asked.
    if (!carried.fileTags.empty()) {
        av_dict_set(&options, "movflags", "use_metadata_tags", 0);
    }
    const int error = avformat_write_header(muxer_.get(), &options);
    av_dict_free(&options);
    if (error < 0) {
        throw RunnerError(failure + AvErrorText(error));
    }
    headerWritten_ = true;
    // The muxer may have chosen other time bases.
    for (CopiedStream& stream : copied_) {
        stream.startOffset = static_cast<std::int64_t>(
            videoStartSeconds_ / av_q2d(stream.output->time_base) + 0.5);
    }
    packet_ = NewPacket();
}

VideoWriter::VideoWriter(const std::string& path, const std::string& displayName,
                         const OutputFormat& format, const VideoFormat& video,
                         const CarriedOver& carried, const StreamPassthrough& passthrough,
                         NoticeHandler notice, const EncoderRequest& encoding)
    : displayName_(displayName),
      videoStartSeconds_(passthrough.videoStartSeconds),
      notice_(notice),
      video_(video) {
    OpenMuxer(path, format);
    const AVCodec* codec = &ChooseEncoder(format, encoding);
    encoder_.reset(avcodec_alloc_context3(codec));
    if (!encoder_) {
        throw RunnerError("out of memory");
    }
    ChooseEncoderPicture(*codec, video);
    encoder_->time_base = renumber_ ? av_inv_q(video.frameRate) : video.timeBase;
    encoder_->framerate = video.frameRate;
    ConfigureEncoder(*encoder_, *codec, encoding);
    if (muxer_->oformat->flags & AVFMT_GLOBALHEADER) {
        encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    const int error = avcodec_open2(encoder_.get(), codec, nullptr);
    if (error < 0) {
        throw RunnerError("cannot write " + Quoted(displayName) + ": the " + codec->name +
                          " encoder refused " + std::to_string(encoder_->width) + "x" +
                          std::to_string(encoder_->height) + " " +
                          PixelFormatName(encoder_->pix_fmt) + ": " + AvErrorText(error));
    }
    stream_ = avformat_new_stream(muxer_.get(), nullptr);
    if (stream_ == nullptr) {
        throw RunnerError("out of memory");
    }
    stream_->time_base = encoder_->time_base;
    stream_->avg_frame_rate = video.frameRate;
    avcodec_parameters_from_context(stream_->codecpar, encoder_.get());
    CarryOver(carried, video);
    CopyStreams(passthrough, format);
    WriteHeader(path, carried);
    frame_ = NewFrame();
}

VideoWriter::VideoWriter(const std::string& path, const std::string& displayName,
                         const OutputFormat& format, const AVCodecParameters& copied,
                         AVRational copiedTimeBase, const VideoFormat& video,
                         const CarriedOver& carried, const StreamPassthrough& passthrough,
                         NoticeHandler notice)
    : displayName_(displayName),
      videoStartSeconds_(passthrough.videoStartSeconds),
      notice_(notice),
      video_(video) {
    OpenMuxer(path, format);
    if (avformat_query_codec(muxer_->oformat, copied.codec_id, FF_COMPLIANCE_NORMAL) == 0) {
        throw RunnerError("cannot write " + Quoted(displayName) + ": the " + format.extension +
                          " container cannot hold " + avcodec_get_name(copied.codec_id) +
                          " video (render the segments with a codec it holds, e.g. --codec "
                          "h264, or join into .mkv)");
    }
    stream_ = avformat_new_stream(muxer_.get(), nullptr);
    if (stream_ == nullptr || avcodec_parameters_copy(stream_->codecpar, &copied) < 0) {
        throw RunnerError("out of memory");
    }
    stream_->codecpar->codec_tag = 0;  // the container chooses its own tag
    stream_->time_base = copiedTimeBase;
    stream_->avg_frame_rate = video.frameRate;
    CarryOver(carried, video);
    CopyStreams(passthrough, format);
    WriteHeader(path, carried);
}

void VideoWriter::WriteVideoPacket(AVPacket& packet, AVRational timeBase) {
    av_packet_rescale_ts(&packet, timeBase, stream_->time_base);
    packet.stream_index = stream_->index;
    packet.pos = -1;
    const int error = av_interleaved_write_frame(muxer_.get(), &packet);
    if (error < 0) {
        throw RunnerError("cannot write " + Quoted(displayName_) + ": " + AvErrorText(error));
    }
}

void VideoWriter::Write(const AVFrame& frame) {
    av_frame_unref(frame_.get());
    if (convert_) {
        converter_.Convert(frame, encoder_->pix_fmt, video_.width, video_.height, *frame_);
    } else if (av_frame_ref(frame_.get(), &frame) < 0) {
        throw RunnerError("out of memory");
    }
    frame_->colorspace = encoder_->colorspace;
    frame_->color_range = encoder_->color_range;
    if (crop_) {
        // The same rows, fewer of them: the picture's top-left part.
        frame_->width = encoder_->width;
        frame_->height = encoder_->height;
    }
    std::int64_t time = frame.best_effort_timestamp != AV_NOPTS_VALUE ? frame.best_effort_timestamp
                                                                      : frame.pts;
    if (renumber_ || time == AV_NOPTS_VALUE) {
        time = renumber_ ? frameCount_ : lastTimestamp_ + 1;
    } else {
        time -= video_.startTime;
    }
    // Encoders want rising times; a repeated or backward stamp follows the last.
    if (lastTimestamp_ != AV_NOPTS_VALUE && time <= lastTimestamp_) {
        time = lastTimestamp_ + 1;
    }
    lastTimestamp_ = time;
    ++frameCount_;
    frame_->pts = time;
    frame_->pict_type = AV_PICTURE_TYPE_NONE;
    const int error = avcodec_send_frame(encoder_.get(), frame_.get());
    if (error < 0) {
        throw RunnerError("cannot encode " + Quoted(displayName_) + ": " + AvErrorText(error));
    }
    Drain();
}

void VideoWriter::WritePassthrough(AVPacket& packet, int carriedIndex) {
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
    const int error = av_interleaved_write_frame(muxer_.get(), &packet);
    if (error < 0) {
        throw RunnerError("cannot write " + Quoted(displayName_) + ": " + AvErrorText(error));
    }
}

void VideoWriter::Drain() {
    for (;;) {
        int error = avcodec_receive_packet(encoder_.get(), packet_.get());
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) {
            return;
        }
        if (error < 0) {
            throw RunnerError("cannot encode " + Quoted(displayName_) + ": " + AvErrorText(error));
        }
        av_packet_rescale_ts(packet_.get(), encoder_->time_base, stream_->time_base);
        packet_->stream_index = stream_->index;
        error = av_interleaved_write_frame(muxer_.get(), packet_.get());
        if (error < 0) {
            throw RunnerError("cannot write " + Quoted(displayName_) + ": " + AvErrorText(error));
        }
    }
}

void VideoWriter::Finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    int error = 0;
    if (encoder_) {
        error = avcodec_send_frame(encoder_.get(), nullptr);
        if (error < 0 && error != AVERROR_EOF) {
            throw RunnerError("cannot encode " + Quoted(displayName_) + ": " +
                              AvErrorText(error));
        }
        Drain();
    }
    error = av_write_trailer(muxer_.get());
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

void WritePng(const std::string& path, const std::string& displayName,
              const std::uint8_t* pixels, int stride, int width, int height) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (codec == nullptr) {
        throw RunnerError("cannot write " + Quoted(displayName) +
                          ": this FFmpeg has no PNG encoder");
    }
    CodecContextPtr encoder(avcodec_alloc_context3(codec));
    if (!encoder) {
        throw RunnerError("out of memory");
    }
    encoder->width = width;
    encoder->height = height;
    encoder->pix_fmt = AV_PIX_FMT_RGB24;
    encoder->time_base = AVRational{1, 1};
    int error = avcodec_open2(encoder.get(), codec, nullptr);
    if (error < 0) {
        throw RunnerError("cannot write " + Quoted(displayName) + ": " + AvErrorText(error));
    }
    FramePtr frame = NewFrame();
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        throw RunnerError("out of memory");
    }
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* from = pixels + static_cast<std::ptrdiff_t>(y) * stride;
        std::uint8_t* to = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
        for (int x = 0; x < width; ++x) {
            to[3 * x] = from[4 * x + 2];
            to[3 * x + 1] = from[4 * x + 1];
            to[3 * x + 2] = from[4 * x];
        }
    }
    PacketPtr packet = NewPacket();
    error = avcodec_send_frame(encoder.get(), frame.get());
    if (error >= 0) {
        error = avcodec_receive_packet(encoder.get(), packet.get());
    }
    if (error < 0) {
        throw RunnerError("cannot encode " + Quoted(displayName) + ": " + AvErrorText(error));
    }
    WriteAll(path, displayName, packet->data, static_cast<std::size_t>(packet->size));
}
