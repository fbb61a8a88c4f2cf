#include "host/reference/texture.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imagecache.h>
#include <OpenImageIO/imageio.h>

#include "host/reference/image_io.h"
#include "host/reference/limits.h"

namespace vref {

namespace {

// Texture libraries made so far: a thread's cached record is valid only for the
// library that made it.
std::atomic<uint64_t> gLibraries{0};

struct ThreadRecord {
    uint64_t library = 0;  // 0: none yet
    OIIO::TextureSystem::Perthread* info = nullptr;
};
thread_local ThreadRecord tRecord;

}  // namespace

OIIO::TextureSystem::Perthread* TextureLibrary::threadInfo() {
    if (tRecord.library != id_) tRecord = {id_, recordOf(std::this_thread::get_id())};
    return tRecord.info;
}

// Records are made and destroyed here rather than taken from the TextureSystem's
// own per-thread slot: render threads outlive texture libraries, and a slot a
// destroyed TextureSystem left behind would be handed to the next one.
OIIO::TextureSystem::Perthread* TextureLibrary::recordOf(std::thread::id thread) {
    std::lock_guard<std::mutex> lock(recordsMutex_);
    OIIO::TextureSystem::Perthread*& info = records_[thread];
    if (!info) info = ts_->create_thread_info();
    return info;
}

bool ImageTexture::sampleDirect(float s, float t, float* rgba) const {
    // As the TextureSystem does: texel centres at half-integers, periodic wrap,
    // bilerp((1 - t) * ((1 - s) * a + s * b) + t * ((1 - s) * c + s * d)).
    float fs = s * static_cast<float>(width_) - 0.5f;
    float ft = t * static_cast<float>(height_) - 0.5f;
    if (!(std::fabs(fs) < 1e9f && std::fabs(ft) < 1e9f)) return false;
    float fls = std::floor(fs), flt = std::floor(ft);
    auto is = static_cast<int64_t>(fls), it = static_cast<int64_t>(flt);
    float sf = fs - static_cast<float>(is), tf = ft - static_cast<float>(it);
    auto wrap = [](int64_t c, int n) {
        int64_t m = c % n;
        return static_cast<size_t>(m < 0 ? m + n : m);
    };
    size_t x0 = wrap(is, width_), x1 = wrap(is + 1, width_);
    size_t y0 = wrap(it, height_), y1 = wrap(it + 1, height_);
    blend(x0, x1, y0, y1, sf, tf, rgba);
    return true;
}

void ImageTexture::blend(size_t x0, size_t x1, size_t y0, size_t y1, float sf, float tf,
                         float* rgba) const {
    const float* a = &texels_[4 * (y0 * width_ + x0)];
    const float* b = &texels_[4 * (y0 * width_ + x1)];
    const float* c = &texels_[4 * (y1 * width_ + x0)];
    const float* d = &texels_[4 * (y1 * width_ + x1)];
    float s1 = 1.0f - sf, t1 = 1.0f - tf;
    for (int k = 0; k < 4; ++k)
        rgba[k] = t1 * (a[k] * s1 + b[k] * sf) + tf * (c[k] * s1 + d[k] * sf);
}

bool ImageTexture::sampleLatLong(const float* r, float* rgba) const {
    // As the TextureSystem does: the direction normalised as Imath does (which
    // takes another path for tiny vectors), y up, s periodic and t clamped.
    float length2 = r[0] * r[0] + r[1] * r[1] + r[2] * r[2];
    if (!(length2 >= 2.0f * std::numeric_limits<float>::min()) || !std::isfinite(length2)) {
        return false;
    }
    float length = std::sqrt(length2);
    float x = r[0] / length, y = r[1] / length, z = r[2] / length;
    float s = std::atan2(-x, z) / (2.0f * static_cast<float>(M_PI)) + 0.5f;
    float t = 0.5f - std::atan2(y, std::hypot(z, -x)) / static_cast<float>(M_PI);
    float fs = s * static_cast<float>(width_) - 0.5f;
    float ft = t * static_cast<float>(height_) - 0.5f;
    float fls = std::floor(fs), flt = std::floor(ft);
    int is = static_cast<int>(fls), it = static_cast<int>(flt);
    float sf = fs - static_cast<float>(is), tf = ft - static_cast<float>(it);
    auto wrap = [](int c, int n) { return static_cast<size_t>(((c % n) + n) % n); };
    auto clamp = [](int c, int n) { return static_cast<size_t>(std::min(std::max(c, 0), n - 1)); };
    size_t x0 = wrap(is, width_), x1 = wrap(is + 1, width_);
    size_t y0 = clamp(it, height_), y1 = clamp(it + 1, height_);
    blend(x0, x1, y0, y1, sf, tf, rgba);
    return true;
}

bool ImageTexture::sampleTextureSystem(const float* coords, float* rgba) const {
    OIIO::TextureOpt opt;
    opt.fill = 1.0f;  // missing channels (alpha of RGB images) read as 1
    opt.swrap = opt.twrap = OIIO::TextureOpt::WrapPeriodic;
    // Bilinear within the mip level: texel centres read back exactly.
    opt.interpmode = OIIO::TextureOpt::InterpBilinear;
    auto* handle = static_cast<OIIO::TextureSystem::TextureHandle*>(handle_);
    if (cube_) {
        OIIO::V3fParam r(coords[0], coords[1], coords[2]), zero(0.0f, 0.0f, 0.0f);
        return owner_->ts_->environment(handle, owner_->threadInfo(), opt, r, zero, zero, 4, rgba);
    }
    return owner_->ts_->texture(handle, owner_->threadInfo(), opt, coords[0], 1.0f - coords[1],
                                0.0f, 0.0f, 0.0f, 0.0f, 4, rgba);
}

void ImageTexture::sample(pxs::float4* out, const float* coords) {
    float rgba[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    bool direct = !texels_.empty() && (cube_ ? sampleLatLong(coords, rgba)
                                             : sampleDirect(coords[0], 1.0f - coords[1], rgba));
    if (!direct && !sampleTextureSystem(coords, rgba)) {
        *out = pxs::float4(0.0f, 0.0f, 0.0f, 1.0f);
        return;
    }
    if (channels_ == 1) rgba[1] = rgba[2] = rgba[0];
    *out = pxs::float4(rgba[0], rgba[1], rgba[2], rgba[3]);
}

bool ImageTexture::latLongAgrees() const {
    // Directions over the whole sphere, near both poles (where the TextureSystem
    // filters small images) and along the seam where s wraps.
    std::vector<pxs::float3> probes;
    const int n = 2048;
    for (int i = 0; i < n; ++i) {
        float z = 1.0f - (2.0f * static_cast<float>(i) + 1.0f) / n;
        float r = std::sqrt(1.0f - z * z), phi = 2.39996323f * static_cast<float>(i);
        probes.push_back({r * std::cos(phi), z, r * std::sin(phi)});
    }
    for (float e = 1e-1f; e > 1e-7f; e *= 0.1f) {
        for (int k = 0; k < 16; ++k) {
            float phi = 0.3926991f * static_cast<float>(k);
            float x = e * std::cos(phi), z = e * std::sin(phi);
            probes.push_back({x, 1.0f, z});
            probes.push_back({x, -1.0f, z});
            probes.push_back({e * (k - 8.0f), 0.1f * (k - 8.0f), -1.0f});
        }
    }
    for (const pxs::float3& d : probes) {
        float a[4] = {0.0f, 0.0f, 0.0f, 1.0f}, b[4] = {0.0f, 0.0f, 0.0f, 1.0f};
        const float coords[3] = {d.x, d.y, d.z};
        if (!sampleLatLong(coords, a) || !sampleTextureSystem(coords, b) ||
            std::memcmp(a, b, sizeof a) != 0) {
            return false;
        }
    }
    return true;
}

TextureLibrary::TextureLibrary() : ts_(OIIO::TextureSystem::create(false)), id_(++gLibraries) {
    // Plain (not pre-tiled) images get their mip levels made in the cache.
    ts_->attribute("automip", 1);
    ts_->attribute("autotile", 64);
    ts_->attribute("max_memory_MB", 512.0f);
}

TextureLibrary::~TextureLibrary() {
    textures_.clear();
    for (auto& record : records_) ts_->destroy_thread_info(record.second);
    OIIO::TextureSystem::destroy(ts_, true);
}

namespace {

// Opens the image and decodes its top level band by band (into one band's
// memory), so that a file whose header promises more than its data holds is
// refused now instead of reading as black while rendering.
std::string verify(const std::string& name, const ImageReader& reader,
                   OIIO::Filesystem::IOProxy* proxy) {
    std::string error;
    auto in = openImage(name, reader, proxy, &error);
    if (!in) return "cannot read the image: " + error;
    const OIIO::ImageSpec& spec = in->spec();
    int64_t pixels = int64_t{spec.width} * spec.height;
    if (spec.width < 1 || spec.height < 1 || spec.depth != 1 || spec.nchannels < 1 ||
        spec.width > kMaxTextureSide || spec.height > kMaxTextureSide ||
        pixels > kMaxTexturePixels) {
        return "the image is " + std::to_string(spec.width) + " x " + std::to_string(spec.height) +
               " x " + std::to_string(spec.depth) + " pixels; the limit is " +
               std::to_string(kMaxTextureSide) + " on a side and " +
               std::to_string(kMaxTexturePixels) + " pixels in one plane";
    }
    int channels = std::min(spec.nchannels, 4);
    int band = spec.tile_width > 0 ? spec.tile_height : 64;
    if (band < 1 || int64_t{band} * spec.width > kMaxTexturePixels)
        return "the image's tiles are too large";
    std::vector<unsigned char> rows(static_cast<size_t>(band) * spec.width * channels);
    for (int y = spec.y; y < spec.y + spec.height; y += band) {
        int end = std::min(y + band, spec.y + spec.height);
        bool ok = spec.tile_width > 0
                      ? in->read_tiles(0, 0, spec.x, spec.x + spec.width, y, end, spec.z,
                                       spec.z + 1, 0, channels, OIIO::TypeDesc::UINT8, rows.data())
                      : in->read_scanlines(0, 0, y, end, spec.z, 0, channels, OIIO::TypeDesc::UINT8,
                                           rows.data());
        if (!ok) {
            std::string e = in->geterror();
            return "the image data is truncated or damaged" + (e.empty() ? "" : " (" + e + ")");
        }
    }
    return "";
}

}  // namespace

void TextureLibrary::decode(const std::string& name, const ImageReader& reader,
                            OIIO::Filesystem::IOProxy* proxy, ImageTexture* tex) {
    std::string error;
    auto in = openImage(name, reader, proxy, &error);
    if (!in) return;
    const OIIO::ImageSpec& spec = in->spec();
    // Only where the full image is the data window, as the direct lookup assumes.
    if (spec.x != 0 || spec.y != 0 || spec.full_x != 0 || spec.full_y != 0 ||
        spec.full_width != spec.width || spec.full_height != spec.height ||
        int64_t{spec.width} * spec.height > kDirectTexels) {
        return;
    }
    int channels = std::min(spec.nchannels, 4);
    std::vector<float> pixels(static_cast<size_t>(spec.width) * spec.height * channels);
    if (!in->read_image(0, 0, 0, channels, OIIO::TypeDesc::FLOAT, pixels.data())) return;
    // Channels the image lacks read as 1, as the TextureSystem fills them.
    tex->texels_.assign(4 * static_cast<size_t>(spec.width) * spec.height, 1.0f);
    for (size_t i = 0; i < static_cast<size_t>(spec.width) * spec.height; ++i) {
        for (int c = 0; c < channels; ++c) tex->texels_[4 * i + c] = pixels[i * channels + c];
    }
    tex->width_ = spec.width;
    tex->height_ = spec.height;
}

ImageTexture* TextureLibrary::load(const std::string& path, bool cube, std::string* error,
                                   const std::string* bytes) {
    // Images given in memory are named apart from files of the same name.
    std::string key = bytes ? "memory:" + path : path;
    auto it = textures_.find(std::make_pair(key, cube));
    if (it != textures_.end()) return it->second.get();
    OIIO::Filesystem::IOProxy* proxy = nullptr;
    if (bytes) {
        auto found = memory_.find(key);
        if (found == memory_.end()) {
            auto m = std::make_unique<Memory>();
            m->bytes = *bytes;
            m->reader =
                std::make_unique<OIIO::Filesystem::IOMemReader>(m->bytes.data(), m->bytes.size());
            found = memory_.emplace(key, std::move(m)).first;
        }
        proxy = found->second->reader.get();
    } else {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec)) {
            *error = "texture file not found: " + path;
            return nullptr;
        }
    }
    ImageReader reader;
    std::string bad = findImageReader(path, bytes, &reader);
    if (bad.empty()) bad = verify(key, reader, proxy);
    if (!bad.empty()) {
        *error = "texture " + path + ": " + bad;
        return nullptr;
    }
    // The cache opens the file with the same reader, never by guessing.
    OIIO::ustring name(key);
    OIIO::ImageSpec config;
    if (proxy) {
        proxy->seek(0);
        config.attribute("oiio:ioproxy", OIIO::TypeDesc::PTR, &proxy);
    }
    // add_file works through the ImageCache's implicit record of the calling thread,
    // which on a pool thread may be a destroyed library's: it runs on a thread of
    // its own, whose record is this cache's.
    std::thread([&] {
        ts_->imagecache()->add_file(name, reader.create, proxy ? &config : nullptr);
    }).join();
    // Through this library's own record of the thread, like every lookup: the
    // TextureSystem's implicit one may be a destroyed library's.
    OIIO::TextureSystem::TextureHandle* handle = ts_->get_texture_handle(name, threadInfo());
    if (!handle) {
        *error = "cannot open texture " + path;
        return nullptr;
    }
    int channels = 0;
    if (!ts_->get_texture_info(handle, threadInfo(), 0, OIIO::ustring("channels"), OIIO::TypeInt,
                               &channels)) {
        std::string e = ts_->geterror();
        *error = "cannot read texture " + path + (e.empty() ? "" : ": " + e);
        return nullptr;
    }
    auto tex = std::unique_ptr<ImageTexture>(new ImageTexture(this, handle, path, cube, channels));
    decode(key, reader, proxy, tex.get());
    if (cube && tex->direct() && !tex->latLongAgrees()) tex->texels_.clear();
    ImageTexture* raw = tex.get();
    textures_[std::make_pair(key, cube)] = std::move(tex);
    return raw;
}

}  // namespace vref
