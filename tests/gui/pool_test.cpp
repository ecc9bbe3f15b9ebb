// The bump allocator's rounding, release and exhaustion.
#include <gtest/gtest.h>

#include "gui/GUI_Alloc.h"
#include "tests/support/device_fixture.h"

class Pool : public BareDeviceTest {
protected:
    void SetUp() override {
        BareDeviceTest::SetUp();
        GUI_AllocEnd(0);
    }
};

TEST_F(Pool, RoundsUpToWholeWords) {
    uint8_t *a = (uint8_t *)GUI_AllocNoInit(1);
    uint8_t *b = (uint8_t *)GUI_AllocNoInit(0);
    uint8_t *c = (uint8_t *)GUI_AllocNoInit(5);
    EXPECT_EQ(b - a, 4);
    EXPECT_EQ(GUI_AllocNoInit(0), (void *)(c + 8));
    EXPECT_EQ(GUI_GetNumFreeBytes(), POOL_SIZE_BYTES - 12);
}

TEST_F(Pool, ZeroClearsTheRequestedBytesOnly) {
    uint8_t *a = (uint8_t *)GUI_AllocNoInit(8);
    for (int i = 0; i < 8; i++) a[i] = 0xEE;
    GUI_AllocEnd(0);
    uint8_t *b = (uint8_t *)GUI_AllocZero(5);
    ASSERT_EQ(a, b);
    for (int i = 0; i < 5; i++) EXPECT_EQ(b[i], 0);
    for (int i = 5; i < 8; i++) EXPECT_EQ(b[i], 0xEE);
}

TEST_F(Pool, MarkAndReleaseRestoreTheFreeCountAndTheLastBytesCanBeTaken) {
    uint32_t before = GUI_GetNumFreeBytes();
    uint32_t mark = GUI_AllocStart();
    GUI_AllocZeroElements(10, 10);
    void *p = GUI_AllocNoInit(1000);
    GUI_Free(p);
    EXPECT_EQ(GUI_GetNumFreeBytes(), before - 1100);
    GUI_AllocEnd(mark);
    EXPECT_EQ(GUI_GetNumFreeBytes(), before);
    GUI_AllocNoInit(before - 8);
    EXPECT_EQ(GUI_GetNumFreeBytes(), 8u);
    GUI_AllocNoInit(8);
    EXPECT_EQ(GUI_GetNumFreeBytes(), 0u);
}

using PoolDeathTest = Pool;

TEST_F(PoolDeathTest, ExhaustionAndHugeRequestsAbortInsteadOfWrapping) {
    EXPECT_DEATH(GUI_AllocNoInit(0xFFFFFFFFu), "");
    EXPECT_DEATH(GUI_AllocZeroElements(0x10000, 0x10001), "");
    GUI_AllocNoInit(POOL_SIZE_BYTES);
    EXPECT_DEATH(GUI_AllocNoInit(1), "");
}
