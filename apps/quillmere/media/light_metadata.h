// What an HDR video states of its light beyond the colour properties: the
// mastering display's colour volume and the content's light levels (HDR10's
// static metadata), and whether it carries Dolby Vision. Read from the main,
// stored as stream side data where the container keeps it, and handed to the
// encoders whose FFmpeg wrappers do not take it themselves, in their own
// parameters.
#pragma once

#include <optional>
#include <string>

extern "C" {
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/pixfmt.h>
}

struct AVCodec;
struct AVCodecContext;
struct AVFrame;
struct AVStream;
struct OutputFormat;

struct LightMetadata {
    std::optional<AVMasteringDisplayMetadata> mastering;  // with primaries or luminance
    std::optional<AVContentLightMetadata> contentLight;
    bool dolbyVision = false;  // the stream states a Dolby Vision configuration

    bool hdr10() const { return mastering.has_value() || contentLight.has_value(); }
};

// The stream's side data, or where it states none (HEVC and AV1 carry them
// in the pictures), the frame's. `frame` may be null.
LightMetadata LightMetadataOf(const AVStream& stream, const AVFrame* frame);

// The metadata in x265's parameters, its units 0.00002 for chromaticities
// and 0.0001 cd/m2 for luminance: "hdr10=1:master-display=G(x,y)B(x,y)
// R(x,y)WP(x,y)L(max,min):max-cll=cll,fall"; "" for none.
std::string X265LightParameters(const LightMetadata& light);
// The same for SVT-AV1, which takes decimal values: "enable-hdr=1:
// mastering-display=G(x,y)B(x,y)R(x,y)WP(x,y)L(max,min):content-light=cll,fall".
std::string SvtAv1LightParameters(const LightMetadata& light);

// Adds the metadata to the parameters of an encoder that takes it only
// there (x265, SVT-AV1), before it opens; parameters the command line set
// stay as they are.
void PassLightMetadata(AVCodecContext& context, const AVCodec& codec, const LightMetadata& light);

// Stores the metadata as `stream`'s side data, for the muxers that keep it.
void AddLightSideData(AVStream& stream, const LightMetadata& light);

// What of the main's HDR description an output of `format` written by
// `codec` cannot keep, as a note naming `displayName`; "" when it keeps
// everything (or there is nothing to keep). `transfer` is the pictures'.
std::string LostLightNote(const OutputFormat& format, const AVCodec& codec,
                          const LightMetadata& light, AVColorTransferCharacteristic transfer,
                          const std::string& displayName);
