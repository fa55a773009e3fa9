// The containers the runner writes, each with the codec it writes into it
// unless asked for another.
#pragma once

#include <string>
#include <vector>

// One supported container and the codec the runner writes into it unless
// asked for another. The pixel format follows the main video wherever the
// encoder can take it.
struct OutputFormat {
    const char* extension;  // with the dot
    const char* muxer;      // libavformat's name
    const char* encoder;    // libavcodec's name
    const char* description;
    bool needsSeekableOutput;  // goes back to complete its header or index: no pipes
};

// Every supported container, in the order the help lists them.
const std::vector<OutputFormat>& OutputFormats();

// The row of a known extension or muxer name; throws UsageError otherwise.
const OutputFormat& OutputFormatForPath(const std::string& path);
const OutputFormat& OutputFormatByName(const std::string& muxer);
