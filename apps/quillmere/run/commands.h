// The runner's commands. Each returns the process's exit code on success
// and throws UsageError or RunnerError on failure.
#pragma once

#include "apps/quillmere/plan/request.h"

int RunRender(const CommandLine& line);
int RunFrame(const CommandLine& line);
int RunDemo(const CommandLine& line);
// Prints the mask a placement gives on MAIN and the script line for it.
int RunPlace(const CommandLine& line);
// Prints the segments of MAIN cut into N (a table, JSON or a Slurm job script).
int RunSegments(const CommandLine& line);
// Stitches the segments of one render into one video.
int RunJoin(const CommandLine& line);
// Serves the page that places the overlay by eye, until its Quit.
int RunEdit(const CommandLine& line);
