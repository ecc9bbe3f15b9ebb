// A program run as a child process by a test, with its standard output and
// error captured through pipes, and waits that never hang the suite.
#pragma once
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

class ChildProcess {
public:
    // Starts `argv` in `dir` with `env` ("NAME=value") set in the environment; standard
    // input is `stdinPath` (default /dev/null).
    ChildProcess(const std::vector<std::string> &argv, const std::string &dir = ".",
                 const std::vector<std::string> &env = {}, const std::string &stdinPath = "/dev/null");
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    bool started() const { return pid_ > 0; }
    // One line of standard output (without its newline); empty on timeout.
    std::string readLine(int timeoutMs);
    // Waits for the end; the exit status, or -1 after a timeout (the child
    // is then killed) or a signal.
    int wait(int timeoutMs);
    bool running();
    void signal(int sig);
    // Standard error as far as it has come (everything, once waited for).
    std::string errorOutput();

private:
    void _Drain(int fd, std::string &into, int timeoutMs);

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    std::string outText_, errText_;
    int status_ = -1;
    bool reaped_ = false;
};

}  // namespace testsupport
