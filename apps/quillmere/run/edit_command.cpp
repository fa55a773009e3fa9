// quillmere edit: the page that places the overlay by eye, served on the
// loopback interface until the page's Quit or an interrupt signal.
#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "apps/quillmere/edit/edit_server.h"
#include "apps/quillmere/edit/edit_session.h"
#include "apps/quillmere/edit/runner_work.h"
#include "apps/quillmere/media/video_reader.h"
#include "apps/quillmere/plan/input_facts.h"
#include "apps/quillmere/plan/planning.h"
#include "apps/quillmere/run/commands.h"
#include "apps/quillmere/base/interruption.h"
#include "apps/quillmere/run/job_steps.h"
#include "apps/quillmere/run/pending_output.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

extern char** environ;

namespace {

constexpr const char* kBrowserOpener = "xdg-open";

// This very program, to run the page's renders.
std::string ProgramPath() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        throw RunnerError(std::string("cannot find the quillmere program to render with: ") +
                          std::strerror(errno));
    }
    return std::string(path, static_cast<std::size_t>(length));
}

// Save: the whole file under its name, or nothing.
void WriteSettingsFile(const std::string& path, const std::string& text) {
    PendingOutput pending(path);
    {
        std::ofstream file(pending.writePath(), std::ios::binary | std::ios::trunc);
        file << text;
        file.flush();
        if (!file) {
            throw RunnerError("cannot write " + Quoted(path) + ": " + std::strerror(errno));
        }
    }
    // The file the page was started with is the one it saves to.
    pending.Commit(true);
}

// Hands the address to the desktop; the page works without it.
void OpenInBrowser(const std::string& address) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::string program = kBrowserOpener;
    std::string argument = address;
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t child = -1;
    const int error = posix_spawnp(&child, kBrowserOpener, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (error != 0 || waitpid(child, &status, 0) < 0 || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "quillmere: could not open a browser (%s); open the address above\n",
                     kBrowserOpener);
    }
}

}  // namespace

int RunEdit(const CommandLine& line) {
    auto reader = std::make_unique<VideoReader>(line.input, line.videoStream, line.pictureLimit);
    EditStart start;
    start.line = line;
    start.facts = GatherFacts(line, *reader);
    start.frameCount = start.facts.mainFrames;
    RunnerEditWork work(std::move(reader), NoticesFor(Reporting{line.quiet, "", 0}),
                        ProgramPath());
    EditSession session(std::move(start), work, &WriteSettingsFile);
    // Every usage error before the page exists: the render the page would
    // start is planned once now, and what planning notes is said once.
    const std::int64_t at = session.LineFor(Command::Frame).frameAt;
    const long startFrame = at > 0 ? static_cast<long>(at) : 0;
    if (!line.output.empty()) {
        SayNotes(PlanJob(session.LineFor(Command::Render), session.facts()));
    } else {
        CommandLine first = session.LineFor(Command::Frame);
        first.frameAt = startFrame;
        first.times.at = FrameOrTime::Frames(startFrame);
        SayNotes(PlanJob(first, session.facts()));
    }
    // The first picture, made now: an overlay that cannot be read fails here,
    // and the page opens on a picture ready.
    try {
        session.Picture(std::to_string(startFrame), false);
    } catch (const RequestError& error) {
        throw RunnerError(error.what());
    }
    session.SetOverlayLength(work.overlayLength());

    EditServer server(session, line.port);
    std::printf("%s\n", server.address().c_str());
    std::fflush(stdout);
    if (!line.quiet) {
        std::fprintf(stderr, "quillmere: the page is served at the address above; Quit on the "
                             "page or Ctrl-C stops it\n");
    }
    if (line.openBrowser) {
        OpenInBrowser(server.address());
    }
    const bool quit = server.Serve([] { return InterruptSignal() != 0; });
    work.CancelRender();
    if (!quit) {
        throw RunnerError("interrupted");
    }
    return kExitSuccess;
}
