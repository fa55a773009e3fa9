#include "apps/quillmere/media/audio_transcoder.h"

#include <cstdlib>

#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace {

// Encoders that take any number of samples at once (PCM, FLAC) get them in
// frames of this size.
constexpr int kFreeFrameSamples = 1024;

// The input's format where the encoder takes it; else the first it takes
// at the input's depth or more (float for the lossy encoders), else its first.
AVSampleFormat ChooseSampleFormat(const AVCodec& codec, AVSampleFormat input) {
    if (codec.sample_fmts == nullptr) {
        return input;
    }
    const int depth = av_get_bytes_per_sample(input);
    for (const AVSampleFormat* format = codec.sample_fmts; *format != AV_SAMPLE_FMT_NONE;
         ++format) {
        if (*format == input) {
            return input;
        }
    }
    for (const AVSampleFormat* format = codec.sample_fmts; *format != AV_SAMPLE_FMT_NONE;
         ++format) {
        if (av_get_bytes_per_sample(*format) >= depth) {
            return *format;
        }
    }
    return codec.sample_fmts[0];
}

// The input's rate where the encoder takes it, else the nearest it takes.
int ChooseSampleRate(const AVCodec& codec, int input) {
    if (codec.supported_samplerates == nullptr) {
        return input;
    }
    int chosen = codec.supported_samplerates[0];
    for (const int* rate = codec.supported_samplerates; *rate != 0; ++rate) {
        if (std::abs(*rate - input) < std::abs(chosen - input)) {
            chosen = *rate;
        }
    }
    return chosen;
}

// The input's layout where the encoder takes it; else one of as many
// channels, else the widest narrower one, else the encoder's first.
void ChooseLayout(const AVCodec& codec, const AVChannelLayout& input, AVChannelLayout& chosen) {
    const AVChannelLayout* pick = &input;
    if (codec.ch_layouts != nullptr) {
        const AVChannelLayout* sameCount = nullptr;
        const AVChannelLayout* narrower = nullptr;
        bool listed = false;
        for (const AVChannelLayout* layout = codec.ch_layouts; layout->nb_channels != 0;
             ++layout) {
            listed = listed || av_channel_layout_compare(layout, &input) == 0;
            if (sameCount == nullptr && layout->nb_channels == input.nb_channels) {
                sameCount = layout;
            }
            if (layout->nb_channels < input.nb_channels &&
                (narrower == nullptr || layout->nb_channels > narrower->nb_channels)) {
                narrower = layout;
            }
        }
        if (!listed) {
            pick = sameCount != nullptr ? sameCount
                   : narrower != nullptr ? narrower
                                         : codec.ch_layouts;
        }
    }
    if (av_channel_layout_copy(&chosen, pick) < 0) {
        throw RunnerError("out of memory");
    }
}

// "stereo at 48000 Hz".
std::string Description(const AVChannelLayout& layout, int rate) {
    char name[64] = "?";
    av_channel_layout_describe(&layout, name, sizeof name);
    return std::string(name) + " at " + std::to_string(rate) + " Hz";
}

}  // namespace

void AudioTranscoder::ConverterDeleter::operator()(SwrContext* context) const {
    swr_free(&context);
}

void AudioTranscoder::BufferDeleter::operator()(AVAudioFifo* fifo) const {
    av_audio_fifo_free(fifo);
}

AudioTranscoder::AudioTranscoder(const AVStream& input, const AudioEncoding& encoding,
                                 bool globalHeader, const std::string& displayName,
                                 NoticeHandler notice, const AudioMixing* mixing)
    : displayName_(displayName), decoded_(NewFrame()), chunk_(NewFrame()),
      packet_(NewPacket()) {
    if (mixing != nullptr) {
        mixer_ = std::make_unique<AudioMixer>(*mixing, displayName);
    }
    OpenDecoder(input);
    OpenEncoder(encoding, globalHeader);
    if (encoder_->ch_layout.nb_channels != decoder_->ch_layout.nb_channels ||
        encoder_->sample_rate != decoder_->sample_rate) {
        notice("the " + encoding.encoder + " encoder cannot take the main video's audio as it "
               "is (" + Description(decoder_->ch_layout, decoder_->sample_rate) + "); " +
               Quoted(displayName_) + " holds it as " +
               Description(encoder_->ch_layout, encoder_->sample_rate));
    }
    chunk_->nb_samples = chunkSamples_;
    chunk_->format = encoder_->sample_fmt;
    chunk_->sample_rate = encoder_->sample_rate;
    if (av_channel_layout_copy(&chunk_->ch_layout, &encoder_->ch_layout) < 0 ||
        av_frame_get_buffer(chunk_.get(), 0) < 0) {
        throw RunnerError("out of memory");
    }
    buffered_.reset(av_audio_fifo_alloc(encoder_->sample_fmt, encoder_->ch_layout.nb_channels,
                                        chunkSamples_));
    if (!buffered_) {
        throw RunnerError("out of memory");
    }
}

AudioTranscoder::~AudioTranscoder() {
    if (convertedData_ != nullptr) {
        av_freep(&convertedData_[0]);
    }
    av_freep(&convertedData_);
    av_channel_layout_uninit(&converterLayout_);
}

void AudioTranscoder::Fail(const std::string& what, int error) const {
    throw RunnerError(what + " " + Quoted(displayName_) + ": " + AvErrorText(error));
}

void AudioTranscoder::OpenDecoder(const AVStream& input) {
    const AVCodec* codec = avcodec_find_decoder(input.codecpar->codec_id);
    if (codec == nullptr) {
        throw RunnerError(std::string("cannot re-encode the main video's ") +
                          avcodec_get_name(input.codecpar->codec_id) +
                          " audio: this FFmpeg has no decoder for it");
    }
    decoder_.reset(avcodec_alloc_context3(codec));
    if (!decoder_ || avcodec_parameters_to_context(decoder_.get(), input.codecpar) < 0) {
        throw RunnerError("out of memory");
    }
    decoder_->pkt_timebase = input.time_base;
    const int error = avcodec_open2(decoder_.get(), codec, nullptr);
    if (error < 0) {
        throw RunnerError(std::string("cannot decode the main video's ") + codec->name +
                          " audio: " + AvErrorText(error));
    }
}

void AudioTranscoder::OpenEncoder(const AudioEncoding& encoding, bool globalHeader) {
    const AVCodec* codec = avcodec_find_encoder_by_name(encoding.encoder.c_str());
    if (codec == nullptr) {
        throw RunnerError("this FFmpeg has no " + encoding.encoder + " encoder");
    }
    encoder_.reset(avcodec_alloc_context3(codec));
    if (!encoder_) {
        throw RunnerError("out of memory");
    }
    AVChannelLayout input{};
    if (decoder_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_default(&input, decoder_->ch_layout.nb_channels);
    } else if (av_channel_layout_copy(&input, &decoder_->ch_layout) < 0) {
        throw RunnerError("out of memory");
    }
    ChooseLayout(*codec, input, encoder_->ch_layout);
    av_channel_layout_uninit(&input);
    encoder_->sample_fmt = ChooseSampleFormat(*codec, decoder_->sample_fmt);
    encoder_->sample_rate = ChooseSampleRate(*codec, decoder_->sample_rate);
    encoder_->time_base = AVRational{1, encoder_->sample_rate};
    if (encoding.bitRate > 0) {
        encoder_->bit_rate = encoding.bitRate;
    }
    if (globalHeader) {
        encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    const int error = avcodec_open2(encoder_.get(), codec, nullptr);
    if (error < 0) {
        char layout[64] = "?";
        av_channel_layout_describe(&encoder_->ch_layout, layout, sizeof layout);
        const char* format = av_get_sample_fmt_name(encoder_->sample_fmt);
        throw RunnerError("cannot write " + Quoted(displayName_) + ": the " + codec->name +
                          " encoder refused " + std::to_string(encoder_->sample_rate) + " Hz " +
                          layout + " " + (format != nullptr ? format : "?") + " audio: " +
                          AvErrorText(error));
    }
    const bool anySize = encoder_->frame_size <= 0 ||
                         (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
    chunkSamples_ = anySize ? kFreeFrameSamples : encoder_->frame_size;
}

void AudioTranscoder::ConfigureConverter(const AVFrame& frame) {
    if (converter_ && frame.format == converterFormat_ && frame.sample_rate == converterRate_ &&
        av_channel_layout_compare(&frame.ch_layout, &converterLayout_) == 0) {
        return;
    }
    AVChannelLayout layout{};
    if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_default(&layout, frame.ch_layout.nb_channels);
    } else if (av_channel_layout_copy(&layout, &frame.ch_layout) < 0) {
        throw RunnerError("out of memory");
    }
    SwrContext* context = nullptr;
    int error = swr_alloc_set_opts2(&context, &encoder_->ch_layout, encoder_->sample_fmt,
                                    encoder_->sample_rate, &layout,
                                    static_cast<AVSampleFormat>(frame.format), frame.sample_rate,
                                    0, nullptr);
    av_channel_layout_uninit(&layout);
    converter_.reset(context);
    if (error >= 0) {
        error = swr_init(context);
    }
    if (error < 0) {
        Fail("cannot convert the audio for", error);
    }
    converterFormat_ = frame.format;
    converterRate_ = frame.sample_rate;
    av_channel_layout_uninit(&converterLayout_);
    if (av_channel_layout_copy(&converterLayout_, &frame.ch_layout) < 0) {
        throw RunnerError("out of memory");
    }
}

void AudioTranscoder::Convert(const AVFrame* frame) {
    if (!converter_) {
        return;  // nothing was ever decoded
    }
    const int inputSamples = frame != nullptr ? frame->nb_samples : 0;
    const int room = swr_get_out_samples(converter_.get(), inputSamples);
    if (room < 0) {
        Fail("cannot convert the audio for", room);
    }
    if (room > convertedCapacity_) {
        if (convertedData_ != nullptr) {
            av_freep(&convertedData_[0]);
        }
        av_freep(&convertedData_);
        const int error = av_samples_alloc_array_and_samples(
            &convertedData_, nullptr, encoder_->ch_layout.nb_channels, room,
            encoder_->sample_fmt, 0);
        if (error < 0) {
            throw RunnerError("out of memory");
        }
        convertedCapacity_ = room;
    }
    const int converted = swr_convert(
        converter_.get(), convertedData_, convertedCapacity_,
        frame != nullptr ? const_cast<const std::uint8_t**>(frame->extended_data) : nullptr,
        inputSamples);
    if (converted < 0) {
        Fail("cannot convert the audio for", converted);
    }
    if (converted > 0 &&
        av_audio_fifo_write(buffered_.get(), reinterpret_cast<void**>(convertedData_),
                            converted) < converted) {
        throw RunnerError("out of memory");
    }
}

void AudioTranscoder::Drain(const PacketHandler& out) {
    for (;;) {
        const int error = avcodec_receive_packet(encoder_.get(), packet_.get());
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) {
            return;
        }
        if (error < 0) {
            Fail("cannot encode the audio of", error);
        }
        out(*packet_);
        av_packet_unref(packet_.get());
    }
}

void AudioTranscoder::EncodeBuffered(bool last, const PacketHandler& out) {
    for (;;) {
        const int available = av_audio_fifo_size(buffered_.get());
        if (available == 0 || (available < chunkSamples_ && !last)) {
            return;
        }
        const int samples = available < chunkSamples_ ? available : chunkSamples_;
        // The encoder may still hold the last chunk: then this one gets a
        // buffer of its own.
        chunk_->nb_samples = chunkSamples_;
        if (av_frame_make_writable(chunk_.get()) < 0) {
            throw RunnerError("out of memory");
        }
        chunk_->nb_samples = samples;
        av_audio_fifo_read(buffered_.get(), reinterpret_cast<void**>(chunk_->data), samples);
        chunk_->pts = nextTime_;
        nextTime_ += samples;
        const int error = avcodec_send_frame(encoder_.get(), chunk_.get());
        if (error < 0) {
            Fail("cannot encode the audio of", error);
        }
        // Encoders hold only so much: what they have made goes out before
        // the next frame.
        Drain(out);
    }
}

void AudioTranscoder::DecodeAvailable() {
    for (;;) {
        const int error = avcodec_receive_frame(decoder_.get(), decoded_.get());
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) {
            return;
        }
        if (error < 0) {
            Fail("cannot decode the audio for", error);
        }
        if (nextTime_ == AV_NOPTS_VALUE) {
            // The first sample keeps the stream's time; the rest follow it.
            const std::int64_t time = decoded_->best_effort_timestamp != AV_NOPTS_VALUE
                                          ? decoded_->best_effort_timestamp
                                          : 0;
            nextTime_ = av_rescale_q(time, decoder_->pkt_timebase, encoder_->time_base);
        }
        if (mixer_) {
            decoded_->pts = decoded_->best_effort_timestamp;
            mixer_->Push(decoded_.get(), decoder_->pkt_timebase, MixedOut());
        } else {
            ConfigureConverter(*decoded_);
            Convert(decoded_.get());
        }
        av_frame_unref(decoded_.get());
    }
}

AudioMixer::FrameHandler AudioTranscoder::MixedOut() {
    return [this](AVFrame& mixed) {
        ConfigureConverter(mixed);
        Convert(&mixed);
    };
}

void AudioTranscoder::Send(const AVPacket& packet, const PacketHandler& out) {
    const int error = avcodec_send_packet(decoder_.get(), &packet);
    if (error < 0 && error != AVERROR(EAGAIN)) {
        Fail("cannot decode the audio for", error);
    }
    DecodeAvailable();
    EncodeBuffered(false, out);
}

void AudioTranscoder::Flush(const PacketHandler& out) {
    if (flushed_) {
        return;
    }
    flushed_ = true;
    avcodec_send_packet(decoder_.get(), nullptr);
    DecodeAvailable();
    if (mixer_) {
        mixer_->Push(nullptr, decoder_->pkt_timebase, MixedOut());
    }
    Convert(nullptr);  // what the converter holds back for its filter
    EncodeBuffered(true, out);
    const int error = avcodec_send_frame(encoder_.get(), nullptr);
    if (error < 0 && error != AVERROR_EOF) {
        Fail("cannot encode the audio of", error);
    }
    Drain(out);
}
