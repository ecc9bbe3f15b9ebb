// JPEG drawing against libjpeg-turbo decoding the same files with the same
// choices (slow integer inverse DCT, chroma replicated without smoothing),
// once with its SIMD paths and once without. The full-screen images are made
// here with libjpeg's encoder from a synthetic photograph: smooth sky, hills,
// textured ground and a little noise.
// jpeglib.h needs size_t and FILE declared first.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdlib>

#include "bench/bench_support.h"
#include "codecs/GUI_JPEG.h"

namespace {

using bench::Bytes;

Bytes encodeJpeg(int width, int height, int lumaSampling, int quality) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = (JDIMENSION)width;
    c.image_height = (JDIMENSION)height;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    c.comp_info[0].h_samp_factor = lumaSampling;
    c.comp_info[0].v_samp_factor = lumaSampling;
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row((size_t)width * 3);
    uint32_t noise = 12345;
    while (c.next_scanline < c.image_height) {
        int y = (int)c.next_scanline;
        for (int x = 0; x < width; x++) {
            double horizon = height * 0.45 + 30 * std::sin(x * 0.013) + 12 * std::sin(x * 0.051 + 1);
            noise = noise * 1103515245u + 12345u;
            int n = (int)((noise >> 16) % 13) - 6;
            double r, g, b;
            if (y < horizon) {
                double t = y / horizon;
                r = 90 + 80 * t;
                g = 140 + 60 * t;
                b = 230 - 20 * t;
            } else {
                double t = (y - horizon) / (height - horizon);
                double texture = 25 * std::sin(x * 0.37 + y * 0.21) * std::sin(y * 0.11 - x * 0.05);
                r = 70 + 60 * t + texture;
                g = 110 - 30 * t + texture;
                b = 40 + 20 * t;
            }
            uint8_t *p = &row[(size_t)x * 3];
            p[0] = (uint8_t)std::clamp((int)r + n, 0, 255);
            p[1] = (uint8_t)std::clamp((int)g + n, 0, 255);
            p[2] = (uint8_t)std::clamp((int)b + n, 0, 255);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    Bytes file(buffer, buffer + size);
    free(buffer);
    jpeg_destroy_compress(&c);
    return file;
}

const Bytes &screen420() {
    static const Bytes image = encodeJpeg(640, 400, 2, 85);
    return image;
}
const Bytes &screen444() {
    static const Bytes image = encodeJpeg(640, 400, 1, 85);
    return image;
}
const Bytes &photo200() {
    static const Bytes image = bench::sourceFile("examples/assets/landscape_420.jpg");
    return image;
}

void drawJpeg(benchmark::State &state, const Bytes &image) {
    for (auto _ : state) {
        if (GUI_JPEG_Draw(image.data(), (uint32_t)image.size(), 0, 0) != JPEG_OK) {
            bench::fail("a bench JPEG did not draw");
        }
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)image.size());
}

struct JpegErrorExit {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

void onJpegError(j_common_ptr c) { longjmp(((JpegErrorExit *)c->err)->jump, 1); }

// One whole decode to RGB lines.
void libjpegDecode(const Bytes &image, std::vector<uint8_t> &row) {
    jpeg_decompress_struct c;
    JpegErrorExit err;
    c.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = onJpegError;
    if (setjmp(err.jump)) bench::fail("libjpeg refused a bench JPEG");
    jpeg_create_decompress(&c);
    jpeg_mem_src(&c, image.data(), (unsigned long)image.size());
    jpeg_read_header(&c, TRUE);
    c.dct_method = JDCT_ISLOW;
    c.do_fancy_upsampling = FALSE;
    c.out_color_space = JCS_RGB;
    jpeg_start_decompress(&c);
    row.resize((size_t)c.output_width * 3);
    while (c.output_scanline < c.output_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&c, rows, 1);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
}

void libjpeg(benchmark::State &state, const Bytes &image, bool noSimd) {
    bench::runInFreshThread(noSimd, [&] {
        std::vector<uint8_t> row;
        for (auto _ : state) {
            libjpegDecode(image, row);
            benchmark::DoNotOptimize(row.data());
        }
    });
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)image.size());
}

void BM_Draw640x400H2V2(benchmark::State &state) { drawJpeg(state, screen420()); }
void BM_Draw640x400H1V1(benchmark::State &state) { drawJpeg(state, screen444()); }
void BM_Draw200x120H2V2(benchmark::State &state) { drawJpeg(state, photo200()); }
BENCHMARK(BM_Draw640x400H2V2)->Name("jpeg/draw/640x400_h2v2");
BENCHMARK(BM_Draw640x400H1V1)->Name("jpeg/draw/640x400_h1v1");
BENCHMARK(BM_Draw200x120H2V2)->Name("jpeg/draw/200x120_h2v2");

void BM_Libjpeg640x400H2V2(benchmark::State &state) { libjpeg(state, screen420(), true); }
void BM_Libjpeg640x400H1V1(benchmark::State &state) { libjpeg(state, screen444(), true); }
void BM_Libjpeg200x120H2V2(benchmark::State &state) { libjpeg(state, photo200(), true); }
void BM_LibjpegSimd640x400H2V2(benchmark::State &state) { libjpeg(state, screen420(), false); }
void BM_LibjpegSimd640x400H1V1(benchmark::State &state) { libjpeg(state, screen444(), false); }
BENCHMARK(BM_Libjpeg640x400H2V2)->Name("anchor/libjpeg/nosimd/640x400_h2v2");
BENCHMARK(BM_Libjpeg640x400H1V1)->Name("anchor/libjpeg/nosimd/640x400_h1v1");
BENCHMARK(BM_Libjpeg200x120H2V2)->Name("anchor/libjpeg/nosimd/200x120_h2v2");
BENCHMARK(BM_LibjpegSimd640x400H2V2)->Name("anchor/libjpeg/simd/640x400_h2v2");
BENCHMARK(BM_LibjpegSimd640x400H1V1)->Name("anchor/libjpeg/simd/640x400_h1v1");
NIMBRA_ANCHOR("jpeg/draw/640x400_h2v2", "anchor/libjpeg/nosimd/640x400_h2v2");
NIMBRA_ANCHOR("jpeg/draw/640x400_h2v2", "anchor/libjpeg/simd/640x400_h2v2");
NIMBRA_ANCHOR("jpeg/draw/640x400_h1v1", "anchor/libjpeg/nosimd/640x400_h1v1");
NIMBRA_ANCHOR("jpeg/draw/640x400_h1v1", "anchor/libjpeg/simd/640x400_h1v1");
NIMBRA_ANCHOR("jpeg/draw/200x120_h2v2", "anchor/libjpeg/nosimd/200x120_h2v2");

void BM_GetSize(benchmark::State &state) {
    const Bytes &image = photo200();
    for (auto _ : state) {
        uint32_t w, h;
        uint8_t progressive;
        GUI_JPEG_GetSize(image.data(), (uint32_t)image.size(), &w, &h, &progressive);
        benchmark::DoNotOptimize(w);
    }
}
BENCHMARK(BM_GetSize)->Name("jpeg/get_size");

}  // namespace
