// The page's session: the settings being edited and everything the page is
// told about them (the mask, its read-outs and text, the command line, the
// script line, the settings file). Every request of the page comes here as
// JSON and goes back as JSON; the work it asks for goes through EditWork.
// Requests may come on several threads at once.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "apps/quillmere/edit/edit_work.h"
#include "apps/quillmere/overwrite_check.h"

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
    EditInputs inputs;
    EditSettings settings;       // from the settings file and the command line
    std::string outputPath;      // -o: where Render writes; empty: none given
    std::string settingsPath;    // --settings: where Save writes; empty: none given
    OverwritePolicy overwrite = OverwritePolicy::Ask;
    // Options given at start that are not settings (encoding and the like),
    // carried into the command line the page shows.
    std::vector<std::string> otherOptions;
};

// Writes the settings file's text to `path`, whole or not at all.
using SettingsWriter = void (*)(const std::string& path, const std::string& text);

class EditSession {
public:
    // Throws UsageError when the starting settings' mask draws nothing.
    EditSession(EditStart start, EditWork& work, SettingsWriter writeSettings);

    // The inputs' facts, the settings and what they give.
    nlohmann::ordered_json Describe() const;
    // Applies the changes the page sent (the settings file's names, and
    // "maskText" in the dialog's own forms) and describes the result.
    nlohmann::ordered_json Change(const nlohmann::ordered_json& changes);
    // The corners of a mask at the release of a drag: put in order, cut back
    // to the picture, and taken as the mask.
    nlohmann::ordered_json ReleaseMask(const nlohmann::ordered_json& corners);
    // The read-outs of "L,T,R,B" (a mask being dragged), changing nothing.
    nlohmann::ordered_json Readouts(const std::string& corners) const;
    // The frame `at` ("312", "12.5s", "1:02.5") composited with the
    // settings as they are now.
    ComposedPicture Picture(const std::string& at, bool keyFrameFirst);
    // Writes the settings file named at start.
    nlohmann::ordered_json Save();
    // {"replace": bool}: starts the render to the output named at start. An
    // output that exists is refused with 412 when the page may ask the user
    // (neither -y nor -n given), else with 409.
    nlohmann::ordered_json StartRender(const nlohmann::ordered_json& request);
    nlohmann::ordered_json RenderProgress() const;
    nlohmann::ordered_json CancelRender();

    EditSettings settings() const;

private:
    nlohmann::ordered_json DescribeLocked() const;
    // Settles the placement into the mask and refuses a mask that draws
    // nothing; `settings_` changes only when `candidate` passes.
    void Adopt(EditSettings candidate);

    mutable std::mutex mutex_;
    const EditStart start_;
    EditSettings settings_;
    long revision_ = 0;  // counts the changes, so the page can tell pictures apart
    EditWork& work_;
    SettingsWriter writeSettings_;
};
