#pragma once

// A rectangle of a picture in pixels, top row first.
struct PictureRect {
    int x = 0, y = 0, width = 0, height = 0;

    bool empty() const { return width <= 0 || height <= 0; }
    int right() const { return x + width; }
    int bottom() const { return y + height; }
};
