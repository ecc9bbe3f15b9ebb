#include "tools/hostlib/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace nimbra {

std::optional<Bytes> loadFile(const std::string &path) {
    const bool standardInput = path == "-";
    FILE *f = standardInput ? stdin : fopen(path.c_str(), "rb");
    if (!f) return std::nullopt;
    Bytes bytes;
    uint8_t buffer[1 << 16];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    const bool failed = ferror(f) != 0;
    if (!standardInput) fclose(f);
    if (failed) return std::nullopt;
    return bytes;
}

// A file is written beside its place and renamed when complete, so that a
// failed write never leaves half a file under the name asked for.
static bool _Save(const std::string &path, const void *data, size_t n) {
    if (path == "-") return (n == 0 || fwrite(data, 1, n, stdout) == n) && fflush(stdout) == 0;
    const std::string partial = path + ".partial";
    FILE *f = fopen(partial.c_str(), "wb");
    if (!f) return false;
    bool ok = n == 0 || fwrite(data, 1, n, f) == n;
    ok = fclose(f) == 0 && ok;
    ok = ok && rename(partial.c_str(), path.c_str()) == 0;
    if (!ok) {
        const int saved = errno;
        remove(partial.c_str());
        errno = saved;
    }
    return ok;
}

bool saveFile(const std::string &path, const Bytes &bytes) { return _Save(path, bytes.data(), bytes.size()); }
bool saveFile(const std::string &path, const std::string &text) { return _Save(path, text.data(), text.size()); }

// The reason for the last failure; a short write may leave errno unset.
static std::string _Reason() { return errno ? strerror(errno) : "the data could not all be written"; }

std::optional<Bytes> loadFile(const std::string &path, std::string &error) {
    errno = 0;
    std::optional<Bytes> bytes = loadFile(path);
    if (!bytes) error = _Reason();
    return bytes;
}

std::optional<Bytes> loadRegularFile(const std::string &path, std::string &error) {
    // A file really named "-" is read as such, not as standard input.
    if (path == "-") return loadRegularFile("./-", error);
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
        error = strerror(errno);
        return std::nullopt;
    }
    if (S_ISDIR(status.st_mode)) {
        error = strerror(EISDIR);
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode)) {
        error = "not a regular file";
        return std::nullopt;
    }
    return loadFile(path, error);
}

bool saveFile(const std::string &path, const std::string &text, std::string &error) {
    errno = 0;
    if (_Save(path, text.data(), text.size())) return true;
    error = _Reason();
    return false;
}

bool saveBinary(const std::string &path, const Bytes &bytes, std::string &error) {
    if (path == "-" && isatty(1)) {
        error = "standard output is a terminal and the output is binary (redirect it or give a file name)";
        return false;
    }
    errno = 0;
    if (_Save(path, bytes.data(), bytes.size())) return true;
    error = _Reason();
    return false;
}

}  // namespace nimbra
