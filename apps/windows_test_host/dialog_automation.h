// Drives the configuration dialog the way a user would, one step per timer
// tick from inside the dialog's own message loop: typing into fields,
// clicking buttons, picking list entries, answering the file and colour
// choosers, and pressing, dragging and releasing the mouse on the preview.
//
// Steps (IDs are the dialog's control ids):
//   type:ID=TEXT      focus the field, select all and type TEXT key by key
//   click:ID          click a button (refused, with a note, when disabled)
//   select:ID=INDEX   pick a list entry as the user does
//   state:ID          print the control's text, tick, enabled and read-only state
//   file:PATH         answer the open-file chooser with PATH
//   color:R,G,B       answer the colour chooser with that colour
//   chooser-cancel    cancel whichever chooser is open
//   down:X,Y  move:X,Y  up:X,Y   left-button messages posted to "Filter Preview"
//   save:PATH         write the preview's shown frame as BMP
//   capture:PATH      write what the preview window's client area shows as BMP
//   redraws           print how many redraws the filter has asked for
//   ready:PATH        create PATH (tells a waiting script the dialog is up)
//   await:PATH        wait until PATH exists
//   sleep:MS          wait
//   ok  cancel  close  escape   OK, Cancel, the close box, the Escape key
#pragma once

#include <string>
#include <vector>

#include "host/win_types.h"

class TestPreview;

class DialogAutomation {
public:
    DialogAutomation(std::vector<std::string> steps, TestPreview* preview);
    ~DialogAutomation();

    // Starts the timer; the steps run once the dialog window exists.
    void Start();
    bool Finished() const { return next_ >= steps_.size(); }
    // False when a step was malformed or could not be carried out.
    bool Succeeded() const { return !failed_; }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    void OnTick();
    // Runs one step; false to be called again on a later tick.
    bool RunStep(const std::string& step);
    void Fail(const std::string& step, const char* why);

    std::vector<std::string> steps_;
    TestPreview* preview_;
    std::size_t next_ = 0;
    UINT_PTR timer_ = 0;
    DWORD started_ = 0;
    DWORD waitUntil_ = 0;
    bool failed_ = false;
};
