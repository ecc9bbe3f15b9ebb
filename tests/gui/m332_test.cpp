// RGB332 conversions and the spread-colour mixing routines, checked against
// per-channel arithmetic written out independently.
#include <gtest/gtest.h>

#include "gui/GUICC_M332.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Common.h"
#include "tests/support/device_fixture.h"

namespace {

// Per-channel blend: red and green move floor((fore - back) * f / 8) from the
// background; blue does the same on twice its value, then halves.
uint8_t referenceMix(uint8_t fore, uint8_t back, int f) {
    auto blend = [f](int fg, int bg) {
        int d = (fg - bg) * f;
        int q = d >= 0 ? d / 8 : -((-d + 7) / 8);   // floor division
        return bg + q;
    };
    int r = blend(fore >> 5, back >> 5);
    int g = blend((fore >> 2) & 7, (back >> 2) & 7);
    int b = blend((fore & 3) * 2, (back & 3) * 2) / 2;
    return (uint8_t)((r << 5) | (g << 2) | b);
}

}  // namespace

TEST(ColorConversion, QuantisesChannelsToNearestLevel) {
    EXPECT_EQ(Color2Index_M332(0xFFFFFFFF), 0xFF);
    EXPECT_EQ(Color2Index_M332(0xFFFF0000), 0xE0);
    EXPECT_EQ(Color2Index_M332(0xFF00FF00), 0x1C);
    EXPECT_EQ(Color2Index_M332(0xFF0000FF), 0x03);
    EXPECT_EQ(Color2Index_M332(0xFF242424), 0x24);
    EXPECT_EQ(Color2Index_M332(0xFF252525), 0x24);
    EXPECT_EQ(Color2Index_M332(0x80808080), 0x92);
    EXPECT_EQ(Color2Index_M332(0x00000000), 0x00);
}

TEST(ColorConversion, EveryChannelValueRoundsLikeScaledDivision) {
    for (uint32_t c = 0; c < 256; c++) {
        // round(c * 7 / 255) and round(c * 3 / 255), halves up, in exact integers.
        uint32_t r3 = (c * 7 * 2 + 255) / (255 * 2);
        uint32_t b2 = (c * 3 * 2 + 255) / (255 * 2);
        uint8_t index = Color2Index_M332(0xFF000000u | (c << 16) | (c << 8) | c);
        EXPECT_EQ(index >> 5, r3) << "channel value " << c;
        EXPECT_EQ((index >> 2) & 7, r3) << "channel value " << c;
        EXPECT_EQ(index & 3, b2) << "channel value " << c;
    }
}

TEST(ColorConversion, IndexExpandsThroughLevelTables) {
    EXPECT_EQ(Index2Color_M332(0x24), 0xFF252500u);
    EXPECT_EQ(Index2Color_M332(0x92), 0xFF9292AAu);
    for (int i = 0; i < 256; i++) EXPECT_EQ(Color2Index_M332(Index2Color_M332((uint8_t)i)), i);
}

TEST(Mix, HalfWhiteOnBlack) { EXPECT_EQ(M332_Mix(M332_Spread(0xFF), M332_Spread(0x00), 4), 0x6D); }

TEST(Mix, MatchesPerChannelBlendForAllPairsAndWeights) {
    for (int fore = 0; fore < 256; fore++) {
        for (int back = 0; back < 256; back++) {
            for (int f = 0; f <= 8; f++) {
                ASSERT_EQ(M332_Mix(M332_Spread((uint8_t)fore), M332_Spread((uint8_t)back), (uint32_t)f),
                          referenceMix((uint8_t)fore, (uint8_t)back, f))
                    << "fore " << fore << " back " << back << " weight " << f;
            }
        }
    }
}

class MixRoutines : public BareDeviceTest {};

TEST_F(MixRoutines, ColorLineSkipsPixelsAlreadyInColourAndWeighsOpacity) {
    GUI_SetColor(0xFFFFFFFF);
    uint8_t *row = GetPixelAddr_8bit(10, 5);
    row[0] = 0x00;
    row[1] = 0xFF;
    row[2] = 0x00;
    row[3] = 0x00;
    const uint8_t opacities[4] = {16, 3, 0, 8};
    MixColorLineM332(10, 5, opacities, 4);
    EXPECT_EQ(row[0], 0xFF);                         // weight 8
    EXPECT_EQ(row[1], 0xFF);                         // already the colour
    EXPECT_EQ(row[2], 0x00);                         // weight 0
    EXPECT_EQ(row[3], referenceMix(0xFF, 0x00, 4));  // (8 + 1) >> 1
    EXPECT_EQ(row[4], 0x00);                         // past the count
}

TEST_F(MixRoutines, TwoBitBlockWritesColourWeightSixWeightThreeNothing) {
    GUI_SetColor(0xFFFFFFFF);
    const uint8_t data[1] = {0xE4};
    Mix2bitBlockM332(0, 0, 1, data, 4, 1, 0);
    EXPECT_EQ(fb[0], 0xFF);
    EXPECT_EQ(fb[1], referenceMix(0xFF, 0, 6));
    EXPECT_EQ(fb[2], referenceMix(0xFF, 0, 3));
    EXPECT_EQ(fb[3], 0x00);
}

TEST_F(MixRoutines, TwoBitBlockSkipsLeadingPixelsAndZeroBytes) {
    GUI_SetColor(0xFFFF0000);   // red, index 0xE0
    // Row 0: skip 2 of the first byte (its last two pixels are 3, 3), then a
    // zero byte (4 pixels left alone), then 0xC0 (one full pixel).
    const uint8_t data[6] = {0xFF, 0x00, 0xC0, 0x0F, 0x00, 0x00};
    Mix2bitBlockM332(100, 10, 12, data, 9, 3, 2);
    // The destination x corresponds to counter value 2.
    EXPECT_EQ(fb[10 * 640 + 100], 0xE0);
    EXPECT_EQ(fb[10 * 640 + 101], 0xE0);
    for (int i = 102; i < 106; i++) EXPECT_EQ(fb[10 * 640 + i], 0) << i;
    EXPECT_EQ(fb[10 * 640 + 106], 0xE0);
    // Row 1 begins at byte 3: 0x0F -> skip shifts out 2 pixels: values 3, 3.
    EXPECT_EQ(fb[11 * 640 + 100], 0xE0);
    EXPECT_EQ(fb[11 * 640 + 101], 0xE0);
    EXPECT_EQ(fb[11 * 640 + 102], 0);
}

TEST_F(MixRoutines, FourBitBlockUsesHalfCoverageAsWeight) {
    GUI_SetColor(0xFFFFFFFF);
    const uint8_t data[2] = {0xF1, 0x8E};
    Mix4bitBlockM332(0, 0, 1, data, 4, 2, 0);
    EXPECT_EQ(fb[0], 0xFF);
    EXPECT_EQ(fb[1], 0x00);   // v = 1: weight 0
    EXPECT_EQ(fb[2], referenceMix(0xFF, 0, 4));
    EXPECT_EQ(fb[3], referenceMix(0xFF, 0, 7));
}

TEST_F(MixRoutines, IndexLineAlphaSevenIsOpaqueAndSmallAlphasAreInvisible) {
    const uint8_t pairs[8] = {0x1C, 7, 0x1C, 8, 0x1C, 255, 0x1C, 128};
    fb[0] = fb[1] = fb[2] = fb[3] = 0xE0;
    MixIndexLineM332(pairs, 0, 0, pairs + 1, 4, 2);
    EXPECT_EQ(fb[0], 0x1C);
    EXPECT_EQ(fb[1], 0xE0);
    EXPECT_EQ(fb[2], 0x1C);
    EXPECT_EQ(fb[3], referenceMix(0x1C, 0xE0, (128 + 15) >> 5));
}
