// The closing line of a run (left out with -q).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// "quillmere: done: 300 frames (00:00:12.00 of video) in 4.1 s, 73.2 fps,
// 2.93x; out.mkv, 3.4 MiB". An empty `output` means nothing was written.
std::string RenderSummary(std::int64_t frames, double frameRate, double seconds,
                          const std::string& output, std::int64_t outputBytes);
// "quillmere: done: frame 17 in 0.3 s; still.png, 12.3 KiB".
std::string FrameSummary(std::int64_t frameNumber, double seconds, const std::string& output,
                         std::int64_t outputBytes);

// A count with its noun, singular for one: "1 frame", "3 segments".
std::string Counted(std::size_t count, const std::string& noun);
// A size as people read it: 900 B, 12.3 KiB, 3.4 MiB, 1.2 GiB.
std::string ReadableSize(std::int64_t bytes);
// A position in a video as HH:MM:SS.cc.
std::string VideoTime(double seconds);
// The size of a file, or -1.
std::int64_t FileSize(const std::string& path);
