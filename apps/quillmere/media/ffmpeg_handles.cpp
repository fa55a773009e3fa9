#include "apps/quillmere/media/ffmpeg_handles.h"

#include "apps/quillmere/runner_error.h"

extern "C" {
#include <libavutil/error.h>
}

FramePtr NewFrame() {
    FramePtr frame(av_frame_alloc());
    if (!frame) {
        throw RunnerError("out of memory");
    }
    return frame;
}

PacketPtr NewPacket() {
    PacketPtr packet(av_packet_alloc());
    if (!packet) {
        throw RunnerError("out of memory");
    }
    return packet;
}

std::string AvErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}
