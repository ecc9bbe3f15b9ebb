// The inspector's report folder: what it holds, and the folders it will
// not write into.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/platform.h"
#include "tools/hostlib/file_io.h"
#include "tools/inspect/report.h"

namespace fs = std::filesystem;
using nimbra::CommandBuilder;

namespace {

bool report(const nimbra::Bytes &recording, const fs::path &dir, nimbra::ReportSummary &summary, std::string &error) {
    nimbra::ReportOptions options;
    options.title = "a <b> & \"c\"";
    const bool written = nimbra::writeReport(recording, dir.string(), options, summary, error);
    SIM_ResetDevice();
    return written;
}

std::string text(const fs::path &path) {
    const nimbra::Bytes b = nimbra::readFile(path.string());
    return std::string(b.begin(), b.end());
}

}  // namespace

TEST(ReportWriter, WritesThePageTheThumbnailsAndEachFramesData) {
    const fs::path dir = fs::path(NIMBRA_BINARY_DIR) / "report_writer_test" / "report";
    fs::remove_all(dir.parent_path());
    const nimbra::Bytes recording =
        nimbra::makeRecord(CommandBuilder().connect().clearRect(0, 0, 10, 10).copyToScreen(1).payload());
    nimbra::ReportSummary summary;
    std::string error;
    ASSERT_TRUE(report(recording, dir, summary, error)) << error;
    EXPECT_EQ(summary.frames, 2u);
    EXPECT_EQ(summary.commands, 3u);
    const std::string page = text(dir / "index.html");
    EXPECT_NE(page.find("<title>a &lt;b&gt; &amp; &quot;c&quot; - nimbra-inspect</title>"), std::string::npos);
    EXPECT_NE(page.find("data-frame=\"1\""), std::string::npos);
    EXPECT_EQ(page.find("data-frame=\"2\""), std::string::npos);
    EXPECT_EQ(page.find("http"), std::string::npos) << "the page must not reach for the network";
    for (const char *file : {"report.js", "report.css", "thumbs/frame_0000.png", "thumbs/frame_0001.png"})
        EXPECT_TRUE(fs::exists(dir / file)) << file;
    const std::string data = text(dir / "data" / "frame_0001.js");
    EXPECT_EQ(data.rfind("nimbraReport.frameData(1,{", 0), 0u) << data.substr(0, 80);
    EXPECT_NE(data.find("\"offset\":8,\"text\":\"connect\",\"replies\":[[\"mtu 490\",\"41 EA 01\"]"),
              std::string::npos)
        << data.substr(0, 300);
    EXPECT_NE(data.find("\"png\":\"iVBORw0KGgo"), std::string::npos) << "the picture, a PNG in base 64";

    // Written again over itself; then refused where other files are, or a file is.
    ASSERT_TRUE(report(recording, dir, summary, error)) << error;
    fs::create_directories(dir.parent_path() / "other");
    ASSERT_TRUE(nimbra::saveFile((dir.parent_path() / "other" / "notes.txt").string(), "mine", error)) << error;
    EXPECT_FALSE(report(recording, dir.parent_path() / "other", summary, error));
    EXPECT_NE(error.find("holds other files"), std::string::npos) << error;
    EXPECT_EQ(text(dir.parent_path() / "other" / "notes.txt"), "mine");
    EXPECT_FALSE(report(recording, dir.parent_path() / "other" / "notes.txt", summary, error));
    EXPECT_NE(error.find("is a file"), std::string::npos) << error;
}
