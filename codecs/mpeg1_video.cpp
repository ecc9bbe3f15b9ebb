// MPEG-1 video decoding. The bitstream is read through one bounded cursor
// over the stream buffer: reads past the buffered data yield zero bits and
// set an overrun flag, so a picture cut short is noticed without ever
// touching memory outside the buffer. Variable-length codes are decoded by
// walking binary trees that are built from the code tables at compile time
// (a table with two codes sharing a prefix does not compile).
#include "codecs/mpeg1_video.h"

#include <cstring>

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

static inline uint32_t _BitsLeft(const plm_buffer_t *b) { return b->length * 8 - b->bitIndex; }

// Up to 24 bits from the read position; bits past the data read as 0.
static inline uint32_t _PeekBits(const plm_buffer_t *b, uint32_t count) {
    if (count == 0) return 0;
    uint32_t byte = b->bitIndex >> 3;
    uint32_t acc = 0;
    for (uint32_t i = 0; i < 4; i++) {
        acc <<= 8;
        if (byte + i < b->length) acc |= b->bytes[byte + i];
    }
    return (acc << (b->bitIndex & 7)) >> (32 - count);
}

static inline void _SkipBits(plm_buffer_t *b, uint32_t count) {
    if (count > _BitsLeft(b)) {
        b->overrun = true;
        b->bitIndex = b->length * 8;
    } else {
        b->bitIndex += count;
    }
}

static inline uint32_t _ReadBits(plm_buffer_t *b, uint32_t count) {
    uint32_t v = _PeekBits(b, count);
    _SkipBits(b, count);
    return v;
}

static inline uint32_t _ReadBit(plm_buffer_t *b) { return _ReadBits(b, 1); }

// Finds the next start code (00 00 01 xx) at or after the read position,
// byte aligned, and leaves the read position after it. Returns xx, or -1
// when none is buffered; the read position is then left before the last
// three bytes, which may be the beginning of a start code still to come.
static int _NextStartCode(plm_buffer_t *b) {
    uint32_t i = (b->bitIndex + 7) >> 3;
    while (i + 3 < b->length) {
        if (b->bytes[i] == 0 && b->bytes[i + 1] == 0 && b->bytes[i + 2] == 1) {
            b->bitIndex = (i + 4) * 8;
            return b->bytes[i + 3];
        }
        i++;
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

template <size_t Nodes, size_t N>
constexpr VlcTree<Nodes> _BuildVlc(const VlcCode (&codes)[N]) {
    VlcTree<Nodes> tree{};
    size_t used = 1;
    for (const VlcCode &code : codes) {
        int length = 0;
        for (const char *p = code.bits; *p; p++) length += *p != ' ';
        int seen = 0;
        size_t node = 0;
        for (const char *p = code.bits; *p; p++) {
            if (*p == ' ') continue;
            int bit = *p == '1' ? 1 : *p == '0' ? 0 : throw "code digit other than 0 or 1";
            int16_t &slot = tree.child[node][bit];
            if (++seen == length) {
                if (slot != 0) throw "code is a prefix of another code";
                slot = (int16_t)(-(code.value + 1));
            } else {
                if (slot < 0) throw "code begins with another code";
                if (slot == 0) {
                    if (used >= Nodes) throw "tree too small";
                    slot = (int16_t)used++;
                }
                node = (size_t)slot;
            }
        }
    }
    return tree;
}

// Returns the value of the next code, or -1 when the bits form no code.
template <size_t Nodes>
static inline int _ReadVlc(plm_buffer_t *b, const VlcTree<Nodes> &tree) {
    int node = 0;
    for (;;) {
        int16_t next = tree.child[node][_ReadBit(b)];
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

static constexpr VlcCode kIntraTypeCodes[] = {{"1", MB_INTRA}, {"01", MB_QUANT | MB_INTRA}};

static constexpr VlcCode kPredictedTypeCodes[] = {
    {"1", MB_FORWARD | MB_PATTERN},
    {"01", MB_PATTERN},
    {"001", MB_FORWARD},
    {"00011", MB_INTRA},
    {"00010", MB_QUANT | MB_FORWARD | MB_PATTERN},
    {"00001", MB_QUANT | MB_PATTERN},
    {"000001", MB_QUANT | MB_INTRA},
};

static constexpr VlcCode kLumaDcSizeCodes[] = {
    {"100", 0}, {"00", 1}, {"01", 2}, {"101", 3}, {"110", 4}, {"1110", 5}, {"11110", 6}, {"111110", 7}, {"1111110", 8},
};

static constexpr VlcCode kChromaDcSizeCodes[] = {
    {"00", 0}, {"01", 1}, {"10", 2}, {"110", 3}, {"1110", 4}, {"11110", 5}, {"111110", 6}, {"1111110", 7},
    {"11111110", 8},
};

static constexpr VlcCode kAddressIncrementCodes[] = {
    {"1", 1}, {"011", 2}, {"010", 3}, {"0011", 4}, {"0010", 5}, {"00011", 6}, {"00010", 7}, {"0000111", 8},
    {"0000110", 9}, {"00001011", 10}, {"00001010", 11}, {"00001001", 12}, {"00001000", 13}, {"00000111", 14},
    {"00000110", 15}, {"0000010111", 16}, {"0000010110", 17}, {"0000010101", 18}, {"0000010100", 19},
    {"0000010011", 20}, {"0000010010", 21}, {"00000100011", 22}, {"00000100010", 23}, {"00000100001", 24},
    {"00000100000", 25}, {"00000011111", 26}, {"00000011110", 27}, {"00000011101", 28}, {"00000011100", 29},
    {"00000011011", 30}, {"00000011010", 31}, {"00000011001", 32}, {"00000011000", 33},
    {"00000001000", kIncrementEscape}, {"00000001111", kIncrementStuffing},
};

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

static constexpr VlcCode kMotionCodes[] = {
    {"1", 0}, {"01", 1}, {"001", 2}, {"0001", 3}, {"000011", 4}, {"0000101", 5}, {"0000100", 6}, {"0000011", 7},
    {"000001011", 8}, {"000001010", 9}, {"000001001", 10}, {"0000010001", 11}, {"0000010000", 12}, {"0000001111", 13},
    {"0000001110", 14}, {"0000001101", 15}, {"0000001100", 16},
};

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

static constexpr int32_t kIdctCos[8][8] = {
    {11585, 16069, 15137, 13623, 11585, 9102, 6270, 3196},
    {11585, 13623, 6270, -3196, -11585, -16069, -15137, -9102},
    {11585, 9102, -6270, -16069, -11585, 3196, 15137, 13623},
    {11585, 3196, -15137, -9102, 11585, 13623, -6270, -16069},
    {11585, -3196, -15137, 9102, 11585, -13623, -6270, 16069},
    {11585, -9102, -6270, 16069, -11585, -3196, 15137, -13623},
    {11585, -13623, 6270, 3196, -11585, 16069, -15137, 9102},
    {11585, -16069, 15137, -13623, 11585, -9102, 6270, -3196},
};

static constexpr auto kAddressIncrementTree = _BuildVlc<48>(kAddressIncrementCodes);
static constexpr auto kCodedBlockPatternTree = _BuildVlc<80>(kCodedBlockPatternCodes);
static constexpr auto kMotionTree = _BuildVlc<24>(kMotionCodes);
static constexpr auto kCoeffTree = _BuildVlc<160>(kCoeffCodes);
static constexpr auto kIntraTypeTree = _BuildVlc<4>(kIntraTypeCodes);
static constexpr auto kPredictedTypeTree = _BuildVlc<8>(kPredictedTypeCodes);
static constexpr auto kLumaDcSizeTree = _BuildVlc<12>(kLumaDcSizeCodes);
static constexpr auto kChromaDcSizeTree = _BuildVlc<12>(kChromaDcSizeCodes);

// Scan position -> natural (row-major) position in the 8 x 8 block.
static constexpr uint8_t kZigZag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

// Natural order.
static constexpr uint8_t kDefaultIntraMatrix[64] = {
    8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37, 19, 22, 26, 27, 29, 34,
    34, 38, 22, 22, 26, 27, 29, 34, 37, 40, 22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32,
    35, 40, 48, 58, 26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83,
};

// ---------------------------------------------------------- inverse DCT

void plm_video_idct(int32_t block[64]) {
    bool acZero = true;
    for (int i = 1; i < 64 && acZero; i++) acZero = block[i] == 0;
    if (acZero) {
        // The DC term alone gives a flat block of DC / 8, rounded.
        int32_t v = (int32_t)(((int64_t)block[0] + 4) >> 3);
        for (int i = 0; i < 64; i++) block[i] = v;
        return;
    }
    int64_t rows[64];
    for (int v = 0; v < 8; v++) {
        const int32_t *in = block + v * 8;
        int64_t *out = rows + v * 8;
        if (!(in[0] | in[1] | in[2] | in[3] | in[4] | in[5] | in[6] | in[7])) {
            for (int x = 0; x < 8; x++) out[x] = 0;
            continue;
        }
        for (int x = 0; x < 8; x++) {
            int64_t s = 0;
            for (int u = 0; u < 8; u++) s += (int64_t)kIdctCos[x][u] * in[u];
            out[x] = s;
        }
    }
    for (int x = 0; x < 8; x++) {
        for (int y = 0; y < 8; y++) {
            int64_t s = 0;
            for (int v = 0; v < 8; v++) s += (int64_t)kIdctCos[y][v] * rows[v * 8 + x];
            // Both passes carry 15 fractional bits: round once, at the end.
            block[y * 8 + x] = (int32_t)((s + ((int64_t)1 << 29)) >> 30);
        }
    }
}

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
    int dcPredictor[3];                   // Y, Cb, Cr
    int motionPredictorX, motionPredictorY;
    int32_t block[64];
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

static void _ReadMatrix(plm_buffer_t *b, uint8_t matrix[64]) {
    for (int i = 0; i < 64; i++) matrix[kZigZag[i]] = (uint8_t)_ReadBits(b, 8);
}

enum HeaderResult { HEADER_ACCEPTED, HEADER_REFUSED, HEADER_INCOMPLETE };

// Reads a sequence header (the read position just after its start code).
// The header is taken as soon as all of its bytes are buffered: 8 bytes of
// fields, plus 64 for each matrix it loads.
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
    memcpy(self->nonIntraMatrix, nonIntra, 64);
    return HEADER_ACCEPTED;
}

static inline uint8_t _Clamp255(int32_t v) { return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v); }

// Copies a size x size prediction from the reference plane at a half-pel
// vector. Vectors that reach outside the plane cannot occur in a valid
// stream; for them the plane's edge samples are repeated.
static void _Predict(const uint8_t *ref, uint8_t *dst, int stride, int rows, int bx, int by, int size, int mvx,
                     int mvy) {
    int sx = bx + (mvx >> 1);
    int sy = by + (mvy >> 1);
    int hx = mvx & 1;
    int hy = mvy & 1;
    uint8_t *out = dst + by * stride + bx;
    if (sx >= 0 && sy >= 0 && sx + size + hx <= stride && sy + size + hy <= rows) {
        const uint8_t *a = ref + sy * stride + sx;
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
static bool _DecodeMotionComponent(plm_video_t *self, int *predictor) {
    plm_buffer_t *b = self->buffer;
    int code = _ReadVlc(b, kMotionTree);
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

// Reads one block's coefficients into self->block (natural order,
// dequantised). Returns false when the data is malformed.
static bool _DecodeBlock(plm_video_t *self, int index, bool intra) {
    plm_buffer_t *b = self->buffer;
    int32_t *block = self->block;
    const uint8_t *matrix;
    int n = 0;
    if (intra) {
        int component = index < 4 ? 0 : index - 3;
        int size = _ReadVlc(b, component == 0 ? kLumaDcSizeTree : kChromaDcSizeTree);
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
        block[0] = dc;
        n = 1;
        matrix = self->intraMatrix;
    } else {
        matrix = self->nonIntraMatrix;
    }
    int quant = self->quantizerScale;
    for (;;) {
        int run, level;
        if (!intra && n == 0 && _PeekBits(b, 1) == 1) {
            // The first coefficient of a non-intra block: "1 s" is run 0,
            // level 1 (end of block cannot come first).
            _SkipBits(b, 1);
            run = 0;
            level = _ReadBit(b) ? -1 : 1;
        } else {
            int code = _ReadVlc(b, kCoeffTree);
            if (code < 0) return false;
            if (code == kCoeffEndOfBlock) break;
            if (code == kCoeffEscape) {
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
                run = code >> 6;
                level = code & 63;
                if (_ReadBit(b)) level = -level;
            }
        }
        n += run;
        if (n > 63) return false;
        int pos = kZigZag[n++];
        int c;
        if (intra) {
            c = (2 * level * quant * matrix[pos]) / 16;
        } else {
            int sign = level > 0 ? 1 : level < 0 ? -1 : 0;
            c = ((2 * level + sign) * quant * matrix[pos]) / 16;
        }
        // Mismatch control: reconstructed coefficients are made odd.
        if ((c & 1) == 0 && c != 0) c -= c > 0 ? 1 : -1;
        block[pos] = c < -2048 ? -2048 : c > 2047 ? 2047 : c;
        if (b->overrun) return true;   // the caller reports the cut
    }
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

static DecodeResult _DecodeMacroblock(plm_video_t *self, int address, int type) {
    plm_buffer_t *b = self->buffer;
    int mbx = address % self->mbWidth;
    int mby = address / self->mbWidth;
    bool intra = (type & MB_INTRA) != 0;

    if (type & MB_QUANT) {
        int q = (int)_ReadBits(b, 5);
        if (q == 0) return DECODE_DAMAGED;
        self->quantizerScale = q;
    }
    if (intra) {
        self->motionPredictorX = self->motionPredictorY = 0;
    } else {
        self->dcPredictor[0] = self->dcPredictor[1] = self->dcPredictor[2] = 1024;
    }
    int mvx = 0, mvy = 0;   // half pixels
    if (type & MB_FORWARD) {
        if (!_DecodeMotionComponent(self, &self->motionPredictorX)) return DECODE_DAMAGED;
        if (!_DecodeMotionComponent(self, &self->motionPredictorY)) return DECODE_DAMAGED;
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
        pattern = _ReadVlc(b, kCodedBlockPatternTree);
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
    }

    for (int i = 0; i < 6; i++) {
        if (!(pattern & (32 >> i))) continue;
        memset(self->block, 0, sizeof self->block);
        if (!_DecodeBlock(self, i, intra)) return DECODE_DAMAGED;
        if (b->overrun) return DECODE_TRUNCATED;
        plm_video_idct(self->block);
        int stride;
        uint8_t *dst = _BlockTarget(self, mbx, mby, i, &stride);
        const int32_t *s = self->block;
        for (int y = 0; y < 8; y++, dst += stride, s += 8) {
            if (intra) {
                for (int x = 0; x < 8; x++) dst[x] = _Clamp255(s[x]);
            } else {
                for (int x = 0; x < 8; x++) dst[x] = _Clamp255(dst[x] + s[x]);
            }
        }
    }
    return DECODE_OK;
}

// A slice ends where the next 23 bits are zero (the prefix of the next start
// code, after zero stuffing), or where the buffered data ends in zero bits:
// a picture whose slices are all buffered decodes before the next start code
// has arrived.
static bool _SliceEnds(const plm_buffer_t *b) {
    uint32_t left = _BitsLeft(b);
    uint32_t n = left < 23 ? left : 23;
    return n == 0 || _PeekBits(b, n) == 0;
}

static DecodeResult _DecodeSlice(plm_video_t *self, int row) {
    plm_buffer_t *b = self->buffer;
    if (row > self->mbHeight) return DECODE_DAMAGED;
    int q = (int)_ReadBits(b, 5);
    while (_ReadBit(b) && !b->overrun) _SkipBits(b, 8);   // extra information
    if (b->overrun) return DECODE_TRUNCATED;
    if (q == 0) return DECODE_DAMAGED;
    self->quantizerScale = q;
    self->dcPredictor[0] = self->dcPredictor[1] = self->dcPredictor[2] = 1024;
    self->motionPredictorX = self->motionPredictorY = 0;

    int address = (row - 1) * self->mbWidth - 1;
    bool first = true;
    do {
        int increment = 0;
        for (;;) {
            int code = _ReadVlc(b, kAddressIncrementTree);
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

        int type = self->pictureType == PICTURE_TYPE_I ? _ReadVlc(b, kIntraTypeTree) : _ReadVlc(b, kPredictedTypeTree);
        if (b->overrun) return DECODE_TRUNCATED;
        if (type < 0) return DECODE_DAMAGED;
        DecodeResult r = _DecodeMacroblock(self, address, type);
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
    if (type == PICTURE_TYPE_P) {
        // Every macroblock that no slice codes (skipped ones included) shows
        // the reference at the same place: start from a copy of it.
        uint32_t storeBytes = (uint32_t)(self->lumaStride * self->lumaRows) * 3 / 2;
        memcpy(self->current->y.data, self->forward->y.data, storeBytes);
    }

    self->lastMacroblock = -1;
    for (;;) {
        int code = _NextStartCode(b);
        if (code < 0) {
            // The buffered data ends here, before the next start code has
            // arrived. The slices cover the picture, so it is complete when
            // its last macroblock was decoded; otherwise it was cut at a
            // slice boundary and more slices are to come.
            return self->lastMacroblock == self->mbCount - 1 ? PICTURE_REFERENCE : PICTURE_PARTIAL;
        }
        if (code == START_USER_DATA || code == START_EXTENSION) continue;
        if (code < START_SLICE_FIRST || code > START_SLICE_LAST) {
            b->bitIndex -= 32;   // leave the next start code for the next call
            break;
        }
        if (_DecodeSlice(self, code) == DECODE_TRUNCATED) return PICTURE_PARTIAL;
        // A damaged slice is abandoned; decoding resumes at the next start code.
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
