#include "opuspipe/opuspipe.h"

#include <opus_defines.h>
#include <opusenc.h>

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>

#include "opuspipe/options.h"

namespace {

constexpr const char* invalid_arguments_message =
    "invalid arguments sample_rate=%d channels=%d bitrate=%d\n";
constexpr const char* comments_failed_message = "failed to create Ogg Opus comments\n";
constexpr const char* encoder_failed_message = "failed to create encoder: %s\n";
constexpr const char* bitrate_failed_message = "failed to set bitrate: %s\n";
constexpr const char* vbr_failed_message = "failed to set VBR mode: %s\n";
constexpr const char* signal_failed_message = "failed to set signal mode: %s\n";
constexpr const char* frame_duration_failed_message = "failed to set frame duration: %s\n";
constexpr const char* max_delay_failed_message = "failed to set max delay: %s\n";
constexpr const char* read_failed_message = "failed reading stdin: %s\n";
constexpr const char* write_failed_message = "failed to write audio data: %s\n";
constexpr const char* drain_failed_message = "failed to drain encoder: %s\n";

constexpr const char* encoder_tag = "ENCODER";
constexpr const char* encoder_name = "libopusenc-unified-buffer";

// The rates a host records at, from narrowband telephony to 768 kHz studio audio. Below about
// 90 Hz the library's resampler outgrows its buffer when draining (it asserts), and "16k" reads
// as 16: a typo must not crash. Above, the resampler's work grows with the rate.
constexpr int lowest_sample_rate = 8000;
constexpr int highest_sample_rate = 768000;

constexpr size_t read_buffer_bytes = 8192;
constexpr int bytes_per_sample = 2;

// The input is 16-bit little-endian PCM handed to the library in place, as native samples.
static_assert(std::endian::native == std::endian::little, "PCM is passed on without byte swaps");
static_assert(sizeof(opus_int16) == bytes_per_sample);

struct encoder_request {
    int code;
    int value;
    const char* message;
    int status;
};

// Reports the first request that fails; status_ok when all succeeded.
int make_requests(OggOpusEnc* encoder, std::span<const encoder_request> requests) {
    for (const auto& r : requests) {
        const int result = ope_encoder_ctl(encoder, r.code, r.value);
        if (result != OPE_OK) {
            std::fprintf(stderr, r.message, ope_strerror(result));
            return r.status;
        }
    }
    return status_ok;
}

int apply_codec_requests(OggOpusEnc* encoder, int bitrate, bool vbr, int signal,
                         int frame_duration) {
    const encoder_request requests[] = {
        {OPUS_SET_BITRATE_REQUEST, bitrate, bitrate_failed_message, status_bitrate_failed},
        {OPUS_SET_VBR_REQUEST, vbr ? 1 : 0, vbr_failed_message, status_vbr_failed},
        {OPUS_SET_SIGNAL_REQUEST, signal, signal_failed_message, status_signal_failed},
        {OPUS_SET_EXPERT_FRAME_DURATION_REQUEST, frame_duration, frame_duration_failed_message,
         status_frame_duration_failed},
    };
    return make_requests(encoder, requests);
}

// A page leaves once it holds `muxing_delay` samples; with no decision delay each frame is
// encoded as soon as it is in, instead of the library's two seconds later.
int apply_max_delay(OggOpusEnc* encoder, int muxing_delay) {
    const encoder_request requests[] = {
        {OPE_SET_MUXING_DELAY_REQUEST, muxing_delay, max_delay_failed_message,
         status_max_delay_failed},
        {OPE_SET_DECISION_DELAY_REQUEST, 0, max_delay_failed_message, status_max_delay_failed},
    };
    return make_requests(encoder, requests);
}

// Feeds standard input to the encoder in blocks of whole frames until end of file.
int encode_input(OggOpusEnc* encoder, int channels) {
    // The one buffer: read as bytes, its samples go to the library in place.
    static opus_int16 buffer[read_buffer_bytes / bytes_per_sample];
    static_assert(sizeof buffer == read_buffer_bytes);
    bool wrote_audio = false;
    while (!std::feof(stdin)) {
        const size_t bytes = std::fread(buffer, 1, sizeof buffer, stdin);
        if (bytes == 0) {
            if (std::ferror(stdin)) {
                std::fprintf(stderr, read_failed_message, std::strerror(errno));
                return status_read_failed;
            }
            break;
        }
        // A trailing odd byte or lone sample of an incomplete frame is dropped.
        const int frames = static_cast<int>(bytes / bytes_per_sample) / channels;
        if (frames == 0) {
            continue;
        }
        const int result = ope_encoder_write(encoder, buffer, frames);
        if (result != OPE_OK) {
            std::fprintf(stderr, write_failed_message, ope_strerror(result));
            return status_write_failed;
        }
        wrote_audio = true;
    }
    if (!wrote_audio) {
        // The library sets its stream up at the first write. libopusenc 0.2.1 drains a stream
        // not yet set up with too little padding (it asserts) and an end it never set; a write
        // of no samples sets both up, as later versions do in the drain. A failure to write the
        // headers is the drain's to report, as it is there.
        ope_encoder_write(encoder, buffer, 0);
    }
    return status_ok;
}

}  // namespace

int write_callback(void*, const unsigned char* data, opus_int32 length) {
    if (length <= 0) {
        return 0;
    }
    const size_t written = std::fwrite(data, 1, static_cast<size_t>(length), stdout);
    // A page still in the stdio buffer is not delivered: a failed flush fails the write.
    const bool flushed = std::fflush(stdout) == 0;
    return written < static_cast<size_t>(length) || !flushed ? 1 : 0;
}

int close_callback(void*) {
    std::fflush(stdout);
    return std::ferror(stdout) ? 1 : 0;
}

int run_opuspipe(int argc, char** argv) {
    const int sample_rate = read_int_arg(argc, argv, "--sample-rate", 16000);
    const int channels = read_int_arg(argc, argv, "--channels", 1);
    const int bitrate = read_int_arg(argc, argv, "--bitrate", 16000);
    const bool vbr = read_bool_arg(argc, argv, "--vbr", true);
    const int frame_ms = read_int_arg(argc, argv, "--frame-size", 20);
    const char* signal_text = read_string_arg(argc, argv, "--signal", "voice");
    const std::optional<int> max_delay_ms = read_optional_int_arg(argc, argv, "--max-delay");

    if (sample_rate < lowest_sample_rate || sample_rate > highest_sample_rate ||
        (channels != 1 && channels != 2) || bitrate <= 0) {
        std::fprintf(stderr, invalid_arguments_message, sample_rate, channels, bitrate);
        return status_invalid_arguments;
    }

    OggOpusComments* comments = ope_comments_create();
    if (comments == nullptr) {
        std::fputs(comments_failed_message, stderr);
        return status_comments_failed;
    }
    ope_comments_add(comments, encoder_tag, encoder_name);

    OpusEncCallbacks callbacks = {write_callback, close_callback};
    int error = OPE_OK;
    OggOpusEnc* encoder = ope_encoder_create_callbacks(&callbacks, nullptr, comments, sample_rate,
                                                       channels, 0, &error);
    ope_comments_destroy(comments);
    if (encoder == nullptr || error != OPE_OK) {
        std::fprintf(stderr, encoder_failed_message, ope_strerror(error));
        if (encoder != nullptr) {
            ope_encoder_destroy(encoder);
        }
        return status_encoder_failed;
    }

    int status = apply_codec_requests(encoder, bitrate, vbr, signal_from_arg(signal_text),
                                      frame_duration_from_ms(frame_ms));
    // Without the option the library's own buffering stays, and so does the stream.
    if (status == status_ok && max_delay_ms) {
        status = apply_max_delay(encoder, muxing_delay_from_ms(*max_delay_ms));
    }
    if (status == status_ok) {
        status = encode_input(encoder, channels);
    }
    if (status == status_ok) {
        const int result = ope_encoder_drain(encoder);
        if (result != OPE_OK) {
            std::fprintf(stderr, drain_failed_message, ope_strerror(result));
            status = status_drain_failed;
        }
    }
    ope_encoder_destroy(encoder);
    return status;
}
