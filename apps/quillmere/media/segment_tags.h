// What a segment file says about itself in its container's tags: the job it
// belongs to, its place among the job's segments and its frames, the main
// video the join takes the rest from, and how the main's pictures were
// turned (the join then carries no display matrix over).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "apps/quillmere/media/audio_mixer.h"
#include "apps/quillmere/media/orientation.h"

extern "C" {
#include <libavutil/dict.h>
}

struct SegmentMarks {
    std::string job;  // the job's fingerprint
    int index = 0;
    int count = 1;
    std::int64_t first = 0;  // frames of the main, inclusive
    std::int64_t last = 0;
    std::string mainIdentity;
    std::string mainPath;
    Orientation turn;  // as stored when the tag is missing (segments made before it)
    // The overlay's sound, which the join mixes into the main's audio over
    // the whole timeline (segments carry the video only).
    std::optional<AudioMixing> mix;
};

std::vector<std::pair<std::string, std::string>> TagsOf(const SegmentMarks& marks);

// The marks in `tags`; none when a tag is missing or malformed (a file that
// is no segment).
std::optional<SegmentMarks> MarksFrom(const AVDictionary* tags);
