#include "tests/support/tool_process.h"

#include <cstdio>
#include <sys/wait.h>

namespace testsupport {

ProcessRun runCommand(const std::string &command) {
    ProcessRun r;
    FILE *p = popen(("{ " + command + "; } 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
    int status = pclose(p);
    r.status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string shellQuote(const std::string &text) {
    std::string q = "'";
    for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string builtProgram(const std::string &name) { return shellQuote(std::string(NIMBRA_BINARY_DIR) + "/" + name); }

}  // namespace testsupport
