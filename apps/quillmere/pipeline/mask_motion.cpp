#include "apps/quillmere/pipeline/mask_motion.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

namespace {

// Cubic easing: slow at the start (in), at the end (out), or both.
double CubicIn(double t) { return t * t * t; }
double CubicOut(double t) { return 1 - CubicIn(1 - t); }
double CubicInOut(double t) { return t < 0.5 ? 4 * t * t * t : 1 - CubicIn(2 - 2 * t) / 2; }
double Straight(double t) { return t; }

struct EaseCurve {
    Ease ease;
    double (*progress)(double);
};

const EaseCurve kEaseCurves[] = {
    {Ease::Linear, Straight},
    {Ease::In, CubicIn},
    {Ease::Out, CubicOut},
    {Ease::InOut, CubicInOut},
};

double Between(double from, double to, double share) { return from + (to - from) * share; }

}  // namespace

const EaseName kEaseNames[4] = {
    {Ease::Linear, "linear"},
    {Ease::In, "in"},
    {Ease::Out, "out"},
    {Ease::InOut, "in-out"},
};

const char* EaseNameOf(Ease ease) {
    for (const EaseName& entry : kEaseNames) {
        if (entry.ease == ease) {
            return entry.name;
        }
    }
    return kEaseNames[0].name;
}

double EasedProgress(Ease ease, double t) {
    t = std::clamp(t, 0.0, 1.0);
    for (const EaseCurve& curve : kEaseCurves) {
        if (curve.ease == ease) {
            return curve.progress(t);
        }
    }
    return t;
}

MaskMotion::MaskMotion(std::vector<MaskKey> keys, MaskRounding rounding)
    : keys_(std::move(keys)), rounding_(rounding) {
    for (std::size_t index = 1; index < keys_.size(); ++index) {
        if (keys_[index].frame <= keys_[index - 1].frame) {
            throw std::invalid_argument("mask keys must stand in increasing frame order");
        }
    }
}

ExactMask MaskMotion::ExactAt(std::int64_t frame) const {
    if (keys_.empty()) {
        return ExactMask{};
    }
    // The first key at or after the frame.
    const auto next = std::lower_bound(
        keys_.begin(), keys_.end(), frame,
        [](const MaskKey& key, std::int64_t at) { return key.frame < at; });
    const auto held = [](const MaskKey& key) {
        return ExactMask{static_cast<double>(key.left), static_cast<double>(key.top),
                         static_cast<double>(key.right), static_cast<double>(key.bottom)};
    };
    if (next == keys_.begin()) {
        return held(keys_.front());
    }
    if (next == keys_.end()) {
        return held(keys_.back());
    }
    const MaskKey& from = *(next - 1);
    const MaskKey& to = *next;
    const double share = EasedProgress(
        to.ease, static_cast<double>(frame - from.frame) / static_cast<double>(to.frame - from.frame));
    return ExactMask{Between(from.left, to.left, share), Between(from.top, to.top, share),
                     Between(from.right, to.right, share), Between(from.bottom, to.bottom, share)};
}

FrameMask MaskMotion::MaskAt(std::int64_t frame) const {
    const ExactMask exact = ExactAt(frame);
    FrameMask mask;
    if (rounding_ == MaskRounding::SubPixel) {
        mask.left = static_cast<std::int32_t>(std::floor(exact.left));
        mask.top = static_cast<std::int32_t>(std::floor(exact.top));
        mask.right = static_cast<std::int32_t>(std::ceil(exact.right));
        mask.bottom = static_cast<std::int32_t>(std::ceil(exact.bottom));
        mask.exact = exact;
        return mask;
    }
    // Each of left, top, width and height rounded alone: a move that keeps
    // the exact size keeps the whole-pixel size.
    const double width = std::max(1.0, std::round(exact.right - exact.left));
    const double height = std::max(1.0, std::round(exact.bottom - exact.top));
    mask.left = static_cast<std::int32_t>(std::round(exact.left));
    mask.top = static_cast<std::int32_t>(std::round(exact.top));
    mask.right = mask.left + static_cast<std::int32_t>(width);
    mask.bottom = mask.top + static_cast<std::int32_t>(height);
    mask.exact = ExactMask{static_cast<double>(mask.left), static_cast<double>(mask.top),
                           static_cast<double>(mask.right), static_cast<double>(mask.bottom)};
    return mask;
}

FrameMask MaskMotion::Envelope() const {
    FrameMask envelope;
    if (keys_.empty()) {
        return envelope;
    }
    envelope.left = keys_.front().left;
    envelope.top = keys_.front().top;
    envelope.right = keys_.front().right;
    envelope.bottom = keys_.front().bottom;
    for (const MaskKey& key : keys_) {
        envelope.left = std::min(envelope.left, key.left);
        envelope.top = std::min(envelope.top, key.top);
        envelope.right = std::max(envelope.right, key.right);
        envelope.bottom = std::max(envelope.bottom, key.bottom);
    }
    if (rounding_ == MaskRounding::WholePixels) {
        // Rounding the left corner and the size apart may reach a pixel
        // past the keys' own right and bottom (never before their left and top).
        envelope.right += 1;
        envelope.bottom += 1;
    }
    envelope.exact = ExactMask{static_cast<double>(envelope.left), static_cast<double>(envelope.top),
                               static_cast<double>(envelope.right),
                               static_cast<double>(envelope.bottom)};
    return envelope;
}
