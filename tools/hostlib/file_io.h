// Whole files in and out for the tools, where "-" means the standard
// streams, and a missing file differs from an empty one.
#pragma once
#include <optional>
#include <string>

#include "tools/hostlib/nimbra_host.h"

namespace nimbra {

// The file's bytes, or nullopt (with errno set) when it cannot be read.
std::optional<Bytes> loadFile(const std::string &path);
// Writes all bytes; false (with errno set) when the file cannot be written
// completely, and then nothing is left under its name.
bool saveFile(const std::string &path, const Bytes &bytes);
bool saveFile(const std::string &path, const std::string &text);

// The same with the system's reason for a failure in `error` ("No such file
// or directory"), for messages.
std::optional<Bytes> loadFile(const std::string &path, std::string &error);
bool saveFile(const std::string &path, const std::string &text, std::string &error);
// A file a script names: only a regular file, never "-" or a device, since a
// script naming /dev/zero or a pipe would never end; nullopt with the reason.
std::optional<Bytes> loadRegularFile(const std::string &path, std::string &error);
// Binary output: as saveFile, but standard output is refused when it is a
// terminal.
bool saveBinary(const std::string &path, const Bytes &bytes, std::string &error);

}  // namespace nimbra
