// Texture objects of the reference host, read through OpenImageIO's TextureSystem
// (mip-mapped, filtered, cached, safe from every render thread).
//
// The shaders pass no footprint, so every lookup is bilinear in the full-resolution
// level. Images up to kDirectTexels pixels are therefore kept decoded in memory
// and read directly, with the TextureSystem's arithmetic (the same texels, weights
// and order of operations: the same values). A lat-long environment is read
// directly only when its lookups have been checked against the TextureSystem's
// when it was loaded (small images are filtered near the poles there). Larger
// images, cube-face layouts and images that fail the check go through the
// TextureSystem with the calling thread's own record, fetched once per thread.
//
// 2D images are looked up at (u, v) with v pointing up (v = 0 is the bottom row)
// and repeat in both directions. Cube maps are environment images (lat-long, or
// OpenImageIO's cube-face layout) looked up by a direction whose +y is up, the
// convention of the shaders' cube lookups. Single-channel images read as grey
// with alpha 1; images without alpha read with alpha 1.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/texture.h>

#include "vesper/vesper.h"

namespace vref {

class TextureLibrary;
struct ImageReader;

class ImageTexture final : public pxs::ITextureObject {
  public:
    void sample(pxs::float4* out, const float* coords) override;

    bool cube() const { return cube_; }
    // Whether lookups bypass the TextureSystem (the same values either way).
    bool direct() const { return !texels_.empty(); }
    const std::string& path() const { return path_; }

  private:
    friend class TextureLibrary;
    ImageTexture(TextureLibrary* owner, void* handle, std::string path, bool cube, int channels)
        : owner_(owner),
          handle_(handle),
          path_(std::move(path)),
          cube_(cube),
          channels_(channels) {}

    // Bilinear lookup of the decoded image at (s, t), t down, repeating; false when
    // the coordinates are beyond what it handles (not finite, or huge).
    bool sampleDirect(float s, float t, float* rgba) const;
    // Lookup of the decoded image as a lat-long environment, y up, with the
    // TextureSystem's arithmetic; false for directions it leaves to the
    // TextureSystem (not finite, or too short to normalise the same way).
    bool sampleLatLong(const float* direction, float* rgba) const;
    // The decoded texels' bilinear blend of columns x0, x1 and rows y0, y1.
    void blend(size_t x0, size_t x1, size_t y0, size_t y1, float sf, float tf, float* rgba) const;
    bool sampleTextureSystem(const float* coords, float* rgba) const;
    // Whether sampleLatLong gives the TextureSystem's values, bit for bit, over a
    // set of directions that covers the poles and the seam.
    bool latLongAgrees() const;

    TextureLibrary* owner_;
    void* handle_;  // the TextureSystem's handle for the file
    std::string path_;
    bool cube_;
    int channels_;
    int width_ = 0, height_ = 0;
    std::vector<float> texels_;  // RGBA, rows from the top; empty: no direct path
};

// Owns one TextureSystem and every texture object made from it.
class TextureLibrary {
  public:
    TextureLibrary();
    ~TextureLibrary();
    TextureLibrary(const TextureLibrary&) = delete;
    TextureLibrary& operator=(const TextureLibrary&) = delete;

    // The texture for the image at `path` (one object per path and kind), or null
    // with `*error` set when the file is missing, unreadable, damaged, in no
    // format its signature or extension names (image_io.h), or larger than the
    // limits of limits.h allow. With `bytes`, the image is those bytes
    // (a file's contents kept in memory) and `path` only names it.
    ImageTexture* load(const std::string& path, bool cube, std::string* error,
                       const std::string* bytes = nullptr);

    // 2D images of at most this many pixels are read without the TextureSystem.
    static constexpr int64_t kDirectTexels = int64_t{1} << 22;

  private:
    friend class ImageTexture;
    // The calling thread's record for the TextureSystem.
    OIIO::TextureSystem::Perthread* threadInfo();
    OIIO::TextureSystem::Perthread* recordOf(std::thread::id thread);
    // Keeps a decoded copy of a small 2D image in `tex` for direct lookups.
    void decode(const std::string& name, const ImageReader& reader,
                OIIO::Filesystem::IOProxy* proxy, ImageTexture* tex);

    struct Memory {
        std::string bytes;
        std::unique_ptr<OIIO::Filesystem::IOMemReader> reader;
    };
    OIIO::TextureSystem* ts_;
    uint64_t id_;  // tells this library's thread records from those of earlier ones
    // Images given in memory, read by the cache until the destructor tears it down.
    std::map<std::string, std::unique_ptr<Memory>> memory_;
    std::map<std::pair<std::string, bool>, std::unique_ptr<ImageTexture>> textures_;
    std::mutex recordsMutex_;
    std::map<std::thread::id, OIIO::TextureSystem::Perthread*> records_;
};

}  // namespace vref
