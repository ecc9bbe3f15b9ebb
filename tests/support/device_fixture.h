// Test seam: a fresh device per test, with frames and packets captured in
// memory instead of written to file descriptors 1 and 2.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_bytes.h"
#include "tools/hostlib/nimbra_host.h"

namespace testsupport {

using Replies = std::vector<nimbra::Bytes>;

// Everything the device wrote since the last reset.
std::vector<uint8_t> &capturedFrames();
std::vector<uint8_t> &capturedPackets();
// Response payloads split from the packet stream (fails the test when the
// stream is malformed).
Replies packets();
std::vector<nimbra::Frame> frames();
void clearCaptures();

// Routes frames and packets to the captures.
void captureOutput();

// Brings every module back to its start-up state and routes output to
// memory; with `start`, also runs the start-up sequence (boot logo frame).
void resetDevice(bool start);

// Runs one payload through the dispatcher.
int32_t run(const nimbra::Bytes &payload);
int32_t run(const nimbra::CommandBuilder &builder);
// Runs each payload in turn on cleared captures and returns what the device
// replied; `result` gets the last payload's dispatcher result.
Replies replies(const std::vector<nimbra::Bytes> &payloads, int32_t *result = nullptr);
Replies replies(const nimbra::Bytes &payload, int32_t *result = nullptr);
Replies replies(const nimbra::CommandBuilder &builder, int32_t *result = nullptr);

// A result report: 0x04, the opcode, the result code and the detail byte.
nimbra::Bytes report(uint8_t opcode, uint8_t code, uint8_t detail = 0);

// Renders the RGB332 frame buffer as a small text picture of a region, for
// failure messages.
std::string describeRegion(const uint8_t *buffer, int stride, int x0, int y0, int w, int h);

// Opens the device's log into a temporary file while it lives.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    std::string text() const;
};

}  // namespace testsupport

// A test with a started device (boot logo already output, captures cleared).
class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::resetDevice(true);
        testsupport::clearCaptures();
    }
};

// A test with a reset but not started device (graphics context initialised).
class BareDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::resetDevice(false); }
};
