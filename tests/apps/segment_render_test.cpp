// A render cut into segments (render --segment K/N), each rendered by its
// own process and joined (quillmere join), against the same render made
// whole: the decoded frames (every sample, with their timestamps, as
// ffmpeg's framemd5 hashes them) and the audio packets must be identical,
// with the main's scan made by each segment or read from a manifest.
// And join's refusals: one line, exit status 1, nothing written.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/apps/runner_harness.h"

namespace {

// The clips of these tests, made once: small, so that a case of N segments
// costs N + 2 short runs.
const ScratchFolder& SegmentClips() {
    static ScratchFolder folder;
    static const bool made = [] {
        const std::string& dir = folder.path();
        // H.264 with a key frame every 12 frames and B-frames, AAC audio.
        RunFfmpeg("-f lavfi -i testsrc2=size=64x48:rate=25 -f lavfi -i "
                  "sine=frequency=440:sample_rate=48000 -t 1.6 -c:v libx264 -g 12 -bf 2 "
                  "-pix_fmt yuv420p -c:a aac -shortest " + dir + "/main.mkv");
        // One key frame in 40 frames.
        RunFfmpeg("-f lavfi -i testsrc2=size=64x48:rate=25 -t 1.6 -c:v libx264 -g 100 "
                  "-pix_fmt yuv420p " + dir + "/sparse.mkv");
        // Frames 2/25 s apart after frame 20: a variable rate.
        RunFfmpeg("-f lavfi -i testsrc2=size=64x48:rate=25 -t 1.6 -vf "
                  "setpts='if(lt(N\\,20)\\,N\\,20+(N-20)*2)/25/TB' -fps_mode passthrough "
                  "-c:v ffv1 " + dir + "/variable.mkv");
        RunFfmpeg("-f lavfi -i testsrc2=size=64x48:rate=25 -t 0.2 -c:v ffv1 " + dir +
                  "/five.mkv");
        RunFfmpeg("-f lavfi -i mandelbrot=size=32x24:rate=30 -t 0.5 -c:v ffv1 " + dir +
                  "/clip.mkv");
        RunFfmpeg("-f lavfi -i color=c=orange:size=20x14 -frames:v 1 " + dir + "/still.png");
        return true;
    }();
    static_cast<void>(made);
    return folder;
}

std::string ClipPath(const std::string& name) { return SegmentClips() / name; }

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// ffmpeg's framemd5 of one kind of stream: decoded frames for video, the
// packets as they are for audio.
std::string FrameHashes(const std::string& path, const std::string& kind,
                        const ScratchFolder& folder) {
    const std::string out = folder / ("hashes-" + kind + ".txt");
    RunFfmpeg("-i " + path + " -map 0:" + kind + (kind == "a" ? " -c copy" : "") +
              " -f framemd5 -y " + out);
    return ReadFile(out);
}

// A file's packets as they are (bytes and times, every stream) and its
// tags: what two runs writing the same thing agree on, whatever random
// identifiers the muxer gives the file itself (Matroska's segment and track
// UIDs).
std::string PacketsAndTags(const std::string& path, const ScratchFolder& folder) {
    const std::string packets = folder / "packets.txt";
    const std::string tags = folder / "tags.txt";
    RunFfmpeg("-i " + path + " -map 0 -c copy -f framemd5 -y " + packets);
    RunFfmpeg("-i " + path + " -f ffmetadata -y " + tags);
    return ReadFile(packets) + ReadFile(tags);
}

struct SegmentCase {
    const char* name;
    const char* main;
    std::vector<std::string> options;
    int count;
    // The segments read the main's scan from a manifest that `segments`
    // wrote; one of them is rendered without it too, the same packets and
    // tags, and that one goes into the join.
    bool manifest = false;
};

std::vector<std::string> Joined(std::vector<std::string> first,
                                const std::vector<std::string>& more) {
    first.insert(first.end(), more.begin(), more.end());
    return first;
}

class SegmentedRender : public testing::TestWithParam<SegmentCase> {};

TEST_P(SegmentedRender, JoinsToTheWholeRender) {
    const SegmentCase& test = GetParam();
    std::vector<std::string> options;
    for (const std::string& option : test.options) {
        options.push_back(option == "CLIP" ? ClipPath("clip.mkv")
                          : option == "STILL" ? ClipPath("still.png")
                                              : option);
    }
    const std::string main = ClipPath(test.main);
    ScratchFolder scratch;
    const RunResult whole =
        RunQuillmere(Joined({"render", main, "-o", scratch / "whole.mkv", "-q"}, options));
    ASSERT_EQ(whole.exitCode, 0) << whole.errorText;
    std::vector<std::string> join{"join", "-o", scratch / "joined.mkv", "-q"};
    std::vector<std::string> manifest;
    if (test.manifest) {
        const std::string path = scratch / "manifest.json";
        const RunResult written = RunQuillmere(
            Joined({"segments", main, std::to_string(test.count), "--manifest", path, "--"},
                   options));
        ASSERT_EQ(written.exitCode, 0) << written.errorText;
        manifest = {"--manifest", path};
        join.insert(join.end(), manifest.begin(), manifest.end());
    }
    const int unaided = test.count / 2;  // the segment also rendered without the manifest
    // Rendered last first: the order of the runs does not matter.
    for (int index = test.count - 1; index >= 0; --index) {
        const std::string part = scratch / ("part" + std::to_string(index) + ".mkv");
        const std::vector<std::string> render{
            "render", main, "--segment", std::to_string(index) + "/" + std::to_string(test.count),
            "-q"};
        const RunResult segment =
            RunQuillmere(Joined(Joined(render, manifest), Joined({"-o", part}, options)));
        ASSERT_EQ(segment.exitCode, 0) << "segment " << index << ": " << segment.errorText;
        join.push_back(part);
        if (test.manifest && index == unaided) {
            const std::string alone = scratch / "unaided.mkv";
            const RunResult made = RunQuillmere(Joined(Joined(render, {"-o", alone}), options));
            ASSERT_EQ(made.exitCode, 0) << made.errorText;
            EXPECT_EQ(PacketsAndTags(alone, scratch), PacketsAndTags(part, scratch))
                << "segment " << index;
            join.back() = alone;
        }
    }
    const RunResult joined = RunQuillmere(join);
    ASSERT_EQ(joined.exitCode, 0) << joined.errorText;
    EXPECT_EQ(FrameHashes(scratch / "joined.mkv", "v", scratch),
              FrameHashes(scratch / "whole.mkv", "v", scratch));
    EXPECT_EQ(FrameHashes(scratch / "joined.mkv", "a?", scratch),
              FrameHashes(scratch / "whole.mkv", "a?", scratch));
}

const std::vector<std::string> kOverlay{"--overlay", "CLIP", "--mask", "8,8,w32,h24"};

INSTANTIATE_TEST_SUITE_P(
    Segments, SegmentedRender,
    testing::Values(
        SegmentCase{"RandomShadowRepeated", "main.mkv",
                    Joined(kOverlay, {"--shadow", "gradient-random", "--shadow-size", "6",
                                      "--border", "2", "--repeat", "--seed", "7"}),
                    4},
        SegmentCase{"RandomFixedShiftReversedWithOffset", "main.mkv",
                    Joined(kOverlay, {"--shadow", "gradient-random-fixed", "--shadow-shift",
                                      "-3", "--reverse", "--offset", "4", "--repeat", "--seed",
                                      "4000000000"}),
                    3},
        SegmentCase{"FlatShadow", "main.mkv", Joined(kOverlay, {"--shadow", "flat"}), 3},
        SegmentCase{"GradientShadow", "main.mkv", Joined(kOverlay, {"--shadow", "gradient"}), 3},
        SegmentCase{"GradientFixedShadow", "main.mkv",
                    Joined(kOverlay, {"--shadow", "gradient-fixed"}), 3},
        SegmentCase{"FlatFixedShadow", "main.mkv", Joined(kOverlay, {"--shadow", "flat-fixed"}),
                    3},
        // Segment 1 holds frames 12-23: the range ends inside it.
        SegmentCase{"RangeEndingMidSegment", "main.mkv",
                    Joined(kOverlay, {"--range", "5-17", "--shadow", "gradient-random", "--seed",
                                      "11"}),
                    4},
        SegmentCase{"StillOverlay", "main.mkv",
                    {"--overlay", "STILL", "--mask", "4,4,w20,h14", "--shadow",
                     "gradient-random", "--seed", "5"},
                    4},
        SegmentCase{"TimeOverlayOnVariableRate", "variable.mkv",
                    Joined(kOverlay, {"--fit", "--repeat", "--shadow", "gradient-random",
                                      "--seed", "9"}),
                    4},
        SegmentCase{"FramesTimingWithOffset", "main.mkv",
                    Joined(kOverlay, {"--overlay-timing", "frames", "--offset", "2",
                                      "--maintain-black", "--shadow", "gradient-random",
                                      "--seed", "2"}),
                    4},
        SegmentCase{"SparseKeyFrames", "sparse.mkv",
                    Joined(kOverlay, {"--shadow", "gradient-random", "--seed", "3"}), 3},
        SegmentCase{"MoreSegmentsThanKeyFrames", "main.mkv",
                    Joined(kOverlay, {"--shadow", "gradient-random", "--seed", "6"}), 6},
        SegmentCase{"PlaceholderWithoutOverlay", "main.mkv",
                    {"--mask", "10,10,w30,h20", "--shadow", "gradient-random", "--seed", "8"},
                    3},
        // Fades in and out across segment boundaries (frames 12 and 24).
        SegmentCase{"Fades", "main.mkv",
                    Joined(kOverlay, {"--range", "6-30", "--repeat", "--fade-in", "10",
                                      "--fade-out", "0.4s", "--shadow", "gradient"}),
                    3},
        // A moving mask is a function of the frame number: each segment
        // draws the rectangles, edges between pixels and shadows of the whole,
        // also after frames whose mask lies wholly off the picture.
        SegmentCase{"MaskMovingBetweenPixelsWithBorderAndRandomShadow", "main.mkv",
                    {"--overlay", "CLIP", "--fit", "--bilinear", "--key", "0=-70,4,w32,h24",
                     "--key", "1s=40,20,w20,h15:in-out", "--border", "2", "--shadow",
                     "gradient-random", "--shadow-size", "5", "--seed", "5", "--filter-threads",
                     "1"},
                    3},
        SegmentCase{"MaskMovingInWholePixelsFromTimedKeys", "main.mkv",
                    {"--overlay", "CLIP", "--fit", "--key", "0.2s=2,2,w30,h20", "--key",
                     "30=30,24,w34,h22:out", "--shadow", "flat"},
                    4},
        SegmentCase{"OneSegment", "main.mkv",
                    Joined(kOverlay, {"--shadow", "gradient-random", "--seed", "1"}), 1},
        SegmentCase{"OneFrameSegments", "five.mkv",
                    Joined(kOverlay, {"--shadow", "gradient-random", "--seed", "12"}), 5},
        // The same jobs with the main's scan read from a manifest.
        SegmentCase{"ManifestRandomShadowRepeated", "main.mkv",
                    Joined(kOverlay, {"--shadow", "gradient-random", "--shadow-size", "6",
                                      "--border", "2", "--repeat", "--seed", "7"}),
                    4, true},
        SegmentCase{"ManifestTimeOverlayOnVariableRate", "variable.mkv",
                    Joined(kOverlay, {"--fit", "--repeat", "--shadow", "gradient-random",
                                      "--seed", "9"}),
                    4, true},
        SegmentCase{"ManifestSparseKeyFrames", "sparse.mkv",
                    Joined(kOverlay, {"--shadow", "gradient-random", "--seed", "3"}), 3, true},
        SegmentCase{"ManifestMoreSegmentsThanKeyFrames", "main.mkv",
                    Joined(kOverlay, {"--shadow", "gradient-random", "--seed", "6"}), 6, true},
        SegmentCase{"ManifestWithoutOverlay", "main.mkv",
                    {"--mask", "10,10,w30,h20", "--shadow", "gradient-random", "--seed", "8"},
                    3, true}),
    [](const testing::TestParamInfo<SegmentCase>& info) { return std::string(info.param.name); });

// A stand-in for Slurm's sbatch that runs a job at once, on this machine:
// an array's tasks one after another with their SLURM_ARRAY_TASK_ID, and
// fails as a job that fails would stop what depends on it.
constexpr const char* kInstantSbatch = R"(#!/bin/sh
array=; wrap=
for word in "$@"; do
  case "$word" in --array=*) array=${word#--array=} ;; --wrap=*) wrap=${word#--wrap=} ;; esac
done
if [ -n "$array" ]; then
  task=0
  while [ "$task" -le "${array#0-}" ]; do
    SLURM_ARRAY_TASK_ID=$task sh -c "$wrap" || exit 1
    task=$((task + 1))
  done
else
  sh -c "$wrap" || exit 1
fi
echo 7
)";

// The script segments --slurm prints, run through that stand-in: it
// writes the manifest, renders every segment with it and joins them into
// the whole render.
TEST(SegmentedRender, SlurmScriptWritesAndUsesTheManifest) {
    ScratchFolder scratch;
    const std::string sbatch = scratch / "sbatch";
    std::ofstream(sbatch) << kInstantSbatch;
    ASSERT_EQ(chmod(sbatch.c_str(), 0755), 0);
    const std::vector<std::string> options =
        Joined(kOverlay, {"--shadow", "gradient-random", "--seed", "4"});
    std::vector<std::string> withClip;
    for (const std::string& option : options) {
        withClip.push_back(option == "CLIP" ? ClipPath("clip.mkv") : option);
    }
    const std::string main = ClipPath("main.mkv");
    const RunResult printed = RunQuillmere(
        Joined({"segments", main, "3", "--slurm", "-o", scratch / "joined.mkv", "--"}, withClip));
    ASSERT_EQ(printed.exitCode, 0) << printed.errorText;
    std::ofstream(scratch / "job.sh") << printed.outputText;
    const std::string run = "cd " + scratch.path() + " && PATH=" + scratch.path() +
                            ":\"$PATH\" QUILLMERE=" + QUILLMERE_PROGRAM +
                            " bash job.sh > job.log 2>&1";
    ASSERT_EQ(std::system(run.c_str()), 0) << ReadFile(scratch / "job.log");
    EXPECT_TRUE(std::ifstream(scratch / "joined.mkv.parts/manifest.json").good());
    const RunResult whole =
        RunQuillmere(Joined({"render", main, "-o", scratch / "whole.mkv", "-q"}, withClip));
    ASSERT_EQ(whole.exitCode, 0) << whole.errorText;
    EXPECT_EQ(FrameHashes(scratch / "joined.mkv", "v", scratch),
              FrameHashes(scratch / "whole.mkv", "v", scratch));
}

TEST(SegmentedRender, MoreSegmentsThanFramesNameTheLargestCount) {
    const RunResult listed = RunQuillmere({"segments", ClipPath("five.mkv"), "6"});
    EXPECT_EQ(listed.exitCode, 2);
    EXPECT_NE(listed.errorText.find("at most 5 segments"), std::string::npos) << listed.errorText;
    ScratchFolder scratch;
    const RunResult rendered = RunQuillmere(
        {"render", ClipPath("five.mkv"), "--segment", "0/6", "-o", scratch / "part.mkv"});
    EXPECT_EQ(rendered.exitCode, 2);
    EXPECT_TRUE(scratch.Files().empty());
}

// An H.264 job, segments and join alike, in MP4 and in Matroska (which
// reads back no decoding times for the packets after a key frame): ffprobe
// counts every frame, finds the timestamps rising and the whole file decodes.
class H264Join : public testing::TestWithParam<const char*> {};

TEST_P(H264Join, PlaysThrough) {
    const std::string extension = GetParam();
    ScratchFolder scratch;
    std::vector<std::string> join{"join", "-o", scratch / "joined.mp4", "-q"};
    for (int index = 0; index < 3; ++index) {
        const std::string part = scratch / ("part" + std::to_string(index) + extension);
        const RunResult segment =
            RunQuillmere({"render", ClipPath("main.mkv"), "--segment",
                          std::to_string(index) + "/3", "-o", part, "-q", "--codec", "h264",
                          "--overlay", ClipPath("clip.mkv"), "--mask", "8,8,w32,h24"});
        ASSERT_EQ(segment.exitCode, 0) << segment.errorText;
        join.push_back(part);
    }
    const RunResult joined = RunQuillmere(join);
    ASSERT_EQ(joined.exitCode, 0) << joined.errorText;
    const std::string probe = scratch / "probe.txt";
    ASSERT_EQ(std::system(("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                           "stream=codec_name,nb_read_frames -of csv=p=0 " +
                           scratch / "joined.mp4" + " > " + probe)
                              .c_str()),
              0);
    EXPECT_EQ(ReadFile(probe), "h264,40\n");
    ASSERT_EQ(std::system(("ffprobe -v error -select_streams v:0 -show_entries packet=dts -of "
                           "csv=p=0 " + scratch / "joined.mp4" + " > " + probe)
                              .c_str()),
              0);
    std::istringstream times(ReadFile(probe));
    long long previous = LLONG_MIN;
    int packets = 0;
    for (long long time = 0; times >> time; ++packets) {
        EXPECT_GT(time, previous) << "packet " << packets;
        previous = time;
    }
    EXPECT_EQ(packets, 40);
    EXPECT_EQ(std::system(("ffmpeg -v error -xerror -i " + scratch / "joined.mp4" +
                           " -f null - 2> " + probe)
                              .c_str()),
              0);
    EXPECT_EQ(ReadFile(probe), "");
}

INSTANTIATE_TEST_SUITE_P(Segments, H264Join, testing::Values(".mp4", ".mkv"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param + 1);
                         });

// ---- join's refusals ----

// Parts forged from good ones: copies of their streams, times kept, with
// some of their tags changed by the ffmpeg program. Each keeps the job's
// fingerprint, so only what else it says can give it away.
struct Forgery {
    const char* name;
    const char* from;
    const char* changes;  // the ffmpeg program's options for the copy
};
const Forgery kForgeries[] = {
    // Segment 3 (frames 36-39) again, as a fifth segment after the main.
    {"extra", "part3",
     "-output_ts_offset 0.16 -metadata quillmere_segment=4 -metadata quillmere_segments=5 "
     "-metadata quillmere_first_frame=40 -metadata quillmere_last_frame=43"},
    {"other-main", "part2",
     "-metadata quillmere_main_identity="
     "0000000000000000000000000000000000000000000000000000000000000000"},
    // Segment 2 holds frames 24-35; segment 1 ends at 23, segment 3 starts at 36.
    {"gap", "part2", "-metadata quillmere_first_frame=25 -metadata quillmere_last_frame=36"},
    {"overlap", "part2", "-metadata quillmere_first_frame=23 -metadata quillmere_last_frame=34"},
    {"past-end", "part3", "-metadata quillmere_last_frame=40"},
    {"short-of-end", "part3", "-metadata quillmere_last_frame=38"},
    // The boundary between segments 2 and 3 moved: the ranges still tile
    // the main, and the parts hold one frame more and one less than theirs.
    {"narrow", "part2", "-metadata quillmere_last_frame=34"},
    {"wide", "part3", "-metadata quillmere_first_frame=35"},
};

struct Refusal {
    const char* name;
    // The files join gets: names in the folder of parts (.mkv), or MAIN.
    std::vector<std::string> parts;
    const char* says;  // a piece of the one line
};

class JoinRefuses : public testing::TestWithParam<Refusal> {
protected:
    static void SetUpTestSuite() {
        parts_ = new ScratchFolder;
        const std::vector<std::string> settings{"--overlay", ClipPath("clip.mkv"), "--mask",
                                                "8,8,w32,h24", "-q"};
        for (int index = 0; index < 4; ++index) {
            const RunResult made = RunQuillmere(Joined(
                {"render", ClipPath("main.mkv"), "--segment", std::to_string(index) + "/4",
                 "-o", *parts_ / ("part" + std::to_string(index) + ".mkv")},
                settings));
            ASSERT_EQ(made.exitCode, 0) << made.errorText;
        }
        // The same segment of a job with other settings.
        const RunResult other = RunQuillmere(Joined(
            {"render", ClipPath("main.mkv"), "--segment", "2/4", "-o", *parts_ / "other.mkv",
             "--border", "3"},
            settings));
        ASSERT_EQ(other.exitCode, 0) << other.errorText;
        // Segment 1 with its tags but five frames only, and segment 2
        // re-encoded with its tags.
        RunFfmpeg("-i " + *parts_ / "part1.mkv" + " -map 0 -c copy -frames:v 5 " + *parts_ /
                  "short.mkv");
        RunFfmpeg("-i " + *parts_ / "part2.mkv" + " -map 0 -c:v libx264 " + *parts_ /
                  "mixed.mkv");
        for (const Forgery& forgery : kForgeries) {
            RunFfmpeg("-i " + *parts_ / (std::string(forgery.from) + ".mkv") +
                      " -map 0 -c copy -copyts " + forgery.changes + " " +
                      *parts_ / (std::string(forgery.name) + ".mkv"));
        }
    }
    static void TearDownTestSuite() {
        delete parts_;
        parts_ = nullptr;
    }
    static ScratchFolder* parts_;
};
ScratchFolder* JoinRefuses::parts_ = nullptr;

TEST_P(JoinRefuses, WithOneLineAndNothingWritten) {
    const Refusal& test = GetParam();
    ScratchFolder out;
    std::vector<std::string> arguments{"join", "-o", out / "joined.mkv"};
    for (const std::string& part : test.parts) {
        arguments.push_back(part == "MAIN" ? ClipPath("main.mkv") : *parts_ / (part + ".mkv"));
    }
    const RunResult joined = RunQuillmere(arguments);
    EXPECT_EQ(joined.exitCode, 1);
    EXPECT_NE(joined.errorText.find(test.says), std::string::npos) << joined.errorText;
    EXPECT_EQ(std::count(joined.errorText.begin(), joined.errorText.end(), '\n'), 1)
        << joined.errorText;
    EXPECT_TRUE(out.Files().empty());
}

const std::vector<std::string> kWholeSet{"part0", "part1", "part2", "part3"};

// A parts folder also holds what people and schedulers put beside the
// segments: files named like no video are left out with a note, while a
// damaged file named like a segment still stops the join.
TEST_F(JoinRefuses, FolderLeavesOutFilesNamedLikeNoVideo) {
    ScratchFolder folder;
    for (const std::string& part : kWholeSet) {
        std::ifstream in(*parts_ / (part + ".mkv"), std::ios::binary);
        std::ofstream(folder / (part + ".mkv"), std::ios::binary) << in.rdbuf();
    }
    std::ofstream(folder / "README.txt") << "segments of the launch video\n";
    std::ofstream(folder / "manifest.json") << "{}\n";
    ScratchFolder out;
    const RunResult joined = RunQuillmere({"join", "--parts", folder.path(), "-o", out / "a.mkv"});
    EXPECT_EQ(joined.exitCode, 0) << joined.errorText;
    EXPECT_NE(joined.errorText.find("'README.txt'"), std::string::npos) << joined.errorText;
    EXPECT_NE(joined.errorText.find("joined 4 segments (40 frames)"), std::string::npos)
        << joined.errorText;

    std::ofstream(folder / "part4.mkv") << "the render of this part broke off\n";
    const RunResult refused =
        RunQuillmere({"join", "--parts", folder.path(), "-o", out / "b.mkv"});
    EXPECT_EQ(refused.exitCode, 1) << refused.errorText;
    EXPECT_NE(refused.errorText.find("part4.mkv"), std::string::npos) << refused.errorText;
}

// A usage error comes before any part is read: parts that are missing or
// no media at all do not stand in its way.
TEST(JoinPlansFirst, RefusesAnUnknownContainerWithoutReadingParts) {
    ScratchFolder out;
    std::ofstream(out / "notes.mkv") << "not a video\n";
    const RunResult joined =
        RunQuillmere({"join", "-o", out / "joined.xyz", out / "notes.mkv", out / "none.mkv"});
    EXPECT_EQ(joined.exitCode, 2);
    EXPECT_NE(joined.errorText.find("cannot tell the output format"), std::string::npos)
        << joined.errorText;
    EXPECT_EQ(out.Files(), std::vector<std::string>{"notes.mkv"});
}

INSTANTIATE_TEST_SUITE_P(
    Segments, JoinRefuses,
    testing::Values(
        Refusal{"Missing", {"part0", "part1", "part3"}, "segment 2 of 4 is missing"},
        Refusal{"MissingSeveral", {"part3"}, "segments 0, 1, 2 of 4 are missing"},
        Refusal{"Duplicate", Joined(kWholeSet, {"part2"}), "segment 2 is given twice"},
        Refusal{"OtherJob", {"part0", "part1", "other", "part3"}, "different jobs"},
        Refusal{"CutShort", {"part0", "short", "part2", "part3"}, "cut short"},
        Refusal{"MixedCodecs", {"part0", "part1", "mixed", "part3"}, "encoded unlike"},
        Refusal{"NotASegment", Joined(kWholeSet, {"MAIN"}), "no segment"},
        // The forged part is named, given last or first.
        Refusal{"ForgedExtraPart", Joined(kWholeSet, {"extra"}),
                "extra.mkv' says it is segment 4 of 5"},
        Refusal{"ForgedExtraPartFirst", Joined({"extra"}, kWholeSet),
                "extra.mkv' says it is segment 4 of 5"},
        Refusal{"OtherMain", {"part0", "part1", "other-main", "part3"},
                "different main videos"},
        Refusal{"Gap", {"part0", "part1", "gap", "part3"},
                "frame 24 of the main is in no segment"},
        Refusal{"Overlap", {"part0", "part1", "overlap", "part3"},
                "overlap.mkv' (segment 2 of 4) starts at frame 23, inside"},
        Refusal{"PastTheEnd", {"part0", "part1", "part2", "past-end"},
                "ends at frame 40, past the main's last frame, 39"},
        Refusal{"ShortOfTheEnd", {"part0", "part1", "part2", "short-of-end"},
                "frame 39 of the main is in no segment"},
        Refusal{"MoreFramesThanItsRange", {"part0", "part1", "narrow", "wide"},
                "holds 12 frames, more than the 11 of its range"}),
    [](const testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

}  // namespace
