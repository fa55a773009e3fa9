// Progress as whole runs show it: the key=value blocks of --progress, the
// plain lines of a run whose stderr is no terminal, the closing summary.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/apps/runner_harness.h"

namespace {

// A main clip big and long enough that encoding it into H.264 spans several
// progress periods of a tenth of a second.
constexpr int kSlowWidth = 480;
constexpr int kSlowHeight = 360;
constexpr std::int64_t kSlowFrames = 250;
constexpr double kFrameRate = 25.0;
constexpr const char* kShortPeriod = "0.1";

class ProgressRun : public testing::Test {
protected:
    static void SetUpTestSuite() { TestClips(); }

    ScratchFolder out_;
};

using Block = std::map<std::string, std::string>;

// Splits key=value lines into blocks, each ended by its progress= line.
std::vector<Block> ParseBlocks(const std::string& text, std::string& leftover) {
    std::vector<Block> blocks;
    Block current;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            leftover += line + "\n";
            continue;
        }
        current[line.substr(0, equals)] = line.substr(equals + 1);
        if (line.compare(0, equals, "progress") == 0) {
            blocks.push_back(current);
            current.clear();
        }
    }
    for (const auto& [key, value] : current) {
        leftover += key + "=" + value + "\n";
    }
    return blocks;
}

// Checks the blocks of a whole run: every key, frames never going back,
// the video time following the frame count, one progress=end, last.
void CheckBlocks(const std::vector<Block>& blocks, std::int64_t frames) {
    ASSERT_FALSE(blocks.empty());
    long long previous = -1;
    for (std::size_t index = 0; index < blocks.size(); ++index) {
        const Block& block = blocks[index];
        for (const char* key : {"frame", "fps", "out_time_us", "out_time", "speed", "progress"}) {
            EXPECT_EQ(block.count(key), 1u) << "block " << index << " lacks " << key;
        }
        const long long frame = std::stoll(block.at("frame"));
        EXPECT_GE(frame, previous) << "block " << index;
        previous = frame;
        EXPECT_EQ(std::stoll(block.at("out_time_us")),
                  std::llround(static_cast<double>(frame) * 1e6 / kFrameRate))
            << "block " << index;
        const bool last = index + 1 == blocks.size();
        EXPECT_EQ(block.at("progress"), last ? "end" : "continue") << "block " << index;
    }
    EXPECT_EQ(std::stoll(blocks.back().at("frame")), frames);
}

TEST_F(ProgressRun, BlocksOnStandardOutputWithTheDefaultPeriod) {
    const RunResult run =
        RunQuillmere({"render", Clip("main.mkv"), "-o", out_ / "out.mkv", "--progress", "-"});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    std::string leftover;
    CheckBlocks(ParseBlocks(run.outputText, leftover), kMainFrames);
    EXPECT_EQ(leftover, "");
}

// One slow render (each test runs in a process of its own) shows progress
// on both channels: blocks into the --progress file, and on stderr, which
// is no terminal here, plain lines and the closing summary.
TEST_F(ProgressRun, ASlowRenderReportsBlocksToAFileAndPlainLinesToStderr) {
    WriteSyntheticClip(out_ / "rgb.nut", kSlowWidth, kSlowHeight, kSlowFrames,
                       ClipPattern::Landscape);
    // In 4:2:0, which H.264 takes as it is: stderr holds progress alone.
    RunFfmpeg("-i '" + out_ / "rgb.nut" + "' -pix_fmt yuv420p -c:v ffv1 '" + out_ / "slow.nut" +
              "'");
    const std::string report = out_ / "progress.txt";
    const RunResult run = RunQuillmere({"render", out_ / "slow.nut", "-o", out_ / "out.mp4",
                                        "--mask", "10,10,w200,h150", "--border", "2",
                                        "--stats-period", kShortPeriod, "--progress", report});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;

    std::ifstream file(report);
    std::ostringstream text;
    text << file.rdbuf();
    std::string leftover;
    const std::vector<Block> blocks = ParseBlocks(text.str(), leftover);
    EXPECT_EQ(leftover, "");
    CheckBlocks(blocks, kSlowFrames);
    EXPECT_GT(blocks.size(), 1u) << "a run of several periods gave only the last block";

    EXPECT_EQ(run.errorText.find('\r'), std::string::npos) << "terminal redraws in a log";
    EXPECT_EQ(run.errorText.find('\033'), std::string::npos) << "terminal codes in a log";

    const std::regex plain(
        R"(quillmere: frame (\d+)/\d+ \(\d+%\)  [0-9.]+ fps  time (\d\d):(\d\d):(\d\d)\.(\d\d)  speed [0-9.]+x)");
    const std::regex summary(
        R"(quillmere: done: 250 frames \(00:00:10\.00 of video\) in [0-9.]+ s, [0-9.]+ fps, [0-9.]+x; .*out\.mp4, [0-9.]+ (B|KiB|MiB))");
    std::vector<std::string> lines;
    std::istringstream stderrLines(run.errorText);
    for (std::string line; std::getline(stderrLines, line);) {
        lines.push_back(line);
    }
    ASSERT_GE(lines.size(), 2u) << run.errorText;
    EXPECT_TRUE(std::regex_match(lines.back(), summary)) << lines.back();
    long long previous = -1;
    for (std::size_t index = 0; index + 1 < lines.size(); ++index) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[index], match, plain)) << lines[index];
        const long long frame = std::stoll(match[1]);
        EXPECT_GE(frame, previous);
        previous = frame;
        // The time shown is the frame count at 25 frames per second.
        const long long hundredths = std::stoll(match[2]) * 360000 + std::stoll(match[3]) * 6000 +
                                     std::stoll(match[4]) * 100 + std::stoll(match[5]);
        EXPECT_EQ(hundredths, frame * 4) << lines[index];
    }
}

// Quiet with a report file: the blocks go to the file, nothing elsewhere.
TEST_F(ProgressRun, QuietShowsNothing) {
    const std::string report = out_ / "progress.txt";
    const RunResult run = RunQuillmere(
        {"render", Clip("main.mkv"), "-o", out_ / "out.mkv", "-q", "--progress", report});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    EXPECT_EQ(run.errorText, "");
    EXPECT_EQ(run.outputText, "");
    std::ifstream file(report);
    std::ostringstream text;
    text << file.rdbuf();
    std::string leftover;
    CheckBlocks(ParseBlocks(text.str(), leftover), kMainFrames);
}

TEST_F(ProgressRun, FrameEndsWithASummary) {
    const RunResult run =
        RunQuillmere({"frame", Clip("main.mkv"), "--at", "4", "-o", out_ / "still.png"});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    EXPECT_TRUE(std::regex_match(
        run.errorText,
        std::regex(R"(quillmere: done: frame 4 in [0-9.]+ s; .*still\.png, [0-9.]+ (B|KiB)\n)")))
        << run.errorText;
}

}  // namespace
