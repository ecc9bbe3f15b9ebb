// The entry of a fuzz target built without libFuzzer: runs the target once
// over each input file, so that an ordinary build keeps the targets compiling
// and replays their corpora as regression tests (and under coverage).
//
//   fuzz_png [-flag=value ...] FILE_OR_FOLDER...
//
// A folder stands for the files in it, in name order. Arguments beginning
// with '-' are libFuzzer's options and are ignored here, so that one command
// line serves both builds.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

// Reads a whole file into a block of exactly its size, so that the
// sanitizers see a read past the input as the fuzzer would.
static bool _RunFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fprintf(stderr, "%s: cannot read\n", path.c_str());
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::unique_ptr<uint8_t[]> input(new uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), input.get());
    LLVMFuzzerTestOneInput(input.get(), bytes.size());
    return true;
}

int main(int argc, char **argv) {
    std::vector<fs::path> files;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            printf("usage: %s [-libfuzzer-option ...] FILE_OR_FOLDER...\n"
                   "Runs the fuzz target once over each file (the files of a folder in name order).\n",
                   argv[0]);
            return 0;
        }
        if (!arg.empty() && arg[0] == '-') continue;
        std::error_code error;
        if (fs::is_directory(arg, error)) {
            std::vector<fs::path> inFolder;
            for (const auto &entry : fs::directory_iterator(arg)) {
                if (entry.is_regular_file()) inFolder.push_back(entry.path());
            }
            std::sort(inFolder.begin(), inFolder.end());
            files.insert(files.end(), inFolder.begin(), inFolder.end());
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) {
        fprintf(stderr, "%s: no input files\n", argv[0]);
        return 2;
    }
    for (const fs::path &file : files) {
        if (!_RunFile(file)) return 1;
    }
    printf("%s: ran %zu inputs\n", argv[0], files.size());
    return 0;
}
