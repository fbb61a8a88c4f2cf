// minimal_host: the smallest complete host of vesperShaders.
//
// For each class named on the command line it checks the API version, creates an
// object, lets it declare its parameters to pxs::ParameterTable (the registry of
// vesper/parameters.h, which writes values by name only with their registered type),
// binds textures, sets a light's falloff, shades one hit (and runs the optional
// operations the capability mask announces), prints the results and destroys the
// object. It exits non-zero when a class cannot be used or a result is not finite.
//
//   minimal_host [--plugin PATH] [CLASS...]      (default: corvid_Mtl_Solid)
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <vesper/parameters.h>
#include <vesper/vesper.h>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

using pxs::float2;
using pxs::float3;
using pxs::float4;

// --- Loading ---------------------------------------------------------------

class Plugin {
  public:
    explicit Plugin(const char* path) {
#if defined(_WIN32)
        handle_ = LoadLibraryA(path);
#else
        handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
#endif
    }
    ~Plugin() {
        if (!handle_) return;
#if defined(_WIN32)
        FreeLibrary(static_cast<HMODULE>(handle_));
#else
        dlclose(handle_);
#endif
    }
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    bool loaded() const {
        return handle_ != nullptr;
    }

    template <class Fn>
    Fn find(const std::string& name) const {
#if defined(_WIN32)
        using Any = void (*)();
        return reinterpret_cast<Fn>(
            reinterpret_cast<Any>(GetProcAddress(static_cast<HMODULE>(handle_), name.c_str())));
#else
        return reinterpret_cast<Fn>(dlsym(handle_, name.c_str()));
#endif
    }

  private:
    void* handle_ = nullptr;
};

// --- Host objects ----------------------------------------------------------

// A 2D texture (a checker in u, v) that also answers cube-map lookups with a sky
// gradient. Textures are shared by all render threads: sample keeps no state.
class DemoTexture final : public pxs::ITextureObject {
  public:
    explicit DemoTexture(bool cube) : cube_(cube) {}
    void sample(float4* out, const float* coords) override {
        if (cube_) {
            float up = 0.5f + 0.5f * coords[1];  // coords is a float3 direction
            *out = float4(0.4f * up, 0.5f * up, 0.7f * up, 1.0f);
        } else {
            int check = (static_cast<int>(std::floor(coords[0] * 8.0f)) +
                         static_cast<int>(std::floor(coords[1] * 8.0f))) &
                        1;
            *out = check ? float4(0.9f, 0.9f, 0.9f, 1.0f) : float4(0.1f, 0.1f, 0.1f, 1.0f);
        }
    }

  private:
    bool cube_;
};

// Render services for one thread: one white light above the viewer, a constant
// sky for every traced ray, no occlusion, and a small deterministic generator.
// The one hit this host shades has the normal (0, 0, 1), so the light node's
// lightFactor is the cosine |N.L| = 0.8: materials apply no cosine of their own.
class DemoServices final : public pxs::IRenderServices {
  public:
    DemoServices() {
        light_.direction = float3(0.0f, 0.6f, 0.8f);  // unit, from the point to the light
        light_.lightFactor = 0.8f;
        light_.lightContribution = float3(1.0f, 1.0f, 1.0f);
        light_.lightColor = float3(1.0f, 1.0f, 1.0f);
        light_.lightTransmission = float3(1.0f, 1.0f, 1.0f);
        light_.type = 0;  // neither tinted nor skipped: use lightContribution
        light_.next = nullptr;
    }

    const pxs::LightNode* getLights(int32_t, const float3*, const float3*) override {
        return &light_;
    }
    float3* ambientLight(float3* out, const float3*, const float3*) override {
        *out = float3(0.1f, 0.1f, 0.1f);
        return out;
    }
    float3* traceShadow(float3* out, const float3*, const float3*) override {
        *out = float3(1.0f, 1.0f, 1.0f);
        return out;
    }
    float3* traceRay(float3* out, int32_t, const float3*, const float3*, float) override {
        return sky(out);
    }
    float3* traceReflection(float3* out, const float3*, const float3*, float) override {
        return sky(out);
    }
    float4* traceTransmission(float4* out, const float3*, const float3*, float) override {
        return skyBehind(out);
    }
    float3* traceAnisotropicReflection(float3* out, const float3*, const float3*, const float3*,
                                       const float3*, float, float, float) override {
        return sky(out);
    }
    float3* traceGlossyReflection(float3* out, const float3*, const float3*, float,
                                  float) override {
        return sky(out);
    }
    float4* traceGlossyTransmission(float4* out, const float3*, const float3*, float,
                                    float) override {
        return skyBehind(out);
    }
    float3* ambientOcclusion(float3* out, const float3*, const float3*, float) override {
        *out = float3(1.0f, 1.0f, 1.0f);
        return out;
    }
    float3* globalIllumination(float3* out, const float3*, const float3*, float) override {
        *out = float3(0.05f, 0.05f, 0.05f);
        return out;
    }
    float random() override {
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<float>(state_ >> 8) * (1.0f / 16777216.0f);  // [0, 1), never 1
    }
    float2* random2(float2* out) override {
        out->x = random();
        out->y = random();
        return out;
    }
    float noise3(const float*) override { return 0.0f; }
    float noise3b(const float3*) override { return 0.0f; }
    float noise2(const float2*) override { return 0.0f; }
    float noise1(float) override { return 0.0f; }
    float latticeNoise(const float3*) override { return 0.0f; }
    float3* cellJitter(float3* out, const float3*) override {
        *out = float3(0.5f, 0.5f, 0.5f);
        return out;
    }

  private:
    static float3* sky(float3* out) {
        *out = float3(0.4f, 0.5f, 0.7f);
        return out;
    }
    // The caller presets the alpha in out->w; only the colour is the host's to write.
    static float4* skyBehind(float4* out) {
        out->x = 0.4f;
        out->y = 0.5f;
        out->z = 0.7f;
        return out;
    }

    pxs::LightNode light_{};
    uint32_t state_ = 12345u;
};

// --- One class -------------------------------------------------------------

float dot(const float3& a, const float3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

bool finite3(const float3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

void identity(float* m, int n) {
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) m[r * n + c] = r == c ? 1.0f : 0.0f;
    }
}

// A camera ray straight down onto a surface facing it, lit from above.
pxs::ShadingState makeHit() {
    pxs::ShadingState st{};  // every byte the host does not set below is zero
    st.rayOrigin = float3(0.0f, 0.0f, 5.0f);
    st.rayDirection = float3(0.0f, 0.0f, -1.0f);
    st.position = float3(0.0f, 0.0f, 0.0f);
    st.normal = float3(0.0f, 0.0f, 1.0f);
    st.geometricNormal = float3(0.0f, 0.0f, 1.0f);
    st.mappingPoint = float3(0.25f, 0.75f, 0.0f);
    st.mappingNormal = float3(0.0f, 0.0f, 1.0f);
    st.pixelPosition = float2(320.0f, 240.0f);
    st.imageHeight = 480;
    st.mediumIor = 1.0f;
    st.outsideIor = 1.0f;
    // World to object and object to world: the object's space is the world's here,
    // so the tangent attributes (object space) need no turning.
    identity(st.matrixA.m, 4);
    identity(st.matrixB.m, 4);
    st.rayType = pxs::kRayCamera;
    st.rayDepth = 0;
    st.rayDepthLimit = 8;
    st.outAlpha = 1.0f;  // shaders that do not write coverage leave the host's value
    for (uint8_t& allowed : st.allowLobe) allowed = 1;
    pxs::LightSample& ls = st.lightSample;
    // A light at (0, 3, 4) aimed at the hit: lightDirection runs from the light
    // towards the point, the way lightAxis points for a spot aimed at it.
    ls.lightPosition = float3(0.0f, 3.0f, 4.0f);
    ls.lightDirection = float3(0.0f, -0.6f, -0.8f);
    ls.lightAxis = float3(0.0f, -0.6f, -0.8f);
    ls.lightDistance = 5.0f;
    return st;
}

// Interpolated vertex data, placed where the shader asked for it.
bool placeAttributes(const pxs::ParameterTable& table, pxs::ShadingState* st) {
    for (const pxs::AttributeDeclaration& a : table.attributes) {
        float v[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        if (!std::strcmp(a.name, "uv") || !std::strcmp(a.name, "uv1")) {
            v[0] = 0.25f, v[1] = 0.75f;
        } else if (!std::strcmp(a.name, "tangent")) {
            v[0] = 1.0f;
        } else if (!std::strcmp(a.name, "bitangent")) {
            v[1] = 1.0f;
        } else if (!std::strcmp(a.name, "vtxcolor")) {
            v[0] = v[1] = v[2] = v[3] = 1.0f;
        }
        int32_t size = 4 * (a.kind + 1);  // kinds 1, 2, 3: float2, float3, float4
        if (a.kind < 1 || a.kind > 3 || a.offset < 0 ||
            a.offset + size > static_cast<int32_t>(pxs::kAttributeBytes)) {
            std::printf("  attribute %s does not fit the state\n", a.name);
            return false;
        }
        std::memcpy(st->attributes + a.offset, v, static_cast<size_t>(size));
    }
    return true;
}

bool runClass(const Plugin& plugin, const std::string& name) {
    auto version = plugin.find<pxs::ApiVersionFunction>(name + "_getAPIVersion");
    auto create = plugin.find<pxs::CreateFunction>(name + "_create");
    if (!version || !create) {
        std::printf("%s: not exported by the plug-in\n", name.c_str());
        return false;
    }
    if (version() != pxs::kApiVersion) {
        std::printf("%s: API version %d, this host speaks %d\n", name.c_str(), version(),
                    pxs::kApiVersion);
        return false;
    }
    pxs::IShaderBase* shader = create();
    if (!shader) {
        std::printf("%s: creation failed\n", name.c_str());
        return false;
    }

    pxs::ParameterTable table;
    shader->declareParameters(&table);
    static const char* const kKinds[] = {"material", "light", "environment"};
    int32_t kind = shader->shaderKind();
    std::printf("%s: %s, capabilities %u, %zu parameters\n", name.c_str(),
                kind >= 0 && kind <= 2 ? kKinds[kind] : "unknown kind", table.capabilities,
                table.parameters.size());

    // Every parameter starts at its default (matrices at identity); a host writes
    // only what its scene sets. Binding a texture writes the handle's pointer.
    DemoTexture image(false), sky(true);
    for (const pxs::ParamDeclaration& p : table.parameters) {
        std::printf("  %-12s %s\n", pxs::paramTypeName(p.type), p.name);
        if (p.type == pxs::ParamType::Texture2D) table.bindTexture(p.name, &image);
        if (p.type == pxs::ParamType::TextureCube) table.bindTexture(p.name, &sky);
    }

    bool ok = true;
    // Values go in by name with their registered type: a float3 here. A value of
    // another type or size is refused (WrongType) instead of overwriting the
    // parameters next to it. The lights' default falloff has exponent 0 and
    // delivers nothing; (10, 2, 0) gives 1 - (5 / 10)^2 = 0.75 at this hit.
    if (table.set("attenuationFactors", float3(10.0f, 2.0f, 0.0f)) == pxs::SetResult::WrongType) {
        std::printf("  attenuationFactors is not a float3\n");
        ok = false;
    }
    DemoServices services;
    pxs::ShadingState st = makeHit();
    ok = placeAttributes(table, &st) && ok;
    auto report = [&](const char* what, const float3& v, bool valid) {
        std::printf("  %-20s (%.4g, %.4g, %.4g)%s\n", what, v.x, v.y, v.z,
                    valid ? "" : "  NOT FINITE");
        ok = ok && valid;
    };

    if (kind == pxs::kKindMaterial) {
        auto* material = static_cast<pxs::MaterialShader*>(shader);
        material->shade(&services, &st);
        if (st.skipHit) {
            std::printf("  shade: the surface is not there for this ray\n");
        } else {
            report("shade outColor", st.outColor, finite3(st.outColor));
            std::printf("  %-20s %.4g\n", "shade outAlpha", st.outAlpha);
            ok = ok && std::isfinite(st.outAlpha);
        }
        // Only the operations the mask announces are ever called.
        if (table.capabilities & pxs::kCapShadowTransmission) {
            st.rayType = pxs::kRayOcclusion;
            material->shadowTransmission(&services, &st);
            report("outTransmission", st.outTransmission, finite3(st.outTransmission));
            st.rayType = pxs::kRayCamera;
        }
        if (table.capabilities & pxs::kCapEvaluateBsdf) {
            st.sampleDirection = float3(0.0f, 0.6f, 0.8f);
            material->evaluateBsdf(&services, &st);
            report("evaluateBsdf value", st.sampleValue,
                   finite3(st.sampleValue) && std::isfinite(st.sampleCosine));
        }
        if (table.capabilities & pxs::kCapSampleBsdf) {
            const float mediumBefore = st.mediumIor;
            material->sampleBsdf(&services, &st);
            bool valid = st.sampleKind == pxs::kSampleNone ||
                         (finite3(st.sampleDirection) && finite3(st.sampleValue) &&
                          std::isfinite(st.sampleCosine) && std::isfinite(st.sampleWeight));
            std::printf("  sampleBsdf kind %d\n", st.sampleKind);
            report("sampleBsdf direction", st.sampleDirection, valid);
            if (st.sampleKind != pxs::kSampleNone) {
                // The side the direction leaves on tells reflection from transmission
                // (the kind does not): only a direction through the surface enters
                // the medium whose index the call left in outsideIor.
                bool through = dot(st.sampleDirection, st.geometricNormal) *
                                   dot(st.rayDirection, st.geometricNormal) >
                               0.0f;
                std::printf("  next ray: %s, mediumIor %.4g\n",
                            through ? "through the surface" : "reflected",
                            through ? st.outsideIor : mediumBefore);
            }
        }
    } else if (kind == pxs::kKindLight) {
        static_cast<pxs::LightShader*>(shader)->shade(&services, &st);
        report("lightColor", st.lightSample.lightColor, finite3(st.lightSample.lightColor));
        report("lightTransmission", st.lightSample.lightTransmission,
               finite3(st.lightSample.lightTransmission));
    } else if (kind == pxs::kKindEnvironment) {
        st.rayDirection = float3(0.0f, 0.6f, 0.8f);  // a ray that left the scene
        static_cast<pxs::EnvironmentShader*>(shader)->shade(&services, &st);
        report("outColor", st.outColor, finite3(st.outColor));
    } else {
        ok = false;
    }

    // Slot 0 with the free flag: the memory goes back to the plug-in's allocator.
    shader->destroy(pxs::kDestroyFree);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = VESPER_PLUGIN;
    std::vector<std::string> classes;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--plugin") && i + 1 < argc) {
            path = argv[++i];
        } else {
            classes.push_back(argv[i]);
        }
    }
    if (classes.empty()) classes.push_back("corvid_Mtl_Solid");

    Plugin plugin(path);
    if (!plugin.loaded()) {
        std::fprintf(stderr, "minimal_host: cannot load %s\n", path);
        return 1;
    }
    int failed = 0;
    for (const std::string& c : classes) failed += runClass(plugin, c) ? 0 : 1;
    std::printf("%zu classes, %d failed\n", classes.size(), failed);
    return failed ? 1 : 0;
}
