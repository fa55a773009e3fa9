// Runs a program and reports its peak resident memory.
//
//   measured_run REPORT PROGRAM [ARGUMENT]...
//
// writes the program's largest resident set, in KiB, to the file REPORT and
// exits as the program did (128 + the signal that ended it). A process
// started straight from a large one (a test binary under the sanitizers)
// counts that parent's own peak as its own when it execs; started from this
// small one, the program's peak is its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace {
constexpr int kCannotRun = 125;
constexpr int kCannotExecute = 127;
constexpr int kSignalBase = 128;
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: measured_run REPORT PROGRAM [ARGUMENT]...\n");
        return kCannotRun;
    }
    const pid_t child = fork();
    if (child < 0) {
        return kCannotRun;
    }
    if (child == 0) {
        execv(argv[2], argv + 2);
        _exit(kCannotExecute);
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(child, &status, 0, &usage) != child) {
        return kCannotRun;
    }
    if (std::FILE* report = std::fopen(argv[1], "w")) {
        std::fprintf(report, "%ld\n", usage.ru_maxrss);
        std::fclose(report);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : kSignalBase + WTERMSIG(status);
}
