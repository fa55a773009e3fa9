#include "apps/quillmere/edit/render_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <future>

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

// A started child, or why it could not start (an errno value).
struct Launched {
    pid_t child = -1;
    int error = 0;
};

// Puts `from` at `to` for the exec'd program; dup2 would leave a descriptor
// already in place marked close-on-exec.
bool PlaceDescriptor(int from, int to) {
    if (from == to) {
        return fcntl(to, F_SETFD, 0) == 0;
    }
    return dup2(from, to) == to;
}

// Runs `words` with stdin from /dev/null and stdout and stderr into the two
// pipes. The child is sent SIGTERM when the forking thread ends, so that a
// parent killed outright takes its render with it: SIGTERM is the render's
// own cancel, which leaves nothing under the output's name.
Launched Launch(std::vector<std::string>& words, int progress, int errors) {
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    // Reports a failed exec to the parent; closed by a successful one.
    int status[2] = {-1, -1};
    if (pipe2(status, O_CLOEXEC) != 0) {
        return Launched{-1, errno};
    }
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) {
        // Only calls safe between fork and exec in a threaded process.
        int error = 0;
        if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) {
            error = errno;
        } else if (getppid() != parent) {
            // The parent died before the signal was asked for.
            _exit(kExitSignalBase + SIGTERM);
        }
        // A mask inherited from the server's threads must not keep the
        // render from hearing its cancel.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        // No terminal to ask on: -y or -n always decides.
        const int input = error == 0 ? open("/dev/null", O_RDONLY | O_CLOEXEC) : -1;
        if (error == 0 && input < 0) {
            error = errno;
        }
        if (error == 0 && (!PlaceDescriptor(input, STDIN_FILENO) ||
                           !PlaceDescriptor(progress, STDOUT_FILENO) ||
                           !PlaceDescriptor(errors, STDERR_FILENO))) {
            error = errno;
        }
        if (error == 0) {
            execve(argv[0], argv.data(), environ);
            error = errno;
        }
        while (write(status[1], &error, sizeof error) < 0 && errno == EINTR) {
        }
        _exit(kExitFailure);
    }
    const int forkError = child < 0 ? errno : 0;
    close(status[1]);
    int execError = 0;
    ssize_t got = 0;
    while ((got = read(status[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
    }
    close(status[0]);
    if (forkError != 0) {
        return Launched{-1, forkError};
    }
    if (got == static_cast<ssize_t>(sizeof execError)) {
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
        return Launched{-1, execError};
    }
    return Launched{child, 0};
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

    int progress[2] = {-1, -1};
    int errors[2] = {-1, -1};
    if (pipe2(progress, O_CLOEXEC) != 0 || pipe2(errors, O_CLOEXEC) != 0) {
        const int error = errno;
        ClosePipe(progress);
        ClosePipe(errors);
        throw RunnerError(std::string("cannot start the render: ") + std::strerror(error));
    }
    // The child is started by the thread that waits for it: the kernel ties
    // the child's parent-death signal to the thread that forked it, and this
    // one lives as long as the child unless the whole process dies.
    std::promise<Launched> started;
    std::future<Launched> launched = started.get_future();
    watcher_ = std::thread([this, words = std::move(words), progress, errors,
                            started = std::move(started)]() mutable {
        const Launched result = Launch(words, progress[1], errors[1]);
        close(progress[1]);
        close(errors[1]);
        if (result.error != 0) {
            close(progress[0]);
            close(errors[0]);
        }
        started.set_value(result);
        if (result.error == 0) {
            Watch(result.child, progress[0], errors[0]);
        }
    });
    const Launched result = launched.get();
    if (result.error != 0) {
        watcher_.join();
        throw RunnerError(std::string("cannot start the render: ") + std::strerror(result.error));
    }
    child_ = result.child;
    status_ = RenderStatus{};
    status_.state = RenderStatus::State::Running;
    block_ = RenderStatus{};
    lastError_.clear();
    cancelled_ = false;
    secondSignalSent_ = false;
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

void RenderProcess::Watch(pid_t child, int progress, int errors) {
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
                kill(child, SIGTERM);
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
    while (waitpid(child, &waitStatus, 0) < 0 && errno == EINTR) {
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
