// Interrupt signals during a run. The first SIGINT, SIGTERM, SIGHUP or
// SIGQUIT asks the job to stop (the pipeline polls for it and the
// destructors clean up); a second one means the job did not stop in time:
// the part files still registered are removed and the process exits at once.
#pragma once

#include <string>

// Installs the handlers of SIGINT, SIGTERM, SIGHUP and SIGQUIT.
void InstallInterruptHandlers();
// The signal that asked the job to stop, or 0.
int InterruptSignal();
// Throws RunnerError ("interrupted") once a signal has asked the job to stop.
void ThrowIfInterrupted();

// Registers a part file for the second signal to remove; returns its slot,
// or -1 when it cannot be kept (a path too long, every slot taken).
int RegisterPartFile(const std::string& path);
void UnregisterPartFile(int slot);
