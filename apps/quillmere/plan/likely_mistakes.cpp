#include "apps/quillmere/plan/likely_mistakes.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

namespace {

// A --size part below this many pixels on a main wider than kLargePicture
// is more likely a percentage written without its sign.
constexpr double kFewPixels = 100;
constexpr int kLargePicture = 400;

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string LengthText(const PlacementLength& length) {
    return Number(length.value) + (length.percent ? "%" : "");
}

bool FewPixels(const std::optional<PlacementLength>& length) {
    return length && !length->percent && length->value < kFewPixels;
}

// How --size was written, with the parts in question as percentages or not.
std::string SizeText(const PlacementRequest& request, bool asPercent) {
    const auto part = [asPercent](const std::optional<PlacementLength>& length) {
        if (!length) {
            return std::string();
        }
        return FewPixels(length) && asPercent ? Number(length->value) + "%" : LengthText(*length);
    };
    return part(request.width) + (request.height ? "x" + part(request.height) : "");
}

std::string Seconds(std::int64_t frame, AVRational rate) {
    return Number(static_cast<double>(frame) * rate.den / rate.num) + "s";
}

}  // namespace

std::string SmallSizeNote(const PlacementRequest& request, int mainWidth) {
    const bool width = FewPixels(request.width);
    const bool height = FewPixels(request.height);
    if (mainWidth <= kLargePicture || (!width && !height)) {
        return "";
    }
    std::string read;
    if (width && height) {
        read = Number(request.width->value) + "x" + Number(request.height->value) + " pixels";
    } else if (width) {
        read = Number(request.width->value) + " pixels wide";
    } else {
        read = Number(request.height->value) + " pixels high";
    }
    return "--size " + SizeText(request, false) + " is read as " + read +
           "; for a share of the main picture write --size " + SizeText(request, true);
}

std::string CroppedMaskNote(const MaskCorners& mask, int width, int height,
                            const std::string& origin) {
    if (mask.left >= 0 && mask.top >= 0 && mask.right <= width && mask.bottom <= height) {
        return "";
    }
    const MaskCorners shown{std::max<std::int64_t>(mask.left, 0),
                            std::max<std::int64_t>(mask.top, 0),
                            std::min<std::int64_t>(mask.right, width),
                            std::min<std::int64_t>(mask.bottom, height)};
    const auto corners = [](const MaskCorners& corners) {
        return std::to_string(corners.left) + "," + std::to_string(corners.top) + "," +
               std::to_string(corners.right) + "," + std::to_string(corners.bottom);
    };
    return "the mask " + corners(mask) + " from " + origin + " reaches past the " +
           std::to_string(width) + "x" + std::to_string(height) + " frame; only " +
           corners(shown) + " of it is drawn";
}

// The main's last frame and the time it ends, by its count.
std::string LastFrameText(std::int64_t mainFrames, bool exact, AVRational rate) {
    return std::to_string(mainFrames - 1) + " (" + Seconds(mainFrames, rate) + " of video" +
           (exact ? "" : " by its duration") + ")";
}

void RequireRangeWithinMain(const CommandLine& line, std::int64_t mainFrames, bool exact,
                            AVRational rate) {
    const FilterData& settings = line.settings;
    if (settings.useFrameRange == 0 || mainFrames <= 0) {
        return;
    }
    const std::int64_t lastFrame = mainFrames - 1;
    const std::int64_t start = settings.rangeStart;
    if (start <= lastFrame + (exact ? 0 : 1)) {
        return;
    }
    const bool timed = line.times.rangeStart && line.times.rangeStart->isTime();
    throw UsageError("--range starts at frame " + std::to_string(start) +
                     (timed ? " (" + Seconds(start, rate) + ")" : "") +
                     ", after the main video's last frame, " +
                     LastFrameText(mainFrames, exact, rate) + "): nothing would be drawn");
}

void RequireFrameWithinMain(std::int64_t frame, std::int64_t mainFrames, bool exact,
                            AVRational rate) {
    if (mainFrames <= 0 || frame <= mainFrames - 1 + (exact ? 0 : 1)) {
        return;
    }
    throw UsageError("--at " + std::to_string(frame) + " (" + Seconds(frame, rate) +
                     ") lies after the main video's last frame, " +
                     LastFrameText(mainFrames, exact, rate) + "; frames count from 0");
}

std::string LongFadeNote(const FadeRamp& ramp, AVRational rate) {
    const std::int64_t fading = ramp.inFrames + (ramp.last ? ramp.outFrames : 0);
    // Full weight needs a frame at least inFrames after the first and
    // outFrames before the last (see FadeRamp::WeightAt).
    if (fading == 0 || !ramp.last || *ramp.last - ramp.first >= fading) {
        return "";
    }
    const std::int64_t shown = std::max<std::int64_t>(*ramp.last - ramp.first + 1, 0);
    std::string fades;
    if (ramp.inFrames > 0) {
        fades = "--fade-in (" + std::to_string(ramp.inFrames) + " frames)";
    }
    if (ramp.outFrames > 0) {
        fades += (fades.empty() ? "" : " and ") + std::string("--fade-out (") +
                 std::to_string(ramp.outFrames) + " frames)";
    }
    return fades + (ramp.inFrames > 0 && ramp.outFrames > 0 ? " take" : " takes") +
           " longer than the overlay's " + std::to_string(shown) + " frames (" +
           Seconds(shown, rate) + ") on screen: it never reaches full opacity";
}

std::string DroppedTitlesNote(const std::vector<CarriableStream>& streams,
                              const std::vector<KeptStream>& kept, const OutputFormat& format) {
    if (KeepsStreamTitles(format)) {
        return "";
    }
    std::string titles;
    int count = 0;
    for (const KeptStream& stream : kept) {
        for (const CarriableStream& described : streams) {
            if (described.index == stream.index && !described.title.empty()) {
                titles += (titles.empty() ? "" : ", ") + Quoted(described.title) + " (" +
                          (described.type == AVMEDIA_TYPE_SUBTITLE ? "subtitles" : "audio") +
                          ")";
                ++count;
            }
        }
    }
    if (titles.empty()) {
        return "";
    }
    return std::string("the ") + format.extension +
           " container records no stream titles: the main video's " + titles +
           (count > 1 ? " are left out (.mkv keeps them)" : " is left out (.mkv keeps it)");
}
