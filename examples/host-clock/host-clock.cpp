// host-clock: a small host application for the Nimbra, written against the
// host library only. It connects to a simulator over the TCP link, signs in
// with the development key, uploads a font and a picture, then redraws a
// clock face every second until Ctrl-C, checking every reply on the way.
//
//   nimbra-view --listen &
//   host-clock [--link 127.0.0.1:7470] [--seconds N]
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tools/hostlib/cli.h"
#include "tools/hostlib/file_io.h"
#include "tools/hostlib/handshake.h"
#include "tools/hostlib/reply_decoder.h"
#include "tools/hostlib/tcp_link.h"
#include "tools/hostlib/upload.h"

namespace {

using nimbra::Bytes;
using nimbra::CommandBuilder;

#ifndef HOST_CLOCK_ASSETS
#define HOST_CLOCK_ASSETS "examples/assets"
#endif

constexpr uint8_t kFontSlot = 3;
constexpr uint8_t kPictureSlot = 1;
constexpr uint16_t kPeerId = 7;
constexpr int kReplyTimeoutMs = 3000;
constexpr uint8_t kFrameShown = 0x00, kResultReport = 0x04, kResultOk = 0x00;
constexpr uint8_t kHandshakeOpcode = 0x1E, kLoadImageOpcode = 0x04, kLoadFontOpcode = 0x06;

// Everything on the wire is in half pixels: 2 x the pixel positions below.
constexpr int32_t kCentreX = 2 * 200, kCentreY = 2 * 200, kRadius = 2 * 170;
constexpr double kPi = 3.14159265358979323846;

volatile std::sig_atomic_t gStop = 0;
void onInterrupt(int) { gStop = 1; }

// The link and the replies still expected, checked as they come.
class Device {
public:
    bool open(const std::string &address) {
        std::string error;
        if (!link_.connect(address, error)) return fail(error);
        return true;
    }

    // Sends one record. With `until`, then reads replies until the one whose
    // first two bytes are until->first, until->second (a frame shown with
    // its identifier, the result report of an opcode); notices in between
    // are passed over, and a result report other than a success ends the run.
    bool send(const Bytes &payload, std::optional<std::pair<uint8_t, uint8_t>> until = std::nullopt) {
        std::string error;
        if (!link_.sendRecord(payload, error)) return fail(error);
        while (until) {
            nimbra::Packet packet;
            switch (link_.readPacket(packet, kReplyTimeoutMs, error)) {
            case nimbra::TcpLink::ReadStatus::Packet: break;
            case nimbra::TcpLink::ReadStatus::Timeout: return fail("no reply from the device in time");
            case nimbra::TcpLink::ReadStatus::Closed: return fail("the simulator closed the link");
            case nimbra::TcpLink::ReadStatus::Failed: return fail(error);
            }
            const Bytes &p = packet.payload;
            if (p.size() >= 4 && p[0] == kResultReport && p[2] != kResultOk) {
                return fail("the device refused a command: " + nimbra::describeReply(p.data(), p.size()));
            }
            if (p.size() >= 2 && p[0] == until->first && p[1] == until->second) break;
        }
        return true;
    }

    bool fail(const std::string &message) {
        fprintf(stderr, "host-clock: %s\n", message.c_str());
        return false;
    }

    void close() { link_.close(); }

private:
    nimbra::TcpLink link_;
};

bool signIn(Device &device, const std::string &keyPath) {
    std::string error;
    auto key = keyPath.empty() ? nimbra::SigningKey::development(error) : nimbra::SigningKey::load(keyPath, error);
    if (!key) return device.fail(error);
    nimbra::HandshakeMessage message;
    message.peerId = kPeerId;
    Bytes signedMessage = nimbra::buildHandshakeMessage(*key, message);
    if (signedMessage.empty()) return device.fail("cannot sign the handshake");
    // The device refuses a counter that is not above the last one it saw,
    // and keeps it while it runs: the clock time always is.
    const uint32_t counter = (uint32_t)time(nullptr);
    if (!device.send(CommandBuilder().connect().payload())) return false;
    std::vector<Bytes> chunks = nimbra::handshakeChunks(signedMessage, counter);
    for (size_t i = 0; i + 1 < chunks.size(); i++) {
        if (!device.send(chunks[i])) return false;
    }
    // The last chunk completes the handshake: the device acknowledges it.
    return device.send(chunks.back(), std::make_pair(kResultReport, kHandshakeOpcode));
}

bool upload(Device &device, const std::vector<Bytes> &commands, uint8_t opcode, const std::string &what) {
    if (commands.empty()) return device.fail("cannot upload " + what);
    for (size_t i = 0; i + 1 < commands.size(); i++) {
        if (!device.send(commands[i])) return false;
    }
    // The resource is checked and stored with its last chunk: one report.
    return device.send(commands.back(), std::make_pair(kResultReport, opcode));
}

bool uploadAssets(Device &device, const std::string &fontPath, const std::string &picturePath) {
    std::string error;
    std::optional<Bytes> font = nimbra::loadFile(fontPath, error);
    if (!font) return device.fail("cannot read " + fontPath + ": " + error);
    std::optional<Bytes> picture = nimbra::loadFile(picturePath, error);
    if (!picture) return device.fail("cannot read " + picturePath + ": " + error);
    nimbra::UploadOptions options;
    auto fontCommands = nimbra::loadFontCommands(kFontSlot, *font, nimbra::kFontFormat4Bpp, options, &error);
    if (!upload(device, fontCommands, kLoadFontOpcode, fontPath + " (" + error + ")")) return false;
    auto pictureCommands = nimbra::loadImageCommands(kPictureSlot, *picture, nimbra::kImageJpeg, options, &error);
    return upload(device, pictureCommands, kLoadImageOpcode, picturePath + " (" + error + ")");
}

// A point on the face, `fraction` of the radius out, at `turn` (0 to 1,
// clockwise from twelve o'clock).
nimbra::Point onFace(double turn, double fraction) {
    const double angle = turn * 2 * kPi;
    return {kCentreX + (int32_t)std::lround(std::sin(angle) * kRadius * fraction),
            kCentreY - (int32_t)std::lround(std::cos(angle) * kRadius * fraction)};
}

void hand(CommandBuilder &b, double turn, double length, uint8_t widthHalf, uint32_t colour) {
    const nimbra::Point tip = onFace(turn, length);
    b.setColor(colour).setPenStyle(widthHalf, 0, 0).drawLine(kCentreX, kCentreY, tip.x, tip.y);
}

Bytes clockFace(const std::tm &now, uint8_t frameId) {
    CommandBuilder b;
    b.clearRect(0, 0, 2 * 640, 2 * 400);
    b.setColor(0xFF102040).drawEllipse(kCentreX, kCentreY, kRadius, kRadius, 0, true);
    b.setColor(0xFFE0E0E0).setPenStyle(6, 0, 0).drawEllipse(kCentreX, kCentreY, kRadius, kRadius, 0, false);
    for (int hour = 0; hour < 12; hour++) {
        const nimbra::Point outer = onFace(hour / 12.0, 0.92), inner = onFace(hour / 12.0, hour % 3 ? 0.84 : 0.74);
        b.setPenStyle(hour % 3 ? 3 : 6, 1, 0).drawLine(inner.x, inner.y, outer.x, outer.y);
    }
    const double seconds = now.tm_sec, minutes = now.tm_min + seconds / 60, hours = now.tm_hour % 12 + minutes / 60;
    hand(b, hours / 12, 0.5, 12, 0xFFE0E0E0);
    hand(b, minutes / 60, 0.78, 8, 0xFFE0E0E0);
    hand(b, seconds / 60, 0.86, 3, 0xFFFF6020);
    b.setColor(0xFFFF6020).drawEllipse(kCentreX, kCentreY, 10, 10, 0, true);

    char digits[16];
    std::strftime(digits, sizeof digits, "%H:%M:%S", &now);
    char date[32];
    std::strftime(date, sizeof date, "%a %d %b %Y", &now);
    b.drawImage(kPictureSlot, 2 * 410, 2 * 60);
    b.setColor(0xFFFFFFFF).drawText(kFontSlot, 2 * 510, 2 * 220, 1, digits);
    b.setColor(0xFFA0B0C0).drawText(0, 2 * 510, 2 * 270, 1, date);
    b.copyToScreen(frameId);
    return b.payload();
}

}  // namespace

int main(int argc, char **argv) {
    nimbra::Cli cli("host-clock", "A host application: draws a live clock on a Nimbra simulator over the TCP link.");
    cli.option("link", "ADDR:PORT", std::string("the simulator to connect to (default ") + nimbra::kDefaultLinkAddress + ")")
        .option("seconds", "N", "stop after N seconds (default: run until Ctrl-C)")
        .option("key", "FILE", "signing key, PEM or DER (default: the development key, built in)")
        .option("font", "FILE.sif", "4-bit font for the digits")
        .option("picture", "FILE.jpg", "picture shown beside the clock")
        .example("nimbra-view --listen & host-clock");
    if (int exitCode; !cli.parse(argc, argv, exitCode)) return exitCode;
    const auto seconds = cli.intValue("seconds", 1, 86400, 0);
    if (!seconds) return 2;
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);

    Device device;
    if (!device.open(cli.value("link", nimbra::kDefaultLinkAddress))) return 1;
    if (!signIn(device, cli.value("key"))) return 1;
    if (!uploadAssets(device, cli.value("font", HOST_CLOCK_ASSETS "/sans_bold_30_4bpp.sif"),
                      cli.value("picture", HOST_CLOCK_ASSETS "/landscape_420.jpg"))) {
        return 1;
    }

    using Clock = std::chrono::system_clock;
    uint8_t frameId = 0;
    const auto started = std::chrono::steady_clock::now();
    while (!gStop) {
        const std::time_t t = Clock::to_time_t(Clock::now());
        std::tm now{};
        localtime_r(&t, &now);
        const uint8_t id = frameId++;
        if (!device.send(clockFace(now, id), std::make_pair(kFrameShown, id))) return 1;
        if (*seconds && std::chrono::steady_clock::now() - started >= std::chrono::seconds(*seconds)) break;
        // Sleep to the next whole second, waking early for Ctrl-C.
        const auto next = Clock::from_time_t(t + 1);
        while (!gStop && Clock::now() < next) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // A clean goodbye: the device shows its disconnected screen.
    if (!device.send(CommandBuilder().disconnect().payload())) return 1;
    device.close();
    return 0;
}
