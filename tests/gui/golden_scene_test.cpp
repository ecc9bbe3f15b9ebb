// The primitives at their edge cases in one screen, against a golden file
// reviewed by eye: dashes, dots and dash-dots at exact lengths, joins from
// pen 6 and caps for the round pen only, a pen-4 frame, a rounded fill of
// radius 0 and a frame whose pen is wider than its radius, arc pieces in
// each quadrant and a pen wider than the radius, a pixel-aligned polygon
// with its coverage-4 column, a bow tie in both fill rules, a disc, and
// splines level and steep. (Shapes drawn by command are the shape
// commands' golden scenes.)
#include <gtest/gtest.h>

#include "gui/GUI_Arc.h"
#include "gui/GUI_Circle.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Line.h"
#include "gui/GUI_Polygon.h"
#include "gui/GUI_Rect.h"
#include "gui/GUI_Spline.h"
#include "tests/gui/gui_test_support.h"

using namespace guitest;

namespace {

constexpr uint8_t kRoundPen = 0, kFlatPen = 1;
constexpr uint8_t kSolid = 0, kDashed = 1, kDotted = 2, kDashDot = 3;

void style(uint32_t penQ, uint8_t shape, uint8_t lineStyle) {
    GUI_SetPenSize(penQ);
    GUI_SetPenShape(shape);
    GUI_SetLineStyle(lineStyle);
}

// Points in quarter pixels, moved by (dxq, dyq).
std::vector<GUI_POINT> at(std::vector<GUI_POINT> points, int32_t dxq, int32_t dyq) {
    for (GUI_POINT &p : points) p = {p.x + dxq, p.y + dyq};
    return points;
}
void path(const std::vector<GUI_POINT> &points) { GUI_DrawPath(points.data(), (int32_t)points.size()); }

using PrimitiveScene = ShapeTest;

TEST_F(PrimitiveScene, EdgeCasesOfEveryPrimitive) {
    // Dashes of a 24 quarter-pixel period: exactly 6 pens (one dash over
    // the first half), under 4 pens (nothing), 5 periods.
    style(4, kFlatPen, kDashed);
    for (auto [x1q, yq] : {std::pair{64, 40}, {55, 80}, {160, 120}}) path({{40, yq}, {x1q, yq}});
    // Dots of radius 1: one at the middle of a short segment, one at each
    // end of 8, every 8 along a longer one.
    style(4, kFlatPen, kDotted);
    for (auto [x1q, yq] : {std::pair{47, 162}, {50, 202}, {82, 242}}) path({{42, yq}, {x1q, yq}});
    // Dash-dot: discs at both ends, the dash two pens shorter at each.
    style(8, kFlatPen, kDashDot);
    path({{400, 400}, {800, 400}});
    // Joins only from pen 6; caps only for the round pen; styled lines get
    // neither.
    const std::vector<GUI_POINT> bend = {{100, 100}, {300, 150}, {120, 300}};
    style(4, kFlatPen, kSolid);
    path(at(bend, 1000, 0));
    style(6, kFlatPen, kSolid);
    path(at(bend, 1250, 0));
    style(24, kFlatPen, kSolid);
    path(at(bend, 1500, 0));
    style(24, kRoundPen, kSolid);
    path(at(bend, 1800, 0));
    style(24, kRoundPen, kDashed);
    path(at({{100, 100}, {300, 150}}, 2100, 0));

    style(4, kFlatPen, kSolid);
    GUI_DrawRect(40, 840, 80, 880);                 // two pixels thick
    GUI_FillRoundedRect(140, 840, 180, 880, 0);     // bands of one subpixel row
    GUI_SetPenSize(32);
    GUI_DrawRoundedRect(240, 840, 640, 1240, 16);   // the corners quarter discs
    // Arc pieces from 30 to 60, 75 to 100, 190 to 325 and 300 to 360
    // degrees (quarter degrees here), then a pen wider than the radius.
    GUI_SetPenSize(16);
    for (auto [a0, a1] : {std::pair{120, 240}, {300, 400}, {760, 1300}, {1200, 1440}}) GUI_DrawArc(1100, 1100, 320, 320, a0, a1);
    GUI_SetPenSize(256);
    GUI_DrawArc(1700, 900, 120, 120, 0, 360);
    // A pixel-aligned square, then a bow tie even-odd and by the first two
    // crossings.
    const std::vector<GUI_POINT> square = at({{40, 40}, {80, 40}, {80, 80}, {40, 80}}, 40, 1320);
    GUI_FillPolygon(square.data(), 4, 0);
    const std::vector<GUI_POINT> bowTie = {{400, 400}, {800, 800}, {800, 400}, {400, 800}};
    for (int simple = 0; simple < 2; simple++) {
        const std::vector<GUI_POINT> moved = at(bowTie, 1100 + 450 * simple, 700);
        GUI_FillPolygon(moved.data(), 4, simple);
    }
    GUI_FillCircle(2300, 750, 160);
    GUI_SetPenSize(8);
    const std::vector<GUI_POINT> level = at({{40, 200}, {200, 200}, {400, 200}}, 0, 1300),
                                 steep = at({{400, 200}, {420, 1400}}, 2080, 100);
    GUI_Spline(level.data(), 3);
    GUI_Spline(steep.data(), 2);
    EXPECT_TRUE(enginesIdle());
    EXPECT_TRUE(matchesGolden("primitives_edges", 0, 0, W, H));
}

}  // namespace
