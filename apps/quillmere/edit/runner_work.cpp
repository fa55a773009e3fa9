#include "apps/quillmere/edit/runner_work.h"

#include <sys/stat.h>

#include <cstring>

#include "apps/quillmere/cli/command_text.h"
#include "apps/quillmere/edit/picture_difference.h"
#include "apps/quillmere/media/frame_picture.h"
#include "apps/quillmere/media/png_encoder.h"
#include "apps/quillmere/pipeline/area_compositor.h"
#include "apps/quillmere/plan/fades.h"
#include "apps/quillmere/plan/segment_start.h"
#include "hostkit/quoted_text.h"

namespace {

bool SameAdaptation(const OverlayAdaptation& a, const OverlayAdaptation& b) {
    return a.timing == b.timing && av_cmp_q(a.mainRate, b.mainRate) == 0 &&
           a.scaler == b.scaler && a.scaledWidth == b.scaledWidth &&
           a.scaledHeight == b.scaledHeight && a.scaledWindow == b.scaledWindow &&
           a.premultiplyBeforeScaling == b.premultiplyBeforeScaling;
}

bool SameBlend(const std::optional<BlendSettings>& a, const std::optional<BlendSettings>& b) {
    if (a.has_value() != b.has_value()) {
        return false;
    }
    return !a || (a->useSourceAlpha == b->useSourceAlpha &&
                  a->premultiplied == b->premultiplied && a->opacity == b->opacity);
}

// Whether a filter opened for `a` serves `b` once given b's settings.
bool SameOverlay(const OverlayInput& a, const OverlayInput& b) {
    return a.path == b.path && a.stream == b.stream && a.strict == b.strict &&
           SameAdaptation(a.adaptation, b.adaptation) && SameBlend(a.blend, b.blend);
}

// Pictures kept for comparison and for asking again: the one the page shows,
// the new one, and one more for a second tab.
constexpr std::size_t kKeptPictures = 3;
// A tile larger than 1 / this of the picture is sent as the whole picture.
constexpr long kWholePictureShare = 2;

// Decoding ahead waits until the picture is made, however its making ends.
struct AheadResumer {
    PreviewFrames& frames;
    ~AheadResumer() { frames.ResumeAhead(); }
};

bool IsRegularFile(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

RunnerEditWork::RunnerEditWork(std::unique_ptr<VideoReader> main, NoticeHandler notices,
                               std::string program)
    : reader_(std::move(main)), notices_(notices), render_(std::move(program)) {}

RunnerEditWork::~RunnerEditWork() = default;

ConfiguredFilter& RunnerEditWork::FilterFor(const RenderJob& job) {
    if (filter_ && filterOverlay_ && SameOverlay(*filterOverlay_, job.overlay)) {
        filter_->UseSettings(job.settings);
        return *filter_;
    }
    // One adapted overlay library at a time: the old filter goes first.
    filter_.reset();
    filterOverlay_.reset();
    filter_ = std::make_unique<ConfiguredFilter>(job.settings, job.overlay);
    filterOverlay_ = job.overlay;
    return *filter_;
}

RunnerEditWork::KeptPicture& RunnerEditWork::PictureFor(const RenderJob& job,
                                                        const PreviewFrames::Found& found) {
    for (KeptPicture& kept : kept_) {
        if (kept.frame == found.number && kept.exact == found.exact && kept.seed == job.seed &&
            std::memcmp(&kept.settings, &job.settings, sizeof(FilterData)) == 0 &&
            SameOverlay(kept.overlay, job.overlay)) {
            return kept;
        }
    }
    if (baseNumber_ != found.number || !base_) {
        base_ = std::make_unique<Picture>(PictureOfFrame(*found.frame));
        baseNumber_ = found.number;
    }
    // The decoded frame stays as it is for the next picture; the compositor
    // writes into a copy.
    FramePtr frame = NewFrame();
    if (av_frame_ref(frame.get(), found.frame.get()) < 0) {
        throw RunnerError("out of memory");
    }
    KeptPicture made;
    if (kept_.size() == kKeptPictures) {
        // The oldest picture's memory, already touched, takes the new one:
        // a fresh frame-sized buffer costs more in page faults than the copy.
        made.picture = std::move(kept_.front().picture);
        kept_.pop_front();
    }
    made.picture = *base_;
    // Only the compositor's area of the frame changed.
    UpdatePictureOfFrame(*frame, Composite(job, *frame, found.number), made.picture);
    made.id = nextId_++;
    made.frame = found.number;
    made.exact = found.exact;
    made.settings = job.settings;
    made.overlay = job.overlay;
    made.seed = job.seed;
    kept_.push_back(std::move(made));
    return kept_.back();
}

PictureRect RunnerEditWork::Composite(const RenderJob& job, AVFrame& frame, long number) {
    ConfiguredFilter& filter = FilterFor(job);
    // A processing pass of one frame, as the frame command makes.
    AreaCompositor compositor(filter.instance(), frames_->format(),
                              SettleFade(job.fade, filter.instance().recordAs<FilterData>()),
                              job.motion, job.cornerRadius);
    compositor.Start(filter.outputOperations(), 1, filter.outputOperationsCopy(),
                     filter.overlayOverVideo());
    // With --seed the random shadow styles draw as `frame --seed` draws.
    if (const auto seeding = SeedingAt(job.seed, job.window.first, job.motion)) {
        seeding(filter.instance());
    }
    compositor.Composite(frame, number);
    compositor.Finish();
    return compositor.area();
}

PreviewFrames& RunnerEditWork::FramesFor(const RenderJob& job) {
    if (!frames_) {
        // The main's turn and pixels are the command line's, the same for
        // every job of the page.
        frames_ = std::make_unique<PreviewFrames>(std::make_unique<FileFrameSource>(
            std::move(reader_), job.main.asFilterPixels, notices_, job.main.turn));
    }
    return *frames_;
}

ComposedPicture RunnerEditWork::Preview(const RenderJob& job, int width) {
    std::lock_guard<std::mutex> lock(mutex_);
    const PreviewFrames::Found found = FramesFor(job).Find(job.window.first, false);
    const AheadResumer resumer{*frames_};
    // A second reference: the compositor writes into a copy, and the frame
    // kept in memory stays as decoded.
    FramePtr frame = NewFrame();
    if (av_frame_ref(frame.get(), found.frame.get()) < 0) {
        throw RunnerError("out of memory");
    }
    Composite(job, *frame, found.number);
    ComposedPicture composed;
    composed.frame = found.number;
    composed.jpeg = playback_.Encode(*frame, width);
    return composed;
}

ComposedPicture RunnerEditWork::Compose(const RenderJob& job, bool keyFrameFirst, long over) {
    std::lock_guard<std::mutex> lock(mutex_);
    // The page waits for this picture: decoding ahead waits for it. (While
    // playing, the decoding ahead runs beside the small pictures instead,
    // since the next of them need its frames.)
    FramesFor(job).PauseAhead();
    const AheadResumer resumer{*frames_};
    const PreviewFrames::Found found = frames_->Find(job.window.first, keyFrameFirst);
    KeptPicture& kept = PictureFor(job, found);
    ComposedPicture composed;
    composed.frame = kept.frame;
    composed.exact = kept.exact;
    composed.id = kept.id;
    const Picture& picture = kept.picture;
    for (const KeptPicture& shown : kept_) {
        if (over == 0 || shown.id != over || shown.picture.width != picture.width ||
            shown.picture.height != picture.height) {
            continue;
        }
        const PictureRect tile = DifferingRect(shown.picture, picture);
        const long area = static_cast<long>(tile.width) * tile.height;
        if (area * kWholePictureShare > static_cast<long>(picture.width) * picture.height) {
            break;  // most of it: the whole picture costs hardly more
        }
        if (!tile.empty()) {
            composed.png = EncodePng("the page's picture",
                                     picture.row(tile.y) + static_cast<std::ptrdiff_t>(tile.x) * 4,
                                     picture.topDownStride(), tile.width, tile.height,
                                     PngCompression::Quick);
        }
        composed.tile = tile;
        return composed;
    }
    if (kept.png.empty()) {
        kept.png = EncodePng("the page's picture", picture.top(), picture.topDownStride(),
                             picture.width, picture.height, PngCompression::Quick);
    }
    composed.png = kept.png;
    return composed;
}

long RunnerEditWork::overlayLength() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!filter_ || !filterOverlay_ || filterOverlay_->path.empty()) {
        return 0;
    }
    return filter_->instance().recordAs<FilterData>().overlayLength;
}

void RunnerEditWork::StartRender(const CommandLine& render, bool replace) {
    if (!replace && IsRegularFile(render.output)) {
        throw OutputExistsError(Quoted(render.output) + " already exists");
    }
    std::vector<std::string> arguments = RenderCommandWords(render);
    arguments.erase(arguments.begin());  // the program's name
    arguments.emplace_back(replace ? "-y" : "-n");
    render_.Start(arguments);
}

RenderStatus RunnerEditWork::renderStatus() const { return render_.status(); }

void RunnerEditWork::CancelRender() { render_.Cancel(); }
