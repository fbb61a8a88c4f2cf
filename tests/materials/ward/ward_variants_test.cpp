// The nine generated Ward variants through the test host: registration by the
// naming rule, which input each graph feeds, and the per-hit contract.
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>

#include "testkit/alloc_counter.h"
#include "testkit/harness.h"

namespace {

using pxs::float3;
using pxs::float4;
using vhost::DeclType;
using vhost::TestServices;
using vhost::TestTexture;
using vtest::Shader;

// Each class's node groups (after "_ward_"), in registration order.
const char* const kGroups = R"(
5ba0bfff normal0_map_Noise
120b7820 diffuse_color_Noise
5592d496 normal0_map_UnifiedBitmap diffuse_color_Noise_color1_UnifiedBitmap
  diffuse_color_Noise_color2_UnifiedBitmap diffuse_color_Noise
33632204 normal0_map_Noise_color1_Noise_color1_UnifiedBitmap
  normal0_map_Noise_color1_Noise_color2_UnifiedBitmap
  normal0_map_Noise_color2_Noise_color1_UnifiedBitmap
  normal0_map_Noise_color2_Noise_color2_UnifiedBitmap
  normal0_map_Noise normal0_map_Noise_color1_Noise normal0_map_Noise_color2_Noise
  diffuse_color_Noise_color1_Noise_color1_UnifiedBitmap
  diffuse_color_Noise_color1_Noise_color2_UnifiedBitmap
  diffuse_color_Noise_color2_Noise_color1_UnifiedBitmap
  diffuse_color_Noise_color2_Noise_color2_UnifiedBitmap
  diffuse_color_Noise diffuse_color_Noise_color1_Noise diffuse_color_Noise_color2_Noise
82261344 cutout_map_UnifiedBitmap diffuse_color_Noise diffuse_color_Noise_color1_UnifiedBitmap
  diffuse_color_Noise_color2_UnifiedBitmap
aa598cb4 normal0_map_Noise_color1_UnifiedBitmap normal0_map_Noise_color2_UnifiedBitmap
  normal0_map_Noise diffuse_color_Noise_color1_UnifiedBitmap
  diffuse_color_Noise_color2_UnifiedBitmap diffuse_color_Noise
b9aac246 normal0_map_UnifiedBitmap diffuse_color_Noise_color1_Tile_brickColor_UnifiedBitmap
  diffuse_color_Noise_color1_Tile_mortarColor_UnifiedBitmap
  diffuse_color_Noise_color2_Tile_brickColor_UnifiedBitmap
  diffuse_color_Noise_color2_Tile_mortarColor_UnifiedBitmap
  diffuse_color_Noise diffuse_color_Noise_color1_Tile diffuse_color_Noise_color2_Tile
ccb3a2e6 diffuse_color_Noise diffuse_color_Noise_color1_UnifiedBitmap
  diffuse_color_Noise_color2_UnifiedBitmap
f05db29e normal0_map_UnifiedBitmap diffuse_color_Tile diffuse_color_Tile_brickColor_UnifiedBitmap
  diffuse_color_Tile_mortarColor_UnifiedBitmap)";

// Each node type's parameters in order, "name:kind": m matrix4, t texture, f float,
// i int, b bool, c float4 (a Noise's colours, only when no child feeds them).
const std::map<std::string, std::string> kNodeParams = {
    {"UnifiedBitmap", "xform:m texture:t amount:f isCube:b"},
    {"Noise",
     "xform:m type:i color1:c color2:c size:f thresholdLow:f thresholdHigh:f levels:f phase:f"},
    {"Tile",
     "xform:m verticalCount:f horizontalCount:f colorVariance:f fadeVariance:f horizontalGap:f "
     "verticalGap:f edgeRoughness:f randomSeed:i lineShift:f randomShift:f changeRow:f perRow:i "
     "useColumnEdit:b useRowEdit:b changeColumn:f perColumn:i holes:i brickHeight:f "
     "brickWidth:f repeatX:b repeatY:b"}};

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

std::vector<Variant> variants() {
    std::vector<Variant> out;
    std::istringstream in(kGroups);
    for (std::string word; in >> word;) {
        if (word.find('_') == std::string::npos) {
            out.push_back({"corvid_Mtl_Ward_" + word, {}});
        } else {
            out.back().groups.push_back(word);
        }
    }
    return out;
}

TEST(WardVariantParams, AttributesWardRowsNodeGroupsThenTheBlock) {
    const std::map<char, DeclType> types = {{'m', DeclType::Matrix4}, {'t', DeclType::Texture2D},
                                            {'f', DeclType::Float},   {'i', DeclType::Int},
                                            {'b', DeclType::Bool},    {'c', DeclType::Float4}};
    Shader ward("corvid_Mtl_Ward");  // its Ward rows follow its block and three attributes
    const auto& w = ward.registry.declarations;
    ASSERT_EQ(variants().size(), 9u);
    for (const Variant& v : variants()) {
        std::vector<vtest::ExpectedParam> p = {{"bitangent", DeclType::Attribute, "2@0"},
                                               {"tangent", DeclType::Attribute, "2@12"},
                                               {"uv", DeclType::Attribute, "1@24"}};
        for (size_t i = 1 + 17 + 3; i < w.size(); ++i) p.push_back({w[i].name, w[i].type, ""});
        for (const std::string& g : v.groups) {
            std::istringstream params(kNodeParams.at(Variant::kind(g)));
            for (std::string param; params >> param;) {
                const char type = param.back();
                if (type == 'c' && v.has(g + "_color1_")) continue;
                p.push_back(
                    {"_ward_" + g + "_" + param.substr(0, param.size() - 2), types.at(type), ""});
            }
        }
        for (vtest::ExpectedParam e : vtest::blockDeclarations()) {
            if (e.name == "uv1") e.defaultText = "1@32";
            if (e.name == "vtxcolor") e.defaultText = "3@40";
            p.push_back(e);
        }
        SCOPED_TRACE(v.name);
        vtest::expectDeclarations(v.name, 15, p);
    }
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
// asks the host for nothing); the block reads "uv1" at 32 and masking "uv" at 24;
// with everything on, the per-hit calls write only their fields, allocate nothing,
// and a copy shades exactly like its source.
TEST(WardVariants, GraphsRunForTheirInputOnlyAndPerHitContract) {
    const std::map<int, std::vector<std::string>> writes = {
        {vhost::kSlotShade, {"outColor", "outAlpha"}},
        {vhost::kSlotShadowTransmission, {"outTransmission"}},
        {vhost::kSlotEvaluateBsdf, {"sampleValue", "sampleCosine"}},
        {vhost::kSlotSampleBsdf, vtest::kSampleFields}};
    const pxs::LightNode light = vtest::light(vtest::unit(float3(0.2f, 0.1f, 1)), 1, float3(1));
    for (const Variant& v : variants()) {
        SCOPED_TRACE(v.name);
        Shader s(v.name), copy(v.name);
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

        for (const char* on : kSwitches) s.param<bool>(on) = true;
        for (auto& t : textures) t->record = false;
        vhost::copyParameters(copy.get(), s.get());
        uint64_t allocations = 0;
        for (const auto& [slot, fields] : writes) {
            pxs::ShadingState a = before, b = before;
            TestServices sa, sb;
            sa.record = sb.record = false;
            sa.setLights({light});
            sb.setLights({light});
            const uint64_t start = vtest::allocationCounts().allocations;
            vhost::callPerHit(s.get(), slot, &sa, &a);
            vhost::callPerHit(copy.get(), slot, &sb, &b);
            allocations += vtest::allocationCounts().allocations - start;
            EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << "slot " << slot;
            EXPECT_EQ(vhost::changedFields(before, a), fields) << "slot " << slot;
            if (slot == vhost::kSlotShade) {
                EXPECT_TRUE(std::isfinite(a.outColor.x + a.outColor.y + a.outColor.z));
            }
        }
        EXPECT_EQ(allocations, 0u);
    }
}

pxs::ShadingState evaluated(Shader& s, pxs::ShadingState st, TestServices& sv) {
    s.evaluateBsdf(sv, st);
    return st;
}

TEST(WardVariants, GraphsReplaceTheirMapsWithoutTheMapsSettings) {
    auto graphOn = [](Shader& s, const char* input) {
        s.param<bool>(input) = true;
        s.param<float>("u_diffuseAmount") = 0.0f;
        s.param<pxs::matrix3>("u_diffuseTransform").m[6] = 0.125f;  // would move onto mortar
        s.param<float>("u_cutoutAmount") = 0.0f;
        s.param<float>("u_reflectivity") = 0.0f;  // sampleValue = D / pi
    };
    constexpr float kInvPi = 0.3183099f;
    TestServices sv;

    // Constant colours mixed at mappingPoint: host noise 0.25 gives v = 0.25 (type 0).
    Shader n("corvid_Mtl_Ward_120b7820");
    graphOn(n, "u_diffuseMapEnable");
    n.param<float4>("_ward_diffuse_color_Noise_color1") = float4(0.2f, 0.4f, 0.8f, 1.0f);
    n.param<float4>("_ward_diffuse_color_Noise_color2") = float4(1.0f);
    sv.noise3Function = [](float, float, float, float) { return 0.25f; };
    EXPECT_TRUE(vtest::near3(evaluated(n, variantView(kView), sv).sampleValue,
                             vtest::scaled(float3(0.4f, 0.55f, 0.85f), kInvPi), 1e-6f));
    ASSERT_EQ(sv.count(vhost::kSvcNoise3), 1);
    vtest::expectArgs(sv.calls[0].args, {0.2f, 0.7f, 1.1f, 0.0f});

    // A Tile of two bitmaps at the variant's uv: a brick, and the mortar at (0, 0).
    Shader t("corvid_Mtl_Ward_f05db29e");
    graphOn(t, "u_diffuseMapEnable");
    TestTexture brick(float4(0.8f, 0.4f, 0.2f, 1.0f)), mortar(float4(0.1f, 0.1f, 0.1f, 1.0f));
    const std::string tile = "_ward_diffuse_color_Tile_";
    t.param<pxs::TextureHandle>(tile + "brickColor_UnifiedBitmap_texture") = brick.handle();
    t.param<pxs::TextureHandle>(tile + "mortarColor_UnifiedBitmap_texture") = mortar.handle();
    EXPECT_TRUE(vtest::near3(evaluated(t, variantView(kView, {0.125f, 0.0625f}), sv).sampleValue,
                             vtest::scaled(float3(0.8f, 0.4f, 0.2f), kInvPi), 1e-6f));
    EXPECT_TRUE(vtest::near3(evaluated(t, variantView(kView, {0.0f, 0.0f}), sv).sampleValue,
                             vtest::scaled(float3(0.1f), kInvPi), 1e-6f));

    // A bitmap as cut-out: coverage = red x its own amount.
    Shader c("corvid_Mtl_Ward_82261344");
    graphOn(c, "u_cutoutMapEnable");
    TestTexture red(float4(0.25f, 1.0f, 1.0f, 1.0f));
    c.param<pxs::TextureHandle>("_ward_cutout_map_UnifiedBitmap_texture") = red.handle();
    c.param<float>("_ward_cutout_map_UnifiedBitmap_amount") = 2.0f;
    pxs::ShadingState st = variantView(kView);
    c.shadowTransmission(sv, st);
    EXPECT_FLOAT3(st.outTransmission, float3(0.5f));
}

TEST(WardVariants, HeightGraphBendsLikeTheHeightMap) {
    // Height 3 u^2: its slope depends on where the transform puts the lookups.
    TestTexture ramp(
        [](const float* c) { return float4(c[0] * c[0], c[0] * c[0], c[0] * c[0], 1); });
    TestServices sv;
    auto cosine = [&](Shader& s, const pxs::ShadingState& st) {
        s.param<bool>("u_cosineUsesBump") = true;  // the cosine shows the bent normal
        s.param<float>("u_normal0Amount") = 10.0f;
        s.param<pxs::matrix3>("u_normal0Transform").m[6] = 0.25f;
        return evaluated(s, st, sv).sampleCosine;
    };
    Shader ward("corvid_Mtl_Ward");
    ward.param<pxs::TextureHandle>("u_normal0Map") = ramp.handle();
    pxs::ShadingState wardView =
        vtest::viewing(kView).attribute(48, pxs::float2(0.3f, 0.6f)).build();
    wardView.sampleDirection = kLight;
    const float flat = cosine(ward, wardView);
    ward.param<bool>("u_normal0MapEnable") = true;
    const float bent = cosine(ward, wardView);
    EXPECT_GT(std::fabs(bent - flat), 0.01f);

    // A bitmap leaf with the identity xform reads what the map reads: the same bend.
    Shader b("corvid_Mtl_Ward_5592d496");
    b.param<pxs::TextureHandle>("_ward_normal0_map_UnifiedBitmap_texture") = ramp.handle();
    b.param<bool>("u_normal0MapEnable") = true;
    EXPECT_EQ(cosine(b, variantView(kView)), bent);

    // A lone Noise reads no coordinate: three equal heights, no bend.
    Shader n("corvid_Mtl_Ward_5ba0bfff");
    n.param<bool>("u_normal0MapEnable") = true;
    sv.clear();
    EXPECT_EQ(cosine(n, variantView(kView)), flat);
    EXPECT_EQ(sv.count(vhost::kSvcNoise3), 3);
}

}  // namespace
