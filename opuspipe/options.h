// Command-line options of opuspipe: each option name is followed by its value.
#pragma once

#include <cstdint>
#include <optional>

// Decimal integer as C's atoi reads it (leading blanks, optional sign, digits up to the first
// other character; none gives 0), but saturated at the 32-bit limits instead of overflowing.
int parse_int(const char* text);

// The value after the first occurrence of `name` that has an argument after it, else the
// default. Every position is examined, also one holding another option's value.
int read_int_arg(int argc, char** argv, const char* name, int default_value);
// The same reading for an option whose absence asks for no setting at all: none then.
std::optional<int> read_optional_int_arg(int argc, char** argv, const char* name);
const char* read_string_arg(int argc, char** argv, const char* name, const char* default_value);

// "--vbr" alone or last is true; "true"/"1" after it is true, "false"/"0" false, anything
// else true. Absent: the default.
bool read_bool_arg(int argc, char** argv, const char* name, bool default_value);

// libopus signal hint for the "--signal" text: voice, music, or automatic.
int signal_from_arg(const char* text);

// libopus frame duration for a "--frame-size" in milliseconds (2 stands for 2.5 ms).
int frame_duration_from_ms(int ms);

// libopusenc's muxing delay in 48 kHz samples for a "--max-delay" in milliseconds, taken at
// the nearest of 0 and 1000 as an unknown frame size falls back; 0 is a page per packet.
int muxing_delay_from_ms(int ms);
