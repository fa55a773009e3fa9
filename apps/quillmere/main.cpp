// quillmere: composites video files with the filter, playing the host's part.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <exception>

#include "apps/quillmere/cli/read_command_line.h"
#include "apps/quillmere/run/commands.h"
#include "apps/quillmere/base/interruption.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

constexpr const char* kVersion = QUILLMERE_VERSION;

// Values in messages are quoted with their control characters escaped; the
// whole line is escaped once more for a message from elsewhere.
int Report(const char* message, int code) {
    std::fprintf(stderr, "quillmere: %s\n", EscapeControlCharacters(message).c_str());
    return code;
}

int Dispatch(const CommandLine& line) {
    switch (line.command) {
    case Command::Help:
        std::fputs(HelpText().c_str(), stdout);
        return kExitSuccess;
    case Command::Version:
        std::printf("quillmere %s\n", kVersion);
        return kExitSuccess;
    case Command::Render:
        return RunRender(line);
    case Command::Frame:
        return RunFrame(line);
    case Command::Demo:
        return RunDemo(line);
    case Command::Place:
        return RunPlace(line);
    case Command::Segments:
        return RunSegments(line);
    case Command::Join:
        return RunJoin(line);
    case Command::Edit:
        return RunEdit(line);
    }
    return kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
    // Every failure is reported in one line of our own, with FFmpeg's reason
    // in it; FFmpeg's own log lines would only bury it.
    av_log_set_level(AV_LOG_QUIET);
    InstallInterruptHandlers();
    try {
        const int code = Dispatch(ReadCommandLine(argc, argv));
        // What went to standard output must have arrived: a full disk or a
        // closed pipe is a failure, not a success with the text lost.
        errno = 0;
        if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
            return Report(("cannot write standard output: " +
                           std::string(std::strerror(errno != 0 ? errno : EIO)))
                              .c_str(),
                          kExitFailure);
        }
        return code;
    } catch (const UsageError& error) {
        return Report(error.what(), kExitUsage);
    } catch (const RunnerError& error) {
        if (InterruptSignal() != 0) {
            return Report("interrupted; no output written", kExitSignalBase + InterruptSignal());
        }
        return Report(error.what(), kExitFailure);
    } catch (const std::bad_alloc&) {
        return Report("out of memory", kExitFailure);
    } catch (const std::exception& error) {
        return Report(error.what(), kExitFailure);
    }
}
