// How a stored picture is meant to be seen. Phones record a picture as the
// sensor delivers it and add a display matrix that turns it for players;
// here that matrix becomes the quarter turns and mirrors it makes of the
// pixel grid, which can be carried out sample for sample.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

// The picture is first transposed (when `transpose`: its rows become its
// columns) and then, in that shape, mirrored left to right and top to
// bottom. The eight combinations are every quarter turn with or without a
// mirror.
struct Orientation {
    bool transpose = false;
    bool mirrorX = false;
    bool mirrorY = false;

    bool identity() const { return !transpose && !mirrorX && !mirrorY; }
    bool operator==(const Orientation& other) const {
        return transpose == other.transpose && mirrorX == other.mirrorX &&
               mirrorY == other.mirrorY;
    }
    // The turn part, clockwise: 0, 90, 180 or 270; a mirror is left to right, after it.
    int ClockwiseDegrees() const;
    bool mirrored() const;
    // "turned 90 degrees clockwise", "mirrored left to right", ...
    std::string Describe() const;
    // The stored picture's size as it is seen.
    int SeenWidth(int storedWidth, int storedHeight) const {
        return transpose ? storedHeight : storedWidth;
    }
    int SeenHeight(int storedWidth, int storedHeight) const {
        return transpose ? storedWidth : storedHeight;
    }
};

// What a stream's display matrix asks for.
struct DisplayTurn {
    bool present = false;  // the stream has a display matrix
    // The matrix as quarter turns and mirrors; none when it turns by some
    // other angle (or skews), which no sample-for-sample turn can show.
    std::optional<Orientation> orientation;
    double clockwiseDegrees = 0;  // the matrix's angle, for messages
};

// The orientation of a display matrix as libavutil lays it out (nine
// 32-bit fixed-point values); none when it is no multiple of a quarter
// turn (within a degree).
std::optional<Orientation> OrientationOfMatrix(const std::int32_t matrix[9]);

// The display matrix of `stream`, read.
DisplayTurn DisplayTurnOf(const AVStream& stream);
