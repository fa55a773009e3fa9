#include "tests/apps/media_readback.h"

#include <gtest/gtest.h>

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
