// quillmere edit: the page that places the overlay by eye, served on the
// loopback interface until the page's Quit or an interrupt signal.
#include <fcntl.h>
#include <limits.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

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

// A page of mode 0600, in a folder of its own that only this user may
// enter, that sends the browser on to the session's address. The opener is
// handed this file's name, not the address: a program's arguments are
// there for any local user to read, and the address carries the token.
class RedirectPage {
public:
    explicit RedirectPage(const std::string& address) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        const char* temporary = std::getenv("TMPDIR");
        std::string base = runtime && *runtime ? runtime
                           : temporary && *temporary ? temporary
                                                     : "/tmp";
        std::string folder = base + "/quillmere-open-XXXXXX";
        if (mkdtemp(folder.data()) == nullptr) {
            throw RunnerError("cannot make a folder for the browser's page in " + Quoted(base) +
                              ": " + std::strerror(errno));
        }
        folder_ = folder;
        path_ = folder_ + "/" + kRedirectFileName;
        const std::string page = "<!DOCTYPE html>\n<meta charset=\"utf-8\">\n"
                                 "<meta http-equiv=\"refresh\" content=\"0;url=" +
                                 HtmlEscaped(address) + "\">\n<title>quillmere edit</title>\n"
                                 "<a href=\"" + HtmlEscaped(address) + "\">quillmere edit</a>\n";
        const int file = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        // The umask may only take permissions away; this makes it exactly 0600.
        const bool written = file >= 0 && fchmod(file, 0600) == 0 &&
                             write(file, page.data(), page.size()) ==
                                 static_cast<ssize_t>(page.size());
        const int error = errno;
        if (file >= 0) {
            close(file);
        }
        if (!written) {
            Remove();
            throw RunnerError("cannot write the browser's page " + Quoted(path_) + ": " +
                              std::strerror(error));
        }
    }
    ~RedirectPage() { Remove(); }
    RedirectPage(const RedirectPage&) = delete;
    RedirectPage& operator=(const RedirectPage&) = delete;

    std::string address() const { return "file://" + path_; }

private:
    static constexpr const char* kRedirectFileName = "open.html";

    static std::string HtmlEscaped(const std::string& text) {
        std::string escaped;
        for (const char c : text) {
            escaped += c == '&' ? "&amp;" : c == '"' ? "&quot;" : c == '<' ? "&lt;"
                     : c == '>' ? "&gt;" : std::string(1, c);
        }
        return escaped;
    }

    void Remove() {
        unlink(path_.c_str());
        rmdir(folder_.c_str());
    }

    std::string folder_;
    std::string path_;
};

// Hands the page to the desktop; the page works without it.
void OpenInBrowser(const RedirectPage& page) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::string program = kBrowserOpener;
    std::string argument = page.address();
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

// The allocator's arenas. By default each thread that allocates may get
// one of its own, and the frame-sized pictures and PNGs that the page's
// request threads make and drop then stay free in several arenas at once
// (some 70 MB more at 1080p); in one arena each is reused by the next
// request, whichever thread answers it, and no slower.
constexpr int kArenas = 1;

}  // namespace

int RunEdit(const CommandLine& line) {
    mallopt(M_ARENA_MAX, kArenas);
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
    // Kept until edit ends: the browser may read it at any time after the
    // opener returns.
    std::unique_ptr<RedirectPage> redirect;
    if (line.openBrowser) {
        try {
            redirect = std::make_unique<RedirectPage>(server.address());
            OpenInBrowser(*redirect);
        } catch (const RunnerError& error) {
            std::fprintf(stderr, "quillmere: could not open a browser: %s; open the address "
                                 "above\n", error.what());
        }
    }
    const bool quit = server.Serve([] { return InterruptSignal() != 0; });
    work.CancelRender();
    if (!quit) {
        throw RunnerError("interrupted");
    }
    return kExitSuccess;
}
