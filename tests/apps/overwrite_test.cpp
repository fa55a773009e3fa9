// Replacing an existing output: asked on a terminal (a pseudo-terminal
// here), refused elsewhere unless -y, never with -n.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "apps/quillmere/run/pending_output.h"
#include "apps/quillmere/runner_error.h"
#include "tests/apps/runner_harness.h"

namespace {

constexpr const char* kQuestion = "Overwrite? [y/N] ";
constexpr const char* kEarlierContent = "an earlier render";

// Runs the program with a pseudo-terminal as its standard input, output and
// error, answering `answer` when it asks. Returns the exit code and
// everything the terminal showed.
RunResult RunOnTerminal(const std::vector<std::string>& arguments, const std::string& answer) {
    std::vector<std::string> words = {QUILLMERE_PROGRAM};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    RunResult result;
    int terminal = -1;
    const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child < 0) {
        return result;
    }
    if (child == 0) {
        execv(QUILLMERE_PROGRAM, argv.data());
        _exit(127);
    }
    // The bound on each wait only keeps a stuck run from hanging the test.
    constexpr int kPollMilliseconds = 120000;
    bool answered = false;
    for (;;) {
        pollfd ready{terminal, POLLIN, 0};
        if (poll(&ready, 1, kPollMilliseconds) <= 0) {
            kill(child, SIGKILL);
            break;
        }
        char buffer[512];
        const ssize_t count = read(terminal, buffer, sizeof buffer);
        if (count <= 0) {
            break;  // EIO: the program has closed its side
        }
        result.errorText.append(buffer, static_cast<std::size_t>(count));
        if (!answered && result.errorText.find(kQuestion) != std::string::npos) {
            const std::string line = answer + "\n";
            answered = write(terminal, line.data(), line.size()) ==
                       static_cast<ssize_t>(line.size());
        }
    }
    close(terminal);
    result.exitCode = WaitForExit(child);
    return result;
}

std::string Content(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

enum class Outcome { Written, Kept };

struct OverwriteCase {
    const char* name;
    const char* command;  // render or frame
    bool terminal;
    const char* flag;     // "-y", "-n" or ""
    bool exists;
    const char* answer;   // typed at the question
    int exitCode;
    Outcome outcome;
    bool asked;
    const char* message;  // part of what the run shows
};

void PrintTo(const OverwriteCase& test, std::ostream* out) { *out << test.name; }

class Overwrite : public testing::TestWithParam<OverwriteCase> {
protected:
    static void SetUpTestSuite() { TestClips(); }
    ScratchFolder out_;
};

TEST_P(Overwrite, FollowsTheFlagsAndTheAnswer) {
    const OverwriteCase& test = GetParam();
    const bool frame = std::string(test.command) == "frame";
    const std::string name = frame ? "out.png" : "out.mkv";
    const std::string output = out_ / name;
    if (test.exists) {
        std::ofstream(output) << kEarlierContent;
    }
    std::vector<std::string> arguments = {test.command, Clip("main.mkv"), "-o", output,
                                          "--mask", "2,2,w20,h20", "--quiet"};
    if (frame) {
        arguments.insert(arguments.end(), {"--at", "3"});
    }
    if (*test.flag != '\0') {
        arguments.push_back(test.flag);
    }
    const RunResult run =
        test.terminal ? RunOnTerminal(arguments, test.answer) : RunQuillmere(arguments);

    EXPECT_EQ(run.exitCode, test.exitCode) << run.errorText;
    EXPECT_EQ(run.errorText.find(kQuestion) != std::string::npos, test.asked) << run.errorText;
    EXPECT_NE(run.errorText.find(test.message), std::string::npos) << run.errorText;
    if (test.outcome == Outcome::Kept) {
        EXPECT_EQ(Content(output), kEarlierContent);
    } else {
        EXPECT_EQ(DecodeAll(output).size(), frame ? 1u : static_cast<std::size_t>(kMainFrames));
    }
    EXPECT_EQ(out_.Files(), std::vector<std::string>{name}) << "a part file was left";
}

constexpr bool kTerminal = true;
constexpr bool kNoTerminal = false;
constexpr bool kExists = true;
constexpr bool kAbsent = false;
constexpr bool kAsked = true;
constexpr bool kNotAsked = false;

INSTANTIATE_TEST_SUITE_P(
    Matrix, Overwrite,
    testing::Values(
        OverwriteCase{"TerminalExistingAnsweredY", "render", kTerminal, "", kExists, "y", 0,
                      Outcome::Written, kAsked, ""},
        OverwriteCase{"TerminalExistingAnsweredYes", "render", kTerminal, "", kExists, "Yes", 0,
                      Outcome::Written, kAsked, ""},
        OverwriteCase{"TerminalExistingAnsweredN", "render", kTerminal, "", kExists, "n", 1,
                      Outcome::Kept, kAsked, "not overwritten"},
        OverwriteCase{"TerminalExistingJustEnter", "render", kTerminal, "", kExists, "", 1,
                      Outcome::Kept, kAsked, "not overwritten"},
        OverwriteCase{"TerminalExistingY", "render", kTerminal, "-y", kExists, "", 0,
                      Outcome::Written, kNotAsked, ""},
        OverwriteCase{"TerminalExistingN", "render", kTerminal, "-n", kExists, "", 1,
                      Outcome::Kept, kNotAsked, "not overwritten (-n)"},
        OverwriteCase{"TerminalAbsent", "render", kTerminal, "", kAbsent, "", 0,
                      Outcome::Written, kNotAsked, ""},
        OverwriteCase{"TerminalAbsentN", "render", kTerminal, "-n", kAbsent, "", 0,
                      Outcome::Written, kNotAsked, ""},
        OverwriteCase{"NoTerminalExisting", "render", kNoTerminal, "", kExists, "", 1,
                      Outcome::Kept, kNotAsked, "add -y to overwrite it"},
        OverwriteCase{"NoTerminalExistingY", "render", kNoTerminal, "-y", kExists, "", 0,
                      Outcome::Written, kNotAsked, ""},
        OverwriteCase{"NoTerminalExistingN", "render", kNoTerminal, "-n", kExists, "", 1,
                      Outcome::Kept, kNotAsked, "not overwritten (-n)"},
        OverwriteCase{"NoTerminalAbsent", "render", kNoTerminal, "", kAbsent, "", 0,
                      Outcome::Written, kNotAsked, ""},
        OverwriteCase{"NoTerminalAbsentY", "render", kNoTerminal, "-y", kAbsent, "", 0,
                      Outcome::Written, kNotAsked, ""},
        OverwriteCase{"FrameTerminalExistingAnsweredY", "frame", kTerminal, "", kExists, "y", 0,
                      Outcome::Written, kAsked, ""},
        OverwriteCase{"FrameNoTerminalExisting", "frame", kNoTerminal, "", kExists, "", 1,
                      Outcome::Kept, kNotAsked, "add -y"},
        OverwriteCase{"FrameNoTerminalExistingY", "frame", kNoTerminal, "-y", kExists, "", 0,
                      Outcome::Written, kNotAsked, ""}),
    [](const testing::TestParamInfo<OverwriteCase>& info) { return info.param.name; });

// Without leave to replace, a file that turns up under the output's name
// while the run writes stays, and the run's data goes with its part file.
TEST(PendingOutputCommit, KeepsAFileThatTurnedUpMeanwhile) {
    ScratchFolder folder;
    const std::string path = folder / "out.mkv";
    {
        PendingOutput pending(path);
        std::ofstream(pending.writePath()) << "the run's data";
        std::ofstream(path) << kEarlierContent;
        EXPECT_THROW(pending.Commit(false), RunnerError);
    }
    EXPECT_EQ(Content(path), kEarlierContent);
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"out.mkv"});
}

TEST(PendingOutputCommit, ReplacesWithLeave) {
    ScratchFolder folder;
    const std::string path = folder / "out.mkv";
    std::ofstream(path) << kEarlierContent;
    {
        PendingOutput pending(path);
        std::ofstream(pending.writePath()) << "the run's data";
        pending.Commit(true);
    }
    EXPECT_EQ(Content(path), "the run's data");
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"out.mkv"});
}

}  // namespace
