// A small JPEG writer for tests: segments laid out byte by byte and entropy
// data encoded from coefficients the test chooses, with canonical Huffman
// codes assigned here independently of the decoder.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <vector>

namespace jpegtest {

using Bytes = std::vector<uint8_t>;

// counts[l] codes of length l (1 to 16), symbols in code order.
struct HuffSpec {
    uint8_t counts[17] = {};
    Bytes symbols;
};

struct Code {
    uint32_t bits;
    int length;
};

inline std::map<uint8_t, Code> canonicalCodes(const HuffSpec &table) {
    std::map<uint8_t, Code> codes;
    uint32_t code = 0;
    size_t next = 0;
    for (int length = 1; length <= 16; length++) {
        for (int i = 0; i < table.counts[length]; i++) {
            if (next < table.symbols.size()) codes[table.symbols[next]] = {code, length};
            next++;
            code++;
        }
        code <<= 1;
    }
    return codes;
}

// DC categories 0 to 11, all with 4-bit codes.
inline HuffSpec dcFlat() {
    HuffSpec s;
    s.counts[4] = 12;
    for (int i = 0; i < 12; i++) s.symbols.push_back((uint8_t)i);
    return s;
}

// Every AC symbol a block can need (EOB, ZRL, runs 0-15 with sizes 1-15),
// all with 8-bit codes, so that only the look-up table is used.
inline HuffSpec acFlat() {
    HuffSpec s;
    s.symbols.push_back(0x00);
    s.symbols.push_back(0xF0);
    for (int r = 0; r < 16; r++) {
        for (int size = 1; size < 16; size++) s.symbols.push_back((uint8_t)(r << 4 | size));
    }
    s.counts[8] = (uint8_t)s.symbols.size();
    return s;
}

struct Component {
    uint8_t id, sampling, quant;
};

class Stream {
public:
    Bytes bytes;

    Stream &raw(std::initializer_list<uint8_t> b) {
        bytes.insert(bytes.end(), b);
        return *this;
    }
    Stream &raw(const Bytes &b) {
        bytes.insert(bytes.end(), b.begin(), b.end());
        return *this;
    }
    Stream &soi() { return raw({0xFF, 0xD8}); }
    Stream &eoi() { return raw({0xFF, 0xD9}); }
    // A segment: marker, length counting itself, payload.
    Stream &segment(uint8_t marker, const Bytes &payload) {
        size_t length = payload.size() + 2;
        raw({0xFF, marker, (uint8_t)(length >> 8), (uint8_t)length});
        return raw(payload);
    }
    Stream &dqt8(uint8_t slot, const std::vector<int> &zigzagValues) {
        Bytes p{slot};
        for (int k = 0; k < 64; k++) p.push_back((uint8_t)zigzagValues.at(k));
        return segment(0xDB, p);
    }
    Stream &sof(uint8_t marker, int width, int height, const std::vector<Component> &comps) {
        Bytes p{8, (uint8_t)(height >> 8), (uint8_t)height, (uint8_t)(width >> 8), (uint8_t)width,
                (uint8_t)comps.size()};
        for (const Component &c : comps) {
            p.push_back(c.id);
            p.push_back(c.sampling);
            p.push_back(c.quant);
        }
        return segment(marker, p);
    }
    // tableClass 0 for DC, 1 for AC.
    Stream &dht(int tableClass, int id, const HuffSpec &table) {
        Bytes p{(uint8_t)(tableClass << 4 | id)};
        for (int l = 1; l <= 16; l++) p.push_back(table.counts[l]);
        p.insert(p.end(), table.symbols.begin(), table.symbols.end());
        return segment(0xC4, p);
    }
    Stream &dri(int interval) { return segment(0xDD, {(uint8_t)(interval >> 8), (uint8_t)interval}); }
    // Scan components: identifier and (DC table << 4 | AC table).
    Stream &sos(const std::vector<std::pair<uint8_t, uint8_t>> &comps) {
        Bytes p{(uint8_t)comps.size()};
        for (auto &c : comps) {
            p.push_back(c.first);
            p.push_back(c.second);
        }
        p.insert(p.end(), {0, 63, 0});
        return segment(0xDA, p);
    }
};

// All-ones quantisation table.
inline std::vector<int> unitQuant() { return std::vector<int>(64, 1); }

// Entropy-coded data with byte stuffing; flush pads with 1-bits.
class EntropyWriter {
public:
    EntropyWriter(const HuffSpec &dc, const HuffSpec &ac) : dc_(canonicalCodes(dc)), ac_(canonicalCodes(ac)) {}

    void bits(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; i--) {
            acc_ = (uint8_t)(acc_ << 1 | ((value >> i) & 1));
            if (++filled_ == 8) emit();
        }
    }
    void symbol(const std::map<uint8_t, Code> &table, uint8_t s) {
        auto it = table.find(s);
        if (it == table.end()) throw std::runtime_error("symbol without a code");
        bits(it->second.bits, it->second.length);
    }
    void dcSymbol(uint8_t s) { symbol(dc_, s); }
    void acSymbol(uint8_t s) { symbol(ac_, s); }

    static int category(int v) {
        int a = std::abs(v), s = 0;
        while (a) {
            s++;
            a >>= 1;
        }
        return s;
    }
    // A value of category s as its s extra bits.
    void valueBits(int v, int s) {
        if (s) bits((uint32_t)(v >= 0 ? v : v + (1 << s) - 1), s);
    }

    // One block: the DC difference, then (zero run, value) pairs in zig-zag
    // order, then EOB unless the last value is at position 63.
    // Without withEob, the block is left open for symbols written by hand.
    void block(int dcDiff, const std::vector<std::pair<int, int>> &ac = {}, bool withEob = true) {
        int s = category(dcDiff);
        dcSymbol((uint8_t)s);
        valueBits(dcDiff, s);
        int k = 0;
        for (auto [run, value] : ac) {
            while (run > 15) {
                acSymbol(0xF0);
                run -= 16;
                k += 16;
            }
            k += run + 1;
            int size = category(value);
            acSymbol((uint8_t)(run << 4 | size));
            valueBits(value, size);
        }
        if (k < 63 && withEob) acSymbol(0x00);
    }

    // Pads to a byte with 1-bits and returns the data, then starts afresh.
    Bytes flush() {
        if (filled_) bits(0x7F, 8 - filled_);
        Bytes out;
        out.swap(out_);
        return out;
    }

private:
    void emit() {
        out_.push_back(acc_);
        if (acc_ == 0xFF) out_.push_back(0x00);
        acc_ = 0;
        filled_ = 0;
    }
    std::map<uint8_t, Code> dc_, ac_;
    Bytes out_;
    uint8_t acc_ = 0;
    int filled_ = 0;
};

// A grey image of unit quantisation with the flat tables, up to the scan.
inline Stream grayHeader(int width, int height, uint8_t sampling = 0x11) {
    Stream s;
    s.soi().dqt8(0, unitQuant()).sof(0xC0, width, height, {{1, sampling, 0}});
    s.dht(0, 0, dcFlat()).dht(1, 0, acFlat()).sos({{1, 0x00}});
    return s;
}

// A colour image (luma sampling as given, chroma 1x1) of unit quantisation
// with the flat tables shared by all components, up to the scan.
inline Stream colorHeader(int width, int height, uint8_t lumaSampling) {
    Stream s;
    s.soi().dqt8(0, unitQuant());
    s.sof(0xC0, width, height, {{1, lumaSampling, 0}, {2, 0x11, 0}, {3, 0x11, 0}});
    s.dht(0, 0, dcFlat()).dht(1, 0, acFlat()).sos({{1, 0x00}, {2, 0x00}, {3, 0x00}});
    return s;
}

// The dequantised DC value whose flat block has the given sample: the row
// pass gives 4 x DC, the column pass ((4 x DC + 16) >> 5) + 128.
inline int dcForSample(int sample) { return (sample - 128) * 8; }

}  // namespace jpegtest
