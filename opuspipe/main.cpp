// opuspipe: PCM on standard input, Ogg Opus on standard output.
#include <csignal>

#include "opuspipe/opuspipe.h"
#include "platform/program_options.h"

namespace {

constexpr const char* usage =
    "Usage: opuspipe [options] < pcm > stream.opus\n"
    "Encodes 16-bit little-endian PCM (channels interleaved) from standard input into an Ogg\n"
    "Opus stream on standard output, page by page, until end of input.\n"
    "  --sample-rate N   input rate in Hz, 8000 to 768000 (16000)\n"
    "  --channels N      1 or 2 (1)\n"
    "  --bitrate N       target bit rate in bit/s (16000)\n"
    "  --vbr [BOOL]      variable bit rate: true, 1, false or 0 (true)\n"
    "  --frame-size N    frame in ms: 2 (2.5 ms), 5, 10, 20, 40 or 60 (20)\n"
    "  --signal WORD     voice, music, or anything else for automatic (voice)\n"
    "  --max-delay MS    the most a page holds back, 0 to 1000 (beyond: the bound),\n"
    "                    each frame encoded at once; unset, the first audio page\n"
    "                    comes 3 s after the audio, at 200 after 0.24 s (+4.5% bytes)\n"
    "  -V, --version     print the version and exit\n"
    "  -h, --help        print this text and exit\n"
    "Exit status:\n"
    "  0      the stream is complete\n"
    "  2      invalid arguments\n"
    "  3-8    the encoder could not be set up\n"
    "  9      standard input could not be read\n"
    "  10-11  the stream could not be written or finished\n"
    "  12     the encoder refused the --max-delay settings\n"
    "From a WAV file (fed as it is, its header would be encoded as sound):\n"
    "  sox in.wav -t raw -r 16000 -c 1 -b 16 -e signed - | opuspipe > out.opus\n";

}  // namespace

int main(int argc, char** argv) {
    // A host that closes its end early must see a failed write and an error status, not a
    // silent death or, with SIGPIPE ignored by the host, a success.
    std::signal(SIGPIPE, SIG_IGN);
    if (answeredVersionOrHelp(argc, argv, "opuspipe", usage)) {
        return 0;
    }
    return run_opuspipe(argc, argv);
}
