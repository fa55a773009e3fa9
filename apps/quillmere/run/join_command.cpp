// quillmere join: the segments of one render (render --segment K/N)
// stitched into OUT by stream copy, with the main video's audio, subtitles,
// chapters and metadata carried over as a whole render carries them.
//
// Nothing is written unless the set is whole: every segment of the job
// present once, every part agreeing on the job, the segment count and the
// main, their frame ranges covering the main's frames once each, each part
// with all the frames of its range, all encoded alike, and the main the
// segments name at hand.
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "apps/quillmere/media/container_table.h"
#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/media/segment_tags.h"
#include "apps/quillmere/media/stream_identity.h"
#include "apps/quillmere/plan/segment_manifest.h"
#include "apps/quillmere/media/video_reader.h"
#include "apps/quillmere/media/video_writer.h"
#include "apps/quillmere/plan/planning.h"
#include "apps/quillmere/run/commands.h"
#include "apps/quillmere/base/interruption.h"
#include "apps/quillmere/base/notice.h"
#include "apps/quillmere/run/job_steps.h"
#include "apps/quillmere/run/overwrite_check.h"
#include "apps/quillmere/run/pending_output.h"
#include "apps/quillmere/run/run_summary.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

namespace {

// One segment file, opened, with what it says of itself.
struct Part {
    std::string path;
    FormatContext container;
    int stream = -1;
    SegmentMarks marks;
    std::int64_t packets = 0;
};

// Mixed audio keeps its codec where it can, else takes the container's
// usual one, said as the render says it.
AudioEncoding MixedEncoding(const OutputFormat& format, AVCodecID codec,
                            const NoticeHandler& notice) {
    std::string why;
    const AudioEncoding encoding = MixedAudioEncoding(format, codec, 0, why);
    if (!why.empty()) {
        notice(std::string("the main video's ") + avcodec_get_name(codec) +
               " audio is re-encoded as " + encoding.encoder + " to mix the overlay's sound in (" +
               why + ")");
    }
    return encoding;
}

bool IsRegular(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// Whether a file of a parts folder can be a segment by its name: segments
// carry the extension of a container the runner writes, so a note, a log or
// a manifest beside them is no segment. A damaged segment keeps its name and
// is still refused.
bool NamedLikeSegment(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
        return false;
    }
    const std::string extension = name.substr(dot);
    const auto& formats = OutputFormats();
    return std::any_of(formats.begin(), formats.end(), [&](const OutputFormat& format) {
        return strcasecmp(format.extension, extension.c_str()) == 0;
    });
}

// The files named, then every visible regular file of --parts named like a
// segment, by name.
std::vector<std::string> PartPaths(const JoinJob& job) {
    std::vector<std::string> paths = job.partPaths;
    if (job.partsFolder.empty()) {
        return paths;
    }
    DIR* folder = opendir(job.partsFolder.c_str());
    if (folder == nullptr) {
        throw RunnerError("cannot read the folder " + Quoted(job.partsFolder) + ": " +
                          std::strerror(errno));
    }
    // The manifest join is given may lie among the parts: it is none.
    struct stat manifest {};
    const bool hasManifest =
        !job.manifestPath.empty() && stat(job.manifestPath.c_str(), &manifest) == 0;
    std::vector<std::string> found;
    std::vector<std::string> skipped;
    while (const dirent* entry = readdir(folder)) {
        const std::string path = job.partsFolder + "/" + entry->d_name;
        struct stat status {};
        if (hasManifest && stat(path.c_str(), &status) == 0 && status.st_dev == manifest.st_dev &&
            status.st_ino == manifest.st_ino) {
            continue;
        }
        // Part files of renders still running are hidden, and left alone.
        if (entry->d_name[0] == '.' || !IsRegular(path)) {
            continue;
        }
        (NamedLikeSegment(entry->d_name) ? found : skipped).push_back(entry->d_name);
    }
    closedir(folder);
    std::sort(found.begin(), found.end());
    std::sort(skipped.begin(), skipped.end());
    for (std::string& name : found) {
        name = job.partsFolder + "/" + name;
    }
    if (!skipped.empty() && !job.quiet) {
        std::string names;
        for (const std::string& name : skipped) {
            names += (names.empty() ? "" : ", ") + Quoted(name);
        }
        PrintNotice("left out " + Counted(skipped.size(), "file") + " of " +
                    Quoted(job.partsFolder) + " named like no video: " + names);
    }
    if (found.empty() && paths.empty()) {
        throw RunnerError("no segments in " + Quoted(job.partsFolder));
    }
    paths.insert(paths.end(), found.begin(), found.end());
    return paths;
}

Part OpenPart(const std::string& path) {
    Part part;
    part.path = path;
    part.container = OpenMediaFile(path, true);
    if (!part.container) {
        throw RunnerError("cannot read the segment " + Quoted(path));
    }
    part.stream = FindVideoStream(part.container.get(), 0);
    const std::optional<SegmentMarks> marks = MarksFrom(part.container->metadata);
    if (part.stream < 0 || !marks) {
        throw RunnerError(Quoted(path) + " is no segment of a quillmere render (render "
                          "--segment K/N writes them)");
    }
    part.marks = *marks;
    return part;
}

std::string Describe(const AVCodecParameters& codec) {
    return std::string(avcodec_get_name(codec.codec_id)) + " " + std::to_string(codec.width) +
           "x" + std::to_string(codec.height);
}

bool SameEncoding(const AVCodecParameters& a, const AVCodecParameters& b) {
    return a.codec_id == b.codec_id && a.width == b.width && a.height == b.height &&
           a.format == b.format && a.extradata_size == b.extradata_size &&
           (a.extradata_size == 0 ||
            std::equal(a.extradata, a.extradata + a.extradata_size, b.extradata));
}

// Counts a part's video packets: a segment cut short (a render that was
// stopped outright, a copy that broke off) has fewer than its range.
std::int64_t CountVideoPackets(Part& part) {
    PacketPtr packet = NewPacket();
    std::int64_t count = 0;
    while (av_read_frame(part.container.get(), packet.get()) >= 0) {
        count += packet->stream_index == part.stream ? 1 : 0;
        av_packet_unref(packet.get());
    }
    avformat_seek_file(part.container.get(), -1, INT64_MIN, 0, 0, 0);
    return count;
}

std::string Named(const Part& part) {
    return Quoted(part.path) + " (segment " + std::to_string(part.marks.index) + " of " +
           std::to_string(part.marks.count) + ")";
}

// A part whose `mark` differs from the one most parts give (the first given
// on a tie), and a part that gives that one: a stray or forged part is then
// the one named as odd, wherever it comes in the list.
struct Disagreement {
    const Part* odd = nullptr;
    const Part* common = nullptr;
};
template <typename Mark>
std::optional<Disagreement> FindDisagreement(const std::vector<Part>& parts, Mark mark) {
    const Part* common = &parts.front();
    std::ptrdiff_t mostShared = 0;
    for (const Part& candidate : parts) {
        const std::ptrdiff_t shared =
            std::count_if(parts.begin(), parts.end(), [&](const Part& part) {
                return mark(part.marks) == mark(candidate.marks);
            });
        if (shared > mostShared) {
            mostShared = shared;
            common = &candidate;
        }
    }
    for (const Part& part : parts) {
        if (mark(part.marks) != mark(common->marks)) {
            return Disagreement{&part, common};
        }
    }
    return std::nullopt;
}

// Refuses, in one line, parts that do not all say they are of one job: the
// same fingerprint, segment count, main and turn. The main's path may
// differ (segments rendered on other machines); its identity may not.
void CheckAgreement(const std::vector<Part>& parts) {
    if (const auto job = FindDisagreement(parts, [](const SegmentMarks& m) { return m.job; })) {
        throw RunnerError(Quoted(job->odd->path) + " and " + Quoted(job->common->path) +
                          " are segments of different jobs (another main, overlay or "
                          "settings)");
    }
    if (const auto count =
            FindDisagreement(parts, [](const SegmentMarks& m) { return m.count; })) {
        throw RunnerError(Quoted(count->odd->path) + " says it is segment " +
                          std::to_string(count->odd->marks.index) + " of " +
                          std::to_string(count->odd->marks.count) + ", and " +
                          Quoted(count->common->path) + " segment " +
                          std::to_string(count->common->marks.index) + " of " +
                          std::to_string(count->common->marks.count) +
                          ": the parts disagree on the segment count");
    }
    if (const auto main =
            FindDisagreement(parts, [](const SegmentMarks& m) { return m.mainIdentity; })) {
        throw RunnerError(Quoted(main->odd->path) + " and " + Quoted(main->common->path) +
                          " say they were cut from different main videos");
    }
    if (const auto turn = FindDisagreement(parts, [](const SegmentMarks& m) {
            return std::make_tuple(m.turn.transpose, m.turn.mirrorX, m.turn.mirrorY);
        })) {
        throw RunnerError(Quoted(turn->odd->path) + " and " + Quoted(turn->common->path) +
                          " say the main's pictures were turned differently");
    }
}

// Orders the parts by index and refuses, in one line, any set that is not
// one whole job.
std::vector<Part> CheckedSet(std::vector<Part> parts) {
    CheckAgreement(parts);
    const int count = parts.front().marks.count;
    std::map<int, const Part*> byIndex;
    for (const Part& part : parts) {
        const auto placed = byIndex.emplace(part.marks.index, &part);
        if (!placed.second) {
            throw RunnerError("segment " + std::to_string(part.marks.index) + " is given twice: " +
                              Quoted(placed.first->second->path) + " and " + Quoted(part.path));
        }
    }
    std::string missing;
    int missingCount = 0;
    for (int index = 0; index < count; ++index) {
        if (byIndex.count(index) == 0) {
            missing += (missing.empty() ? "" : ", ") + std::to_string(index);
            ++missingCount;
        }
    }
    if (!missing.empty()) {
        throw RunnerError(std::string(missingCount == 1 ? "segment " : "segments ") + missing +
                          " of " + std::to_string(count) + (missingCount == 1 ? " is" : " are") +
                          " missing");
    }
    std::sort(parts.begin(), parts.end(),
              [](const Part& a, const Part& b) { return a.marks.index < b.marks.index; });
    const AVCodecParameters& codec = *parts.front().container->streams[parts.front().stream]->codecpar;
    for (const Part& part : parts) {
        const AVStream& stream = *part.container->streams[part.stream];
        if (!SameEncoding(*stream.codecpar, codec)) {
            throw RunnerError(Quoted(part.path) + " is encoded unlike " +
                              Quoted(parts.front().path) + " (" + Describe(*stream.codecpar) +
                              " against " + Describe(codec) + ", or other parameters)");
        }
    }
    return parts;
}

std::string FramesText(std::int64_t first, std::int64_t last) {
    return first == last ? "frame " + std::to_string(first) + " of the main is"
                         : "frames " + std::to_string(first) + " to " + std::to_string(last) +
                               " of the main are";
}

// Refuses parts, in index order, whose frame ranges do not cover the
// main's `mainFrames` frames once each: from frame 0, each starting where
// the one before ended, none past the main's end.
void CheckTiling(const std::vector<Part>& parts, std::int64_t mainFrames) {
    std::int64_t next = 0;  // the first frame no part before covers
    const Part* before = nullptr;
    for (const Part& part : parts) {
        const SegmentMarks& marks = part.marks;
        if (marks.last >= mainFrames) {
            throw RunnerError(Named(part) + " ends at frame " + std::to_string(marks.last) +
                              ", past the main's last frame, " +
                              std::to_string(mainFrames - 1));
        }
        if (marks.first > next) {
            throw RunnerError(FramesText(next, marks.first - 1) + " in no segment: " +
                              Named(part) + " starts at frame " + std::to_string(marks.first));
        }
        if (marks.first < next) {
            throw RunnerError(Named(part) + " starts at frame " + std::to_string(marks.first) +
                              ", inside " + Named(*before) + ", which ends at frame " +
                              std::to_string(next - 1));
        }
        next = marks.last + 1;
        before = &part;
    }
    if (next < mainFrames) {
        throw RunnerError(FramesText(next, mainFrames - 1) + " in no segment: the last, " +
                          Named(parts.back()) + ", ends at frame " + std::to_string(next - 1));
    }
}

// Refuses a part whose packets are not the frames of its range.
void CheckFrameCounts(std::vector<Part>& parts) {
    for (Part& part : parts) {
        const std::int64_t expected = part.marks.last - part.marks.first + 1;
        part.packets = CountVideoPackets(part);
        if (part.packets < expected) {
            throw RunnerError(Quoted(part.path) + " is cut short: it holds " +
                              std::to_string(part.packets) + " of the " +
                              std::to_string(expected) + " frames of segment " +
                              std::to_string(part.marks.index));
        }
        if (part.packets > expected) {
            throw RunnerError(Named(part) + " holds " + std::to_string(part.packets) +
                              " frames, more than the " + std::to_string(expected) +
                              " of its range, frames " + std::to_string(part.marks.first) +
                              " to " + std::to_string(part.marks.last));
        }
    }
}

// The main these segments were rendered from: --main, else the path they
// name; refused unless one of its video streams is the one they were cut
// from (as scanned here, or as --manifest recorded it for the main as it
// still is). `stream` and `frames` receive that stream's number and frame
// count.
std::string CheckedMain(const JoinJob& job, const SegmentMarks& marks, long& stream,
                        std::int64_t& frames) {
    const std::string path = job.mainPath.empty() ? marks.mainPath : job.mainPath;
    if (!IsRegular(path)) {
        throw RunnerError("cannot find the main video " + Quoted(path) +
                          " the segments were rendered from (give it with --main)");
    }
    if (!job.manifestPath.empty()) {
        // The main's scan from the manifest: the main is read once, for its
        // other streams, instead of once more to identify it.
        const SegmentManifest manifest = ReadManifestOfMain(job.manifestPath, path);
        if (manifest.mainScan.identity != marks.mainIdentity) {
            throw UsageError("the manifest " + Quoted(job.manifestPath) +
                             " is of another main video than the segments");
        }
        stream = manifest.videoStream;
        frames = manifest.mainScan.info->length();
        return path;
    }
    FormatContext probe = OpenMediaFile(path, true);
    const long streams = probe ? CountVideoStreams(probe.get()) : 0;
    for (stream = 0; stream < streams; ++stream) {
        const ScannedVideo scanned = ScanVideo(path, stream);
        if (scanned.identity == marks.mainIdentity) {
            frames = scanned.info->length();
            return path;
        }
    }
    throw RunnerError(Quoted(path) + " is not the main video the segments were rendered from");
}

// Seconds of a packet's decoding time, for interleaving the two sources.
double DecodeSeconds(const AVPacket& packet, AVRational timeBase) {
    const std::int64_t time = packet.dts != AV_NOPTS_VALUE ? packet.dts : packet.pts;
    return time == AV_NOPTS_VALUE ? 0.0 : static_cast<double>(time) * av_q2d(timeBase);
}

}  // namespace

int RunJoin(const CommandLine& line) {
    // Every usage error first: nothing of the parts or the main is read yet.
    const JoinJob job = PlanJoin(line);
    std::vector<Part> opened;
    for (const std::string& path : PartPaths(job)) {
        opened.push_back(OpenPart(path));
    }
    std::vector<Part> parts = CheckedSet(std::move(opened));
    long mainStream = 0;
    std::int64_t mainFrames = 0;
    const std::string mainPath = CheckedMain(job, parts.front().marks, mainStream, mainFrames);
    CheckTiling(parts, mainFrames);
    CheckFrameCounts(parts);

    std::vector<std::string> inputs{mainPath};
    for (const Part& part : parts) {
        inputs.push_back(part.path);
    }
    CheckNotAnInput(job.outputPath, inputs);
    const bool mayReplace = ConfirmOverwrite(job.outputPath, job.overwrite);

    // The main as a render reads it (its video stream's tags, rotation and
    // times, its file's tags and chapters), and once more for its packets.
    VideoReader main(mainPath, mainStream);
    // Segments of pictures turned upright carry no turn over.
    const Orientation turn = parts.front().marks.turn;
    if (!turn.identity()) {
        main.DropDisplayMatrix();
    }
    FormatContext mainPackets = OpenMediaFile(mainPath, true);
    if (!mainPackets) {
        throw RunnerError("cannot read " + Quoted(mainPath));
    }
    const NoticeHandler notice = NoticesFor(Reporting{job.quiet, "", 0});
    // The overlay's sound, which the segments left to the join.
    const std::optional<AudioMixing>& mix = parts.front().marks.mix;
    StreamPassthrough passthrough;
    std::vector<int> carriedIndex(mainPackets->nb_streams, -1);
    for (unsigned index = 0; index < mainPackets->nb_streams; ++index) {
        const AVStream* stream = mainPackets->streams[index];
        const AVMediaType type = stream->codecpar->codec_type;
        if ((type == AVMEDIA_TYPE_AUDIO && job.carryAudio) ||
            (type == AVMEDIA_TYPE_SUBTITLE && job.carrySubtitles)) {
            carriedIndex[index] = static_cast<int>(passthrough.streams.size());
            CarriedStream carried{stream, {}, {}};
            if (type == AVMEDIA_TYPE_AUDIO && mix) {
                carried.encoding = MixedEncoding(*job.format, stream->codecpar->codec_id, notice);
                carried.mixing = mix;
            }
            passthrough.streams.push_back(carried);
        }
    }
    const AVStream& mainVideo = main.videoStream();
    VideoFormat video;
    video.sampleAspectRatio = mainVideo.sample_aspect_ratio;
    if (turn.transpose && video.sampleAspectRatio.num > 0 && video.sampleAspectRatio.den > 0) {
        video.sampleAspectRatio = av_inv_q(video.sampleAspectRatio);
    }
    video.frameRate = main.frameRate();
    video.timeBase = mainVideo.time_base;
    video.startTime = mainVideo.start_time != AV_NOPTS_VALUE ? mainVideo.start_time : 0;
    const AVStream& firstPart = *parts.front().container->streams[parts.front().stream];
    // The segments' render stored the main's HDR10 metadata with their video.
    video.light = LightMetadataOf(firstPart, nullptr);

    PendingOutput pending(job.outputPath);
    VideoWriter writer(pending.writePath(), job.outputPath, *job.format, *firstPart.codecpar,
                       firstPart.time_base, video, CarriedOver{&mainVideo, &main.container(), true, {}},
                       passthrough, notice);

    // The segments' video in order, the main's other packets interleaved
    // by time, so that the muxer holds few packets at once.
    PacketPtr videoPacket = NewPacket();
    PacketPtr otherPacket = NewPacket();
    std::size_t partIndex = 0;
    bool videoPending = false;
    bool otherPending = false;
    bool mainEnded = false;
    std::int64_t frames = 0;
    std::int64_t lastDts = AV_NOPTS_VALUE;
    AVRational lastDtsBase{1, 1};
    const auto nextVideo = [&]() {
        while (partIndex < parts.size()) {
            Part& part = parts[partIndex];
            while (av_read_frame(part.container.get(), videoPacket.get()) >= 0) {
                if (videoPacket->stream_index == part.stream) {
                    return true;
                }
                av_packet_unref(videoPacket.get());
            }
            ++partIndex;
        }
        return false;
    };
    const auto nextOther = [&]() {
        while (!mainEnded && av_read_frame(mainPackets.get(), otherPacket.get()) >= 0) {
            if (carriedIndex[static_cast<std::size_t>(otherPacket->stream_index)] >= 0) {
                return true;
            }
            av_packet_unref(otherPacket.get());
        }
        mainEnded = true;
        return false;
    };
    videoPending = nextVideo();
    otherPending = nextOther();
    while (videoPending || otherPending) {
        ThrowIfInterrupted();
        const AVRational videoBase =
            videoPending ? parts[partIndex].container->streams[parts[partIndex].stream]->time_base
                         : AVRational{1, 1};
        const bool takeVideo =
            videoPending &&
            (!otherPending ||
             DecodeSeconds(*videoPacket, videoBase) <=
                 DecodeSeconds(*otherPacket,
                               mainPackets->streams[otherPacket->stream_index]->time_base));
        if (takeVideo) {
            // A container that stores presentation times only (Matroska)
            // reads back the first packets after a key frame without a
            // decoding time: such a packet goes just after the one before,
            // and never after its own presentation.
            if (videoPacket->dts == AV_NOPTS_VALUE && lastDts != AV_NOPTS_VALUE) {
                std::int64_t dts = av_rescale_q(lastDts, lastDtsBase, videoBase) + 1;
                if (videoPacket->pts != AV_NOPTS_VALUE) {
                    dts = std::min(dts, videoPacket->pts);
                }
                videoPacket->dts = dts;
            }
            if (videoPacket->dts != AV_NOPTS_VALUE) {
                lastDts = videoPacket->dts;
                lastDtsBase = videoBase;
            }
            writer.WriteVideoPacket(*videoPacket, videoBase);
            av_packet_unref(videoPacket.get());
            ++frames;
            videoPending = nextVideo();
        } else {
            const int carried = carriedIndex[static_cast<std::size_t>(otherPacket->stream_index)];
            writer.WritePassthrough(*otherPacket, carried);
            av_packet_unref(otherPacket.get());
            otherPending = nextOther();
        }
    }
    writer.Finish();
    pending.Commit(mayReplace);
    if (!job.quiet) {
        std::fprintf(stderr, "quillmere: joined %s (%s) into %s (%s)\n",
                     Counted(parts.size(), "segment").c_str(),
                     Counted(static_cast<std::size_t>(frames), "frame").c_str(),
                     job.outputPath.c_str(), ReadableSize(FileSize(job.outputPath)).c_str());
    }
    return kExitSuccess;
}
