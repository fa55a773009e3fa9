#include "apps/quillmere/media/container_table.h"

#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

namespace {

// Lossless FFV1 keeps the composite exactly, in the main video's own pixel
// format; H.264 for the containers that players expect it in. MP4 and
// QuickTime write their index after the media, AVI its sizes into the header.
const std::vector<OutputFormat> kOutputFormats = {
    {".mkv", "matroska", "ffv1", "Matroska, lossless FFV1", false},
    {".avi", "avi", "ffv1", "AVI, lossless FFV1", true},
    {".nut", "nut", "ffv1", "NUT, lossless FFV1", false},
    {".mp4", "mp4", "libx264", "MP4, H.264", true},
    {".mov", "mov", "libx264", "QuickTime, H.264", true},
};

std::string KnownFormats() {
    std::string list;
    for (const OutputFormat& format : kOutputFormats) {
        list += list.empty() ? "" : ", ";
        list += format.extension;
    }
    return list;
}

std::string Lowercase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

}  // namespace

const std::vector<OutputFormat>& OutputFormats() { return kOutputFormats; }

const OutputFormat& OutputFormatForPath(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        const std::string extension = Lowercase(path.substr(dot));
        for (const OutputFormat& format : kOutputFormats) {
            if (extension == format.extension) {
                return format;
            }
        }
    }
    throw UsageError("cannot tell the output format from " + Quoted(path) + ": use " +
                     KnownFormats() + " or --format");
}

const OutputFormat& OutputFormatByName(const std::string& muxer) {
    for (const OutputFormat& format : kOutputFormats) {
        if (muxer == format.muxer || muxer == format.extension + 1) {
            return format;
        }
    }
    std::string names;
    for (const OutputFormat& format : kOutputFormats) {
        names += std::string(format.muxer) + ", ";
    }
    throw UsageError("unknown output format " + Quoted(muxer) + ": use one of " + names + "null");
}
