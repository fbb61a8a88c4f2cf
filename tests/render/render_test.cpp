// Whole renders and the host's building blocks: repeatable images, OBJ meshes,
// texture orientation through OpenImageIO, and the noise and random numbers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include <OpenImageIO/imageio.h>
#include <OpenImageIO/texture.h>
#include <tbb/parallel_for.h>

#include "host/reference/noise.h"
#include "host/reference/preview.h"
#include "host/reference/renderer.h"
#include "host/reference/scene_loader.h"
#include "testkit/alloc_counter.h"
#include "testkit/temp_dir.h"
#include "tests/render/scripted.h"

namespace {

using vref::float3;

using vtest::TempDir;

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

// Two threads take tiles at once: the thread of the first finished tile waits
// inside the progress call until another thread has finished one too. A process
// capped at one thread never gets there.
TEST(RenderImage, TwoThreadsRenderTilesAtOnce) {
    vref::Scene scene;
    scene.camera.position = float3(0, -5, 0);
    scene.camera.target = float3(0, 0, 0);
    scene.commit();
    vref::RenderSettings settings;
    settings.width = settings.height = 64;
    settings.spp = 1;
    settings.threads = 2;
    std::mutex m;
    std::condition_variable changed;
    std::set<std::thread::id> threads;
    bool waited = false, overlapped = false;
    vref::render(scene, settings, [&](int, int) {
        std::unique_lock<std::mutex> lock(m);
        threads.insert(std::this_thread::get_id());
        changed.notify_all();
        if (waited) return;
        waited = true;
        overlapped =
            changed.wait_for(lock, std::chrono::seconds(20), [&] { return threads.size() > 1; });
    });
    EXPECT_TRUE(overlapped) << "no second thread took a tile while the first was held";
}

// The per-hit phase allocates nothing: more samples of every class's preview
// (textures, lights, environment), in either mode, make no more allocations.
TEST(RenderImage, SamplesAllocateNothing) {
    vhost::Library lib;
    ASSERT_TRUE(lib.loaded()) << lib.error();
    const vrender::FileSet assets = vrender::previewAssetFiles("gallery");
    for (const std::string& name : lib.classes()) {
        vhost::ClassInfo info = vhost::describeClass(lib, name);
        vrender::PreviewRequest r;
        r.className = name;
        r.params = vrender::presetParams(info);
        r.width = 16;
        r.height = 12;
        for (bool path : {false, true}) {
            r.pathMode = path;
            vref::Scene scene;
            vref::RenderSettings settings;
            vrender::loadScene(vrender::previewScene(lib, info, r, "gallery"), name, "", lib, scene,
                               settings, &assets);
            settings.threads = 1;
            auto allocations = [&](int spp) {
                settings.spp = spp;
                uint64_t before = vtest::allocationCounts().allocations;
                vref::render(scene, settings);
                return vtest::allocationCounts().allocations - before;
            };
            allocations(6);  // warm-up: per-thread records, texture tiles
            EXPECT_EQ(allocations(1), allocations(6)) << name << (path ? " path" : " direct");
        }
    }
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
    vrender::loadScene(doc, "quad.json", dir.path, lib, scene, settings);
    ASSERT_EQ(scene.objectCount(), 1u);
    EXPECT_EQ(scene.object(0).mesh.triangles(), 2u);
    settings.width = settings.height = 9;
    settings.spp = 1;
    vref::Image img = vref::render(scene, settings).image;
    // Solid's light grey, facing the camera, fills the centre; the corners miss the quad.
    EXPECT_NEAR(img.at(4, 4).x, 0.85f, 1e-3f);
    EXPECT_FLOAT_EQ(img.at(0, 0).x, 0.0f);
    // A scene named by a relative path finds its mesh beside it.
    vref::Scene relative;
    vrender::loadScene(doc, "quad.json", std::filesystem::relative(dir.path).string(), lib,
                       relative, settings);
    EXPECT_EQ(relative.objectCount(), 1u);
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

// Small 2D images are read without the TextureSystem: the same values, bit for bit.
TEST(RenderTextures, DirectLookupsMatchTheTextureSystem) {
    TempDir dir;
    std::vector<float> rgb, grey;
    for (int i = 0; i < 7 * 5; ++i) {
        grey.push_back(static_cast<float>(i * 37 % 11) / 10.0f);
        for (int c = 0; c < 3; ++c) rgb.push_back(static_cast<float>((i * 7 + c * 3) % 13) / 12.0f);
    }
    writeImage(dir.file("rgb.png"), 7, 5, 3, rgb);  // 8-bit: decoded as the system does
    writeImage(dir.file("grey.exr"), 7, 5, 1, grey);
    vref::TextureLibrary textures;
    OIIO::TextureSystem* ts = OIIO::TextureSystem::create(false);
    OIIO::TextureOpt opt;
    opt.fill = 1.0f;
    opt.swrap = opt.twrap = OIIO::TextureOpt::WrapPeriodic;
    opt.interpmode = OIIO::TextureOpt::InterpBilinear;
    for (const char* name : {"rgb.png", "grey.exr"}) {
        std::string err;
        vref::ImageTexture* tex = textures.load(dir.file(name), false, &err);
        ASSERT_TRUE(tex) << err;
        for (int i = 0; i < 2000; ++i) {
            float uv[2] = {std::fmod(i * 0.6180339f, 5.0f) - 2.5f,
                           std::fmod(i * 0.381966f, 3.0f) - 1.0f};
            pxs::float4 got;
            tex->sample(&got, uv);
            float want[4];
            ASSERT_TRUE(ts->texture(OIIO::ustring(dir.file(name)), opt, uv[0], 1.0f - uv[1], 0, 0,
                                    0, 0, 4, want));
            if (name[0] == 'g') want[1] = want[2] = want[0];
            ASSERT_EQ(got.x, want[0]) << name << " at " << uv[0] << ", " << uv[1];
            ASSERT_EQ(got.y, want[1]);
            ASSERT_EQ(got.z, want[2]);
            ASSERT_EQ(got.w, want[3]);
        }
    }
    OIIO::TextureSystem::destroy(ts);
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

// Render threads outlive texture libraries (one per scene): lookups through a
// library made after another one was destroyed, on the same pool threads, must
// not reach the destroyed library's thread records.
TEST(RenderTextures, LibrariesOneAfterAnotherOnTheSamePoolThreads) {
    TempDir dir;
    writeImage(dir.file("grey.exr"), 512, 256, 3, std::vector<float>(512 * 256 * 3, 0.25f));
    for (int round = 0; round < 8; ++round) {
        vref::TextureLibrary textures;
        std::string err;
        vref::ImageTexture* env = textures.load(dir.file("grey.exr"), true, &err);
        ASSERT_TRUE(env) << err;
        std::atomic<int> wrong{0};
        tbb::parallel_for(0, 4096, [&](int i) {
            pxs::float4 c;
            float d[3] = {std::cos(0.01f * i), std::sin(0.37f * i), std::sin(0.01f * i)};
            env->sample(&c, d);
            if (std::fabs(c.x - 0.25f) > 1e-3f) ++wrong;
        });
        EXPECT_EQ(wrong.load(), 0) << "round " << round;
    }
}

// Over 64 samples of a pixel, every dimension has one value per 1/64 and every
// aligned pair one point per 8 x 8 cell; pixels and dimensions differ.
TEST(RenderNoise, SamplesAreStratifiedPerPixelAndDimension) {
    const int n = 64;
    for (uint32_t pixel : {0u, 1u, 777u}) {
        std::vector<int> strata(6 * n, 0), cells(n, 0);
        for (int i = 0; i < n; ++i) {
            vref::Sampler s(5, pixel, 3, i);
            for (int d = 0; d < 6; ++d) {
                float v = s.next();
                ASSERT_TRUE(v >= 0.0f && v < 1.0f);
                ++strata[d * n + static_cast<int>(v * n)];
            }
            float a, b;
            s.next2(&a, &b);  // dimensions 6 and 7
            ++cells[static_cast<int>(a * 8) * 8 + static_cast<int>(b * 8)];
        }
        EXPECT_EQ(std::count(strata.begin(), strata.end(), 1), 6 * n);
        EXPECT_EQ(std::count(cells.begin(), cells.end(), 1), n);
    }
    vref::Sampler a(5, 1, 3, 0), b(5, 2, 3, 0), c(6, 1, 3, 0);
    float a0 = a.next(), a1 = a.next();
    EXPECT_NE(a0, a1);
    EXPECT_NE(a0, b.next());
    EXPECT_NE(a0, c.next());
}

TEST(RenderNoise, NoiseRangesAndHashesAreUsable) {
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
