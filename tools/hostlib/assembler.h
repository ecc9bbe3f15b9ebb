// The text form to bytes. A script is a run of lines, one command a line,
// `#` comments and blank lines free:
//
//   color #FF8000              # colours as #RRGGBB or #AARRGGBB
//   line 10 20 300.5 40        # pixels, with .5 for the odd half pixel
//   text 1 320 20 centre "Hi"
//   copy                       # frame identifiers count up by themselves
//   load-image 3 "photo.jpg"   # split into chunks, its CRC-32 appended
//   record { ... }             # one record, exactly as written
//   bytes 08 00                # any bytes as a command, malformed ones too
//   raw 00 00 08 01            # any bytes between records
//   include "setup.nsc"
//
// By default consecutive commands are packed into records of at most 2048
// bytes, and a record is closed after each copy. docs/text-form.md (printed
// by `nimbra-asm --reference`) describes every statement and command.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "tools/hostlib/nimbra_host.h"

namespace nimbra {

struct ScriptError {
    std::string file;
    size_t line = 0, column = 0;
    std::string message;
    // "FILE: line 12:9: colour expected, got 'red'"
    std::string text() const;
};

// Assembles the script in `path` with what it includes; the stream, or
// nullopt and the first error.
std::optional<Bytes> assembleFile(const std::string &path, ScriptError &error);
// The same for script text: `name` stands for the file in errors, and file
// names in the script are relative to `directory`.
std::optional<Bytes> assembleText(std::string_view text, const std::string &name, const std::string &directory,
                                  ScriptError &error);

}  // namespace nimbra
