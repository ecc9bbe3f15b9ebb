// Decodes the simulator's response packets (standard error of nimbra-sim)
// into one readable line each.
//   nimbra-sim -r demo.rec 2> replies.bin >/dev/null; nimbra-packets < replies.bin
#include <cstdio>
#include <string>

#include "tools/hostlib/nimbra_host.h"

static std::string describe(const nimbra::Bytes &p) {
    static const struct {
        uint8_t type;
        const char *name;
    } names[] = {{0x00, "frame shown"},         {0x01, "state change"},     {0x02, "system status"},
                 {0x03, "cache entry"},         {0x04, "result report"},    {0x06, "system counters"},
                 {0x07, "display information"}, {0x08, "short status"},     {0x09, "calibration chunk"},
                 {0x0B, "cache usage map"},     {0x40, "tick rate"},        {0x41, "MTU"}};
    std::string name = "unknown";
    for (auto &n : names)
        if (n.type == p[0]) name = n.name;
    char head[64];
    snprintf(head, sizeof head, "%-20s", name.c_str());
    std::string line = head;
    for (size_t i = 0; i < p.size() && i < 64; i++) {
        char b[4];
        snprintf(b, sizeof b, "%02X ", p[i]);
        line += b;
    }
    if (p.size() > 64) line += "... (" + std::to_string(p.size()) + " bytes)";
    return line;
}

int main() {
    nimbra::Bytes stream;
    int c;
    while ((c = getchar()) != EOF) stream.push_back((uint8_t)c);
    std::vector<nimbra::Packet> packets;
    bool ok = nimbra::parsePackets(stream, packets);
    for (auto &p : packets)
        if (!p.payload.empty()) printf("%s\n", describe(p.payload).c_str());
    if (!ok) {
        fprintf(stderr, "the packet stream is malformed after %zu packets\n", packets.size());
        return 1;
    }
    return 0;
}
