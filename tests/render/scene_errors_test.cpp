// Scene files that cannot be used are refused with a message naming the scene
// and the offending entry, and vesper-render exits non-zero on them.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tools/vesper_render/scene_loader.h"

namespace {

using nlohmann::json;

// The message of loading `doc`, or "" when it loads.
std::string loadError(const json& doc) {
    static vhost::Library lib;
    vref::Scene scene;
    vref::RenderSettings settings;
    try {
        vrender::loadScene(doc, "bad.json", "/nonexistent-dir", lib, scene, settings);
    } catch (const vrender::SceneError& e) {
        return e.what();
    }
    return "";
}

json sphereWith(const json& material) {
    return {{"objects", {{{"name", "ball"}, {"type", "sphere"}, {"material", material}}}}};
}

#define EXPECT_MENTIONS(message, ...)                                                 \
    do {                                                                              \
        std::string m_ = (message);                                                   \
        for (const char* part : {__VA_ARGS__}) {                                      \
            EXPECT_NE(m_.find(part), std::string::npos) << m_ << "\nlacks: " << part; \
        }                                                                             \
    } while (0)

TEST(SceneErrors, UnknownNamesAreNamedWithTheirEntry) {
    EXPECT_MENTIONS(loadError(sphereWith({{"class", "corvid_Mtl_Nothing"}})), "bad.json",
                    "objects[0] (\"ball\")", "unknown shader class \"corvid_Mtl_Nothing\"");
    EXPECT_MENTIONS(
        loadError(sphereWith({{"class", "corvid_Mtl_Solid"}, {"params", {{"patchstate", 1}}}})),
        "bad.json", "objects[0] (\"ball\")", "unknown parameter \"patchstate\"",
        "corvid_Mtl_Solid");
    EXPECT_MENTIONS(loadError(sphereWith("nowhere")), "bad.json", "unknown material \"nowhere\"");
    EXPECT_MENTIONS(loadError({{"objects", {{{"type", "cone"}, {"material", "x"}}}}}), "objects[0]",
                    "unknown object type \"cone\"");
    EXPECT_MENTIONS(loadError({{"lights", {{{"class", "corvid_Mtl_Solid"}}}}}), "lights[0]",
                    "is a material, not a light");
    EXPECT_MENTIONS(loadError({{"camera", {{"fov", 30}, {"lense", 1}}}}), "camera",
                    "unknown key \"lense\"");
    EXPECT_EQ(
        loadError(sphereWith({{"class", "corvid_Mtl_Solid"}, {"params", {{"patchState", 2}}}})),
        "");
}

TEST(SceneErrors, WrongValueTypesSayWhatTheFieldExpects) {
    auto params = [](json p) {
        return loadError(sphereWith({{"class", "corvid_Mtl_Solid"}, {"params", p}}));
    };
    EXPECT_MENTIONS(params({{"patchState", 1.5}}), "bad.json", "\"patchState\"",
                    "int and expects an integer");
    EXPECT_MENTIONS(params({{"patchState", "two"}}), "int and expects an integer");
    EXPECT_MENTIONS(params({{"faceForward", 1}}), "\"faceForward\"",
                    "bool and expects true or false");
    EXPECT_MENTIONS(loadError({{"objects", {{{"type", "sphere"}, {"radius", "big"}}}}}),
                    "objects[0]", "\"radius\" expects a number");
    EXPECT_MENTIONS(loadError({{"render", {{"spp", 0}}}}), "bad.json: render",
                    "\"spp\" expects an integer of at least 1");
}

TEST(SceneErrors, MissingFilesAreNamed) {
    EXPECT_MENTIONS(loadError({{"objects", {{{"type", "mesh"}, {"file", "teapot.obj"}}}}}),
                    "objects[0]", "mesh file not found", "/nonexistent-dir/teapot.obj");
    EXPECT_MENTIONS(loadError({{"textures", {{"wood", {{"file", "wood.png"}}}}}}),
                    "textures.\"wood\"", "texture file not found", "wood.png");
}

TEST(SceneErrors, TheToolReportsAndExitsNonZero) {
    std::filesystem::path dir = std::filesystem::temp_directory_path();
    std::string scene = (dir / ("vesper-bad-" + std::to_string(getpid()) + ".json")).string();
    std::string log = scene + ".log";
    {
        std::ofstream f(scene);
        f << R"({"objects": [{"type": "sphere", "material": {"class": "corvid_Mtl_Solid",
              "params": {"reverseNormal": "yes"}}}]})";
    }
    std::string cmd = std::string(VESPER_RENDER_PATH) + " --scene " + scene + " --out " + scene +
                      ".png 2> " + log;
    int status = std::system(cmd.c_str());
    std::ifstream in(log);
    std::string err((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(scene);
    std::filesystem::remove(log);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0);
    EXPECT_MENTIONS(err, scene.c_str(), "objects[0]", "\"reverseNormal\"");
    EXPECT_FALSE(std::filesystem::exists(scene + ".png"));
}

}  // namespace
