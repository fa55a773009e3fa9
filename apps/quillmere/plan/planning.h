// Planning: from what the user typed and the facts of the opened inputs to
// the settled job. It does no I/O, and after parsing it is the only place
// that refuses a command line (UsageError), so every such refusal comes
// before any output exists and before the main is decoded.
#pragma once

#include "apps/quillmere/plan/request.h"
#include "apps/quillmere/plan/input_facts.h"
#include "apps/quillmere/plan/job.h"

RenderJob PlanJob(const CommandLine& line, const InputFacts& facts);

// join and segments need no facts of their inputs to be planned: they are
// planned from the command line alone, before any part is opened or the
// main scanned (segment_commands_planning.cpp).
JoinJob PlanJoin(const CommandLine& line);
SegmentListJob PlanSegmentList(const CommandLine& line);

// Writes the times of --at, --range and --offset as frames of a main video
// at `rate` into `line` (settings and frameAt). Throws UsageError for a
// range that, in frames, ends before it starts.
void ResolveTimedOptions(CommandLine& line, AVRational rate);

// Whether the run places the overlay (by the options or by default) rather
// than taking the mask from --mask, --key or --script.
bool PlacesOverlay(const CommandLine& line);

// Writes the corners into the settings' mask.
void SetMask(const MaskCorners& mask, FilterData& settings);
