// What the runner's tests share: clips made at test time, running the
// program and reading back what it wrote.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "apps/quillmere/base/picture.h"
#include "apps/quillmere/run/synthetic_clip.h"

// A fresh folder under the system's temporary folder, removed with the object.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }
    // Names of the files in the folder, sorted.
    std::vector<std::string> Files() const;

private:
    std::string path_;
};

// The clips every test of the runner uses, made once per test program:
// main.mkv (lossless), main.mp4 (4:2:0, lossy), overlay.avi (lossless,
// 32-bit), overlay24.avi (the same, uncompressed 24-bit), main-audio.mkv (a
// small video with PCM audio), sound.wav (audio only) and notes.txt (not a
// video).
constexpr int kMainWidth = 160;
constexpr int kMainHeight = 120;
constexpr std::int64_t kMainFrames = 30;
constexpr int kOverlayWidth = 64;
constexpr int kOverlayHeight = 48;
constexpr std::int64_t kOverlayFrames = 12;
const ScratchFolder& TestClips();
// The path of a clip, and option lists with OVERLAY and OVERLAY24 replaced
// by the overlay clips' paths.
std::string Clip(const std::string& name);
std::vector<std::string> WithClips(std::vector<std::string> options);

// Writes `frames` frames of a synthetic clip to `path` (the container and
// codec follow the extension, as for the runner's output).
void WriteSyntheticClip(const std::string& path, int width, int height, std::int64_t frames,
                        ClipPattern pattern);

// Runs the ffmpeg program with `arguments` (quoted for the shell); throws
// when it fails.
void RunFfmpeg(const std::string& arguments);
// The MD5 of a file's decoded audio as ffmpeg's md5 muxer gives it ("" when
// it has none).
std::string AudioChecksum(const std::string& path);

struct RunResult {
    int exitCode = -1;  // 128 + signal when the program died of a signal
    std::string errorText;  // what it wrote on stderr
    std::string outputText;  // what it wrote on stdout
    long peakMemoryKiB = 0;  // the program's largest resident set
};
// Runs the built program with `arguments` and waits for it; its standard
// input is `standardInput` (a file) when given, else empty.
RunResult RunQuillmere(const std::vector<std::string>& arguments,
                       const std::string& standardInput = "");

// Starts the built program with `arguments`, its stderr and stdout sent to
// /dev/null, and returns at once with its process id.
pid_t StartQuillmere(const std::vector<std::string>& arguments);
// Waits until a file whose name starts with `prefix` appears in `folder`
// (true), or gives up after a long while (false).
bool WaitForFileStartingWith(const ScratchFolder& folder, const std::string& prefix);
// The exit code of a child as RunResult gives it.
// `peakMemoryKiB`, when given, receives the largest resident set the child had.
int WaitForExit(pid_t child, long* peakMemoryKiB = nullptr);

struct VideoProperties {
    std::string codec;
    int width = 0;
    int height = 0;
    double frameRate = 0;
};
VideoProperties ReadProperties(const std::string& path);

// Every frame of a video (or image) file, in the filter's pixel layout.
std::vector<Picture> DecodeAll(const std::string& path);

// The composite of every frame of `mainPath` made directly with the filter's
// procedures (the host kit's processing pass), for the settings that the
// runner would take from `options`.
std::vector<Picture> CompositeDirectly(const std::string& mainPath,
                                       const std::vector<std::string>& options);

// Colour bytes equal (the fourth byte is not stored by the lossless output).
bool SameColors(const Picture& a, const Picture& b, std::string& where);
// Peak signal-to-noise ratio of b against a over blue, green and red, in dB
// (infinity when equal).
double Psnr(const Picture& a, const Picture& b);

// An MD5 of the colour bytes of a picture, as 32 hex digits.
std::string ColorChecksum(const Picture& picture);
