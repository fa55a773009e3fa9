// Where a long render is cut into segments that separate processes (or
// machines) render on their own: frame ranges of the main video, chosen from
// the main alone, so that every run with the same main and count agrees.
//
// A segment should start on a key frame, so that its process decodes from
// its own first frame instead of through the end of the segment before. When
// the main has at least as many key frames after its first frame as there
// are cuts, each cut goes to the key frame nearest its even position (every
// segment then starts on a key frame); otherwise, and when every frame is a
// key frame, the cuts fall evenly by frame count.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Frames of the main video, counted from 0 in presentation order.
struct Segment {
    int index = 0;
    std::int64_t first = 0;  // the segment's first frame
    std::int64_t last = 0;   // its last frame (inclusive)

    std::int64_t frameCount() const { return last - first + 1; }
};

// "K/N" as --segment takes it: segment K (from 0) of N.
struct SegmentChoice {
    int index = 0;
    int count = 1;
};

// Reads "K/N"; throws UsageError naming `option` for anything else, or for
// K outside 0..N-1.
SegmentChoice ParseSegmentChoice(const std::string& text, const std::string& option);

// N as `segments MAIN N` takes it; throws UsageError for anything but a
// whole number from 1.
int ParseSegmentCount(const std::string& text);

// The N segments of a main video of `frameCount` frames whose key frames
// are `keyFrames` (ascending frame numbers). Throws UsageError when N is
// below 1 or above the frame count (naming the largest N the main allows).
std::vector<Segment> CutSegments(std::int64_t frameCount,
                                 const std::vector<std::int64_t>& keyFrames, int count);
