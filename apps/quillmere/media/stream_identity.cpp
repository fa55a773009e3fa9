#include "apps/quillmere/media/stream_identity.h"

#include <sys/stat.h>

#include "apps/quillmere/base/sha256_fields.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

ScannedVideo ScanVideo(const std::string& path, long stream) {
    FormatContext context = OpenMediaFile(path, true);
    if (!context) {
        throw RunnerError("cannot read " + Quoted(path) + " as a video file");
    }
    ScannedVideo scanned;
    scanned.info = ScanVideoStream(context.get(), path, stream);
    if (scanned.info == nullptr) {
        throw RunnerError(Quoted(path) + " has no such video stream");
    }
    struct stat status {};
    const std::int64_t size = stat(path.c_str(), &status) == 0 ? status.st_size : -1;
    scanned.identity = StreamIdentity(*scanned.info, size);
    return scanned;
}

std::string StreamIdentity(const VideoStreamInfo& info, std::int64_t fileSize) {
    Sha256Fields identity;
    identity.Add("size", fileSize);
    identity.Add("codec", static_cast<std::int64_t>(info.codec->codec_id));
    identity.Add("picture", std::to_string(info.codec->width) + "x" +
                                std::to_string(info.codec->height));
    identity.Add("time base", std::to_string(info.timeBase.num) + "/" +
                                  std::to_string(info.timeBase.den));
    identity.AddBytes("frame times", info.frameTimes.data(),
                      info.frameTimes.size() * sizeof(std::int64_t));
    for (const KeyFrame& key : info.keyFrames) {
        identity.Add("key frame", std::to_string(key.frame) + ":" + std::to_string(key.fingerprint));
    }
    return identity.Finish();
}
