// The shape commands end to end: wire formats, checks and reports, the
// mapping to primitives and golden scenes.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "commands/commandHandlerDraw.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Arc.h"
#include "gui/GUI_Circle.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Line.h"
#include "gui/GUI_Rect.h"
#include "gui/GUI_Spline.h"
#include "protocol/commandHandler.h"
#include "tests/gui/gui_test_support.h"

using namespace guitest;
using nimbra::Bytes;
using nimbra::CommandBuilder;

namespace {

class ShapeCommands : public ShapeTest {
protected:
    // Runs one command through its handler on a fresh screen; returns what
    // the handler returned.
    int32_t call(const Bytes &cmd, uint32_t remaining = 0) {
        fillFrame(BG);
        testsupport::clearCaptures();
        return opcodeHandlers[cmd[0]](cmd.data(), remaining ? remaining : (uint32_t)cmd.size());
    }
};

Bytes rectCmd(int x, int y, int w, int h, int r, int fill) {
    return CommandBuilder().u8(0x0C).pair(x, y).pair(w, h).u8((uint8_t)r).u8((uint8_t)fill).payload();
}
Bytes ellipseCmd(int x, int y, int rx, int ry, int angleHalf, bool fill) {
    const uint8_t high = (uint8_t)(((angleHalf >> 8) & 0x7F) | (fill ? 0x80 : 0));
    return CommandBuilder().u8(0x0E).pair(x, y).pair(rx, ry).u8((uint8_t)angleHalf).u8(high).payload();
}
Bytes lineCmd(int x0, int y0, int x1, int y1) { return CommandBuilder().u8(0x0F).pair(x0, y0).pair(x1, y1).payload(); }
Bytes arcCmd(int x, int y, int rx, int ry, int a0, int a1) {
    return CommandBuilder().u8(0x10).pair(x, y).pair(rx, ry).pair(a0, a1).payload();
}
Bytes pointsCmd(uint8_t opcode, uint8_t header, const std::vector<std::pair<int, int>> &pts) {
    CommandBuilder b;
    b.u8(opcode).u8(header);
    for (auto &p : pts) b.pair(p.first, p.second);
    return b.payload();
}

void path(std::vector<GUI_POINT> v) { GUI_DrawPath(v.data(), (int32_t)v.size()); }
void spline(std::vector<GUI_POINT> v) { GUI_Spline(v.data(), (int32_t)v.size()); }

TEST_F(ShapeCommands, FilledRectangleWithoutRadiusRoundsCornersToPixels) {
    EXPECT_EQ(call(rectCmd(1, 1, 20, 20, 0, 1)), 9);
    Box b = painted();
    EXPECT_EQ(b.x0, 0);    // (2 + 1) >> 2
    EXPECT_EQ(b.x1, 10);   // (42 + 1) >> 2
    call(rectCmd(2, 2, 20, 20, 0, 1));
    b = painted();
    EXPECT_EQ(b.x0, 1);
    EXPECT_EQ(b.y0, 1);
    EXPECT_TRUE(testsupport::packets().empty());
}

TEST_F(ShapeCommands, FieldChecksAndLengths) {
    const uint8_t kNone = 0xFF;
    struct Case {
        const char *what;
        Bytes cmd;
        uint32_t remaining;   // 0: the whole command
        int32_t result;
        uint8_t code;   // of the report, kNone when there is none
    } cases[] = {
        {"rect radius half the width", rectCmd(10, 10, 20, 40, 10, 1), 0, 9, kNone},
        {"rect radius above it", rectCmd(10, 10, 20, 40, 11, 1), 0, 9, 0x01},
        {"rect fill 2", rectCmd(10, 10, 20, 40, 0, 2), 0, 9, 0x01},
        {"rect x 2560 quarter pixels", rectCmd(1280, 0, 10, 10, 0, 0), 0, 9, kNone},
        {"rect x past it", rectCmd(1281, 0, 10, 10, 0, 0), 0, 9, 0x01},
        {"rect left of the screen", rectCmd(-11, 0, 10, 10, 0, 0), 0, 9, 0x01},
        {"rect y past the screen", rectCmd(0, 801, 10, 10, 0, 0), 0, 9, 0x01},
        {"rect short", rectCmd(0, 0, 10, 10, 0, 0), 8, -1, 0x01},
        {"ellipse radius 3", ellipseCmd(400, 300, 3, 40, 0, true), 0, 9, 0x01},
        {"ellipse radius 4", ellipseCmd(400, 300, 4, 40, 0, true), 0, 9, kNone},
        {"ellipse over 360 degrees", ellipseCmd(400, 300, 40, 30, 721, true), 0, 9, 0x01},
        {"ellipse right", ellipseCmd(1449, 300, 40, 40, 0, true), 0, 9, 0x01},   // 2898 > 80 + 2816
        {"ellipse left", ellipseCmd(-170, 300, 40, 40, 0, true), 0, 9, 0x01},    // -340 + 80 < -256
        {"ellipse at the high limits", ellipseCmd(1448, 968, 40, 40, 720, true), 0, 9, kNone},
        {"ellipse at the low limits", ellipseCmd(-168, -168, 40, 40, 0, true), 0, 9, kNone},
        {"ellipse short", ellipseCmd(0, 0, 40, 40, 0, true), 8, -1, 0x01},
        {"arc of unequal radii", arcCmd(300, 200, 40, 41, 0, 180), 0, 10, 0x03},
        {"arc over 360 degrees", arcCmd(300, 200, 40, 40, 0, 721), 0, 10, 0x01},
        {"arc of radius 0", arcCmd(300, 200, 0, 0, 0, 720), 0, 10, kNone},
        {"arc ending below its start", arcCmd(300, 200, 40, 40, 600, 100), 0, 10, kNone},
        {"arc short", arcCmd(300, 200, 40, 40, 0, 720), 9, -1, 0x01},
        {"polygon of 2", pointsCmd(0x12, 0x82, {{10, 10}, {50, 10}, {0, 0}}), 0, 8, 0x01},
        {"polygon of 3", pointsCmd(0x12, 0x83, {{10, 10}, {50, 10}, {30, 40}}), 0, 11, kNone},
        {"polygon of 3 cut", pointsCmd(0x12, 0x83, {{10, 10}, {50, 10}, {30, 40}}), 10, -1, 0x01},
        {"polygon of 20 with 4", pointsCmd(0x12, 0x94, {{10, 10}, {50, 10}, {30, 40}, {10, 30}}), 0, -1, 0x01},
        {"path of 65", pointsCmd(0x0D, 0x41, std::vector<std::pair<int, int>>(65, {0, 0})), 0, 197, 0x01},
        {"path of 1", pointsCmd(0x0D, 0x01, {{0, 0}, {1, 1}}), 0, 5, 0x01},
        {"path cut", pointsCmd(0x0D, 0x02, {{0, 0}, {1, 1}}), 7, -1, 0x01},
        {"line short", lineCmd(0, 0, 8, 8), 6, -1, 0x01},
        // Lines take any coordinates.
        {"line corner to corner", lineCmd(-2048, -2048, 2047, 2047), 0, 7, kNone},
        {"line the other way", lineCmd(2047, -2048, -2048, 2047), 0, 7, kNone},
        {"line of no length", lineCmd(0, 0, 0, 0), 0, 7, kNone},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(call(c.cmd, c.remaining), c.result) << c.what;
        auto replies = testsupport::packets();
        if (c.code == kNone) {
            EXPECT_TRUE(replies.empty()) << c.what;
        } else {
            EXPECT_EQ(replies, std::vector<Bytes>{Bytes({0x04, c.cmd[0], c.code, 0x00})}) << c.what;
            EXPECT_TRUE(nothingPainted()) << c.what;
        }
    }
}

TEST_F(ShapeCommands, CommandsDrawTheirPrimitives) {
    struct Case {
        const char *what;
        uint32_t pen;
        Bytes cmd;
        std::function<void()> draw;
    } cases[] = {
        {"frame", 6, rectCmd(20, 30, 200, 100, 0, 0), [] { GUI_DrawRect(40, 60, 440, 260); }},
        // Equal radii: a circle, whatever the angle.
        {"circle", 4, ellipseCmd(400, 300, 60, 60, 77, true), [] { GUI_FillCircle(800, 600, 120); }},
        // 90 and 270 degrees: the unrotated primitive with the radii exchanged.
        {"ellipse at 90", 4, ellipseCmd(400, 300, 100, 40, 180, true), [] { GUI_FillEllipse(800, 600, 80, 200); }},
        {"outline at 270", 4, ellipseCmd(400, 300, 100, 40, 540, false), [] { GUI_DrawEllipse(800, 600, 80, 200); }},
        {"ellipse at 180", 4, ellipseCmd(400, 300, 100, 40, 360, true), [] { GUI_FillEllipse(800, 600, 200, 80); }},
        // 45 degrees: rotated, the angle in quarter degrees.
        {"ellipse at 45", 4, ellipseCmd(400, 300, 100, 40, 90, true),
         [] { GUI_FillEllipseRot(800, 600, 200, 80, 180); }},
        {"arc", 8, arcCmd(300, 200, 40, 40, 30, 300), [] { GUI_DrawArc(600, 400, 80, 80, 60, 600); }},
        {"closed polygon outline", 6, pointsCmd(0x12, 0x03, {{100, 100}, {400, 150}, {200, 380}}),
         [] {
             path({{200, 200}, {800, 300}, {400, 760}, {200, 200}});
         }},
        {"spline", 4, pointsCmd(0x0D, 0x82, {{100, 100}, {500, 300}}),
         [] {
             spline({{200, 200}, {1000, 600}});
         }},
    };
    for (const auto &c : cases) {
        GUI_SetPenSize(c.pen);
        EXPECT_EQ(call(c.cmd), (int32_t)c.cmd.size()) << c.what;
        EXPECT_FALSE(nothingPainted()) << c.what;
        EXPECT_EQ(diffIn(snapshot(), drawnAlone(c.draw)), 0) << c.what;
        EXPECT_TRUE(testsupport::packets().empty()) << c.what;
    }
    EXPECT_TRUE(enginesIdle());
    // Bit 6 of a polygon's count selects the convex fill: the right
    // triangle of a bow tie is then left out.
    const std::vector<std::pair<int, int>> bowTie = {{100, 100}, {300, 300}, {300, 100}, {100, 300}};
    call(pointsCmd(0x12, 0x84, bowTie));
    EXPECT_NE(pixel(140, 60), BG);
    call(pointsCmd(0x12, 0xC4, bowTie));
    EXPECT_EQ(pixel(140, 60), BG);
}

TEST_F(ShapeCommands, GoldenScenes) {
    // The demo's screen of shapes, drawn by command. Reviewed by eye.
    auto H2 = [](int p) { return 2 * p; };
    CommandBuilder b;
    fillFrame(0x06);
    // Pens, styles and shapes of lines.
    for (int s = 0; s < 4; s++) {
        b.setPenStyle((uint8_t)(3 + 3 * s), (uint8_t)(s & 1), (uint8_t)s);
        b.u8(0x0F).pair(H2(10), H2(10 + 18 * s)).pair(H2(150), H2(20 + 18 * s));
    }
    b.setPenStyle(9, 0, 0);
    b.u8(0x0D).u8(0x04).pair(H2(20), H2(110)).pair(H2(60), H2(80)).pair(H2(100), H2(115)).pair(H2(150), H2(85));
    testsupport::run(b);
    EXPECT_TRUE(matchesGolden("shapes_lines", 0, 0, 160, 120));

    b.clear();
    b.setColor(0xFFFFC040).setPenStyle(6, 1, 0);
    auto ell = [&](int x, int y, int rx, int ry, int deg, bool fill) {
        b.bytes(ellipseCmd(H2(x), H2(y), H2(rx), H2(ry), deg * 2, fill));
    };
    ell(200, 30, 25, 25, 0, false);
    ell(260, 30, 28, 14, 0, true);
    ell(200, 90, 30, 12, 30, true);
    ell(265, 90, 30, 18, 120, false);
    b.setColor(0xFF80FFFF).setPenStyle(8, 0, 0);
    b.bytes(arcCmd(H2(300), H2(60), H2(30), H2(30), 60, 500));
    testsupport::run(b);
    EXPECT_TRUE(matchesGolden("shapes_curves", 160, 0, 180, 120));

    b.clear();
    b.setColor(0xFFFF80C0).setPenStyle(4, 1, 0);
    b.bytes(rectCmd(H2(10), H2(130), H2(60), H2(40), H2(10), 1));
    b.bytes(rectCmd(H2(80), H2(130), H2(60), H2(40), H2(12), 0));
    b.setColor(0xFFC0C0FF);
    b.bytes(pointsCmd(
        0x12, 0x85,
        {{H2(160), H2(175)}, {H2(185), H2(125)}, {H2(210), H2(175)}, {H2(150), H2(140)}, {H2(220), H2(140)}}));
    b.setColor(0xFFFFFFFF);
    b.bytes(pointsCmd(0x0D, 0x84, {{H2(225), H2(170)}, {H2(250), H2(130)}, {H2(275), H2(160)}, {H2(300), H2(135)}}));
    testsupport::run(b);
    EXPECT_TRUE(matchesGolden("shapes_fills", 0, 120, 320, 60));
}

}  // namespace
