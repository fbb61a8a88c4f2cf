// JSON scenes for vesper-render: camera, render settings, textures by file,
// materials by library class with parameters by registered name, objects (built-in
// primitives and OBJ meshes), lights and the environment. docs/renderer.md
// describes the format.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/library.h"
#include "host/reference/scene.h"
#include "host/reference/scene_error.h"
#include "host/reference/settings.h"

namespace vrender {

// Files given in memory: file name as the scene writes it -> contents.
using FileSet = std::map<std::string, std::string>;

// The frames a scene describes: one; or with an "animation" block, the camera
// circling a centre (a turntable); or with a "wedge" block, one value of a
// parameter of an object's material per frame.
struct Frames {
    int count = 1;
    bool orbit = false;
    vref::float3 center;
    float radius = 0.0f, height = 0.0f, startAngle = -90.0f;  // degrees from +x
    std::string object, parameter;
    std::vector<nlohmann::json> values;
};

// Reads the "animation" and "wedge" blocks of `doc`, checking that the wedge's
// object exists; throws SceneError naming the entry.
Frames readFrames(const nlohmann::json& doc, const std::string& sceneName);

// `doc` as frame `frame` (in [0, frames.count)) shows it: the orbit's camera or
// the wedge's value in place, without the animation and wedge blocks.
nlohmann::json frameDocument(const nlohmann::json& doc, const Frames& frames, int frame);

// Checks what loading each frame after the first would check of what changes
// between frames: the orbit's camera, the wedge's value set on the material's
// class. A plan calls it so that no frame task fails on what the plan could see.
// Throws SceneError naming the frame.
void checkFrames(const nlohmann::json& doc, const Frames& frames, const std::string& sceneName,
                 const std::string& baseDir, const vhost::Library& library,
                 const FileSet* files = nullptr);

// Fills `scene` and `settings` from `doc`; a scene with frames loads as its first. `sceneName`
// prefixes every error; a file the scene names is taken from `files` when it is there, else from
// disk (relative names from `baseDir`). Every value is checked against the limits of
// host/reference/limits.h. Commits the scene.
void loadScene(const nlohmann::json& doc, const std::string& sceneName, const std::string& baseDir,
               const vhost::Library& library, vref::Scene& scene, vref::RenderSettings& settings,
               const FileSet* files = nullptr);

// Reads a scene file's JSON.
nlohmann::json readSceneDocument(const std::string& path);

// Reads and loads a scene file.
void loadSceneFile(const std::string& path, const vhost::Library& library, vref::Scene& scene,
                   vref::RenderSettings& settings);

// Reads the "render" block of a scene into settings (also used for overrides),
// then checks the whole against the limits; errors are prefixed by `where`.
void applyRenderSettings(const nlohmann::json& block, const std::string& where,
                         vref::RenderSettings& settings);

}  // namespace vrender
