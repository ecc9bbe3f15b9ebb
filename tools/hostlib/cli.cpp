// One parser for every tool's command line.
#include "tools/hostlib/cli.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#ifndef NIMBRA_TOOLS_VERSION
#define NIMBRA_TOOLS_VERSION "0.0.0"
#endif

namespace nimbra {

const char *const kToolsVersion = NIMBRA_TOOLS_VERSION;

Cli::Cli(std::string program, std::string summary) : program_(std::move(program)), summary_(std::move(summary)) {}

Cli &Cli::flag(const std::string &name, const std::string &help, char shortName) {
    options_.push_back({name, "", help, shortName, false});
    return *this;
}

Cli &Cli::option(const std::string &name, const std::string &valueName, const std::string &help, char shortName,
                 bool repeatable) {
    options_.push_back({name, valueName, help, shortName, repeatable});
    return *this;
}

Cli &Cli::optionalValue(const std::string &name, const std::string &valueName, const std::string &help,
                       const std::string &implicitValue) {
    options_.push_back({name, valueName, help, 0, false, implicitValue, true});
    return *this;
}

Cli &Cli::positional(const std::string &name, const std::string &help, bool optional, bool variadic) {
    positionals_.push_back({name, help, optional, variadic});
    return *this;
}

Cli &Cli::example(const std::string &line) {
    examples_.push_back(line);
    return *this;
}

Cli &Cli::command(const std::string &name, const std::string &help) {
    commands_.emplace_back(name, help);
    return *this;
}

const Cli::Option *Cli::find(const std::string &name) const {
    for (const Option &o : options_)
        if (o.name == name) return &o;
    return nullptr;
}

const Cli::Option *Cli::findShort(char c) const {
    for (const Option &o : options_)
        if (c && o.shortName == c) return &o;
    return nullptr;
}

bool Cli::error(const std::string &message, int &exitCode) const {
    fprintf(stderr, "%s: %s (see %s --help)\n", program_.c_str(), message.c_str(), program_.c_str());
    exitCode = 2;
    return false;
}

bool Cli::parse(int argc, const char *const *argv, int &exitCode) {
    given_.clear();
    args_.clear();
    bool optionsEnded = false;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (optionsEnded || a == "-" || a.size() < 2 || a[0] != '-') {
            args_.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name, value;
        bool hasValue = false;
        const Option *o = nullptr;
        if (a[1] == '-') {
            size_t eq = a.find('=');
            name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            if (eq != std::string::npos) {
                value = a.substr(eq + 1);
                hasValue = true;
            }
            if (name == "help" || name == "version") {
                if (hasValue) return error("--" + name + " takes no value", exitCode);
                if (name == "help") {
                    fputs(usage().c_str(), stdout);
                } else {
                    printf("%s %s\n", program_.c_str(), kToolsVersion);
                }
                exitCode = 0;
                return false;
            }
            o = find(name);
            if (!o) return error("unknown option --" + name, exitCode);
        } else {
            if (a == "-h") {
                fputs(usage().c_str(), stdout);
                exitCode = 0;
                return false;
            }
            o = findShort(a[1]);
            if (!o) return error("unknown option " + a, exitCode);
            name = o->name;
            if (a.size() > 2) {
                if (o->valueName.empty()) return error("option -" + std::string(1, a[1]) + " takes no value", exitCode);
                value = a.substr(2);
                hasValue = true;
            }
        }
        if (o->valueName.empty()) {
            if (hasValue) return error("--" + name + " takes no value", exitCode);
        } else if (!hasValue && o->valueOptional &&
                   (i + 1 >= argc || (argv[i + 1][0] == '-' && argv[i + 1][1] != '\0'))) {
            value = o->implicitValue;
        } else if (!hasValue) {
            if (i + 1 >= argc) return error("--" + name + " needs a value (" + o->valueName + ")", exitCode);
            value = argv[++i];
        }
        if (!o->repeatable && has(name)) return error("--" + name + " is given twice", exitCode);
        given_.emplace_back(name, value);
    }

    size_t first = 0;
    if (!commands_.empty()) {
        if (args_.empty()) return error("a command is needed", exitCode);
        bool known = false;
        for (auto &c : commands_) known = known || c.first == args_[0];
        if (!known) return error("unknown command '" + args_[0] + "'", exitCode);
        first = 1;
    }
    size_t required = 0, maximum = 0;
    bool variadic = false;
    for (const Positional &p : positionals_) {
        if (!p.optional) required++;
        maximum++;
        variadic = variadic || p.variadic;
    }
    size_t count = args_.size() - first;
    if (count < required) return error("missing " + positionals_[count].name, exitCode);
    if (!variadic && count > maximum) return error("unexpected argument '" + args_[first + maximum] + "'", exitCode);
    exitCode = 0;
    return true;
}

bool Cli::has(const std::string &name) const {
    for (auto &g : given_)
        if (g.first == name) return true;
    return false;
}

std::string Cli::value(const std::string &name, const std::string &fallback) const {
    for (auto &g : given_)
        if (g.first == name) return g.second;
    return fallback;
}

std::vector<std::string> Cli::values(const std::string &name) const {
    std::vector<std::string> out;
    for (auto &g : given_)
        if (g.first == name) out.push_back(g.second);
    return out;
}

std::string Cli::arg(size_t index, const std::string &fallback) const {
    return index < args_.size() ? args_[index] : fallback;
}

// A whole decimal number and nothing else.
static bool _ParseLong(const std::string &text, long &out) {
    char *end = nullptr;
    errno = 0;
    out = strtol(text.c_str(), &end, 10);
    return !text.empty() && errno == 0 && *end == '\0';
}

std::optional<long> Cli::intValue(const std::string &name, long lo, long hi, long fallback) const {
    if (!has(name)) return fallback;
    std::string text = value(name);
    long v = 0;
    if (!_ParseLong(text, v) || v < lo || v > hi) {
        fprintf(stderr, "%s: --%s expects a whole number from %ld to %ld, got '%s'\n", program_.c_str(),
                name.c_str(), lo, hi, text.c_str());
        return std::nullopt;
    }
    return v;
}

std::optional<std::string> Cli::choiceValue(const std::string &name, const std::vector<std::string> &choices,
                                            const std::string &fallback) const {
    if (!has(name)) return fallback;
    std::string text = value(name), list;
    for (const std::string &c : choices) {
        if (c == text) return text;
        list += (list.empty() ? "" : ", ") + c;
    }
    fprintf(stderr, "%s: --%s expects one of %s, got '%s'\n", program_.c_str(), name.c_str(), list.c_str(),
            text.c_str());
    return std::nullopt;
}

std::optional<std::pair<long, long>> Cli::pairValue(const std::string &name, long xLo, long xHi, long yLo, long yHi,
                                                    std::pair<long, long> fallback) const {
    if (!has(name)) return fallback;
    std::string text = value(name);
    size_t comma = text.find(',');
    long x = 0, y = 0;
    if (comma == std::string::npos || !_ParseLong(text.substr(0, comma), x) ||
        !_ParseLong(text.substr(comma + 1), y) || x < xLo || x > xHi || y < yLo || y > yHi) {
        fprintf(stderr, "%s: --%s expects X,Y with X from %ld to %ld and Y from %ld to %ld, got '%s'\n",
                program_.c_str(), name.c_str(), xLo, xHi, yLo, yHi, text.c_str());
        return std::nullopt;
    }
    return std::make_pair(x, y);
}

int Cli::usageError(const std::string &message) const {
    int exitCode = 0;
    error(message, exitCode);
    return exitCode;
}

int Cli::fail(const std::string &message) const {
    fprintf(stderr, "%s: %s\n", program_.c_str(), message.c_str());
    return 1;
}

std::string Cli::usage() const {
    std::string u = "usage: " + program_;
    if (!commands_.empty()) u += " COMMAND";
    if (!options_.empty()) u += " [options]";
    for (const Positional &p : positionals_) {
        std::string n = p.name + (p.variadic ? "..." : "");
        u += p.optional ? " [" + n + "]" : " " + n;
    }
    u += "\n" + summary_ + "\n";
    auto line = [&u](const std::string &left, const std::string &help) {
        std::string l = "  " + left;
        if (l.size() < 28) {
            l.resize(28, ' ');
        } else {
            l += "\n" + std::string(28, ' ');
        }
        u += l + help + "\n";
    };
    if (!commands_.empty()) {
        u += "\ncommands:\n";
        for (auto &c : commands_) line(c.first, c.second);
    }
    if (!positionals_.empty()) {
        u += "\narguments:\n";
        for (const Positional &p : positionals_) line(p.name, p.help);
    }
    u += "\noptions:\n";
    for (const Option &o : options_) {
        std::string left = o.shortName ? std::string("-") + o.shortName + ", " : "";
        if (o.valueOptional) {
            left += "--" + o.name + " [" + o.valueName + "]";
            line(left, o.help + " (alone: " + o.implicitValue + ")");
        } else {
            left += "--" + o.name + (o.valueName.empty() ? "" : " " + o.valueName);
            line(left, o.help + (o.repeatable ? " (repeatable)" : ""));
        }
    }
    line("-h, --help", "print this help and exit");
    line("--version", "print the version and exit");
    if (!examples_.empty()) {
        u += "\nexample:\n";
        for (auto &e : examples_) u += "  " + e + "\n";
    }
    return u;
}

Progress::Progress(std::string label, uint64_t total)
    : label_(std::move(label)), total_(total), shown_(isatty(2) != 0) {}

Progress::~Progress() { finish(); }

void Progress::update(uint64_t done) {
    if (!shown_) return;
    int percent = total_ ? (int)(done * 100 / total_) : 0;
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    const int width = 30;
    int filled = percent * width / 100;
    fprintf(stderr, "\r%s [%s%s] %3d%%", label_.c_str(), std::string((size_t)filled, '#').c_str(),
            std::string((size_t)(width - filled), ' ').c_str(), percent);
    fflush(stderr);
}

void Progress::finish() {
    if (shown_ && lastPercent_ >= 0) fputs("\n", stderr);
    shown_ = false;
}

}  // namespace nimbra
