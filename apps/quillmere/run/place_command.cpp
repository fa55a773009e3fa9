// quillmere place: the mask a placement gives on MAIN, and the script line
// that sets it in the plug-in.
#include <cstdio>

#include "apps/quillmere/plan/input_facts.h"
#include "apps/quillmere/plan/planning.h"
#include "apps/quillmere/run/commands.h"
#include "apps/quillmere/run/job_steps.h"
#include "apps/quillmere/runner_error.h"

int RunPlace(const CommandLine& line) {
    const InputFacts facts = GatherFacts(line);
    const RenderJob job = PlanJob(line, facts);
    SayNotes(job);
    // The picture the mask is on: upright unless kept as stored.
    const PictureShape main = facts.main.TurnedBy(job.main.turn);
    const FilterData& mask = job.settings;
    const long long left = mask.maskLeft;
    const long long top = mask.maskTop;
    const long long right = mask.maskRight;
    const long long bottom = mask.maskBottom;
    std::printf("mask %lld,%lld,%lld,%lld: the overlay %lldx%lld at %lld,%lld on %dx%d "
                "(stretched to fit)\n",
                left, top, right, bottom, right - left, bottom - top, left, top,
                main.width, main.height);
    std::printf("Config(%lld,%lld,%lld,%lld)\n", left, top, right, bottom);
    return kExitSuccess;
}
