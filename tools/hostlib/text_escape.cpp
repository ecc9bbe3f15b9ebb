#include "tools/hostlib/text_escape.h"

namespace nimbra {

static const char kHexDigits[] = "0123456789ABCDEF";

void appendHexBytes(std::string &out, const uint8_t *bytes, size_t n) {
    if (n == 0) return;
    const size_t at = out.size();
    out.resize(at + n * 3 - 1);
    char *p = &out[at];
    for (size_t i = 0; i < n; i++) {
        if (i) *p++ = ' ';
        *p++ = kHexDigits[bytes[i] >> 4];
        *p++ = kHexDigits[bytes[i] & 15];
    }
}

std::string hexNumber(uint64_t value, int digits) {
    std::string s = "0x";
    for (int i = digits - 1; i >= 0; i--) s += kHexDigits[(value >> (4 * i)) & 15];
    return s;
}

std::string formatHalf(int64_t halves) {
    const uint64_t magnitude = halves < 0 ? 0 - (uint64_t)halves : (uint64_t)halves;
    std::string s = halves < 0 ? "-" : "";
    s += std::to_string(magnitude / 2);
    if (magnitude & 1) s += ".5";
    return s;
}

// The length of the valid UTF-8 sequence at p (1 to 4), or 0. Overlong
// forms, surrogates and code points past U+10FFFF are not valid.
static size_t _Utf8Length(const uint8_t *p, size_t n) {
    const uint8_t b = p[0];
    size_t len;
    uint32_t cp;
    if (b < 0x80) return 1;
    if ((b & 0xE0) == 0xC0) len = 2, cp = b & 0x1F;
    else if ((b & 0xF0) == 0xE0) len = 3, cp = b & 0x0F;
    else if ((b & 0xF8) == 0xF0) len = 4, cp = b & 0x07;
    else return 0;
    if (len > n) return 0;
    for (size_t i = 1; i < len; i++) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    static const uint32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

std::string quoteText(const uint8_t *bytes, size_t n) {
    std::string out;
    appendQuotedText(out, bytes, n);
    return out;
}

void appendQuotedText(std::string &out, const uint8_t *bytes, size_t n) {
    out += '"';
    for (size_t i = 0; i < n;) {
        const uint8_t b = bytes[i];
        switch (b) {
        case '"': out += "\\\""; i++; continue;
        case '\\': out += "\\\\"; i++; continue;
        case '\n': out += "\\n"; i++; continue;
        case '\r': out += "\\r"; i++; continue;
        case '\t': out += "\\t"; i++; continue;
        default: break;
        }
        size_t len = _Utf8Length(bytes + i, n - i);
        if (len == 0 || b < 0x20 || b == 0x7F) {
            out += "\\x";
            out += kHexDigits[b >> 4];
            out += kHexDigits[b & 15];
            i++;
        } else {
            out.append((const char *)bytes + i, len);
            i += len;
        }
    }
    out += '"';
}

std::string jsonString(const std::string &s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20 || c >= 0x7F) {
            static const char lower[] = "0123456789abcdef";
            out += "\\u00";
            out += lower[c >> 4];
            out += lower[c & 15];
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

}  // namespace nimbra
