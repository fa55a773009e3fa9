#include "apps/quillmere/plan/segment_job.h"

#include <cstdio>

#include "apps/quillmere/plan/job_fingerprint.h"
#include "apps/quillmere/runner_error.h"

namespace {

// The filter's settings that shape its output, by name (the record's
// pointers, paths and per-run counters are left out).
struct SettingField {
    const char* name;
    std::int32_t FilterData::*field;
};
const SettingField kSettingFields[] = {
    {"mask left", &FilterData::maskLeft},
    {"mask top", &FilterData::maskTop},
    {"mask right", &FilterData::maskRight},
    {"mask bottom", &FilterData::maskBottom},
    {"fit", &FilterData::fitToFrame},
    {"maintain black", &FilterData::maintainBlack},
    {"range", &FilterData::useFrameRange},
    {"range start", &FilterData::rangeStart},
    {"range end", &FilterData::rangeEnd},
    {"repeat", &FilterData::repeatVideo},
    {"border", &FilterData::borderOn},
    {"border size", &FilterData::borderSize},
    {"keep aspect", &FilterData::keepAspect},
    {"offset", &FilterData::frameOffset},
    {"reverse", &FilterData::reverse},
    {"bilinear", &FilterData::bilinear},
    {"shadow", &FilterData::shadowOn},
    {"shadow size", &FilterData::shadowSize},
    {"shadow percent", &FilterData::shadowPercent},
    {"shadow style", &FilterData::shadowType},
    {"shadow shift", &FilterData::shadowShift},
};

std::string Rational(AVRational value) {
    return std::to_string(value.num) + "/" + std::to_string(value.den);
}

std::string FingerprintOf(const CommandLine& line, const InputFacts& facts, const RenderJob& job,
                          int count) {
    JobFingerprint fingerprint;
    fingerprint.Add("main", facts.mainScan->identity);
    fingerprint.Add("main stream", static_cast<std::int64_t>(line.videoStream));
    fingerprint.Add("overlay", facts.overlayIdentity);
    fingerprint.Add("overlay stream", static_cast<std::int64_t>(line.overlayStream));
    fingerprint.Add("segments", static_cast<std::int64_t>(count));
    for (const SettingField& setting : kSettingFields) {
        fingerprint.Add(setting.name, static_cast<std::int64_t>(job.settings.*setting.field));
    }
    fingerprint.Add("shadow colour", static_cast<std::int64_t>(job.settings.shadowColor));
    fingerprint.Add("border colour", static_cast<std::int64_t>(job.settings.borderColor));
    // Only a moving mask adds fields, so a still one's fingerprint (and the
    // seed taken from it) stays what it was.
    for (const MaskKey& key : job.motion.keys()) {
        fingerprint.Add("key", std::to_string(key.frame) + "=" + std::to_string(key.left) + "," +
                                   std::to_string(key.top) + "," + std::to_string(key.right) +
                                   "," + std::to_string(key.bottom) + ":" +
                                   EaseNameOf(key.ease));
    }
    fingerprint.Add("seed", line.seed ? std::to_string(*line.seed) : "");
    const OverlayInput& overlay = job.overlay;
    fingerprint.Add("timing", static_cast<std::int64_t>(overlay.adaptation.timing));
    fingerprint.Add("main rate", Rational(overlay.adaptation.mainRate));
    fingerprint.Add("scaler", static_cast<std::int64_t>(overlay.adaptation.scaler));
    fingerprint.Add("alpha", static_cast<std::int64_t>(line.alpha));
    fingerprint.Add("opacity", static_cast<std::int64_t>(line.opacityPercent));
    fingerprint.Add("rgb output", static_cast<std::int64_t>(job.main.asFilterPixels));
    const auto turn = [](const Orientation& orientation) {
        return std::to_string(orientation.transpose) + std::to_string(orientation.mirrorX) +
               std::to_string(orientation.mirrorY);
    };
    fingerprint.Add("main turn", turn(job.main.turn));
    fingerprint.Add("overlay turn", turn(overlay.adaptation.turn));
    // Only where it changes the frames, so other jobs keep their fingerprints.
    if (overlay.adaptation.sdrToHdr) {
        fingerprint.Add("overlay into HDR", "converted");
    }
    fingerprint.Add("fade in", job.fade.ramp.inFrames);
    fingerprint.Add("fade out", job.fade.ramp.outFrames);
    // Jobs without rounding keep the fingerprints their parts were made with.
    if (job.cornerRadius != 0) {
        fingerprint.Add("corner radius", static_cast<std::int64_t>(job.cornerRadius));
    }
    if (job.output.mix) {
        // Factors with all their digits: the levels as the join mixes them.
        char levels[64];
        std::snprintf(levels, sizeof levels, "%.17g %.17g", job.output.mix->volume,
                      job.output.mix->duck);
        fingerprint.Add("overlay sound", levels);
    }
    const OutputPlan& output = job.output;
    fingerprint.Add("container", output.format != nullptr ? output.format->muxer : "");
    fingerprint.Add("codec", output.encoding.codec);
    fingerprint.Add("crf", output.encoding.crf);
    fingerprint.Add("preset", output.encoding.preset);
    fingerprint.Add("threads", static_cast<std::int64_t>(output.encoding.threads));
    for (const auto& option : output.encoding.options) {
        fingerprint.Add("encoder option", option.first + "=" + option.second);
    }
    return fingerprint.Finish();
}

}  // namespace

std::vector<Segment> SegmentsOf(const InputFacts& facts, int count) {
    const VideoStreamInfo& index = *facts.mainScan->info;
    std::vector<std::int64_t> keyFrames;
    keyFrames.reserve(index.keyFrames.size());
    for (const KeyFrame& key : index.keyFrames) {
        keyFrames.push_back(key.frame);
    }
    return CutSegments(index.length(), keyFrames, count);
}

SegmentJob PlanSegment(const CommandLine& line, const InputFacts& facts, const RenderJob& job) {
    if (!facts.mainScan) {
        throw UsageError("--segment reads the main video more than once: give it as a file, "
                         "not standard input");
    }
    const SegmentChoice choice = *line.segment;
    SegmentJob segment;
    segment.segment = SegmentsOf(facts, choice.count)[static_cast<std::size_t>(choice.index)];
    segment.count = choice.count;
    segment.fingerprint = FingerprintOf(line, facts, job, choice.count);
    segment.mainIdentity = facts.mainScan->identity;
    segment.mainPath = facts.mainAbsolutePath;
    segment.mainIndex = facts.mainScan->info;
    return segment;
}
