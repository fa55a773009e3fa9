// Whole runs on phone footage: a main whose display matrix turns it is
// turned upright before anything is placed, and the output is written
// upright. The reference is FFmpeg's own turn of the same input (the
// ffmpeg program turns pictures as their matrices ask when it decodes
// them), compared sample for sample outside the overlay; --keep-rotation
// is compared with the same bitstream without a matrix, which the runner
// has always worked on as stored.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/apps/media_readback.h"
#include "tests/apps/runner_harness.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

namespace {

constexpr int kStoredWidth = 200;
constexpr int kStoredHeight = 120;
constexpr int kFrames = 3;
// The overlay is placed 48x36, 10 pixels from the anchored edges: every
// corner even, so that 4:2:0 chroma blocks lie wholly inside or outside.
constexpr int kPlacedWidth = 48;
constexpr int kPlacedHeight = 36;
constexpr int kMargin = 10;

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
}

// The frames of `path` as the ffmpeg program decodes them, raw in `format`
// (turned as the file's matrix asks, when it has one).
std::vector<std::uint8_t> RawFrames(const std::string& path, const std::string& format,
                                    const std::string& raw) {
    RunFfmpeg("-i '" + path + "' -f rawvideo -pix_fmt " + format + " '" + raw + "'");
    return ReadBytes(raw);
}

bool HasDisplayMatrix(const std::string& path, double* anticlockwise = nullptr) {
    InputContextPtr file = OpenForReading(path);
    if (!file) {
        return false;
    }
    const AVStream& stream = *file->streams[FirstStreamOf(*file, AVMEDIA_TYPE_VIDEO)];
    std::size_t size = 0;
    const std::uint8_t* matrix = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (matrix != nullptr && anticlockwise != nullptr) {
        *anticlockwise = av_display_rotation_get(reinterpret_cast<const std::int32_t*>(matrix));
    }
    return matrix != nullptr;
}

struct Rect {
    int left, top, right, bottom;
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

class UprightRun : public testing::Test {
protected:
    static void SetUpTestSuite() {
        TestClips();
        folder_ = new ScratchFolder();
        // A flat colour no test pattern shows, so that every overlay pixel differs.
        RunFfmpeg("-f lavfi -i color=c=0x3a6cd2:s=32x24:r=25 -frames:v 3 -pix_fmt yuv444p "
                  "-c:v ffv1 '" + *folder_ / "overlay.mkv" + "'");
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }

    // The same lossless bitstream without and with a display matrix (the
    // ffmpeg program's `rotate` tag: that many degrees anticlockwise).
    void MakePhoneClip(const std::string& pixelFormat, int rotateTag) {
        RunFfmpeg("-f lavfi -i testsrc2=size=200x120:rate=25 -frames:v 3 -pix_fmt " +
                  pixelFormat + " -c:v libx264 -preset ultrafast -qp 0 '" + out_ / "plain.mp4" +
                  "'");
        RunFfmpeg("-i '" + out_ / "plain.mp4" + "' -c copy -metadata:s:v:0 rotate=" +
                  std::to_string(rotateTag) + " '" + out_ / "phone.mp4" + "'");
    }

    RunResult Render(const std::string& input, const std::string& output,
                     std::vector<std::string> options) {
        std::vector<std::string> arguments = {"render", input, "-o", output};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return RunQuillmere(arguments);
    }

    static ScratchFolder* folder_;
    ScratchFolder out_;
};
ScratchFolder* UprightRun::folder_ = nullptr;

struct RotationCase {
    const char* name;
    int rotateTag;
    const char* pixelFormat;
    const char* anchor;
};

const RotationCase kRotations[] = {
    {"Quarter420", 90, "yuv420p", "top-left"},
    {"Half420", 180, "yuv420p", "bottom-right"},
    {"ThreeQuarters420", 270, "yuv420p", "top-right"},
    {"Quarter444", 90, "yuv444p", "bottom-left"},
    {"Half444", 180, "yuv444p", "top-left"},
    {"ThreeQuarters444", 270, "yuv444p", "bottom-right"},
};

// Where the anchor puts a 48x36 picture 10 pixels in on the upright frame.
Rect Placed(const std::string& anchor, int width, int height) {
    const bool right = anchor.find("right") != std::string::npos;
    const bool bottom = anchor.find("bottom") != std::string::npos;
    const int left = right ? width - kMargin - kPlacedWidth : kMargin;
    const int top = bottom ? height - kMargin - kPlacedHeight : kMargin;
    return Rect{left, top, left + kPlacedWidth, top + kPlacedHeight};
}

class RotationTable : public UprightRun, public testing::WithParamInterface<RotationCase> {};

TEST_P(RotationTable, PlacedUprightOnTheBackgroundTurnedSampleForSample) {
    const RotationCase& test = GetParam();
    MakePhoneClip(test.pixelFormat, test.rotateTag);
    const bool quarter = test.rotateTag != 180;
    const int width = quarter ? kStoredHeight : kStoredWidth;
    const int height = quarter ? kStoredWidth : kStoredHeight;
    const std::vector<std::string> placement = {"--overlay", *folder_ / "overlay.mkv",
                                                "--position", test.anchor, "--size", "48x36",
                                                "--margin", "10", "-q"};
    const RunResult run = Render(out_ / "phone.mp4", out_ / "upright.mkv", placement);
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    const VideoProperties written = ReadProperties(out_ / "upright.mkv");
    EXPECT_EQ(written.width, width);
    EXPECT_EQ(written.height, height);
    EXPECT_FALSE(HasDisplayMatrix(out_ / "upright.mkv"));

    const std::vector<std::uint8_t> reference =
        RawFrames(out_ / "phone.mp4", test.pixelFormat, out_ / "reference.raw");
    const std::vector<std::uint8_t> output =
        RawFrames(out_ / "upright.mkv", test.pixelFormat, out_ / "output.raw");
    ASSERT_EQ(output.size(), reference.size());
    const AVPixFmtDescriptor* layout =
        av_pix_fmt_desc_get(av_get_pix_fmt(test.pixelFormat));
    const int chromaWidth = width >> layout->log2_chroma_w;
    const int chromaHeight = height >> layout->log2_chroma_h;
    const std::size_t frameBytes =
        static_cast<std::size_t>(width * height + 2 * chromaWidth * chromaHeight);
    ASSERT_EQ(reference.size(), frameBytes * kFrames);
    const Rect mask = Placed(test.anchor, width, height);
    for (int frame = 0; frame < kFrames; ++frame) {
        std::size_t at = frameBytes * static_cast<std::size_t>(frame);
        // Pixels whose luma or chroma changed.
        std::vector<bool> changed(static_cast<std::size_t>(width * height), false);
        for (int plane = 0; plane < 3; ++plane) {
            const int shiftX = plane == 0 ? 0 : layout->log2_chroma_w;
            const int shiftY = plane == 0 ? 0 : layout->log2_chroma_h;
            for (int y = 0; y < height >> shiftY; ++y) {
                for (int x = 0; x < width >> shiftX; ++x, ++at) {
                    if (!mask.Contains(x << shiftX, y << shiftY)) {
                        ASSERT_EQ(output[at], reference[at])
                            << "frame " << frame << " plane " << plane << " at " << x << ","
                            << y;
                    } else if (output[at] != reference[at]) {
                        for (int below = 0; below < 1 << shiftY; ++below) {
                            for (int right = 0; right < 1 << shiftX; ++right) {
                                changed[static_cast<std::size_t>(((y << shiftY) + below) * width +
                                                                 (x << shiftX) + right)] = true;
                            }
                        }
                    }
                }
            }
        }
        // The overlay fills its place on the upright frame.
        int changedInside = 0;
        for (int y = mask.top; y < mask.bottom; ++y) {
            for (int x = mask.left; x < mask.right; ++x) {
                changedInside += changed[static_cast<std::size_t>(y * width + x)] ? 1 : 0;
            }
        }
        EXPECT_GT(changedInside, kPlacedWidth * kPlacedHeight * 9 / 10) << "frame " << frame;
    }

    // Kept as stored, the same job is today's job on the pictures as stored.
    ASSERT_EQ(Render(out_ / "phone.mp4", out_ / "kept.mkv", {"--keep-rotation", "-q", "--overlay",
                     *folder_ / "overlay.mkv", "--mask", "10,10,w48,h36", "--fit"})
                  .exitCode,
              0);
    ASSERT_EQ(Render(out_ / "plain.mp4", out_ / "stored.mkv", {"-q", "--overlay",
                     *folder_ / "overlay.mkv", "--mask", "10,10,w48,h36", "--fit"})
                  .exitCode,
              0);
    EXPECT_TRUE(RawFrames(out_ / "kept.mkv", test.pixelFormat, out_ / "kept.raw") ==
                RawFrames(out_ / "stored.mkv", test.pixelFormat, out_ / "stored.raw"));
}

INSTANTIATE_TEST_SUITE_P(Table, RotationTable, testing::ValuesIn(kRotations),
                         [](const testing::TestParamInfo<RotationCase>& info) {
                             return info.param.name;
                         });

TEST_F(UprightRun, KeptRotationIsCarriedAndUprightOutputHasNone) {
    MakePhoneClip("yuv420p", 90);
    double input = 0;
    ASSERT_TRUE(HasDisplayMatrix(out_ / "phone.mp4", &input));
    ASSERT_EQ(Render(out_ / "phone.mp4", out_ / "kept.mp4", {"--keep-rotation", "-q"}).exitCode, 0);
    double kept = 0;
    EXPECT_TRUE(HasDisplayMatrix(out_ / "kept.mp4", &kept));
    EXPECT_EQ(kept, input);
    EXPECT_EQ(ReadProperties(out_ / "kept.mp4").width, kStoredWidth);
    ASSERT_EQ(Render(out_ / "phone.mp4", out_ / "upright.mp4", {"-q"}).exitCode, 0);
    EXPECT_FALSE(HasDisplayMatrix(out_ / "upright.mp4"));
    EXPECT_EQ(ReadProperties(out_ / "upright.mp4").width, kStoredHeight);

    // place and frame speak of the upright picture too.
    const RunResult place = RunQuillmere({"place", out_ / "phone.mp4", "--size", "50%"});
    EXPECT_NE(place.outputText.find("on 120x200"), std::string::npos) << place.outputText;
    EXPECT_NE(place.errorText.find("--keep-rotation"), std::string::npos) << place.errorText;
    ASSERT_EQ(RunQuillmere({"frame", out_ / "phone.mp4", "--at", "1", "-o", out_ / "f.png", "-q"})
                  .exitCode,
              0);
    EXPECT_EQ(ReadProperties(out_ / "f.png").height, kStoredWidth);
}

// Upright segments join into an upright whole: the join carries no display
// matrix over, and its frames are the whole render's.
TEST_F(UprightRun, SegmentsOfPhoneFootageJoinUpright) {
    MakePhoneClip("yuv420p", 90);
    const std::string main = out_ / "phone.mp4";
    // Lossless H.264, which MP4 holds.
    const std::vector<std::string> encoding = {"-q", "--codec", "h264", "--crf", "0",
                                               "--preset", "ultrafast"};
    ASSERT_EQ(Render(main, out_ / "whole.mp4", encoding).exitCode, 0);
    std::vector<std::string> join{"join", "-o", out_ / "joined.mp4", "-q"};
    for (const char* segment : {"0/2", "1/2"}) {
        const std::string part = out_ / (std::string("part") + segment[0] + ".mp4");
        std::vector<std::string> options = encoding;
        options.insert(options.end(), {"--segment", segment});
        const RunResult run = Render(main, part, options);
        ASSERT_EQ(run.exitCode, 0) << run.errorText;
        join.push_back(part);
    }
    const RunResult joined = RunQuillmere(join);
    ASSERT_EQ(joined.exitCode, 0) << joined.errorText;
    EXPECT_FALSE(HasDisplayMatrix(out_ / "joined.mp4"));
    EXPECT_EQ(ReadProperties(out_ / "joined.mp4").width, kStoredHeight);
    EXPECT_TRUE(RawFrames(out_ / "joined.mp4", "yuv420p", out_ / "joined.raw") ==
                RawFrames(out_ / "whole.mp4", "yuv420p", out_ / "whole.raw"));
}

// Samples of a plane turned by a transpose and mirrors, worked out here.
std::vector<std::uint8_t> Turned(const std::vector<std::uint8_t>& plane, int width, int height,
                                 bool mirrorX, bool mirrorY) {
    std::vector<std::uint8_t> turned(plane.size());
    for (int y = 0; y < width; ++y) {
        for (int x = 0; x < height; ++x) {
            const int q = mirrorX ? height - 1 - x : x;
            const int p = mirrorY ? width - 1 - y : y;
            turned[static_cast<std::size_t>(y * height + x)] =
                plane[static_cast<std::size_t>(q * width + p)];
        }
    }
    return turned;
}

// 4:2:2 turned a quarter is 4:4:0: every sample kept, said once.
TEST_F(UprightRun, QuarterTurned422Becomes440WithTheSameSamples) {
    MakePhoneClip("yuv422p", 90);
    const RunResult run =
        Render(out_ / "phone.mp4", out_ / "upright.mkv", {"--mask", "0,0,w2,h2"});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    EXPECT_NE(run.errorText.find("yuv422p pictures turned upright are yuv440p"),
              std::string::npos)
        << run.errorText;
    RunFfmpeg("-noautorotate -i '" + out_ / "phone.mp4" + "' -f rawvideo -pix_fmt yuv422p '" +
              out_ / "stored.raw" + "'");
    const std::vector<std::uint8_t> stored = ReadBytes(out_ / "stored.raw");
    const std::vector<std::uint8_t> output =
        RawFrames(out_ / "upright.mkv", "yuv440p", out_ / "output.raw");
    const int lumaBytes = kStoredWidth * kStoredHeight;
    const int chromaBytes = lumaBytes / 2;
    ASSERT_EQ(stored.size(), static_cast<std::size_t>(kFrames * (lumaBytes + 2 * chromaBytes)));
    ASSERT_EQ(output.size(), stored.size());
    // The turn FFmpeg makes of the luma tells which turn the matrix asks
    // for (its turn takes no 4:2:2: it widens the chroma, the luma as it is).
    const std::vector<std::uint8_t> gray =
        RawFrames(out_ / "phone.mp4", "yuv444p", out_ / "seen.raw");
    const std::vector<std::uint8_t> storedLuma(stored.begin(), stored.begin() + lumaBytes);
    const std::vector<std::uint8_t> seenLuma(gray.begin(), gray.begin() + lumaBytes);
    int found = -1;
    for (int mirrors = 0; mirrors < 4; ++mirrors) {
        if (Turned(storedLuma, kStoredWidth, kStoredHeight, (mirrors & 1) != 0,
                   (mirrors & 2) != 0) == seenLuma) {
            found = mirrors;
        }
    }
    ASSERT_GE(found, 0) << "FFmpeg's turn is no quarter turn";
    const std::size_t frameBytes = static_cast<std::size_t>(lumaBytes + 2 * chromaBytes);
    for (int frame = 0; frame < kFrames; ++frame) {
        for (int plane = 1; plane < 3; ++plane) {
            const std::size_t at =
                frame * frameBytes + lumaBytes +
                static_cast<std::size_t>((plane - 1) * chromaBytes);
            const std::vector<std::uint8_t> chroma(stored.begin() + at,
                                                   stored.begin() + at + chromaBytes);
            const std::vector<std::uint8_t> expected =
                Turned(chroma, kStoredWidth / 2, kStoredHeight, (found & 1) != 0,
                       (found & 2) != 0);
            // The 2x2 mask's corner aside (one chroma row of the upright picture).
            const std::vector<std::uint8_t> written(output.begin() + at,
                                                    output.begin() + at + chromaBytes);
            EXPECT_TRUE(std::equal(expected.begin() + kStoredHeight, expected.end(),
                                   written.begin() + kStoredHeight))
                << "frame " << frame << " plane " << plane;
        }
    }
}

// The overlay's own display matrix is honoured: a turned overlay is laid in
// as FFmpeg shows it, and placed by its upright shape.
TEST_F(UprightRun, OverlayIsTurnedAsItIsSeen) {
    RunFfmpeg("-f lavfi -i testsrc2=size=48x32:rate=25 -frames:v 3 -pix_fmt yuv444p "
              "-c:v libx264 -preset ultrafast -qp 0 '" + out_ / "overlay-plain.mp4" + "'");
    RunFfmpeg("-i '" + out_ / "overlay-plain.mp4" + "' -c copy -metadata:s:v:0 rotate=90 '" +
              out_ / "overlay-phone.mp4" + "'");
    // FFmpeg's own turn of it, stored upright losslessly.
    RunFfmpeg("-i '" + out_ / "overlay-phone.mp4" + "' -c:v ffv1 '" + out_ / "overlay-seen.mkv" +
              "'");
    const auto render = [this](const std::string& overlay, const std::string& name) {
        const RunResult run = RunQuillmere({"render", Clip("main.mkv"), "-o", out_ / name, "-q",
                                            "--overlay", overlay, "--position", "top-left"});
        EXPECT_EQ(run.exitCode, 0) << run.errorText;
        return DecodeAll(out_ / name);
    };
    const std::vector<Picture> turned = render(out_ / "overlay-phone.mp4", "turned.mkv");
    const std::vector<Picture> seen = render(out_ / "overlay-seen.mkv", "seen.mkv");
    ASSERT_EQ(turned.size(), seen.size());
    for (std::size_t frame = 0; frame < seen.size(); ++frame) {
        std::string where;
        EXPECT_TRUE(SameColors(turned[frame], seen[frame], where)) << frame << ": " << where;
    }
    // A third of 160 wide, 32:48 upright: 53 x 80 (stored it would be 53 x 35).
    const RunResult place =
        RunQuillmere({"place", Clip("main.mkv"), "--overlay", out_ / "overlay-phone.mp4"});
    EXPECT_NE(place.outputText.find("the overlay 53x80"), std::string::npos) << place.outputText;
}

}  // namespace
