// The preview scene vesper-studio keeps between requests.
//
// Editing a parameter or refining the samples changes a preview's scene document
// in a few values only; loading it anew (textures, meshes, the Embree tree) would
// cost more than rendering the first image. The cache keeps the last loaded scene
// with its document, and hands it out again for a document that differs only in
// the values of shader parameters (numbers, booleans, arrays of numbers) and in
// the render block's samples, seed, size and mode, after setting those values on
// it: the page asks for each change at a small size first, then refines at larger
// ones. Any other difference (a texture, the shape, a parameter left out) loads anew.
#pragma once

#include <memory>
#include <mutex>

#include <nlohmann/json.hpp>

#include "host/reference/scene.h"
#include "host/reference/services.h"

namespace vstudio {

class SceneCache {
  public:
    struct Entry {
        nlohmann::json doc;  // the document `scene` and `settings` now show
        vref::Scene scene;
        vref::RenderSettings settings;
    };

    // The kept scene updated to `doc`, or null when it cannot be (then the
    // caller loads one). The entry belongs to the caller until it is given back:
    // requests served at once never share a scene.
    std::unique_ptr<Entry> take(const nlohmann::json& doc);
    // Keeps `entry` for the next request, in place of the one kept before.
    void keep(std::unique_ptr<Entry> entry);

  private:
    std::mutex mutex_;
    std::unique_ptr<Entry> kept_;
};

}  // namespace vstudio
