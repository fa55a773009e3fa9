// Planning a segment of a render (--segment K/N): the frames it covers,
// from the main's scanned frames and key frames, and the job's fingerprint
// over the main's and the overlay's identities and every setting that
// shapes the output, so that every segment of one job agrees and join can
// tell the segments of one job from another's.
#pragma once

#include "apps/quillmere/plan/request.h"
#include "apps/quillmere/plan/input_facts.h"
#include "apps/quillmere/plan/job.h"

// `line` with times resolved, `job` planned but for its segment. Throws
// UsageError when the main cannot be cut as asked.
SegmentJob PlanSegment(const CommandLine& line, const InputFacts& facts, const RenderJob& job);

// The segments of the main in `facts` (scanned) cut into `count`.
std::vector<Segment> SegmentsOf(const InputFacts& facts, int count);
