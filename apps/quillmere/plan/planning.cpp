#include "apps/quillmere/plan/planning.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "apps/quillmere/overlay/sdr_to_hdr.h"
#include "apps/quillmere/plan/job_fingerprint.h"
#include "apps/quillmere/plan/likely_mistakes.h"
#include "apps/quillmere/plan/segment_job.h"
#include "apps/quillmere/plan/segment_start.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {

constexpr std::int64_t kInt32Min = INT32_MIN;
constexpr std::int64_t kInt32Max = INT32_MAX;

std::string CornersText(const MaskCorners& mask) {
    return std::to_string(mask.left) + "," + std::to_string(mask.top) + "," +
           std::to_string(mask.right) + "," + std::to_string(mask.bottom);
}

MaskCorners MaskOf(const FilterData& settings) {
    return MaskCorners{settings.maskLeft, settings.maskTop, settings.maskRight,
                       settings.maskBottom};
}

void AddNote(std::vector<std::string>& notes, const std::string& note) {
    if (!note.empty()) {
        notes.push_back(note);
    }
}

// How a picture is turned for this run: as its display matrix asks, unless
// the stored orientation is kept or the matrix turns by an angle that no
// sample-for-sample turn can show (said in a note).
Orientation TurnFor(const PictureShape& shape, bool keepRotation, const std::string& what,
                    const std::string& consequence, std::vector<std::string>& notes) {
    const DisplayTurn& display = shape.display;
    if (keepRotation || !display.present) {
        return Orientation();
    }
    if (!display.orientation) {
        char degrees[32];
        std::snprintf(degrees, sizeof degrees, "%.3g", display.clockwiseDegrees);
        notes.push_back(what + "'s display matrix turns it by " + degrees +
                        " degrees, not by quarter turns, which no turn sample for sample can "
                        "show: " + consequence);
        return Orientation();
    }
    return *display.orientation;
}

// `origin` names where the mask came from ("--mask", "the placement", ...).
void RequireVisibleMask(const FilterData& settings, const PictureShape& main,
                        const std::string& origin) {
    const MaskCorners mask = MaskOf(settings);
    const std::string reason = WhyMaskDrawsNothing(mask, main.width, main.height);
    if (!reason.empty()) {
        throw UsageError("the mask " + CornersText(mask) + " from " + origin +
                         " draws nothing: " + reason);
    }
}

// The mask a placement gives on the main picture, for the overlay (its
// display aspect) or, without one, for a placeholder of the main's shape.
MaskCorners PlacedMask(const CommandLine& line, const InputFacts& facts) {
    const PictureShape& main = facts.main;
    const double aspect = facts.overlay ? AspectInMainPixels(*facts.overlay, main)
                                        : static_cast<double>(main.width) / main.height;
    return ResolvePlacement(line.placement, main.width, main.height, aspect);
}

// How the overlay is laid over the frame: none when it is simply copied (no
// alpha to use, full opacity), as the plug-in copies it.
std::optional<BlendSettings> BlendFor(const CommandLine& line, const InputFacts& facts) {
    if (!facts.overlay) {
        return std::nullopt;
    }
    BlendSettings blend;
    blend.useSourceAlpha = line.alpha != AlphaMode::Ignore && facts.overlay->hasAlpha;
    // Frames that a filtered scaler has scaled come premultiplied (see
    // AdaptationFor).
    blend.premultiplied =
        line.alpha == AlphaMode::Premultiplied || line.scaler != OverlayScaler::Filter;
    blend.opacity = OpacityFromPercent(line.opacityPercent);
    if (!blend.useSourceAlpha && line.opacityPercent == 100) {
        return std::nullopt;
    }
    return blend;
}

// The part of a stretched overlay that the main picture shows, in the
// mask's pixels; empty when it shows all of it (or none).
OutputWindow DrawnWindow(const MaskCorners& mask, const PictureShape& main) {
    const std::int64_t left = std::max<std::int64_t>(mask.left, 0);
    const std::int64_t top = std::max<std::int64_t>(mask.top, 0);
    const std::int64_t right = std::min<std::int64_t>(mask.right, main.width);
    const std::int64_t bottom = std::min<std::int64_t>(mask.bottom, main.height);
    const bool whole = left == mask.left && top == mask.top && right == mask.right &&
                       bottom == mask.bottom;
    if (whole || right <= left || bottom <= top) {
        return OutputWindow();
    }
    return OutputWindow{left - mask.left, top - mask.top, right - left, bottom - top};
}

// How the overlay's frames are adapted for this run.
OverlayAdaptation AdaptationFor(const CommandLine& line, const InputFacts& facts,
                                const FilterData& settings,
                                const std::optional<BlendSettings>& blend) {
    OverlayAdaptation adaptation;
    adaptation.timing = line.timing;
    adaptation.mainRate = facts.mainRate;
    adaptation.scaler = line.scaler;
    adaptation.premultiplyBeforeScaling = line.scaler != OverlayScaler::Filter && blend &&
                                          blend->useSourceAlpha &&
                                          line.alpha == AlphaMode::Straight;
    if (line.scaler != OverlayScaler::Filter) {
        adaptation.scaledWidth = settings.maskRight - settings.maskLeft;
        adaptation.scaledHeight = settings.maskBottom - settings.maskTop;
        adaptation.scaledWindow = DrawnWindow(MaskOf(settings), facts.main);
        adaptation.framesComeRound = settings.repeatVideo != 0;
    }
    return adaptation;
}

// A standard-range overlay, border and shadow in an HDR main are carried
// into the main's transfer and primaries, unless asked to keep their codes;
// an overlay that is HDR itself passes as it is.
void CarrySdrIntoHdr(const CommandLine& line, const InputFacts& facts, RenderJob& job) {
    const PictureShape& main = facts.main;
    if (line.overlayTransfer == OverlayTransfer::Keep || !IsHdrTransfer(main.transfer)) {
        return;
    }
    const char* transferName = main.transfer == AVCOL_TRC_SMPTE2084 ? "PQ" : "HLG";
    // Colours typed as #RRGGBB are taken as a standard display shows them.
    if (const auto colours =
            SdrToHdrFor(AVCOL_TRC_BT709, AVCOL_PRI_BT709, main.transfer, main.primaries)) {
        SdrToHdrMapper mapper(*colours);
        job.settings.borderColor = mapper.MapColor(job.settings.borderColor);
        job.settings.shadowColor = mapper.MapColor(job.settings.shadowColor);
    }
    std::string what = "the border and shadow colours";
    if (facts.overlay) {
        job.overlay.adaptation.sdrToHdr = SdrToHdrFor(
            facts.overlay->transfer, facts.overlay->primaries, main.transfer, main.primaries);
        if (job.overlay.adaptation.sdrToHdr) {
            what = "the standard-range overlay, " + what;
        }
    }
    char white[16];
    std::snprintf(white, sizeof white, "%.0f", kSdrReferenceWhite);
    job.notes.push_back("the main video is HDR (" + std::string(transferName) + "): " + what +
                        " are converted into it, white at " + white +
                        " cd/m2 (--overlay-transfer keep lays them in unchanged)");
}

// Standard output cannot go back to complete what a container writes last.
void CheckPipeable(const OutputFormat& format) {
    if (!format.needsSeekableOutput) {
        return;
    }
    std::string pipeable;
    for (const OutputFormat& candidate : OutputFormats()) {
        if (!candidate.needsSeekableOutput) {
            pipeable += std::string(pipeable.empty() ? "" : " or ") + candidate.muxer;
        }
    }
    throw UsageError(std::string("the ") + format.muxer +
                     " container must be completed by going back in the file, which standard "
                     "output (-o -) cannot do; use --format " + pipeable);
}

bool HeldBy(const CarriableStream& stream, const OutputFormat& format) {
    return std::find(stream.heldBy.begin(), stream.heldBy.end(), format.extension) !=
           stream.heldBy.end();
}

// Subtitles the container cannot hold stop the run, with advice that works:
// the containers that do hold them, or leaving them out.
[[noreturn]] void RefuseSubtitles(const CarriableStream& stream, const OutputFormat& format) {
    const std::vector<std::string>& holders = stream.heldBy;
    std::string advice;
    for (std::size_t index = 0; index < holders.size(); ++index) {
        advice += (index == 0 ? "use " : index + 1 == holders.size() ? " or " : ", ") +
                  holders[index];
    }
    advice = advice.empty() ? "--no-subtitles leaves them out"
                            : advice + ", or --no-subtitles to leave them out";
    throw RunnerError(std::string("the ") + format.extension + " container cannot hold the " +
                      avcodec_get_name(stream.codec) + " subtitles of the main video (" + advice +
                      ")");
}

// Whether the overlay's sound is mixed in, and at what levels; none without
// --overlay-audio mix, or when the overlay plays backwards (a note says so).
std::optional<AudioMixPlan> PlanMix(const CommandLine& line, const InputFacts& facts,
                                    std::vector<std::string>& notes) {
    if (line.overlayAudio != OverlayAudio::Mix) {
        if (line.overlayVolume || line.duck) {
            throw UsageError("--overlay-volume and --duck set the overlay's mixed sound; they "
                             "need --overlay-audio mix");
        }
        return std::nullopt;
    }
    if (line.overlayPath.empty()) {
        throw UsageError("--overlay-audio mix mixes the overlay's sound: give the overlay "
                         "(--overlay FILE)");
    }
    if (line.noAudio) {
        throw UsageError("--overlay-audio mix and --no-audio contradict each other; give one "
                         "of them");
    }
    const auto isAudio = [](const CarriableStream& stream) {
        return stream.type == AVMEDIA_TYPE_AUDIO;
    };
    const bool mainHasAudio =
        std::any_of(facts.mainStreams.begin(), facts.mainStreams.end(), isAudio);
    if (!mainHasAudio) {
        throw UsageError("--overlay-audio mix mixes into the main video's audio, and " +
                         Quoted(line.input) + " has none");
    }
    if (line.settings.reverse != 0) {
        notes.push_back("the overlay plays backwards (--reverse), which leaves it no sound to "
                        "mix; the main's audio is kept alone");
        return std::nullopt;
    }
    if (line.timing == OverlayTiming::Frames) {
        notes.push_back("the overlay's sound keeps its own time, as --overlay-timing time "
                        "shows its pictures; counted frame for frame, they may drift apart "
                        "from it where the two frame rates differ");
    }
    AudioMixPlan mix;
    mix.overlayPath = line.overlayPath;
    mix.volume = line.overlayVolume ? line.overlayVolume->factor : 1;
    mix.duck = line.duck ? line.duck->factor : 1;
    return mix;
}

// Mixed audio keeps its codec where it can, else takes the container's
// usual one, with a note (once for several such streams).
AudioEncoding MixedEncoding(const CommandLine& line, const CarriableStream& stream,
                            const OutputFormat& format, std::vector<std::string>& notes) {
    std::string why;
    const AudioEncoding encoding =
        MixedAudioEncoding(format, stream.codec, line.audioBitRate, why);
    if (!why.empty()) {
        const std::string note = std::string("the main video's ") +
                                 avcodec_get_name(stream.codec) + " audio is re-encoded as " +
                                 encoding.encoder + " to mix the overlay's sound in (" + why + ")";
        if (std::find(notes.begin(), notes.end(), note) == notes.end()) {
            notes.push_back(note);
        }
    }
    return encoding;
}

// The main's audio and subtitle streams the output keeps, and how: copied,
// or re-encoded where --audio-codec asks or the container cannot hold them.
void PlanKeptStreams(const CommandLine& line, const InputFacts& facts, OutputPlan& output,
                     std::vector<std::string>& notes) {
    const OutputFormat& format = *output.format;
    if (!line.audioCodec.empty() && line.noAudio) {
        throw UsageError("--audio-codec and --no-audio contradict each other; give one of them");
    }
    std::optional<AudioEncoding> asked;
    if (!line.audioCodec.empty()) {
        asked = AudioEncoding{ChooseAudioEncoder(format, line.audioCodec).name, line.audioBitRate};
    }
    output.mix = PlanMix(line, facts, notes);
    bool encodes = false;
    for (const CarriableStream& stream : facts.mainStreams) {
        const bool subtitles = stream.type == AVMEDIA_TYPE_SUBTITLE;
        if (subtitles ? line.noSubtitles : line.noAudio) {
            continue;
        }
        KeptStream kept{stream.index, std::nullopt};
        if (subtitles && !HeldBy(stream, format)) {
            RefuseSubtitles(stream, format);
        }
        if (!subtitles && asked) {
            kept.encoding = asked;
        } else if (!subtitles && !HeldBy(stream, format)) {
            if (avcodec_find_encoder_by_name(format.audioEncoder) == nullptr) {
                throw RunnerError(std::string("the ") + format.extension +
                                  " container cannot hold the " + avcodec_get_name(stream.codec) +
                                  " audio of the main video, and this FFmpeg has no " +
                                  format.audioEncoder + " encoder to re-encode it with");
            }
            kept.encoding = AudioEncoding{format.audioEncoder, line.audioBitRate};
            const std::string note = std::string("the ") + format.extension +
                                     " container cannot hold the " +
                                     avcodec_get_name(stream.codec) +
                                     " audio of the main video; it is re-encoded as " +
                                     format.audioEncoder;
            if (std::find(notes.begin(), notes.end(), note) == notes.end()) {
                notes.push_back(note);  // once for several such streams
            }
        }
        if (!subtitles && output.mix) {
            if (!kept.encoding) {
                kept.encoding = MixedEncoding(line, stream, format, notes);
            }
            kept.mixed = true;
        }
        encodes = encodes || kept.encoding.has_value();
        output.kept.push_back(kept);
    }
    AddNote(notes, DroppedTitlesNote(facts.mainStreams, output.kept, format));
    if (line.audioBitRate > 0 && !encodes) {
        throw UsageError("--audio-bitrate sets the bitrate of re-encoded audio, and no audio is "
                         "re-encoded here (--audio-codec names a codec to re-encode it with)");
    }
}

// `notes` receives what the output changes unasked (audio re-encoded).
OutputPlan PlanVideoOutput(const CommandLine& line, const InputFacts& facts,
                           std::vector<std::string>& notes) {
    OutputPlan output;
    output.overwrite = line.overwrite;
    output.encoding = line.encoding;
    output.encoding.quiet = line.quiet;
    if (line.format == kNullFormat) {
        output.kind = OutputKind::Discard;
        const bool shapesFile = !line.audioCodec.empty() || line.audioBitRate > 0 ||
                                !line.muxing.options.empty() || !line.muxing.videoTag.empty();
        if (shapesFile) {
            throw UsageError("--audio-codec, --audio-bitrate, --muxer-option and --tag shape "
                             "the output file, and --format null writes none");
        }
        return output;
    }
    output.format = line.format.empty() ? &OutputFormatForPath(line.output)
                                        : &OutputFormatByName(line.format);
    if (line.output == kStandardOutputName) {
        output.kind = OutputKind::StandardOutput;
        CheckPipeable(*output.format);
        if (facts.standardOutputIsTerminal) {
            throw UsageError("standard output is a terminal: send the video (-o -) into a "
                             "pipe or a file");
        }
    } else {
        output.kind = OutputKind::File;
        output.path = line.output;
    }
    // A mistake in the encoder's or the muxer's settings is the command
    // line's. The encoder is chosen here once; the writer opens this one.
    output.videoEncoder = &ChooseEncoder(*output.format, output.encoding);
    const AVCodecID video = output.videoEncoder->id;
    output.muxing = line.muxing;
    if (output.muxing.videoTag.empty()) {
        output.muxing.videoTag = DefaultVideoTag(*output.format, video);
    }
    CheckMuxerRequest(*output.format, video, output.muxing);
    PlanKeptStreams(line, facts, output, notes);
    return output;
}

MaskCorners CornersOf(const MaskKey& key) {
    return MaskCorners{key.left, key.top, key.right, key.bottom};
}

MaskCorners CornersOf(const FrameMask& mask) {
    return MaskCorners{mask.left, mask.top, mask.right, mask.bottom};
}

// The keys in frame order, their times as frames, and how their corners
// between pixels are drawn.
MaskMotion MotionOf(const CommandLine& line, AVRational rate, const FilterData& settings) {
    std::vector<MaskKey> keys;
    for (const MaskKeyRequest& request : line.keys) {
        const std::int64_t frame = request.at.FrameAt(rate);
        if (frame > kInt32Max) {
            throw UsageError("--key " + request.at.Text() +
                             " lies beyond the last frame a video can have");
        }
        keys.push_back(MaskKey{frame, request.left, request.top, request.right, request.bottom,
                               request.ease});
    }
    std::stable_sort(keys.begin(), keys.end(),
                     [](const MaskKey& a, const MaskKey& b) { return a.frame < b.frame; });
    for (std::size_t index = 1; index < keys.size(); ++index) {
        if (keys[index].frame == keys[index - 1].frame) {
            throw UsageError("two keys (--key) fall on frame " +
                             std::to_string(keys[index].frame) + "; give one mask per frame");
        }
    }
    // Only a bilinear stretch can draw a picture between pixels.
    const bool subPixel = settings.fitToFrame != 0 && settings.bilinear != 0;
    return MaskMotion(std::move(keys),
                      subPixel ? MaskRounding::SubPixel : MaskRounding::WholePixels);
}

FilterData SettledSettings(const CommandLine& line, const InputFacts& facts,
                           std::string& origin, std::vector<std::string>& notes,
                           MaskMotion& motion) {
    FilterData settings = line.settings;
    if (!line.keys.empty()) {
        if (line.cornerRadius != 0) {
            throw UsageError("--corner-radius rounds a mask that holds still, and --key moves "
                             "it; give one or the other");
        }
        if (line.scaler != OverlayScaler::Filter) {
            throw UsageError("--scaler scales the overlay to one size, and --key changes the "
                             "mask's size; a moving mask takes the filter's stretch "
                             "(--bilinear for the smoothest motion)");
        }
        motion = MotionOf(line, facts.mainRate, settings);
        origin = "--key";
        // Each key's mask is checked as --mask would be, but one that lies
        // off the picture may be where the overlay comes in from or leaves to.
        SetMask(CornersOf(motion.Envelope()), settings);
        RequireVisibleMask(settings, facts.main, "the keys together");
        SetMask(CornersOf(motion.keys().front()), settings);
        const MaskKey& first = motion.keys().front();
        for (const MaskKey& key : motion.keys()) {
            if (settings.fitToFrame == 0 && (key.right - key.left != first.right - first.left ||
                                             key.bottom - key.top != first.bottom - first.top)) {
                notes.push_back("the keys change the mask's size, and without --fit the overlay "
                                "is copied 1:1 and cut to it; --fit --bilinear stretches it");
                break;
            }
        }
        return settings;
    }
    if (PlacesOverlay(line)) {
        AddNote(notes, SmallSizeNote(line.placement, facts.main.width));
        SetMask(PlacedMask(line, facts), settings);
        settings.fitToFrame = 1;
        origin = line.placement.given() ? "the placement" : "the default placement";
    } else if (facts.scriptMask) {
        // The script's Config line sets the mask over --mask, as the host's
        // script does when it loads.
        SetMask(*facts.scriptMask, settings);
        origin = Quoted(line.scriptPath);
    } else {
        origin = "--mask";
    }
    RequireVisibleMask(settings, facts.main, origin);
    AddNote(notes, CroppedMaskNote(MaskOf(settings), facts.main.width, facts.main.height, origin));
    if (line.scaler != OverlayScaler::Filter && settings.fitToFrame == 0) {
        throw UsageError("--scaler scales the overlay to the mask: give a placement or --fit");
    }
    return settings;
}

// An animation whose file asks to loop without end does, as --repeat
// would, unless the command line times the overlay itself.
void HonourAnimationLoop(const CommandLine& line, const InputFacts& facts, FilterData& settings,
                         std::vector<std::string>& notes) {
    if (!facts.overlay || !facts.overlayPlays.endless()) {
        return;
    }
    const FilterData defaults = DialogDefaultSettings();
    const bool timed = settings.useFrameRange != defaults.useFrameRange ||
                       settings.repeatVideo != defaults.repeatVideo ||
                       settings.frameOffset != defaults.frameOffset ||
                       settings.maintainBlack != defaults.maintainBlack;
    if (timed) {
        return;
    }
    settings.repeatVideo = 1;
    notes.push_back("the overlay " + Quoted(line.overlayPath) +
                    " is an animation that asks to loop without end: it repeats, as --repeat "
                    "would (--range, --offset or --maintain-black time it yourself)");
}

}  // namespace

bool PlacesOverlay(const CommandLine& line) {
    return line.placement.given() ||
           (!line.maskGiven && line.scriptPath.empty() && line.keys.empty());
}

void SetMask(const MaskCorners& mask, FilterData& settings) {
    settings.maskLeft = static_cast<std::int32_t>(mask.left);
    settings.maskTop = static_cast<std::int32_t>(mask.top);
    settings.maskRight = static_cast<std::int32_t>(mask.right);
    settings.maskBottom = static_cast<std::int32_t>(mask.bottom);
}

RenderJob PlanJob(const CommandLine& typed, const InputFacts& stored) {
    CommandLine line = typed;
    ResolveTimedOptions(line, stored.mainRate);

    RenderJob job;
    job.command = line.command;
    job.main = MainInput{line.input, line.videoStream, line.pictureLimit, line.filterPixels, {}};
    // From here on the pictures are as the run sees them: turned upright
    // unless their stored orientation is kept.
    InputFacts facts = stored;
    job.main.turn = TurnFor(stored.main, line.keepRotation, "the main video",
                            "it is worked on as stored, and the output keeps the matrix",
                            job.notes);
    facts.main = stored.main.TurnedBy(job.main.turn);
    AddNote(job.notes, AbsurdAspectNote(facts.main, "the main video"));
    Orientation overlayTurn;
    if (stored.overlay) {
        overlayTurn = TurnFor(*stored.overlay, line.keepRotation, "the overlay",
                              "it is laid in as stored", job.notes);
        facts.overlay = stored.overlay->TurnedBy(overlayTurn);
        AddNote(job.notes, AbsurdAspectNote(*facts.overlay, "the overlay"));
    }
    if (line.command == Command::Place && !job.main.turn.identity()) {
        job.notes.push_back("the main video is shown " + job.main.turn.Describe() +
                            ": the mask is on the upright picture; a host that shows it as "
                            "stored needs --keep-rotation");
    }
    RequireRangeWithinMain(line, facts.mainFrames, facts.mainFramesExact, facts.mainRate);
    if (line.command == Command::Frame) {
        RequireFrameWithinMain(line.frameAt, facts.mainFrames, facts.mainFramesExact,
                               facts.mainRate);
    }
    job.settings = SettledSettings(line, facts, job.maskOrigin, job.notes, job.motion);
    HonourAnimationLoop(line, facts, job.settings, job.notes);
    job.overlay.path = line.overlayPath;
    job.overlay.stream = line.overlayStream;
    job.overlay.strict = line.strict;
    job.overlay.blend = BlendFor(line, facts);
    job.overlay.adaptation = AdaptationFor(line, facts, job.settings, job.overlay.blend);
    job.overlay.adaptation.turn = overlayTurn;
    CarrySdrIntoHdr(line, facts, job);
    job.scriptPath = line.scriptPath;
    job.reporting = Reporting{line.quiet, line.progressPath, line.statsPeriod};
    const auto frames = [&facts](const std::optional<FrameOrTime>& duration) {
        return duration ? duration->FramesLasting(facts.mainRate) : std::int64_t{0};
    };
    job.fade = PlanFades(frames(line.times.fadeIn), frames(line.times.fadeOut), job.settings,
                         !line.overlayPath.empty(), facts.mainFrames);
    AddNote(job.notes, LongFadeNote(job.fade.ramp, facts.mainRate));
    job.seed = line.seed;
    job.filterThreads = line.filterThreads;
    job.cornerRadius = line.cornerRadius;

    switch (line.command) {
    case Command::Render: {
        std::vector<std::string> outputNotes;
        job.output = PlanVideoOutput(line, facts, outputNotes);
        if (!line.segment) {
            job.notes.insert(job.notes.end(), outputNotes.begin(), outputNotes.end());
        } else {
            // The audio, subtitles and chapters come from the main at the join.
            job.output.kept.clear();
            job.segment = PlanSegment(line, facts, job);
            job.window = FrameWindow{static_cast<long>(job.segment->segment.first),
                                     static_cast<long>(job.segment->segment.last)};
            if (!job.seed) {
                job.seed = SeedFromFingerprint(job.segment->fingerprint);
            }
            // An overlay frame that fails to decode draws no shadow, which
            // the segments after it could not know of: a failure here.
            if (DecorationDraws(job.settings) > 0) {
                job.overlay.strict = true;
            }
        }
        break;
    }
    case Command::Frame:
        job.output.kind = OutputKind::Picture;
        job.output.path = line.output;
        job.output.overwrite = line.overwrite;
        job.window = FrameWindow{static_cast<long>(line.frameAt), static_cast<long>(line.frameAt)};
        break;
    case Command::Place:
        job.output.kind = OutputKind::Report;
        break;
    default:
        throw UsageError("this command does not composite a main video");
    }
    return job;
}

void ResolveTimedOptions(CommandLine& line, AVRational rate) {
    const auto inFrames = [rate](const FrameOrTime& value) { return value.FrameAt(rate); };
    if (line.times.at && line.times.at->isTime()) {
        const std::int64_t frame = inFrames(*line.times.at);
        if (frame > kInt32Max) {
            throw UsageError("--at lies beyond the last frame a video can have");
        }
        line.frameAt = frame;
    }
    const bool rangeTimed = (line.times.rangeStart && line.times.rangeStart->isTime()) ||
                            (line.times.rangeEnd && line.times.rangeEnd->isTime());
    if (rangeTimed) {
        const std::int64_t start = inFrames(*line.times.rangeStart);
        const std::int64_t end = line.times.rangeEnd ? inFrames(*line.times.rangeEnd) : 0;
        if (start > kInt32Max || end > kInt32Max) {
            throw UsageError("--range lies beyond the last frame a video can have");
        }
        if (line.times.rangeEnd && (end < start || end == 0)) {
            throw UsageError("--range ends at frame " + std::to_string(end) +
                             (end == 0 ? ", but a range must end after frame 0"
                                       : ", before it starts (frame " +
                                             std::to_string(start) + ")"));
        }
        line.settings.useFrameRange = 1;
        line.settings.rangeStart = static_cast<std::int32_t>(start);
        line.settings.rangeEnd = static_cast<std::int32_t>(end);
    }
    if (line.times.offset && line.times.offset->isTime()) {
        const std::int64_t offset = inFrames(*line.times.offset);
        if (offset < kInt32Min || offset > kInt32Max) {
            throw UsageError("--offset is longer than a video can be");
        }
        line.settings.frameOffset = static_cast<std::int32_t>(offset);
    }
}

