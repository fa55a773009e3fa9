#include "source/ffmpeg_video_stream.h"

#include <algorithm>
#include <atomic>
#include <sys/stat.h>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace {

struct ScannedPacket {
    std::int64_t presentation;
    std::int64_t seekTime;
    std::int64_t duration;
    bool key;
    std::uint64_t fingerprint;
};

// Leading bytes that a fingerprint covers: enough to tell neighbouring
// frames apart, few enough to cost nothing.
constexpr int kFingerprintBytes = 4096;

bool IsRegularFile(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

std::atomic<bool> g_wideRecords{false};
std::atomic<long> g_offeredVideoStream{0};

// 32-bit records for sources that carry alpha or are 32-bit RGB already, as
// the Windows library hands such frames on; 24 bits for everything else.
int RecordBitCount(AVPixelFormat format) {
    if (g_wideRecords.load()) {
        return 32;
    }
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    // Palettes of AVI files carry no alpha, though FFmpeg marks every
    // palettised format as able to.
    if (descriptor == nullptr || (descriptor->flags & AV_PIX_FMT_FLAG_PAL) != 0) {
        return 24;
    }
    if ((descriptor->flags & AV_PIX_FMT_FLAG_ALPHA) != 0) {
        return 32;
    }
    if ((descriptor->flags & AV_PIX_FMT_FLAG_RGB) != 0 && av_get_bits_per_pixel(descriptor) == 32) {
        return 32;
    }
    return 24;
}

}  // namespace

void UseWideFrameRecords(bool wide) { g_wideRecords.store(wide); }

void OfferVideoStream(long number) { g_offeredVideoStream.store(number); }
long OfferedVideoStream() { return g_offeredVideoStream.load(); }

namespace {

bool IsVideo(const AVStream& stream) {
    return stream.codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
           (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) == 0;
}

}  // namespace

long CountVideoStreams(const AVFormatContext* context) {
    long count = 0;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        count += IsVideo(*context->streams[i]) ? 1 : 0;
    }
    return count;
}

int FindVideoStream(const AVFormatContext* context, long number) {
    int first = -1;
    long seen = 0;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream& stream = *context->streams[i];
        if (!IsVideo(stream)) {
            continue;
        }
        if (number == kDefaultVideoStream && (stream.disposition & AV_DISPOSITION_DEFAULT) != 0) {
            return static_cast<int>(i);
        }
        if (first < 0) {
            first = static_cast<int>(i);
        }
        if (seen++ == number) {
            return static_cast<int>(i);
        }
    }
    return number == kDefaultVideoStream ? first : -1;
}

void FormatContextCloser::operator()(AVFormatContext* context) const {
    avformat_close_input(&context);
}

std::int64_t FrameRowBytes(std::int64_t width, int bitCount) {
    return (width * bitCount / 8 + 3) & ~std::int64_t{3};
}

FormatContext OpenMediaFile(const std::string& path, bool probeStreams) {
    // Directories, devices and pipes would open at the byte level and then
    // hang or fail in odd ways; the AVI library opens files only.
    if (!IsRegularFile(path)) {
        return nullptr;
    }
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
        return nullptr;
    }
    FormatContext context(raw);
    if (probeStreams && avformat_find_stream_info(context.get(), nullptr) < 0) {
        return nullptr;
    }
    return context;
}

std::uint64_t PacketFingerprint(const AVPacket& packet) {
    // FNV-1a over the size and the leading bytes.
    std::uint64_t hash = 14695981039346656037ull;
    const auto mix = [&hash](std::uint64_t byte) { hash = (hash ^ byte) * 1099511628211ull; };
    for (int shift = 0; shift < 32; shift += 8) {
        mix((static_cast<std::uint32_t>(packet.size) >> shift) & 0xFF);
    }
    const int covered = std::min(packet.size, kFingerprintBytes);
    for (int i = 0; i < covered; ++i) {
        mix(packet.data[i]);
    }
    return hash;
}

long VideoStreamInfo::FrameAt(std::int64_t time) const {
    if (frameTimes.empty()) {
        return -1;
    }
    const auto after = std::lower_bound(frameTimes.begin(), frameTimes.end(), time);
    if (after == frameTimes.begin()) {
        return 0;
    }
    if (after == frameTimes.end()) {
        return length() - 1;
    }
    const auto before = after - 1;
    const long index = static_cast<long>(after - frameTimes.begin());
    return (time - *before) < (*after - time) ? index - 1 : index;
}

long VideoStreamInfo::KeyFrameBefore(long frame) const {
    const auto after = std::upper_bound(keyFrames.begin(), keyFrames.end(), frame,
                                        [](long value, const KeyFrame& key) {
                                            return value < key.frame;
                                        });
    return after == keyFrames.begin() ? -1 : static_cast<long>(after - keyFrames.begin()) - 1;
}

std::shared_ptr<const VideoStreamInfo> ScanVideoStream(AVFormatContext* context,
                                                       const std::string& path, long number) {
    const int streamIndex = FindVideoStream(context, number);
    if (streamIndex < 0) {
        return nullptr;
    }

    auto info = std::make_shared<VideoStreamInfo>();
    info->path = path;
    info->streamIndex = streamIndex;
    AVStream* stream = context->streams[streamIndex];
    info->timeBase = stream->time_base;
    info->codec = {avcodec_parameters_alloc(), [](AVCodecParameters* p) { avcodec_parameters_free(&p); }};
    if (!info->codec || avcodec_parameters_copy(info->codec.get(), stream->codecpar) < 0) {
        return nullptr;
    }

    for (unsigned i = 0; i < context->nb_streams; ++i) {
        context->streams[i]->discard =
            static_cast<int>(i) == streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }

    std::vector<ScannedPacket> packets;
    bool everyPacketTimed = true;
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr) {
        return nullptr;
    }
    while (av_read_frame(context, packet) >= 0) {
        if (packet->stream_index == streamIndex && (packet->flags & AV_PKT_FLAG_DISCARD) == 0) {
            const std::int64_t decodeTime = packet->dts;
            everyPacketTimed = everyPacketTimed && packet->pts != AV_NOPTS_VALUE;
            const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            packets.push_back({packet->pts, decodeTime != AV_NOPTS_VALUE ? decodeTime : packet->pts,
                               packet->duration, key, key ? PacketFingerprint(*packet) : 0});
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);

    // Without a presentation time on every packet, frames are numbered in
    // decoding order: the packet count serves as the clock.
    for (std::size_t i = 0; i < packets.size(); ++i) {
        if (!everyPacketTimed) {
            packets[i].presentation = static_cast<std::int64_t>(i);
        }
        info->frameTimes.push_back(packets[i].presentation);
    }
    std::sort(info->frameTimes.begin(), info->frameTimes.end());
    if (everyPacketTimed && !packets.empty()) {
        const auto last = std::max_element(
            packets.begin(), packets.end(),
            [](const ScannedPacket& a, const ScannedPacket& b) { return a.presentation < b.presentation; });
        info->lastFrameDuration = std::max<std::int64_t>(last->duration, 0);
    }
    for (std::size_t i = 0; i < packets.size(); ++i) {
        if (packets[i].key) {
            const long frame = everyPacketTimed ? info->FrameAt(packets[i].presentation)
                                                : static_cast<long>(i);
            info->keyFrames.push_back({frame, packets[i].seekTime, packets[i].fingerprint});
        }
    }
    std::sort(info->keyFrames.begin(), info->keyFrames.end(),
              [](const KeyFrame& a, const KeyFrame& b) { return a.frame < b.frame; });
    info->numberedByDecodeOrder = !everyPacketTimed;

    const int width = info->codec->width;
    const int height = info->codec->height;
    const int bitCount = RecordBitCount(static_cast<AVPixelFormat>(info->codec->format));
    info->sizeAcceptable = PictureSizeAllowed(width, height) &&
                           av_image_check_size(static_cast<unsigned>(width),
                                               static_cast<unsigned>(height), 0, nullptr) == 0;
    BITMAPINFOHEADER& format = info->format;
    format.biSize = sizeof(BITMAPINFOHEADER);
    format.biWidth = width;
    format.biHeight = height;
    format.biPlanes = 1;
    format.biBitCount = static_cast<WORD>(bitCount);
    format.biCompression = BI_RGB;
    format.biSizeImage =
        info->sizeAcceptable ? static_cast<DWORD>(FrameRowBytes(width, bitCount) * height) : 0;
    return info;
}
