// Writes a recording as the text form: one command a line inside
// `record { }`, each record's and command's stream offset as a comment.
// nimbra-asm of the text gives back the identical bytes, whatever they were.
#include "tools/hostlib/cli.h"
#include "tools/hostlib/disassembler.h"
#include "tools/hostlib/file_io.h"

int main(int argc, char **argv) {
    nimbra::Cli cli("nimbra-disasm", "Writes a recording as text that nimbra-asm turns back into the same bytes.");
    cli.option("output", "FILE", "where the text goes (default: standard output)", 'o')
        .flag("no-offsets", "leave out the offset comments")
        .positional("RECORDING", "recording to read (- for standard input)")
        .example("nimbra-disasm examples/demo.rec -o demo.nsc")
        .example("nimbra-disasm capture.rec | less");
    if (int exitCode; !cli.parse(argc, argv, exitCode)) return exitCode;
    const std::string path = cli.arg(0);
    std::string why;
    auto stream = nimbra::loadFile(path, why);
    if (!stream) return cli.fail("cannot read " + path + ": " + why);
    nimbra::DisassemblyOptions options;
    options.offsets = !cli.has("no-offsets");
    const std::string output = cli.value("output", "-");
    if (!nimbra::saveFile(output, nimbra::disassembleStream(*stream, options), why))
        return cli.fail("cannot write " + output + ": " + why);
    return 0;
}
