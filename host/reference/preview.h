// The preview of one shader class as a vesper-render scene document: the class
// on a sphere, a shader ball or a plane over a shadow-catching ground, under the
// library's point and spot lights and a built-in or given environment. Lights and
// environments are shown on a fixed set of spheres. The gallery's contact sheet
// and vesper-studio both render these documents through loadScene, so a saved
// document renders the same image with `vesper-render --scene`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/class_info.h"
#include "host/library.h"
#include "host/reference/scene_loader.h"

namespace vrender {

// Built-in images the previews refer to by name: 2D textures and cube maps
// (lat-long). A cube name also names a preview environment.
const std::vector<std::string>& builtinTextures();
const std::vector<std::string>& builtinCubes();
bool isBuiltinCube(const std::string& name);
bool isBuiltinTexture(const std::string& name);

// The built-in images and the shader-ball mesh, encoded in memory under the names
// previewScene gives them in `dir`. Throws std::runtime_error.
FileSet previewAssetFiles(const std::string& dir);
// Writes them into `dir` (created when missing) unless they are there already.
void writePreviewAssets(const std::string& dir);

enum class PreviewShape { Sphere, ShaderBall, Plane };
const char* shapeName(PreviewShape s);

struct PreviewRequest {
    std::string className;
    nlohmann::json params = nlohmann::json::object();  // by registered name
    PreviewShape shape = PreviewShape::Sphere;
    // A built-in cube ("sky", "studio"), "none", or the path of a cube-map image.
    std::string environment = "sky";
    int width = 320, height = 240, spp = 1;
    bool pathMode = false;
    uint32_t seed = 1;
};

// The scene document of a preview. Built-in texture names among the parameter
// values resolve to the images in `assetDir`; other strings stay file names.
// Cube-map parameters left out get the environment's cube maps. `library` tells
// which helper classes (ground, lights, environment) exist.
nlohmann::json previewScene(const vhost::Library& library, const vhost::ClassInfo& info,
                            const PreviewRequest& request, const std::string& assetDir);

// Parameters that show what a class does (the gallery's and the studio's start):
// a few values per class, and for the generated Ward variants every node graph
// switched on with a built-in image on each of its leaves.
nlohmann::json presetParams(const vhost::ClassInfo& info);

}  // namespace vrender
