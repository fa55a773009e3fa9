// A window system for the source tests: answers the file chooser as set
// beforehand and remembers what was written into dialog controls.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "source/preset_file_chooser.h"

class RecordingWindowSystem : public PresetFileChooser {
public:
    void SetControlText(HWND dialog, int control, const char* text) override {
        texts[{dialog, control}] = text;
    }
    void SetControlUnsigned(HWND dialog, int control, unsigned value) override {
        numbers[{dialog, control}] = value;
    }

    std::map<std::pair<HWND, int>, std::string> texts;
    std::map<std::pair<HWND, int>, unsigned> numbers;
};

// Puts a window system in place for the life of the object.
class UsingWindowSystem {
public:
    explicit UsingWindowSystem(WindowSystem& windows) : previous_(UseWindowSystem(&windows)) {}
    ~UsingWindowSystem() { UseWindowSystem(previous_); }
    UsingWindowSystem(const UsingWindowSystem&) = delete;
    UsingWindowSystem& operator=(const UsingWindowSystem&) = delete;

private:
    WindowSystem* previous_;
};
