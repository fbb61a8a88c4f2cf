// The embedded default scene: every shader class the library exports, each
// material on its own sphere, under the library's point and spot lights over a
// shadow-catching ground, with the default environment. Classes that are not
// exported yet are replaced by host-side stand-ins (simple lights, a plain
// background, a plain ground), so the gallery renders whatever the library holds.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/library.h"
#include "host/reference/vmath.h"
#include "tools/vesper_render/scene_loader.h"

namespace vrender {

struct GalleryLabel {
    std::string text;
    vref::float3 anchor;  // world point the label is centred under
};

struct Gallery {
    nlohmann::json scene;              // a scene document for loadScene
    FileSet files;                     // the generated textures, by the scene's file names
    std::vector<GalleryLabel> labels;  // one per placed material
    std::vector<std::string> notes;    // what was substituted or left out, for the user
};

// Makes the gallery's procedural textures (in memory) and builds the scene.
Gallery makeGallery(const vhost::Library& library);

// Parameters the gallery gives a class when the class has them: class name ->
// parameter name -> value. "*" applies to every class.
const nlohmann::json& galleryParameters();

}  // namespace vrender
