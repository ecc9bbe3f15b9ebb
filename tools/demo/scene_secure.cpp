// The secure link: a signed handshake in two chunks unlocks the counters and
// display replies; then drawing commands arrive in compressed blocks.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "tools/demo/demo_scenes.h"
#include "tools/hostlib/handshake.h"
#include "tools/hostlib/zlib_blocks.h"

// The key is looked for from the working directory, then beside the build
// directory that holds the program.
static std::unique_ptr<nimbra::SigningKey> _LoadDevelopmentKey() {
    std::vector<std::string> candidates = {nimbra::kDevelopmentKeyPath};
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        std::string dir(exe, (size_t)n);
        dir = dir.substr(0, dir.rfind('/'));
        candidates.push_back(dir + "/../" + nimbra::kDevelopmentKeyPath);
        candidates.push_back(dir + "/../../" + nimbra::kDevelopmentKeyPath);
    }
    std::string error;
    for (const std::string &path : candidates) {
        if (auto key = nimbra::SigningKey::load(path, error)) return key;
    }
    fprintf(stderr, "nimbra-make-demo: %s\n", error.c_str());
    exit(1);
}

DEMO_SCENE(600, secure) {
    auto key = _LoadDevelopmentKey();
    nimbra::HandshakeMessage m;
    m.peerId = 42;
    m.counterLimit = 1000;
    nimbra::Bytes message = nimbra::buildHandshakeMessage(*key, m);
    auto chunks = nimbra::handshakeChunks(message, 600, 150);

    nimbra::CommandBuilder b;
    b.connect();
    nimbra::appendRecord(stream, b.payload());
    b.clear();
    b.bytes(chunks[0]);
    nimbra::appendRecord(stream, b.payload());
    b.clear();
    // The second chunk completes the message; the replies after it are only
    // given to an authenticated host.
    b.bytes(chunks[1]).systemInfo(2).systemInfo(4);
    nimbra::appendRecord(stream, b.payload());
    b.clear();

    // The pairing screen, then black bars cut through it, all compressed.
    nimbra::ZlibBlockWriter writer;
    nimbra::CommandBuilder logo;
    const std::string caption = "Secure link";
    logo.u8(0x07).u8(4).u16le(0).u16le(0).u8((uint8_t)caption.size()).text(caption);
    // Held back until the bars have arrived too.
    nimbra::appendRecord(stream, writer.block(logo.payload(), false));

    // Ten 4-pixel bars across the pairing image (centred on y = 150); the
    // drawing colour set first is kept by the clear commands.
    nimbra::CommandBuilder bars;
    bars.setColor(0xFF40C0FF);
    for (int i = 0; i < 10; i++) bars.clearRect(0, 190 + i * 24, 1280, 8);
    bars.copyToScreen(frameId++);
    for (const nimbra::Bytes &block : writer.commands({bars.payload()})) nimbra::appendRecord(stream, block);
}
