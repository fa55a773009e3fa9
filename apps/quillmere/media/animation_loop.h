// How often an animated picture file (GIF, APNG) asks to be played. The
// demuxers play such a file once and keep the flag to themselves, so it is
// read from the file's own blocks.
#pragma once

#include <string>

// Plays as an animation's file states them.
struct AnimationPlays {
    bool stated = false;  // the file is an animation that says how often it plays
    int count = 1;        // 0: without end
    bool endless() const { return stated && count == 0; }
};

// What `path` states; nothing stated for a file that is no GIF or APNG, or
// cannot be read (the overlay's reader reports that).
AnimationPlays ReadAnimationPlays(const std::string& path);
