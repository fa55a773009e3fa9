#include "wine_session.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

// A host run that has not ended by then is stuck; the run fails.
constexpr int kHostTimeoutSeconds = 120;

// Overlay videos: 64 x 48, frame n has its top half grey at level 16 + 24 n
// and its bottom half blue, so both the frame number and the picture's
// orientation can be read back. The main video is one flat colour.
constexpr const char* kOverlayPicture =
    "color=c=black:s=64x48:r=10,format=rgb24,"
    "geq=r='if(lt(Y,24),16+24*N,0)':g='if(lt(Y,24),16+24*N,0)':b='if(lt(Y,24),16+24*N,200)'";
constexpr const char* kMainPicture =
    "color=c=black:s=320x240:r=10,format=rgb24,geq=r=96:g=64:b=32";

struct VideoRecipe {
    const char* name;
    const char* picture;
    int frames;
    const char* encoding;
};
const VideoRecipe kVideos[] = {
    {"main", kMainPicture, 6, "-c:v rawvideo -pix_fmt bgr24"},
    {"overlay_raw", kOverlayPicture, 8, "-c:v rawvideo -pix_fmt bgr24"},
    {"overlay_cinepak", kOverlayPicture, 8, "-c:v cinepak"},
    {"overlay_msvideo1", kOverlayPicture, 8, "-c:v msvideo1"},
};

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

bool OnPath(const char* program) {
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

HostResult Parse(int exitCode, const std::string& output) {
    HostResult result;
    result.exitCode = exitCode;
    result.output = output;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();  // the host's stdout is in text mode
        }
        const std::size_t blank = line.find(' ');
        if (blank == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, blank);
        const std::string rest = line.substr(blank + 1);
        if (key == "record") {
            const std::size_t equals = rest.find('=');
            if (equals != std::string::npos) {
                result.record[rest.substr(0, equals)] =
                    std::strtol(rest.substr(equals + 1).c_str(), nullptr, 10);
            }
        } else if (key == "state") {
            std::istringstream words(rest);
            int id = 0;
            words >> id;
            auto& state = result.states[id];
            std::string word;
            while (words >> word) {
                const std::size_t equals = word.find('=');
                if (word.rfind("text=", 0) == 0) {
                    // The text runs to the end of the line, blanks included.
                    state["text"] = rest.substr(rest.find("text=") + 5);
                    break;
                }
                if (equals != std::string::npos) {
                    state[word.substr(0, equals)] = word.substr(equals + 1);
                }
            }
        } else {
            result.values[key] = rest;
        }
    }
    return result;
}

void StopWineServer() {
    if (fs::exists(QUILLMERE_WINE_PREFIX)) {
        std::system(("WINEPREFIX=" + Quote(QUILLMERE_WINE_PREFIX) +
                     " wineserver -k >/dev/null 2>&1; WINEPREFIX=" +
                     Quote(QUILLMERE_WINE_PREFIX) + " wineserver -w >/dev/null 2>&1")
                        .c_str());
    }
}

std::unique_ptr<WineSession>& Instance() {
    static std::unique_ptr<WineSession> session;
    return session;
}

}  // namespace

long HostResult::Value(const std::string& key) const {
    const auto found = values.find(key);
    if (found == values.end()) {
        throw std::out_of_range("the host printed no " + key);
    }
    return std::strtol(found->second.c_str(), nullptr, 10);
}

long HostResult::Field(const std::string& name) const {
    const auto found = record.find(name);
    if (found == record.end()) {
        throw std::out_of_range("the host printed no record field " + name);
    }
    return found->second;
}

std::string HostResult::State(int id, const std::string& key) const {
    const auto control = states.find(id);
    if (control == states.end() || control->second.count(key) == 0) {
        throw std::out_of_range("the host printed no state " + key + " of " + std::to_string(id));
    }
    return control->second.at(key);
}

WineSession* WineSession::Get() {
    std::unique_ptr<WineSession>& session = Instance();
    if (!session) {
        if (!fs::exists(QUILLMERE_WIN32_TEST_HOST) || !fs::exists(QUILLMERE_WIN32_MODULE) ||
            !OnPath("wine") || !OnPath("Xvfb")) {
            return nullptr;
        }
        // A server left by an earlier test may still talk to a display that
        // is gone; this session's programs start with a server of their own.
        StopWineServer();
        session.reset(new WineSession);
        if (!session->StartDisplay()) {
            session.reset();
            return nullptr;
        }
    }
    return session.get();
}

bool WineSession::StartDisplay() {
    int channel[2];
    if (pipe(channel) != 0) {
        return false;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        const std::string fd = std::to_string(channel[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
               "-nolisten", "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(channel[1]);
    std::string number;
    char c;
    while (read(channel[0], &c, 1) == 1 && c != '\n') {
        number += c;
    }
    close(channel[0]);
    if (child < 0 || number.empty()) {
        return false;
    }
    displayProcess_ = child;
    display_ = ":" + number;
    return true;
}

WineSession::~WineSession() {
    // The prefix's server would otherwise outlive the display it talks to.
    StopWineServer();
    if (displayProcess_ > 0) {
        kill(displayProcess_, SIGTERM);
        waitpid(displayProcess_, nullptr, 0);
    }
}

std::string WineSession::HostCommand(const std::vector<std::string>& arguments) const {
    std::string command = "DISPLAY=" + display_ + " timeout " +
                          std::to_string(kHostTimeoutSeconds) + " " +
                          Quote(QUILLMERE_RUN_WINE) + " " + Quote(QUILLMERE_WINE_PREFIX) + " " +
                          Quote(QUILLMERE_WIN32_TEST_HOST) + " " +
                          Quote(WindowsPath(QUILLMERE_WIN32_MODULE));
    for (const std::string& argument : arguments) {
        command += " " + Quote(argument);
    }
    return command;
}

HostResult WineSession::RunHost(const std::vector<std::string>& arguments) {
    StartHost(arguments);
    return FinishHost();
}

void WineSession::StartHost(const std::vector<std::string>& arguments) {
    backgroundOutput_ = ScratchFolder("host-output") + "/stdout.txt";
    const std::string command =
        HostCommand(arguments) + " >" + Quote(backgroundOutput_) + " 2>" +
        Quote(backgroundOutput_ + ".err");
    const pid_t child = fork();
    if (child == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    backgroundProcess_ = child;
    backgroundStatus_ = -1;
}

bool WineSession::HostEnded() {
    if (backgroundProcess_ > 0 && backgroundStatus_ < 0) {
        int status = 0;
        if (waitpid(backgroundProcess_, &status, WNOHANG) == backgroundProcess_) {
            backgroundStatus_ = status;
        }
    }
    return backgroundStatus_ >= 0;
}

HostResult WineSession::FinishHost() {
    int status = backgroundStatus_;
    if (backgroundProcess_ <= 0 ||
        (status < 0 && waitpid(backgroundProcess_, &status, 0) < 0)) {
        return Parse(-1, "");
    }
    backgroundProcess_ = -1;
    backgroundStatus_ = -1;
    const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::string output = ReadWholeFile(backgroundOutput_);
    if (exitCode != 0) {
        output += "\n[stderr]\n" + ReadWholeFile(backgroundOutput_ + ".err");
    }
    return Parse(exitCode, output);
}

int WineSession::RunOnDisplay(const std::string& command) {
    const int status = std::system(("DISPLAY=" + display_ + " " + command).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string WineSession::WindowsPath(const std::string& unixPath) {
    std::string path = "Z:" + fs::absolute(unixPath).lexically_normal().string();
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

std::string WineSession::ScratchFolder(const std::string& name) {
    const fs::path folder = fs::path(QUILLMERE_WINE_SCRATCH) / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder.string();
}

std::string WineSession::TestVideo(const std::string& name) {
    const fs::path folder = fs::path(QUILLMERE_WINE_SCRATCH) / "videos";
    fs::create_directories(folder);
    const fs::path path = folder / (name + ".avi");
    if (fs::exists(path)) {
        return path.string();
    }
    for (const VideoRecipe& recipe : kVideos) {
        if (name != recipe.name) {
            continue;
        }
        // Written under another name first, so a half-made file is never used.
        const fs::path partial = folder / (name + ".partial.avi");
        const std::string command = std::string("ffmpeg -v error -y -f lavfi -i ") +
                                    Quote(recipe.picture) + " -frames:v " +
                                    std::to_string(recipe.frames) + " " + recipe.encoding + " " +
                                    Quote(partial.string());
        if (std::system(command.c_str()) != 0) {
            throw std::runtime_error("ffmpeg could not make " + name);
        }
        fs::rename(partial, path);
        return path.string();
    }
    throw std::invalid_argument("no recipe for the test video " + name);
}
