#include "tests/apps/runner_harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "apps/quillmere/cli/command_line.h"
#include "apps/quillmere/overlay/filter_host.h"
#include "apps/quillmere/media/frame_picture.h"
#include "apps/quillmere/pipeline/frame_stream.h"
#include "apps/quillmere/media/video_writer.h"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/md5.h>
}

extern char** environ;

ScratchFolder::ScratchFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/quillmere-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a scratch folder");
    }
    path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    for (const std::string& name : Files()) {
        std::remove((path_ + "/" + name).c_str());
    }
    rmdir(path_.c_str());
}

std::vector<std::string> ScratchFolder::Files() const {
    std::vector<std::string> names;
    if (DIR* folder = opendir(path_.c_str())) {
        while (const dirent* entry = readdir(folder)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(folder);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void WriteSyntheticClip(const std::string& path, int width, int height, std::int64_t frames,
                        ClipPattern pattern) {
    SyntheticClip clip(width, height, frames, AVRational{25, 1}, pattern);
    VideoWriter writer(path, path, OutputFormatForPath(path), clip.format(), {}, {},
                       [](const std::string&) {});
    FramePtr frame = NewFrame();
    long number = 0;
    while (clip.Next(*frame, number)) {
        writer.Write(*frame);
        av_frame_unref(frame.get());
    }
    writer.Finish();
}

void RunFfmpeg(const std::string& arguments) {
    const std::string command = "ffmpeg -nostdin -v error -y " + arguments;
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("ffmpeg failed: " + command);
    }
}

std::string AudioChecksum(const std::string& path) {
    const std::string command =
        "ffmpeg -nostdin -v error -i '" + path + "' -map 0:a -f md5 - 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), &pclose);
    char line[128] = {};
    if (!pipe || std::fgets(line, sizeof line, pipe.get()) == nullptr) {
        return "";
    }
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

const ScratchFolder& TestClips() {
    static const std::unique_ptr<ScratchFolder> clips = [] {
        av_log_set_level(AV_LOG_ERROR);
        auto folder = std::make_unique<ScratchFolder>();
        WriteSyntheticClip(*folder / "main.mkv", kMainWidth, kMainHeight, kMainFrames,
                           ClipPattern::Landscape);
        WriteSyntheticClip(*folder / "main.mp4", kMainWidth, kMainHeight, kMainFrames,
                           ClipPattern::Landscape);
        WriteSyntheticClip(*folder / "overlay.avi", kOverlayWidth, kOverlayHeight,
                           kOverlayFrames, ClipPattern::Checker);
        // The same overlay in 24 bits, which the overlay source hands on as
        // 24-bit frames (the 32-bit clip stays 32-bit).
        RunFfmpeg("-i '" + *folder / "overlay.avi" + "' -c:v rawvideo -pix_fmt bgr24 '" +
                  *folder / "overlay24.avi" + "'");
        RunFfmpeg("-f lavfi -i testsrc2=size=96x64:rate=25 -f lavfi "
                  "-i sine=frequency=440:sample_rate=48000 -t 1.2 -c:v ffv1 -c:a pcm_s16le '" +
                  *folder / "main-audio.mkv" + "'");
        RunFfmpeg("-f lavfi -i sine=frequency=440:sample_rate=8000 -t 0.5 '" +
                  *folder / "sound.wav" + "'");
        std::ofstream(*folder / "notes.txt") << "not a video at all\n";
        return folder;
    }();
    return *clips;
}

std::string Clip(const std::string& name) { return TestClips() / name; }

std::vector<std::string> WithClips(std::vector<std::string> options) {
    for (std::string& option : options) {
        if (option == "OVERLAY") {
            option = Clip("overlay.avi");
        } else if (option == "OVERLAY24") {
            option = Clip("overlay24.avi");
        }
    }
    return options;
}

namespace {
// The content of a file, which is then removed.
std::string TakeText(const char* path) {
    std::ifstream text(path);
    std::ostringstream content;
    content << text.rdbuf();
    std::remove(path);
    return content.str();
}
}  // namespace

RunResult RunQuillmere(const std::vector<std::string>& arguments,
                       const std::string& standardInput) {
    char errorPath[] = "/tmp/quillmere-stderr-XXXXXX";
    char outputPath[] = "/tmp/quillmere-stdout-XXXXXX";
    const int errorFile = mkstemp(errorPath);
    const int outputFile = mkstemp(outputPath);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, errorFile, STDERR_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outputFile, STDOUT_FILENO);
    // No terminal on standard input unless a file is given: the program
    // never waits for an answer.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO,
                                     standardInput.empty() ? "/dev/null" : standardInput.c_str(),
                                     O_RDONLY, 0);
    // Through measured_run: a child of this process would count this
    // process's own peak memory as its own.
    char reportPath[] = "/tmp/quillmere-peak-XXXXXX";
    const int reportFile = mkstemp(reportPath);
    std::vector<std::string> words = {QUILLMERE_MEASURED_RUN, reportPath, QUILLMERE_PROGRAM};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    RunResult result;
    if (posix_spawn(&child, QUILLMERE_MEASURED_RUN, &actions, nullptr, argv.data(), environ) ==
        0) {
        result.exitCode = WaitForExit(child);
    }
    posix_spawn_file_actions_destroy(&actions);
    close(errorFile);
    close(outputFile);
    close(reportFile);
    result.peakMemoryKiB = std::atol(TakeText(reportPath).c_str());
    result.errorText = TakeText(errorPath);
    result.outputText = TakeText(outputPath);
    return result;
}

pid_t StartQuillmere(const std::vector<std::string>& arguments) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> words = {QUILLMERE_PROGRAM};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t child = -1;
    if (posix_spawn(&child, QUILLMERE_PROGRAM, &actions, nullptr, argv.data(), environ) != 0) {
        child = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

bool WaitForFileStartingWith(const ScratchFolder& folder, const std::string& prefix) {
    // Polls; the bound only keeps a broken run from hanging the test.
    constexpr int kAttempts = 6000;
    constexpr useconds_t kPause = 5000;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        for (const std::string& name : folder.Files()) {
            if (name.rfind(prefix, 0) == 0) {
                return true;
            }
        }
        usleep(kPause);
    }
    return false;
}

int WaitForExit(pid_t child, long* peakMemoryKiB) {
    int status = 0;
    struct rusage usage {};
    if (wait4(child, &status, 0, &usage) != child) {
        return -1;
    }
    if (peakMemoryKiB != nullptr) {
        *peakMemoryKiB = usage.ru_maxrss;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

VideoProperties ReadProperties(const std::string& path) {
    AVFormatContext* format = nullptr;
    VideoProperties properties;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) == 0) {
        if (avformat_find_stream_info(format, nullptr) >= 0) {
            const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
            if (index >= 0) {
                const AVStream* stream = format->streams[index];
                properties.codec = avcodec_get_name(stream->codecpar->codec_id);
                properties.width = stream->codecpar->width;
                properties.height = stream->codecpar->height;
                properties.frameRate = av_q2d(stream->avg_frame_rate);
            }
        }
        avformat_close_input(&format);
    }
    return properties;
}

std::vector<Picture> DecodeAll(const std::string& path) {
    FileFrameSource source(path, false, [](const std::string&) {});
    std::vector<Picture> frames;
    FramePtr frame = NewFrame();
    long number = 0;
    while (source.Next(*frame, number)) {
        frames.push_back(PictureOfFrame(*frame));
        av_frame_unref(frame.get());
    }
    return frames;
}

std::vector<Picture> CompositeDirectly(const std::string& mainPath,
                                       const std::vector<std::string>& options) {
    std::vector<std::string> words = {"quillmere", "render", mainPath, "-o", "unused.mkv"};
    words.insert(words.end(), options.begin(), options.end());
    std::vector<const char*> argv;
    for (const std::string& word : words) {
        argv.push_back(word.c_str());
    }
    const CommandLine line = ParseCommandLine(static_cast<int>(argv.size()), argv.data());

    const std::vector<Picture> inputs = DecodeAll(mainPath);
    FilterModuleSession module;
    OverlayFilter filter(module, OverlaySetup{line.settings, line.overlayPath, line.scriptPath});
    if (inputs.empty()) {
        return {};
    }
    ProcessingPass pass(filter.instance(), inputs.front().width, inputs.front().height);
    std::vector<Picture> frames;
    for (long frameNumber = 0; frameNumber < static_cast<long>(inputs.size()); ++frameNumber) {
        Picture picture = inputs[static_cast<std::size_t>(frameNumber)];
        pass.LoadSource(reinterpret_cast<const Pixel32*>(picture.top()), picture.topDownStride());
        pass.RunFrame(frameNumber);
        pass.StoreOutput(reinterpret_cast<Pixel32*>(picture.top()), picture.topDownStride());
        frames.push_back(picture);
    }
    pass.Finish();
    return frames;
}

bool SameColors(const Picture& a, const Picture& b, std::string& where) {
    if (a.width != b.width || a.height != b.height) {
        where = "sizes differ";
        return false;
    }
    for (int y = 0; y < a.height; ++y) {
        const auto* rowA = reinterpret_cast<const std::uint32_t*>(a.row(y));
        const auto* rowB = reinterpret_cast<const std::uint32_t*>(b.row(y));
        for (int x = 0; x < a.width; ++x) {
            if (((rowA[x] ^ rowB[x]) & 0xFFFFFFu) != 0) {
                char text[96];
                std::snprintf(text, sizeof text, "pixel (%d, %d): %06x against %06x", x, y,
                              rowA[x] & 0xFFFFFFu, rowB[x] & 0xFFFFFFu);
                where = text;
                return false;
            }
        }
    }
    return true;
}

double Psnr(const Picture& a, const Picture& b) {
    double squares = 0;
    long count = 0;
    for (int y = 0; y < a.height && y < b.height; ++y) {
        for (int x = 0; x < a.width && x < b.width; ++x) {
            for (int channel = 0; channel < 3; ++channel) {
                const double difference = double(a.row(y)[4 * x + channel]) - b.row(y)[4 * x + channel];
                squares += difference * difference;
                ++count;
            }
        }
    }
    if (squares == 0) {
        return std::numeric_limits<double>::infinity();
    }
    return 10.0 * std::log10(255.0 * 255.0 * count / squares);
}

std::string ColorChecksum(const Picture& picture) {
    std::vector<std::uint8_t> colors;
    colors.reserve(static_cast<std::size_t>(picture.width) * picture.height * 3);
    for (int y = 0; y < picture.height; ++y) {
        const std::uint8_t* row = picture.row(y);
        for (int x = 0; x < picture.width; ++x) {
            colors.insert(colors.end(), row + 4 * x, row + 4 * x + 3);
        }
    }
    std::uint8_t digest[16];
    av_md5_sum(digest, colors.data(), static_cast<int>(colors.size()));
    char text[33];
    for (int index = 0; index < 16; ++index) {
        std::snprintf(text + 2 * index, 3, "%02x", digest[index]);
    }
    return text;
}
