#include "tests/apps/media_readback.h"

#include <gtest/gtest.h>

#include <algorithm>

InputContextPtr OpenForReading(const std::string& path) {
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "cannot open " << path;
        return nullptr;
    }
    InputContextPtr file(opened);
    if (avformat_find_stream_info(file.get(), nullptr) < 0) {
        ADD_FAILURE() << "cannot probe " << path;
        return nullptr;
    }
    return file;
}

std::vector<PacketRecord> ReadPackets(const std::string& path, int index) {
    std::vector<PacketRecord> packets;
    InputContextPtr file = OpenForReading(path);
    if (!file) {
        return packets;
    }
    PacketPtr packet = NewPacket();
    while (av_read_frame(file.get(), packet.get()) >= 0) {
        if (packet->stream_index == index) {
            PacketRecord record;
            record.data.assign(packet->data, packet->data + packet->size);
            record.key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            record.seconds = static_cast<double>(packet->pts) *
                             av_q2d(file->streams[index]->time_base);
            packets.push_back(std::move(record));
        }
        av_packet_unref(packet.get());
    }
    return packets;
}

int FirstStreamOf(const AVFormatContext& file, AVMediaType type) {
    for (unsigned index = 0; index < file.nb_streams; ++index) {
        if (file.streams[index]->codecpar->codec_type == type) {
            return static_cast<int>(index);
        }
    }
    return -1;
}

std::string TagOf(const AVStream& stream, const char* key) {
    const AVDictionaryEntry* entry = av_dict_get(stream.metadata, key, nullptr, 0);
    return entry != nullptr ? entry->value : "";
}

std::vector<StreamSummary> SummarizeStreams(const std::string& path) {
    std::vector<StreamSummary> streams;
    InputContextPtr file = OpenForReading(path);
    if (!file) {
        return streams;
    }
    for (unsigned index = 0; index < file->nb_streams; ++index) {
        const AVCodecParameters& codec = *file->streams[index]->codecpar;
        streams.push_back(StreamSummary{codec.codec_type, codec.codec_id, codec.codec_tag, 0, 0, 0});
    }
    PacketPtr packet = NewPacket();
    while (av_read_frame(file.get(), packet.get()) >= 0) {
        StreamSummary& stream = streams[static_cast<std::size_t>(packet->stream_index)];
        const double unit = av_q2d(file->streams[packet->stream_index]->time_base);
        if (packet->pts != AV_NOPTS_VALUE) {
            const double start = static_cast<double>(packet->pts) * unit;
            const double end = static_cast<double>(packet->pts + packet->duration) * unit;
            stream.first = stream.packets == 0 ? start : std::min(stream.first, start);
            stream.end = stream.packets == 0 ? end : std::max(stream.end, end);
        }
        ++stream.packets;
        av_packet_unref(packet.get());
    }
    return streams;
}

const StreamSummary* FirstOf(const std::vector<StreamSummary>& streams, AVMediaType type) {
    for (const StreamSummary& stream : streams) {
        if (stream.type == type) {
            return &stream;
        }
    }
    return nullptr;
}

std::vector<ChapterTimes> ChaptersOf(const std::string& path) {
    std::vector<ChapterTimes> chapters;
    InputContextPtr file = OpenForReading(path);
    for (unsigned index = 0; file && index < file->nb_chapters; ++index) {
        const AVChapter& chapter = *file->chapters[index];
        const AVDictionaryEntry* title = av_dict_get(chapter.metadata, "title", nullptr, 0);
        chapters.push_back(ChapterTimes{static_cast<double>(chapter.start) * av_q2d(chapter.time_base),
                                        static_cast<double>(chapter.end) * av_q2d(chapter.time_base),
                                        title != nullptr ? title->value : ""});
    }
    return chapters;
}
