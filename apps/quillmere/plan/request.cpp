#include "apps/quillmere/plan/request.h"

#include "ui/config_dialog.h"

FilterData DialogDefaultSettings() {
    FilterData settings{};
    ApplyFirstOpenDefaults(settings);
    return settings;
}

CommandLine::CommandLine() : settings(DialogDefaultSettings()) {}
