// One loaded plug-in and what the objects made from it share: the class
// descriptions, the textures their parameters name, and the scene whose render
// services answer the per-hit calls of evaluate and sample.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/library.h"
#include "host/reference/scene.h"
#include "host/reference/services.h"

namespace vpy {

class LibraryContext {
  public:
    // Loads the plug-in at `path`; throws Error when it cannot be loaded or has
    // no class of this host's API version.
    explicit LibraryContext(const std::string& path);

    // The plug-in installed beside the module when there is one, else the one
    // this build made.
    static std::string defaultPath();

    const vhost::Library& library() const { return lib_; }
    // Throws Error when `className` is not exported.
    void checkExported(const std::string& className) const;
    // The JSON form of the class description, with which operations read each
    // parameter, as vesper-info and the studio give it. Made on first use, since
    // the probe of the parameters takes thousands of calls; throws Error when the
    // class is not exported.
    const nlohmann::json& describe(const std::string& className);

    // The texture object for an image file (a cube map when `cube`), loaded once;
    // throws ParameterError with the loader's message, prefixed by `where`.
    pxs::ITextureObject* texture(const std::string& file, bool cube, const std::string& where);

    // An empty scene: what the services of the BSDF operations read.
    const vref::Scene& scene() const { return scene_; }

  private:
    vhost::Library lib_;
    std::mutex describedMutex_;
    std::map<std::string, nlohmann::json> described_;
    std::mutex texturesMutex_;
    vref::Scene scene_;
};

}  // namespace vpy
