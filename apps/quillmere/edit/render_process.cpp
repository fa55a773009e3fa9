#include "apps/quillmere/edit/render_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "apps/quillmere/runner_error.h"

extern char** environ;

namespace {

// Progress blocks this often: the page's bar moves smoothly.
constexpr const char* kProgressPeriod = "0.25";
// How long a cancelled render may take to stop before it is told again,
// which makes it remove its part file and leave at once.
constexpr auto kStopGrace = std::chrono::seconds(3);
constexpr int kPollMilliseconds = 100;
constexpr std::size_t kReadChunk = 4096;
constexpr const char* kMessagePrefix = "quillmere: ";

void ClosePipe(int (&ends)[2]) {
    for (int& end : ends) {
        if (end >= 0) {
            close(end);
            end = -1;
        }
    }
}

}  // namespace

RenderProcess::RenderProcess(std::string program) : program_(std::move(program)) {}

RenderProcess::~RenderProcess() {
    Cancel();
    if (watcher_.joinable()) {
        watcher_.join();
    }
}

void RenderProcess::Start(const std::vector<std::string>& arguments) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (status_.state == RenderStatus::State::Running) {
        throw RunnerError("a render is running already");
    }
    if (watcher_.joinable()) {
        watcher_.join();
    }
    std::vector<std::string> words = {program_};
    words.insert(words.end(), arguments.begin(), arguments.end());
    words.insert(words.end(), {"--progress", "-", "--stats-period", kProgressPeriod});
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    int progress[2] = {-1, -1};
    int errors[2] = {-1, -1};
    if (pipe2(progress, O_CLOEXEC) != 0 || pipe2(errors, O_CLOEXEC) != 0) {
        const int error = errno;
        ClosePipe(progress);
        ClosePipe(errors);
        throw RunnerError(std::string("cannot start the render: ") + std::strerror(error));
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // No terminal to ask on: -y or -n always decides.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, progress[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errors[1], STDERR_FILENO);
    pid_t child = -1;
    const int error = posix_spawn(&child, program_.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(progress[1]);
    close(errors[1]);
    if (error != 0) {
        close(progress[0]);
        close(errors[0]);
        throw RunnerError(std::string("cannot start the render: ") + std::strerror(error));
    }
    child_ = child;
    status_ = RenderStatus{};
    status_.state = RenderStatus::State::Running;
    block_ = RenderStatus{};
    lastError_.clear();
    cancelled_ = false;
    secondSignalSent_ = false;
    watcher_ = std::thread([this, out = progress[0], err = errors[0]] { Watch(out, err); });
}

RenderStatus RenderProcess::status() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

void RenderProcess::Cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (status_.state != RenderStatus::State::Running || cancelled_) {
        return;
    }
    cancelled_ = true;
    cancelledAt_ = std::chrono::steady_clock::now();
    kill(child_, SIGTERM);
}

// The blocks are key=value lines, each block closed by a progress= line.
void RenderProcess::TakeProgressLine(const std::string& line) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) {
        return;
    }
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "frame") {
        block_.frames = std::strtoll(value.c_str(), nullptr, 10);
    } else if (key == "fps") {
        block_.fps = std::strtod(value.c_str(), nullptr);
    } else if (key == "speed") {
        block_.speed = std::strtod(value.c_str(), nullptr);  // "1.25x"
    } else if (key == "progress") {
        std::lock_guard<std::mutex> lock(mutex_);
        status_.frames = block_.frames;
        status_.fps = block_.fps;
        status_.speed = block_.speed;
    }
}

void RenderProcess::Watch(int progress, int errors) {
    std::string pending[2];
    pollfd watched[2] = {{progress, POLLIN, 0}, {errors, POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (poll(watched, 2, kPollMilliseconds) < 0 && errno != EINTR) {
            break;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (cancelled_ && !secondSignalSent_ &&
                std::chrono::steady_clock::now() - cancelledAt_ > kStopGrace) {
                kill(child_, SIGTERM);
                secondSignalSent_ = true;
            }
        }
        for (int index = 0; index < 2; ++index) {
            if (watched[index].fd < 0 || watched[index].revents == 0) {
                continue;
            }
            char chunk[kReadChunk];
            const ssize_t got = read(watched[index].fd, chunk, sizeof chunk);
            if (got <= 0) {
                if (got < 0 && errno == EINTR) {
                    continue;
                }
                close(watched[index].fd);
                watched[index].fd = -1;
                --open;
                continue;
            }
            pending[index].append(chunk, static_cast<std::size_t>(got));
            std::size_t newline;
            while ((newline = pending[index].find('\n')) != std::string::npos) {
                std::string line = pending[index].substr(0, newline);
                pending[index].erase(0, newline + 1);
                if (index == 0) {
                    TakeProgressLine(line);
                } else if (!line.empty()) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    lastError_ = line.rfind(kMessagePrefix, 0) == 0
                                     ? line.substr(std::strlen(kMessagePrefix))
                                     : line;
                }
            }
        }
    }
    int waitStatus = 0;
    while (waitpid(child_, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    Finish(waitStatus);
}

void RenderProcess::Finish(int waitStatus) {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool succeeded = WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0;
    if (succeeded) {
        status_.state = RenderStatus::State::Done;
        status_.message = lastError_.empty() ? "done" : lastError_;
    } else if (cancelled_) {
        status_.state = RenderStatus::State::Cancelled;
        status_.message = "cancelled; nothing was written";
    } else {
        status_.state = RenderStatus::State::Failed;
        status_.message = lastError_.empty() ? "the render failed" : lastError_;
    }
    child_ = -1;
}
