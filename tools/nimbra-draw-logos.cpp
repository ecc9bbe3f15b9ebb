// nimbra-draw-logos: draws the device's four built-in pictures as ordinary
// RGBA PNG files, ready for nimbra-orv.
//
//   nimbra-draw-logos OUTDIR
//
// Writes OUTDIR/boot_logo.png (152 x 96), pair_image.png (110 x 110),
// shutdown_image.png (99 x 104) and battery_low.png (53 x 24). Shapes are
// sampled 4 x 4 per pixel. The three palette pictures are snapped to a small
// set of colours (black and a few shades of each ink, all exact RGB332
// levels) so that they fit a 4-bit palette.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tools/hostlib/cli.h"
#include "tools/hostlib/orv_encoder.h"
#include "tools/hostlib/png_files.h"

namespace {

struct Rgb {
    double r, g, b;
};

using Shape = std::function<bool(double x, double y)>;

class Canvas {
public:
    Canvas(int w, int h) : w_(w), h_(h), px_((size_t)w * h, Rgb{0, 0, 0}) {}

    // Paints `ink` over the picture through the shape's 4 x 4 sampled coverage.
    void paint(const Shape &inside, Rgb ink) {
        for (int y = 0; y < h_; y++) {
            for (int x = 0; x < w_; x++) {
                int hits = 0;
                for (int sy = 0; sy < 4; sy++)
                    for (int sx = 0; sx < 4; sx++) hits += inside(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4);
                if (!hits) continue;
                double c = hits / 16.0;
                Rgb &p = px_[(size_t)y * w_ + x];
                p = Rgb{p.r + (ink.r - p.r) * c, p.g + (ink.g - p.g) * c, p.b + (ink.b - p.b) * c};
            }
        }
    }

    // Replaces every pixel by the nearest colour of the palette.
    void snap(const std::vector<Rgb> &palette) {
        for (Rgb &p : px_) {
            double best = 1e9;
            Rgb pick = palette[0];
            for (const Rgb &c : palette) {
                double d = (p.r - c.r) * (p.r - c.r) + (p.g - c.g) * (p.g - c.g) + (p.b - c.b) * (p.b - c.b);
                if (d < best) {
                    best = d;
                    pick = c;
                }
            }
            p = pick;
        }
    }

    nimbra::RgbaImage image() const {
        nimbra::RgbaImage img;
        img.width = (uint32_t)w_;
        img.height = (uint32_t)h_;
        for (const Rgb &p : px_) {
            img.rgba.push_back((uint8_t)std::lround(p.r));
            img.rgba.push_back((uint8_t)std::lround(p.g));
            img.rgba.push_back((uint8_t)std::lround(p.b));
            img.rgba.push_back(255);
        }
        return img;
    }

private:
    int w_, h_;
    std::vector<Rgb> px_;
};

// The colour an RGB332 index stands for.
Rgb fromIndex(uint8_t i) {
    static const double level3[8] = {0x00, 0x25, 0x49, 0x6D, 0x92, 0xB6, 0xDB, 0xFF};
    static const double level2[4] = {0x00, 0x55, 0xAA, 0xFF};
    return Rgb{level3[i >> 5], level3[(i >> 2) & 7], level2[i & 3]};
}
Rgb quantised(Rgb c) {
    return fromIndex(nimbra::rgb332((uint8_t)std::lround(c.r), (uint8_t)std::lround(c.g), (uint8_t)std::lround(c.b)));
}

// Black and `steps` shades of each ink from dark to full, as exact levels.
std::vector<Rgb> shades(const std::vector<Rgb> &inks, int steps) {
    std::vector<Rgb> palette{Rgb{0, 0, 0}};
    for (const Rgb &ink : inks) {
        for (int s = 1; s <= steps; s++) {
            double t = (double)s / steps;
            palette.push_back(quantised(Rgb{ink.r * t, ink.g * t, ink.b * t}));
        }
    }
    return palette;
}

double segmentDistance(double x, double y, double x0, double y0, double x1, double y1) {
    double dx = x1 - x0, dy = y1 - y0;
    double t = ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy);
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    double ex = x0 + t * dx - x, ey = y0 + t * dy - y;
    return std::sqrt(ex * ex + ey * ey);
}

Shape capsule(double x0, double y0, double x1, double y1, double halfWidth) {
    return [=](double x, double y) { return segmentDistance(x, y, x0, y0, x1, y1) <= halfWidth; };
}
Shape ring(double cx, double cy, double inner, double outer) {
    return [=](double x, double y) {
        double d = std::hypot(x - cx, y - cy);
        return d >= inner && d <= outer;
    };
}
// An outlined stadium (a chain link) around the segment of half length
// `half` through (cx, cy) at `angle` radians.
Shape link(double cx, double cy, double half, double angle, double inner, double outer) {
    double ux = std::cos(angle), uy = std::sin(angle);
    return [=](double x, double y) {
        double d = segmentDistance(x, y, cx - ux * half, cy - uy * half, cx + ux * half, cy + uy * half);
        return d >= inner && d <= outer;
    };
}
Shape clipTo(Shape s, Shape region) { return [=](double x, double y) { return region(x, y) && s(x, y); }; }
Shape box(double x0, double y0, double x1, double y1) {
    return [=](double x, double y) { return x >= x0 && x < x1 && y >= y0 && y < y1; };
}
Shape roundedBoxOutline(double x0, double y0, double x1, double y1, double radius, double thickness) {
    auto inRounded = [](double x, double y, double ax, double ay, double bx, double by, double r) {
        double qx = std::fmax(std::fmax(ax + r - x, x - (bx - r)), 0.0);
        double qy = std::fmax(std::fmax(ay + r - y, y - (by - r)), 0.0);
        return x >= ax && x <= bx && y >= ay && y <= by && qx * qx + qy * qy <= r * r;
    };
    return [=](double x, double y) {
        return inRounded(x, y, x0, y0, x1, y1, radius) &&
               !inRounded(x, y, x0 + thickness, y0 + thickness, x1 - thickness, y1 - thickness,
                          std::fmax(radius - thickness, 0.5));
    };
}

// The start-up emblem: a ring around a bold N, crossed by a thin orbit.
nimbra::RgbaImage bootLogo() {
    const Rgb blue{40, 110, 255}, white{255, 255, 255};
    Canvas c(152, 96);
    const double cx = 76, cy = 48;
    auto orbit = [=](double x, double y) {
        double u = (x - cx) / 72.0, v = (y - cy) / 14.0;
        double d = std::sqrt(u * u + v * v);
        return d >= 0.94 && d <= 1.0 && std::hypot(x - cx, y - cy) > 34;
    };
    // The orbit passes behind the ring at the top and in front of it below;
    // it never crosses the ring's opening.
    c.paint(clipTo(orbit, box(0, 0, 152, cy)), blue);
    c.paint(ring(cx, cy, 34, 43), blue);
    c.paint(clipTo(orbit, box(0, cy, 152, 96)), blue);
    c.paint(capsule(cx - 14, cy + 17, cx - 14, cy - 17, 4.2), white);
    c.paint(capsule(cx - 14, cy - 17, cx + 14, cy + 17, 4.2), white);
    c.paint(capsule(cx + 14, cy + 17, cx + 14, cy - 17, 4.2), white);
    c.snap(shades({blue, white}, 4));
    return c.image();
}

// The pairing picture: two interlocked chain links.
nimbra::RgbaImage pairImage() {
    const Rgb blue{60, 140, 255}, green{60, 230, 120};
    Canvas c(110, 110);
    const double angle = -M_PI / 4;
    Shape a = link(38, 72, 17, angle, 9, 17);
    Shape b = link(72, 38, 17, angle, 9, 17);
    c.paint(a, blue);
    c.paint(b, green);
    // Link A passes over link B at their lower-right crossing.
    c.paint(clipTo(a, [](double x, double y) { return x + y > 110 && x - y > -2; }), blue);
    c.snap(shades({blue, green}, 7));
    return c.image();
}

// The shutdown picture: the power symbol.
nimbra::RgbaImage shutdownImage() {
    const Rgb orange{255, 120, 40};
    Canvas c(99, 104);
    const double cx = 49.5, cy = 56;
    auto gap = [=](double x, double y) {
        // Leave an opening of about 70 degrees at the top.
        double a = std::atan2(x - cx, cy - y);
        return std::fabs(a) > 0.62;
    };
    Shape arc = ring(cx, cy, 31, 41);
    c.paint([=](double x, double y) { return arc(x, y) && gap(x, y); }, orange);
    c.paint(capsule(cx, 6, cx, cy - 4, 5.0), orange);
    c.snap(shades({orange}, 8));
    return c.image();
}

// The low-battery mark: a battery outline with a short red charge bar.
nimbra::RgbaImage batteryLow() {
    const Rgb grey{220, 220, 220}, red{255, 30, 30};
    Canvas c(53, 24);
    c.paint(roundedBoxOutline(1, 2, 47, 22, 3, 2.4), grey);
    c.paint(box(47.5, 8, 51.5, 16), grey);
    c.paint(box(5, 6, 13, 18), red);
    // Grey ORV pictures hold any index: only the final colours are quantised.
    c.snap(shades({grey, red}, 8));
    return c.image();
}

}  // namespace

int main(int argc, char **argv) {
    nimbra::Cli cli("nimbra-draw-logos", "Draws the device's four built-in pictures as RGBA PNG files, ready for "
                                         "nimbra-orv.");
    cli.positional("OUTDIR", "folder for boot_logo.png, pair_image.png, shutdown_image.png and battery_low.png "
                             "(created when missing)")
        .example("nimbra-draw-logos logos && nimbra-orv --layout grey logos/battery_low.png battery_low.orv.png");
    if (int exitCode; !cli.parse(argc, argv, exitCode)) return exitCode;
    const std::string dir = cli.arg(0);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) return cli.fail("cannot create " + dir + ": " + ec.message());
    struct Output {
        const char *file;
        nimbra::RgbaImage image;
    } outputs[] = {{"boot_logo.png", bootLogo()},
                   {"pair_image.png", pairImage()},
                   {"shutdown_image.png", shutdownImage()},
                   {"battery_low.png", batteryLow()}};
    for (const Output &o : outputs) {
        std::string error;
        if (!nimbra::writePngRgba(dir + "/" + o.file, o.image, error)) return cli.fail(error);
    }
    return 0;
}
