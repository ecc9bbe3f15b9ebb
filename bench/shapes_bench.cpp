// Drawing: each primitive at a typical size, the two antialiasing engines
// fed directly, and a line of antialiased text through the text command.
// Coordinates are quarter pixels (4 x pixels) where the primitive takes them.
#include "bench/bench_support.h"
#include "gui/GUI_AALib.h"
#include "gui/GUI_AALibSimple.h"
#include "gui/GUI_Arc.h"
#include "gui/GUI_Circle.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Line.h"
#include "gui/GUI_Polygon.h"
#include "gui/GUI_Rect.h"
#include "gui/GUI_Spline.h"
#include "protocol/commandHandler.h"
#include "tools/hostlib/nimbra_host.h"

namespace {

constexpr int32_t Q(int32_t pixels) { return pixels * 4; }

// A shape with every call; the colour alternates so that blending always
// has something to do.
void setPen(benchmark::State &state, uint32_t penQuarterPixels) {
    GUI_SetColor(state.iterations() & 1 ? 0xFFFFC040 : 0xFF2060A0);
    GUI_SetPenSize(penQuarterPixels);
}

// The engines on their own: a disc of spans, 200 pixels across, one span per
// subpixel row.
template <bool simple>
void BM_Engine(benchmark::State &state) {
    for (auto _ : state) {
        GUI_SetColor(state.iterations() & 1 ? 0xFFFFC040 : 0xFF2060A0);
        const int32_t cx = Q(320), cy = Q(200), r = Q(100);
        if (simple) {
            AA_InitSimple(cx - r, cx + r);
        } else {
            AA_Init(cx - r, cx + r);
        }
        for (int32_t y = -r + 1; y < r; y++) {
            int32_t half = 0;
            while ((half + 1) * (half + 1) + y * y < r * r) half++;
            if (simple) {
                AA_DrawHLineSimple(cx - half, cy + y, cx + half);
            } else {
                AA_DrawHLine(cx - half, cy + y, cx + half);
            }
        }
        if (simple) {
            AA_ExitSimple();
        } else {
            AA_Exit();
        }
    }
}
BENCHMARK(BM_Engine<true>)->Name("aa/simple_engine_disc_200px");
BENCHMARK(BM_Engine<false>)->Name("aa/general_engine_disc_200px");

void BM_LineThin(benchmark::State &state) {
    for (auto _ : state) {
        setPen(state, 4);
        GL_DrawLine(Q(20), Q(30), Q(600), Q(370));
    }
}
BENCHMARK(BM_LineThin)->Name("shape/line_1px_580px");

void BM_LineThick(benchmark::State &state) {
    for (auto _ : state) {
        setPen(state, Q(8));
        GL_DrawLine(Q(20), Q(30), Q(600), Q(370));
    }
}
BENCHMARK(BM_LineThick)->Name("shape/line_8px_580px");

void BM_Path(benchmark::State &state) {
    static GUI_POINT points[16];
    for (int i = 0; i < 16; i++) points[i] = GUI_POINT{Q(20 + i * 38), Q(i & 1 ? 350 : 50)};
    for (auto _ : state) {
        setPen(state, Q(6));
        GUI_DrawPath(points, 16);
    }
}
BENCHMARK(BM_Path)->Name("shape/path_6px_16_points");

void BM_FillRect(benchmark::State &state) {
    for (auto _ : state) {
        setPen(state, 4);
        GUI_FillRect(100, 100, 299, 219);
    }
}
BENCHMARK(BM_FillRect)->Name("shape/fillRect_200x120");

void BM_FillRoundedRect(benchmark::State &state) {
    for (auto _ : state) {
        setPen(state, 4);
        GUI_FillRoundedRect(Q(100), Q(100), Q(300), Q(220), Q(16));
    }
}
BENCHMARK(BM_FillRoundedRect)->Name("shape/fillRoundedRect_200x120_r16");

void BM_DrawRoundedRect(benchmark::State &state) {
    for (auto _ : state) {
        setPen(state, Q(3));
        GUI_DrawRoundedRect(Q(100), Q(100), Q(300), Q(220), Q(16));
    }
}
BENCHMARK(BM_DrawRoundedRect)->Name("shape/drawRoundedRect_200x120_r16_3px");

void BM_FillCircle(benchmark::State &state) {
    for (auto _ : state) {
        setPen(state, 4);
        GUI_FillCircle(Q(320), Q(200), Q(60));
    }
}
BENCHMARK(BM_FillCircle)->Name("shape/fillCircle_r60");

void BM_DrawCircle(benchmark::State &state) {
    for (auto _ : state) {
        setPen(state, Q(3));
        GUI_DrawCircle(Q(320), Q(200), Q(60));
    }
}
BENCHMARK(BM_DrawCircle)->Name("shape/drawCircle_r60_3px");

void BM_FillEllipseRot(benchmark::State &state) {
    for (auto _ : state) {
        setPen(state, 4);
        GUI_FillEllipseRot(Q(320), Q(200), Q(120), Q(50), 200);
    }
}
BENCHMARK(BM_FillEllipseRot)->Name("shape/fillEllipseRot_120x50");

void BM_DrawEllipseRot(benchmark::State &state) {
    for (auto _ : state) {
        setPen(state, Q(3));
        GUI_DrawEllipseRot(Q(320), Q(200), Q(120), Q(50), 200);
    }
}
BENCHMARK(BM_DrawEllipseRot)->Name("shape/drawEllipseRot_120x50_3px");

void BM_Arc(benchmark::State &state) {
    for (auto _ : state) {
        setPen(state, Q(6));
        GUI_DrawArc(Q(320), Q(200), Q(80), Q(80), 0, 1000);
    }
}
BENCHMARK(BM_Arc)->Name("shape/arc_r80_6px_250deg");

void BM_FillPolygon(benchmark::State &state) {
    // A star: not convex, so the general engine draws it.
    static GUI_POINT star[10];
    for (int i = 0; i < 10; i++) {
        static const int dx[10] = {0, 24, 95, 38, 59, 0, -59, -38, -95, -24};
        static const int dy[10] = {-100, -31, -31, 12, 81, 38, 81, 12, -31, -31};
        star[i] = GUI_POINT{Q(320 + dx[i]), Q(200 + dy[i])};
    }
    for (auto _ : state) {
        setPen(state, 4);
        GUI_FillPolygon(star, 10, 0);
    }
}
BENCHMARK(BM_FillPolygon)->Name("shape/fillPolygon_star_200px");

void BM_Spline(benchmark::State &state) {
    static GUI_POINT points[8];
    for (int i = 0; i < 8; i++) points[i] = GUI_POINT{Q(40 + i * 80), Q(i & 1 ? 120 : 280)};
    for (auto _ : state) {
        setPen(state, 4);
        GUI_Spline(points, 8);
    }
}
BENCHMARK(BM_Spline)->Name("shape/spline_8_points");

// The text command with a built-in font: 40 characters, 4-bit glyphs.
void BM_TextLine(benchmark::State &state) {
    const std::string text = "Speed 88 km/h  Range 412 km  Temp 21.5 C";
    nimbra::CommandBuilder b;
    b.setColor(0xFFFFFFFF);
    b.u8(0x08).u8(1).pair(40, 300).u8(0).u8((uint8_t)text.size()).text(text);
    for (auto _ : state) {
        if (handleCommand(b.payload().data(), (uint32_t)b.size()) != DISPATCH_DONE) {
            bench::fail("the text command failed");
        }
    }
}
BENCHMARK(BM_TextLine)->Name("text/line_40_chars");

}  // namespace
