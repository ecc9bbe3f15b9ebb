// Writes the records of a signed handshake, ready to be fed to the simulator
// or put in front of a recording.
//
//   nimbra-handshake --id 7 --counter 1 [--limit 100] [--chunk 100]
//                    [--connect] [--key FILE] [--message] [-o FILE]
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <getopt.h>
#include <string>
#include <unistd.h>

#include "tools/hostlib/handshake.h"

static void _Usage(const char *program, FILE *out) {
    fprintf(out,
            "usage: %s --id ID --counter N [options]\n"
            "Writes a signed handshake as records (one handshake chunk per record).\n"
            "  -i, --id ID        peer identity, 0 to 65535\n"
            "  -c, --counter N    handshake counter, 1 to 4294967295; must not go down\n"
            "                     between handshakes sent to one simulator run\n"
            "  -l, --limit N      highest counter the message is valid for (default 0: no limit)\n"
            "  -s, --chunk N      message bytes per chunk, 1 to 1024 (default: one chunk)\n"
            "  -k, --key FILE     RSA private key, PEM or DER (default %s)\n"
            "  -C, --connect      put a connect command in front\n"
            "  -m, --message      write the bare signed message instead of records\n"
            "  -o, --output FILE  write to FILE instead of standard output\n"
            "  -h, --help         show this help\n",
            program, nimbra::kDevelopmentKeyPath);
}

static bool _ParseNumber(const char *text, uint64_t max, uint64_t &value) {
    if (!text || !*text) return false;
    char *end = nullptr;
    errno = 0;
    unsigned long long v = strtoull(text, &end, 0);
    if (errno != 0 || *end != '\0' || text[0] == '-' || v > max) return false;
    value = v;
    return true;
}

int main(int argc, char **argv) {
    static const option options[] = {
        {"id", required_argument, nullptr, 'i'},     {"counter", required_argument, nullptr, 'c'},
        {"limit", required_argument, nullptr, 'l'},  {"chunk", required_argument, nullptr, 's'},
        {"key", required_argument, nullptr, 'k'},    {"connect", no_argument, nullptr, 'C'},
        {"message", no_argument, nullptr, 'm'},      {"output", required_argument, nullptr, 'o'},
        {"help", no_argument, nullptr, 'h'},         {nullptr, 0, nullptr, 0},
    };
    uint64_t id = 0, counter = 0, limit = 0, chunk = 0;
    bool haveId = false, haveCounter = false, connect = false, bareMessage = false;
    std::string keyPath = nimbra::kDevelopmentKeyPath, outputPath;
    int opt;
    while ((opt = getopt_long(argc, argv, "i:c:l:s:k:Cmo:h", options, nullptr)) != -1) {
        bool ok = true;
        switch (opt) {
        case 'i': ok = haveId = _ParseNumber(optarg, 0xFFFF, id); break;
        case 'c': ok = haveCounter = _ParseNumber(optarg, 0xFFFFFFFF, counter) && counter != 0; break;
        case 'l': ok = _ParseNumber(optarg, 0xFFFFFFFF, limit); break;
        case 's': ok = _ParseNumber(optarg, nimbra::kHandshakeMaxMessageBytes, chunk) && chunk != 0; break;
        case 'k': keyPath = optarg; break;
        case 'C': connect = true; break;
        case 'm': bareMessage = true; break;
        case 'o': outputPath = optarg; break;
        case 'h': _Usage(argv[0], stdout); return 0;
        default: _Usage(argv[0], stderr); return 2;
        }
        if (!ok) {
            fprintf(stderr, "%s: bad value for -%c: %s\n", argv[0], opt, optarg);
            return 2;
        }
    }
    if (optind != argc || !haveId || !haveCounter) {
        _Usage(argv[0], stderr);
        return 2;
    }

    std::string error;
    auto key = nimbra::SigningKey::load(keyPath, error);
    if (!key) {
        fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
        return 1;
    }
    if (key->signatureBytes() != 256) {
        fprintf(stderr, "%s: %s: the device checks 2048-bit keys only\n", argv[0], keyPath.c_str());
        return 1;
    }
    nimbra::HandshakeMessage m;
    m.peerId = (uint16_t)id;
    m.counterLimit = (uint32_t)limit;
    nimbra::Bytes message = nimbra::buildHandshakeMessage(*key, m);
    if (message.empty()) {
        fprintf(stderr, "%s: signing failed\n", argv[0]);
        return 1;
    }

    nimbra::Bytes out;
    if (bareMessage) {
        out = message;
    } else {
        if (connect) nimbra::appendRecord(out, nimbra::CommandBuilder().connect().payload());
        for (const auto &c : nimbra::handshakeChunks(message, (uint32_t)counter, (size_t)chunk)) nimbra::appendRecord(out, c);
    }
    if (outputPath.empty()) {
        if (isatty(1)) {
            fprintf(stderr, "%s: refusing to write binary records to a terminal (use -o FILE)\n", argv[0]);
            return 2;
        }
        size_t written = fwrite(out.data(), 1, out.size(), stdout);
        if (written != out.size() || fflush(stdout) != 0) {
            fprintf(stderr, "%s: cannot write to standard output\n", argv[0]);
            return 1;
        }
    } else if (!nimbra::writeFile(outputPath, out)) {
        fprintf(stderr, "%s: cannot write %s\n", argv[0], outputPath.c_str());
        return 1;
    }
    return 0;
}
