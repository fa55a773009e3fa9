// A sharp downscale: a zone plate scaled 4x down into the mask. Its ideal
// small picture is computed here (the rings where the small picture can
// hold them, flat grey where it cannot); the runner's --scaler lanczos must
// come within 1 dB PSNR of libswscale's own lanczos scaling of the same
// picture, and clearly closer than the filter's bilinear stretch.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "tests/apps/runner_harness.h"

namespace {

constexpr int kSourceWidth = 640;
constexpr int kSourceHeight = 480;
constexpr int kFactor = 4;
constexpr int kTargetWidth = kSourceWidth / kFactor;
constexpr int kTargetHeight = kSourceHeight / kFactor;
constexpr int kMaskLeft = 80;
constexpr int kMaskTop = 60;
// Phase k * r^2: the rings reach 0.45 cycles per source pixel in the corners.
constexpr double kChirp = 0.0035;
// Above this many cycles per target pixel the ideal small picture is flat.
constexpr double kPassBand = 0.35;
constexpr double kPi = 3.14159265358979323846;

double ZonePlate(double x, double y) {
    const double dx = x - kSourceWidth / 2.0;
    const double dy = y - kSourceHeight / 2.0;
    return 128.0 + 127.0 * std::sin(kChirp * (dx * dx + dy * dy));
}

// The ideal target pixel (x, y): the plate at the pixel's centre where the
// rings' local frequency fits the target, mid-grey where it does not.
double Ideal(int x, int y) {
    const double sourceX = (x + 0.5) * kFactor;
    const double sourceY = (y + 0.5) * kFactor;
    const double radius = std::hypot(sourceX - kSourceWidth / 2.0, sourceY - kSourceHeight / 2.0);
    const double cyclesPerTargetPixel = kFactor * 2.0 * kChirp * radius / (2.0 * kPi);
    return cyclesPerTargetPixel < kPassBand ? ZonePlate(sourceX - 0.5, sourceY - 0.5) : 128.0;
}

// PSNR of a small grey picture (green bytes) against the ideal.
double Psnr(const std::vector<double>& picture) {
    double squared = 0;
    for (int y = 0; y < kTargetHeight; ++y) {
        for (int x = 0; x < kTargetWidth; ++x) {
            const double error = picture[static_cast<std::size_t>(y) * kTargetWidth + x] - Ideal(x, y);
            squared += error * error;
        }
    }
    const double mean = squared / (kTargetWidth * kTargetHeight);
    return 10.0 * std::log10(255.0 * 255.0 / mean);
}

std::vector<double> MaskOf(const Picture& picture) {
    std::vector<double> values;
    for (int y = 0; y < kTargetHeight; ++y) {
        for (int x = 0; x < kTargetWidth; ++x) {
            values.push_back(picture.row(kMaskTop + y)[4 * (kMaskLeft + x) + 1]);
        }
    }
    return values;
}

class ZonePlateDownscale : public testing::Test {
protected:
    void SetUp() override {
        RunFfmpeg("-f lavfi -i \"color=c=black:s=640x480:d=0.04,format=gray,geq=lum='128+127*sin(" +
                  std::to_string(kChirp) + "*((X-W/2+0.5)*(X-W/2+0.5)+(Y-H/2+0.5)*(Y-H/2+0.5)))'\" "
                  "-frames:v 1 '" + plate_ + "'");
        RunFfmpeg("-f lavfi -i color=c=gray:s=320x240:r=25:d=0.2 -c:v ffv1 '" + main_ + "'");
    }

    std::vector<double> RunnerScaled(const std::vector<std::string>& scaling) {
        const std::string output = folder_ / "scaled.png";
        std::vector<std::string> arguments = {"frame", main_, "--at", "0", "-o", output,
                                              "--overlay", plate_, "--mask", "80,60,240,180",
                                              "--fit", "-y"};
        arguments.insert(arguments.end(), scaling.begin(), scaling.end());
        const RunResult run = RunQuillmere(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.errorText;
        return MaskOf(DecodeAll(output).at(0));
    }

    // libswscale's own lanczos scaling of the plate.
    std::vector<double> LibraryLanczos() {
        const Picture plate = DecodeAll(plate_).at(0);
        Picture small(kTargetWidth, kTargetHeight);
        SwsContext* scaler = sws_getContext(kSourceWidth, kSourceHeight, AV_PIX_FMT_BGRA,
                                            kTargetWidth, kTargetHeight, AV_PIX_FMT_BGRA,
                                            SWS_LANCZOS | SWS_ACCURATE_RND, nullptr, nullptr,
                                            nullptr);
        const std::uint8_t* source = plate.top();
        const int sourceStride = plate.topDownStride();
        std::uint8_t* target = small.top();
        const int targetStride = small.topDownStride();
        sws_scale(scaler, &source, &sourceStride, 0, kSourceHeight, &target, &targetStride);
        sws_freeContext(scaler);
        std::vector<double> values;
        for (int y = 0; y < kTargetHeight; ++y) {
            for (int x = 0; x < kTargetWidth; ++x) {
                values.push_back(small.row(y)[4 * x + 1]);
            }
        }
        return values;
    }

    ScratchFolder folder_;
    std::string plate_ = folder_ / "plate.png";
    std::string main_ = folder_ / "main.mkv";
};

TEST_F(ZonePlateDownscale, LanczosMatchesTheLibraryAndBeatsBilinear) {
    const double library = Psnr(LibraryLanczos());
    const double lanczos = Psnr(RunnerScaled({"--scaler", "lanczos"}));
    const double bilinear = Psnr(RunnerScaled({"--scaler", "bilinear"}));
    const double area = Psnr(RunnerScaled({"--scaler", "area"}));
    RecordProperty("psnr_library_lanczos", std::to_string(library));
    RecordProperty("psnr_runner_lanczos", std::to_string(lanczos));
    RecordProperty("psnr_runner_bilinear", std::to_string(bilinear));
    EXPECT_NEAR(lanczos, library, 1.0);
    EXPECT_GT(lanczos, bilinear + 3.0) << "bilinear " << bilinear << " dB";
    EXPECT_GT(area, bilinear + 3.0) << "area " << area << " dB";
    std::printf("zone plate 4x down, PSNR against the ideal: library lanczos %.2f dB, "
                "--scaler lanczos %.2f dB, area %.2f dB, bilinear %.2f dB\n",
                library, lanczos, area, bilinear);
}

TEST_F(ZonePlateDownscale, AFilteredScalerNeedsSomethingToScaleTo) {
    const RunResult run = RunQuillmere({"frame", main_, "--at", "0", "-o", folder_ / "x.png",
                                        "--overlay", plate_, "--mask", "80,60,240,180",
                                        "--scaler", "lanczos"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.errorText.find("--fit"), std::string::npos) << run.errorText;
}

}  // namespace
