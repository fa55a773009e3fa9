#include "apps/quillmere/edit/runner_work.h"

#include <sys/stat.h>

#include <cstring>

#include "apps/quillmere/cli/command_text.h"
#include "apps/quillmere/media/frame_picture.h"
#include "apps/quillmere/media/png_encoder.h"
#include "apps/quillmere/pipeline/area_compositor.h"
#include "hostkit/quoted_text.h"

namespace {

bool SameAdaptation(const OverlayAdaptation& a, const OverlayAdaptation& b) {
    return a.timing == b.timing && av_cmp_q(a.mainRate, b.mainRate) == 0 &&
           a.scaler == b.scaler && a.scaledWidth == b.scaledWidth &&
           a.scaledHeight == b.scaledHeight &&
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

bool IsRegularFile(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

RunnerEditWork::RunnerEditWork(std::unique_ptr<FileFrameSource> main, std::string program)
    : frames_(std::move(main)), render_(std::move(program)) {}

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

ComposedPicture RunnerEditWork::Compose(const RenderJob& job, bool keyFrameFirst) {
    std::lock_guard<std::mutex> lock(mutex_);
    const PreviewFrames::Found found = frames_.Find(job.window.first, keyFrameFirst);
    if (last_ && last_->picture.frame == found.number && last_->picture.exact == found.exact &&
        std::memcmp(&last_->settings, &job.settings, sizeof(FilterData)) == 0 &&
        filterOverlay_ && SameOverlay(*filterOverlay_, job.overlay)) {
        return last_->picture;
    }
    ConfiguredFilter& filter = FilterFor(job);
    if (baseNumber_ != found.number || !base_) {
        base_ = std::make_unique<Picture>(PictureOfFrame(*found.frame));
        baseNumber_ = found.number;
    }
    // The decoded frame stays as it is for the next picture; the compositor
    // writes into a copy.
    FramePtr frame = NewFrame();
    if (av_frame_ref(frame.get(), found.frame) < 0) {
        throw RunnerError("out of memory");
    }
    Picture picture = *base_;
    {
        // A processing pass of one frame, as the frame command makes.
        AreaCompositor compositor(filter.instance(), frames_.format());
        compositor.Start(filter.outputOperations());
        compositor.Composite(*frame, found.number);
        compositor.Finish();
        // Only the compositor's area of the frame changed.
        UpdatePictureOfFrame(*frame, compositor.area(), picture);
    }
    ComposedPicture composed;
    composed.png = EncodePng("the page's picture", picture.top(), picture.topDownStride(),
                             picture.width, picture.height, PngCompression::Quick);
    composed.frame = found.number;
    composed.exact = found.exact;
    last_ = LastPicture{job.settings, composed};
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
