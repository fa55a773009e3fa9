// Our Windows test host: plays the real host's part for the real 32-bit
// module. It initialises the AVI file library, loads the module, registers
// its filter with our host services, and then either reports the
// registration, or runs the configuration dialog (optionally driven by
// automation steps) with a preview of its own, and a processing pass whose
// output frames it writes as BMP files.
//
//   quillmere_test_host MODULE register [--refuse]
//   quillmere_test_host MODULE run [--main FILE.avi | --size WxH] [--frames N]
//                       [--at FRAME] [--no-preview] [--out DIR] [STEP...]
//
// With steps, `run` opens the configuration dialog and carries them out (see
// dialog_automation.h); without, it goes straight to processing. Results are
// printed one per line ("key value" or "key=value") for the tests to read.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "host/win_types.h"

#include <vfw.h>

#include "apps/windows_test_host/dialog_automation.h"
#include "apps/windows_test_host/frame_io.h"
#include "apps/windows_test_host/test_preview.h"
#include "filter/filter_data.h"
#include "hostkit/host_services.h"
#include "hostkit/processing_driver.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;
constexpr const char* kFilterName = "Quillmere - Beta";
constexpr int kDefaultWidth = 320;
constexpr int kDefaultHeight = 240;

using ModuleInit = int(HOST_CDECL*)(FilterModule*, const FilterFunctions*, int&, int&);
using ModuleDeinit = void(HOST_CDECL*)(FilterModule*, const FilterFunctions*);

struct LoadedModule {
    HMODULE handle = nullptr;
    ModuleInit init = nullptr;
    ModuleDeinit deinit = nullptr;
    FilterModule record{};
};

bool LoadModule(const char* path, LoadedModule& module) {
    module.handle = LoadLibraryA(path);
    if (module.handle == nullptr) {
        std::fprintf(stderr, "cannot load %s (error %lu)\n", path, GetLastError());
        return false;
    }
    module.init = reinterpret_cast<ModuleInit>(
        reinterpret_cast<void*>(GetProcAddress(module.handle, "VirtualdubFilterModuleInit2")));
    module.deinit = reinterpret_cast<ModuleDeinit>(
        reinterpret_cast<void*>(GetProcAddress(module.handle, "VirtualdubFilterModuleDeinit")));
    if (module.init == nullptr || module.deinit == nullptr) {
        std::fprintf(stderr, "%s lacks the filter module entry points\n", path);
        return false;
    }
    module.record.hInstModule = module.handle;
    module.record.initProc = reinterpret_cast<void*>(module.init);
    module.record.deinitProc = reinterpret_cast<void*>(module.deinit);
    return true;
}

// Services of a host that refuses every registration, counting what the
// module asks of it.
int g_refusedAdds = 0;
int g_tableRequests = 0;
int g_removals = 0;
FilterDefinition* HOST_CDECL RefuseFilter(FilterModule*, FilterDefinition*, int) {
    ++g_refusedAdds;
    return nullptr;
}
void HOST_CDECL CountTableRequest(FilterVTbls*) { ++g_tableRequests; }
void HOST_CDECL CountRemoval(FilterDefinition*) { ++g_removals; }

int Register(LoadedModule& module, bool refuse) {
    FilterFunctions functions = HostFilterFunctions();
    if (refuse) {
        functions.addFilter = &RefuseFilter;
        functions.InitVTables = &CountTableRequest;
        functions.removeFilter = &CountRemoval;
    }
    // The host's own values, which a refused registration must leave alone.
    int version = -7;
    int compatible = -7;
    const int result = module.init(&module.record, &functions, version, compatible);
    std::printf("init-result %d\nversion %d\ncompatible %d\n", result, version, compatible);
    if (refuse) {
        std::printf("add-requests %d\ntable-requests %d\n", g_refusedAdds, g_tableRequests);
    } else if (FilterDefinition* definition = FindRegisteredFilter(kFilterName)) {
        std::printf("name %s\ndescription %s\nmaker %s\ninst-data-size %d\n", definition->name,
                    definition->desc, definition->maker, definition->inst_data_size);
        std::printf("module-matches %d\n", definition->module == &module.record ? 1 : 0);
        std::printf("config-proc %d\nrun-proc %d\nscript %d\n",
                    definition->configProc != nullptr, definition->runProc != nullptr,
                    definition->script_obj != nullptr);
    } else {
        std::printf("name (none)\n");
    }
    module.deinit(&module.record, &functions);
    std::printf("registered-after-deinit %zu\n", RegisteredFilters().size());
    if (refuse) {
        std::printf("removals %d\n", g_removals);
    }
    return 0;
}

void PrintRecord(const FilterData& record) {
    const struct {
        const char* name;
        long value;
    } fields[] = {
        {"maskLeft", record.maskLeft},         {"maskTop", record.maskTop},
        {"maskRight", record.maskRight},       {"maskBottom", record.maskBottom},
        {"frameWidth", record.frameWidth},     {"frameHeight", record.frameHeight},
        {"moveMode", record.moveMode},         {"fitToFrame", record.fitToFrame},
        {"maintainBlack", record.maintainBlack}, {"editing", record.editing},
        {"useFrameRange", record.useFrameRange}, {"rangeStart", record.rangeStart},
        {"rangeEnd", record.rangeEnd},         {"repeatVideo", record.repeatVideo},
        {"overlayLength", record.overlayLength}, {"borderOn", record.borderOn},
        {"borderSize", record.borderSize},     {"keepAspect", record.keepAspect},
        {"overlayWidth", record.overlayWidth}, {"overlayHeight", record.overlayHeight},
        {"frameOffset", record.frameOffset},   {"reverse", record.reverse},
        {"bilinear", record.bilinear},         {"shadowOn", record.shadowOn},
        {"shadowSize", record.shadowSize},     {"shadowPercent", record.shadowPercent},
        {"shadowType", record.shadowType},     {"shadowShift", record.shadowShift},
        {"shadowColor", static_cast<long>(record.shadowColor)},
        {"borderColor", static_cast<long>(record.borderColor)},
        {"defaultsApplied", record.defaultsApplied},
        {"overlayOpen", record.frameGetter != nullptr ? 1L : 0L},
    };
    for (const auto& field : fields) {
        std::printf("record %s=%ld\n", field.name, field.value);
    }
    std::printf("record overlayPath=%s\n", record.overlayPath);
}

struct RunOptions {
    std::string mainPath;
    int width = kDefaultWidth;
    int height = kDefaultHeight;
    long frames = -1;  // all of the main video
    long previewFrame = 0;
    bool withPreview = true;
    std::string outputFolder;
    std::vector<std::string> steps;
};

bool ParseRunOptions(int argc, char** argv, int first, RunOptions& options) {
    for (int i = first; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--main" && hasValue) {
            options.mainPath = argv[++i];
        } else if (argument == "--size" && hasValue) {
            if (std::sscanf(argv[++i], "%dx%d", &options.width, &options.height) != 2 ||
                options.width <= 0 || options.height <= 0) {
                return false;
            }
        } else if (argument == "--frames" && hasValue) {
            options.frames = std::atol(argv[++i]);
        } else if (argument == "--at" && hasValue) {
            options.previewFrame = std::atol(argv[++i]);
        } else if (argument == "--no-preview") {
            options.withPreview = false;
        } else if (argument == "--out" && hasValue) {
            options.outputFolder = argv[++i];
        } else if (argument.rfind("--", 0) == 0) {
            return false;
        } else {
            options.steps.push_back(argument);
        }
    }
    return true;
}

int Process(FilterInstance& instance, MainVideo& video, const RunOptions& options) {
    CreateDirectoryA(options.outputFolder.c_str(), nullptr);
    const long count = options.frames >= 0 && options.frames < video.length() ? options.frames
                                                                              : video.length();
    ProcessingPass pass(instance, video.width(), video.height());
    std::printf("param-result %ld\n", pass.paramResult());
    long written = 0;
    for (long frame = 0; frame < count; ++frame) {
        if (!video.ReadFrame(frame, pass.source().bitmap)) {
            std::fprintf(stderr, "cannot read main frame %ld\n", frame);
            return kExitFailure;
        }
        const int result = pass.RunFrame(frame);
        char path[MAX_PATH];
        std::snprintf(path, sizeof(path), "%s\\frame_%04ld.bmp", options.outputFolder.c_str(),
                      frame);
        if (result != 0 || !WriteBmp(path, pass.output().bitmap)) {
            std::fprintf(stderr, "frame %ld: run result %d, or %s not written\n", frame, result,
                         path);
            return kExitFailure;
        }
        ++written;
    }
    pass.Finish();
    std::printf("frames-written %ld\n", written);
    return 0;
}

// One instance of the registered filter: configured through the dialog when
// there are steps, then run over the main video when there is an output
// folder. The instance is gone before the module is unloaded, as in the host.
int ConfigureAndProcess(const FilterDefinition& definition, const RunOptions& options) {
    std::unique_ptr<MainVideo> video =
        options.mainPath.empty()
            ? GeneratedMainVideo(options.width, options.height,
                                 options.frames > 0 ? options.frames : 1)
            : OpenMainVideo(options.mainPath);
    if (!video) {
        return kExitFailure;
    }

    FilterInstance instance(definition);
    int exitCode = 0;
    if (!options.steps.empty()) {
        TestPreview preview(instance, *video, options.previewFrame);
        instance.activation().ifp = options.withPreview ? preview.Interface() : nullptr;
        DialogAutomation automation(options.steps, &preview);
        automation.Start();
        const int result = definition.configProc(&instance.activation(), &HostFilterFunctions(),
                                                 nullptr);
        std::printf("config-result %d\n", result);
        std::printf("redraws %d\npreview-open-at-end %d\n", preview.RedrawCount(),
                    preview.IsOpen() ? 1 : 0);
        // The host closes its preview when the configuration is over.
        preview.Close();
        std::printf("open-notices %d\nclose-notices %d\n", preview.OpenNotices(),
                    preview.CloseNotices());
        if (!automation.Finished()) {
            std::printf("automation-error %s\n", "the dialog ended before every step ran");
            exitCode = kExitFailure;
        } else if (!automation.Succeeded()) {
            exitCode = kExitFailure;
        }
        instance.activation().ifp = nullptr;
    }
    PrintRecord(instance.recordAs<FilterData>());
    if (exitCode == 0 && !options.outputFolder.empty()) {
        exitCode = Process(instance, *video, options);
    }
    return exitCode;
}

int Run(LoadedModule& module, const RunOptions& options) {
    int version = 0;
    int compatible = 0;
    if (module.init(&module.record, &HostFilterFunctions(), version, compatible) != 0) {
        std::fprintf(stderr, "the module's filter was not registered\n");
        return kExitFailure;
    }
    const FilterDefinition* definition = FindRegisteredFilter(kFilterName);
    int exitCode = kExitFailure;
    if (definition == nullptr) {
        std::fprintf(stderr, "no filter named %s\n", kFilterName);
    } else {
        exitCode = ConfigureAndProcess(*definition, options);
    }
    module.deinit(&module.record, &HostFilterFunctions());
    return exitCode;
}

void Usage() {
    std::fprintf(stderr,
                 "usage: quillmere_test_host MODULE register [--refuse]\n"
                 "       quillmere_test_host MODULE run [--main FILE.avi | --size WxH]"
                 " [--frames N] [--at FRAME] [--no-preview] [--out DIR] [STEP...]\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        Usage();
        return kExitUsage;
    }
    // Every line reaches the tests even when a run is cut short.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const std::string command = argv[2];
    RunOptions options;
    const bool refuse = argc > 3 && std::strcmp(argv[3], "--refuse") == 0;
    if (command == "register" ? argc > 4 || (argc == 4 && !refuse)
                              : command != "run" || !ParseRunOptions(argc, argv, 3, options)) {
        Usage();
        return kExitUsage;
    }

    // The host process, not the module, owns the AVI file library.
    AVIFileInit();
    LoadedModule module;
    int exitCode = kExitFailure;
    if (LoadModule(argv[1], module)) {
        try {
            exitCode = command == "register" ? Register(module, refuse) : Run(module, options);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
            exitCode = kExitFailure;
        }
    }
    std::fflush(stdout);
    // The module's overlay handles live to the end of the process; the
    // library is not shut down under them.
    return exitCode;
}
