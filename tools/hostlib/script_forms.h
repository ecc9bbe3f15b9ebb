// The statements of the text form that name a file, expanded into what a
// host sends: an upload's chunks (the file and its CRC-32), a handshake
// signed with a private key, a whole video clip. Failures throw
// ScriptLineError at the word at fault.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "tools/hostlib/command_table.h"
#include "tools/hostlib/script_lexer.h"

namespace nimbra {

struct ScriptFiles {
    // Where a file named in the script is (names are relative to the script).
    std::function<std::string(const std::string &name)> path;
};

// Whether the line is the file form of its command: `load-image SLOT
// "FILE"`, `load-font SLOT "FILE"`, `handshake COUNTER key "FILE"`.
bool isFileForm(const CommandSpec &entry, const std::vector<Token> &tokens);

// load-image SLOT "FILE" [png|jpeg] [chunk N]: the chunk commands.
std::vector<Bytes> expandLoadImage(const std::vector<Token> &tokens, const ScriptFiles &files);
// load-font SLOT "FILE" [2bpp|4bpp] [compressed] [chunk N]
std::vector<Bytes> expandLoadFont(const std::vector<Token> &tokens, const ScriptFiles &files);
// handshake COUNTER key "FILE" [peer N] [limit N] [chunk N] [part K]
std::vector<Bytes> expandSignedHandshake(const std::vector<Token> &tokens, const ScriptFiles &files, size_t lineEnd);
// video "FILE" at X Y [chunk N] [no-copy] [no-stop]: whole records; the
// copies after its frames are numbered from `frameId`, which is advanced.
Bytes expandVideo(const std::vector<Token> &tokens, const ScriptFiles &files, size_t lineEnd, uint8_t &frameId);

}  // namespace nimbra
