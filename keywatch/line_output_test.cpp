#include "keywatch/line_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <string>

namespace {

// A pipe of one page that nobody reads until the test says so.
class SmallPipe {
  public:
    SmallPipe() {
        EXPECT_EQ(::pipe(ends), 0);
        EXPECT_GE(::fcntl(ends[1], F_SETPIPE_SZ, 0), 0);
        ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
    }
    ~SmallPipe() {
        ::close(ends[0]);
        ::close(ends[1]);
    }
    int writer() const { return ends[1]; }
    std::string readAll() {
        std::string all;
        char buffer[65536];
        ssize_t got = 0;
        while ((got = ::read(ends[0], buffer, sizeof buffer)) > 0) {
            all.append(buffer, static_cast<size_t>(got));
        }
        return all;
    }

  private:
    int ends[2] = {-1, -1};
};

// Reads while the output sends what waits, as the run loop would once the reader is back.
std::string drain(LineOutput& output, SmallPipe& pipe) {
    std::string got;
    for (int i = 0; i < 100000 && output.isWaiting(); ++i) {
        got += pipe.readAll();
        output.send();
    }
    return got + pipe.readAll();
}

TEST(LineOutput, WhatWaitsLeavesInOrderWithOnlyTheNewestKeysLine) {
    SmallPipe pipe;
    LineOutput output(pipe.writer(), 1 << 20, LineOutput::WhenFull::keep);
    // Lines longer than PIPE_BUF until the pipe is full: they leave in pieces, in order.
    const std::string longLine = std::string(PIPE_BUF + 100, 'x') + "\n";
    std::string expected;
    while (!output.isWaiting()) {
        output.add(longLine);
        output.send();
        expected += longLine;
    }
    output.add("keys:[1]\n", true);
    output.add("shortcut:s\n");
    output.add("keys:[2]\n", true);
    output.add("keys:[3]\n", true);
    output.add("shortcut-up:s\n");
    output.send();
    expected += "shortcut:s\nkeys:[3]\nshortcut-up:s\n";

    EXPECT_EQ(drain(output, pipe), expected);
    EXPECT_FALSE(output.isOverfull());

    // A keys line still folds once what was written before it has been let go.
    expected.clear();
    for (int i = 0; i < 100; ++i) {
        const std::string line = std::string(99, static_cast<char>('a' + i % 26)) + "\n";
        output.add(line);
        expected += line;
    }
    output.send();
    output.add("keys:[1]\n", true);
    output.add("shortcut:s\n");
    std::string got = pipe.readAll();
    output.send();  // most of the buffer written: it is dropped
    output.add("keys:[2]\n", true);
    EXPECT_EQ(got + drain(output, pipe), expected + "shortcut:s\nkeys:[2]\n");
}

TEST(LineOutput, PastItsBoundItDropsOrSaysSo) {
    SmallPipe pipe;
    LineOutput kept(pipe.writer(), 8192, LineOutput::WhenFull::keep);
    const std::string line(1000, 'k');
    for (int i = 0; i < 20; ++i) {
        kept.add(line + "\n");
        kept.send();
    }
    EXPECT_TRUE(kept.isOverfull());

    SmallPipe other;
    LineOutput dropping(other.writer(), 8192, LineOutput::WhenFull::dropNew);
    for (int i = 0; i < 40; ++i) {
        dropping.add(line + "\n");
        dropping.send();
    }
    // What the pipe held, and the bound's worth that waited; the rest was dropped.
    EXPECT_LT(drain(dropping, other).size(), 4096u + 8192u + 1001u);
}

}  // namespace
