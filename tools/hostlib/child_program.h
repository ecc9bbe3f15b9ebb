// Other programs run through the shell (ffmpeg, for colour video and video
// export): quoting, exit statuses, their messages kept in a scratch file.
#pragma once
#include <string>

namespace nimbra {

// The shell's status for a program it cannot find.
constexpr int kShellCommandNotFound = 127;

// A word for the shell that stands for `text` unchanged.
std::string shellQuote(const std::string &text);
// The exit status of a finished child (pclose, system), or -1 when it did
// not exit normally.
int exitStatusOf(int waitStatus);
// The first line of a text file, empty when there is none.
std::string firstLineOf(const std::string &path);
// A new empty file in the scratch folder ($TMPDIR or /tmp) whose name starts
// with `stem`; the caller removes it. False with the reason in `error`.
bool makeScratchFile(const std::string &stem, std::string &path, std::string &error);

}  // namespace nimbra
