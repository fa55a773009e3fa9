// Re-encodes one of the main video's audio streams: its packets decoded,
// converted to a sample format, rate and channel layout the encoder takes,
// and encoded in frames of the encoder's size. The first sample keeps the
// stream's start time, so the audio keeps its place beside the video.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "apps/quillmere/media/audio_encoder_choice.h"
#include "apps/quillmere/media/audio_mixer.h"
#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/base/notice.h"

struct SwrContext;
struct AVAudioFifo;

class AudioTranscoder {
public:
    // Decodes the packets of `input` and encodes them with `encoding`;
    // `displayName` names the output in messages. `globalHeader`: the
    // container wants the codec's headers once, outside the packets.
    // Throws RunnerError when the audio cannot be decoded here or the
    // encoder refuses it.
    // What the encoder cannot keep (the sample rate, the channels) is
    // changed to the nearest it can take, and said once through `notice`.
    // `mixing`, when given, mixes the overlay's sound in before encoding.
    AudioTranscoder(const AVStream& input, const AudioEncoding& encoding, bool globalHeader,
                    const std::string& displayName, NoticeHandler notice,
                    const AudioMixing* mixing = nullptr);
    ~AudioTranscoder();
    AudioTranscoder(const AudioTranscoder&) = delete;
    AudioTranscoder& operator=(const AudioTranscoder&) = delete;

    // Receives each encoded packet, timed in the encoder's time base.
    using PacketHandler = std::function<void(AVPacket& packet)>;

    // Takes one packet of the input stream; what it completes goes to `out`.
    void Send(const AVPacket& packet, const PacketHandler& out);
    // After the last packet: what the decoder, the converter and the
    // encoder still hold is encoded and goes to `out`.
    void Flush(const PacketHandler& out);

    const AVCodecContext& encoder() const { return *encoder_; }

private:
    void OpenDecoder(const AVStream& input);
    void OpenEncoder(const AudioEncoding& encoding, bool globalHeader);
    void ConfigureConverter(const AVFrame& frame);
    void DecodeAvailable();
    AudioMixer::FrameHandler MixedOut();
    void Convert(const AVFrame* frame);
    void EncodeBuffered(bool last, const PacketHandler& out);
    void Drain(const PacketHandler& out);
    [[noreturn]] void Fail(const std::string& what, int error) const;

    std::string displayName_;
    std::unique_ptr<AudioMixer> mixer_;  // null: the main's sound alone
    CodecContextPtr decoder_;
    CodecContextPtr encoder_;
    struct ConverterDeleter {
        void operator()(SwrContext* context) const;
    };
    struct BufferDeleter {
        void operator()(AVAudioFifo* fifo) const;
    };
    std::unique_ptr<SwrContext, ConverterDeleter> converter_;
    std::unique_ptr<AVAudioFifo, BufferDeleter> buffered_;  // converted samples not yet encoded
    // What the converter was set up for: a frame that differs sets it up again.
    int converterFormat_ = -1;
    int converterRate_ = 0;
    AVChannelLayout converterLayout_{};
    FramePtr decoded_;
    FramePtr chunk_;  // a frame of the encoder's size
    std::uint8_t** convertedData_ = nullptr;  // the converter's output, grown as needed
    int convertedCapacity_ = 0;
    int chunkSamples_ = 0;
    std::int64_t nextTime_ = AV_NOPTS_VALUE;  // of the next sample encoded, in the encoder's time base
    PacketPtr packet_;
    bool flushed_ = false;
};
