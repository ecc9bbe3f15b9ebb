// The shape commands end to end: wire formats, checks and reports, the
// mapping to primitives, golden scenes, and hostile input.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include "commands/commandHandlerDraw.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Arc.h"
#include "gui/GUI_Circle.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Line.h"
#include "gui/GUI_Rect.h"
#include "gui/GUI_Spline.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/device_fixture.h"

using namespace guitest;
using nimbra::Bytes;
using nimbra::CommandBuilder;

namespace {

constexpr uint8_t BG = 0x49;

class ShapeCommands : public BareDeviceTest {
protected:
    void SetUp() override {
        BareDeviceTest::SetUp();
        fillFrame(BG);
        GUI_SetColor(0xFFFFFFFF);
    }
    // Runs one command through its handler; returns what the handler returned.
    int32_t call(int32_t (*handler)(const uint8_t *, uint32_t), const Bytes &cmd, uint32_t remaining = 0) {
        return handler(cmd.data(), remaining ? remaining : (uint32_t)cmd.size());
    }
    // The result reports sent since the last check.
    std::vector<Bytes> reports() {
        auto p = testsupport::packets();
        testsupport::clearCaptures();
        return p;
    }
    std::vector<uint8_t> drawnAlone(const std::function<void()> &draw) {
        auto saved = snapshot();
        fillFrame(BG);
        draw();
        auto result = snapshot();
        std::copy(saved.begin(), saved.end(), fb);
        return result;
    }
};

Bytes rectCmd(int x, int y, int w, int h, int r, int fill) {
    CommandBuilder b;
    b.u8(0x0C).pair(x, y).pair(w, h).u8((uint8_t)r).u8((uint8_t)fill);
    return b.payload();
}
Bytes ellipseCmd(int x, int y, int rx, int ry, int angleHalf, bool fill) {
    CommandBuilder b;
    b.u8(0x0E).pair(x, y).pair(rx, ry).u8((uint8_t)(angleHalf & 0xFF)).u8((uint8_t)(((angleHalf >> 8) & 0x7F) | (fill ? 0x80 : 0)));
    return b.payload();
}
Bytes arcCmd(int x, int y, int rx, int ry, int a0, int a1) {
    CommandBuilder b;
    b.u8(0x10).pair(x, y).pair(rx, ry).pair(a0, a1);
    return b.payload();
}
Bytes pointsCmd(uint8_t opcode, uint8_t header, const std::vector<std::pair<int, int>> &pts) {
    CommandBuilder b;
    b.u8(opcode).u8(header);
    for (auto &p : pts) b.pair(p.first, p.second);
    return b.payload();
}


TEST_F(ShapeCommands, FilledRectangleWithoutRadiusRoundsCornersToPixels) {
    EXPECT_EQ(call(CMD_drawRect, rectCmd(1, 1, 20, 20, 0, 1)), 9);
    int x0, y0, x1, y1;
    ASSERT_TRUE(paintedBox(BG, &x0, &y0, &x1, &y1));
    EXPECT_EQ(x0, 0);    // (2 + 1) >> 2
    EXPECT_EQ(x1, 10);   // (42 + 1) >> 2
    fillFrame(BG);
    call(CMD_drawRect, rectCmd(2, 2, 20, 20, 0, 1));
    ASSERT_TRUE(paintedBox(BG, &x0, &y0, &x1, &y1));
    EXPECT_EQ(x0, 1);
    EXPECT_EQ(y0, 1);
    EXPECT_TRUE(reports().empty());
}

TEST_F(ShapeCommands, RectangleChecks) {
    // Radius at most half the width and height.
    EXPECT_EQ(call(CMD_drawRect, rectCmd(10, 10, 20, 40, 10, 1)), 9);
    EXPECT_TRUE(reports().empty());
    EXPECT_EQ(call(CMD_drawRect, rectCmd(10, 10, 20, 40, 11, 1)), 9);
    EXPECT_EQ(reports(), (std::vector<Bytes>{{0x04, 0x0C, 0x01, 0x00}}));
    EXPECT_EQ(call(CMD_drawRect, rectCmd(10, 10, 20, 40, 0, 2)), 9);
    EXPECT_EQ(reports().size(), 1u);
    // Position limits: x up to 2560 quarter pixels (1280 half pixels).
    EXPECT_EQ(call(CMD_drawRect, rectCmd(1280, 0, 10, 10, 0, 0)), 9);
    EXPECT_TRUE(reports().empty());
    EXPECT_EQ(call(CMD_drawRect, rectCmd(1281, 0, 10, 10, 0, 0)), 9);
    EXPECT_EQ(call(CMD_drawRect, rectCmd(-11, 0, 10, 10, 0, 0)), 9);
    EXPECT_EQ(call(CMD_drawRect, rectCmd(0, 801, 10, 10, 0, 0)), 9);
    EXPECT_EQ(reports().size(), 3u);
    // Too short.
    EXPECT_EQ(call(CMD_drawRect, rectCmd(0, 0, 10, 10, 0, 0), 8), -1);
    EXPECT_EQ(reports(), (std::vector<Bytes>{{0x04, 0x0C, 0x01, 0x00}}));
    int x0, y0, x1, y1;
    fillFrame(BG);
    call(CMD_drawRect, rectCmd(10, 10, 20, 40, 11, 1));
    EXPECT_FALSE(paintedBox(BG, &x0, &y0, &x1, &y1));
}

TEST_F(ShapeCommands, RectangleMapsToItsPrimitives) {
    GUI_SetPenSize(6);
    call(CMD_drawRect, rectCmd(20, 30, 200, 100, 0, 0));
    EXPECT_EQ(countDiffInside(snapshot(), drawnAlone([] { GUI_DrawRect(40, 60, 440, 260); }), 0, 0, W - 1, H - 1), 0);
    fillFrame(BG);
    call(CMD_drawRect, rectCmd(20, 30, 200, 100, 30, 0));
    EXPECT_EQ(countDiffInside(snapshot(), drawnAlone([] { GUI_DrawRoundedRect(40, 60, 440, 260, 60); }), 0, 0, W - 1, H - 1), 0);
    fillFrame(BG);
    call(CMD_drawRect, rectCmd(20, 30, 200, 100, 30, 1));
    EXPECT_EQ(countDiffInside(snapshot(), drawnAlone([] { GUI_FillRoundedRect(40, 60, 440, 260, 60); }), 0, 0, W - 1, H - 1), 0);
}

TEST_F(ShapeCommands, EllipseChoosesCircleAxisParallelOrRotated) {
    // Equal radii: a circle, whatever the angle.
    call(CMD_drawEllipse, ellipseCmd(400, 300, 60, 60, 77, true));
    EXPECT_EQ(countDiffInside(snapshot(), drawnAlone([] { GUI_FillCircle(800, 600, 120); }), 0, 0, W - 1, H - 1), 0);
    // 90 degrees (field 180): the unrotated primitive with the radii exchanged.
    fillFrame(BG);
    call(CMD_drawEllipse, ellipseCmd(400, 300, 100, 40, 180, true));
    EXPECT_EQ(countDiffInside(snapshot(), drawnAlone([] { GUI_FillEllipse(800, 600, 80, 200); }), 0, 0, W - 1, H - 1), 0);
    fillFrame(BG);
    call(CMD_drawEllipse, ellipseCmd(400, 300, 100, 40, 540, false));
    EXPECT_EQ(countDiffInside(snapshot(), drawnAlone([] { GUI_DrawEllipse(800, 600, 80, 200); }), 0, 0, W - 1, H - 1), 0);
    // 180 degrees (field 360): unrotated.
    fillFrame(BG);
    call(CMD_drawEllipse, ellipseCmd(400, 300, 100, 40, 360, true));
    EXPECT_EQ(countDiffInside(snapshot(), drawnAlone([] { GUI_FillEllipse(800, 600, 200, 80); }), 0, 0, W - 1, H - 1), 0);
    // 45 degrees (field 90): rotated, angle in quarter degrees.
    fillFrame(BG);
    call(CMD_drawEllipse, ellipseCmd(400, 300, 100, 40, 90, true));
    EXPECT_EQ(countDiffInside(snapshot(), drawnAlone([] { GUI_FillEllipseRot(800, 600, 200, 80, 180); }), 0, 0, W - 1, H - 1), 0);
    fillFrame(BG);
    GUI_SetPenSize(10);
    call(CMD_drawEllipse, ellipseCmd(400, 300, 100, 40, 90, false));
    EXPECT_EQ(countDiffInside(snapshot(), drawnAlone([] { GUI_DrawEllipseRot(800, 600, 200, 80, 180); }), 0, 0, W - 1, H - 1), 0);
    EXPECT_TRUE(reports().empty());
    EXPECT_TRUE(enginesIdle());
}

TEST_F(ShapeCommands, EllipseChecks) {
    EXPECT_EQ(call(CMD_drawEllipse, ellipseCmd(400, 300, 3, 40, 0, true)), 9);
    EXPECT_EQ(reports(), (std::vector<Bytes>{{0x04, 0x0E, 0x01, 0x00}}));
    EXPECT_EQ(call(CMD_drawEllipse, ellipseCmd(400, 300, 4, 40, 0, true)), 9);
    EXPECT_TRUE(reports().empty());
    EXPECT_EQ(call(CMD_drawEllipse, ellipseCmd(400, 300, 40, 30, 721, true)), 9);   // over 360 degrees
    EXPECT_EQ(call(CMD_drawEllipse, ellipseCmd(1449, 300, 40, 40, 0, true)), 9);    // 2898 > 80 + 2816
    EXPECT_EQ(call(CMD_drawEllipse, ellipseCmd(-170, 300, 40, 40, 0, true)), 9);    // -340 + 80 < -256
    EXPECT_EQ(reports().size(), 3u);
    EXPECT_EQ(call(CMD_drawEllipse, ellipseCmd(1448, 968, 40, 40, 720, true)), 9);   // exactly at the limits
    EXPECT_EQ(call(CMD_drawEllipse, ellipseCmd(-168, -168, 40, 40, 0, true)), 9);
    EXPECT_TRUE(reports().empty());
    EXPECT_EQ(call(CMD_drawEllipse, ellipseCmd(0, 0, 40, 40, 0, true), 8), -1);
    EXPECT_EQ(reports().size(), 1u);
}

TEST_F(ShapeCommands, TinyNegativeRootThroughTheCommand) {
    // Radii of 5 and 19 half pixels are 10 and 38 quarter pixels, the pair
    // whose tip rows take the root of a tiny negative number.
    EXPECT_EQ(call(CMD_drawEllipse, ellipseCmd(401, 400, 5, 19, 0, true)), 9);
    EXPECT_EQ(call(CMD_drawEllipse, ellipseCmd(401, 400, 5, 19, 0, false)), 9);
    EXPECT_NE(pixel(200, 190), BG);
    EXPECT_TRUE(enginesIdle());
}

TEST_F(ShapeCommands, ArcChecks) {
    EXPECT_EQ(call(CMD_drawArc, arcCmd(300, 200, 40, 41, 0, 180)), 10);
    EXPECT_EQ(reports(), (std::vector<Bytes>{{0x04, 0x10, 0x03, 0x00}}));
    int x0, y0, x1, y1;
    EXPECT_FALSE(paintedBox(BG, &x0, &y0, &x1, &y1));
    EXPECT_EQ(call(CMD_drawArc, arcCmd(300, 200, 40, 40, 0, 721)), 10);
    EXPECT_EQ(reports(), (std::vector<Bytes>{{0x04, 0x10, 0x01, 0x00}}));
    EXPECT_EQ(call(CMD_drawArc, arcCmd(300, 200, 0, 0, 0, 720)), 10);   // no lower bound on the radius
    EXPECT_EQ(call(CMD_drawArc, arcCmd(300, 200, 40, 40, 600, 100)), 10);
    EXPECT_TRUE(reports().empty());
    EXPECT_EQ(call(CMD_drawArc, arcCmd(300, 200, 40, 40, 0, 720), 9), -1);
    EXPECT_EQ(reports().size(), 1u);
    fillFrame(BG);
    GUI_SetPenSize(8);
    call(CMD_drawArc, arcCmd(300, 200, 40, 40, 30, 300));
    EXPECT_EQ(countDiffInside(snapshot(), drawnAlone([] { GUI_DrawArc(600, 400, 80, 80, 60, 600); }), 0, 0, W - 1, H - 1), 0);
}

TEST_F(ShapeCommands, PolygonLengthsAndChecks) {
    // n = 2 with enough bytes: rejected, 8 bytes consumed.
    Bytes two = pointsCmd(0x12, 0x82, {{10, 10}, {50, 10}, {0, 0}});
    EXPECT_EQ(call(CMD_drawPolygon, two), 8);
    EXPECT_EQ(reports(), (std::vector<Bytes>{{0x04, 0x12, 0x01, 0x00}}));
    // n = 3 with only 10 bytes: too short.
    Bytes three = pointsCmd(0x12, 0x83, {{10, 10}, {50, 10}, {30, 40}});
    EXPECT_EQ(call(CMD_drawPolygon, three, 10), -1);
    EXPECT_EQ(reports().size(), 1u);
    // n = 20 but fewer bytes than 2 + 60.
    Bytes cut = pointsCmd(0x12, 0x94, {{10, 10}, {50, 10}, {30, 40}, {10, 30}});
    EXPECT_EQ(call(CMD_drawPolygon, cut), -1);
    EXPECT_EQ(reports().size(), 1u);
    EXPECT_EQ(call(CMD_drawPolygon, three), 11);
    EXPECT_TRUE(reports().empty());
}

TEST_F(ShapeCommands, PolygonOutlineIsAClosedPath) {
    GUI_SetPenSize(6);
    call(CMD_drawPolygon, pointsCmd(0x12, 0x03, {{100, 100}, {400, 150}, {200, 380}}));
    auto viaCommand = snapshot();
    auto direct = drawnAlone([] {
        const GUI_POINT pts[] = {{200, 200}, {800, 300}, {400, 760}, {200, 200}};
        GUI_DrawPath(pts, 4);
    });
    EXPECT_EQ(countDiffInside(viaCommand, direct, 0, 0, W - 1, H - 1), 0);
}

TEST_F(ShapeCommands, PolygonSimpleFlagSelectsTheConvexFill) {
    const std::vector<std::pair<int, int>> bowTie = {{100, 100}, {300, 300}, {300, 100}, {100, 300}};
    call(CMD_drawPolygon, pointsCmd(0x12, 0x84, bowTie));
    EXPECT_NE(pixel(140, 60), BG);   // right triangle
    fillFrame(BG);
    call(CMD_drawPolygon, pointsCmd(0x12, 0xC4, bowTie));
    EXPECT_EQ(pixel(140, 60), BG);
}

TEST_F(ShapeCommands, PathLengthsAndSpline) {
    std::vector<std::pair<int, int>> many(65, {0, 0});
    Bytes tooMany = pointsCmd(0x0D, 0x41, many);
    ASSERT_EQ(tooMany.size(), 197u);
    EXPECT_EQ(call(CMD_drawPath, tooMany), 197);
    EXPECT_EQ(reports(), (std::vector<Bytes>{{0x04, 0x0D, 0x01, 0x00}}));
    EXPECT_EQ(call(CMD_drawPath, pointsCmd(0x0D, 0x01, {{0, 0}, {1, 1}})), 5);
    EXPECT_EQ(reports().size(), 1u);
    EXPECT_EQ(call(CMD_drawPath, pointsCmd(0x0D, 0x02, {{0, 0}, {1, 1}}), 7), -1);
    EXPECT_EQ(reports().size(), 1u);
    // Bit 7 with two points: the spline primitive.
    fillFrame(BG);
    EXPECT_EQ(call(CMD_drawPath, pointsCmd(0x0D, 0x82, {{100, 100}, {500, 300}})), 8);
    auto viaCommand = snapshot();
    auto direct = drawnAlone([] {
        const GUI_POINT pts[] = {{200, 200}, {1000, 600}};
        GUI_Spline(pts, 2);
    });
    EXPECT_EQ(countDiffInside(viaCommand, direct, 0, 0, W - 1, H - 1), 0);
    EXPECT_NE(pixel(150, 100), BG);
    EXPECT_TRUE(reports().empty());
}

TEST_F(ShapeCommands, LineAcceptsAnyCoordinates) {
    CommandBuilder b;
    b.u8(0x0F).pair(-2048, -2048).pair(2047, 2047);
    b.u8(0x0F).pair(2047, -2048).pair(-2048, 2047);
    b.u8(0x0F).pair(-2048, 400).pair(2047, 401);
    b.u8(0x0F).pair(0, 0).pair(0, 0);
    EXPECT_EQ(testsupport::run(b), 0);
    EXPECT_TRUE(reports().empty());
    EXPECT_NE(pixel(200, 200), BG);
    EXPECT_NE(pixel(439, 199), BG);
    EXPECT_TRUE(enginesIdle());
    EXPECT_EQ(call(CMD_drawLine, b.payload(), 6), -1);
    EXPECT_EQ(reports(), (std::vector<Bytes>{{0x04, 0x0F, 0x01, 0x00}}));
}

TEST_F(ShapeCommands, RandomShapesNeverDrawOutsideTheClip) {
    // Arbitrary field values for every shape command, pen and style, drawn
    // through the dispatcher under a clip rectangle.
    std::mt19937 rng(12345);
    auto u = [&](int n) { return (int)(rng() % (uint32_t)n); };
    GUI_SetClipRect(37, 23, 601, 377);
    auto before = snapshot();
    for (int i = 0; i < 400; i++) {
        CommandBuilder b;
        b.setPenStyle((uint8_t)(1 + u(128)), (uint8_t)u(2), (uint8_t)u(4));
        b.setColor(rng());
        const uint8_t ops[] = {0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x12};
        uint8_t op = ops[u(6)];
        b.u8(op);
        if (op == 0x0D || op == 0x12) {
            int n = 2 + u(62);
            b.u8((uint8_t)(n | (u(4) << 6)));
            int x = u(4096) - 2048;
            for (int k = 0; k < n; k++) {
                x += u(300) - (op == 0x0D && u(2) ? 20 : 150);
                b.pair(std::max(-2048, std::min(2047, x)), u(4096) - 2048);
            }
        } else {
            // Exactly the command's own length, so that no stray byte is
            // taken as another command.
            int fieldBytes = op == 0x0F ? 6 : op == 0x10 ? 9 : 8;
            for (int k = 0; k < fieldBytes; k++) b.u8((uint8_t)rng());
        }
        testsupport::run(b);
        ASSERT_TRUE(enginesIdle()) << "command " << i;
    }
    EXPECT_EQ(countDiffOutside(before, snapshot(), 37, 23, 601, 377), 0);
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
    b.setColor(0xFFFFC040);
    b.setPenStyle(6, 1, 0);
    auto ell = [&](int x, int y, int rx, int ry, int deg, bool fill) {
        Bytes e = ellipseCmd(H2(x), H2(y), H2(rx), H2(ry), deg * 2, fill);
        b.bytes(e);
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
    b.bytes(pointsCmd(0x12, 0x85, {{H2(160), H2(175)}, {H2(185), H2(125)}, {H2(210), H2(175)}, {H2(150), H2(140)}, {H2(220), H2(140)}}));
    b.setColor(0xFFFFFFFF);
    b.bytes(pointsCmd(0x0D, 0x84, {{H2(225), H2(170)}, {H2(250), H2(130)}, {H2(275), H2(160)}, {H2(300), H2(135)}}));
    testsupport::run(b);
    EXPECT_TRUE(matchesGolden("shapes_fills", 0, 120, 320, 60));
}

}  // namespace
