// Runs the voq program (or another) as a child process with captured output.
#ifndef VOQ_TESTS_TOOL_RUNTOOL_H
#define VOQ_TESTS_TOOL_RUNTOOL_H

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

struct ToolResult {
    int exitCode = -1;       // -1 when killed by a signal or timed out
    int signal = 0;          // the signal that ended it, if any
    bool timedOut = false;
    double seconds = 0.0;    // wall time of the run
    std::string out, err;
};

// One change of the child's environment: sets the variable to `value`, or
// removes it when `unset` is true.
struct EnvChange {
    std::string name;
    std::string value;
    bool unset = false;
};

class ToolProcess {
public:
    ToolProcess(const std::vector<std::string>& args, const std::vector<EnvChange>& env = {});
    // Another program than voq.
    ToolProcess(const std::string& program, const std::vector<std::string>& args,
                const std::vector<EnvChange>& env = {});
    ~ToolProcess();   // kills a child that is still running
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    // Reads output until `done(out, err)` holds; false on time-out or exit.
    bool WaitFor(const std::function<bool(const std::string&, const std::string&)>& done,
                 double timeoutSeconds);
    void Signal(int signal);
    // Closes the reading end of standard output, as a reader that went away.
    void CloseOut();
    // Reads everything and reaps the child; kills it after the time-out.
    ToolResult Finish(double timeoutSeconds);
    const std::string& Out() const { return out_; }
    const std::string& Err() const { return err_; }

private:
    // One poll round; returns false when both pipes are closed.
    bool Pump(int timeoutMs);
    pid_t pid_ = -1;
    int outFd_ = -1, errFd_ = -1;
    std::string out_, err_;
    double started_ = 0.0;
};

ToolResult RunTool(const std::vector<std::string>& args, double timeoutSeconds = 30.0,
                   const std::vector<EnvChange>& env = {});

// Lines of a text, without their line feeds.
std::vector<std::string> Lines(const std::string& text);
// Fields of a line split at `separator`.
std::vector<std::string> Split(const std::string& line, char separator);

#endif
