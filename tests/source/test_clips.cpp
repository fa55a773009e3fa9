#include "tests/source/test_clips.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

#include "host/win_types.h"

namespace {

const std::vector<ClipKind> kClipKinds = {
    {"raw24", ".avi", "-c:v rawvideo -pix_fmt bgr24 -vf vflip -flipped_raw_rgb 1", false, true},
    {"raw24-topdown", ".avi", "-c:v rawvideo -pix_fmt bgr24", false, true},
    {"raw32", ".avi", "-c:v rawvideo -pix_fmt bgra -vf vflip -flipped_raw_rgb 1", true, true},
    {"pal8", ".avi", "-c:v rawvideo -pix_fmt pal8 -vf vflip -flipped_raw_rgb 1", false, false},
    {"rgb555", ".avi", "-c:v rawvideo -pix_fmt rgb555le -vf vflip -flipped_raw_rgb 1", false, false},
    {"cinepak", ".avi", "-c:v cinepak", false, false},
    {"msvideo1", ".avi", "-c:v msvideo1", false, false},
    {"mjpeg", ".avi", "-c:v mjpeg -q:v 2 -pix_fmt yuvj420p", false, false},
    {"h264-mp4", ".mp4", "-c:v libx264 -preset veryfast -g 12 -bf 2 -pix_fmt yuv420p", false,
     false},
    {"h264-mkv", ".mkv", "-c:v libx264 -preset veryfast -g 12 -bf 2 -pix_fmt yuv420p", false,
     false},
    // Timestamps that do not begin at 0.
    {"h264-mov-late", ".mov",
     "-c:v libx264 -preset veryfast -g 12 -bf 2 -pix_fmt yuv420p -output_ts_offset 3", false,
     false},
    {"mjpeg-mkv-late", ".mkv", "-c:v mjpeg -q:v 2 -pix_fmt yuvj420p -output_ts_offset 7", false,
     false},
};

class Scratch {
public:
    Scratch() {
        char pattern[] = "/tmp/quillmere-source-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        folder_ = pattern;
    }
    ~Scratch() { std::system(("rm -rf '" + folder_ + "'").c_str()); }
    const std::string& folder() const { return folder_; }

private:
    std::string folder_;
};

}  // namespace

const std::vector<ClipKind>& AllClipKinds() { return kClipKinds; }

const ClipKind& ClipKindNamed(const std::string& name) {
    for (const ClipKind& kind : kClipKinds) {
        if (name == kind.name) {
            return kind;
        }
    }
    throw std::invalid_argument("no clip kind " + name);
}

std::vector<std::uint8_t> SourcePicture(int number, int width, int height, int bytesPerPixel) {
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(width) * height * bytesPerPixel);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* pixel = &picture[(static_cast<std::size_t>(y) * width + x) * bytesPerPixel];
            const int bit = x / kNumberBlock;
            if (y < kNumberBlock && bit < kNumberBits) {
                const std::uint8_t level = ((number >> bit) & 1) != 0 ? 255 : 0;
                pixel[0] = pixel[1] = pixel[2] = level;
            } else {
                // Smooth gradients that drift with the frame number, and a
                // square that moves: content a codec must really code.
                pixel[0] = static_cast<std::uint8_t>(x + 3 * number);
                pixel[1] = static_cast<std::uint8_t>(2 * y + number);
                const bool inSquare = ((x - 2 * number) & 63) < 24 && y > 40 && y < 80;
                pixel[2] = inSquare ? 230 : static_cast<std::uint8_t>(x + y);
            }
            if (bytesPerPixel == 4) {
                pixel[3] = static_cast<std::uint8_t>(x * 2 + number);
            }
        }
    }
    return picture;
}

const std::string& ScratchFolder() {
    static Scratch scratch;
    return scratch.folder();
}

void MakeClip(const ClipKind& kind, const std::string& path, int width, int height, int frames) {
    const int bytesPerPixel = kind.withAlpha ? 4 : 3;
    std::ostringstream command;
    command << "ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt "
            << (kind.withAlpha ? "bgra" : "bgr24") << " -s " << width << 'x' << height
            << " -r 25 -i - " << kind.encoding << " '" << path << "'";
    FILE* pipe = popen(command.str().c_str(), "w");
    if (pipe == nullptr) {
        std::perror("popen ffmpeg");
        std::abort();
    }
    for (int number = 0; number < frames; ++number) {
        const std::vector<std::uint8_t> picture = SourcePicture(number, width, height, bytesPerPixel);
        std::fwrite(picture.data(), 1, picture.size(), pipe);
    }
    if (pclose(pipe) != 0) {
        std::fprintf(stderr, "ffmpeg failed: %s\n", command.str().c_str());
        std::abort();
    }
}

// Clips are kept between test programs in the build folder when it names
// one, so that each of the many test processes need not encode them again.
std::string ClipFolder() {
#ifdef QUILLMERE_CLIP_CACHE
    static const std::string folder = [] {
        const std::string cache = QUILLMERE_CLIP_CACHE;
        ::mkdir(cache.c_str(), 0755);
        return cache;
    }();
    return folder;
#else
    return ScratchFolder();
#endif
}

std::string ClipPath(const ClipKind& kind, int width, int height, int frames) {
    static std::map<std::string, std::string> made;
    // The options are part of the name: a clip made with other options is
    // another clip.
    std::ostringstream name;
    name << kind.name << '-' << width << 'x' << height << '-' << frames << '-' << std::hex
         << std::hash<std::string>()(std::string(kind.encoding) + (kind.withAlpha ? "a" : ""))
         << kind.extension;
    const std::string key = name.str();
    if (const auto found = made.find(key); found != made.end()) {
        return found->second;
    }
    const std::string path = ClipFolder() + "/" + key;
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) {
        // Made under a name of its own and renamed when complete, so that a
        // test program running beside this one never reads half a clip.
        const std::string partial =
            path + ".partial-" + std::to_string(::getpid()) + kind.extension;
        MakeClip(kind, partial, width, height, frames);
        if (std::rename(partial.c_str(), path.c_str()) != 0) {
            std::perror("rename clip");
            std::abort();
        }
    }
    made[key] = path;
    return path;
}

std::string WriteScratchFile(const std::string& name, const std::string& bytes) {
    const std::string path = ScratchFolder() + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

namespace {
// FFmpeg's own warnings about the damaged files these tests make on purpose
// would bury the test report.
const bool g_quietFfmpeg = (av_log_set_level(AV_LOG_FATAL), true);
}  // namespace

std::string CorruptedMjpegClip(long damagedFrame) {
    std::string bytes = ReadFile(ClipPath(ClipKindNamed("mjpeg")));
    // The frames' chunks follow one another in the movie list in frame order.
    std::string::size_type at = bytes.find("movi");
    for (long n = 0; n <= damagedFrame; ++n) {
        at = bytes.find("00dc", at + 4);
    }
    std::uint32_t size;
    std::memcpy(&size, &bytes[at + 4], 4);
    std::fill(bytes.begin() + static_cast<long>(at) + 8,
              bytes.begin() + static_cast<long>(at + 8 + size), '\0');
    return WriteScratchFile("mjpeg-damaged-" + std::to_string(damagedFrame) + ".avi", bytes);
}
