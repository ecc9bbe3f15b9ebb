#include "tools/inspect/report_json.h"

namespace nimbra {

namespace {

// The length of the valid UTF-8 sequence at s[i], or 0.
size_t _Utf8Length(const std::string &s, size_t i) {
    const unsigned char c = (unsigned char)s[i];
    size_t n;
    uint32_t cp;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (size_t k = 1; k < n; k++) {
        const unsigned char d = (unsigned char)s[i + k];
        if ((d & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (d & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

}  // namespace

void appendJsonText(std::string &out, const std::string &text) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = (unsigned char)text[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
            i++;
        } else if (c == '\n') {
            out += "\\n";
            i++;
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
            i++;
        } else if (c < 0x80) {
            out += (char)c;
            i++;
        } else if (const size_t n = _Utf8Length(text, i)) {
            // U+2028 and U+2029 end lines in older script parsers.
            if (n == 3 && c == 0xE2 && (unsigned char)text[i + 1] == 0x80 &&
                ((unsigned char)text[i + 2] == 0xA8 || (unsigned char)text[i + 2] == 0xA9)) {
                out += (unsigned char)text[i + 2] == 0xA8 ? "\\u2028" : "\\u2029";
            } else {
                out.append(text, i, n);
            }
            i += n;
        } else {
            out += "\\ufffd";
            i++;
        }
    }
    out += '"';
}

void appendBase64(std::string &out, const uint8_t *bytes, size_t n) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    out.reserve(out.size() + (n + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const uint32_t v = ((uint32_t)bytes[i] << 16) | ((uint32_t)bytes[i + 1] << 8) | bytes[i + 2];
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += digits[(v >> 6) & 63];
        out += digits[v & 63];
    }
    if (i < n) {
        const uint32_t v = ((uint32_t)bytes[i] << 16) | (i + 1 < n ? (uint32_t)bytes[i + 1] << 8 : 0);
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += i + 1 < n ? digits[(v >> 6) & 63] : '=';
        out += '=';
    }
}

}  // namespace nimbra
