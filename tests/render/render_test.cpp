// Whole renders and the host's building blocks: repeatable images, OBJ meshes,
// texture orientation through OpenImageIO, and the noise and random numbers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include <OpenImageIO/imageio.h>

#include "host/reference/noise.h"
#include "host/reference/renderer.h"
#include "tests/render/scripted.h"
#include "tools/vesper_render/scene_loader.h"

namespace {

using vref::float3;

struct TempDir {
    std::filesystem::path path;
    TempDir() {
        std::string t = (std::filesystem::temp_directory_path() / "vesper-rtest-XXXXXX").string();
        path = mkdtemp(t.data());
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string file(const std::string& name) const { return (path / name).string(); }
};

void writeImage(const std::string& path, int w, int h, int channels, std::vector<float> px) {
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out);
    OIIO::ImageSpec spec(w, h, channels, OIIO::TypeDesc::FLOAT);
    ASSERT_TRUE(out->open(path, spec));
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, px.data()));
    out->close();
}

// Library materials plus one that uses the services' random numbers and
// occlusion, so that the image depends on the seed.
TEST(RenderImage, SameSeedGivesTheSameImageWhateverTheThreadCount) {
    vhost::Library lib;
    ASSERT_TRUE(lib.loaded()) << lib.error();
    vrtest::ScriptedMaterial grain(pxs::kCapShade,
                                   [](pxs::IRenderServices* sv, pxs::ShadingState* st) {
                                       float3 ao;
                                       sv->ambientOcclusion(&ao, &st->position, &st->normal, 1.0f);
                                       float r = sv->random();
                                       st->outColor = float3(ao.x * r, ao.y * 0.5f, ao.z);
                                   });
    auto build = [&](vref::Scene& scene) {
        for (const char* cls : {"corvid_Mtl_Solid", "corvid_Mtl_NormalsOnly"}) {
            vhost::ShaderPtr shader = lib.create(cls);
            pxs::IShaderBase* raw = shader.get();
            int m = scene.addMaterial(vref::declareShader(cls, cls, raw, std::move(shader)));
            vref::Affine at;
            at.t = float3(cls[11] == 'S' ? -1.0f : 1.0f, 0, 0.8f);
            scene.addObject(cls, vref::makeSphere(0.8f, 24, 12), at, m);
        }
        vrtest::addSquare(scene, vrtest::addMaterial(scene, &grain), float3(), float3(0, 0, 1));
        scene.camera.position = float3(0, -5, 2);
        scene.camera.target = float3(0, 0, 0.5f);
        scene.commit();
    };
    vref::RenderSettings settings;
    settings.width = 24;
    settings.height = 16;
    settings.spp = 3;
    auto renderWith = [&](int threads, uint32_t seed) {
        vref::Scene scene;
        build(scene);
        settings.threads = threads;
        settings.seed = seed;
        return vref::render(scene, settings).image.rgba;
    };
    std::vector<float> a = renderWith(2, 7), b = renderWith(2, 7), c = renderWith(1, 7),
                       d = renderWith(2, 8);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, c);
    EXPECT_NE(a, d);
}

TEST(RenderImage, ObjMeshesLoadWithTheirFacesAndRender) {
    TempDir dir;
    {
        std::ofstream obj(dir.file("quad.obj"));
        obj << "v -1 0 -1\nv 1 0 -1\nv 1 0 1\nv -1 0 1\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
               "f 1/1 2/2 3/3 4/4\n";
    }
    nlohmann::json doc = {
        {"camera", {{"position", {0, -4, 0}}, {"target", {0, 0, 0}}, {"fov", 60}}},
        {"background", {0, 0, 0}},
        {"objects",
         {{{"type", "mesh"},
           {"file", "quad.obj"},
           {"material", {{"class", "corvid_Mtl_Solid"}, {"params", {{"patchState", 2}}}}}}}}};
    vhost::Library lib;
    vref::Scene scene;
    vref::RenderSettings settings;
    vrender::loadScene(doc, "quad.json", dir.path.string(), lib, scene, settings);
    ASSERT_EQ(scene.objectCount(), 1u);
    EXPECT_EQ(scene.object(0).mesh.triangles(), 2u);
    settings.width = settings.height = 9;
    settings.spp = 1;
    vref::Image img = vref::render(scene, settings).image;
    // Solid's light grey, facing the camera, fills the centre; the corners miss the quad.
    EXPECT_NEAR(img.at(4, 4).x, 0.85f, 1e-3f);
    EXPECT_FLOAT_EQ(img.at(0, 0).x, 0.0f);
}

TEST(RenderTextures, ImagesReadWithVUpGreyBroadcastAndOpaqueAlpha) {
    TempDir dir;
    // 2x2 RGB, top row red and green, bottom row blue and white.
    writeImage(dir.file("quad.exr"), 2, 2, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1});
    writeImage(dir.file("grey.exr"), 2, 2, 1, {0.5f, 0.5f, 0.5f, 0.5f});
    vref::TextureLibrary textures;
    std::string err;
    vref::ImageTexture* quad = textures.load(dir.file("quad.exr"), false, &err);
    ASSERT_TRUE(quad) << err;
    auto at = [](pxs::ITextureObject* t, float u, float v) {
        pxs::float4 out;
        float uv[2] = {u, v};
        t->sample(&out, uv);
        return out;
    };
    pxs::float4 topLeft = at(quad, 0.25f, 0.75f), bottomRight = at(quad, 0.75f, 0.25f);
    EXPECT_NEAR(topLeft.x, 1.0f, 1e-3f);
    EXPECT_NEAR(topLeft.z, 0.0f, 1e-3f);
    EXPECT_NEAR(bottomRight.y, 1.0f, 1e-3f);
    EXPECT_NEAR(bottomRight.x, 1.0f, 1e-3f);
    EXPECT_FLOAT_EQ(topLeft.w, 1.0f);
    // Repeats: one period to the right is the same texel.
    EXPECT_NEAR(at(quad, 1.25f, 0.75f).x, 1.0f, 1e-3f);
    pxs::float4 g = at(textures.load(dir.file("grey.exr"), false, &err), 0.5f, 0.5f);
    EXPECT_NEAR(g.y, 0.5f, 1e-3f);
    EXPECT_NEAR(g.z, 0.5f, 1e-3f);
    EXPECT_FLOAT_EQ(g.w, 1.0f);
    EXPECT_EQ(textures.load(dir.file("none.exr"), false, &err), nullptr);
    EXPECT_NE(err.find("none.exr"), std::string::npos);
}

TEST(RenderTextures, CubeMapsAreLookedUpWithYUp) {
    TempDir dir;
    // Lat-long: upper half sky blue, lower half brown.
    std::vector<float> px;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 16; ++x) {
            float3 c = y < 4 ? float3(0.2f, 0.4f, 0.8f) : float3(0.4f, 0.3f, 0.1f);
            px.insert(px.end(), {c.x, c.y, c.z});
        }
    }
    writeImage(dir.file("sky.exr"), 16, 8, 3, px);
    vref::TextureLibrary textures;
    std::string err;
    vref::ImageTexture* sky = textures.load(dir.file("sky.exr"), true, &err);
    ASSERT_TRUE(sky) << err;
    pxs::float4 up, down;
    float dirUp[3] = {0, 1, 0}, dirDown[3] = {0, -1, 0};
    sky->sample(&up, dirUp);
    sky->sample(&down, dirDown);
    EXPECT_NEAR(up.z, 0.8f, 1e-2f);
    EXPECT_NEAR(down.x, 0.4f, 1e-2f);
}

TEST(RenderNoise, NoiseRangesAndHashesAreUsable) {
    vref::Sampler s(1, 2, 3, 4);
    float lo = 1, hi = 0;
    for (int i = 0; i < 100000; ++i) {
        float r = s.next();
        lo = std::min(lo, r), hi = std::max(hi, r);
    }
    EXPECT_GE(lo, 0.0f);
    EXPECT_LT(hi, 1.0f);
    EXPECT_GT(hi, 0.999f);
    float n1a = vref::noise1(3.0f), n1b = vref::noise1(4.0f);
    // At integers noise1 is a hash: repeatable and different from id to id.
    EXPECT_EQ(n1a, vref::noise1(3.0f));
    EXPECT_NE(n1a, n1b);
    EXPECT_NE(vref::latticeNoise(1, 2, 3), vref::latticeNoise(1, 2, 4));
    double sum = 0.0;
    float mn = 2, mx = -2;
    for (int i = 0; i < 20000; ++i) {
        float x = i * 0.173f, y = i * 0.071f, z = i * 0.0313f;
        float v = vref::noise3(x, y, z, 0.5f);
        float v2 = vref::noise2(x, y);
        float3 j = vref::cellJitter(x, y, z);
        sum += v;
        mn = std::min(mn, v), mx = std::max(mx, v);
        ASSERT_TRUE(v2 >= 0.0f && v2 <= 1.0f);
        ASSERT_TRUE(std::fabs(j.x) <= 1.0f && std::fabs(j.y) <= 1.0f && std::fabs(j.z) <= 1.0f);
    }
    EXPECT_NEAR(sum / 20000.0, 0.0, 0.05);  // signed, centred on 0
    EXPECT_LT(mn, -0.3f);
    EXPECT_GT(mx, 0.3f);
    EXPECT_EQ(vref::noise3(NAN, 0, 0, 0), 0.0f);
}

}  // namespace
