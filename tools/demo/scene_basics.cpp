// The opening scene: connect, coloured rectangles, system queries, a tick
// rate change and a bad opcode.
#include "tools/demo/demo_scenes.h"

DEMO_SCENE(100, basics) {
    nimbra::CommandBuilder b;
    b.connect().systemInfo(1).systemInfo(5);
    nimbra::appendRecord(stream, b.payload());
    b.clear();

    // The clear command paints black whatever the current colour, and keeps
    // that colour for the drawing commands that follow. Cut a staircase out
    // of the boot screen, one clear per step (rectangles in half pixels).
    const uint32_t colours[] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};
    for (int i = 0; i < 8; i++) {
        b.setColor(colours[i % 4]);
        b.clearRect(i * 160, 0, 158, 100 * (i + 1));
    }
    demo::showFrame(stream, b, frameId);
    b.clearRect(0, 0, 1280, 800);
    demo::showFrame(stream, b, frameId);

    b.setTickRate(50, 0).setTickRate(50, 1);
    nimbra::appendRecord(stream, b.payload());
    b.clear();
    // An unknown opcode drops the rest of its record and sets status bit 5,
    // which the next status reply reports.
    b.u8(0x33).u8(0x02);
    nimbra::appendRecord(stream, b.payload());
    b.clear();
    b.systemInfo(1);
    nimbra::appendRecord(stream, b.payload());
    b.clear();
}
