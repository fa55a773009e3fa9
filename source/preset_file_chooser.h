// A window system whose file chooser answers without a window: with a path
// set beforehand, or as if the user cancelled. Native builds have no file
// chooser of their own; tests drive the dialog's "..." button with it, and
// the command-line runner can hand a path through the same request.
#pragma once

#include <string>

#include "platform/window_system.h"

class PresetFileChooser : public WindowSystem {
public:
    // The next requests are confirmed with `path`.
    void AnswerWith(std::string path);
    // The next requests are cancelled.
    void Cancel();

    // Confirms with the preset path when it fits the request's buffer and its
    // folder exists where the request demands that; otherwise fails as the
    // platform's chooser does (result 0, buffer untouched).
    BOOL GetOpenFileName(OpenFileRequest* request) override;

    // The last request as it arrived, and how many there were.
    const OpenFileRequest& lastRequest() const { return lastRequest_; }
    // What the request's buffer held when the chooser was shown.
    const std::string& initialName() const { return initialName_; }
    int requestCount() const { return requestCount_; }

private:
    std::string path_;
    bool confirm_ = false;
    OpenFileRequest lastRequest_{};
    std::string initialName_;
    int requestCount_ = 0;
};
