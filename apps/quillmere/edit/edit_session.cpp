#include "apps/quillmere/edit/edit_session.h"

#include <unistd.h>

#include <climits>

#include "apps/quillmere/edit/command_text.h"
#include "apps/quillmere/edit/mask_release.h"
#include "apps/quillmere/edit/settings_json.h"
#include "apps/quillmere/frame_time.h"
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

constexpr const char* kOutputPlaceholder = "OUT.mkv";

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

Json ReadoutsJson(const PositionReadouts& readouts) {
    return Json{{"left", readouts.left},   {"top", readouts.top},
                {"right", readouts.right}, {"bottom", readouts.bottom},
                {"width", readouts.width}, {"height", readouts.height}};
}

// The overlay's width over height in main pixels: what Keep Aspect keeps.
double OverlayAspect(const EditInputs& inputs) {
    return inputs.overlay ? AspectInMainPixels(*inputs.overlay, inputs.main)
                          : inputs.main.DisplayAspect();
}

std::string AbsolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') {
        return path;
    }
    char folder[PATH_MAX];
    if (getcwd(folder, sizeof folder) == nullptr) {
        return path;
    }
    return std::string(folder) + "/" + path;
}

}  // namespace

EditSession::EditSession(EditStart start, EditWork& work, SettingsWriter writeSettings)
    : start_(std::move(start)), work_(work), writeSettings_(writeSettings) {
    try {
        Adopt(start_.settings);
    } catch (const RequestError& error) {
        throw UsageError(error.what());
    }
}

void EditSession::Adopt(EditSettings candidate) {
    const PictureShape& main = start_.inputs.main;
    FilterData& filter = candidate.filter;
    if (candidate.placement) {
        const MaskCorners placed = ResolvePlacement(*candidate.placement, main.width,
                                                    main.height, OverlayAspect(start_.inputs));
        filter.maskLeft = static_cast<std::int32_t>(placed.left);
        filter.maskTop = static_cast<std::int32_t>(placed.top);
        filter.maskRight = static_cast<std::int32_t>(placed.right);
        filter.maskBottom = static_cast<std::int32_t>(placed.bottom);
        filter.fitToFrame = 1;
    }
    const MaskCorners mask = MaskOf(filter);
    const std::string reason = WhyMaskDrawsNothing(mask, main.width, main.height);
    if (!reason.empty()) {
        throw RequestError(kBadRequest, "the mask " + std::to_string(mask.left) + "," +
                                            std::to_string(mask.top) + "," +
                                            std::to_string(mask.right) + "," +
                                            std::to_string(mask.bottom) +
                                            " draws nothing: " + reason);
    }
    if (candidate.scaler != OverlayScaler::Filter && filter.fitToFrame == 0) {
        throw RequestError(kBadRequest,
                           "a filtered scaler scales the overlay to the mask: turn on fit");
    }
    settings_ = candidate;
    ++revision_;
}

Json EditSession::DescribeLocked() const {
    const EditInputs& inputs = start_.inputs;
    const FilterData& filter = settings_.filter;
    Json overlay = nullptr;
    if (inputs.overlay) {
        overlay = ShapeJson(*inputs.overlay);
        overlay["path"] = settings_.overlayPath;
        overlay["frames"] = inputs.overlayFrameCount;
    }
    Json main = ShapeJson(inputs.main);
    main["path"] = inputs.mainPath;
    main["frames"] = inputs.frameCount;
    main["rate"] = Json::array({inputs.frameRate.num, inputs.frameRate.den});

    Json settings = SettingsDocument(settings_);
    settings.erase("format");
    settings.erase("version");

    FilterData record = filter;
    char maskText[kMaskTextCapacity];
    FormatMaskText(record, maskText, sizeof maskText);

    const std::string output =
        start_.outputPath.empty() ? kOutputPlaceholder : start_.outputPath;
    return Json{
        {"revision", revision_},
        {"main", main},
        {"overlay", overlay},
        {"overlayAspect", OverlayAspect(inputs)},
        {"output", start_.outputPath.empty() ? Json(nullptr) : Json(start_.outputPath)},
        {"settingsFile",
         start_.settingsPath.empty() ? Json(nullptr) : Json(start_.settingsPath)},
        {"overwrite", kOverwriteNames[static_cast<int>(start_.overwrite)]},
        {"settings", settings},
        {"choices", SettingsChoices()},
        {"mask", CornersJson(MaskOf(filter))},
        {"maskText", maskText},
        {"readouts",
         ReadoutsJson(MeasurePosition(filter.maskLeft, filter.maskTop, filter.maskRight,
                                      filter.maskBottom, inputs.main.width,
                                      inputs.main.height))},
        {"commandLine", ShellCommandLine(RenderCommandWords(settings_, inputs.mainPath, output,
                                                            start_.otherOptions))},
        {"configLine", ConfigLine(filter)},
        {"settingsText", SettingsFileText(settings_)},
    };
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
    EditSettings candidate = settings_;
    Json named = changes;
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
        ReadMaskText(value.c_str(), candidate.filter);
        candidate.placement.reset();
    }
    try {
        ApplySettingsChanges(named, SettingsOrigin::Page, "", candidate);
    } catch (const UsageError& error) {
        throw RequestError(kBadRequest, error.what());
    }
    Adopt(candidate);
    return DescribeLocked();
}

Json EditSession::ReleaseMask(const Json& corners) {
    std::lock_guard<std::mutex> lock(mutex_);
    EditSettings candidate = settings_;
    try {
        ApplySettingsChanges(Json{{"mask", corners}}, SettingsOrigin::Page, "", candidate);
    } catch (const UsageError& error) {
        throw RequestError(kBadRequest, error.what());
    }
    const PictureShape& main = start_.inputs.main;
    const MaskCorners settled =
        SettleReleasedMask(MaskOf(candidate.filter), main.width, main.height);
    candidate.filter.maskLeft = static_cast<std::int32_t>(settled.left);
    candidate.filter.maskTop = static_cast<std::int32_t>(settled.top);
    candidate.filter.maskRight = static_cast<std::int32_t>(settled.right);
    candidate.filter.maskBottom = static_cast<std::int32_t>(settled.bottom);
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
    const PictureShape& main = start_.inputs.main;
    return ReadoutsJson(MeasurePosition(mask.maskLeft, mask.maskTop, mask.maskRight,
                                        mask.maskBottom, main.width, main.height));
}

ComposedPicture EditSession::Picture(const std::string& at, bool keyFrameFirst) {
    const EditInputs& inputs = start_.inputs;
    std::int64_t frame = 0;
    try {
        frame = ParseFrameOrTime("at", at, false, 0, INT32_MAX).FrameAt(inputs.frameRate);
    } catch (const UsageError& error) {
        throw RequestError(kBadRequest, error.what());
    }
    if (inputs.frameCount > 0 && frame >= inputs.frameCount) {
        throw RequestError(kBadRequest, Quoted(inputs.mainPath) + " has frames 0 to " +
                                            std::to_string(inputs.frameCount - 1) +
                                            ", not frame " + std::to_string(frame));
    }
    const EditSettings settings = this->settings();
    try {
        return work_.Compose(settings, static_cast<long>(frame), keyFrameFirst);
    } catch (const RunnerError& error) {
        throw RequestError(kFailed, error.what());
    }
}

Json EditSession::Save() {
    if (start_.settingsPath.empty()) {
        throw RequestError(kConflict,
                           "no settings file was named at start: start with --settings FILE");
    }
    EditSettings settings = this->settings();
    // The file may be read from another folder.
    settings.overlayPath = AbsolutePath(settings.overlayPath);
    try {
        writeSettings_(start_.settingsPath, SettingsFileText(settings));
    } catch (const RunnerError& error) {
        throw RequestError(kFailed, error.what());
    }
    return Json{{"saved", start_.settingsPath}};
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
    if (start_.outputPath.empty()) {
        throw RequestError(kConflict, "no output was named at start: start with -o OUT");
    }
    // -y and -n decide for the page as they decide for render.
    if (start_.overwrite != OverwritePolicy::Ask) {
        replace = start_.overwrite == OverwritePolicy::Always;
    }
    const EditSettings settings = this->settings();
    try {
        work_.StartRender(settings, replace);
    } catch (const OutputExistsError& error) {
        // Without -y or -n the page asks, and asks again with replace.
        throw RequestError(start_.overwrite == OverwritePolicy::Ask ? kAskFirst : kConflict,
                           error.what());
    } catch (const RunnerError& error) {
        throw RequestError(kConflict, error.what());
    }
    return RenderProgress();
}

Json EditSession::RenderProgress() const {
    const RenderStatus status = work_.renderStatus();
    const double rate = av_q2d(start_.inputs.frameRate);
    const double fps = status.elapsedSeconds > 0 ? status.frames / status.elapsedSeconds : 0;
    Json secondsLeft = nullptr;
    if (status.totalFrames > 0 && fps > 0) {
        secondsLeft = static_cast<double>(status.totalFrames - status.frames) / fps;
    }
    return Json{
        {"state", kRenderStateNames[static_cast<int>(status.state)]},
        {"frames", status.frames},
        {"totalFrames", status.totalFrames},
        {"fps", fps},
        {"speed", rate > 0 ? fps / rate : 0},
        {"secondsLeft", secondsLeft},
        {"elapsedSeconds", status.elapsedSeconds},
        {"message", status.message},
    };
}

Json EditSession::CancelRender() {
    work_.CancelRender();
    return RenderProgress();
}

EditSettings EditSession::settings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
}
