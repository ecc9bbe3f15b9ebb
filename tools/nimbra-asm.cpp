// Assembles a script of the text form into a recording. Nothing is written
// when the script has an error; the error names file, line and column.
#include "tools/hostlib/assembler.h"
#include "tools/hostlib/cli.h"
#include "tools/hostlib/file_io.h"
#include "tools/hostlib/text_reference.h"

int main(int argc, char **argv) {
    nimbra::Cli cli("nimbra-asm", "Turns a script of the text form into a recording.");
    cli.option("output", "FILE", "where the recording goes (default: standard output)", 'o')
        .flag("reference", "print the reference of the text form (every command, its fields and an example)")
        .positional("SCRIPT", "script to read", true)
        .example("nimbra-asm scene.nsc -o scene.rec")
        .example("nimbra-asm scene.nsc | nimbra-sim | nimbra-frames --dir frames")
        .example("nimbra-disasm capture.rec > capture.nsc; nimbra-asm capture.nsc -o again.rec");
    if (int exitCode; !cli.parse(argc, argv, exitCode)) return exitCode;
    if (cli.has("reference")) {
        if (!cli.args().empty()) return cli.fail("--reference takes no script");
        fputs(nimbra::textFormReference().c_str(), stdout);
        return 0;
    }
    if (cli.args().empty()) return cli.fail("a script is needed (see --help)");
    nimbra::ScriptError error;
    auto stream = nimbra::assembleFile(cli.arg(0), error);
    if (!stream) return cli.fail(error.text());
    const std::string output = cli.value("output", "-");
    std::string why;
    if (!nimbra::saveBinary(output, *stream, why)) return cli.fail("cannot write " + output + ": " + why);
    return 0;
}
