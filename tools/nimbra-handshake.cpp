// Writes the records of a signed handshake, ready to be fed to the simulator
// or put in front of a recording. The development key is built in.
//
//   nimbra-handshake --id 7 --counter 1 [--limit 100] [--chunk 100]
//                    [--connect] [--key FILE] [--message] [-o FILE]
#include <cstdio>
#include <string>

#include "tools/hostlib/cli.h"
#include "tools/hostlib/file_io.h"
#include "tools/hostlib/handshake.h"

int main(int argc, char **argv) {
    nimbra::Cli cli("nimbra-handshake", "Writes a signed handshake as records (one handshake chunk per record).");
    cli.option("id", "ID", "peer identity, 0 to 65535 (required)", 'i')
        .option("counter", "N", "handshake counter, 1 to 4294967295 (required); it must not go down between "
                                "handshakes sent to one simulator run", 'c')
        .option("limit", "N", "highest counter the message is valid for (default 0: no limit)", 'l')
        .option("chunk", "N", "message bytes per chunk, 1 to 1024 (default: one chunk)", 's')
        .option("key", "FILE", "RSA private key, PEM or DER (default: the built-in development key)", 'k')
        .flag("connect", "put a connect command in front", 'C')
        .flag("message", "write the bare signed message instead of records", 'm')
        .option("output", "FILE", "write to FILE instead of standard output", 'o')
        .example("nimbra-handshake --connect --id 7 --counter 1 | nimbra-sim 2>replies.bin >/dev/null");
    if (int exitCode; !cli.parse(argc, argv, exitCode)) return exitCode;
    if (!cli.has("id") || !cli.has("counter")) return cli.usageError("--id and --counter are required");
    auto id = cli.intValue("id", 0, 0xFFFF, 0);
    auto counter = cli.intValue("counter", 1, 0xFFFFFFFFL, 1);
    auto limit = cli.intValue("limit", 0, 0xFFFFFFFFL, 0);
    auto chunk = cli.intValue("chunk", 1, (long)nimbra::kHandshakeMaxMessageBytes, 0);
    if (!id || !counter || !limit || !chunk) return 2;

    std::string error;
    auto key = cli.has("key") ? nimbra::SigningKey::load(cli.value("key"), error)
                              : nimbra::SigningKey::development(error);
    if (!key) return cli.fail(error);
    if (key->signatureBytes() != 256) return cli.fail(cli.value("key") + ": the device checks 2048-bit keys only");
    nimbra::HandshakeMessage m;
    m.peerId = (uint16_t)*id;
    m.counterLimit = (uint32_t)*limit;
    nimbra::Bytes message = nimbra::buildHandshakeMessage(*key, m);
    if (message.empty()) return cli.fail("signing failed");

    nimbra::Bytes out;
    if (cli.has("message")) {
        out = message;
    } else {
        if (cli.has("connect")) nimbra::appendRecord(out, nimbra::CommandBuilder().connect().payload());
        for (const auto &c : nimbra::handshakeChunks(message, (uint32_t)*counter, (size_t)*chunk))
            nimbra::appendRecord(out, c);
    }
    const std::string output = cli.value("output", "-");
    if (!nimbra::saveBinary(output, out, error)) return cli.fail("cannot write " + output + ": " + error);
    return 0;
}
