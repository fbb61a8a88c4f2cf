// Texture objects of the reference host, read through OpenImageIO's TextureSystem
// (mip-mapped, filtered, cached, safe from every render thread).
//
// 2D images are looked up at (u, v) with v pointing up (v = 0 is the bottom row)
// and repeat in both directions. Cube maps are environment images (lat-long, or
// OpenImageIO's cube-face layout) looked up by a direction whose +y is up, the
// convention of the shaders' cube lookups. Single-channel images read as grey
// with alpha 1; images without alpha read with alpha 1.
#pragma once

#include <map>
#include <memory>
#include <string>

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/texture.h>

#include "vesper/vesper.h"

namespace vref {

class TextureLibrary;

class ImageTexture final : public pxs::ITextureObject {
  public:
    void sample(pxs::float4* out, const float* coords) override;

    bool cube() const { return cube_; }
    const std::string& path() const { return path_; }

  private:
    friend class TextureLibrary;
    ImageTexture(OIIO::TextureSystem* ts, void* handle, std::string path, bool cube, int channels)
        : ts_(ts), handle_(handle), path_(std::move(path)), cube_(cube), channels_(channels) {}

    OIIO::TextureSystem* ts_;
    void* handle_;  // the TextureSystem's handle for the file
    std::string path_;
    bool cube_;
    int channels_;
};

// Owns one TextureSystem and every texture object made from it.
class TextureLibrary {
  public:
    TextureLibrary();
    ~TextureLibrary();
    TextureLibrary(const TextureLibrary&) = delete;
    TextureLibrary& operator=(const TextureLibrary&) = delete;

    // The texture for the image at `path` (one object per path and kind), or null
    // with `*error` set when the file is missing, unreadable, damaged or larger
    // than the limits of limits.h allow. With `bytes`, the image is those bytes
    // (a file's contents kept in memory) and `path` only names it.
    ImageTexture* load(const std::string& path, bool cube, std::string* error,
                       const std::string* bytes = nullptr);

  private:
    struct Memory {
        std::string bytes;
        std::unique_ptr<OIIO::Filesystem::IOMemReader> reader;
    };
    OIIO::TextureSystem* ts_;
    // Images given in memory, read by the cache until the destructor tears it down.
    std::map<std::string, std::unique_ptr<Memory>> memory_;
    std::map<std::pair<std::string, bool>, std::unique_ptr<ImageTexture>> textures_;
};

}  // namespace vref
