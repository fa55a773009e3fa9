#include "apps/quillmere/edit/edit_session.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>

#include "apps/quillmere/cli/command_text.h"
#include "apps/quillmere/cli/filter_settings.h"
#include "apps/quillmere/cli/settings_file.h"
#include "apps/quillmere/edit/mask_release.h"
#include "apps/quillmere/media/video_reader.h"
#include "apps/quillmere/overlay/overlay_timeline.h"
#include "apps/quillmere/plan/frame_time.h"
#include "apps/quillmere/plan/planning.h"
#include "hostkit/quoted_text.h"
#include "ui/mask_text.h"
#include "ui/position_readouts.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr int kBadRequest = 400;
constexpr int kConflict = 409;
constexpr int kAskFirst = 412;
constexpr int kFailed = 500;

// The dialog reads at most this many characters of its mask text.
constexpr std::size_t kMaskTextLimit = 255;
constexpr std::size_t kMaskTextCapacity = 64;
// The page's name for the mask text, as its refusals name it.
constexpr const char* kMaskTextField = "Corners";
constexpr const char* kKeyedMaskRefusal =
    "the mask moves by keys (--key), which this page does not change yet; edit the keys on the "
    "command line or in the settings file";
// Marks a released mask as moved whole, not drawn or resized.
constexpr const char* kMovedField = "moved";

// What the command line shows for an output not named at start.
constexpr const char* kOutputPlaceholder = "OUT.mkv";
// Where a frame job would write: planning wants a name, nothing is written.
constexpr const char* kPreviewName = "preview.png";

const char* const kOverwriteNames[] = {"ask", "always", "never"};
const char* const kRenderStateNames[] = {"idle", "running", "done", "failed", "cancelled"};

MaskCorners MaskOf(const FilterData& filter) {
    return MaskCorners{filter.maskLeft, filter.maskTop, filter.maskRight, filter.maskBottom};
}

Json CornersJson(const MaskCorners& mask) {
    return Json{{"left", mask.left}, {"top", mask.top}, {"right", mask.right},
                {"bottom", mask.bottom}};
}

Json ShapeJson(const PictureShape& shape) {
    return Json{{"width", shape.width},
                {"height", shape.height},
                {"sampleAspect", Json::array({shape.sampleAspect.num, shape.sampleAspect.den})},
                {"alpha", shape.hasAlpha}};
}

// The plug-in's read-outs, but for the size: the dialog counts both corners,
// the page shows the pixels drawn between the corners it shows (none for a
// mask wholly off the picture), as --mask takes a size.
Json ReadoutsJson(const PositionReadouts& readouts) {
    const auto drawn = [](std::int64_t from, std::int64_t to) {
        return std::max<std::int64_t>(to - from, 0);
    };
    return Json{{"left", readouts.left},
                {"top", readouts.top},
                {"right", readouts.right},
                {"bottom", readouts.bottom},
                {"width", drawn(readouts.left, readouts.right)},
                {"height", drawn(readouts.top, readouts.bottom)}};
}

// The overlay's height over its width in main pixels, what Keep Aspect
// keeps, worked out as the plug-in works out its ratio: one division of
// whole numbers (0.5625 for 320x180, exactly).
double HeightPerWidth(const PictureShape& main, const std::optional<PictureShape>& overlay) {
    const PictureShape& shape = overlay ? *overlay : main;
    const std::int64_t height = std::int64_t{shape.height} * shape.sampleAspect.den *
                                main.sampleAspect.num;
    const std::int64_t width = std::int64_t{shape.width} * shape.sampleAspect.num *
                               main.sampleAspect.den;
    return width > 0 ? static_cast<double>(height) / static_cast<double>(width) : 1.0;
}

std::string CurrentFolder() {
    char folder[PATH_MAX];
    return getcwd(folder, sizeof folder) != nullptr ? std::string(folder) : std::string();
}

// Whether `path` names a file from the current folder: not absolute, not
// standard input, not an address (scheme://...).
bool IsRelativePath(const std::string& path) {
    return !path.empty() && path[0] != '/' && path != kStandardInputName &&
           path.find("://") == std::string::npos;
}

std::string AbsolutePath(const std::string& path) {
    const std::string folder = CurrentFolder();
    if (!IsRelativePath(path) || folder.empty()) {
        return path;
    }
    std::size_t start = 0;
    while (path.compare(start, 2, "./") == 0) {
        start += 2;
    }
    return folder + (folder.back() == '/' ? "" : "/") + path.substr(start);
}

// The mask set by hand from now on. A placement stretched the overlay to
// fit; the mask that replaces it keeps doing so.
void SetMaskByHand(const MaskCorners& mask, bool wasPlaced, CommandLine& line) {
    SetMask(mask, line.settings);
    line.maskGiven = true;
    line.placement = PlacementRequest{};
    if (wasPlaced) {
        line.settings.fitToFrame = 1;
    }
}

// The page works in frames and sets the mask itself: times become frames
// once, and a script's mask becomes the mask.
EditStart Settled(EditStart start) {
    CommandLine& line = start.line;
    ResolveTimedOptions(line, start.facts.mainRate);
    // Fades stay as given: they are durations, which planning measures.
    line.times.at.reset();
    line.times.rangeStart.reset();
    line.times.rangeEnd.reset();
    line.times.offset.reset();
    if (start.facts.scriptMask) {
        SetMask(*start.facts.scriptMask, line.settings);
        line.maskGiven = true;
        line.scriptPath.clear();
        start.facts.scriptMask.reset();
    }
    return start;
}

}  // namespace

EditSession::EditSession(EditStart start, EditWork& work, SettingsWriter writeSettings)
    : start_(Settled(std::move(start))), work_(work), writeSettings_(writeSettings) {
    try {
        Adopt(start_.line);
    } catch (const RequestError& error) {
        throw UsageError(error.what());
    }
    // The pictures as the page shows them: turned as planning turns them.
    const RenderJob job = PlanFrame(line_, 0);
    main_ = start_.facts.main.TurnedBy(job.main.turn);
    if (start_.facts.overlay) {
        overlay_ = start_.facts.overlay->TurnedBy(job.overlay.adaptation.turn);
    }
}

RenderJob EditSession::PlanFrame(const CommandLine& settings, long frame) const {
    CommandLine line = settings;
    line.command = Command::Frame;
    line.output = kPreviewName;
    line.frameAt = frame;
    line.times.at = FrameOrTime::Frames(frame);
    try {
        return PlanJob(line, start_.facts);
    } catch (const UsageError& error) {
        throw RequestError(kBadRequest, error.what());
    }
}

CommandLine EditSession::LineFor(Command command) const {
    std::lock_guard<std::mutex> lock(mutex_);
    CommandLine line = line_;
    line.command = command;
    if (command == Command::Frame) {
        line.output = kPreviewName;
    }
    return line;
}

void EditSession::Adopt(CommandLine candidate) {
    // Without a seed (none given, or null sent) the session picks one: the
    // clock's seed would differ from run to run, and neither the page's
    // pictures nor its command line could show the frames a render gives.
    if (!candidate.seed) {
        candidate.seed = static_cast<std::uint32_t>(std::random_device{}());
    }
    // A placement stretches to fit; the settings say so, as planning does.
    if (PlacesOverlay(candidate)) {
        candidate.settings.fitToFrame = 1;
    }
    settled_ = PlanFrame(candidate, 0).settings;
    line_ = candidate;
    ++revision_;
}

std::string EditSession::SettingsText() const {
    CommandLine line = line_;
    line.overlayPath = AbsolutePath(line.overlayPath);
    return SettingsFileText(line);
}

Json EditSession::DescribeLocked() const {
    const InputFacts& facts = start_.facts;
    Json overlay = nullptr;
    if (overlay_) {
        overlay = ShapeJson(*overlay_);
        overlay["path"] = line_.overlayPath;
        // A still shows on every frame: it has no count of its own.
        const bool still = overlayLength_ == OverlayTimeline::kStillLength;
        overlay["still"] = still;
        overlay["frames"] = still ? Json(nullptr) : Json(overlayLength_);
    }
    Json main = ShapeJson(main_);
    main["path"] = line_.input;
    main["frames"] = start_.frameCount;
    main["rate"] = Json::array({facts.mainRate.num, facts.mainRate.den});
    main["startFrame"] = line_.frameAt > 0 ? line_.frameAt : 0;

    Json settings = SettingsDocument(line_);
    settings.erase("format");
    settings.erase("version");

    FilterData record = settled_;
    char maskText[kMaskTextCapacity];
    FormatMaskText(record, maskText, sizeof maskText);

    // The line runs from any folder: paths typed relative to the folder
    // edit started in are written out from it, as the settings file writes
    // the overlay's. The page says which folder that was.
    CommandLine render = line_;
    render.command = Command::Render;
    const bool relative = IsRelativePath(render.input) || IsRelativePath(render.output) ||
                          IsRelativePath(render.overlayPath);
    render.input = AbsolutePath(render.input);
    render.output = render.output.empty() ? kOutputPlaceholder : AbsolutePath(render.output);
    render.overlayPath = AbsolutePath(render.overlayPath);
    return Json{
        {"revision", revision_},
        {"main", main},
        {"overlay", overlay},
        {"heightPerWidth", HeightPerWidth(main_, overlay_)},
        {"output", line_.output.empty() ? Json(nullptr) : Json(line_.output)},
        {"settingsFile", line_.settingsPath.empty() ? Json(nullptr) : Json(line_.settingsPath)},
        {"overwrite", kOverwriteNames[static_cast<int>(line_.overwrite)]},
        {"settings", settings},
        {"choices", SettingsChoices()},
        {"mask", CornersJson(MaskOf(settled_))},
        {"maskText", maskText},
        {"readouts",
         ReadoutsJson(MeasurePosition(settled_.maskLeft, settled_.maskTop, settled_.maskRight,
                                      settled_.maskBottom, main_.width, main_.height))},
        {"commandLine", ShellCommandLine(RenderCommandWords(render))},
        {"commandFolder", relative ? Json(CurrentFolder()) : Json(nullptr)},
        {"configLine", ConfigLine(settled_)},
        {"settingsText", SettingsText()},
    };
}

void EditSession::SetOverlayLength(long frames) {
    std::lock_guard<std::mutex> lock(mutex_);
    overlayLength_ = frames;
}

Json EditSession::Describe() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return DescribeLocked();
}

Json EditSession::Change(const Json& changes) {
    if (!changes.is_object()) {
        throw RequestError(kBadRequest, "settings must be a JSON object");
    }
    std::lock_guard<std::mutex> lock(mutex_);
    CommandLine candidate = line_;
    Json named = changes;
    if (!line_.keys.empty() &&
        (named.contains("maskText") || named.contains("mask") || named.contains("placement"))) {
        // The page moves one mask; the keys stay as the command line or the
        // settings file gave them.
        throw RequestError(kBadRequest, kKeyedMaskRefusal);
    }
    if (named.contains("maskText")) {
        const Json text = named["maskText"];
        named.erase("maskText");
        if (!text.is_string()) {
            throw RequestError(kBadRequest, "maskText must be text such as \"10 20 w320 h180\"");
        }
        if (named.contains("mask") || named.contains("placement")) {
            throw RequestError(kBadRequest,
                               "maskText sets the mask, and so does mask or placement; give one");
        }
        const std::string value = text.get<std::string>();
        if (value.size() > kMaskTextLimit) {
            throw RequestError(kBadRequest, "maskText is longer than the dialog's " +
                                                std::to_string(kMaskTextLimit) + " characters");
        }
        // Read as --mask reads, so that what the page takes the command line
        // takes too, and a text it cannot read is refused with the reason
        // rather than half read.
        FilterData mask{};
        try {
            ParseMask(kMaskTextField, value, mask);
        } catch (const UsageError& error) {
            throw RequestError(kBadRequest, error.what());
        }
        SetMaskByHand(MaskOf(mask), PlacesOverlay(line_), candidate);
    }
    const bool wasPlaced = PlacesOverlay(line_);
    try {
        ApplySettingsChanges(named, SettingsOrigin::Page, "", candidate);
    } catch (const UsageError& error) {
        throw RequestError(kBadRequest, error.what());
    }
    if (named.contains("mask") && wasPlaced) {
        candidate.settings.fitToFrame = 1;
    }
    Adopt(candidate);
    return DescribeLocked();
}

Json EditSession::ReleaseMask(const Json& release) {
    if (!release.is_object()) {
        throw RequestError(kBadRequest, "a released mask is a JSON object of its corners");
    }
    Json corners = release;
    MaskDrag drag = MaskDrag::Drawn;
    if (corners.contains(kMovedField)) {
        if (!corners[kMovedField].is_boolean()) {
            throw RequestError(kBadRequest, std::string(kMovedField) + " must be true or false");
        }
        if (corners[kMovedField].get<bool>()) {
            drag = MaskDrag::Moved;
        }
        corners.erase(kMovedField);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    CommandLine candidate = line_;
    try {
        ApplySettingsChanges(Json{{"mask", corners}}, SettingsOrigin::Page, "", candidate);
    } catch (const UsageError& error) {
        throw RequestError(kBadRequest, error.what());
    }
    const PictureShape& main = main_;
    SetMaskByHand(SettleReleasedMask(MaskOf(candidate.settings), drag, main.width, main.height),
                  PlacesOverlay(line_), candidate);
    Adopt(candidate);
    return DescribeLocked();
}

Json EditSession::Readouts(const std::string& corners) const {
    FilterData mask{};
    try {
        ParseMask("mask", corners, mask);
    } catch (const UsageError& error) {
        throw RequestError(kBadRequest, error.what());
    }
    const PictureShape& main = main_;
    return ReadoutsJson(MeasurePosition(mask.maskLeft, mask.maskTop, mask.maskRight,
                                        mask.maskBottom, main.width, main.height));
}

ComposedPicture EditSession::Picture(const std::string& at, bool keyFrameFirst,
                                     const std::string& over) {
    long shown = 0;
    if (!over.empty()) {
        try {
            shown = ParseInteger("over", over, 0, INT32_MAX);
        } catch (const UsageError& error) {
            throw RequestError(kBadRequest, error.what());
        }
    }
    const RenderJob job = FrameJob(at);
    try {
        return work_.Compose(job, keyFrameFirst, shown);
    } catch (const RunnerError& error) {
        throw RequestError(kFailed, error.what());
    }
}

RenderJob EditSession::FrameJob(const std::string& at) const {
    std::int64_t frame = 0;
    try {
        frame = ParseFrameOrTime("at", at, false, 0, INT32_MAX).FrameAt(start_.facts.mainRate);
    } catch (const UsageError& error) {
        throw RequestError(kBadRequest, error.what());
    }
    if (start_.frameCount > 0 && frame >= start_.frameCount) {
        throw RequestError(kBadRequest, Quoted(start_.line.input) + " has frames 0 to " +
                                            std::to_string(start_.frameCount - 1) +
                                            ", not frame " + std::to_string(frame));
    }
    return PlanFrame(LineFor(Command::Frame), static_cast<long>(frame));
}

ComposedPicture EditSession::PlaybackPicture(const std::string& at, const std::string& width) {
    long pixels = 0;
    try {
        pixels = ParseInteger("width", width, 1, INT32_MAX);
    } catch (const UsageError& error) {
        throw RequestError(kBadRequest, error.what());
    }
    const RenderJob job = FrameJob(at);
    try {
        return work_.Preview(job, static_cast<int>(pixels));
    } catch (const RunnerError& error) {
        throw RequestError(kFailed, error.what());
    }
}

Json EditSession::Save() {
    std::string path;
    std::string text;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        path = line_.settingsPath;
        text = SettingsText();
    }
    if (path.empty()) {
        throw RequestError(kConflict,
                           "no settings file was named at start: start with --settings FILE");
    }
    try {
        writeSettings_(path, text);
    } catch (const RunnerError& error) {
        throw RequestError(kFailed, error.what());
    }
    return Json{{"saved", path}};
}

Json EditSession::StartRender(const Json& request) {
    if (!request.is_object()) {
        throw RequestError(kBadRequest, "a render request is a JSON object");
    }
    bool replace = false;
    for (const auto& [key, value] : request.items()) {
        if (key != "replace") {
            throw RequestError(kBadRequest, "unknown field " + Quoted(key));
        }
        if (!value.is_boolean()) {
            throw RequestError(kBadRequest, "replace must be true or false");
        }
        replace = value.get<bool>();
    }
    const CommandLine render = LineFor(Command::Render);
    if (render.output.empty()) {
        throw RequestError(kConflict, "no output was named at start: start with -o OUT");
    }
    // -y and -n decide for the page as they decide for render.
    if (render.overwrite != OverwritePolicy::Ask) {
        replace = render.overwrite == OverwritePolicy::Always;
    }
    try {
        work_.StartRender(render, replace);
    } catch (const OutputExistsError& error) {
        // Without -y or -n the page asks, and asks again with replace.
        throw RequestError(render.overwrite == OverwritePolicy::Ask ? kAskFirst : kConflict,
                           error.what());
    } catch (const RunnerError& error) {
        throw RequestError(kConflict, error.what());
    }
    return RenderProgress();
}

Json EditSession::RenderProgress() const {
    const RenderStatus status = work_.renderStatus();
    Json secondsLeft = nullptr;
    if (start_.frameCount > 0 && status.fps > 0 && status.state == RenderStatus::State::Running) {
        secondsLeft = static_cast<double>(std::max<std::int64_t>(
                          0, start_.frameCount - status.frames)) /
                      status.fps;
    }
    return Json{
        {"state", kRenderStateNames[static_cast<int>(status.state)]},
        {"frames", status.frames},
        {"totalFrames", start_.frameCount},
        {"fps", status.fps},
        {"speed", status.speed},
        {"secondsLeft", secondsLeft},
        {"message", status.message},
    };
}

Json EditSession::CancelRender() {
    work_.CancelRender();
    return RenderProgress();
}
