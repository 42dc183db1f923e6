// Runs the voq program (or another) as a child process with captured output.
#include "RunTool.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace {

double Now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

ToolProcess::ToolProcess(const std::vector<std::string>& args, const std::vector<EnvChange>& env)
    : ToolProcess(VOQ_TOOL_PATH, args, env) {}

ToolProcess::ToolProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<EnvChange>& env) {
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        bool changed = false;
        for (const EnvChange& c : env) changed = changed || c.name == name;
        if (!changed) environment.push_back(entry);
    }
    for (const EnvChange& c : env)
        if (!c.unset) environment.push_back(c.name + "=" + c.value);

    std::vector<std::string> argvText{program};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv, envp;
    for (std::string& a : argvText) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    for (std::string& e : environment) envp.push_back(&e[0]);
    envp.push_back(nullptr);

    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    started_ = Now();
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        // A default SIGINT disposition, whatever the test runner set.
        signal(SIGINT, SIG_DFL);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    outFd_ = outPipe[0];
    errFd_ = errPipe[0];
}

ToolProcess::~ToolProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0) close(outFd_);
    if (errFd_ >= 0) close(errFd_);
}

bool ToolProcess::Pump(int timeoutMs) {
    pollfd fds[2];
    int n = 0;
    if (outFd_ >= 0) fds[n++] = {outFd_, POLLIN, 0};
    if (errFd_ >= 0) fds[n++] = {errFd_, POLLIN, 0};
    if (n == 0) return false;
    int ready = poll(fds, static_cast<nfds_t>(n), timeoutMs);
    if (ready <= 0) return true;
    for (int i = 0; i < n; ++i) {
        if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        char buffer[65536];
        ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
        if (got > 0) {
            (fds[i].fd == outFd_ ? out_ : err_).append(buffer, static_cast<size_t>(got));
        } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
            if (fds[i].fd == outFd_) {
                close(outFd_);
                outFd_ = -1;
            } else {
                close(errFd_);
                errFd_ = -1;
            }
        }
    }
    return true;
}

bool ToolProcess::WaitFor(const std::function<bool(const std::string&, const std::string&)>& done,
                          double timeoutSeconds) {
    double deadline = Now() + timeoutSeconds;
    while (!done(out_, err_)) {
        if (Now() > deadline) return false;
        if (!Pump(20)) return done(out_, err_);
    }
    return true;
}

void ToolProcess::CloseOut() {
    if (outFd_ >= 0) close(outFd_);
    outFd_ = -1;
}

void ToolProcess::Signal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
}

ToolResult ToolProcess::Finish(double timeoutSeconds) {
    ToolResult result;
    double deadline = Now() + timeoutSeconds;
    while (Pump(20)) {
        if (Now() > deadline) {
            result.timedOut = true;
            kill(pid_, SIGKILL);
            deadline = Now() + 5.0;
        }
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    result.seconds = Now() - started_;
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    if (result.timedOut) result.exitCode = -1;
    result.out = out_;
    result.err = err_;
    return result;
}

ToolResult RunTool(const std::vector<std::string>& args, double timeoutSeconds,
                   const std::vector<EnvChange>& env) {
    ToolProcess process(args, env);
    return process.Finish(timeoutSeconds);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> Split(const std::string& line, char separator) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t end = line.find(separator, start);
        fields.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return fields;
}
