// The command line of every host tool, parsed one way: `--name value` and
// `--name=value` both work, `--help` and `--version` are always there, and an
// argument the tool does not expect is an error (never a file to write).
//
//   nimbra::Cli cli("nimbra-frames", "Writes each frame of a frame stream as a PNG file.");
//   cli.option("dir", "DIR", "folder for the PNG files (created when missing)")
//      .flag("quiet", "print nothing but errors")
//      .positional("STREAM", "frame stream to read (default: standard input)", /*optional=*/true)
//      .example("nimbra-sim -r demo.rec | nimbra-frames --dir frames");
//   if (int exitCode; !cli.parse(argc, argv, exitCode)) return exitCode;
//   std::string dir = cli.value("dir", ".");
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace nimbra {

// The version every tool prints with --version.
extern const char *const kToolsVersion;

class Cli {
public:
    Cli(std::string program, std::string summary);

    // An option without a value.
    Cli &flag(const std::string &name, const std::string &help, char shortName = 0);
    // An option with a value; `valueName` is the placeholder shown in the
    // usage text ("DIR"). A repeatable option keeps every value given.
    Cli &option(const std::string &name, const std::string &valueName, const std::string &help,
                char shortName = 0, bool repeatable = false);
    // An option whose value may be left out: written alone (last, or before
    // another option) it takes `implicitValue`, shown in the usage text.
    Cli &optionalValue(const std::string &name, const std::string &valueName, const std::string &help,
                       const std::string &implicitValue);
    // Positional arguments, in order; optional ones must come last. A
    // variadic positional takes every remaining argument.
    Cli &positional(const std::string &name, const std::string &help, bool optional = false, bool variadic = false);
    Cli &example(const std::string &line);
    // A sub-command word (`nimbra-golden check ...`): the first positional
    // must be one of them; the usage text lists them.
    Cli &command(const std::string &name, const std::string &help);

    // Parses the arguments. Returns true when the tool should go on; false
    // after --help or --version (exitCode 0) or after an error, which has
    // been printed as one line on standard error (exitCode 2).
    bool parse(int argc, const char *const *argv, int &exitCode);
    bool parse(int argc, char **argv, int &exitCode) { return parse(argc, (const char *const *)argv, exitCode); }

    bool has(const std::string &name) const;
    std::string value(const std::string &name, const std::string &fallback = "") const;
    std::vector<std::string> values(const std::string &name) const;
    // The positional arguments in the order given (sub-command included).
    const std::vector<std::string> &args() const { return args_; }
    std::string arg(size_t index, const std::string &fallback = "") const;

    // Reads an option as an integer within [lo, hi]. On a bad value it prints
    // "PROGRAM: --NAME expects a whole number from LO to HI, got 'X'" and
    // returns nullopt; an absent option gives `fallback`.
    std::optional<long> intValue(const std::string &name, long lo, long hi, long fallback) const;
    // Reads an option as one of `choices`. On any other value it prints
    // "PROGRAM: --NAME expects one of A, B, C, got 'X'" and returns nullopt;
    // an absent option gives `fallback`.
    std::optional<std::string> choiceValue(const std::string &name, const std::vector<std::string> &choices,
                                           const std::string &fallback) const;
    // Reads an option written "X,Y" as two integers, X within [xLo, xHi] and
    // Y within [yLo, yHi]; a bad value is reported as by intValue.
    std::optional<std::pair<long, long>> pairValue(const std::string &name, long xLo, long xHi, long yLo, long yHi,
                                                   std::pair<long, long> fallback) const;
    // Prints "PROGRAM: MESSAGE" on standard error; returns 1 for `return cli.fail(...)`.
    int fail(const std::string &message) const;
    // A mistake in the command line found after parsing (options that do not
    // go together): prints "PROGRAM: MESSAGE (see PROGRAM --help)" and
    // returns 2, the exit status of every command-line error.
    int usageError(const std::string &message) const;

    const std::string &program() const { return program_; }
    std::string usage() const;

private:
    struct Option {
        std::string name, valueName, help;
        char shortName;
        bool repeatable;
        std::string implicitValue = {};
        bool valueOptional = false;
    };
    struct Positional {
        std::string name, help;
        bool optional, variadic;
    };
    const Option *find(const std::string &name) const;
    const Option *findShort(char c) const;
    bool error(const std::string &message, int &exitCode) const;

    std::string program_, summary_;
    std::vector<Option> options_;
    std::vector<Positional> positionals_;
    std::vector<std::pair<std::string, std::string>> commands_;
    std::vector<std::string> examples_;
    std::vector<std::pair<std::string, std::string>> given_;   // option name, value
    std::vector<std::string> args_;
};

// A one-line progress display on standard error, shown only when standard
// error is a terminal (scripts and pipes see nothing).
class Progress {
public:
    Progress(std::string label, uint64_t total);
    ~Progress();
    void update(uint64_t done);
    void finish();

private:
    std::string label_;
    uint64_t total_;
    bool shown_;
    int lastPercent_ = -1;
};

}  // namespace nimbra
