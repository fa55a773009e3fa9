#include "apps/quillmere/media/orientation.h"

#include <cmath>

extern "C" {
#include <libavutil/display.h>
}

namespace {

// A matrix whose off-axis terms are below this share of its on-axis terms
// turns by a multiple of a quarter turn (tan of one degree: the tolerance
// players allow before they rotate by an odd angle).
constexpr double kRightAngleTolerance = 0.0175;
constexpr int kFullTurnDegrees = 360;

}  // namespace

int Orientation::ClockwiseDegrees() const {
    if (transpose) {
        return mirrorY ? 270 : 90;
    }
    return mirrorY ? 180 : 0;
}

bool Orientation::mirrored() const { return transpose ? mirrorX == mirrorY : mirrorX != mirrorY; }

std::string Orientation::Describe() const {
    const int degrees = ClockwiseDegrees();
    std::string text;
    if (degrees != 0) {
        text = "turned " + std::to_string(degrees) + " degrees" +
               (degrees == 180 ? "" : " clockwise");
    }
    if (mirrored()) {
        text += std::string(text.empty() ? "" : " and ") + "mirrored left to right";
    }
    return text.empty() ? "as stored" : text;
}

std::optional<Orientation> OrientationOfMatrix(const std::int32_t matrix[9]) {
    // libavutil's layout: a displayed point is (x, y) = (a p + c q, b p + d q)
    // for a stored point (p, q), with a b c d at 0 1 3 4, rows running down.
    const double a = matrix[0];
    const double b = matrix[1];
    const double c = matrix[3];
    const double d = matrix[4];
    const double onAxis = std::fabs(a) + std::fabs(d);
    const double offAxis = std::fabs(b) + std::fabs(c);
    Orientation orientation;
    if (onAxis > 0 && offAxis <= kRightAngleTolerance * onAxis && a != 0 && d != 0) {
        orientation.mirrorX = a < 0;
        orientation.mirrorY = d < 0;
        return orientation;
    }
    if (offAxis > 0 && onAxis <= kRightAngleTolerance * offAxis && b != 0 && c != 0) {
        orientation.transpose = true;
        orientation.mirrorX = c < 0;
        orientation.mirrorY = b < 0;
        return orientation;
    }
    return std::nullopt;
}

DisplayTurn DisplayTurnOf(const AVStream& stream) {
    DisplayTurn turn;
    std::size_t size = 0;
    const std::uint8_t* data = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (data == nullptr || size < 9 * sizeof(std::int32_t)) {
        return turn;
    }
    const auto* matrix = reinterpret_cast<const std::int32_t*>(data);
    turn.present = true;
    turn.orientation = OrientationOfMatrix(matrix);
    // libavutil gives the angle anticlockwise.
    const double degrees = -av_display_rotation_get(matrix);
    turn.clockwiseDegrees =
        std::isfinite(degrees) ? std::fmod(degrees + kFullTurnDegrees, kFullTurnDegrees) : 0;
    return turn;
}
