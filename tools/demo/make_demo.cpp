// Writes the demo recording: every scene in order, then the end of stream.
//   nimbra-make-demo OUTPUT.rec
#include <algorithm>
#include <cstdio>

#include "tools/demo/demo_scenes.h"

namespace demo {

std::vector<Scene> &scenes() {
    static std::vector<Scene> all;
    return all;
}

void showFrame(nimbra::Bytes &stream, nimbra::CommandBuilder &b, uint8_t &frameId) {
    b.copyToScreen(frameId++);
    nimbra::appendRecord(stream, b.payload());
    b.clear();
}

}  // namespace demo

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUTPUT.rec\n", argv[0]);
        return 2;
    }
    auto &all = demo::scenes();
    std::stable_sort(all.begin(), all.end(), [](const demo::Scene &a, const demo::Scene &b) { return a.order < b.order; });
    nimbra::Bytes stream;
    uint8_t frameId = 1;
    for (const auto &scene : all) scene.build(stream, frameId);
    nimbra::CommandBuilder end;
    end.eof();
    nimbra::appendRecord(stream, end.payload());
    if (!nimbra::writeFile(argv[1], stream)) {
        fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    printf("%s: %zu bytes, %zu scenes\n", argv[1], stream.size(), all.size());
    return 0;
}
