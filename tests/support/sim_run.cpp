// nimbra-sim as a process, and a sample recording.
#include "tests/support/sim_run.h"

#include <cstdlib>

namespace testsupport {

SimOutput runSimOn(const std::string &dir, const std::string &name, const nimbra::Bytes &records) {
    const std::string rec = dir + "/" + name;
    nimbra::writeFile(rec, records);
    const std::string cmd = "'" + std::string(NIMBRA_SIM_PATH) + "' -r '" + rec + "' > '" + rec + ".frames' 2> '" +
                            rec + ".packets'";
    SimOutput out;
    if (system(cmd.c_str()) != 0) return out;
    out.frames = nimbra::readFile(rec + ".frames");
    out.packets = nimbra::readFile(rec + ".packets");
    return out;
}

nimbra::Bytes sampleRecording(int frames) {
    nimbra::Bytes stream;
    nimbra::CommandBuilder b;
    b.connect().setTickRate(50, 0);
    nimbra::appendRecord(stream, b.payload());
    for (int i = 0; i < frames; i++) {
        b.clear();
        b.clearRect(0, 0, 1280, 800)
            .setColor(0xFF000000u | (uint32_t)(0x3311 * (i + 1)))
            .drawEllipse(300 + 40 * i, 400, 120, 80, (uint16_t)(30 * i), i % 2 == 0)
            .setPenStyle(4, 0, 0)
            .drawLine(0, 0, 1279, 799 - 50 * i)
            .copyToScreen((uint8_t)i);
        nimbra::appendRecord(stream, b.payload());
    }
    b.clear();
    b.u8(0x0C).u8(1);   // a rectangle cut short: malformed
    nimbra::appendRecord(stream, b.payload());
    b.clear();
    b.u8(0x2A);         // no command has this opcode
    nimbra::appendRecord(stream, b.payload());
    b.clear();
    b.systemInfo(1);
    nimbra::appendRecord(stream, b.payload());
    return stream;
}

}  // namespace testsupport
