// The demo recording is built from scenes, each in its own file, played in
// the order of their keys. A scene appends whole records to the stream.
#pragma once
#include <functional>
#include <string>

#include "tools/hostlib/nimbra_host.h"

namespace demo {

struct Scene {
    int order;
    std::string name;
    std::function<void(nimbra::Bytes &stream, uint8_t &frameId)> build;
};

std::vector<Scene> &scenes();

struct SceneRegistration {
    SceneRegistration(int order, const char *name, std::function<void(nimbra::Bytes &, uint8_t &)> build) {
        scenes().push_back(Scene{order, name, std::move(build)});
    }
};

// Appends one record per builder, showing the frame at its end.
void showFrame(nimbra::Bytes &stream, nimbra::CommandBuilder &b, uint8_t &frameId);

}  // namespace demo

#define DEMO_SCENE(order, name) \
    static void demoScene_##name(nimbra::Bytes &stream, uint8_t &frameId); \
    static demo::SceneRegistration demoSceneRegistration_##name(order, #name, demoScene_##name); \
    static void demoScene_##name(nimbra::Bytes &stream, uint8_t &frameId)
