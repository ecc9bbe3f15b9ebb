#include "tools/hostlib/child_program.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

#include "tools/hostlib/file_io.h"
#include "tools/hostlib/nimbra_host.h"

namespace nimbra {

std::string shellQuote(const std::string &text) {
    std::string q = "'";
    for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

int exitStatusOf(int waitStatus) {
    return waitStatus != -1 && WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
}

std::string firstLineOf(const std::string &path) {
    // A program that left no message file has no line to add.
    const Bytes text = loadFile(path).value_or(Bytes());
    std::string line(text.begin(), text.end());
    return line.substr(0, line.find('\n'));
}

bool makeScratchFile(const std::string &stem, std::string &path, std::string &error) {
    const char *tmpDir = getenv("TMPDIR");
    path = std::string(tmpDir && *tmpDir ? tmpDir : "/tmp") + "/" + stem + "-XXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0) {
        error = std::string("cannot make a scratch file: ") + strerror(errno);
        path.clear();
        return false;
    }
    close(fd);
    return true;
}

}  // namespace nimbra
