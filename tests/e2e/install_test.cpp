// The installed project, used as a host developer uses it: installed into a
// scratch prefix, a small app built against the host library with CMake's
// find_package and with pkg-config, and its recording played by the
// installed simulator.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "tests/support/tool_process.h"
#include "tools/hostlib/nimbra_host.h"

namespace fs = std::filesystem;
using testsupport::shellQuote;

namespace {

#ifdef NIMBRA_APP_FLAGS
// A sanitised host library needs the sanitiser in the app as well.
const std::string kAppFlags = NIMBRA_APP_FLAGS;
#else
const std::string kAppFlags;
#endif

// The app of the README: a recording that clears the screen and shows it as
// frame 7.
const char *const kApp = R"(#include <tools/hostlib/nimbra_host.h>

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    nimbra::CommandBuilder screen;
    screen.clearRect(0, 0, 2 * nimbra::kScreenWidth, 2 * nimbra::kScreenHeight).copyToScreen(7);
    return nimbra::writeFile(argv[1], nimbra::makeRecord(screen.payload())) ? 0 : 1;
}
)";

const char *const kAppCMake = R"(cmake_minimum_required(VERSION 3.20)
project(hello LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 20)
find_package(Nimbra REQUIRED)
add_executable(hello hello.cpp)
target_link_libraries(hello PRIVATE Nimbra::host)
)";

}  // namespace

TEST(Install, AppsBuildAgainstTheInstalledHostLibrary) {
    const fs::path dir = fs::path(NIMBRA_BINARY_DIR) / "install_test", prefix = dir / "prefix";
    fs::remove_all(dir);
    fs::create_directories(dir / "app");
    auto installed = testsupport::runCommand("cmake --install " + shellQuote(NIMBRA_BINARY_DIR) + " --prefix " +
                                             shellQuote(prefix.string()));
    ASSERT_EQ(installed.status, 0) << installed.output;
    for (const char *file : {"bin/nimbra-sim", "bin/nimbra-upload", "bin/nimbra-frames", "bin/nimbra-inspect",
                             "bin/nimbra-golden",
                             "share/nimbra/keys/development-private-key.pem"})
        EXPECT_TRUE(fs::exists(prefix / file)) << file;
    fs::path pcFile;
    for (const auto &entry : fs::recursive_directory_iterator(prefix))
        if (entry.path().filename() == "nimbra-host.pc") pcFile = entry.path();
    ASSERT_FALSE(pcFile.empty()) << "no pkg-config file installed";

    ASSERT_TRUE(nimbra::writeFile((dir / "app/hello.cpp").string(), nimbra::Bytes(kApp, kApp + strlen(kApp))));
    ASSERT_TRUE(nimbra::writeFile((dir / "app/CMakeLists.txt").string(),
                                  nimbra::Bytes(kAppCMake, kAppCMake + strlen(kAppCMake))));
    const std::string flags = kAppFlags.empty() ? "" : " -DCMAKE_CXX_FLAGS=" + shellQuote(kAppFlags) +
                                                           " -DCMAKE_EXE_LINKER_FLAGS=" + shellQuote(kAppFlags);
    const std::string cd = "cd " + shellQuote(dir.string()) + " && ";
    const struct {
        const char *how;
        std::string build;
        const char *program;
    } ways[] = {
        {"find_package",
         "cmake -S app -B app/build -DCMAKE_PREFIX_PATH=" + shellQuote(prefix.string()) + flags +
             " >/dev/null && cmake --build app/build >/dev/null",
         "app/build/hello"},
        {"pkg-config",
         "c++ -std=c++20 " + kAppFlags + " app/hello.cpp -o hello-pc $(PKG_CONFIG_PATH=" +
             shellQuote(pcFile.parent_path().string()) + " pkg-config --cflags --libs nimbra-host)",
         "./hello-pc"},
    };
    for (const auto &way : ways) {
        auto built = testsupport::runCommand(cd + way.build);
        ASSERT_EQ(built.status, 0) << way.how << "\n" << built.output;
        // The app's recording, played by the installed simulator, shows frame 7.
        auto played = testsupport::runCommand(cd + way.program + " hello.rec && " +
                                              shellQuote((prefix / "bin/nimbra-sim").string()) +
                                              " -r hello.rec >/dev/null 2>replies.bin");
        ASSERT_EQ(played.status, 0) << way.how << "\n" << played.output;
        std::vector<nimbra::Packet> replies;
        ASSERT_TRUE(nimbra::parsePackets(nimbra::readFile((dir / "replies.bin").string()), replies)) << way.how;
        ASSERT_EQ(replies.size(), 1u) << way.how;
        EXPECT_EQ(replies[0].payload, (nimbra::Bytes{0x00, 0x07})) << way.how;
        fs::remove(dir / "replies.bin");
    }

    // The installed tools that look at a run, on the app's recording.
    const std::string bin = shellQuote((prefix / "bin").string()) + "/";
    for (const char *tool : {"nimbra-inspect", "nimbra-golden", "nimbra-frames"}) {
        auto help = testsupport::runCommand(bin + tool + " --help");
        EXPECT_EQ(help.status, 0) << tool << "\n" << help.output;
        EXPECT_NE(help.output.find(tool), std::string::npos) << help.output;
    }
    auto used = testsupport::runCommand(cd + bin + "nimbra-inspect hello.rec -o report && " + bin +
                                        "nimbra-golden update hello.rec golden && " + bin +
                                        "nimbra-golden check hello.rec golden && " + bin +
                                        "nimbra-frames -r hello.rec --gif hello.gif");
    ASSERT_EQ(used.status, 0) << used.output;
    EXPECT_NE(used.output.find("2 frames match"), std::string::npos) << used.output;
    for (const char *file : {"report/index.html", "report/data/frame_0001.js", "golden/frame_0001.png", "hello.gif"})
        EXPECT_TRUE(fs::exists(dir / file)) << file;
}
