// quillmere: composites video files with the filter, playing the host's part.
#include <cstdio>
#include <exception>

#include "apps/quillmere/command_line.h"
#include "apps/quillmere/commands.h"
#include "apps/quillmere/pending_output.h"
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
        return Dispatch(ParseCommandLine(argc, argv));
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
