// Random commands and record streams for the property tests of the text
// form: valid commands of every kind from the command table, mutated ones,
// and streams with every kind of damage the device has to read.
#pragma once
#include <cstdint>
#include <random>

#include "tools/hostlib/command_codec.h"

namespace testsupport {

class RandomCommands {
public:
    explicit RandomCommands(uint32_t seed) : rng_(seed) {}

    uint32_t next(uint32_t bound) { return bound ? (uint32_t)(rng_() % bound) : 0; }
    bool chance(int percent) { return next(100) < (uint32_t)percent; }

    // Values any field of the command can hold, with names and ends of
    // ranges often, and variable parts from empty to long.
    nimbra::CommandValues values(const nimbra::CommandSpec &entry);
    // A valid command of the given kind (encodes its random values).
    nimbra::Bytes command(const nimbra::CommandSpec &entry);
    nimbra::Bytes anyCommand();
    // A command with bytes changed, cut or extended.
    nimbra::Bytes mutated(nimbra::Bytes command);
    nimbra::Bytes garbage(size_t maxBytes);

    // A record payload of commands, mutations and garbage, at most 2048 bytes.
    nimbra::Bytes payload();
    // A whole stream: records (some with header bytes set, some empty),
    // and now and then an over-long header, a record cut by the end of the
    // stream or a short tail.
    nimbra::Bytes stream();

private:
    int64_t _Number(const nimbra::FieldSpec &f);
    std::mt19937 rng_;
};

}  // namespace testsupport
