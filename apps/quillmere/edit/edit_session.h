// The page's session: the settings being edited, held as the command line
// that gives them, and everything the page is told about them (the mask
// as planning settles it, its read-outs and text, the render command line,
// the script line, the settings file). Every request of the page comes here
// as JSON and goes back as JSON; the work it asks for goes through
// EditWork. Requests may come on several threads at once.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "apps/quillmere/edit/edit_work.h"
#include "apps/quillmere/plan/input_facts.h"

// A request the session turns down: an HTTP status and one line saying why.
class RequestError : public std::runtime_error {
public:
    RequestError(int status, const std::string& reason)
        : std::runtime_error(reason), status_(status) {}
    int status() const { return status_; }

private:
    int status_;
};

// What `quillmere edit` was started with.
struct EditStart {
    // The command line (and settings file) as given; the session resolves
    // its times into frames and takes a script's mask as the mask.
    CommandLine line;
    InputFacts facts;
    std::int64_t frameCount = 0;  // the main's, 0 when unknown
};

// Writes the settings file's text to `path`, whole or not at all.
using SettingsWriter = void (*)(const std::string& path, const std::string& text);

class EditSession {
public:
    // Throws UsageError when the starting settings cannot be planned (a
    // time past the last frame, a mask that draws nothing, a scaler without
    // fit).
    EditSession(EditStart start, EditWork& work, SettingsWriter writeSettings);

    // The inputs' facts, the settings and what they give.
    nlohmann::ordered_json Describe() const;
    // Applies the changes the page sent (the settings file's names, and
    // "maskText", read as --mask reads it) and describes the result.
    nlohmann::ordered_json Change(const nlohmann::ordered_json& changes);
    // The corners of a mask at the release of a drag, with "moved": true
    // when the mask was moved whole: put in order, cut back to the picture
    // unless moved, and taken as the mask.
    nlohmann::ordered_json ReleaseMask(const nlohmann::ordered_json& release);
    // The read-outs of "L,T,R,B" (a mask being dragged), changing nothing.
    nlohmann::ordered_json Readouts(const std::string& corners) const;
    // The frame `at` ("312", "12.5s", "1:02.5") composited with the
    // settings as they are now; `over` ("" or a picture's id) names the
    // picture the page shows, as EditWork::Compose takes it.
    ComposedPicture Picture(const std::string& at, bool keyFrameFirst,
                            const std::string& over = "");
    // The frame `at` as Picture gives it, scaled to `width` ("960") pixels
    // across for playback, as EditWork::Preview makes it.
    ComposedPicture PlaybackPicture(const std::string& at, const std::string& width);
    // Writes the settings file named at start.
    nlohmann::ordered_json Save();
    // {"replace": bool}: starts the render to the output named at start. An
    // output that exists is refused with 412 when the page may ask the user
    // (neither -y nor -n given), else with 409.
    nlohmann::ordered_json StartRender(const nlohmann::ordered_json& request);
    nlohmann::ordered_json RenderProgress() const;
    nlohmann::ordered_json CancelRender();

    // The settings as a command line of `command` (Render or Frame).
    CommandLine LineFor(Command command) const;
    const InputFacts& facts() const { return start_.facts; }
    // The overlay's length as the filter counts it, for the page to show.
    void SetOverlayLength(long frames);

private:
    nlohmann::ordered_json DescribeLocked() const;
    // Frame `at` (a frame or a time) planned with the settings as they are.
    RenderJob FrameJob(const std::string& at) const;
    // `settings` planned as frame `frame`; a usage error is a bad request.
    RenderJob PlanFrame(const CommandLine& settings, long frame) const;
    // Plans `candidate` as a frame job: the mask settled, every usage error
    // found. `line_` changes only when `candidate` passes.
    void Adopt(CommandLine candidate);
    // The settings file's text, with the overlay's path made absolute so
    // that the file reads the same from any folder.
    std::string SettingsText() const;

    mutable std::mutex mutex_;
    const EditStart start_;
    CommandLine line_;
    FilterData settled_;  // line_'s settings as planning settles them
    // The main and the overlay as the page shows them (turned upright
    // unless --keep-rotation).
    PictureShape main_;
    std::optional<PictureShape> overlay_;
    long revision_ = 0;   // counts the changes, so the page can tell pictures apart
    long overlayLength_ = 0;
    EditWork& work_;
    SettingsWriter writeSettings_;
};
