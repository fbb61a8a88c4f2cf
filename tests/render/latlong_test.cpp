// Lat-long environments read without the TextureSystem give its values, bit for
// bit; images it filters differently near the poles stay with it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>
#include <OpenImageIO/texture.h>

#include "host/reference/noise.h"
#include "host/reference/texture.h"

namespace {

float unit(uint32_t k) {
    return (vref::hash32(k) >> 8) * 0x1p-24f;
}

TEST(RenderTextures, LatLongLookupsMatchTheTextureSystem) {
    std::string dir = (std::filesystem::temp_directory_path() / "vesper-latlong-XXXXXX").string();
    ASSERT_TRUE(mkdtemp(dir.data()));
    struct Case {
        int width, height, channels;
        bool direct;
    };
    // Near the poles the TextureSystem reads small images otherwise.
    const Case cases[] = {{128, 64, 3, true}, {256, 128, 1, true}, {64, 32, 4, false}};
    vref::TextureLibrary textures;
    // Configured as the library's.
    OIIO::TextureSystem* ts = OIIO::TextureSystem::create(false);
    ts->attribute("automip", 1);
    ts->attribute("autotile", 64);
    OIIO::TextureOpt opt;
    opt.fill = 1.0f;
    opt.swrap = opt.twrap = OIIO::TextureOpt::WrapPeriodic;
    opt.interpmode = OIIO::TextureOpt::InterpBilinear;
    for (const Case& c : cases) {
        std::string path = dir + "/sky" + std::to_string(c.width) + ".exr";
        std::vector<float> px(size_t(c.width) * c.height * c.channels);
        for (size_t i = 0; i < px.size(); ++i) px[i] = 8.0f * unit(uint32_t(i));
        auto out = OIIO::ImageOutput::create(path);
        OIIO::ImageSpec spec(c.width, c.height, c.channels, OIIO::TypeDesc::HALF);
        ASSERT_TRUE(out->open(path, spec) && out->write_image(OIIO::TypeDesc::FLOAT, px.data()));
        out->close();
        std::string err;
        vref::ImageTexture* tex = textures.load(path, true, &err);
        ASSERT_TRUE(tex) << err;
        EXPECT_EQ(tex->direct(), c.direct) << path;
        for (uint32_t i = 0; i < 20000; ++i) {
            float d[3] = {2 * unit(3 * i) - 1, 2 * unit(3 * i + 1) - 1, 2 * unit(3 * i + 2) - 1};
            if (i % 8 == 0) d[0] *= 1e-4f, d[2] *= 1e-4f;  // near a pole
            pxs::float4 got;
            tex->sample(&got, d);
            float want[4];
            OIIO::V3fParam r(d[0], d[1], d[2]), zero(0, 0, 0);
            ASSERT_TRUE(ts->environment(OIIO::ustring(path), opt, r, zero, zero, 4, want));
            if (c.channels == 1) want[1] = want[2] = want[0];
            ASSERT_TRUE(got.x == want[0] && got.y == want[1] && got.z == want[2] &&
                        got.w == want[3])
                << path << " towards " << d[0] << ", " << d[1] << ", " << d[2];
        }
    }
    OIIO::TextureSystem::destroy(ts);
    std::filesystem::remove_all(dir);
}

}  // namespace
