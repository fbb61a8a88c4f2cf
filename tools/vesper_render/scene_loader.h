// JSON scenes for vesper-render: camera, render settings, textures by file,
// materials by library class with parameters by registered name, objects (built-in
// primitives and OBJ meshes), lights and the environment. docs/renderer.md
// describes the format.
#pragma once

#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "host/library.h"
#include "host/reference/scene.h"
#include "host/reference/services.h"

namespace vrender {

// A scene that cannot be used; what() names the scene and the offending entry.
class SceneError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Fills `scene` and `settings` from `doc`. `sceneName` prefixes every error;
// relative file names are taken from `baseDir`. Commits the scene.
void loadScene(const nlohmann::json& doc, const std::string& sceneName, const std::string& baseDir,
               const vhost::Library& library, vref::Scene& scene, vref::RenderSettings& settings);

// Reads and loads a scene file.
void loadSceneFile(const std::string& path, const vhost::Library& library, vref::Scene& scene,
                   vref::RenderSettings& settings);

// Reads the "render" block of a scene into settings (also used for overrides).
void applyRenderSettings(const nlohmann::json& block, const std::string& where,
                         vref::RenderSettings& settings);

}  // namespace vrender
