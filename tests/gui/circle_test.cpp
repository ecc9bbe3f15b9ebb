// Circles and ellipses: outlines as wide as the shape, clipping, and the rows
// whose square root would be taken of a tiny negative number. (A disc is in the primitives' golden scene, rotated ellipses in
// the shape commands'.)
#include <gtest/gtest.h>

#include <functional>

#include "gui/GUI_Circle.h"
#include "gui/GUI_Common.h"
#include "tests/gui/gui_test_support.h"

using namespace guitest;

namespace {

using Circles = ShapeTest;

TEST_F(Circles, TinyNegativeRootAtTheEllipseTipIsTheCentreColumn) {
    // For radii 10 and 38, rx^2 - ry^2 * (rx^2 / ry^2) is -7.6e-6 in single
    // precision at dy = +-ry. Those rows touch the ellipse at its centre:
    // the pixel rows holding the tips are drawn, the ellipse is not cut off.
    GUI_FillEllipse(802, 800, 10, 38);
    EXPECT_EQ(painted(), (Box{198, 190, 202, 209}));
    fillFrame(BG);
    GUI_SetPenSize(4);
    GUI_DrawEllipse(802, 800, 10, 38);
    EXPECT_NE(pixel(200, 190), BG);
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Circles, OutlineWithNonPositiveInnerRadiusIsTheFilledShape) {
    // Pens from just past the smaller radius (an inner radius of 0 for the
    // rotated outline at 41 and 45) to well past the larger one.
    using Draw = std::function<void()>;
    const std::pair<Draw, Draw> shapes[] = {
        {[] { GUI_FillCircle(800, 800, 40); }, [] { GUI_DrawCircle(800, 800, 40); }},
        {[] { GUI_FillEllipse(800, 800, 40, 120); }, [] { GUI_DrawEllipse(800, 800, 40, 120); }},
        {[] { GUI_FillEllipseRot(800, 800, 40, 120, 100); }, [] { GUI_DrawEllipseRot(800, 800, 40, 120, 100); }},
    };
    for (const auto &[fill, outline] : shapes) {
        const Frame filled = drawnAlone(fill);
        for (uint32_t pen : {41u, 45u, 60u, 121u, 200u}) {
            GUI_SetPenSize(pen);
            EXPECT_EQ(diffIn(filled, drawnAlone(outline)), 0) << "pen " << pen;
        }
    }
    // A thin outline keeps its hole.
    GUI_SetPenSize(8);
    GUI_DrawCircle(800, 1200, 80);
    EXPECT_EQ(pixel(200, 300), BG);
    EXPECT_EQ(pixel(200, 281), FG);
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Circles, ClippedShapesMatchUnclippedOnesInsideTheClip) {
    GUI_SetPenSize(12);
    EXPECT_TRUE(clipsExactly(
        [] {
            GUI_FillCircle(200, 300, 180);
            GUI_DrawCircle(700, 200, 150);
            GUI_FillEllipse(1200, 300, 300, 100);
            GUI_DrawEllipse(1800, 300, 200, 280);
            GUI_FillEllipseRot(600, 700, 300, 100, 300);
            GUI_DrawEllipseRot(1300, 700, 250, 120, 1000);
        },
        {60, 55, 400, 190}));
}

}  // namespace
