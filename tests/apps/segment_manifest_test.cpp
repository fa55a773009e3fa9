// Segments manifests (segments MAIN N --manifest FILE): a render given one
// that does not fit its main, count or format refuses it in one line with
// exit status 2 and writes nothing; one that fits lets a segment read about
// its own share of the main instead of all of it.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/apps/runner_harness.h"

namespace {

using nlohmann::json;

constexpr int kCount = 4;

std::string ReadText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::trunc) << text;
}

std::vector<std::string> Joined(std::vector<std::string> first,
                                const std::vector<std::string>& more) {
    first.insert(first.end(), more.begin(), more.end());
    return first;
}

// A key frame every 8 of 40 frames.
void WriteMain(const std::string& path) {
    RunFfmpeg("-f lavfi -i testsrc2=size=64x48:rate=25 -t 1.6 -c:v libx264 -g 8 "
              "-pix_fmt yuv420p -y " + path);
}

// What a case does to the main or the manifest after `segments` wrote it
// for kCount segments of main.mkv; it gives the main the render reads.
struct Spoiling {
    const char* name;
    std::function<std::string(const ScratchFolder&)> spoil;
    const char* segment;  // --segment's value
    const char* says;     // a piece of the one line
};

std::string EditManifest(const ScratchFolder& folder, const std::function<void(json&)>& edit) {
    json document = json::parse(ReadText(folder / "manifest.json"));
    edit(document);
    WriteText(folder / "manifest.json", document.dump());
    return folder / "main.mkv";
}

std::string Untouched(const ScratchFolder& folder) { return folder / "main.mkv"; }

const Spoiling kSpoilings[] = {
    {"OtherCount", Untouched, "1/3", "cuts the main into 4 segments, not 3"},
    // Written again in place: the same name, another size.
    {"ChangedMain",
     [](const ScratchFolder& folder) {
         RunFfmpeg("-f lavfi -i testsrc2=size=64x48:rate=25 -t 1 -c:v ffv1 -y " +
                   folder / "main.mkv");
         return folder / "main.mkv";
     },
     "1/4", "has changed since the manifest"},
    {"OtherMain",
     [](const ScratchFolder& folder) {
         WriteMain(folder / "other.mkv");
         return folder / "other.mkv";
     },
     "1/4", "is of another main video"},
    {"OtherVersion",
     [](const ScratchFolder& folder) {
         return EditManifest(folder, [](json& document) { document["version"] = 2; });
     },
     "1/4", "of format 2"},
    {"Garbage",
     [](const ScratchFolder& folder) {
         WriteText(folder / "manifest.json", "{\"kind\": [1, 2");
         return folder / "main.mkv";
     },
     "1/4", "is not a segments manifest"},
    {"NoManifest",
     [](const ScratchFolder& folder) {
         std::remove((folder / "manifest.json").c_str());
         return folder / "main.mkv";
     },
     "1/4", "cannot read the manifest"},
    // A key frame moved: the frame list no longer gives the identity.
    {"ForgedKeyFrames",
     [](const ScratchFolder& folder) {
         return EditManifest(folder, [](json& document) {
             json& key = document["main"]["key_frames"][1][0];
             key = key.get<int>() + 1;
         });
     },
     "1/4", "is damaged"},
    {"MovedCut",
     [](const ScratchFolder& folder) {
         return EditManifest(folder, [](json& document) {
             document["segments"]["frames"][0][1] = 3;
             document["segments"]["frames"][1][0] = 4;
         });
     },
     "1/4", "its cuts are not those"},
    {"FieldMissing",
     [](const ScratchFolder& folder) {
         return EditManifest(folder,
                             [](json& document) { document["main"].erase("frame_times"); });
     },
     "1/4", "a field is missing"},
};

class ManifestRefused : public testing::TestWithParam<Spoiling> {};

TEST_P(ManifestRefused, InOneLineWithNothingWritten) {
    const Spoiling& test = GetParam();
    ScratchFolder folder;
    WriteMain(folder / "main.mkv");
    const RunResult written = RunQuillmere({"segments", folder / "main.mkv",
                                            std::to_string(kCount), "--manifest",
                                            folder / "manifest.json"});
    ASSERT_EQ(written.exitCode, 0) << written.errorText;
    const std::string main = test.spoil(folder);
    const std::vector<std::string> before = folder.Files();
    const RunResult render =
        RunQuillmere({"render", main, "--segment", test.segment, "--manifest",
                      folder / "manifest.json", "--mask", "4,4,w20,h14", "-o",
                      folder / "part.mkv"});
    EXPECT_EQ(render.exitCode, 2);
    EXPECT_NE(render.errorText.find(test.says), std::string::npos) << render.errorText;
    EXPECT_EQ(std::count(render.errorText.begin(), render.errorText.end(), '\n'), 1)
        << render.errorText;
    EXPECT_EQ(folder.Files(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Segments, ManifestRefused, testing::ValuesIn(kSpoilings),
    [](const testing::TestParamInfo<Spoiling>& info) { return std::string(info.param.name); });

// Join takes the main's scan from a manifest only when it is the scan of
// the main the segments were cut from.
TEST(ManifestJoin, RefusesTheManifestOfAnotherMain) {
    ScratchFolder folder;
    WriteMain(folder / "main.mkv");
    RunFfmpeg("-f lavfi -i testsrc2=size=64x48:rate=25 -t 1.2 -c:v libx264 -g 8 "
              "-pix_fmt yuv420p " + folder / "other.mkv");
    const RunResult written = RunQuillmere(
        {"segments", folder / "other.mkv", "1", "--manifest", folder / "manifest.json"});
    ASSERT_EQ(written.exitCode, 0) << written.errorText;
    const RunResult part = RunQuillmere({"render", folder / "main.mkv", "--segment", "0/1",
                                         "--mask", "4,4,w20,h14", "-q", "-o",
                                         folder / "part.mkv"});
    ASSERT_EQ(part.exitCode, 0) << part.errorText;
    const RunResult joined =
        RunQuillmere({"join", folder / "part.mkv", "--main", folder / "other.mkv", "--manifest",
                      folder / "manifest.json", "-o", folder / "joined.mkv"});
    EXPECT_EQ(joined.exitCode, 2);
    EXPECT_NE(joined.errorText.find("of another main video than the segments"),
              std::string::npos)
        << joined.errorText;
    EXPECT_FALSE(std::ifstream(folder / "joined.mkv").good());
}

// The bytes a run of the program read (rchar: every read, cached or not),
// taken from its /proc entry before it is reaped.
std::int64_t BytesReadBy(const std::vector<std::string>& arguments) {
    const pid_t child = StartQuillmere(arguments);
    siginfo_t info{};
    if (child < 0 || waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT) != 0) {
        return -1;
    }
    std::int64_t read = -1;
    std::istringstream io(ReadText("/proc/" + std::to_string(child) + "/io"));
    std::string field;
    std::int64_t value = 0;
    while (io >> field >> value) {
        if (field == "rchar:") {
            read = value;
        }
    }
    return WaitForExit(child) == 0 ? read : -1;
}

// A main large enough that the program's own start (its libraries, the
// container's index) reads little beside it, with a key frame every 10 of
// its 100 frames; a segment of 8 reads its share, one without the manifest reads
// the whole main to number its frames.
TEST(ManifestSegment, ReadsAboutItsShareOfTheMain) {
    constexpr int kSegments = 8;
    ScratchFolder folder;
    const std::string main = folder / "main.mkv";
    // Noise, losslessly: large frames for their size.
    RunFfmpeg("-f lavfi -i testsrc2=size=320x240:rate=25,noise=alls=60:allf=t -t 4 "
              "-c:v libx264 -preset ultrafast -qp 0 -g 10 -pix_fmt yuv420p " + main);
    const RunResult written =
        RunQuillmere({"segments", main, std::to_string(kSegments), "--manifest",
                      folder / "manifest.json"});
    ASSERT_EQ(written.exitCode, 0) << written.errorText;
    std::ifstream file(main, std::ios::binary | std::ios::ate);
    const auto size = static_cast<double>(file.tellg());
    const std::vector<std::string> render{"render", main, "--segment", "3/8", "--mask",
                                          "4,4,w20,h14", "-q", "-y", "-o"};
    const std::int64_t withManifest = BytesReadBy(
        Joined(render, {folder / "with.mkv", "--manifest", folder / "manifest.json"}));
    const std::int64_t without = BytesReadBy(Joined(render, {folder / "without.mkv"}));
    ASSERT_GT(withManifest, 0);
    EXPECT_LT(static_cast<double>(withManifest), size * (1.0 / kSegments + 0.25))
        << withManifest << " bytes read of " << size;
    EXPECT_GT(static_cast<double>(without), size) << without << " bytes read of " << size;
}

}  // namespace
