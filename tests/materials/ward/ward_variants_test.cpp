// The nine generated Ward variants through the test host: which input each graph
// feeds.
#include <array>
#include <cmath>
#include <cstring>
#include <memory>

#include "testkit/harness.h"

namespace {

using pxs::float3;
using pxs::float4;
using vhost::TestServices;
using vhost::TestTexture;
using vtest::Shader;

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

struct Variant {
    std::string name;
    std::vector<std::string> groups;

    // A group under `prefix` whose path names `node`.
    bool has(const std::string& prefix, const std::string& node = "") const {
        for (const std::string& g : groups) {
            if (startsWith(g, prefix) && g.find(node) != std::string::npos) return true;
        }
        return false;
    }
    static std::string kind(const std::string& g) { return g.substr(g.rfind('_') + 1); }
    static bool isBitmap(const std::string& g) { return kind(g) == "UnifiedBitmap"; }
};

// Every generated variant with its node groups, in registration order: each
// group registers "_ward_<group>_xform".
std::vector<Variant> variants() {
    std::vector<Variant> out;
    for (const std::string& cls : vtest::library().classes()) {
        if (!startsWith(cls, "corvid_Mtl_Ward_")) continue;
        out.push_back({cls, {}});
        const Shader s(cls);
        for (const vhost::Declaration* d : s.registry.parameters()) {
            const std::string& n = d->name;
            if (startsWith(n, "_ward_") && n.size() > 12 &&
                n.compare(n.size() - 6, 6, "_xform") == 0) {
                out.back().groups.push_back(n.substr(6, n.size() - 12));
            }
        }
    }
    EXPECT_EQ(out.size(), 9u);
    return out;
}

const float3 kView(0, 0.6f, -0.8f);
const float3 kLight = vtest::unit(float3(0.3f, -0.2f, 1.0f));
const char* const kInputs[] = {"normal0_map", "diffuse_color", "cutout_map"};
const char* const kSwitches[] = {"u_normal0MapEnable", "u_diffuseMapEnable", "u_cutoutMapEnable"};

template <class T>
void put(pxs::ShadingState& st, int offset, T value) {
    std::memcpy(st.attributes + offset, &value, sizeof value);
}

// A hit at the origin seen along dir, with the variants' tangent (+x) and uv.
pxs::ShadingState variantView(float3 dir, pxs::float2 uv = {0.3f, 0.6f}) {
    return vtest::viewing(dir)
        .attribute(12, float3(1, 0, 0))
        .attribute(24, uv)
        .mapping(float3(0.2f, 0.7f, 1.1f), float3(0, 0, 1))
        .sampleDirection(kLight)
        .build();
}

// Per class: each graph runs only for its switched-on input (a switched-off input
// asks the host for nothing); the block reads "uv1" at 32 and masking "uv" at 24.
TEST(WardVariants, GraphsRunForTheirInputOnly) {
    for (const Variant& v : variants()) {
        SCOPED_TRACE(v.name);
        Shader s(v.name);
        std::vector<std::unique_ptr<TestTexture>> textures;
        auto bind = [&](const std::string& name) {
            textures.push_back(std::make_unique<TestTexture>(
                [](const float* c) { return float4(c[0], c[1], 0.25f, 0.75f); }));
            s.param<pxs::TextureHandle>(name) = textures.back()->handle();
            return textures.back().get();
        };
        const TestTexture* ao = bind("ambientOcclusionTexture");
        const TestTexture* mask = bind("maskingTexture");
        s.param<int32_t>("ambientOcclusionMode") = s.param<int32_t>("maskingMode") = 1;
        TestTexture* image = bind("u_normal0Map");  // the maps' own textures
        s.param<pxs::TextureHandle>("u_diffuseMap") = s.param<pxs::TextureHandle>("u_cutoutMap") =
            image->handle();
        std::vector<const TestTexture*> leaves;
        for (const std::string& g : v.groups) {
            s.param<pxs::matrix4>("_ward_" + g + "_xform").m[12] = 0.125f;
            leaves.push_back(Variant::isBitmap(g) ? bind("_ward_" + g + "_texture") : nullptr);
        }
        s.param<float>("u_normal0Amount") = 2.0f;
        s.param<float3>("u_diffuseColor") = float3(0.3f);
        s.param<float>("u_reflectivity") = 0.5f;
        s.param<float>("u_roughValue") = 0.2f;
        pxs::ShadingState before = variantView(kView);
        put(before, 32, pxs::float2(0.125f, 0.875f));  // uv1

        for (int on = -1; on < 3; ++on) {
            for (int k = 0; k < 3; ++k) s.param<bool>(kSwitches[k]) = k == on;
            const std::string in = on < 0 ? "none" : kInputs[on];
            for (auto& t : textures) t->lookups.clear();
            TestServices sv;
            pxs::ShadingState st = before;
            s.shade(sv, st);
            for (size_t i = 0; i < v.groups.size(); ++i) {
                if (!leaves[i]) continue;
                EXPECT_EQ(leaves[i]->lookups.empty(), !startsWith(v.groups[i], in))
                    << v.groups[i] << " with " << in << " on";
            }
            EXPECT_EQ(sv.count(vhost::kSvcNoise3) > 0, v.has(in, "Noise")) << in;
            EXPECT_EQ(sv.count(vhost::kSvcNoise2) > 0, v.has(in, "Tile")) << in;
            EXPECT_EQ(image->lookups.empty(), on < 0 || v.has(in)) << "the map's texture, " << in;
            ASSERT_EQ(ao->lookups.size(), 1u);
            EXPECT_EQ(ao->lookups[0], (std::array<float, 3>{0.125f, 0.875f, 0}));
            ASSERT_EQ(mask->lookups.size(), 1u);
            EXPECT_EQ(mask->lookups[0], (std::array<float, 3>{0.3f, 0.6f, 0}));
        }
    }
}

}  // namespace
