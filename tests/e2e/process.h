// Runs a built program as a child process with pipes on its standard streams, feeding input
// and collecting output without ever blocking on one stream while the other fills up.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct ProcessOptions {
    std::vector<std::string> arguments;  // the program first (a bare name is looked up in PATH)
    // Variables to set (or, with no value, to remove) on top of this process's environment.
    std::vector<std::pair<std::string, std::optional<std::string>>> environment = {};
    std::optional<std::string> stdinPath =
        std::nullopt;  // a file to open as standard input instead of a pipe
    std::optional<std::string> stdoutPath =
        std::nullopt;  // a file to open as standard output instead of a pipe
    // Standard output as a pipe whose writing end is non-blocking, as some hosts hand it over.
    bool nonBlockingOutput = false;
    // Standard output as a pipe of the smallest size the system allows (one page).
    bool smallestOutputPipe = false;
    // Signals the child starts with ignored and blocked, as the child of a host that ignores them.
    std::vector<int> ignoredSignals = {};
    // The file to run when argv[0] (the first argument) is to be something else.
    std::optional<std::string> program = std::nullopt;
};

struct ProcessResult {
    std::string out;
    std::string err;
    int exitStatus = -1;  // -1 when ended by a signal
    int signal = 0;
    bool timedOut = false;
    long peakResidentKilobytes = 0;  // the child's largest resident set
};

class Process {
  public:
    explicit Process(const ProcessOptions& options);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Queues bytes for standard input; they are written while output is read.
    void write(std::string bytes);
    // Writes what is queued, then closes standard input.
    void closeInput();
    // Closes our end of standard output, as a host that stops reading would.
    void closeOutput();
    // Pumps the streams until `done(outputSoFar)` holds or the time runs out; true if it held.
    bool waitForOutput(const std::function<bool(const std::string&)>& done, double seconds);
    void kill(int signal);
    // Closes standard input, reads to the end and reaps the child; kills it after `seconds`.
    ProcessResult finish(double seconds = 30);

    const std::string& out() const { return result.out; }

  private:
    bool pump(double seconds, const std::function<bool()>& done);

    pid_t pid = -1;
    int inFd = -1;
    int outFd = -1;
    int errFd = -1;
    bool closeInputWhenDrained = false;
    std::string pending;
    ProcessResult result;
};

// Runs to the end with the given standard input.
ProcessResult runProcess(const ProcessOptions& options, std::string input = "",
                         double seconds = 30);
