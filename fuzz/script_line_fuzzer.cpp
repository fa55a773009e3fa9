// The host script's line reader and the filter's Config function.
// Checks: a line that parses prints back as a canonical line that parses to
// the same call; Config sets exactly the four numbers of the line; the
// filter's own script line for the record runs back to the same mask.
#include <cstdint>
#include <string>

#include "apps/quillmere/overlay/filter_host.h"
#include "filter/filter_data.h"
#include "fuzz_input.h"
#include "hostkit/host_services.h"
#include "hostkit/processing_driver.h"
#include "hostkit/script_line.h"

namespace {

constexpr const char* kTarget = "script_line_fuzzer";
constexpr int kHostScriptBuffer = 128;

std::string Canonical(const ScriptCall& call) {
    std::string line = call.function + "(";
    for (std::size_t i = 0; i < call.arguments.size(); ++i) {
        line += (i == 0 ? "" : ",") + std::to_string(call.arguments[i]);
    }
    return line + ")";
}

struct Corners {
    std::int32_t left, top, right, bottom;
    bool operator==(const Corners& other) const {
        return left == other.left && top == other.top && right == other.right &&
               bottom == other.bottom;
    }
};

Corners CornersOf(FilterInstance& instance) {
    const FilterData& record = instance.recordAs<FilterData>();
    return {record.maskLeft, record.maskTop, record.maskRight, record.maskBottom};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);

    ScriptCall call;
    std::string error;
    const bool parsed = ParseScriptLine(line, call, error);
    FUZZ_CHECK(parsed == error.empty(), kTarget, "a parse either succeeds or says why");
    FUZZ_CHECK(error.find('\n') == std::string::npos, kTarget, "error on two lines: " + error);
    if (parsed) {
        ScriptCall again;
        std::string againError;
        FUZZ_CHECK(ParseScriptLine(Canonical(call), again, againError), kTarget,
                   "canonical line does not parse: " + Canonical(call));
        FUZZ_CHECK(again.function == call.function && again.arguments == call.arguments, kTarget,
                   "canonical line parses differently: " + Canonical(call));
    }

    // Each run registers the module and unloads it at the end, as a host
    // does around a session: the filter releases what it tracks only then.
    const FilterModuleSession module;
    FilterInstance instance(module.definition());
    FilterData& record = instance.recordAs<FilterData>();
    record.maskLeft = 11;
    record.maskTop = 22;
    record.maskRight = 33;
    record.maskBottom = 44;
    std::string problem;
    const bool ran = RunScriptLine(instance.activation(), line, problem);
    const bool isConfig = parsed && call.function == "Config" && call.arguments.size() == 4;
    FUZZ_CHECK(ran == isConfig, kTarget, "runs exactly the lines that call Config(l,t,r,b)");
    const Corners corners = CornersOf(instance);
    if (!ran) {
        FUZZ_CHECK((corners == Corners{11, 22, 33, 44}), kTarget,
                   "a refused line changed the mask");
        return 0;
    }
    FUZZ_CHECK((corners == Corners{call.arguments[0], call.arguments[1], call.arguments[2],
                                   call.arguments[3]}),
               kTarget, "Config did not set the line's numbers");

    // The line the filter writes into the host's script reads back the same.
    char written[kHostScriptBuffer] = {};
    FUZZ_CHECK(instance.definition().fssProc(&instance.activation(), &HostFilterFunctions(),
                                             written, sizeof written),
               kTarget, "the filter wrote no script line");
    FilterInstance other(module.definition());
    FUZZ_CHECK(RunScriptLine(other.activation(), written, problem), kTarget,
               std::string("the filter's own line does not run: ") + written);
    FUZZ_CHECK(CornersOf(other) == corners, kTarget,
               std::string("the filter's own line reads back differently: ") + written);
    return 0;
}
