// Child processes for the end-to-end tests.
#include "tests/support/child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace testsupport {

ChildProcess::ChildProcess(const std::vector<std::string> &argv, const std::string &dir,
                           const std::vector<std::string> &env, const std::string &stdinPath) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return;
    }
    // `env` replaces variables of the same name.
    std::vector<std::string> environment = env;
    for (char **e = environ; *e; e++) {
        std::string entry = *e, name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string &own : env) replaced = replaced || own.rfind(name + "=", 0) == 0;
        if (!replaced) environment.push_back(entry);
    }
    std::vector<char *> envp, args;
    for (auto &e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argvCopy = argv;
    for (auto &a : argvCopy) args.push_back(a.data());
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, stdinPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    // The working directory is set by a tiny shell step so that it also
    // works where posix_spawn has no chdir action.
    std::string script = "cd \"$0\" && exec \"$@\"";
    std::vector<char *> shellArgs = {(char *)"/bin/sh", (char *)"-c", script.data(), (char *)dir.c_str()};
    shellArgs.insert(shellArgs.end(), args.begin(), args.end());
    if (posix_spawn(&pid_, "/bin/sh", &actions, nullptr, shellArgs.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
}

void ChildProcess::_Drain(int fd, std::string &into, int timeoutMs) {
    pollfd p = {fd, POLLIN, 0};
    char buf[4096];
    while (fd >= 0 && poll(&p, 1, timeoutMs) > 0) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        into.append(buf, (size_t)n);
        timeoutMs = 0;
    }
}

std::string ChildProcess::readLine(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        size_t newline = outText_.find('\n');
        if (newline != std::string::npos) {
            std::string line = outText_.substr(0, newline);
            outText_.erase(0, newline + 1);
            return line;
        }
        int left = (int)std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                             std::chrono::steady_clock::now())
                       .count();
        if (left <= 0) return "";
        pollfd p = {out_, POLLIN, 0};
        if (poll(&p, 1, left) <= 0) return "";
        char buf[1024];
        ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) return "";
        outText_.append(buf, (size_t)n);
    }
}

bool ChildProcess::running() {
    if (pid_ <= 0 || reaped_) return false;
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == 0) return true;
    reaped_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return false;
}

int ChildProcess::wait(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (running()) {
        // Keep the pipes flowing so that the child never blocks on them.
        _Drain(err_, errText_, 0);
        _Drain(out_, outText_, 10);
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            reaped_ = true;
            status_ = -1;
            break;
        }
    }
    _Drain(err_, errText_, 0);
    return status_;
}

void ChildProcess::signal(int sig) {
    if (pid_ > 0 && !reaped_) kill(pid_, sig);
}

std::string ChildProcess::errorOutput() {
    _Drain(err_, errText_, 0);
    return errText_;
}

}  // namespace testsupport
