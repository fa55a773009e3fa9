// Damaged media through the runner: clips made here (AVI, MP4, MKV and a
// JPEG picture) cut short, with bits flipped or with header fields set to
// extreme values, from fixed seeds, used as the main video and as the
// overlay. Whatever the damage, the runner either succeeds or fails with
// exit status 1 and one line on stderr, leaves no file behind when it fails,
// never dies of a signal and stays within a memory bound.
//
// QUILLMERE_MUTATION_SEEDS sets the seeds per clip, damage and role (default
// 12, 288 runs); with QUILLMERE_MUTATION_REPORT naming a file, each run adds
// a line "case exit-status peak-KiB" to it. scripts/mutated-media.sh runs many
// more and sums them up.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/apps/damaged_clips.h"
#include "tests/apps/runner_harness.h"

namespace {

constexpr int kDefaultSeeds = 12;
// Far above what these small clips need (about 40 MB), far below what a
// header believed blindly would take.
constexpr long kMemoryBoundKiB = 400 * 1024;

struct ClipKind {
    const char* name;
    const char* file;
    const char* ffmpegOutput;  // how the ffmpeg program makes it
};

const ClipKind kClips[] = {
    {"Avi", "clip.avi", "-frames:v 8 -c:v mjpeg"},
    {"Mp4", "clip.mp4", "-frames:v 8 -c:v mpeg4 -g 4"},
    {"Mkv", "clip.mkv", "-frames:v 8 -c:v ffv1"},
    {"Jpeg", "clip.jpg", "-frames:v 1 -c:v mjpeg -update 1"},
};

enum class Role { Main, Overlay };

struct MutationCase {
    const ClipKind* clip;
    Damage damage;
    Role role;
    std::uint32_t seed;
};

std::string CaseName(const testing::TestParamInfo<MutationCase>& info) {
    const MutationCase& c = info.param;
    return std::string(c.clip->name) + "_" + DamageName(c.damage) + "_" +
           (c.role == Role::Main ? "Main" : "Overlay") + "_Seed" + std::to_string(c.seed);
}

int SeedsPerCase() {
    const char* value = std::getenv("QUILLMERE_MUTATION_SEEDS");
    const int seeds = value != nullptr ? std::atoi(value) : kDefaultSeeds;
    return seeds > 0 ? seeds : kDefaultSeeds;
}

std::vector<MutationCase> AllCases() {
    std::vector<MutationCase> cases;
    const int seeds = SeedsPerCase();
    for (const ClipKind& clip : kClips) {
        for (const Damage damage : kDamages) {
            for (const Role role : {Role::Main, Role::Overlay}) {
                for (int seed = 0; seed < seeds; ++seed) {
                    cases.push_back({&clip, damage, role, static_cast<std::uint32_t>(seed)});
                }
            }
        }
    }
    return cases;
}

class MutatedMedia : public testing::TestWithParam<MutationCase> {
protected:
    static const ScratchFolder& Clips() {
        static const ScratchFolder folder;
        static const bool made = [] {
            for (const ClipKind& clip : kClips) {
                RunFfmpeg("-f lavfi -i testsrc2=size=48x32:rate=25 " +
                          std::string(clip.ffmpegOutput) + " '" + folder / clip.file + "'");
            }
            return true;
        }();
        (void)made;
        return folder;
    }
    static void SetUpTestSuite() {
        TestClips();
        Clips();
    }

    ScratchFolder work_;
    ScratchFolder out_;
};

TEST_P(MutatedMedia, FailsCleanlyOrSucceedsWithinTheMemoryBound) {
    const MutationCase& c = GetParam();
    const std::vector<std::uint8_t> original = ReadFileBytes(Clips() / c.clip->file);
    // Each seed damages the clip differently for each clip and damage kind.
    const std::uint32_t seed = c.seed * 7919u + static_cast<std::uint32_t>(c.damage) * 104729u +
                               static_cast<std::uint32_t>(c.clip - kClips) * 15485863u;
    const std::string damaged = work_ / c.clip->file;
    WriteFileBytes(damaged, Damaged(original, c.damage, seed));

    std::vector<std::string> arguments;
    if (c.role == Role::Main) {
        arguments = {"render", damaged, "-o", out_ / "out.mkv", "-q", "--mask", "4,4,w20,h12"};
    } else {
        arguments = {"render", Clip("main.mkv"), "-o", out_ / "out.mkv", "-q", "--fit",
                     "--overlay", damaged, "--mask", "10,10,w40,h30"};
    }
    const RunResult run = RunQuillmere(arguments);
    if (const char* report = std::getenv("QUILLMERE_MUTATION_REPORT")) {
        std::ofstream(report, std::ios::app)
            << testing::UnitTest::GetInstance()->current_test_info()->name() << " "
            << run.exitCode << " " << run.peakMemoryKiB << "\n";
    }
    const long lines = std::count(run.errorText.begin(), run.errorText.end(), '\n');
    ASSERT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.exitCode << " " << run.errorText;
    EXPECT_LT(run.peakMemoryKiB, kMemoryBoundKiB);
    if (run.exitCode == 1) {
        EXPECT_EQ(lines, 1) << run.errorText;
        EXPECT_EQ(run.errorText.rfind("quillmere: ", 0), 0u) << run.errorText;
        EXPECT_TRUE(out_.Files().empty());
    } else {
        // At most the closing line about overlay frames that did not decode.
        EXPECT_LE(lines, 1) << run.errorText;
        EXPECT_EQ(out_.Files(), std::vector<std::string>{"out.mkv"});
    }
}

INSTANTIATE_TEST_SUITE_P(Clips, MutatedMedia, testing::ValuesIn(AllCases()), CaseName);

}  // namespace
