// nimbra-golden and nimbra-inspect run as users run them: golden frames of
// a small script a new user writes, checked after a pixel changed and a
// frame went missing; the demo's report opened in a real browser.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/tool_process.h"
#include "tools/export/golden.h"
#include "tools/hostlib/file_io.h"
#include "tools/hostlib/png_files.h"

namespace fs = std::filesystem;
using testsupport::builtProgram;
using testsupport::runCommand;
using testsupport::shellQuote;

namespace {

// Three frames after the boot screen: a red box, a green one beside it, and
// the same screen in grey.
const char *const kScript = R"(connect
color #FF0000
rect 10 10 109 59 0 fill
copy
color #00FF00
rect 200 100 249 149 0 fill
copy
enable palette on 1
copy
)";

fs::path scratch(const std::string &name) {
    const fs::path dir = fs::path(NIMBRA_BINARY_DIR) / "inspect_tools_test" / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

testsupport::ProcessRun golden(const std::string &action, const fs::path &dir, const std::string &more = "") {
    return runCommand(builtProgram("nimbra-golden") + " " + action + " " + shellQuote((dir / "app.nsc").string()) +
                      " " + shellQuote((dir / "golden").string()) + more);
}

}  // namespace

TEST(Golden, ChecksPassThenFindAChangedPixelAndMissingFrames) {
    const fs::path dir = scratch("golden");
    std::string error;
    ASSERT_TRUE(nimbra::saveFile((dir / "app.nsc").string(), kScript, error)) << error;
    auto run = golden("update", dir);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("4 frames written"), std::string::npos) << run.output;
    ASSERT_EQ(nimbra::goldenFramesIn((dir / "golden").string()), (std::set<uint64_t>{0, 1, 2, 3}));

    run = golden("check", dir);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("4 frames match"), std::string::npos) << run.output;

    // One pixel of the approved frame 2 changed: the frame differs there.
    const std::string frame2 = (dir / "golden" / "frame_0002.png").string();
    nimbra::RgbaImage image;
    ASSERT_TRUE(nimbra::readPngRgba(frame2, image, error)) << error;
    image.pixel(300, 200)[1] ^= 0xFF;
    ASSERT_TRUE(nimbra::writePngRgba(frame2, image, error)) << error;
    run = golden("check", dir);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("frame 2: 1 pixel differs, in the box (300, 200) to (300, 200), 1 x 1"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("1 of 4 frames differ"), std::string::npos) << run.output;
    nimbra::RgbaImage diff;
    ASSERT_TRUE(nimbra::readPngRgba((dir / "golden" / "diff" / "frame_0002.png").string(), diff, error)) << error;
    const uint8_t *marked = diff.pixel(300, 200);
    EXPECT_EQ((nimbra::Rgb{marked[0], marked[1], marked[2]}), nimbra::kDiffMark);
    const uint8_t *outline = diff.pixel(299, 199);
    EXPECT_EQ((nimbra::Rgb{outline[0], outline[1], outline[2]}), nimbra::kDiffBox);
    EXPECT_FALSE(fs::exists(dir / "golden" / "diff" / "frame_0001.png"));

    // Approved again, then the last frame's file lost and one frame too
    // many kept: both are differences.
    ASSERT_EQ(golden("update", dir).status, 0);
    EXPECT_FALSE(fs::exists(dir / "golden" / "diff"));
    fs::rename(dir / "golden" / "frame_0003.png", dir / "golden" / "frame_0004.png");
    run = golden("check", dir);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("frame 3: extra"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("frame 4: missing"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("only frames 0 to 3"), std::string::npos) << run.output;

    // Only the frames asked for are compared.
    run = golden("check", dir, " --frames 1-2");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("2 frames match"), std::string::npos) << run.output;

    run = runCommand(builtProgram("nimbra-golden") + " check " + shellQuote((dir / "app.nsc").string()) + " " +
                     shellQuote((dir / "nowhere").string()));
    EXPECT_EQ(run.status, 2) << run.output;
}

// The demo's report in headless Chromium: one element per frame, a known
// command of a known frame with its offset and its reply, and a screenshot
// (inspect_tools_test/report.png in the build folder) for a person to see.
TEST(InspectReport, OpensInABrowserWithEveryFrameAndCommand) {
    const char *chromium = nullptr;
    for (const char *name : {"chromium", "chromium-browser"})
        if (runCommand(std::string("command -v ") + name + " >/dev/null").status == 0) chromium = name;
    if (!chromium) GTEST_SKIP() << "no Chromium installed (scripts/install-deps.sh installs it)";

    const fs::path dir = scratch("report");
    auto run = runCommand(builtProgram("nimbra-inspect") + " " +
                          shellQuote(std::string(NIMBRA_SOURCE_DIR) + "/examples/demo.rec") + " -o " +
                          shellQuote((dir / "demo").string()));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("29 frames"), std::string::npos) << run.output;

    // Chromium keeps away from the network (closed here) with these flags;
    // the budget lets the page's scripts load the frame's data and run.
    const auto browse = [&](const std::string &profile, const std::string &what,
                            const std::string &file = "index.html") {
        const std::string page = "file://" + (dir / "demo" / file).string() + "#3";
        return runCommand(std::string("timeout 120 ") + chromium +
                          " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
                          " --disable-background-networking --disable-component-update --disable-sync"
                          " --user-data-dir=" + shellQuote((dir / profile).string()) +
                          " --virtual-time-budget=10000 --window-size=1600,1000 " + what + " " + shellQuote(page));
    };
    const fs::path dom = dir / "dom.html", shot = fs::path(NIMBRA_BINARY_DIR) / "inspect_tools_test" / "report.png";
    run = browse("profile-dom", "--dump-dom 2>/dev/null >" + shellQuote(dom.string()));
    ASSERT_EQ(run.status, 0) << run.output;
    const nimbra::Bytes domBytes = nimbra::readFile(dom.string());
    const std::string html(domBytes.begin(), domBytes.end());

    // Plain searches: std::regex recurses once per character, too deep for
    // a page of this size.
    size_t frames = 0;
    for (size_t at = html.find(" data-frame=\""); at != std::string::npos; at = html.find(" data-frame=\"", at + 1)) {
        const size_t value = at + 13;
        EXPECT_EQ(html.substr(value, html.find('"', value) - value), std::to_string(frames++));
    }
    EXPECT_EQ(frames, 29u);

    // Frame 3's commands: the status query at byte 185 of the recording,
    // listed with its offset, answered by the status reply decoded by name,
    // with the dispatcher's log line; the unknown opcode before it noted.
    const size_t start = html.find("data-offset=\"185\"");
    ASSERT_NE(start, std::string::npos) << html.substr(0, 2000);
    const size_t end = html.find("data-offset=", start + 1);
    const std::string text = html.substr(start, end == std::string::npos ? std::string::npos : end - start);
    EXPECT_NE(text.find("@185"), std::string::npos) << text;
    EXPECT_NE(text.find("system-info status"), std::string::npos) << text;
    EXPECT_NE(text.find("class=\"reply\">\u2190 system-status level 100"), std::string::npos) << text;
    EXPECT_NE(text.find("opcode: 0x17"), std::string::npos) << text;
    EXPECT_NE(html.find("unknown opcode 0x33"), std::string::npos);
    EXPECT_NE(html.find("class=\"thumb selected\""), std::string::npos);
    EXPECT_NE(html.find("id=\"picture\" alt=\"the selected frame\" src=\"data:image/png;base64,"), std::string::npos);

    fs::remove(shot);
    run = browse("profile-shot", "--screenshot=" + shellQuote(shot.string()));
    ASSERT_EQ(run.status, 0) << run.output;
    nimbra::RgbaImage screenshot;
    std::string error;
    ASSERT_TRUE(nimbra::readPngRgba(shot.string(), screenshot, error)) << error;
    EXPECT_EQ(screenshot.width, 1600u);

    // The page driven as a user drives it, by a script loaded after its own:
    // the keys step and zoom, and the pointer over the red box of frame 3 at
    // zoom 2 reads that pixel, its half pixel and the colour the exported
    // frame has there.
    const char *const kProbe = R"(setTimeout(() => {
  const out = [], $ = (id) => document.getElementById(id);
  const key = (k) => document.dispatchEvent(new KeyboardEvent('keydown', { key: k, bubbles: true }));
  for (const k of ['ArrowRight', 'ArrowLeft', 'End', 'ArrowRight', 'Home', 'ArrowLeft'])
    key(k), out.push(k + ' ' + document.querySelector('.thumb.selected').dataset.frame);
  key('2');
  out.push('zoom ' + $('stage').style.width + ' ' + document.querySelector('.zoom button.on').dataset.zoom);
  key('c');
  out.push('changes ' + $('changes').checked);
  for (let i = 0; i < 3; i++) key('ArrowRight');
  setTimeout(() => {
    const box = $('picture').getBoundingClientRect();
    $('stage').dispatchEvent(new MouseEvent('mousemove',
        { clientX: box.left + 2 * 120.75, clientY: box.top + 2 * 150.25, bubbles: true }));
    out.push('readout ' + $('readout').textContent);
    document.body.dataset.probe = out.join('|');
  }, 3000);
}, 1000);
)";
    ASSERT_TRUE(nimbra::saveFile((dir / "demo" / "probe.js").string(), kProbe, error)) << error;
    const nimbra::Bytes indexBytes = nimbra::readFile((dir / "demo" / "index.html").string());
    std::string probePage(indexBytes.begin(), indexBytes.end());
    const std::string ownScript = "<script src=\"report.js\" defer></script>";
    ASSERT_NE(probePage.find(ownScript), std::string::npos);
    probePage.replace(probePage.find(ownScript), ownScript.size(),
                      ownScript + "<script src=\"probe.js\" defer></script>");
    ASSERT_TRUE(nimbra::saveFile((dir / "demo" / "probe.html").string(), probePage, error)) << error;
    run = browse("profile-probe", "--dump-dom 2>/dev/null >" + shellQuote(dom.string()), "probe.html");
    ASSERT_EQ(run.status, 0) << run.output;
    const nimbra::Bytes probedBytes = nimbra::readFile(dom.string());
    const std::string probed(probedBytes.begin(), probedBytes.end());
    const size_t at = probed.find("data-probe=\"");
    ASSERT_NE(at, std::string::npos) << probed.substr(0, 2000);
    const std::string said = probed.substr(at + 12, probed.find('"', at + 12) - at - 12);

    ASSERT_EQ(runCommand(builtProgram("nimbra-frames") + " -r " +
                         shellQuote(std::string(NIMBRA_SOURCE_DIR) + "/examples/demo.rec") + " --frames 3 --dir " +
                         shellQuote((dir / "frames").string()))
                  .status,
              0);
    nimbra::RgbaImage frame3;
    ASSERT_TRUE(nimbra::readPngRgba((dir / "frames" / "frame_0003.png").string(), frame3, error)) << error;
    const uint8_t *red = frame3.pixel(120, 150);
    // The index is the colour's top bits, 3 + 3 + 2.
    char colour[32];
    snprintf(colour, sizeof colour, "0x%02X  #%02X%02X%02X", (red[0] & 0xE0) | (red[1] & 0xE0) >> 3 | red[2] >> 6,
             red[0], red[1], red[2]);
    EXPECT_EQ(said.substr(0, said.find("|readout")),
              "ArrowRight 4|ArrowLeft 3|End 28|ArrowRight 28|Home 0|ArrowLeft 0|zoom 1280px 2|changes false");
    EXPECT_EQ(said.substr(said.find("|readout")),
              std::string("|readout x 120 y 150 \u00b7 half pixels 241 300 \u00b7 index ") + colour);
}
