// Reading files: an empty file and a missing one are told apart, and a
// failure names the file and the reason.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>

#include "tools/hostlib/file_io.h"
#include "tools/hostlib/nimbra_host.h"

namespace fs = std::filesystem;

namespace {

class FileReading : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("nimbra-file-reading-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const char *name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

TEST_F(FileReading, AnEmptyFileIsReadAsNoBytes) {
    ASSERT_TRUE(nimbra::writeFile(path("empty.bin"), {}));
    EXPECT_TRUE(nimbra::readFile(path("empty.bin")).empty());
    const std::optional<nimbra::Bytes> loaded = nimbra::loadFile(path("empty.bin"));
    ASSERT_TRUE(loaded.has_value());
    EXPECT_TRUE(loaded->empty());
}

TEST_F(FileReading, AMissingFileIsAFailureThatNamesItAndTheReason) {
    std::string error;
    EXPECT_FALSE(nimbra::loadFile(path("missing.bin"), error).has_value());
    EXPECT_EQ(error, "No such file or directory");
    try {
        static_cast<void>(nimbra::readFile(path("missing.bin")));
        FAIL() << "a missing file was read";
    } catch (const std::runtime_error &e) {
        EXPECT_EQ(std::string(e.what()), "cannot read " + path("missing.bin") + ": No such file or directory");
    }
}

TEST_F(FileReading, BytesComeBackAsWritten) {
    const nimbra::Bytes bytes = {0x00, 0xFF, 0x0A, 0x0D, 0x1A};
    ASSERT_TRUE(nimbra::writeFile(path("five.bin"), bytes));
    EXPECT_EQ(nimbra::readFile(path("five.bin")), bytes);
}

}  // namespace
