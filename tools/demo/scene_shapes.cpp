// A screen of shapes: lines in every pen width, style and shape, paths,
// rectangles (plain and rounded, outline and filled), circles, ellipses
// (axis-parallel and rotated), arcs, polygons, a spline, and shapes cut by
// the screen edges. Coordinates below are whole pixels, sent as half pixels.
#include <cmath>

#include "tools/demo/demo_scenes.h"

namespace {

int32_t H(int32_t pixels) { return 2 * pixels; }

void line(nimbra::CommandBuilder &b, int x0, int y0, int x1, int y1) {
    b.u8(0x0F).pair(H(x0), H(y0)).pair(H(x1), H(y1));
}
void rect(nimbra::CommandBuilder &b, int x, int y, int w, int h, int r, bool fill) {
    b.u8(0x0C).pair(H(x), H(y)).pair(H(w), H(h)).u8((uint8_t)H(r)).u8(fill ? 1 : 0);
}
// Angle in degrees.
void ellipse(nimbra::CommandBuilder &b, int x, int y, int rx, int ry, int degrees, bool fill) {
    uint32_t a = (uint32_t)(degrees * 2);
    b.u8(0x0E).pair(H(x), H(y)).pair(H(rx), H(ry)).u8((uint8_t)(a & 0xFF)).u8((uint8_t)(((a >> 8) & 0x7F) | (fill ? 0x80 : 0)));
}
void arc(nimbra::CommandBuilder &b, int x, int y, int r, int a0, int a1) {
    b.u8(0x10).pair(H(x), H(y)).pair(H(r), H(r)).pair(a0 * 2, a1 * 2);
}
void polygon(nimbra::CommandBuilder &b, const std::vector<std::pair<int, int>> &pts, bool fill, bool simple) {
    b.u8(0x12).u8((uint8_t)(pts.size() | (simple ? 0x40 : 0) | (fill ? 0x80 : 0)));
    for (auto &p : pts) b.pair(H(p.first), H(p.second));
}
void path(nimbra::CommandBuilder &b, const std::vector<std::pair<int, int>> &pts, bool smooth) {
    b.u8(0x0D).u8((uint8_t)(pts.size() | (smooth ? 0x80 : 0)));
    for (auto &p : pts) b.pair(H(p.first), H(p.second));
}
// Pen width in pixels (may be half pixels through widthHalf).
void pen(nimbra::CommandBuilder &b, int widthHalf, int shape, int style) {
    b.setPenStyle((uint8_t)widthHalf, (uint8_t)shape, (uint8_t)style);
}
void flush(nimbra::Bytes &stream, nimbra::CommandBuilder &b) {
    nimbra::appendRecord(stream, b.payload());
    b.clear();
}

}  // namespace

DEMO_SCENE(300, shapes) {
    nimbra::CommandBuilder b;
    b.clearRect(0, 0, 1280, 800);
    b.setColor(0xFF102040);
    // A dark blue backdrop: a filled rectangle.
    rect(b, 0, 0, 639, 399, 0, true);
    flush(stream, b);

    // Lines: pen widths 0.5 to 12 pixels, fanning out.
    b.setColor(0xFFFFFFFF);
    const int widths[] = {1, 2, 3, 4, 8, 12, 16, 24};
    for (int i = 0; i < 8; i++) {
        pen(b, widths[i], 1, 0);
        line(b, 10 + i * 18, 10, 40 + i * 22, 110);
    }
    // Line styles with flat and round pens, and a round-pen polyline.
    const uint32_t styleColours[] = {0xFFFFFF00, 0xFF00FFFF, 0xFFFF80FF, 0xFF80FF80};
    for (int s = 0; s < 4; s++) {
        b.setColor(styleColours[s]);
        pen(b, 6, 0, s);
        line(b, 200, 15 + s * 14, 330, 20 + s * 14);
        pen(b, 3, 1, s);
        line(b, 200, 75 + s * 10, 330, 75 + s * 10);
    }
    flush(stream, b);
    b.setColor(0xFFFF8000);
    pen(b, 10, 0, 0);
    path(b, {{345, 100}, {370, 20}, {395, 90}, {420, 30}, {445, 100}}, false);
    b.setColor(0xFF00FF00);
    pen(b, 4, 1, 0);
    path(b, {{460, 60}, {490, 20}, {520, 90}, {550, 40}, {580, 70}, {620, 30}}, true);
    flush(stream, b);

    // Rectangles: outline, filled, rounded outline, rounded filled.
    b.setColor(0xFFFF4040);
    pen(b, 4, 1, 0);
    rect(b, 10, 130, 70, 50, 0, false);
    rect(b, 90, 130, 70, 50, 0, true);
    b.setColor(0xFF40C0FF);
    pen(b, 6, 1, 0);
    rect(b, 170, 130, 70, 50, 12, false);
    rect(b, 250, 130, 70, 50, 20, true);
    // Circles and ellipses.
    b.setColor(0xFFFFFF80);
    ellipse(b, 360, 155, 25, 25, 0, true);
    pen(b, 5, 1, 0);
    ellipse(b, 420, 155, 25, 25, 0, false);
    b.setColor(0xFFFF80C0);
    ellipse(b, 490, 155, 35, 18, 0, true);
    ellipse(b, 575, 155, 35, 18, 30, false);
    flush(stream, b);

    // Rotated ellipses in a fan, filled.
    for (int i = 0; i < 6; i++) {
        b.setColor(0xFF203040u + (uint32_t)i * 0x00202008u);
        ellipse(b, 70, 250, 50, 12, i * 30, true);
    }
    // Arcs: flat and round pens.
    b.setColor(0xFF80FFFF);
    pen(b, 8, 1, 0);
    arc(b, 200, 250, 45, 30, 300);
    b.setColor(0xFFFFC040);
    pen(b, 12, 0, 0);
    arc(b, 200, 250, 25, 200, 340);
    flush(stream, b);

    // Polygons: a star filled by the even-odd rule, the same star with the
    // simple fill, a convex outline.
    std::vector<std::pair<int, int>> star;
    for (int k = 0; k < 5; k++) {
        double a = -M_PI / 2 + k * 4 * M_PI / 5;
        star.push_back({310 + (int)lround(45 * cos(a)), 250 + (int)lround(45 * sin(a))});
    }
    b.setColor(0xFFC080FF);
    polygon(b, star, true, false);
    for (auto &p : star) p.first += 100;
    b.setColor(0xFF80C0FF);
    polygon(b, star, true, true);
    b.setColor(0xFFFFFFFF);
    pen(b, 3, 1, 0);
    polygon(b, {{470, 210}, {540, 220}, {560, 280}, {500, 295}, {460, 260}}, false, false);
    flush(stream, b);

    // Shapes cut by the screen edges.
    b.setColor(0xFF00FF80);
    ellipse(b, 0, 350, 40, 40, 0, true);
    b.setColor(0xFFFF0080);
    ellipse(b, 630, 390, 60, 30, 20, true);
    b.setColor(0xFFFFFF00);
    pen(b, 6, 0, 0);
    line(b, -200, 420, 700, 300);
    pen(b, 4, 1, 1);
    line(b, 100, 395, 560, 395);
    b.setColor(0xFFFFFFFF);
    pen(b, 3, 1, 0);
    path(b, {{560, 330}, {600, 300}, {640, 360}}, true);
    rect(b, 600, -20, 80, 60, 10, false);
    demo::showFrame(stream, b, frameId);
}
