// Running the project's programs as users do: a shell command line, its exit
// status and everything it printed.
#pragma once
#include <string>

namespace testsupport {

struct ProcessRun {
    int status = -1;      // the exit status, -1 when the process did not exit normally
    std::string output;   // standard output and standard error, interleaved
};

// Runs `command` through the shell with standard error joined to standard
// output (redirections inside the command still apply).
ProcessRun runCommand(const std::string &command);

// A word for the shell that stands for `text` unchanged.
std::string shellQuote(const std::string &text);

// The built program `name` (in the build folder), quoted for the shell.
std::string builtProgram(const std::string &name);

}  // namespace testsupport
