// The table of every command. Each entry gives the fields in the order the
// text form writes them (which is wire order; the sub-fields of a byte
// follow the field that starts it) and how the device frames the command:
// how many bytes it needs before it can tell the command's length, and which
// refusals make it drop the rest of the record.
#include "tools/hostlib/command_table.h"

#include <unordered_map>

namespace nimbra {

size_t FieldSpec::valueCount() const {
    switch (type) {
    case FieldType::Number:
    case FieldType::Colour:
    case FieldType::Flag: return 1;
    case FieldType::Pair: return 2;
    default: return 0;
    }
}

const char *FieldSpec::nameOf(int64_t value) const {
    for (const NamedValue &n : names)
        if (n.value == value) return n.name;
    return nullptr;
}

namespace {

// ------------------------------------------------------------ field helpers

FieldSpec _Bits(FieldSpec f, uint8_t slotBytes, uint8_t shift, uint8_t bits) {
    f.slotBytes = slotBytes;
    f.shift = shift;
    f.bits = bits;
    const int width = bits ? bits : slotBytes * 8;
    if (f.isSigned) {
        f.min = -(int64_t(1) << (width - 1));
        f.max = (int64_t(1) << (width - 1)) - 1;
    } else {
        f.min = 0;
        f.max = (int64_t(1) << width) - 1;
    }
    return f;
}

FieldSpec _Number(const char *name, uint8_t bytes, bool isSigned, const char *unit, const char *help) {
    FieldSpec f{.name = name, .type = FieldType::Number, .isSigned = isSigned, .unit = unit, .help = help};
    return _Bits(f, bytes, 0, 0);
}

FieldSpec u8(const char *name, const char *help, const char *unit = "") { return _Number(name, 1, false, unit, help); }
FieldSpec u16(const char *name, const char *help, const char *unit = "") { return _Number(name, 2, false, unit, help); }
FieldSpec u32(const char *name, const char *help, const char *unit = "") { return _Number(name, 4, false, unit, help); }
FieldSpec s16(const char *name, const char *help, const char *unit = "") { return _Number(name, 2, true, unit, help); }

// An unsigned byte counting half pixels (pen width, corner radius).
FieldSpec halfPixels8(const char *name, const char *help) {
    FieldSpec f = _Number(name, 1, false, "pixels", help);
    f.halfUnits = true;
    return f;
}

FieldSpec pair(const char *name, bool isSigned, const char *unit, const char *help) {
    FieldSpec f{.name = name, .type = FieldType::Pair, .isSigned = isSigned, .halfUnits = true, .unit = unit,
                .help = help};
    f = _Bits(f, 3, 0, 12);
    return f;
}

FieldSpec colour(const char *name, const char *help) {
    FieldSpec f{.name = name, .type = FieldType::Colour, .unit = "#AARRGGBB or #RRGGBB", .help = help};
    return _Bits(f, 4, 0, 0);
}

// A bit range of a slot: `slotBytes` starts a new slot, 0 continues the last.
FieldSpec bitsNumber(const char *name, uint8_t slotBytes, uint8_t shift, uint8_t bits, const char *help) {
    FieldSpec f{.name = name, .type = FieldType::Number, .help = help};
    return _Bits(f, slotBytes, shift, bits);
}

FieldSpec flag(const char *name, uint8_t slotBytes, uint8_t bit, const char *help) {
    FieldSpec f{.name = name, .type = FieldType::Flag, .help = help};
    return _Bits(f, slotBytes, bit, 1);
}

FieldSpec constant(const char *name, int64_t value) {
    FieldSpec f{.name = name, .type = FieldType::Constant};
    f = _Bits(f, 1, 0, 0);
    f.min = f.max = value;
    return f;
}

FieldSpec count(const char *name, uint8_t slotBytes, uint8_t shift = 0, uint8_t bits = 0) {
    FieldSpec f{.name = name, .type = FieldType::Count, .help = "counted from what follows"};
    return _Bits(f, slotBytes, shift, bits);
}

FieldSpec text(const char *help) {
    return FieldSpec{.name = "text", .type = FieldType::Text, .slotBytes = 0, .unit = "UTF-8 in double quotes",
                     .help = help};
}

FieldSpec data(const char *name, DataKind kind, const char *help) {
    return FieldSpec{.name = name, .type = FieldType::Data, .slotBytes = 0, .unit = "bytes in hexadecimal",
                     .help = help, .dataKind = kind};
}

FieldSpec points(const char *help) {
    return FieldSpec{.name = "x y ...", .type = FieldType::Points, .slotBytes = 0, .isSigned = true,
                     .halfUnits = true, .min = -2048, .max = 2047, .unit = "pixels", .help = help,
                     .elementBytes = 3};
}

FieldSpec named(FieldSpec f, std::vector<NamedValue> names) {
    f.names = std::move(names);
    return f;
}

FieldSpec optional(FieldSpec f, int64_t value) {
    f.defaultValue = value;
    return f;
}

FieldSpec ranged(FieldSpec f, int64_t min, int64_t max) {
    f.min = min;
    f.max = max;
    return f;
}

uint16_t _Rd16(const uint8_t *p) { return (uint16_t)(p[0] | (p[1] << 8)); }
uint32_t _Rd32(const uint8_t *p) { return (uint32_t)_Rd16(p) | ((uint32_t)_Rd16(p + 2) << 16); }

// ------------------------------------------------ refusals that stop a record

std::optional<Refusal> _TextRefusal(const uint8_t *c, size_t length, size_t remaining) {
    if (c[6] == 0 || c[6] > 128) return Refusal{"text length " + std::to_string(c[6]) + " is not 1 to 128"};
    if (length > remaining) return Refusal{"its text passes the end of the record"};
    return std::nullopt;
}

std::optional<Refusal> _LogoRefusal(const uint8_t *c, size_t, size_t) {
    if (c[6] > 128) return Refusal{"caption length " + std::to_string(c[6]) + " is over 128", 0x01, -1};
    return std::nullopt;
}

std::optional<Refusal> _ZlibRefusal(const uint8_t *c, size_t, size_t) {
    if (_Rd16(c + 2) == 0) return Refusal{"a block of 0 bytes", 0x01, 0xFF};
    return std::nullopt;
}

std::optional<Refusal> _VideoUploadRefusal(const uint8_t *c, size_t length, size_t remaining) {
    // The device also drops the stream data appended since the last picture.
    if (_Rd16(c + 2) == 0) return Refusal{"a chunk of 0 bytes"};
    if (length > remaining) return Refusal{"its data passes the end of the record"};
    return std::nullopt;
}

// The chunk header checks of both uploads; the report names the slot.
std::optional<Refusal> _UploadRefusal(const uint8_t *c, size_t remaining, bool isFont) {
    const unsigned slot = c[1], offset = _Rd16(c + 2), total = _Rd16(c + 4), n = _Rd16(c + 6), format = c[8];
    const unsigned firstSlot = isFont ? 3 : 0, lastSlot = isFont ? 14 : 31;
    const unsigned maxOffset = isFont ? 32766 : 16382, maxTotal = isFont ? 32752 : 16368;
    std::string why;
    if (slot < firstSlot || slot > lastSlot)
        why = "slot " + std::to_string(slot) + " is not " + std::to_string(firstSlot) + " to " + std::to_string(lastSlot);
    else if (offset > maxOffset)
        why = "offset " + std::to_string(offset) + " is over " + std::to_string(maxOffset);
    else if (total > maxTotal)
        why = "total " + std::to_string(total) + " is over " + std::to_string(maxTotal);
    else if (total < 4)
        why = "total " + std::to_string(total) + " cannot hold the CRC";
    else if (n < 1)
        why = "a chunk of 0 bytes";
    else if (n > remaining - 9)
        why = "its data passes the end of the record";
    else if (offset + n > total)
        why = "the chunk ends past the total";
    else if (!isFont && format != 1 && format != 2)
        why = "image format " + std::to_string(format) + " is not png or jpeg";
    if (why.empty()) return std::nullopt;
    return Refusal{why, 0x01, (int)slot};
}

std::optional<Refusal> _ImageUploadRefusal(const uint8_t *c, size_t, size_t remaining) {
    return _UploadRefusal(c, remaining, false);
}
std::optional<Refusal> _FontUploadRefusal(const uint8_t *c, size_t, size_t remaining) {
    return _UploadRefusal(c, remaining, true);
}

// The checks that need nothing but the chunk; a counter lower than the last
// one and a gap in the message depend on what came before.
std::optional<Refusal> _HandshakeRefusal(const uint8_t *c, size_t length, size_t remaining) {
    const uint32_t counter = _Rd32(c + 1);
    const unsigned offset = _Rd16(c + 5), n = _Rd16(c + 7), total = _Rd16(c + 9);
    if (n == 0 || total == 0 || total <= offset) return Refusal{"offset, length or total out of order"};
    if (length > remaining) return Refusal{"its data passes the end of the record"};
    if (n > total || total > 1024) return Refusal{"length or total over the message size"};
    if (counter == 0) return Refusal{"counter 0", 0xE1, 0};
    return std::nullopt;
}

std::optional<Refusal> _EnableRefusal(const uint8_t *c, size_t, size_t) {
    if (c[2] > 2) return Refusal{"state " + std::to_string(c[2]) + " is not 0 to 2"};
    return std::nullopt;
}

// ----------------------------------------------------------------- the table

const char *const kPx = "pixels";
const char *const kDeg = "degrees";

std::vector<CommandSpec> _BuildTable() {
    const std::vector<NamedValue> logoKinds = {
        {1, "boot"}, {2, "link-lost"}, {3, "shutdown"}, {4, "pairing"}, {5, "battery-low"}};
    return {
        {.opcode = 0x02, .name = "copy",
         .summary = "Shows the frame: the whole screen goes out as one frame, and the reply echoes the identifier. "
                    "The rectangle is checked but does not limit the output.",
         .fields = {[] {
                        FieldSpec f = u8("id", "frame identifier; left out, the last one plus 1 (from 1)");
                        f.autoNumber = true;
                        return f;
                    }(),
                    optional(pair("x y", true, kPx, "rectangle position, rounded down"), 0),
                    optional(pair("w h", false, kPx, "rectangle size, rounded down"), 0)},
         .example = "copy 1",
         .minBytes = 8},
        {.opcode = 0x03, .name = "clear",
         .summary = "Fills a rectangle with black, corners included; 640 x 400 clears the whole screen. "
                    "The colour is kept.",
         .fields = {pair("x y", true, kPx, "top-left corner"), pair("w h", false, kPx, "size")},
         .example = "clear 0 0 640 400",
         .minBytes = 7},
        {.opcode = 0x04, .name = "load-image",
         .summary = "One chunk of an image upload (the file followed by its CRC-32) into an image slot. "
                    "Slot 0 is decoded into memory for sprites.",
         .fields = {u8("slot", "image slot, 0 to 31"), u16("offset", "where the chunk goes in the data", "bytes"),
                    u16("total", "bytes of the file and its CRC-32", "bytes"), count("n", 2),
                    named(u8("format", "image format"), {{1, "png"}, {2, "jpeg"}}),
                    data("data", DataKind::UploadChunk, "the chunk")},
         .example = "load-image 5 0 6 png 01 02 B2 FA 9B DB",
         .minBytes = 10, .shortDetail = 0xFF, .refusal = _ImageUploadRefusal},
        {.opcode = 0x05, .name = "image",
         .summary = "Draws the image of a slot with its top-left corner at a position.",
         .fields = {u8("slot", "image slot, 0 to 31"), pair("x y", true, kPx, "top-left corner")},
         .example = "image 1 100 60",
         .minBytes = 5, .shortDetail = 0xFF},
        {.opcode = 0x06, .name = "load-font",
         .summary = "One chunk of a font upload (the SIF file, or its zlib stream, followed by its CRC-32) into a "
                    "font slot.",
         .fields = {u8("slot", "font slot, 3 to 14"), u16("offset", "where the chunk goes in the data", "bytes"),
                    u16("total", "bytes of the file and its CRC-32", "bytes"), count("n", 2),
                    named(u8("format", "bits per pixel; -zlib: the file is a zlib stream"),
                          {{1, "4bpp"}, {2, "2bpp"}, {0x21, "4bpp-zlib"}, {0x22, "2bpp-zlib"}}),
                    data("data", DataKind::UploadChunk, "the chunk")},
         .example = "load-font 3 0 6 2bpp 01 02 B2 FA 9B DB",
         .minBytes = 10, .shortDetail = 0xFF, .refusal = _FontUploadRefusal},
        {.opcode = 0x07, .name = "logo",
         .summary = "Shows a system screen at once: black, a built-in image centred on (320 + dx, 150 + dy), "
                    "the caption under it in white.",
         .fields = {named(u8("kind", "which screen"), logoKinds), s16("dx", "offset of the centre", kPx),
                    s16("dy", "offset of the centre", kPx), count("n", 1), text("caption, at most 128 bytes")},
         .example = "logo pairing 0 0 \"Pairing\"",
         .minBytes = 7, .reportsOverrun = false, .refusal = _LogoRefusal},
        {.opcode = 0x08, .name = "text",
         .summary = "Draws one line of text in a font slot; y is the top of the line.",
         .fields = {u8("font", "font slot, 0 to 14 (0, 1, 2: built in)"), pair("x y", true, kPx, "anchor"),
                    named(u8("align", "which end of the line x is"), {{0, "left"}, {1, "centre"}, {2, "right"}}),
                    count("n", 1), text("the text, 1 to 128 bytes")},
         .example = "text 1 320 20 centre \"Hello\"",
         .minBytes = 8, .refusal = _TextRefusal},
        {.opcode = 0x09, .name = "color",
         .summary = "Sets the drawing colour and its alpha.",
         .fields = {colour("colour", "colour and alpha")},
         .example = "color #FF8000",
         .minBytes = 5},
        {.opcode = 0x0A, .name = "zlib",
         .summary = "One block of a compressed command stream; the execute flag runs what was inflated so far.",
         .fields = {flag("execute", 1, 7, "run the inflated commands"),
                    flag("start", 0, 6, "the block starts a new stream"),
                    bitsNumber("sequence", 0, 0, 6, "block number, 0 to 63"), count("n", 2),
                    data("data", DataKind::CompressedBlock, "compressed bytes")},
         .example = "zlib execute start 0 78 DA E2 64 60 F8 FF 1F 00 00 00 FF FF",
         .minBytes = 5, .shortDetail = 0xFF, .refusal = _ZlibRefusal},
        {.opcode = 0x0B, .name = "pen",
         .summary = "Sets the pen width, the pen shape and the line style.",
         .fields = {halfPixels8("width", "pen width, 0.5 to 64"),
                    named(bitsNumber("shape", 1, 4, 4, "pen shape (round: round caps)"), {{0, "round"}, {1, "flat"}}),
                    named(bitsNumber("style", 0, 0, 4, "line style"),
                          {{0, "solid"}, {1, "dash"}, {2, "dot"}, {3, "dash-dot"}})},
         .example = "pen 2 round dash",
         .minBytes = 3},
        {.opcode = 0x0C, .name = "rect",
         .summary = "Draws a rectangle, optionally with rounded corners, as an outline or filled.",
         .fields = {pair("x y", true, kPx, "top-left corner"), pair("w h", false, kPx, "size"),
                    halfPixels8("radius", "corner radius, at most half the width and height"),
                    named(u8("fill", "outline or filled"), {{0, "outline"}, {1, "fill"}})},
         .example = "rect 10 10 100 50 8 fill",
         .minBytes = 9},
        {.opcode = 0x0D, .name = "path",
         .summary = "Draws an open line through 2 to 64 points, or a smooth spline through them.",
         .fields = {count("n", 1, 0, 7), flag("smooth", 0, 7, "a spline through the points"),
                    points("the points")},
         .example = "path smooth 10 10 50 40 90 10",
         .minBytes = 8},
        {.opcode = 0x0E, .name = "ellipse",
         .summary = "Draws a circle (equal radii) or an ellipse rotated by an angle, as an outline or filled.",
         .fields = {pair("x y", true, kPx, "centre"), pair("rx ry", false, kPx, "radii, at least 2"),
                    [] {
                        FieldSpec f = bitsNumber("angle", 2, 0, 15, "rotation, 0 to 360");
                        f.halfUnits = true;
                        f.unit = kDeg;
                        return f;
                    }(),
                    flag("fill", 0, 15, "filled")},
         .example = "ellipse 320 200 60 30 45 fill",
         .minBytes = 9},
        {.opcode = 0x0F, .name = "line",
         .summary = "Draws a line with the current pen.",
         .fields = {pair("x0 y0", true, kPx, "start"), pair("x1 y1", true, kPx, "end")},
         .example = "line 10 20 300.5 40",
         .minBytes = 7},
        {.opcode = 0x10, .name = "arc",
         .summary = "Draws a circular arc from angle a0 to angle a1 (equal radii only).",
         .fields = {pair("x y", true, kPx, "centre"), pair("rx ry", false, kPx, "radii"),
                    pair("a0 a1", false, kDeg, "start and end angles, 0 to 360")},
         .example = "arc 200 250 45 45 30 300",
         .minBytes = 10},
        {.opcode = 0x11, .name = "video-play",
         .summary = "Starts or stops the video decoder, or decodes the next picture and draws it at a position.",
         .fields = {named(u8("action", "what to do"), {{1, "start"}, {2, "stop"}, {3, "draw"}}),
                    optional(pair("x y", true, kPx, "top-left corner of the picture (draw)"), 0)},
         .example = "video-play draw 224 128",
         .minBytes = 5, .shortDetail = 0xFF},
        {.opcode = 0x12, .name = "polygon",
         .summary = "Draws a closed polygon of 3 to 63 points as an outline or filled (even-odd, or the simple "
                    "fill).",
         .fields = {count("n", 1, 0, 6), flag("simple", 0, 6, "the simple fill"), flag("fill", 0, 7, "filled"),
                    points("the points")},
         .example = "polygon fill 10 10 60 10 35 50",
         .minBytes = 11},
        {.opcode = 0x13, .name = "video-upload",
         .summary = "One chunk of MPEG-1 video stream; chunks of a group are numbered from 0 and the last one is "
                    "marked.",
         .fields = {flag("last", 1, 7, "the last chunk of its group"),
                    bitsNumber("chunk", 0, 0, 7, "chunk number in the group, 0 to 127"), count("n", 2),
                    data("data", DataKind::VideoChunk, "stream bytes")},
         .example = "video-upload last 0 00 00 01 B7",
         .minBytes = 5, .shortDetail = 0xFF, .refusal = _VideoUploadRefusal},
        {.opcode = 0x14, .name = "tick-rate",
         .summary = "Sets the tick rate (10 to 5000, or 65535 for off) and its second value.",
         .fields = {u16("rate", "tick rate"), optional(u16("value", "second value"), 0)},
         .example = "tick-rate 50",
         .minBytes = 5},
        {.opcode = 0x16, .name = "cache",
         .summary = "Asks for the state of one cache slot or of all, or clears slots.",
         .fields = {named(u8("request", "what to query or clear"),
                          {{0x00, "none"}, {0x01, "images"}, {0x02, "fonts"}, {0x10, "clear-none"},
                           {0x11, "clear-images"}, {0x12, "clear-fonts"}}),
                    named(u8("slot", "slot number, or all"), {{255, "all"}})},
         .example = "cache fonts all",
         .minBytes = 3},
        {.opcode = 0x17, .name = "system-info",
         .summary = "Asks for system information; counters, calibration and display need authentication.",
         .fields = {named(u8("kind", "which reply"),
                          {{1, "status"}, {2, "counters"}, {3, "calibration"}, {4, "display"}, {5, "short-status"}})},
         .example = "system-info status",
         .minBytes = 2},
        {.opcode = 0x18, .name = "clip",
         .summary = "Limits all later drawing to a rectangle.",
         .fields = {pair("x y", false, kPx, "top-left corner"), pair("w h", false, kPx, "size, at least 2")},
         .example = "clip 110 90 420 220",
         .minBytes = 7, .shortDetail = 0xFF},
        {.opcode = 0x19, .name = "sprite",
         .summary = "Draws a rectangle cut from the picture of image slot 0.",
         .fields = {u8("slot", "image slot, must be 0"), pair("x y", true, kPx, "where it is drawn"),
                    pair("sx sy", false, kPx, "its top-left corner in the picture"),
                    pair("w h", false, kPx, "its size, at least 2")},
         .example = "sprite 0 170 246 32 0 32 32",
         .minBytes = 11, .shortDetail = 0xFF},
        {.opcode = 0x1B, .name = "session",
         .summary = "Sets the offset of the centre of the logo screens (rounded down to whole pixels).",
         .fields = {pair("x y", true, kPx, "offset, within 320 and 200")},
         .example = "session -20 10",
         .minBytes = 4},
        {.opcode = 0x1C, .name = "ota-upload",
         .summary = "One chunk of a firmware image; acknowledged and not kept.",
         .fields = {u8("type", "image type, 1 or 2"), u8("block", "block number, 16384 bytes each"),
                    u16("offset", "where the chunk goes in the block", "bytes"),
                    u16("size", "block length", "bytes"), count("n", 2),
                    data("data", DataKind::FirmwareChunk, "the chunk")},
         .example = "ota-upload 1 0 0 16384 FF FF",
         .minBytes = 10},
        {.opcode = 0x1D, .name = "ota-start",
         .summary = "Announces a firmware image; the device refuses it as not supported.",
         .fields = {u8("type", "image type, 1 or 2"), u8("spare", "not used"),
                    u32("size", "image size, 32768 to 327680", "bytes")},
         .example = "ota-start 1 0 65536",
         .minBytes = 7},
        {.opcode = 0x1E, .name = "handshake",
         .summary = "One chunk of the signed authentication message.",
         .fields = {u32("counter", "must not go down, never 0"),
                    u16("offset", "where the chunk goes in the message", "bytes"), count("n", 2),
                    u16("total", "length of the message, at most 1024", "bytes"),
                    data("data", DataKind::HandshakeChunk, "the chunk")},
         .example = "handshake 1 0 2 6F 72",
         .minBytes = 12, .refusal = _HandshakeRefusal},
        {.opcode = 0x1F, .name = "enable",
         .summary = "Switches a device unit: the display (state and level), power (0: off), the output palette "
                    "(1: grey).",
         .fields = {named(u8("unit", "device unit"), {{10, "display"}, {11, "power"}, {19, "palette"}}),
                    named(u8("state", "new state"), {{0, "off"}, {1, "on"}, {2, "keep"}}),
                    u8("value", "display level or palette")},
         .example = "enable display on 150",
         .minBytes = 4, .refusal = _EnableRefusal},
        {.opcode = 0x30, .name = "connect",
         .summary = "The host link comes up: the device replies with its MTU and sets the tick rate to 90.",
         .fields = {constant("mode", 0)},
         .example = "connect",
         .minBytes = 2},
        {.opcode = 0x30, .name = "disconnect",
         .summary = "The host link goes down: black screen, display off, tick rate off.",
         .fields = {optional(ranged(u8("mode", "any value but 0"), 1, 255), 1)},
         .example = "disconnect",
         .minBytes = 2},
        {.opcode = 0x31, .name = "seek",
         .summary = "Frames are shown only once the stream has reached this position (0: always).",
         .fields = {u32("position", "stream position", "bytes")},
         .example = "seek 0",
         .minBytes = 5},
        {.opcode = 0x32, .name = "eof",
         .summary = "The end of the stream: the link goes down and the device stops after this record.",
         .fields = {optional(u8("spare", "not used"), 0)},
         .example = "eof",
         // It reads nothing past its opcode, so a lone 0x32 at the end of
         // a record still ends the stream (the dispatcher drops the record's
         // end, which was all there was).
         .minBytes = 2, .shortAction = "the device ends the stream all the same", .endsStream = true},
    };
}

}  // namespace

const std::vector<CommandSpec> &commandTable() {
    static const std::vector<CommandSpec> table = _BuildTable();
    return table;
}

const std::vector<const CommandSpec *> &commandsOf(uint8_t opcode) {
    static const auto byOpcode = [] {
        std::vector<std::vector<const CommandSpec *>> all(256);
        for (const CommandSpec &c : commandTable()) all[c.opcode].push_back(&c);
        return all;
    }();
    return byOpcode[opcode];
}

const CommandSpec *findCommand(std::string_view name) {
    static const auto byName = [] {
        std::unordered_map<std::string_view, const CommandSpec *> all;
        for (const CommandSpec &c : commandTable()) all[c.name] = &c;
        return all;
    }();
    auto it = byName.find(name);
    return it == byName.end() ? nullptr : it->second;
}

std::string opcodeName(uint8_t opcode) {
    std::string name;
    for (const CommandSpec *c : commandsOf(opcode)) name += (name.empty() ? "" : "/") + std::string(c->name);
    if (!name.empty()) return name;
    char text[8];
    snprintf(text, sizeof text, "0x%02X", opcode);
    return text;
}

}  // namespace nimbra
