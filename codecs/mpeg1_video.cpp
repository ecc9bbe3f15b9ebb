// MPEG-1 video decoding. The bitstream is read through one bounded cursor
// over the stream buffer: reads past the buffered data yield zero bits and
// set an overrun flag, so a picture cut short is noticed without ever
// touching memory outside the buffer. Variable-length codes are decoded by
// look-up tables, built at compile time from binary trees of the code tables
// (a table with two codes sharing a prefix does not compile); codes longer
// than a table's width go on down the tree.
#include "codecs/mpeg1_video.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codecs/mpeg1_idct.h"
#include "gui/GUI_Alloc.h"

// ------------------------------------------------------------ stream buffer

struct plm_buffer_t {
    uint8_t *bytes;
    uint32_t capacity;
    uint32_t length;              // bytes held
    uint32_t bitIndex;            // read position in bits, at most length x 8
    uint32_t checkpointLength;
    uint32_t checkpointBitIndex;
    bool overrun;                 // a read went past the buffered data
};

plm_buffer_t *plm_buffer_create_with_capacity(size_t capacity) {
    uint64_t need = (uint64_t)((sizeof(plm_buffer_t) + 3) & ~(size_t)3) + (((uint64_t)capacity + 3) & ~(uint64_t)3);
    if (capacity == 0 || need > GUI_GetNumFreeBytes()) return nullptr;
    plm_buffer_t *self = (plm_buffer_t *)GUI_AllocZero(sizeof(plm_buffer_t));
    self->bytes = (uint8_t *)GUI_AllocNoInit((uint32_t)capacity);
    self->capacity = (uint32_t)capacity;
    return self;
}

void plm_buffer_destroy(plm_buffer_t *) {}

// Drops the bytes before both the read position and the checkpoint, so that
// a later restore still finds everything it needs.
static void _DiscardConsumed(plm_buffer_t *self) {
    uint32_t keepBit = self->bitIndex < self->checkpointBitIndex ? self->bitIndex : self->checkpointBitIndex;
    uint32_t drop = keepBit >> 3;
    if (drop == 0) return;
    memmove(self->bytes, self->bytes + drop, self->length - drop);
    self->length -= drop;
    self->bitIndex -= drop * 8;
    self->checkpointBitIndex -= drop * 8;
    self->checkpointLength -= drop;
}

size_t plm_buffer_write(plm_buffer_t *self, const uint8_t *bytes, size_t length) {
    _DiscardConsumed(self);
    if (length > self->capacity - self->length) return 0;
    if (length) memcpy(self->bytes + self->length, bytes, length);
    self->length += (uint32_t)length;
    return length;
}

void plm_buffer_checkpoint(plm_buffer_t *self) {
    self->checkpointLength = self->length;
    self->checkpointBitIndex = self->bitIndex;
}

void plm_buffer_restore(plm_buffer_t *self) {
    self->length = self->checkpointLength;
    self->bitIndex = self->checkpointBitIndex;
}

void plm_buffer_reset(plm_buffer_t *self) {
    self->length = 0;
    self->bitIndex = 0;
    self->checkpointLength = 0;
    self->checkpointBitIndex = 0;
}

size_t plm_buffer_get_size(const plm_buffer_t *self) { return self->length; }
size_t plm_buffer_get_remaining(const plm_buffer_t *self) { return self->length - (self->bitIndex + 7) / 8; }

// The bit reading functions work on the buffer itself or on a copy of its
// read state that a hot loop keeps in registers (BitCursor), together with
// the next bits already loaded, so that decoding a code does not wait for a
// load from memory.
struct BitCursor {
    const uint8_t *bytes;
    uint32_t length;
    uint32_t bitIndex;
    bool overrun;
    uint64_t cache;    // the bits from bitIndex on, most significant first; zeros past the data
    uint32_t cached;   // how many bits of `cache` come from bitIndex on (at least 32)

    explicit BitCursor(const plm_buffer_t *b)
        : bytes(b->bytes), length(b->length), bitIndex(b->bitIndex), overrun(b->overrun) {
        refill();
    }
    void storeTo(plm_buffer_t *b) const {
        b->bitIndex = bitIndex;
        b->overrun = overrun;
    }
    void refill() {
        uint32_t byte = bitIndex >> 3;
        uint64_t word = 0;
        if (byte + 8 <= length) {
            memcpy(&word, bytes + byte, 8);
            word = __builtin_bswap64(word);
        } else {
            for (uint32_t i = 0; i < 8; i++) word = (word << 8) | (byte + i < length ? bytes[byte + i] : 0);
        }
        cache = word << (bitIndex & 7);
        cached = 64 - (bitIndex & 7);
    }
};

template <class Bits>
static inline uint32_t _BitsLeft(const Bits *b) { return b->length * 8 - b->bitIndex; }

// Up to 24 bits from the read position; bits past the data read as 0.
template <class Bits>
static inline uint32_t _PeekBits(const Bits *b, uint32_t count) {
    if (count == 0) return 0;
    uint32_t byte = b->bitIndex >> 3;
    if (byte + 8 <= b->length) {
        // Eight whole bytes buffered: one big-endian load.
        uint64_t word;
        memcpy(&word, b->bytes + byte, 8);
        word = __builtin_bswap64(word) << (b->bitIndex & 7);
        return (uint32_t)(word >> (64 - count));
    }
    uint32_t acc = 0;
    for (uint32_t i = 0; i < 4; i++) {
        acc <<= 8;
        if (byte + i < b->length) acc |= b->bytes[byte + i];
    }
    return (acc << (b->bitIndex & 7)) >> (32 - count);
}

template <class Bits>
static inline void _SkipBits(Bits *b, uint32_t count) {
    if (count > _BitsLeft(b)) {
        b->overrun = true;
        b->bitIndex = b->length * 8;
    } else {
        b->bitIndex += count;
    }
}

// The same reads on a cursor: the same bits, the same overrun rule.
static inline uint32_t _PeekBits(const BitCursor *b, uint32_t count) {
    return count == 0 ? 0 : (uint32_t)(b->cache >> (64 - count));
}

static inline void _SkipBits(BitCursor *b, uint32_t count) {
    if (count > _BitsLeft(b)) {
        b->overrun = true;
        b->bitIndex = b->length * 8;
        b->refill();
        return;
    }
    b->bitIndex += count;
    b->cache <<= count;
    b->cached -= count;
    if (b->cached < 32) b->refill();
}

template <class Bits>
static inline uint32_t _ReadBits(Bits *b, uint32_t count) {
    uint32_t v = _PeekBits(b, count);
    _SkipBits(b, count);
    return v;
}

template <class Bits>
static inline uint32_t _ReadBit(Bits *b) { return _ReadBits(b, 1); }

// Finds the next start code (00 00 01 xx) at or after the read position,
// byte aligned, and leaves the read position after it. Returns xx, or -1
// when none is buffered; the read position is then left before the last
// three bytes, which may be the beginning of a start code still to come.
// ISO/IEC 11172-2, 2.4.2.1: start codes.
static int _NextStartCode(plm_buffer_t *b) {
    uint32_t i = (b->bitIndex + 7) >> 3;
    // The 01 of a start code is looked for with memchr, then the two zero
    // bytes before it are checked: the first hit is the first start code.
    uint32_t p = i + 2;
    while (i + 3 < b->length) {
        const uint8_t *one = (const uint8_t *)memchr(b->bytes + p, 1, b->length - 1 - p);
        if (!one) {
            i = b->length - 3;
            break;
        }
        p = (uint32_t)(one - b->bytes);
        if (b->bytes[p - 1] == 0 && b->bytes[p - 2] == 0) {
            b->bitIndex = (p + 2) * 8;
            return b->bytes[p + 1];
        }
        p++;
        i = p - 2;
    }
    uint32_t keep = b->length >= 3 ? b->length - 3 : 0;
    if (keep < i) keep = i;
    if (keep > b->length) keep = b->length;
    b->bitIndex = keep * 8;
    return -1;
}

// --------------------------------------------------- variable-length codes

struct VlcCode {
    const char *bits;   // most significant bit first; blanks ignored
    int16_t value;      // 0 or more
};

// A binary tree in an array: child >= 1 is the next node, child < 0 a leaf
// holding -(value + 1), 0 a code that does not exist.
template <size_t Nodes>
struct VlcTree {
    int16_t child[Nodes][2];
};

// Deliberately not constexpr and never defined: the tables are built while
// compiling, and a malformed one calls this, which stops the build with the
// reason in the message. The device core throws no exceptions.
void MalformedCodeTable(const char *reason);

template <size_t Nodes, size_t N>
constexpr VlcTree<Nodes> _BuildVlcTree(const VlcCode (&codes)[N]) {
    VlcTree<Nodes> tree{};
    size_t used = 1;
    for (const VlcCode &code : codes) {
        int length = 0;
        for (const char *p = code.bits; *p; p++) length += *p != ' ';
        int seen = 0;
        size_t node = 0;
        for (const char *p = code.bits; *p; p++) {
            if (*p == ' ') continue;
            int bit = *p == '1' ? 1 : *p == '0' ? 0 : (MalformedCodeTable("code digit other than 0 or 1"), 0);
            int16_t &slot = tree.child[node][bit];
            if (++seen == length) {
                if (slot != 0) MalformedCodeTable("code is a prefix of another code");
                slot = (int16_t)(-(code.value + 1));
            } else {
                if (slot < 0) MalformedCodeTable("code begins with another code");
                if (slot == 0) {
                    if (used >= Nodes) MalformedCodeTable("tree too small");
                    slot = (int16_t)used++;
                }
                node = (size_t)slot;
            }
        }
    }
    return tree;
}

// What walking the tree over the next `Bits` bits gives: a value (or -1 for
// bits that form no code) and the bits the walk took, or, for codes longer
// than `Bits`, the node at which the walk goes on bit by bit.
struct VlcEntry {
    int16_t value;     // the code's value, -1, or the node to go on from
    uint8_t length;    // bits taken
    uint8_t pending;   // 1: value is a node
};

template <size_t Nodes, int Bits>
struct Vlc {
    VlcTree<Nodes> tree;
    VlcEntry first[1 << Bits];
};

template <size_t Nodes, int Bits, size_t N>
constexpr Vlc<Nodes, Bits> _BuildVlc(const VlcCode (&codes)[N]) {
    Vlc<Nodes, Bits> vlc{};
    vlc.tree = _BuildVlcTree<Nodes>(codes);
    for (uint32_t pattern = 0; pattern < (1u << Bits); pattern++) {
        int node = 0;
        for (int depth = 1;; depth++) {
            int16_t next = vlc.tree.child[node][(pattern >> (Bits - depth)) & 1];
            if (next <= 0) {
                vlc.first[pattern] = VlcEntry{(int16_t)(next < 0 ? -next - 1 : -1), (uint8_t)depth, 0};
                break;
            }
            node = next;
            if (depth == Bits) {
                vlc.first[pattern] = VlcEntry{(int16_t)node, (uint8_t)Bits, 1};
                break;
            }
        }
    }
    return vlc;
}

// Returns the value of the next code, or -1 when the bits form no code. One
// look-up takes what the tree walk would have taken, bit for bit: the same
// value, the same bits consumed (also when the code is invalid or runs past
// the buffered data).
template <class Reader, size_t Nodes, int Bits>
static inline int _ReadVlc(Reader *b, const Vlc<Nodes, Bits> &vlc) {
    const VlcEntry &e = vlc.first[_PeekBits(b, Bits)];
    _SkipBits(b, e.length);
    if (!e.pending) return e.value;
    int node = e.value;
    for (;;) {
        int16_t next = vlc.tree.child[node][_ReadBit(b)];
        if (next < 0) return -next - 1;
        if (next == 0) return -1;
        node = next;
    }
}

constexpr int16_t kIncrementEscape = 34;
constexpr int16_t kIncrementStuffing = 35;
constexpr int16_t kCoeffEndOfBlock = 4000;
constexpr int16_t kCoeffEscape = 4001;
static constexpr int16_t _RunLevel(int run, int level) { return (int16_t)(run * 64 + level); }

// Macroblock type flags. Bit 2 (backward prediction) belongs to B pictures
// only, which are skipped without reading their macroblocks.
constexpr int16_t MB_QUANT = 1;
constexpr int16_t MB_FORWARD = 2;
constexpr int16_t MB_PATTERN = 8;
constexpr int16_t MB_INTRA = 16;

// ISO/IEC 11172-2, Annex B, Table B.2a: macroblock_type in I pictures.
static constexpr VlcCode kIntraTypeCodes[] = {{"1", MB_INTRA}, {"01", MB_QUANT | MB_INTRA}};

// Table B.2b: macroblock_type in P pictures.
static constexpr VlcCode kPredictedTypeCodes[] = {
    {"1", MB_FORWARD | MB_PATTERN},
    {"01", MB_PATTERN},
    {"001", MB_FORWARD},
    {"00011", MB_INTRA},
    {"00010", MB_QUANT | MB_FORWARD | MB_PATTERN},
    {"00001", MB_QUANT | MB_PATTERN},
    {"000001", MB_QUANT | MB_INTRA},
};

// Table B.5a: dct_dc_size_luminance.
static constexpr VlcCode kLumaDcSizeCodes[] = {
    {"100", 0}, {"00", 1}, {"01", 2}, {"101", 3}, {"110", 4}, {"1110", 5}, {"11110", 6}, {"111110", 7}, {"1111110", 8},
};

// Table B.5b: dct_dc_size_chrominance.
static constexpr VlcCode kChromaDcSizeCodes[] = {
    {"00", 0}, {"01", 1}, {"10", 2}, {"110", 3}, {"1110", 4}, {"11110", 5}, {"111110", 6}, {"1111110", 7},
    {"11111110", 8},
};

// Table B.1: macroblock_address_increment.
static constexpr VlcCode kAddressIncrementCodes[] = {
    {"1", 1}, {"011", 2}, {"010", 3}, {"0011", 4}, {"0010", 5}, {"00011", 6}, {"00010", 7}, {"0000111", 8},
    {"0000110", 9}, {"00001011", 10}, {"00001010", 11}, {"00001001", 12}, {"00001000", 13}, {"00000111", 14},
    {"00000110", 15}, {"0000010111", 16}, {"0000010110", 17}, {"0000010101", 18}, {"0000010100", 19},
    {"0000010011", 20}, {"0000010010", 21}, {"00000100011", 22}, {"00000100010", 23}, {"00000100001", 24},
    {"00000100000", 25}, {"00000011111", 26}, {"00000011110", 27}, {"00000011101", 28}, {"00000011100", 29},
    {"00000011011", 30}, {"00000011010", 31}, {"00000011001", 32}, {"00000011000", 33},
    {"00000001000", kIncrementEscape}, {"00000001111", kIncrementStuffing},
};

// Table B.3: coded_block_pattern.
static constexpr VlcCode kCodedBlockPatternCodes[] = {
    {"01011", 1}, {"01001", 2}, {"001101", 3}, {"1101", 4}, {"0010111", 5}, {"0010011", 6}, {"00011111", 7},
    {"1100", 8}, {"0010110", 9}, {"0010010", 10}, {"00011110", 11}, {"10011", 12}, {"00011011", 13}, {"00010111", 14},
    {"00010011", 15}, {"1011", 16}, {"0010101", 17}, {"0010001", 18}, {"00011101", 19}, {"10001", 20},
    {"00011001", 21}, {"00010101", 22}, {"00010001", 23}, {"001111", 24}, {"00001111", 25}, {"00001101", 26},
    {"000000011", 27}, {"01111", 28}, {"00001011", 29}, {"00000111", 30}, {"000000111", 31}, {"1010", 32},
    {"0010100", 33}, {"0010000", 34}, {"00011100", 35}, {"001110", 36}, {"00001110", 37}, {"00001100", 38},
    {"000000010", 39}, {"10000", 40}, {"00011000", 41}, {"00010100", 42}, {"00010000", 43}, {"01110", 44},
    {"00001010", 45}, {"00000110", 46}, {"000000110", 47}, {"10010", 48}, {"00011010", 49}, {"00010110", 50},
    {"00010010", 51}, {"01101", 52}, {"00001001", 53}, {"00000101", 54}, {"000000101", 55}, {"01100", 56},
    {"00001000", 57}, {"00000100", 58}, {"000000100", 59}, {"111", 60}, {"01010", 61}, {"01000", 62}, {"001100", 63},
};

// Table B.4: motion_horizontal_forward_code and the other motion codes.
static constexpr VlcCode kMotionCodes[] = {
    {"1", 0}, {"01", 1}, {"001", 2}, {"0001", 3}, {"000011", 4}, {"0000101", 5}, {"0000100", 6}, {"0000011", 7},
    {"000001011", 8}, {"000001010", 9}, {"000001001", 10}, {"0000010001", 11}, {"0000010000", 12}, {"0000001111", 13},
    {"0000001110", 14}, {"0000001101", 15}, {"0000001100", 16},
};

// Tables B.5c to B.5f: dct_coeff_first and dct_coeff_next.
static constexpr VlcCode kCoeffCodes[] = {
    {"11", _RunLevel(0, 1)}, {"011", _RunLevel(1, 1)}, {"0100", _RunLevel(0, 2)}, {"0101", _RunLevel(2, 1)},
    {"00101", _RunLevel(0, 3)}, {"00110", _RunLevel(4, 1)}, {"00111", _RunLevel(3, 1)}, {"000100", _RunLevel(7, 1)},
    {"000101", _RunLevel(6, 1)}, {"000110", _RunLevel(1, 2)}, {"000111", _RunLevel(5, 1)},
    {"0000100", _RunLevel(2, 2)}, {"0000101", _RunLevel(9, 1)}, {"0000110", _RunLevel(0, 4)},
    {"0000111", _RunLevel(8, 1)}, {"00100000", _RunLevel(13, 1)}, {"00100001", _RunLevel(0, 6)},
    {"00100010", _RunLevel(12, 1)}, {"00100011", _RunLevel(11, 1)}, {"00100100", _RunLevel(3, 2)},
    {"00100101", _RunLevel(1, 3)}, {"00100110", _RunLevel(0, 5)}, {"00100111", _RunLevel(10, 1)},
    {"0000001000", _RunLevel(16, 1)}, {"0000001001", _RunLevel(5, 2)}, {"0000001010", _RunLevel(0, 7)},
    {"0000001011", _RunLevel(2, 3)}, {"0000001100", _RunLevel(1, 4)}, {"0000001101", _RunLevel(15, 1)},
    {"0000001110", _RunLevel(14, 1)}, {"0000001111", _RunLevel(4, 2)}, {"000000010000", _RunLevel(0, 11)},
    {"000000010001", _RunLevel(8, 2)}, {"000000010010", _RunLevel(4, 3)}, {"000000010011", _RunLevel(0, 10)},
    {"000000010100", _RunLevel(2, 4)}, {"000000010101", _RunLevel(7, 2)}, {"000000010110", _RunLevel(21, 1)},
    {"000000010111", _RunLevel(20, 1)}, {"000000011000", _RunLevel(0, 9)}, {"000000011001", _RunLevel(19, 1)},
    {"000000011010", _RunLevel(18, 1)}, {"000000011011", _RunLevel(1, 5)}, {"000000011100", _RunLevel(3, 3)},
    {"000000011101", _RunLevel(0, 8)}, {"000000011110", _RunLevel(6, 2)}, {"000000011111", _RunLevel(17, 1)},
    {"0000000010000", _RunLevel(10, 2)}, {"0000000010001", _RunLevel(9, 2)}, {"0000000010010", _RunLevel(5, 3)},
    {"0000000010011", _RunLevel(3, 4)}, {"0000000010100", _RunLevel(2, 5)}, {"0000000010101", _RunLevel(1, 7)},
    {"0000000010110", _RunLevel(1, 6)}, {"0000000010111", _RunLevel(0, 15)}, {"0000000011000", _RunLevel(0, 14)},
    {"0000000011001", _RunLevel(0, 13)}, {"0000000011010", _RunLevel(0, 12)}, {"0000000011011", _RunLevel(26, 1)},
    {"0000000011100", _RunLevel(25, 1)}, {"0000000011101", _RunLevel(24, 1)}, {"0000000011110", _RunLevel(23, 1)},
    {"0000000011111", _RunLevel(22, 1)}, {"00000000010000", _RunLevel(0, 31)}, {"00000000010001", _RunLevel(0, 30)},
    {"00000000010010", _RunLevel(0, 29)}, {"00000000010011", _RunLevel(0, 28)}, {"00000000010100", _RunLevel(0, 27)},
    {"00000000010101", _RunLevel(0, 26)}, {"00000000010110", _RunLevel(0, 25)}, {"00000000010111", _RunLevel(0, 24)},
    {"00000000011000", _RunLevel(0, 23)}, {"00000000011001", _RunLevel(0, 22)}, {"00000000011010", _RunLevel(0, 21)},
    {"00000000011011", _RunLevel(0, 20)}, {"00000000011100", _RunLevel(0, 19)}, {"00000000011101", _RunLevel(0, 18)},
    {"00000000011110", _RunLevel(0, 17)}, {"00000000011111", _RunLevel(0, 16)}, {"000000000010000", _RunLevel(0, 40)},
    {"000000000010001", _RunLevel(0, 39)}, {"000000000010010", _RunLevel(0, 38)},
    {"000000000010011", _RunLevel(0, 37)}, {"000000000010100", _RunLevel(0, 36)},
    {"000000000010101", _RunLevel(0, 35)}, {"000000000010110", _RunLevel(0, 34)},
    {"000000000010111", _RunLevel(0, 33)}, {"000000000011000", _RunLevel(0, 32)},
    {"000000000011001", _RunLevel(1, 14)}, {"000000000011010", _RunLevel(1, 13)},
    {"000000000011011", _RunLevel(1, 12)}, {"000000000011100", _RunLevel(1, 11)},
    {"000000000011101", _RunLevel(1, 10)}, {"000000000011110", _RunLevel(1, 9)}, {"000000000011111", _RunLevel(1, 8)},
    {"0000000000010000", _RunLevel(1, 18)}, {"0000000000010001", _RunLevel(1, 17)},
    {"0000000000010010", _RunLevel(1, 16)}, {"0000000000010011", _RunLevel(1, 15)},
    {"0000000000010100", _RunLevel(6, 3)}, {"0000000000010101", _RunLevel(16, 2)},
    {"0000000000010110", _RunLevel(15, 2)}, {"0000000000010111", _RunLevel(14, 2)},
    {"0000000000011000", _RunLevel(13, 2)}, {"0000000000011001", _RunLevel(12, 2)},
    {"0000000000011010", _RunLevel(11, 2)}, {"0000000000011011", _RunLevel(31, 1)},
    {"0000000000011100", _RunLevel(30, 1)}, {"0000000000011101", _RunLevel(29, 1)},
    {"0000000000011110", _RunLevel(28, 1)}, {"0000000000011111", _RunLevel(27, 1)}, {"10", kCoeffEndOfBlock},
    {"000001", kCoeffEscape},
};


// Look-up widths: the longest code of each table, except the coefficients,
// whose rare codes of 11 to 16 bits finish the walk bit by bit.
static constexpr auto kAddressIncrementVlc = _BuildVlc<48, 11>(kAddressIncrementCodes);
static constexpr auto kCodedBlockPatternVlc = _BuildVlc<80, 9>(kCodedBlockPatternCodes);
static constexpr auto kMotionVlc = _BuildVlc<24, 10>(kMotionCodes);
static constexpr auto kCoeffVlc = _BuildVlc<160, 10>(kCoeffCodes);
static constexpr auto kIntraTypeVlc = _BuildVlc<4, 2>(kIntraTypeCodes);
static constexpr auto kPredictedTypeVlc = _BuildVlc<8, 6>(kPredictedTypeCodes);
static constexpr auto kLumaDcSizeVlc = _BuildVlc<12, 7>(kLumaDcSizeCodes);
static constexpr auto kChromaDcSizeVlc = _BuildVlc<12, 8>(kChromaDcSizeCodes);

// Scan position -> natural (row-major) position in the 8 x 8 block.
static constexpr uint8_t kZigZag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

// Scan position -> position in the transposed block the inverse DCT takes.
static constexpr auto kZigZagTransposed = [] {
    struct {
        uint8_t at[64];
    } t{};
    for (int i = 0; i < 64; i++) t.at[i] = (uint8_t)((kZigZag[i] & 7) * 8 + (kZigZag[i] >> 3));
    return t;
}();

// The common coefficient codes together with their sign bit, by the next 11
// bits: run, signed level and the bits taken; end of block and escape by
// kind. Longer codes and bits that form no code go down the tree.
enum CoeffKind : uint8_t { COEFF_OTHER, COEFF_RUN_LEVEL, COEFF_END_OF_BLOCK, COEFF_ESCAPE };
struct CoeffEntry {
    int16_t level;
    uint8_t run;
    uint8_t length;
    CoeffKind kind;
};
constexpr int COEFF_FAST_BITS = 11;

static constexpr auto kCoeffFast = [] {
    struct {
        CoeffEntry at[1 << COEFF_FAST_BITS];
    } t{};
    for (uint32_t pattern = 0; pattern < (1u << COEFF_FAST_BITS); pattern++) {
        const VlcEntry &e = kCoeffVlc.first[pattern >> 1];
        CoeffEntry c{0, 0, 0, COEFF_OTHER};
        if (!e.pending && e.value == kCoeffEndOfBlock) {
            c = CoeffEntry{0, 0, e.length, COEFF_END_OF_BLOCK};
        } else if (!e.pending && e.value == kCoeffEscape) {
            c = CoeffEntry{0, 0, e.length, COEFF_ESCAPE};
        } else if (!e.pending && e.value >= 0 && e.length < COEFF_FAST_BITS) {
            bool negative = (pattern >> (COEFF_FAST_BITS - 1 - e.length)) & 1;
            int level = e.value & 63;
            c = CoeffEntry{(int16_t)(negative ? -level : level), (uint8_t)(e.value >> 6), (uint8_t)(e.length + 1),
                           COEFF_RUN_LEVEL};
        }
        t.at[pattern] = c;
    }
    return t;
}();

// Natural order.
static constexpr uint8_t kDefaultIntraMatrix[64] = {
    8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37, 19, 22, 26, 27, 29, 34,
    34, 38, 22, 22, 26, 27, 29, 34, 37, 40, 22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32,
    35, 40, 48, 58, 26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83,
};

// -------------------------------------------------------------- decoder

constexpr int PICTURE_TYPE_I = 1;
constexpr int PICTURE_TYPE_P = 2;

constexpr int START_PICTURE = 0x00;
constexpr int START_SLICE_FIRST = 0x01;
constexpr int START_SLICE_LAST = 0xAF;
constexpr int START_USER_DATA = 0xB2;
constexpr int START_SEQUENCE = 0xB3;
constexpr int START_EXTENSION = 0xB5;

// Sequence header: 8 bytes of fields, then up to two 64-byte matrices.
constexpr uint32_t SEQUENCE_FIELDS_BITS = 62;
constexpr uint32_t MAX_PICTURE_BYTES = 307200;   // width x height x 3

enum DecodeResult { DECODE_OK, DECODE_DAMAGED, DECODE_TRUNCATED };

// The most macroblocks a picture of at most MAX_PICTURE_BYTES / 3 pixels can
// have, each side at most 4095 pixels: for each width, the tallest picture.
static constexpr int _MaxMacroblocks() {
    int most = 0;
    for (int width = 1; width <= 4095; width++) {
        int height = (int)(MAX_PICTURE_BYTES / 3) / width;
        if (height > 4095) height = 4095;
        int count = ((width + 15) / 16) * ((height + 15) / 16);
        if (count > most) most = count;
    }
    return most;
}
constexpr int MAX_MACROBLOCKS = _MaxMacroblocks();

struct plm_video_t {
    plm_buffer_t *buffer;
    bool hasHeader;
    bool hasReference;
    uint16_t width, height;
    int mbWidth, mbHeight, mbCount;
    int lumaStride, chromaStride;         // = planes' widths
    int lumaRows, chromaRows;
    uint8_t intraMatrix[64];              // natural order
    uint8_t nonIntraMatrix[64];
    plm_frame_t frames[2];
    plm_frame_t *current;                 // being decoded
    plm_frame_t *forward;                 // most recent reference

    // Per picture.
    int pictureType;
    bool fullPelForward;
    int forwardFCode;
    int lastMacroblock;                   // address of the last macroblock decoded, -1 before the first

    // Per slice and macroblock.
    int quantizerScale;
    int scaledMatricesScale;              // the scale the two tables below are for; 0: none yet
    int32_t scaledIntra[64];              // quantizer scale x matrix, in scan order
    int32_t scaledNonIntra[64];
    int dcPredictor[3];                   // Y, Cb, Cr
    int motionPredictorX, motionPredictorY;
    int16_t block[64];                    // transposed: horizontal frequency u, vertical v at u x 8 + v

    // P pictures: the macroblocks written so far. The others show the
    // reference where they are, and are copied from it when the picture is
    // complete (instead of copying the whole reference first).
    uint8_t macroblockWritten[MAX_MACROBLOCKS];
};

plm_video_t *plm_video_create_with_buffer(plm_buffer_t *buffer) {
    if (!buffer || sizeof(plm_video_t) + 4 > GUI_GetNumFreeBytes()) return nullptr;
    plm_video_t *self = (plm_video_t *)GUI_AllocZero(sizeof(plm_video_t));
    self->buffer = buffer;
    return self;
}

void plm_video_destroy(plm_video_t *) {}

bool plm_video_has_header(const plm_video_t *self) { return self->hasHeader; }
uint16_t plm_video_get_width(const plm_video_t *self) { return self->width; }
uint16_t plm_video_get_height(const plm_video_t *self) { return self->height; }

// ISO/IEC 11172-2, 2.4.2.3 and 2.4.3.2: the quantizer matrices, in zigzag order.
static void _ReadMatrix(plm_buffer_t *b, uint8_t matrix[64]) {
    for (int i = 0; i < 64; i++) matrix[kZigZag[i]] = (uint8_t)_ReadBits(b, 8);
}

enum HeaderResult { HEADER_ACCEPTED, HEADER_REFUSED, HEADER_INCOMPLETE };

// Reads a sequence header (the read position just after its start code).
// The header is taken as soon as all of its bytes are buffered: 8 bytes of
// fields, plus 64 for each matrix it loads.
// ISO/IEC 11172-2, 2.4.2.3: sequence header.
static HeaderResult _DecodeSequenceHeader(plm_video_t *self) {
    plm_buffer_t *b = self->buffer;
    if (_BitsLeft(b) < SEQUENCE_FIELDS_BITS + 1) return HEADER_INCOMPLETE;
    uint32_t width = _ReadBits(b, 12);
    uint32_t height = _ReadBits(b, 12);
    _SkipBits(b, 4 + 4);            // aspect ratio, picture rate
    _SkipBits(b, 18 + 1 + 10 + 1);  // bit rate, marker, buffer size, constrained flag

    uint8_t intra[64], nonIntra[64];
    if (_ReadBit(b)) {
        if (_BitsLeft(b) < 64 * 8 + 1) return HEADER_INCOMPLETE;
        _ReadMatrix(b, intra);
    } else {
        memcpy(intra, kDefaultIntraMatrix, 64);
    }
    if (_BitsLeft(b) < 1) return HEADER_INCOMPLETE;
    if (_ReadBit(b)) {
        if (_BitsLeft(b) < 64 * 8) return HEADER_INCOMPLETE;
        _ReadMatrix(b, nonIntra);
    } else {
        memset(nonIntra, 16, 64);
    }
    // A zero matrix entry, which encoders do not write, only zeroes the
    // coefficients it scales: it is no reason to refuse the clip.
    if (width == 0 || height == 0 || (uint64_t)width * height * 3 > MAX_PICTURE_BYTES) return HEADER_REFUSED;

    if (self->hasHeader) {
        // A repeated header may load new matrices but not change the size:
        // the frame stores stay as they are.
        if (width != self->width || height != self->height) return HEADER_REFUSED;
    } else {
        int mbWidth = (int)(width + 15) >> 4;
        int mbHeight = (int)(height + 15) >> 4;
        uint32_t lumaBytes = (uint32_t)mbWidth * 16 * (uint32_t)mbHeight * 16;
        uint32_t chromaBytes = lumaBytes / 4;
        uint32_t storeBytes = lumaBytes + 2 * chromaBytes;   // a multiple of 4
        if ((uint64_t)storeBytes * 2 > GUI_GetNumFreeBytes()) return HEADER_REFUSED;

        self->width = (uint16_t)width;
        self->height = (uint16_t)height;
        self->mbWidth = mbWidth;
        self->mbHeight = mbHeight;
        self->mbCount = mbWidth * mbHeight;
        self->lumaStride = mbWidth * 16;
        self->chromaStride = mbWidth * 8;
        self->lumaRows = mbHeight * 16;
        self->chromaRows = mbHeight * 8;
        for (int i = 0; i < 2; i++) {
            uint8_t *store = (uint8_t *)GUI_AllocZero(storeBytes);
            plm_frame_t &f = self->frames[i];
            f.width = self->width;
            f.height = self->height;
            f.y = plm_plane_t{(uint16_t)self->lumaStride, (uint16_t)self->lumaRows, store};
            f.cb = plm_plane_t{(uint16_t)self->chromaStride, (uint16_t)self->chromaRows, store + lumaBytes};
            f.cr = plm_plane_t{(uint16_t)self->chromaStride, (uint16_t)self->chromaRows, store + lumaBytes + chromaBytes};
        }
        self->current = &self->frames[0];
        self->forward = &self->frames[1];
        self->hasHeader = true;
    }
    memcpy(self->intraMatrix, intra, 64);
    self->scaledMatricesScale = 0;
    memcpy(self->nonIntraMatrix, nonIntra, 64);
    return HEADER_ACCEPTED;
}

static inline uint8_t _Clamp255(int32_t v) { return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v); }

// The prediction of a block whose source lies inside the plane: a copy, the
// average of two neighbours ((a + b + 1) >> 1, horizontally or vertically)
// or of four ((a + b + c + d + 2) >> 2). `size` is 16 (luma) or 8 (chroma).
#if defined(__SSE2__)
static inline __m128i _LoadRow(const uint8_t *p, int size) {
    return size == 16 ? _mm_loadu_si128((const __m128i *)p) : _mm_loadl_epi64((const __m128i *)p);
}
static inline void _StoreRow(uint8_t *p, __m128i v, int size) {
    if (size == 16) {
        _mm_storeu_si128((__m128i *)p, v);
    } else {
        _mm_storel_epi64((__m128i *)p, v);
    }
}

static void _PredictInside(const uint8_t *a, uint8_t *out, int stride, int size, int hx, int hy) {
    if (!hy) {
        for (int y = 0; y < size; y++, a += stride, out += stride) {
            __m128i v = _LoadRow(a, size);
            if (hx) v = _mm_avg_epu8(v, _LoadRow(a + 1, size));   // (a + b + 1) >> 1
            _StoreRow(out, v, size);
        }
        return;
    }
    if (!hx) {
        for (int y = 0; y < size; y++, a += stride, out += stride) {
            _StoreRow(out, _mm_avg_epu8(_LoadRow(a, size), _LoadRow(a + stride, size)), size);
        }
        return;
    }
    // Four neighbours: sums in 16 bits, two row pairs kept from one row to
    // the next.
    const __m128i zero = _mm_setzero_si128(), two = _mm_set1_epi16(2);
    auto pairSums = [&](const uint8_t *row, __m128i &low, __m128i &high) {
        __m128i left = _LoadRow(row, size), right = _LoadRow(row + 1, size);
        low = _mm_add_epi16(_mm_unpacklo_epi8(left, zero), _mm_unpacklo_epi8(right, zero));
        high = _mm_add_epi16(_mm_unpackhi_epi8(left, zero), _mm_unpackhi_epi8(right, zero));
    };
    __m128i topLow, topHigh;
    pairSums(a, topLow, topHigh);
    for (int y = 0; y < size; y++, a += stride, out += stride) {
        __m128i bottomLow, bottomHigh;
        pairSums(a + stride, bottomLow, bottomHigh);
        __m128i low = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(topLow, bottomLow), two), 2);
        __m128i high = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(topHigh, bottomHigh), two), 2);
        _StoreRow(out, _mm_packus_epi16(low, high), size);
        topLow = bottomLow;
        topHigh = bottomHigh;
    }
}
#else
static void _PredictInside(const uint8_t *a, uint8_t *out, int stride, int size, int hx, int hy) {
    for (int y = 0; y < size; y++, a += stride, out += stride) {
        const uint8_t *c = a + stride;
        if (!hx && !hy) {
            memcpy(out, a, (size_t)size);
        } else if (hx && !hy) {
            for (int x = 0; x < size; x++) out[x] = (uint8_t)((a[x] + a[x + 1] + 1) >> 1);
        } else if (!hx) {
            for (int x = 0; x < size; x++) out[x] = (uint8_t)((a[x] + c[x] + 1) >> 1);
        } else {
            for (int x = 0; x < size; x++) out[x] = (uint8_t)((a[x] + a[x + 1] + c[x] + c[x + 1] + 2) >> 2);
        }
    }
}
#endif

// Copies a size x size prediction from the reference plane at a half-pel
// vector. Vectors that reach outside the plane cannot occur in a valid
// stream; for them the plane's edge samples are repeated.
// ISO/IEC 11172-2, 2.4.4.2: prediction from the reference picture at half-pel accuracy.
static void _Predict(const uint8_t *ref, uint8_t *dst, int stride, int rows, int bx, int by, int size, int mvx,
                     int mvy) {
    int sx = bx + (mvx >> 1);
    int sy = by + (mvy >> 1);
    int hx = mvx & 1;
    int hy = mvy & 1;
    uint8_t *out = dst + by * stride + bx;
    if (sx >= 0 && sy >= 0 && sx + size + hx <= stride && sy + size + hy <= rows) {
        _PredictInside(ref + sy * stride + sx, out, stride, size, hx, hy);
        return;
    }
    auto at = [&](int x, int y) -> int {
        x = x < 0 ? 0 : x >= stride ? stride - 1 : x;
        y = y < 0 ? 0 : y >= rows ? rows - 1 : y;
        return ref[y * stride + x];
    };
    for (int y = 0; y < size; y++, out += stride) {
        for (int x = 0; x < size; x++) {
            int px = sx + x, py = sy + y;
            out[x] = (uint8_t)((at(px, py) + at(px + hx, py) + at(px, py + hy) + at(px + hx, py + hy) + 2) >> 2);
        }
    }
}

// One component of a forward motion vector, in the units of the picture's
// vector (whole or half pixels). Returns false for a code that does not exist.
// ISO/IEC 11172-2, 2.4.4.2: motion vector reconstruction (f_code, the residual and the wrap).
static bool _DecodeMotionComponent(plm_video_t *self, BitCursor *b, int *predictor) {
    int code = _ReadVlc(b, kMotionVlc);
    if (code < 0) return false;
    if (code != 0 && _ReadBit(b)) code = -code;
    int rSize = self->forwardFCode - 1;
    int f = 1 << rSize;
    int delta = code;
    if (f != 1 && code != 0) {
        int r = (int)_ReadBits(b, (uint32_t)rSize);
        int magnitude = ((code < 0 ? -code : code) - 1) * f + r + 1;
        delta = code < 0 ? -magnitude : magnitude;
    }
    int v = *predictor + delta;
    if (v < -16 * f) {
        v += 32 * f;
    } else if (v > 16 * f - 1) {
        v -= 32 * f;
    }
    *predictor = v;
    return true;
}

// Sets the quantizer scale, and the matrices scaled by it when it changed.
static void _SetQuantizerScale(plm_video_t *self, int scale) {
    self->quantizerScale = scale;
    if (scale == self->scaledMatricesScale) return;
    for (int n = 0; n < 64; n++) {
        self->scaledIntra[n] = scale * self->intraMatrix[kZigZag[n]];
        self->scaledNonIntra[n] = scale * self->nonIntraMatrix[kZigZag[n]];
    }
    self->scaledMatricesScale = scale;
}

// Reads one block's coefficients into self->block (transposed, dequantised;
// the block is all zero on entry). Returns false when the data is malformed.
// *acCoded tells whether any coefficient but the first was coded, *last the
// last scan position coded.
// ISO/IEC 11172-2, 2.4.2.8 (block layer), 2.4.4.1 and 2.4.4.2 (coefficient reconstruction).
static bool _DecodeBlock(plm_video_t *self, BitCursor *b, int index, bool intra, bool *acCoded, int *last) {
    int16_t *block = self->block;
    const int32_t *scaled;
    int n = 0;
    *acCoded = false;
    *last = 63;
    if (intra) {
        int component = index < 4 ? 0 : index - 3;
        int size = component == 0 ? _ReadVlc(b, kLumaDcSizeVlc) : _ReadVlc(b, kChromaDcSizeVlc);
        if (size < 0) return false;
        int differential = 0;
        if (size > 0) {
            differential = (int)_ReadBits(b, (uint32_t)size);
            if (!(differential & (1 << (size - 1)))) differential = differential - (1 << size) + 1;
        }
        int dc = self->dcPredictor[component] + differential * 8;
        // Legal streams stay within 0..2040; the bound keeps hostile ones
        // from growing the predictor without limit.
        dc = dc < -2048 ? -2048 : dc > 2047 ? 2047 : dc;
        self->dcPredictor[component] = dc;
        block[0] = (int16_t)dc;
        n = 1;
        scaled = self->scaledIntra;
    } else {
        scaled = self->scaledNonIntra;
    }
    // Dequantisation (the product of 2 x level, or 2 x level + sign for a
    // non-intra block, with scale and matrix, divided by 16 toward zero),
    // mismatch control (a non-zero coefficient is made odd, toward zero) and
    // the bound to -2048..2047, all on the magnitude.
    const int32_t extra = intra ? 0 : 1;
    // The sign is as good as random: everything here is computed without
    // branching on it (sign mask s: 0 or -1; (x ^ s) - s negates when s is -1).
    auto store = [&](int position, int level) {
        int32_t s = level >> 31;
        int32_t magnitude = (level ^ s) - s;
        int32_t nonZero = magnitude != 0;
        int32_t m = ((2 * magnitude + (extra & -nonZero)) * scaled[position]) >> 4;
        m = (m - (m != 0)) | (m != 0);
        int32_t limit = 2047 - s;   // 2048 for a negative coefficient
        m = m < limit ? m : limit;
        block[kZigZagTransposed.at[position]] = (int16_t)((m ^ s) - s);
    };
    bool ac = false;
    if (!intra && _PeekBits(b, 1) == 1) {
        // The first coefficient of a non-intra block: "1 s" is run 0, level 1
        // (end of block cannot come first).
        _SkipBits(b, 1);
        store(0, _ReadBit(b) ? -1 : 1);
        n = 1;
        if (b->overrun) return true;   // the caller reports the cut
    }
    for (;;) {
        int run, level;
        const CoeffEntry &e = kCoeffFast.at[_PeekBits(b, COEFF_FAST_BITS)];
        if (e.kind == COEFF_RUN_LEVEL) {
            _SkipBits(b, e.length);
            run = e.run;
            level = e.level;
        } else if (e.kind == COEFF_END_OF_BLOCK) {
            _SkipBits(b, e.length);
            break;
        } else if (e.kind == COEFF_ESCAPE) {
            _SkipBits(b, e.length);
            run = (int)_ReadBits(b, 6);
            level = (int)_ReadBits(b, 8);
            if (level == 0) {
                level = (int)_ReadBits(b, 8);
            } else if (level == 128) {
                level = (int)_ReadBits(b, 8) - 256;
            } else if (level > 128) {
                level -= 256;
            }
        } else {
            int code = _ReadVlc(b, kCoeffVlc);
            if (code < 0) {
                *acCoded = ac;
                *last = 63;
                return false;
            }
            // Only the long run and level codes come this way.
            run = code >> 6;
            level = code & 63;
            if (_ReadBit(b)) level = -level;
        }
        n += run;
        if (n > 63) {
            *acCoded = ac;
            *last = 63;
            return false;
        }
        ac |= n > 0;
        store(n++, level);
        if (b->overrun) break;   // the caller reports the cut
    }
    *acCoded = ac;
    *last = n - 1;
    return true;
}

// The destination of block `index` (0-3 luma, 4 Cb, 5 Cr) of a macroblock.
static uint8_t *_BlockTarget(plm_video_t *self, int mbx, int mby, int index, int *stride) {
    plm_frame_t *f = self->current;
    if (index < 4) {
        *stride = self->lumaStride;
        return f->y.data + (mby * 16 + (index >> 1) * 8) * self->lumaStride + mbx * 16 + (index & 1) * 8;
    }
    *stride = self->chromaStride;
    uint8_t *plane = index == 4 ? f->cb.data : f->cr.data;
    return plane + mby * 8 * self->chromaStride + mbx * 8;
}

// Clears a coefficient block: eight 16-byte stores (a memset of this size
// compiles to a string instruction that takes longer to start than to run).
static inline void _ClearBlock(int16_t block[64]) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (int i = 0; i < 64; i += 8) _mm_storeu_si128((__m128i *)(block + i), zero);
#else
    memset(block, 0, 64 * sizeof(int16_t));
#endif
}

// Copies macroblock (mbx, mby) of the reference into the picture.
// ISO/IEC 11172-2, 2.4.4.2: a skipped macroblock of a P picture copies the reference.
static void _CopyMacroblock(plm_video_t *self, int mbx, int mby) {
    const plm_frame_t *ref = self->forward;
    plm_frame_t *cur = self->current;
    size_t luma = (size_t)mby * 16 * self->lumaStride + (size_t)mbx * 16;
    for (int y = 0; y < 16; y++, luma += self->lumaStride) memcpy(cur->y.data + luma, ref->y.data + luma, 16);
    size_t chroma = (size_t)mby * 8 * self->chromaStride + (size_t)mbx * 8;
    for (int y = 0; y < 8; y++, chroma += self->chromaStride) {
        memcpy(cur->cb.data + chroma, ref->cb.data + chroma, 8);
        memcpy(cur->cr.data + chroma, ref->cr.data + chroma, 8);
    }
}

// ISO/IEC 11172-2, 2.4.2.7: macroblock layer.
static DecodeResult _DecodeMacroblock(plm_video_t *self, BitCursor *b, int address, int type) {
    int mbx = address % self->mbWidth;
    int mby = address / self->mbWidth;
    bool intra = (type & MB_INTRA) != 0;

    if (type & MB_QUANT) {
        int q = (int)_ReadBits(b, 5);
        if (q == 0) return DECODE_DAMAGED;
        _SetQuantizerScale(self, q);
    }
    if (intra) {
        self->motionPredictorX = self->motionPredictorY = 0;
    } else {
        self->dcPredictor[0] = self->dcPredictor[1] = self->dcPredictor[2] = 1024;
    }
    int mvx = 0, mvy = 0;   // half pixels
    if (type & MB_FORWARD) {
        if (!_DecodeMotionComponent(self, b, &self->motionPredictorX)) return DECODE_DAMAGED;
        if (!_DecodeMotionComponent(self, b, &self->motionPredictorY)) return DECODE_DAMAGED;
        mvx = self->motionPredictorX;
        mvy = self->motionPredictorY;
        if (self->fullPelForward) {
            mvx *= 2;
            mvy *= 2;
        }
    } else if (!intra) {
        self->motionPredictorX = self->motionPredictorY = 0;
    }
    int pattern = intra ? 63 : 0;
    if (type & MB_PATTERN) {
        pattern = _ReadVlc(b, kCodedBlockPatternVlc);
        if (pattern < 0) return DECODE_DAMAGED;
    }
    if (b->overrun) return DECODE_TRUNCATED;

    if (!intra) {
        const plm_frame_t *ref = self->forward;
        plm_frame_t *cur = self->current;
        _Predict(ref->y.data, cur->y.data, self->lumaStride, self->lumaRows, mbx * 16, mby * 16, 16, mvx, mvy);
        // Chroma vectors: the luma vector halved, truncating toward zero.
        int cvx = mvx / 2, cvy = mvy / 2;
        _Predict(ref->cb.data, cur->cb.data, self->chromaStride, self->chromaRows, mbx * 8, mby * 8, 8, cvx, cvy);
        _Predict(ref->cr.data, cur->cr.data, self->chromaStride, self->chromaRows, mbx * 8, mby * 8, 8, cvx, cvy);
        self->macroblockWritten[address] = 1;
    } else if (self->pictureType == PICTURE_TYPE_P && !self->macroblockWritten[address]) {
        // Blocks of an intra macroblock that are not reached (damaged data)
        // keep showing the reference.
        _CopyMacroblock(self, mbx, mby);
        self->macroblockWritten[address] = 1;
    }

    for (int i = 0; i < 6; i++) {
        if (!(pattern & (32 >> i))) continue;
        bool acCoded;
        int last;
        bool good = _DecodeBlock(self, b, i, intra, &acCoded, &last);
        if (!good || b->overrun) {
            _ClearBlock(self->block);
            return good ? DECODE_TRUNCATED : DECODE_DAMAGED;
        }
        int stride;
        uint8_t *dst = _BlockTarget(self, mbx, mby, i, &stride);
        if (acCoded) {
            // Scan positions 0 to 9 are the frequencies 0 to 3 each way.
            bool low = last <= 9;
            if (intra) {
                MPEG_IdctPut(self->block, dst, stride, low);
            } else {
                MPEG_IdctAdd(self->block, dst, stride, low);
            }
            _ClearBlock(self->block);
        } else {
            // The transform of a lone DC term is flat: (DC + 4) >> 3, the
            // same as the full transform gives.
            int value = (self->block[0] + 4) >> 3;
            self->block[0] = 0;
            for (int y = 0; y < 8; y++, dst += stride) {
                if (intra) {
                    memset(dst, _Clamp255(value), 8);
                } else {
                    for (int x = 0; x < 8; x++) dst[x] = _Clamp255(dst[x] + value);
                }
            }
        }
    }
    return DECODE_OK;
}

// A slice ends where the next 23 bits are zero (the prefix of the next start
// code, after zero stuffing), or where the buffered data ends in zero bits:
// a picture whose slices are all buffered decodes before the next start code
// has arrived.
static bool _SliceEnds(const BitCursor *b) {
    uint32_t left = _BitsLeft(b);
    uint32_t n = left < 23 ? left : 23;
    return n == 0 || _PeekBits(b, n) == 0;
}

// The slice is read through a cursor, whose read state goes back to the
// buffer on every way out.
// ISO/IEC 11172-2, 2.4.2.6: slice layer.
static DecodeResult _DecodeSlice(plm_video_t *self, int row) {
    BitCursor cursor(self->buffer);
    BitCursor *b = &cursor;
    struct WriteBack {
        const BitCursor &cursor;
        plm_buffer_t *buffer;
        ~WriteBack() { cursor.storeTo(buffer); }
    } writeBack{cursor, self->buffer};
    if (row > self->mbHeight) return DECODE_DAMAGED;
    int q = (int)_ReadBits(b, 5);
    while (_ReadBit(b) && !b->overrun) _SkipBits(b, 8);   // extra information
    if (b->overrun) return DECODE_TRUNCATED;
    if (q == 0) return DECODE_DAMAGED;
    _SetQuantizerScale(self, q);
    self->dcPredictor[0] = self->dcPredictor[1] = self->dcPredictor[2] = 1024;
    self->motionPredictorX = self->motionPredictorY = 0;

    int address = (row - 1) * self->mbWidth - 1;
    bool first = true;
    do {
        int increment = 0;
        for (;;) {
            int code = _ReadVlc(b, kAddressIncrementVlc);
            if (code < 0 || b->overrun) return b->overrun ? DECODE_TRUNCATED : DECODE_DAMAGED;
            if (code == kIncrementStuffing) continue;
            if (code == kIncrementEscape) {
                increment += 33;
                if (increment > self->mbCount) return DECODE_DAMAGED;
                continue;
            }
            increment += code;
            break;
        }
        if (!first && increment > 1) {
            // Skipped macroblocks: in a P picture they repeat the reference
            // (already in place, see _DecodePicture) and reset the predictors.
            self->dcPredictor[0] = self->dcPredictor[1] = self->dcPredictor[2] = 1024;
            self->motionPredictorX = self->motionPredictorY = 0;
        }
        first = false;
        address += increment;
        if (address >= self->mbCount) return DECODE_DAMAGED;

        int type = self->pictureType == PICTURE_TYPE_I ? _ReadVlc(b, kIntraTypeVlc) : _ReadVlc(b, kPredictedTypeVlc);
        if (b->overrun) return DECODE_TRUNCATED;
        if (type < 0) return DECODE_DAMAGED;
        DecodeResult r = _DecodeMacroblock(self, b, address, type);
        if (b->overrun) return DECODE_TRUNCATED;
        if (r != DECODE_OK) return r;
        self->lastMacroblock = address;
    } while (!_SliceEnds(b));
    return DECODE_OK;
}

// Skips the slices of a picture that is not reconstructed, stopping before
// the next start code of another kind or at the end of the buffered data.
static void _SkipPictureData(plm_buffer_t *b) {
    for (;;) {
        int code = _NextStartCode(b);
        if (code < 0) return;
        bool inPicture = (code >= START_SLICE_FIRST && code <= START_SLICE_LAST) || code == START_USER_DATA ||
                         code == START_EXTENSION;
        if (!inPicture) {
            b->bitIndex -= 32;
            return;
        }
    }
}

// PICTURE_PARTIAL: the picture's data is only partly buffered.
enum PictureResult { PICTURE_REFERENCE, PICTURE_SKIPPED, PICTURE_PARTIAL };

// Decodes a picture (the read position just after its start code).
// ISO/IEC 11172-2, 2.4.2.5: picture layer.
static PictureResult _DecodePicture(plm_video_t *self) {
    plm_buffer_t *b = self->buffer;
    _SkipBits(b, 10);   // temporal reference
    int type = (int)_ReadBits(b, 3);
    _SkipBits(b, 16);   // buffer delay
    bool fullPel = false;
    int fCode = 0;
    if (type == 2 || type == 3) {
        fullPel = _ReadBit(b) != 0;
        fCode = (int)_ReadBits(b, 3);
    }
    if (type == 3) _SkipBits(b, 4);   // backward vector fields
    while (_ReadBit(b) && !b->overrun) _SkipBits(b, 8);   // extra information
    if (b->overrun) return PICTURE_PARTIAL;

    bool reconstruct = type == PICTURE_TYPE_I || (type == PICTURE_TYPE_P && self->hasReference && fCode != 0);
    if (!reconstruct) {
        // B and D pictures, P pictures without a reference to predict from,
        // and pictures of no known type are consumed without being decoded.
        _SkipPictureData(b);
        return PICTURE_SKIPPED;
    }
    self->pictureType = type;
    self->fullPelForward = fullPel;
    self->forwardFCode = fCode;
    if (type == PICTURE_TYPE_P) memset(self->macroblockWritten, 0, (size_t)self->mbCount);

    self->lastMacroblock = -1;
    for (;;) {
        int code = _NextStartCode(b);
        if (code < 0) {
            // The buffered data ends here, before the next start code has
            // arrived. The slices cover the picture, so it is complete when
            // its last macroblock was decoded; otherwise it was cut at a
            // slice boundary and more slices are to come.
            if (self->lastMacroblock != self->mbCount - 1) return PICTURE_PARTIAL;
            break;
        }
        if (code == START_USER_DATA || code == START_EXTENSION) continue;
        if (code < START_SLICE_FIRST || code > START_SLICE_LAST) {
            b->bitIndex -= 32;   // leave the next start code for the next call
            break;
        }
        if (_DecodeSlice(self, code) == DECODE_TRUNCATED) return PICTURE_PARTIAL;
        // A damaged slice is abandoned; decoding resumes at the next start code.
    }
    if (type == PICTURE_TYPE_P) {
        // Every macroblock that no slice wrote (skipped ones included) shows
        // the reference at the same place.
        for (int address = 0; address < self->mbCount; address++) {
            if (!self->macroblockWritten[address]) {
                _CopyMacroblock(self, address % self->mbWidth, address / self->mbWidth);
            }
        }
    }
    return PICTURE_REFERENCE;
}

plm_frame_t *plm_video_decode(plm_video_t *self) {
    plm_buffer_t *b = self->buffer;
    b->overrun = false;
    for (;;) {
        int code = _NextStartCode(b);
        if (code < 0) {
            // No further picture: keep what is buffered and read it again
            // from the checkpoint when more data has arrived.
            b->bitIndex = b->checkpointBitIndex;
            return nullptr;
        }
        if (code == START_SEQUENCE) {
            if (_DecodeSequenceHeader(self) == HEADER_INCOMPLETE) {
                b->bitIndex = b->checkpointBitIndex;
                b->overrun = false;
                return nullptr;
            }
            continue;
        }
        if (code != START_PICTURE || !self->hasHeader) continue;

        PictureResult r = _DecodePicture(self);
        if (r == PICTURE_PARTIAL) {
            // Decoded from what is there, but not shown: no half-decoded rows
            // reach the screen; the last complete reference picture is shown
            // again. The read position goes back to the checkpoint and what
            // is buffered stays, so that the picture decodes whole once the
            // rest of it has arrived.
            b->bitIndex = b->checkpointBitIndex;
            b->overrun = false;
            return self->hasReference ? self->forward : nullptr;
        }
        plm_buffer_checkpoint(b);
        if (r == PICTURE_REFERENCE) {
            plm_frame_t *done = self->current;
            self->current = self->forward;
            self->forward = done;
            self->hasReference = true;
        }
        return self->hasReference ? self->forward : nullptr;
    }
}
