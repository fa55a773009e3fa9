// A segments manifest: what `segments MAIN N --manifest FILE` learned by
// reading the whole main once (its frame times, key frames and identity,
// the overlay's identity, the cuts), so that each segment's render and the
// join read only what they need of the main instead of scanning it again.
//
// The manifest is trusted only for the file it was written from: the
// main's size and modification time must be those it records, its probed
// stream (codec, picture size, time base) must match, and the identity it
// records must be the one its own frame list gives. Anything else, and a
// manifest of another count or format, is refused as a usage error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "apps/quillmere/media/stream_identity.h"
#include "apps/quillmere/plan/segments.h"

extern "C" {
#include <libavformat/avformat.h>
}

// Where a file was when it was read, and what stat said of it then.
struct FileStamp {
    std::string path;  // absolute
    std::int64_t size = 0;
    std::int64_t modifiedNanoseconds = 0;
};

// Stamps `path` (made absolute); throws UsageError naming it when it cannot
// be read.
FileStamp StampOf(const std::string& path);

struct ManifestOverlay {
    FileStamp file;
    long stream = -1;  // as --overlay-stream counts
    std::string identity;
};

struct SegmentManifest {
    FileStamp main;
    long videoStream = -1;  // as --video-stream counts
    ScannedVideo mainScan;
    std::optional<ManifestOverlay> overlay;
    int count = 1;
    std::vector<Segment> segments;
};

// Writes `manifest` to `path` whole or not at all; throws RunnerError when
// it cannot.
void WriteSegmentManifest(const std::string& path, const SegmentManifest& manifest);

// Reads the manifest at `path` for a render of `count` segments of the
// video stream `mainStream` of `mainPath`; the scan's codec parameters
// become `mainStream`'s. Throws UsageError, in one line, for a manifest
// that cannot be read, is damaged or of another format, or that is not of
// this main as it is now, this stream or this count.
SegmentManifest ReadSegmentManifest(const std::string& path, const std::string& mainPath,
                                    const AVStream& mainStream, int count);

// The identity the manifest records for an overlay at `path` (stream
// `stream`), when that file is still as it was; empty otherwise.
std::string KnownOverlayIdentity(const SegmentManifest& manifest, const std::string& path,
                                 long stream);

// For join: reads the manifest at `path` and checks it against `mainPath`
// as it is now (not against a count or an opened stream).
SegmentManifest ReadManifestOfMain(const std::string& path, const std::string& mainPath);
