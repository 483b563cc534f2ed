#include "tests/e2e/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <stdexcept>

extern char** environ;

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
    }
}

std::vector<std::string> mergedEnvironment(const ProcessOptions& options) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        variables[text.substr(0, equals)] =
            equals == std::string::npos ? "" : text.substr(equals + 1);
    }
    for (const auto& [name, value] : options.environment) {
        if (value) {
            variables[name] = *value;
        } else {
            variables.erase(name);
        }
    }
    std::vector<std::string> merged;
    for (const auto& [name, value] : variables) {
        merged.push_back(name + "=" + value);
    }
    return merged;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings) {
        out.push_back(s.data());
    }
    out.push_back(nullptr);
    return out;
}

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace

Process::Process(const ProcessOptions& options) {
    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    check(::pipe2(err, O_CLOEXEC) == 0, "pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.stdinPath) {
        posix_spawn_file_actions_addopen(&actions, 0, options.stdinPath->c_str(), O_RDONLY, 0);
    } else {
        check(::pipe2(in, O_CLOEXEC) == 0, "pipe");
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    }
    if (options.stdoutPath) {
        posix_spawn_file_actions_addopen(&actions, 1, options.stdoutPath->c_str(), O_WRONLY, 0);
    } else {
        check(::pipe2(out, O_CLOEXEC) == 0, "pipe");
        if (options.smallestOutputPipe) {
            check(::fcntl(out[1], F_SETPIPE_SZ, 0) >= 0, "F_SETPIPE_SZ");
        }
        if (options.nonBlockingOutput) {
            ::fcntl(out[1], F_SETFL, ::fcntl(out[1], F_GETFL) | O_NONBLOCK);
        }
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    }
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);

    // Ignored signals stay ignored through exec; the mask is set for the child alone.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t blocked;
    sigemptyset(&blocked);
    std::vector<std::pair<int, struct sigaction>> dispositions;
    for (const int signal : options.ignoredSignals) {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        dispositions.emplace_back(signal, ignore);
        ::sigaction(signal, &ignore, &dispositions.back().second);
        sigaddset(&blocked, signal);
    }
    posix_spawnattr_setsigmask(&attributes, &blocked);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);

    auto arguments = options.arguments;
    auto environment = mergedEnvironment(options);
    auto argv = pointers(arguments);
    auto envp = pointers(environment);
    const char* file = options.program ? options.program->c_str() : argv[0];
    const int spawned = posix_spawnp(&pid, file, &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    for (const auto& [signal, previous] : dispositions) {
        ::sigaction(signal, &previous, nullptr);
    }
    for (int fd : {in[0], out[1], err[1]}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    inFd = in[1];
    outFd = out[0];
    errFd = err[0];
    if (spawned != 0) {
        errno = spawned;
        check(false, "posix_spawn");
    }
    for (int fd : {inFd, outFd, errFd}) {
        if (fd >= 0) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
    }
}

Process::~Process() {
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    closeFd(inFd);
    closeFd(outFd);
    closeFd(errFd);
}

void Process::write(std::string bytes) {
    pending += bytes;
}

void Process::closeInput() {
    closeInputWhenDrained = true;
    if (pending.empty()) {
        closeFd(inFd);
    }
}

void Process::closeOutput() {
    closeFd(outFd);
}

void Process::kill(int signal) {
    ::kill(pid, signal);
}

bool Process::waitForOutput(const std::function<bool(const std::string&)>& done, double seconds) {
    return pump(seconds, [&] { return done(result.out); });
}

bool Process::pump(double seconds, const std::function<bool()>& done) {
    // A write to a child that stopped reading must not end the test run.
    ::signal(SIGPIPE, SIG_IGN);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        std::vector<pollfd> fds;
        if (inFd >= 0 && !pending.empty()) {
            fds.push_back({inFd, POLLOUT, 0});
        }
        if (outFd >= 0) {
            fds.push_back({outFd, POLLIN, 0});
        }
        if (errFd >= 0) {
            fds.push_back({errFd, POLLIN, 0});
        }
        if (fds.empty()) {
            return done();
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        if (::poll(fds.data(), fds.size(), static_cast<int>(left.count())) < 0) {
            check(errno == EINTR, "poll");
            continue;
        }
        for (const auto& p : fds) {
            if (p.revents == 0) {
                continue;
            }
            if (p.fd == inFd) {
                const ssize_t n =
                    ::write(inFd, pending.data(), std::min<size_t>(pending.size(), 65536));
                if (n > 0) {
                    pending.erase(0, static_cast<size_t>(n));
                } else if (n < 0 && errno != EAGAIN) {
                    pending.clear();  // the child closed its input
                }
                if (pending.empty() && closeInputWhenDrained) {
                    closeFd(inFd);
                }
                continue;
            }
            char buffer[65536];
            const ssize_t n = ::read(p.fd, buffer, sizeof buffer);
            if (n > 0) {
                (p.fd == outFd ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EAGAIN) {
                closeFd(p.fd == outFd ? outFd : errFd);
            }
        }
    }
    return true;
}

ProcessResult Process::finish(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    closeInput();
    pump(seconds, [] { return false; });
    // A child that closed its streams may still be running: wait for it, within the time.
    int status = 0;
    struct rusage usage = {};
    while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            result.timedOut = true;
            ::wait4(pid, &status, 0, &usage);
            break;
        }
        ::usleep(1000);
    }
    pid = -1;
    result.peakResidentKilobytes = usage.ru_maxrss;
    if (WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

ProcessResult runProcess(const ProcessOptions& options, std::string input, double seconds) {
    Process process(options);
    process.write(std::move(input));
    return process.finish(seconds);
}
