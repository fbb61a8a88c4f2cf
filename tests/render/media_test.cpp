// Path mode tracks media by the side the sampled direction leaves on: a ray that
// reflects off one glass sphere onto another reaches the second one still in air,
// although the dielectric labels its reflection with a transmission code and
// leaves the glass's index in outsideIor.
#include <gtest/gtest.h>

#include <vector>

#include "host/library.h"
#include "host/slots.h"
#include "tests/render/scripted.h"

namespace {

using vref::float3;

// What the host passed to sampleBsdf, and the kind and outsideIor it got back.
struct Seen {
    char sphere;
    int32_t rayType, depth;
    float mediumIor, outsideIor;
    int32_t kind;
    float outsideIorAfter;
};

// A library material seen through a probe that records every sampleBsdf call.
class Probe final : public pxs::MaterialShader {
  public:
    Probe(pxs::IShaderBase* inner, char name, std::vector<Seen>* log)
        : inner_(inner), name_(name), log_(log) {}
    void* destroy(unsigned) override { return this; }
    void declareParameters(pxs::IParameterRegistry* r) override {
        vhost::declareParameters(inner_, r);
    }
    void copyParameters(const pxs::IShaderBase*) override {}
    void shade(pxs::IRenderServices* sv, pxs::ShadingState* st) override {
        vhost::shade(inner_, sv, st);
    }
    void evaluateBsdf(pxs::IRenderServices* sv, pxs::ShadingState* st) override {
        vhost::evaluateBsdf(inner_, sv, st);
    }
    void sampleBsdf(pxs::IRenderServices* sv, pxs::ShadingState* st) override {
        Seen s{name_, st->rayType, st->rayDepth, st->mediumIor, st->outsideIor, 0, 0.0f};
        vhost::sampleBsdf(inner_, sv, st);
        s.kind = st->sampleKind;
        s.outsideIorAfter = st->outsideIor;
        log_->push_back(s);
    }

  private:
    pxs::IShaderBase* inner_;
    char name_;
    std::vector<Seen>* log_;
};

TEST(RenderPathMedia, AReflectionOffGlassLeavesTheRayInTheMediumItCameFrom) {
    vhost::Library lib;
    ASSERT_TRUE(lib.loaded()) << lib.error();
    std::vector<Seen> log;
    std::vector<int32_t> escapes;
    vrtest::ScriptedEnvironment env([&](pxs::IRenderServices*, pxs::ShadingState* st) {
        escapes.push_back(st->rayType);
        st->outColor = float3(1.0f);
    });

    // A: a mirror-like glass of index 1.3 (Fresnel 1 reflects every sample).
    // B: a glass of index 1.7 that never reflects (Fresnel 0).
    struct Glass {
        char name;
        float ior, reflectance, radius;
        float3 centre;
    };
    const Glass glasses[] = {{'A', 1.3f, 1.0f, 1.0f, float3(0, 0, 0)},
                             {'B', 1.7f, 0.0f, 1.5f, float3(4.0f, -0.70710678f, 0)}};
    std::vector<std::unique_ptr<vref::ShaderInstance>> inner;
    std::vector<std::unique_ptr<Probe>> probes;
    vref::Scene scene;
    for (const Glass& g : glasses) {
        vhost::ShaderPtr shader = lib.create("corvid_Mtl_Dielectric");
        pxs::IShaderBase* raw = shader.get();
        inner.push_back(
            vref::declareShader("glass", "corvid_Mtl_Dielectric", raw, std::move(shader)));
        ASSERT_EQ(inner.back()->registry.set("u_ior", vref::ParamValue::ofNumber(g.ior)), "");
        ASSERT_EQ(
            inner.back()->registry.set("u_reflectance", vref::ParamValue::ofNumber(g.reflectance)),
            "");
        probes.push_back(std::make_unique<Probe>(raw, g.name, &log));
        int m = scene.addMaterial(vref::declareShader("probe", "probe", probes.back().get()));
        vref::Affine at;
        at.t = g.centre;
        scene.addObject(std::string(1, g.name), vref::makeSphere(g.radius, 128, 64), at, m);
    }
    scene.environment = scene.addShader(vref::declareShader("env", "env", &env));
    scene.commit();

    // Down +y onto A where its normal is (1, -1, 0)/sqrt2: the mirror direction is +x,
    // straight into B, through B and out to the environment.
    vref::RenderSettings settings;
    settings.mode = vref::Mode::Path;
    vref::RenderServices sv(scene, settings);
    sv.beginSample(0, 0, 0);
    vref::cameraRay(sv, float3(0.70710678f, -5.0f, 0.0f), float3(0, 1, 0));

    ASSERT_EQ(log.size(), 3u);
    // On A: a reflection, reported with the smooth-transmission code and A's index.
    EXPECT_EQ(log[0].sphere, 'A');
    EXPECT_EQ(log[0].kind, pxs::kSampleSmoothTransmission);
    EXPECT_FLOAT_EQ(log[0].outsideIorAfter, 1.3f);
    // On B from outside: still in air, on a reflection ray.
    EXPECT_EQ(log[1].sphere, 'B');
    EXPECT_EQ(log[1].rayType, pxs::kRayReflection);
    EXPECT_FLOAT_EQ(log[1].mediumIor, 1.0f);
    EXPECT_FLOAT_EQ(log[1].outsideIorAfter, 1.7f);
    // On B from inside: in B's glass, with air beyond.
    EXPECT_EQ(log[2].sphere, 'B');
    EXPECT_EQ(log[2].depth, 2);
    EXPECT_FLOAT_EQ(log[2].mediumIor, 1.7f);
    EXPECT_FLOAT_EQ(log[2].outsideIor, 1.0f);
    EXPECT_EQ(escapes, std::vector<int32_t>{pxs::kRayReflection});
}

}  // namespace
