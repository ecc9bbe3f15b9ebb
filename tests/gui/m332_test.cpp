// RGB332 conversions and the spread-colour mixing routines, checked against
// per-channel arithmetic written out independently.
#include <gtest/gtest.h>

#include <cstring>

#include "gui/GUICC_M332.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Common.h"
#include "tests/gui/gui_test_support.h"

using guitest::refMix;

TEST(ColorConversion, ChannelsRoundToTheNearestLevelAndIndicesExpandThroughTables) {
    const std::pair<uint32_t, uint8_t> cases[] = {
        {0xFFFF0000, 0xE0}, {0xFF00FF00, 0x1C}, {0xFF0000FF, 0x03}, {0x80808080, 0x92}, {0x00000000, 0x00},
    };
    for (auto [argb, index] : cases) EXPECT_EQ(Color2Index_M332(argb), index) << std::hex << argb;
    for (uint32_t c = 0; c < 256; c++) {
        // round(c * 7 / 255) and round(c * 3 / 255), halves up, in exact integers.
        uint32_t r3 = (c * 7 * 2 + 255) / (255 * 2), b2 = (c * 3 * 2 + 255) / (255 * 2);
        uint8_t index = Color2Index_M332(0xFF000000u | (c << 16) | (c << 8) | c);
        EXPECT_EQ(index, (r3 << 5) | (r3 << 2) | b2) << "channel value " << c;
    }
    EXPECT_EQ(Index2Color_M332(0x24), 0xFF252500u);
    EXPECT_EQ(Index2Color_M332(0x92), 0xFF9292AAu);
    for (int i = 0; i < 256; i++) EXPECT_EQ(Color2Index_M332(Index2Color_M332((uint8_t)i)), i);
}

TEST(Mix, MatchesPerChannelBlendForAllPairsAndWeights) {
    EXPECT_EQ(M332_Mix(M332_Spread(0xFF), M332_Spread(0x00), 4), 0x6D);   // half white on black
    for (int fore = 0; fore < 256; fore++)
        for (int back = 0; back < 256; back++)
            for (int f = 0; f <= 8; f++)
                ASSERT_EQ(M332_Mix(M332_Spread((uint8_t)fore), M332_Spread((uint8_t)back), (uint32_t)f),
                          refMix((uint8_t)fore, (uint8_t)back, f))
                    << "fore " << fore << " back " << back << " weight " << f;
}

class MixRoutines : public BareDeviceTest {
protected:
    void SetUp() override {
        BareDeviceTest::SetUp();
        GUI_SetColor(0xFFFFFFFF);
    }
};

TEST_F(MixRoutines, ColorLineSkipsPixelsAlreadyInColourAndWeighsOpacity) {
    uint8_t *row = GetPixelAddr_8bit(10, 5);
    row[1] = 0xFF;
    const uint8_t opacities[4] = {16, 3, 0, 8};
    MixColorLineM332(10, 5, opacities, 4);
    // Weight 8, already the colour, weight 0, (8 + 1) >> 1, past the count.
    const uint8_t expected[5] = {0xFF, 0xFF, 0x00, refMix(0xFF, 0x00, 4), 0x00};
    for (int i = 0; i < 5; i++) EXPECT_EQ(row[i], expected[i]) << i;
}

TEST_F(MixRoutines, CoverageBlocksWeighTwoAndFourBitLevels) {
    // 2 bits: levels 3, 2, 1, 0 give the colour, weight 6, weight 3, nothing.
    const uint8_t two[1] = {0xE4};
    Mix2bitBlockM332(0, 0, 1, two, 4, 1, 0);
    // 4 bits: half the level is the weight, so level 1 leaves the pixel.
    const uint8_t four[2] = {0xF1, 0x8E};
    Mix4bitBlockM332(0, 1, 2, four, 4, 2, 0);
    const uint8_t expected[2][4] = {{0xFF, refMix(0xFF, 0, 6), refMix(0xFF, 0, 3), 0x00},
                                    {0xFF, 0x00, refMix(0xFF, 0, 4), refMix(0xFF, 0, 7)}};
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 4; x++) EXPECT_EQ(fb[y * 640 + x], expected[y][x]) << x << "," << y;
}

TEST_F(MixRoutines, TwoBitBlockSkipsLeadingPixelsAndZeroBytes) {
    GUI_SetColor(0xFFFF0000);   // red, index 0xE0
    // Row 0: skip 2 of the first byte (its last two pixels are 3, 3), then a
    // zero byte (4 pixels left alone), then 0xC0 (one full pixel). Row 1
    // begins at byte 3: 0x0F, whose skipped pixels leave 3, 3.
    const uint8_t data[6] = {0xFF, 0x00, 0xC0, 0x0F, 0x00, 0x00};
    Mix2bitBlockM332(100, 10, 12, data, 9, 3, 2);
    const uint8_t row0[7] = {0xE0, 0xE0, 0, 0, 0, 0, 0xE0}, row1[3] = {0xE0, 0xE0, 0};
    for (int i = 0; i < 7; i++) EXPECT_EQ(fb[10 * 640 + 100 + i], row0[i]) << i;
    for (int i = 0; i < 3; i++) EXPECT_EQ(fb[11 * 640 + 100 + i], row1[i]) << i;
}

TEST_F(MixRoutines, IndexLineAlphaSevenIsOpaqueAndSmallAlphasAreInvisible) {
    const uint8_t pairs[8] = {0x1C, 7, 0x1C, 8, 0x1C, 255, 0x1C, 128};
    memset(fb, 0xE0, 4);
    MixIndexLineM332(pairs, 0, 0, pairs + 1, 4, 2);
    const uint8_t expected[4] = {0x1C, 0xE0, 0x1C, refMix(0x1C, 0xE0, (128 + 15) >> 5)};
    for (int i = 0; i < 4; i++) EXPECT_EQ(fb[i], expected[i]) << i;
}
