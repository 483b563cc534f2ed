// opuspipe as a process, its output judged by opus-tools (opusinfo, opusdec).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/process.h"
#include "tests/e2e/standin_files.h"

namespace {

// Interleaved 16-bit little-endian samples: a different tone per channel.
std::string tone(int rate, int channels, double seconds) {
    const auto frames = static_cast<size_t>(rate * seconds);
    std::string pcm;
    pcm.reserve(frames * static_cast<size_t>(channels) * 2);
    for (size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            const double t = static_cast<double>(i) / rate;
            const auto sample =
                static_cast<int16_t>(8000 * std::sin(2 * M_PI * (330 + 110 * c) * t));
            pcm += static_cast<char>(sample & 0xFF);
            pcm += static_cast<char>((sample >> 8) & 0xFF);
        }
    }
    return pcm;
}

// 16 kHz mono: three tones and noise, something for the encoder to spend bits on. The noise
// comes from minstd_rand, whose sequence the standard fixes.
std::string mixture(double seconds) {
    std::minstd_rand noise(1);
    const auto frames = static_cast<size_t>(16000 * seconds);
    std::string pcm;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / 16000;
        const double tones = 3000 * std::sin(2 * M_PI * 220 * t) +
                             2000 * std::sin(2 * M_PI * 1370 * t) +
                             1500 * std::sin(2 * M_PI * 3100 * t);
        const auto sample =
            static_cast<int16_t>(tones + static_cast<double>(noise() % 4001) - 2000);
        pcm += static_cast<char>(sample & 0xFF);
        pcm += static_cast<char>((sample >> 8) & 0xFF);
    }
    return pcm;
}

// Fields set by name, so the tests do not depend on how many ProcessOptions has.
ProcessOptions command(std::vector<std::string> arguments,
                       std::optional<std::string> stdinPath = std::nullopt,
                       std::optional<std::string> stdoutPath = std::nullopt) {
    ProcessOptions options;
    options.arguments = std::move(arguments);
    options.stdinPath = std::move(stdinPath);
    options.stdoutPath = std::move(stdoutPath);
    return options;
}

ProcessResult encode(std::vector<std::string> arguments, const std::string& input) {
    arguments.insert(arguments.begin(), OPUSPIPE_PATH);
    return runProcess(command(arguments), input);
}

class OpuspipeProcess : public ::testing::Test {
  protected:
    // opusinfo's report on a stream, or its complaint.
    std::string opusinfo(const std::string& stream) {
        const auto r = runProcess(command({"opusinfo", dir.write("in.opus", stream)}));
        return r.out + r.err;
    }
    // The stream decoded by opusdec at `rate`, as raw 16-bit PCM.
    std::string opusdec(const std::string& stream, int rate) {
        const auto r = runProcess(command({"opusdec", "--quiet", "--rate", std::to_string(rate),
                                           dir.write("in.opus", stream), dir.path("out.raw")}));
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        std::ifstream file(dir.path("out.raw"), std::ios::binary);
        std::stringstream bytes;
        bytes << file.rdbuf();
        return bytes.str();
    }
    ScratchDir dir;
};

TEST_F(OpuspipeProcess, StreamsAreReadableByOpusTools) {
    struct Case {
        std::vector<std::string> arguments;
        int rate;
        int channels;
        const char* packet;  // opusinfo's packet duration
    };
    const Case cases[] = {
        {{}, 16000, 1, "20.0ms"},
        {{"--channels", "2", "--sample-rate", "48000", "--frame-size", "10", "--signal", "music"},
         48000,
         2,
         "10.0ms"},
        {{"--sample-rate", "8000", "--frame-size", "60", "--signal", "other", "--bitrate", "6000"},
         8000,
         1,
         "60.0ms"},
        {{"--sample-rate", "24000", "--channels", "2", "--frame-size", "2", "--bitrate", "64000"},
         24000,
         2,
         "2.5ms"},
        {{"--sample-rate", "44100", "--frame-size", "40", "--vbr", "false"}, 44100, 1, "40.0ms"},
        {{"--sample-rate", "12000", "--frame-size", "5"}, 12000, 1, "5.0ms"},
        {{"--max-delay", "200"}, 16000, 1, "20.0ms"},
    };
    for (const auto& c : cases) {
        const std::string pcm = tone(c.rate, c.channels, 1.5);
        const auto result = encode(c.arguments, pcm);
        ASSERT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.out.substr(0, 4), "OggS");

        const std::string info = opusinfo(result.out);
        EXPECT_NE(info.find("Channels: " + std::to_string(c.channels)), std::string::npos) << info;
        EXPECT_NE(info.find("Original sample rate: " + std::to_string(c.rate) + " Hz"),
                  std::string::npos)
            << info;
        EXPECT_NE(info.find("ENCODER=libopusenc-unified-buffer"), std::string::npos) << info;
        EXPECT_NE(info.find("Packet duration:" + std::string(c.packet[1] == '.' ? "    " : "   ") +
                            c.packet + " (max)"),
                  std::string::npos)
            << info;
        EXPECT_EQ(info.find("WARNING"), std::string::npos) << info;
        // Decoded at the input rate, the stream holds exactly the samples given.
        EXPECT_EQ(opusdec(result.out, c.rate).size(), pcm.size()) << info;
    }
}

TEST_F(OpuspipeProcess, VbrSwitchAsOpusinfoSeesIt) {
    const std::string pcm = tone(16000, 1, 2);
    const std::pair<std::vector<std::string>, bool> cases[] = {
        {{}, false},
        {{"--vbr"}, false},
        {{"--vbr", "--bitrate", "16000"}, false},
        {{"--vbr", "no"}, false},
        {{"--vbr", "0"}, true},
        {{"--vbr", "false"}, true},
    };
    for (const auto& [arguments, constant] : cases) {
        const auto result = encode(arguments, pcm);
        ASSERT_EQ(result.exitStatus, 0);
        EXPECT_EQ(opusinfo(result.out).find("(hard-CBR)") != std::string::npos, constant)
            << (arguments.empty() ? "" : arguments.back());
    }
}

TEST_F(OpuspipeProcess, BitrateAndSignalReachTheEncoder) {
    const std::string pcm = mixture(3);
    // At a constant rate the stream's size follows the bitrate asked for (64000 is 8 times 8000).
    const auto low = encode({"--vbr", "false", "--bitrate", "8000"}, pcm);
    const auto high = encode({"--vbr", "false", "--bitrate", "64000"}, pcm);
    ASSERT_EQ(low.exitStatus, 0) << low.err;
    ASSERT_EQ(high.exitStatus, 0) << high.err;
    EXPECT_GT(high.out.size(), 3 * low.out.size()) << low.out.size() << " " << high.out.size();

    // Encoding is repeatable, so a difference between voice and music is the hint's doing.
    const std::string voice = encode({"--signal", "voice"}, pcm).out;
    const std::string music = encode({"--signal", "music"}, pcm).out;
    ASSERT_FALSE(voice.empty());
    ASSERT_TRUE(encode({"--signal", "voice"}, pcm).out == voice) << "voice twice";
    ASSERT_TRUE(encode({"--signal", "music"}, pcm).out == music) << "music twice";
    EXPECT_TRUE(voice != music) << voice.size() << " " << music.size();
}

TEST_F(OpuspipeProcess, OptionsThatFallBackGiveTheDefaultStreamByteForByte) {
    const std::string pcm = tone(16000, 1, 1);
    const std::string defaults = encode({}, pcm).out;
    ASSERT_FALSE(defaults.empty());
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"--frame-size", "30"},
             {"--frame-size", "xyz"},
             {"--bitrate"},
             {"--signal", "voice", "--bitrate"},
             {"--unknown", "7", "--sample-rate", "16000"},
             {"--max-delay"},
         }) {
        EXPECT_EQ(encode(arguments, pcm).out, defaults) << arguments[0];
    }
    // "Music" is not "music": it asks for automatic, like any other word.
    EXPECT_EQ(encode({"--signal", "Music"}, pcm).out, encode({"--signal", "auto"}, pcm).out);
    EXPECT_EQ(encode({"--frame-size", "2.5"}, pcm).out, encode({"--frame-size", "2"}, pcm).out);
}

TEST_F(OpuspipeProcess, MaxDelayBoundsEachPage) {
    const std::string pcm = mixture(3);
    const auto pages = [](const std::string& stream) {
        size_t count = 0;
        for (size_t at = stream.find("OggS"); at != std::string::npos;
             at = stream.find("OggS", at + 4)) {
            ++count;
        }
        return count;
    };
    const auto defaults = encode({}, pcm);
    // opusinfo's longest page; 1000 ms is also what the library holds back by default.
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "1000.0ms"},
        {{"--max-delay", "200"}, " 200.0ms"},
        {{"--max-delay", "0"}, "  20.0ms"},
        {{"--max-delay", "-5"}, "  20.0ms"},
        {{"--max-delay", "5000"}, "1000.0ms"},
        {{"--max-delay", "100", "--frame-size", "40"}, "  80.0ms"},
    };
    for (const auto& [arguments, longest] : cases) {
        const auto result = encode(arguments, pcm);
        ASSERT_EQ(result.exitStatus, 0) << result.err;
        const std::string info = opusinfo(result.out);
        EXPECT_NE(info.find("Page duration:   " + longest + " (max)"), std::string::npos) << info;
        EXPECT_EQ(info.find("WARNING"), std::string::npos) << info;
    }
    // Three seconds: four audio pages by default, sixteen at 200 ms.
    EXPECT_GT(pages(encode({"--max-delay", "200"}, pcm).out), 2 * pages(defaults.out));
    // Sound in bursts, 200 ms of every 600: pages of a second either way, so only the encoder's
    // decisions, made on the spot instead of two seconds ahead, tell the streams apart; and
    // without the option no request changes them.
    std::string bursts = pcm;
    for (size_t sample = 0; sample < bursts.size() / 2; ++sample) {
        if (sample % 9600 >= 3200) {
            bursts[2 * sample] = bursts[2 * sample + 1] = 0;
        }
    }
    EXPECT_NE(encode({}, bursts).out, encode({"--max-delay", "1000"}, bursts).out);
}

TEST_F(OpuspipeProcess, RejectsArgumentsWithStatusTwo) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--channels", "3"}, "sample_rate=16000 channels=3 bitrate=16000"},
        {{"--channels", "0"}, "sample_rate=16000 channels=0 bitrate=16000"},
        // An out-of-range delay is taken at its bound, never refused.
        {{"--channels", "0", "--max-delay", "-1"}, "sample_rate=16000 channels=0 bitrate=16000"},
        {{"--sample-rate", "abc"}, "sample_rate=0 channels=1 bitrate=16000"},
        {{"--bitrate", "-5"}, "sample_rate=16000 channels=1 bitrate=-5"},
        // Out of the 32-bit range a value saturates, so it cannot wrap into a valid one.
        {{"--channels", "4294967297"}, "sample_rate=16000 channels=2147483647 bitrate=16000"},
        {{"--bitrate", "-99999999999"}, "sample_rate=16000 channels=1 bitrate=-2147483648"},
        // Rates from 8 to 768 kHz: "16k" reads as 16, a typo the library would crash on.
        {{"--sample-rate", "16k"}, "sample_rate=16 channels=1 bitrate=16000"},
        {{"--sample-rate", "7999"}, "sample_rate=7999 channels=1 bitrate=16000"},
        {{"--sample-rate", "768001"}, "sample_rate=768001 channels=1 bitrate=16000"},
    };
    for (const auto& [arguments, values] : cases) {
        const auto result = encode(arguments, tone(16000, 1, 0.1));
        EXPECT_EQ(result.exitStatus, 2);
        EXPECT_EQ(result.err, "invalid arguments " + values + "\n");
        EXPECT_EQ(result.out, "");
    }
}

TEST_F(OpuspipeProcess, DropsIncompleteFrames) {
    const struct {
        std::vector<std::string> arguments;
        size_t inputBytes;
        size_t decodedBytes;
    } cases[] = {
        {{"--channels", "2"}, 8193, 8192},  // 2048 frames; the last byte is no sample
        {{"--channels", "2"}, 6, 4},        // three samples: one frame
        {{}, 8193, 8192},                   // mono, odd length
        {{}, 20001, 20000},
    };
    for (const auto& c : cases) {
        const std::string pcm = tone(16000, 2, 1).substr(0, c.inputBytes);
        const auto result = encode(c.arguments, pcm);
        ASSERT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_EQ(result.err, "");
        const int channels = c.arguments.empty() ? 1 : 2;
        EXPECT_NE(opusinfo(result.out).find("Channels: " + std::to_string(channels)),
                  std::string::npos);
        EXPECT_EQ(opusdec(result.out, 16000).size(), c.decodedBytes) << c.inputBytes;
    }
}

TEST_F(OpuspipeProcess, InputWithoutAWholeFrameIsAStreamOfNoAudio) {
    // Frames shorter than the encoder's look-ahead are the ones libopusenc 0.2.1 asserts on when
    // it never got a sample; a byte, or a lone sample of a stereo frame, is no sample.
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, ""},
        {{"--frame-size", "2"}, ""},
        {{"--frame-size", "2"}, "x"},
        {{"--frame-size", "5", "--channels", "2"}, "xy"},
        {{"--frame-size", "2", "--sample-rate", "768000"}, ""},
    };
    for (const auto& [arguments, input] : cases) {
        const auto result = encode(arguments, input);
        ASSERT_EQ(result.exitStatus, 0) << ::testing::PrintToString(arguments) << result.err;
        EXPECT_EQ(result.err, "");
        const std::string info = opusinfo(result.out);
        EXPECT_NE(info.find("Playback length: 0m:00.000s"), std::string::npos) << info;
        EXPECT_EQ(info.find("WARNING"), std::string::npos) << info;
        EXPECT_EQ(opusdec(result.out, 48000), "");
    }
}

TEST_F(OpuspipeProcess, ReadAndWriteFailures) {
    const auto fromDirectory = runProcess(command({OPUSPIPE_PATH}, "/"));
    EXPECT_EQ(fromDirectory.exitStatus, 9);
    EXPECT_EQ(fromDirectory.err, "failed reading stdin: Is a directory\n");

    // The library writes nothing before the first whole frame: the header page goes out with
    // it, and write_callback flushes each page, so on /dev/full that first write fails. Without
    // a whole frame the headers first go out, and fail, in the drain.
    const std::string writeFailed = "failed to write audio data: write failed\n";
    const std::string drainFailed = "failed to drain encoder: write failed\n";
    const struct {
        std::string input;
        int status;
        const std::string& message;
    } cases[] = {
        {tone(16000, 1, 5), 10, writeFailed},
        {tone(16000, 1, 0.1), 10, writeFailed},
        {tone(16000, 1, 0.1).substr(0, 2), 10, writeFailed},  // one sample
        {"x", 11, drainFailed},
        {"", 11, drainFailed},
    };
    for (const auto& c : cases) {
        const auto result =
            runProcess(command({OPUSPIPE_PATH}, std::nullopt, "/dev/full"), c.input);
        EXPECT_EQ(result.exitStatus, c.status) << c.input.size();
        EXPECT_EQ(result.err, c.message) << c.input.size();
    }
}

TEST_F(OpuspipeProcess, HostClosingItsEndEarlyIsAnError) {
    Process process(command({OPUSPIPE_PATH}));
    process.write(tone(16000, 1, 6));
    ASSERT_TRUE(
        process.waitForOutput([](const std::string& out) { return out.size() > 1000; }, 20));
    const std::string received = process.out();
    process.closeOutput();
    process.write(tone(16000, 1, 6));
    const auto result = process.finish();
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.signal, 0);
    // A page leaves for every second of audio and six more seconds follow the close, so a page
    // write meets the closed pipe (EPIPE, SIGPIPE being ignored) while input is still being read,
    // never first in the drain.
    EXPECT_EQ(result.exitStatus, 10);
    EXPECT_EQ(result.err, "failed to write audio data: write failed\n");
    // What the host did read is the start of a proper stream.
    EXPECT_EQ(received.substr(0, 4), "OggS");
}

TEST_F(OpuspipeProcess, PagesComeOutWhileInputIsStillOpen) {
    Process process(command({OPUSPIPE_PATH}));
    process.write(tone(16000, 1, 6));
    // Beyond the two header pages (under a kilobyte), audio pages arrive before end of input.
    EXPECT_TRUE(process.waitForOutput([](const std::string& out) { return out.size() > 2000; }, 20))
        << process.out().size();
    const auto result = process.finish();
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(opusdec(result.out, 16000).size(), tone(16000, 1, 6).size());
}

}  // namespace
