// The inflater's working memory: the state and the window each come from
// their own area, once, and nothing larger than an area is ever served.
#include <gtest/gtest.h>

#include "codecs/inflate_area.h"

namespace {

InflateArea area;

// A zlib whose state were larger than the area made for it: each request it
// makes is 64 bytes more than the real one's.
voidpf _LargerStateAlloc(voidpf opaque, uInt items, uInt size) {
    return InflateArea_Alloc(opaque, 1, items * size + 64);
}

}  // namespace

TEST(InflateArea, StateThenWindowEachFromTheirOwnAreaOnce) {
    z_stream zs;
    ASSERT_EQ(InflateArea_Init(&zs, &area), Z_OK);
    EXPECT_EQ(area.stateTaken, 1);
    // The window is asked for on the first output; nothing more after it.
    EXPECT_EQ(InflateArea_Alloc(&area, 1, INFLATE_WINDOW_BYTES + 1), nullptr);
    EXPECT_EQ(InflateArea_Alloc(&area, 1, INFLATE_WINDOW_BYTES), (voidpf)area.window);
    EXPECT_EQ(InflateArea_Alloc(&area, 1, 8), nullptr);
}

TEST(InflateArea, AStateLargerThanItsAreaFailsToInitialise) {
    // Served from the window area it would initialise, and fail only later
    // for want of a window; refused, it fails at once.
    area.stateTaken = area.windowTaken = 0;
    EXPECT_EQ(InflateArea_Alloc(&area, 1, INFLATE_STATE_BYTES + 1), nullptr);
    EXPECT_EQ(area.windowTaken, 0);
    EXPECT_EQ(InflateArea_Alloc(&area, 1, INFLATE_STATE_BYTES), (voidpf)area.state);

    z_stream zs{};
    area.stateTaken = area.windowTaken = 0;
    zs.zalloc = _LargerStateAlloc;
    zs.zfree = InflateArea_Free;
    zs.opaque = &area;
    EXPECT_EQ(inflateInit2(&zs, 15), Z_MEM_ERROR);
    EXPECT_EQ(area.windowTaken, 0);
}
