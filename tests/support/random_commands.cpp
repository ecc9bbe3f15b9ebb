#include "tests/support/random_commands.h"

#include <stdexcept>

namespace testsupport {

using nimbra::Bytes;
using nimbra::FieldSpec;
using nimbra::FieldType;

int64_t RandomCommands::_Number(const FieldSpec &f) {
    const uint32_t pick = next(10);
    if (pick == 0) return f.min;
    if (pick == 1) return f.max;
    if (pick < 5 && !f.names.empty()) return f.names[next((uint32_t)f.names.size())].value;
    const uint64_t span = (uint64_t)(f.max - f.min) + 1;
    return f.min + (int64_t)(((uint64_t)rng_() << 32 | rng_()) % span);
}

nimbra::CommandValues RandomCommands::values(const nimbra::CommandSpec &entry) {
    nimbra::CommandValues v;
    size_t limit = 0;
    for (const FieldSpec &f : entry.fields) {
        switch (f.type) {
        case FieldType::Number:
        case FieldType::Colour:
        case FieldType::Flag: v.numbers.push_back(_Number(f)); break;
        case FieldType::Pair:
            v.numbers.push_back(_Number(f));
            v.numbers.push_back(_Number(f));
            break;
        case FieldType::Count: limit = (size_t)f.max; break;
        case FieldType::Text: {
            // Quotes, escapes, controls, valid and broken UTF-8.
            static const std::vector<Bytes> pieces = {
                {'a'}, {'Z'}, {' '}, {'"'}, {'\\'}, {'\n'}, {'\r'}, {'\t'}, {0}, {0x7F}, {'#'}, {'{'}, {'}'},
                {0xC3, 0xA9}, {0xE2, 0x82, 0xAC}, {0xF0, 0x9F, 0x98, 0x80}, {0xC3}, {0xE2, 0x82}, {0xFF},
                {0xC0, 0xAF}, {0xED, 0xA0, 0x80}, {'x', '4', '1'}};
            const size_t n = next(chance(80) ? 24 : (uint32_t)limit + 1);
            while (v.data.size() < n) {
                const Bytes &p = pieces[next((uint32_t)pieces.size())];
                if (v.data.size() + p.size() > n) break;
                v.data.insert(v.data.end(), p.begin(), p.end());
            }
            break;
        }
        case FieldType::Data: {
            const size_t n = next(chance(80) ? 40 : 2039);
            for (size_t i = 0; i < n; i++) v.data.push_back((uint8_t)rng_());
            break;
        }
        case FieldType::Points: {
            const size_t n = next((uint32_t)limit + 1);
            for (size_t i = 0; i < n; i++)
                v.points.push_back(nimbra::Point{(int32_t)_Number(f), (int32_t)_Number(f)});
            break;
        }
        default: break;
        }
    }
    return v;
}

Bytes RandomCommands::command(const nimbra::CommandSpec &entry) {
    Bytes out;
    std::string error;
    if (!nimbra::encodeCommand(entry, values(entry), out, &error)) throw std::logic_error(entry.name + (": " + error));
    return out;
}

Bytes RandomCommands::anyCommand() {
    const auto &table = nimbra::commandTable();
    return command(table[next((uint32_t)table.size())]);
}

Bytes RandomCommands::mutated(Bytes c) {
    switch (next(4)) {
    case 0:   // a byte changed (the count, a flag, a value)
        c[next((uint32_t)c.size())] = (uint8_t)rng_();
        break;
    case 1:   // cut short
        c.resize(1 + next((uint32_t)c.size()));
        break;
    case 2:   // the count byte of a variable part made large
        if (c.size() > 2) c[1 + next((uint32_t)c.size() - 1)] = 0xFF;
        break;
    default:   // the opcode replaced
        c[0] = (uint8_t)next(0x40);
        break;
    }
    return c;
}

Bytes RandomCommands::garbage(size_t maxBytes) {
    Bytes b(1 + next((uint32_t)maxBytes));
    for (uint8_t &x : b) x = (uint8_t)rng_();
    return b;
}

Bytes RandomCommands::payload() {
    Bytes p;
    const size_t target = chance(20) ? 2048 : next(300);
    while (p.size() < target) {
        Bytes c;
        const uint32_t kind = next(10);
        if (kind < 6) c = anyCommand();
        else if (kind < 9) c = mutated(anyCommand());
        else c = garbage(16);
        if (p.size() + c.size() > 2048) break;
        p.insert(p.end(), c.begin(), c.end());
    }
    return p;
}

Bytes RandomCommands::stream() {
    Bytes s;
    const int records = 1 + (int)next(8);
    for (int r = 0; r < records; r++) {
        const uint32_t kind = next(20);
        if (kind == 0) {   // an over-long header
            const uint32_t length = 2049 + next(100000);
            const uint8_t h[8] = {(uint8_t)(length >> 24), (uint8_t)(length >> 16), (uint8_t)(length >> 8),
                                  (uint8_t)length, 0, 0, 0, (uint8_t)rng_()};
            s.insert(s.end(), h, h + 8);
            continue;
        }
        Bytes record = nimbra::makeRecord(kind == 1 ? Bytes{} : payload(), chance(10) ? (uint32_t)rng_() : 0);
        s.insert(s.end(), record.begin(), record.end());
    }
    if (chance(15)) {   // a record cut by the end of the stream
        Bytes record = nimbra::makeRecord(payload());
        record.resize(next((uint32_t)record.size()));
        s.insert(s.end(), record.begin(), record.end());
    }
    return s;
}

}  // namespace testsupport
