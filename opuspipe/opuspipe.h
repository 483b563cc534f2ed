// opuspipe: 16-bit little-endian PCM on standard input to an Ogg Opus stream on standard
// output, written page by page as libopusenc produces it.
#pragma once

#include <opus_types.h>

// Exit statuses; 1 is never used.
enum opuspipe_status {
    status_ok = 0,
    status_invalid_arguments = 2,
    status_comments_failed = 3,
    status_encoder_failed = 4,
    status_bitrate_failed = 5,
    status_vbr_failed = 6,
    status_signal_failed = 7,
    status_frame_duration_failed = 8,
    status_read_failed = 9,
    status_write_failed = 10,
    status_drain_failed = 11,
    status_max_delay_failed = 12,
};

// libopusenc's output callbacks; the user data is unused.
int write_callback(void* user_data, const unsigned char* data, opus_int32 length);
int close_callback(void* user_data);

// The whole program: options, encoder set-up, the read loop and the drain.
int run_opuspipe(int argc, char** argv);
