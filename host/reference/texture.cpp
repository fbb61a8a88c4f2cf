#include "host/reference/texture.h"

#include <filesystem>

namespace vref {

void ImageTexture::sample(pxs::float4* out, const float* coords) {
    OIIO::TextureOpt opt;
    opt.fill = 1.0f;  // missing channels (alpha of RGB images) read as 1
    opt.swrap = opt.twrap = OIIO::TextureOpt::WrapPeriodic;
    // Bilinear within the mip level: texel centres read back exactly.
    opt.interpmode = OIIO::TextureOpt::InterpBilinear;
    float rgba[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    auto* handle = static_cast<OIIO::TextureSystem::TextureHandle*>(handle_);
    bool ok;
    if (cube_) {
        OIIO::V3fParam r(coords[0], coords[1], coords[2]), zero(0.0f, 0.0f, 0.0f);
        ok = ts_->environment(handle, nullptr, opt, r, zero, zero, 4, rgba);
    } else {
        ok = ts_->texture(handle, nullptr, opt, coords[0], 1.0f - coords[1], 0.0f, 0.0f, 0.0f, 0.0f,
                          4, rgba);
    }
    if (!ok) {
        *out = pxs::float4(0.0f, 0.0f, 0.0f, 1.0f);
        return;
    }
    if (channels_ == 1) rgba[1] = rgba[2] = rgba[0];
    *out = pxs::float4(rgba[0], rgba[1], rgba[2], rgba[3]);
}

TextureLibrary::TextureLibrary() : ts_(OIIO::TextureSystem::create(false)) {
    // Plain (not pre-tiled) images get their mip levels made in the cache.
    ts_->attribute("automip", 1);
    ts_->attribute("autotile", 64);
    ts_->attribute("max_memory_MB", 512.0f);
}

TextureLibrary::~TextureLibrary() {
    textures_.clear();
    OIIO::TextureSystem::destroy(ts_, true);
}

ImageTexture* TextureLibrary::load(const std::string& path, bool cube, std::string* error) {
    auto key = std::make_pair(path, cube);
    auto it = textures_.find(key);
    if (it != textures_.end()) return it->second.get();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        *error = "texture file not found: " + path;
        return nullptr;
    }
    OIIO::ustring name(path);
    int channels = 0;
    if (!ts_->get_texture_info(name, 0, OIIO::ustring("channels"), OIIO::TypeInt, &channels)) {
        std::string e = ts_->geterror();
        *error = "cannot read texture " + path + (e.empty() ? "" : ": " + e);
        return nullptr;
    }
    OIIO::TextureSystem::TextureHandle* handle = ts_->get_texture_handle(name);
    if (!handle) {
        *error = "cannot open texture " + path;
        return nullptr;
    }
    auto tex = std::unique_ptr<ImageTexture>(new ImageTexture(ts_, handle, path, cube, channels));
    ImageTexture* raw = tex.get();
    textures_[key] = std::move(tex);
    return raw;
}

}  // namespace vref
