// Decodes the simulator's response packets (standard error of nimbra-sim):
// one line per reply with its name and fields, or one JSON object per line.
#include <cstdio>

#include "tools/hostlib/cli.h"
#include "tools/hostlib/file_io.h"
#include "tools/hostlib/reply_decoder.h"

int main(int argc, char **argv) {
    nimbra::Cli cli("nimbra-packets", "Prints each reply of a packet stream by name, with its fields.");
    cli.flag("json", "one JSON object per line instead of text")
        .positional("PACKETS", "packet stream to read (default: standard input)", true)
        .example("nimbra-sim -r demo.rec 2> replies.bin > /dev/null; nimbra-packets replies.bin")
        .example("nimbra-sim -r demo.rec 2>&1 > /dev/null | nimbra-packets --json");
    if (int exitCode; !cli.parse(argc, argv, exitCode)) return exitCode;
    const std::string path = cli.arg(0, "-");
    std::string why;
    auto stream = nimbra::loadFile(path, why);
    if (!stream) return cli.fail("cannot read " + path + ": " + why);
    std::vector<nimbra::Packet> packets;
    const bool wellFormed = nimbra::parsePackets(*stream, packets);
    const bool json = cli.has("json");
    for (const nimbra::Packet &p : packets) {
        const std::string line = json ? nimbra::describeReplyJson(p.payload.data(), p.payload.size())
                                      : nimbra::describeReply(p.payload.data(), p.payload.size());
        fputs((line + "\n").c_str(), stdout);
    }
    if (!wellFormed) {
        size_t used = 0;
        for (const nimbra::Packet &p : packets) used += 4 + p.payload.size();
        return cli.fail("the packet stream is malformed at byte " + std::to_string(used) + ", after " +
                        std::to_string(packets.size()) + " packets");
    }
    return 0;
}
