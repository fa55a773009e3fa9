// A render started from the page, run as a quillmere render process of its
// own: it runs exactly as the page's command line would, beside the page's
// pictures without sharing the filter's module-wide state with them, and
// says how far it has got in its own --progress blocks. Cancelling it is
// what Ctrl-C does to a render: it stops, and nothing is left under the
// output's name.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "apps/quillmere/edit/edit_work.h"

class RenderProcess {
public:
    // `program`: the quillmere executable to run.
    explicit RenderProcess(std::string program);
    // Cancels a render still running and waits for it.
    ~RenderProcess();
    RenderProcess(const RenderProcess&) = delete;
    RenderProcess& operator=(const RenderProcess&) = delete;

    // Runs `program` with `arguments` (everything after the program's name;
    // the progress options are added here). Throws RunnerError when a
    // render is running or the process cannot be started.
    void Start(const std::vector<std::string>& arguments);
    RenderStatus status() const;
    void Cancel();

private:
    void Watch(pid_t child, int progress, int errors);
    void TakeProgressLine(const std::string& line);
    void Finish(int waitStatus);

    std::string program_;
    mutable std::mutex mutex_;
    RenderStatus status_;
    pid_t child_ = -1;
    bool cancelled_ = false;
    std::chrono::steady_clock::time_point cancelledAt_;
    bool secondSignalSent_ = false;
    std::string lastError_;  // the process's last line on stderr
    RenderStatus block_;     // the progress block being read
    std::thread watcher_;
};
