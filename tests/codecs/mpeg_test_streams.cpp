#include "tests/codecs/mpeg_test_streams.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>

namespace mpegtest {

static std::string _Dir() { return std::string(NIMBRA_SOURCE_DIR) + "/tests/data/mpeg/"; }

static std::vector<uint8_t> _Gunzip(const std::string &path) {
    std::vector<uint8_t> out;
    gzFile in = gzopen(path.c_str(), "rb");
    if (!in) return out;
    uint8_t chunk[65536];
    int n;
    while ((n = gzread(in, chunk, sizeof chunk)) > 0) out.insert(out.end(), chunk, chunk + n);
    EXPECT_EQ(n, 0) << "corrupt reference file " << path;
    gzclose(in);
    return out;
}

// Picture types and display positions, read from the headers directly: the
// temporal reference counts from each group of pictures' start.
static void _ParseHeaders(Stream &s) {
    const nimbra::Bytes &b = s.bytes;
    int groupBase = 0, groupCount = 0;
    for (size_t i = 0; i + 6 < b.size(); i++) {
        if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1) continue;
        uint8_t code = b[i + 3];
        if (code == 0xB3 && s.width == 0) {
            s.width = (b[i + 4] << 4) | (b[i + 5] >> 4);
            s.height = ((b[i + 5] & 0x0F) << 8) | b[i + 6];
        } else if (code == 0xB8) {
            groupBase += groupCount;
            groupCount = 0;
        } else if (code == 0x00) {
            int temporal = (b[i + 4] << 2) | (b[i + 5] >> 6);
            int type = (b[i + 5] >> 3) & 7;
            s.pictures.push_back(Picture{type, groupBase + temporal});
            groupCount++;
        }
    }
}

Stream load(const std::string &name) {
    Stream s;
    s.name = name;
    s.bytes = nimbra::readFile(_Dir() + name + ".m1v");
    EXPECT_FALSE(s.bytes.empty()) << "missing test stream " << name;
    s.referenceLuma = _Gunzip(_Dir() + name + ".gray.gz");
    _ParseHeaders(s);
    EXPECT_GT(s.width, 0);
    if (s.width > 0) {
        EXPECT_EQ(s.referenceLuma.size() % ((size_t)s.width * s.height), 0u);
        EXPECT_EQ((size_t)s.referenceCount(), s.pictures.size());
    }
    return s;
}

std::vector<std::string> allNames() {
    return {"intra_176x120_q3", "intra_320x240_q20",     "ip_320x240_q6", "ip_176x120_pan_q4",
            "ipb_176x120_q4",   "ip_100x76_matrices_q5", "ip_176x120_q1", "ip_176x120_adaptive_quant",
            "ip_160x96_fullpel"};
}

size_t lastSliceStart(const nimbra::Bytes &bytes) {
    size_t last = 0;
    for (size_t i = 0; i + 3 < bytes.size(); i++) {
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] >= 0x01 && bytes[i + 3] <= 0xAF)
            last = i;
    }
    return last;
}

double psnr(const uint8_t *luma, int stride, const uint8_t *reference, int width, int height) {
    double sum = 0;
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            double d = (double)luma[y * stride + x] - reference[y * width + x];
            sum += d * d;
        }
    }
    if (sum == 0) return 99.0;
    double mse = sum / ((double)width * height);
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace mpegtest
