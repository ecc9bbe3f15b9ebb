// Records run through nimbra-sim as a process, for tests that compare
// another way of running the device with the simulator itself.
#pragma once
#include <string>

#include "tools/hostlib/nimbra_host.h"

namespace testsupport {

struct SimOutput {
    nimbra::Bytes frames;    // standard output
    nimbra::Bytes packets;   // standard error
};

// Runs `nimbra-sim -r` on `records`, written to `dir`/`name`.
SimOutput runSimOn(const std::string &dir, const std::string &name, const nimbra::Bytes &records);

// A short run of records as a host might send it: connect, shapes and frames, a
// tick rate notice, a malformed command, an unknown opcode, a status query.
nimbra::Bytes sampleRecording(int frames);

}  // namespace testsupport
