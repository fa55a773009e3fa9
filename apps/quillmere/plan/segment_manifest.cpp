#include "apps/quillmere/plan/segment_manifest.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

namespace {

using nlohmann::json;

// What the file says it is, and the layout this runner reads and writes.
constexpr const char* kManifestKind = "quillmere segments manifest";
constexpr int kManifestVersion = 1;

// Thrown inside the reader for a manifest that says something impossible;
// becomes the one line that refuses it.
struct Damaged {
    std::string what;
};

std::string Again(const std::string& mainPath, int count, const std::string& manifestPath) {
    return ": write it again with 'quillmere segments " + mainPath + " " +
           std::to_string(count) + " --manifest " + manifestPath + "'";
}

json StampJson(const FileStamp& stamp) {
    return {{"path", stamp.path},
            {"size", stamp.size},
            {"modified_ns", stamp.modifiedNanoseconds}};
}

FileStamp StampFrom(const json& value) {
    return FileStamp{value.at("path").get<std::string>(), value.at("size").get<std::int64_t>(),
                     value.at("modified_ns").get<std::int64_t>()};
}

bool SameFile(const FileStamp& a, const FileStamp& b) {
    return a.size == b.size && a.modifiedNanoseconds == b.modifiedNanoseconds;
}

// Frame times as runs of equal steps, [step, repeats]: a constant-rate
// stream of any length takes one run.
json FrameTimesJson(const std::vector<std::int64_t>& times) {
    json runs = json::array();
    for (std::size_t i = 1; i < times.size(); ++i) {
        const std::int64_t step = times[i] - times[i - 1];
        if (!runs.empty() && runs.back()[0].get<std::int64_t>() == step) {
            runs.back()[1] = runs.back()[1].get<std::int64_t>() + 1;
        } else {
            runs.push_back({step, 1});
        }
    }
    return {{"first", times.empty() ? json(nullptr) : json(times.front())}, {"steps", runs}};
}

std::vector<std::int64_t> FrameTimesFrom(const json& value, std::int64_t frames) {
    std::vector<std::int64_t> times;
    if (frames == 0) {
        return times;
    }
    times.reserve(static_cast<std::size_t>(frames));
    times.push_back(value.at("first").get<std::int64_t>());
    for (const json& run : value.at("steps")) {
        const std::int64_t step = run.at(0).get<std::int64_t>();
        const std::int64_t repeats = run.at(1).get<std::int64_t>();
        if (step <= 0 || repeats <= 0 ||
            repeats > frames - static_cast<std::int64_t>(times.size())) {
            throw Damaged{"its frame times do not ascend through its frame count"};
        }
        for (std::int64_t i = 0; i < repeats; ++i) {
            times.push_back(times.back() + step);
        }
    }
    if (static_cast<std::int64_t>(times.size()) != frames) {
        throw Damaged{"its frame times do not ascend through its frame count"};
    }
    return times;
}

void FreeParameters(AVCodecParameters* parameters) { avcodec_parameters_free(&parameters); }

json ManifestJson(const SegmentManifest& manifest) {
    const VideoStreamInfo& info = *manifest.mainScan.info;
    json keys = json::array();
    for (const KeyFrame& key : info.keyFrames) {
        keys.push_back({key.frame, key.seekTime, key.fingerprint});
    }
    json cuts = json::array();
    for (const Segment& segment : manifest.segments) {
        cuts.push_back({segment.first, segment.last});
    }
    json document = {
        {"kind", kManifestKind},
        {"version", kManifestVersion},
        {"main",
         {{"file", StampJson(manifest.main)},
          {"video_stream", manifest.videoStream},
          {"stream_index", info.streamIndex},
          {"identity", manifest.mainScan.identity},
          {"codec", static_cast<int>(info.codec->codec_id)},
          {"width", info.codec->width},
          {"height", info.codec->height},
          {"time_base", {info.timeBase.num, info.timeBase.den}},
          {"frames", info.length()},
          {"frame_times", FrameTimesJson(info.frameTimes)},
          {"last_frame_duration", info.lastFrameDuration},
          {"numbered_by_decode_order", info.numberedByDecodeOrder},
          {"key_frames", keys}}},
        {"overlay", nullptr},
        {"segments", {{"count", manifest.count}, {"frames", cuts}}},
    };
    if (manifest.overlay) {
        document["overlay"] = {{"file", StampJson(manifest.overlay->file)},
                               {"overlay_stream", manifest.overlay->stream},
                               {"identity", manifest.overlay->identity}};
    }
    return document;
}

// The manifest as written, checked against itself: its identity must be
// the one its frame list gives for its file size, and its cuts those its
// frames and key frames give. The codec parameters are those it records
// (a codec, a picture size).
SegmentManifest ManifestFrom(const json& document) {
    SegmentManifest manifest;
    const json& main = document.at("main");
    manifest.main = StampFrom(main.at("file"));
    manifest.videoStream = main.at("video_stream").get<long>();
    auto info = std::make_shared<VideoStreamInfo>();
    info->path = manifest.main.path;
    info->streamIndex = main.at("stream_index").get<int>();
    info->timeBase = AVRational{main.at("time_base").at(0).get<int>(),
                                main.at("time_base").at(1).get<int>()};
    const std::int64_t frames = main.at("frames").get<std::int64_t>();
    if (frames < 1) {
        throw Damaged{"it lists no frames"};
    }
    info->frameTimes = FrameTimesFrom(main.at("frame_times"), frames);
    info->lastFrameDuration = main.at("last_frame_duration").get<std::int64_t>();
    info->numberedByDecodeOrder = main.at("numbered_by_decode_order").get<bool>();
    for (const json& key : main.at("key_frames")) {
        const KeyFrame frame{key.at(0).get<long>(), key.at(1).get<std::int64_t>(),
                             key.at(2).get<std::uint64_t>()};
        if (frame.frame < 0 || frame.frame >= frames ||
            (!info->keyFrames.empty() && frame.frame < info->keyFrames.back().frame)) {
            throw Damaged{"its key frames lie outside its frames"};
        }
        info->keyFrames.push_back(frame);
    }
    info->codec = {avcodec_parameters_alloc(), &FreeParameters};
    if (info->codec == nullptr) {
        throw RunnerError("out of memory");
    }
    info->codec->codec_type = AVMEDIA_TYPE_VIDEO;
    info->codec->codec_id = static_cast<AVCodecID>(main.at("codec").get<int>());
    info->codec->width = main.at("width").get<int>();
    info->codec->height = main.at("height").get<int>();
    manifest.mainScan.identity = main.at("identity").get<std::string>();
    manifest.mainScan.info = info;
    if (StreamIdentity(*info, manifest.main.size) != manifest.mainScan.identity) {
        throw Damaged{"its frame list does not give the identity it records"};
    }

    const json& overlay = document.at("overlay");
    if (!overlay.is_null()) {
        manifest.overlay = ManifestOverlay{StampFrom(overlay.at("file")),
                                           overlay.at("overlay_stream").get<long>(),
                                           overlay.at("identity").get<std::string>()};
    }
    const json& segments = document.at("segments");
    manifest.count = segments.at("count").get<int>();
    for (const json& cut : segments.at("frames")) {
        manifest.segments.push_back(Segment{static_cast<int>(manifest.segments.size()),
                                            cut.at(0).get<std::int64_t>(),
                                            cut.at(1).get<std::int64_t>()});
    }
    std::vector<std::int64_t> keyFrames;
    for (const KeyFrame& key : info->keyFrames) {
        keyFrames.push_back(key.frame);
    }
    std::vector<Segment> expected;
    try {
        expected = CutSegments(frames, keyFrames, manifest.count);
    } catch (const UsageError&) {
        throw Damaged{"its segment count does not fit its frames"};
    }
    const auto same = [](const Segment& a, const Segment& b) {
        return a.first == b.first && a.last == b.last;
    };
    if (!std::equal(expected.begin(), expected.end(), manifest.segments.begin(),
                    manifest.segments.end(), same)) {
        throw Damaged{"its cuts are not those of its frames and key frames"};
    }
    return manifest;
}

// Parses the file and checks its kind and version; the rest is read by
// ManifestFrom.
json ParsedManifest(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw UsageError("cannot read the manifest " + Quoted(path) + ": " +
                         std::strerror(errno));
    }
    std::stringstream text;
    text << file.rdbuf();
    json document = json::parse(text.str(), nullptr, false);
    if (document.is_discarded() || !document.is_object() ||
        document.value("kind", json()) != json(kManifestKind)) {
        throw UsageError(Quoted(path) + " is not a segments manifest (as 'quillmere segments "
                                        "MAIN N --manifest FILE' writes one)");
    }
    const json version = document.value("version", json());
    if (version != json(kManifestVersion)) {
        throw UsageError(Quoted(path) + " is a segments manifest of format " +
                         (version.is_number_integer() ? version.dump() : "unknown") +
                         "; this quillmere reads format " + std::to_string(kManifestVersion) +
                         ": write it again with 'quillmere segments'");
    }
    return document;
}

SegmentManifest CheckedManifest(const std::string& path, const json& document) {
    try {
        return ManifestFrom(document);
    } catch (const Damaged& damaged) {
        throw UsageError("the manifest " + Quoted(path) + " is damaged: " + damaged.what);
    } catch (const json::exception&) {
        throw UsageError("the manifest " + Quoted(path) +
                         " is damaged: a field is missing or of the wrong type");
    }
}

// Refuses the manifest unless `mainPath` is, by its stat, the file it was
// written from.
void CheckMainStamp(const SegmentManifest& manifest, const std::string& manifestPath,
                    const std::string& mainPath) {
    const FileStamp now = StampOf(mainPath);
    if (SameFile(now, manifest.main)) {
        return;
    }
    if (now.path == manifest.main.path) {
        throw UsageError(Quoted(mainPath) + " has changed since the manifest " +
                         Quoted(manifestPath) + " was written" +
                         Again(mainPath, manifest.count, manifestPath));
    }
    throw UsageError("the manifest " + Quoted(manifestPath) + " is of another main video, " +
                     Quoted(manifest.main.path));
}

void CheckStream(const SegmentManifest& manifest, const std::string& manifestPath,
                 const AVStream& stream) {
    const VideoStreamInfo& info = *manifest.mainScan.info;
    const AVCodecParameters& codec = *stream.codecpar;
    if (stream.index != info.streamIndex || codec.codec_id != info.codec->codec_id ||
        codec.width != info.codec->width || codec.height != info.codec->height ||
        av_cmp_q(stream.time_base, info.timeBase) != 0) {
        throw UsageError("the manifest " + Quoted(manifestPath) +
                         " is of another video stream of the main (its stream, codec, picture "
                         "size or time base differ)");
    }
}

}  // namespace

FileStamp StampOf(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        throw UsageError("cannot read " + Quoted(path) + ": " + std::strerror(errno));
    }
    FileStamp stamp;
    char* absolute = realpath(path.c_str(), nullptr);
    stamp.path = absolute != nullptr ? absolute : path;
    std::free(absolute);
    stamp.size = status.st_size;
    stamp.modifiedNanoseconds =
        static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    return stamp;
}

void WriteSegmentManifest(const std::string& path, const SegmentManifest& manifest) {
    // Written beside its name and renamed over it: a render never reads
    // half a manifest.
    const std::string temporary = path + ".partial";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << ManifestJson(manifest).dump() << '\n';
        file.close();
        if (!file) {
            std::remove(temporary.c_str());
            throw RunnerError("cannot write the manifest " + Quoted(path));
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(temporary.c_str());
        throw RunnerError("cannot write the manifest " + Quoted(path) + ": " + reason);
    }
}

SegmentManifest ReadSegmentManifest(const std::string& path, const std::string& mainPath,
                                    const AVStream& mainStream, int count) {
    SegmentManifest manifest = CheckedManifest(path, ParsedManifest(path));
    CheckMainStamp(manifest, path, mainPath);
    CheckStream(manifest, path, mainStream);
    // The frames are decoded with the parameters the main's probe gives,
    // as a scan of the file would have them (the scan was made here, so it
    // is still this reader's to change).
    auto info = std::const_pointer_cast<VideoStreamInfo>(manifest.mainScan.info);
    if (avcodec_parameters_copy(info->codec.get(), mainStream.codecpar) < 0) {
        throw RunnerError("out of memory");
    }
    if (manifest.count != count) {
        throw UsageError("the manifest " + Quoted(path) + " cuts the main into " +
                         std::to_string(manifest.count) + " segments, not " +
                         std::to_string(count) + Again(mainPath, count, path));
    }
    return manifest;
}

std::string KnownOverlayIdentity(const SegmentManifest& manifest, const std::string& path,
                                 long stream) {
    if (!manifest.overlay || manifest.overlay->stream != stream) {
        return "";
    }
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        return "";
    }
    const FileStamp now = StampOf(path);
    return now.path == manifest.overlay->file.path && SameFile(now, manifest.overlay->file)
               ? manifest.overlay->identity
               : "";
}

SegmentManifest ReadManifestOfMain(const std::string& path, const std::string& mainPath) {
    SegmentManifest manifest = CheckedManifest(path, ParsedManifest(path));
    CheckMainStamp(manifest, path, mainPath);
    return manifest;
}
