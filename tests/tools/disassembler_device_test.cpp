// The disassembler says what the device does with a record; the device is
// linked here, so each claim is checked against it: where the device stops
// a record, the report it sends when it does, and the end of the stream.
#include <gtest/gtest.h>

#include "host/platform.h"
#include "protocol/commandHandler.h"
#include "tests/support/device_fixture.h"
#include "tests/support/random_commands.h"
#include "tools/hostlib/disassembler.h"

using nimbra::Bytes;

namespace {

struct Prediction {
    bool stops = false;
    bool endsStream = false;
    Bytes report;            // the report of the stopping command, if any
    bool dependsOnState = false;
};

Prediction predict(const Bytes &payload) {
    Prediction p;
    for (size_t at = 0; at < payload.size();) {
        const nimbra::DisassembledCommand d = nimbra::disassembleCommand(payload, at);
        const uint8_t op = payload[at];
        // A handshake chunk may be refused for what came before it (an older
        // counter, a gap); switching the power off waits a second.
        if (op == nimbra::kOpHandshake && !d.stopsRecord) p.dependsOnState = true;
        if (op == nimbra::kOpEnable && d.length >= 3 && payload[at + 1] == 11 && payload[at + 2] == 0)
            p.dependsOnState = true;
        p.endsStream |= d.endsStream;
        if (d.stopsRecord) {
            p.stops = true;
            const size_t reports = d.note.find("reports ");
            if (reports != std::string::npos) {
                for (size_t i = reports + 8; i + 2 <= d.note.size() && p.report.size() < 4; i += 3)
                    p.report.push_back((uint8_t)std::stoi(d.note.substr(i, 2), nullptr, 16));
            }
            return p;
        }
        at += d.length;
    }
    return p;
}

}  // namespace

class DisassemblerAgainstDevice : public DeviceTest {};

TEST_F(DisassemblerAgainstDevice, StopsAndReportsWhereTheDeviceDoes) {
    testsupport::RandomCommands random(31337);
    int checked = 0, stopping = 0;
    for (int i = 0; i < 1500 && checked < 600; i++) {
        Bytes payload = random.chance(50) ? random.mutated(random.anyCommand()) : random.anyCommand();
        if (random.chance(50)) {   // something after it, that runs only if the record goes on
            Bytes more = random.anyCommand();
            payload.insert(payload.end(), more.begin(), more.end());
        }
        if (payload.size() > nimbra::kMaxRecordPayload) continue;
        const Prediction p = predict(payload);
        if (p.dependsOnState) continue;
        testsupport::resetDevice(true);
        testsupport::clearCaptures();
        const int32_t result = testsupport::run(payload);
        const auto packets = testsupport::packets();
        std::string text;
        for (size_t at = 0; at < payload.size();) {
            const auto d = nimbra::disassembleCommand(payload, at);
            text += d.text.substr(0, 80) + "  # " + d.note + "\n";
            at += d.length;
        }
        ASSERT_EQ(result == -1, p.stops) << text;
        ASSERT_EQ(running == 0, p.endsStream) << text;
        if (!p.report.empty()) {
            ASSERT_FALSE(packets.empty()) << text;
            ASSERT_EQ(packets.back(), p.report) << text;
        }
        checked++;
        stopping += p.stops;
    }
    EXPECT_GE(checked, 500);
    EXPECT_GE(stopping, 100);
}
