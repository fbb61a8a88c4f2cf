#include "host/reference/preview.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <sstream>
#include <stdexcept>

#include "host/reference/image_io.h"
#include "host/reference/noise.h"
#include "host/reference/scene.h"
#include "host/reference/vmath.h"

namespace vrender {

using nlohmann::json;
using namespace vref;  // the host's vector arithmetic
using pxs::ParamType;
using vhost::ClassInfo;

namespace {

constexpr char kGround[] = "corvid_Mtl_ShadowPlane";
constexpr char kPointLight[] = "qzPointLight";
constexpr char kSpotLight[] = "qzSpotLight";
constexpr char kEnvironment[] = "corvid_Env_Default";
constexpr char kMatte[] = "corvid_Mtl_Ward";
constexpr char kMetal[] = "corvid_Mtl_Metal";
constexpr char kMirror[] = "corvid_Mtl_Mirror";
constexpr char kFallback[] = "corvid_Mtl_Solid";
constexpr char kWardVariantPrefix[] = "corvid_Mtl_Ward_";
constexpr char kShaderBall[] = "shaderball.obj";

bool exported(const vhost::Library& lib, const std::string& name) {
    const auto& c = lib.classes();
    return std::find(c.begin(), c.end(), name) != c.end();
}

// ---- built-in images ----

// Encodes a float image (rows from the top; channels 1 or 3) in the format the
// extension of `name` gives.
std::string encodeImage(const std::string& name, int w, int h, int channels,
                        const std::function<void(float, float, float*)>& texel) {
    std::vector<float> pixels(static_cast<size_t>(w) * h * channels);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            texel((x + 0.5f) / w, (y + 0.5f) / h,
                  &pixels[(static_cast<size_t>(y) * w + x) * channels]);
        }
    }
    std::vector<unsigned char> bytes;
    if (!encodePixels(name, w, h, channels, pixels.data(), &bytes).empty()) {
        throw std::runtime_error("cannot make the preview image " + name);
    }
    return std::string(bytes.begin(), bytes.end());
}

float fractal(float x, float y) {
    float v = 0.0f, a = 0.5f, f = 1.0f;
    for (int i = 0; i < 4; ++i, a *= 0.5f, f *= 2.0f) v += a * vref::noise2(x * f, y * f);
    return v / 0.9375f;
}

float smoothstep(float a, float b, float x) {
    float t = std::min(1.0f, std::max(0.0f, (x - a) / (b - a)));
    return t * t * (3.0f - 2.0f * t);
}

// Lat-long direction of (s, t): t = 0 is straight up (+y of the lookup direction).
float3 latLong(float s, float t) {
    float phi = s * 2.0f * kPi, elev = (0.5f - t) * kPi;
    return {std::cos(elev) * std::cos(phi), std::sin(elev), std::cos(elev) * std::sin(phi)};
}

// An outdoor sky with a sun and a few soft clouds, so that reflections show shape.
float3 sky(float s, float t, bool diffuse) {
    float up = std::cos(t * kPi);
    float3 zenith(0.22f, 0.42f, 0.85f), horizon(0.85f, 0.82f, 0.78f), ground(0.22f, 0.2f, 0.18f);
    float3 c;
    if (up >= 0.0f) {
        float k = std::pow(up, diffuse ? 0.7f : 0.45f);
        c = horizon * (1.0f - k) + zenith * k;
    } else {
        float k = std::min(1.0f, -up * 6.0f);
        c = horizon * (0.6f * (1.0f - k)) + ground * k;
    }
    if (diffuse) return c * 0.9f + float3(0.1f);
    float3 d = latLong(s, t);
    float3 sun = latLong(2.0f / (2.0f * kPi), 0.5f - 0.6f / kPi);
    float a = dot(d, sun);
    if (a > 0.9995f) c += float3(30.0f, 27.0f, 22.0f);
    c += float3(1.0f, 0.9f, 0.7f) * (0.35f * std::pow(std::max(a, 0.0f), 64.0f));
    if (up > 0.02f) {
        float cloud = fractal(s * 16.0f, t * 10.0f);
        float m =
            std::max(0.0f, std::min(1.0f, (cloud - 0.52f) * 4.0f)) * std::min(1.0f, up * 5.0f);
        c = c * (1.0f - 0.7f * m) + float3(0.95f) * (0.7f * m);
    }
    return c;
}

// A dark photo studio: two large soft boxes, a strip light behind and a grey floor.
float3 studio(float s, float t, bool diffuse) {
    float3 d = latLong(s, t);
    float up = d.y;
    float3 c = up > 0.0f
                   ? float3(0.035f, 0.037f, 0.042f) * (1.0f - 0.5f * up)
                   : float3(0.05f, 0.048f, 0.045f) * (0.6f + 0.4f * smoothstep(-1.0f, 0.0f, up));
    auto box = [&](float3 centre, float w, float h, float3 light) {
        float3 n = normalize(centre);
        float3 side = normalize(cross(float3(0.0f, 1.0f, 0.0f), n));
        float3 top = cross(n, side);
        float k = dot(d, n);
        if (k <= 0.0f) return;
        float3 p = d / k - n;
        float x = std::fabs(dot(p, side)) / w, y = std::fabs(dot(p, top)) / h;
        float m = (1.0f - smoothstep(0.85f, 1.0f, x)) * (1.0f - smoothstep(0.85f, 1.0f, y));
        c += light * m;
    };
    float gain = diffuse ? 0.25f : 1.0f;
    box(float3(-0.8f, 0.55f, 0.5f), 0.45f, 0.3f, float3(6.0f, 5.8f, 5.4f) * gain);
    box(float3(0.9f, 0.25f, 0.3f), 0.25f, 0.45f, float3(2.2f, 2.4f, 2.8f) * gain);
    box(float3(0.0f, 0.2f, -1.0f), 0.9f, 0.05f, float3(3.0f) * gain);
    return c;
}

struct ImageAsset {
    const char* name;
    const char* file;
    bool cube;
    int w, h, channels;
    std::function<void(float, float, float*)> texel;
};

void rgb(float* p, float3 c) {
    p[0] = c.x, p[1] = c.y, p[2] = c.z;
}

const std::vector<ImageAsset>& imageAssets() {
    static const std::vector<ImageAsset> assets = {
        {"checker", "checker.png", false, 256, 256, 3,
         [](float u, float v, float* p) {
             bool odd = (static_cast<int>(u * 8) + static_cast<int>(v * 8)) % 2;
             rgb(p, odd ? float3(0.82f, 0.76f, 0.64f) : float3(0.22f, 0.28f, 0.38f));
         }},
        {"marble", "marble.png", false, 256, 256, 3,
         [](float u, float v, float* p) {
             float vein =
                 std::sin((u * 3.0f + v + 2.5f * fractal(u * 6.0f, v * 6.0f)) * 2.0f * kPi);
             float k = std::pow(1.0f - std::fabs(vein), 6.0f);
             rgb(p, float3(0.9f, 0.62f, 0.32f) * (1.0f - k) + float3(0.98f, 0.95f, 0.88f) * k);
         }},
        {"bumps", "bumps.png", false, 256, 256, 1,
         [](float u, float v, float* p) { p[0] = fractal(u * 8.0f, v * 8.0f); }},
        {"stripes", "stripes.png", false, 256, 256, 1,
         [](float u, float, float* p) { p[0] = 0.5f + 0.5f * std::sin(u * 2.0f * kPi * 12.0f); }},
        {"dots", "dots.png", false, 256, 256, 1,
         [](float u, float v, float* p) {
             float x = u * 10.0f - std::floor(u * 10.0f) - 0.5f;
             float y = v * 10.0f - std::floor(v * 10.0f) - 0.5f;
             p[0] = 1.0f - smoothstep(0.26f, 0.3f, std::sqrt(x * x + y * y));
         }},
        {"flakes", "flakes.png", false, 128, 128, 3,
         [](float u, float v, float* p) {
             float3 j = vref::cellJitter(u * 128.0f, v * 128.0f, 0.0f);
             float3 n = normalize(float3(0.35f * j.x, 0.35f * j.y, 1.0f));
             rgb(p, float3(0.5f * n.x + 0.5f, 0.5f * n.y + 0.5f, n.z));
         }},
        {"sky", "sky.exr", true, 512, 256, 3,
         [](float s, float t, float* p) { rgb(p, sky(s, t, false)); }},
        {"skyDiffuse", "sky_diffuse.exr", true, 64, 32, 3,
         [](float s, float t, float* p) { rgb(p, sky(s, t, true)); }},
        {"studio", "studio.exr", true, 512, 256, 3,
         [](float s, float t, float* p) { rgb(p, studio(s, t, false)); }},
        {"studioDiffuse", "studio_diffuse.exr", true, 64, 32, 3,
         [](float s, float t, float* p) { rgb(p, studio(s, t, true)); }},
    };
    return assets;
}

const ImageAsset* findAsset(const std::string& name) {
    for (const ImageAsset& a : imageAssets()) {
        if (name == a.name) return &a;
    }
    return nullptr;
}

// ---- the shader ball: a ball on a pedestal with a ring around it ----

struct MeshWriter {
    std::ostringstream obj;
    int vertices = 0;

    void vertex(float3 p, float3 n, float2 uv) {
        obj << "v " << p.x << ' ' << p.y << ' ' << p.z << "\nvn " << n.x << ' ' << n.y << ' ' << n.z
            << "\nvt " << uv.x << ' ' << uv.y << '\n';
    }
    // A grid of (rows + 1) x (cols + 1) vertices from `at`, as quads split in two.
    void grid(int rows, int cols, const std::function<void(float, float, float3*, float3*)>& at) {
        int base = vertices + 1;
        for (int r = 0; r <= rows; ++r) {
            for (int c = 0; c <= cols; ++c) {
                float u = static_cast<float>(c) / cols, v = static_cast<float>(r) / rows;
                float3 p, n;
                at(u, v, &p, &n);
                vertex(p, n, float2(u * 4.0f, v * 2.0f));
            }
        }
        vertices += (rows + 1) * (cols + 1);
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < cols; ++c) {
                int a = base + r * (cols + 1) + c, b = a + 1, d = a + cols + 1, e = d + 1;
                obj << "f " << a << '/' << a << '/' << a << ' ' << b << '/' << b << '/' << b << ' '
                    << e << '/' << e << '/' << e << "\nf " << a << '/' << a << '/' << a << ' ' << e
                    << '/' << e << '/' << e << ' ' << d << '/' << d << '/' << d << '\n';
            }
        }
    }
};

std::string shaderBallObj() {
    MeshWriter m;
    m.obj.precision(6);
    const int seg = 96;
    // Pedestal: a lathe profile (radius, height) from the ground to the neck.
    const float2 profile[] = {{0.0f, 0.0f},  {0.78f, 0.0f},  {0.8f, 0.04f},
                              {0.8f, 0.12f}, {0.74f, 0.16f}, {0.42f, 0.2f},
                              {0.3f, 0.3f},  {0.28f, 0.42f}, {0.0f, 0.42f}};
    const int np = sizeof profile / sizeof profile[0];
    for (int i = 0; i + 1 < np; ++i) {
        float2 a = profile[i], b = profile[i + 1];
        float3 n2 = normalize(float3(b.y - a.y, 0.0f, a.x - b.x));  // outward in (r, z)
        m.grid(1, seg, [&](float u, float v, float3* p, float3* n) {
            float phi = u * 2.0f * kPi, r = a.x + (b.x - a.x) * v, z = a.y + (b.y - a.y) * v;
            *p = float3(r * std::cos(phi), r * std::sin(phi), z);
            *n = float3(n2.x * std::cos(phi), n2.x * std::sin(phi), n2.z);
        });
    }
    // The ball.
    const float3 centre(0.0f, 0.0f, 1.22f);
    const float radius = 0.82f;
    m.grid(48, seg, [&](float u, float v, float3* p, float3* n) {
        float phi = u * 2.0f * kPi, theta = v * kPi;
        *n = float3(std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi),
                    -std::cos(theta));
        *p = centre + *n * radius;
    });
    // A ring around the ball, tilted towards the viewer.
    const float major = 0.98f, minor = 0.07f, tilt = 0.45f;
    auto turn = [&](float3 v) {
        return float3(v.x, v.y * std::cos(tilt) - v.z * std::sin(tilt),
                      v.y * std::sin(tilt) + v.z * std::cos(tilt));
    };
    m.grid(16, 2 * seg, [&](float u, float v, float3* p, float3* n) {
        float phi = u * 2.0f * kPi, psi = v * 2.0f * kPi;
        float3 ring(std::cos(phi), std::sin(phi), 0.0f);
        float3 local = ring * std::cos(psi) + float3(0.0f, 0.0f, std::sin(psi));
        *n = turn(local);
        *p = centre + turn(ring * major + local * minor);
    });
    return m.obj.str();
}

// ---- parameters ----

// Whether a table value suits a parameter type.
bool suits(ParamType type, const json& v) {
    switch (type) {
        case ParamType::Bool:
            return v.is_boolean();
        case ParamType::Int:
            return v.is_number_integer();
        case ParamType::Float:
            return v.is_number();
        case ParamType::Float2:
            return v.is_array() && v.size() == 2;
        case ParamType::Float3:
            return v.is_array() && v.size() == 3;
        case ParamType::Float4:
            return v.is_array() && v.size() == 4;
        case ParamType::Matrix3:
            return v.is_array() && v.size() == 9;
        case ParamType::Matrix4:
            return v.is_array() && v.size() == 16;
        case ParamType::TextureCube:
            return v.is_string() && isBuiltinCube(v.get<std::string>());
        case ParamType::Texture2D:
        case ParamType::TextureB:
            return v.is_string() && isBuiltinTexture(v.get<std::string>());
    }
    return false;
}

const json& presetTable() {
    static const json table = json::parse(R"({
        "*": {"usingRaytracedAO": true},
        "corvid_Mtl_Unlit": {"diffuseColor": [1.0, 0.55, 0.1]},
        "corvid_Mtl_AmbientOnly": {"showAmbientOnly": true},
        "corvid_Mtl_ShadowPlane": {"shadowIntensity": 0.75, "shadowColor": [0.02, 0.02, 0.05]},
        "corvid_Mtl_Mirror": {"u_tintColor": [0.95, 0.95, 0.95]},
        "corvid_Mtl_Metal": {
            "u_diffuseColor": [0.02, 0.02, 0.02], "u_diffuseWeight": 0.2,
            "u_specularColor": [0.95, 0.72, 0.4], "u_roughValue": 0.15,
            "u_glossyValueU": 0.05, "u_glossyValueV": 0.2, "u_anisotropyValue": 1.0,
            "u_anisoRotationValue": 0.0, "u_brdfCurvePower": 5.0,
            "u_brdf00Reflectivity": 0.7, "u_brdf90Reflectivity": 1.0,
            "u_cutoutsSwitcher": 0, "u_cutoutsCenter": 0.5, "u_cutoutsSize": 0.5,
            "u_cutoutsSpace": 1.0, "u_otherScale": 1.0, "u_uvDefScale": 1.0,
            "u_bumpSwitcher": 0, "u_metalPatternScale": 1.0, "u_reflectSwitcher": 0,
            "u_anisoSwitcher": 0, "u_anisoRotSwitcher": 0, "u_anisoColor": [1.0, 1.0, 1.0],
            "u_reflectColor": [1.0, 1.0, 1.0], "u_reflMapAmount": 1.0,
            "u_anisoMapAmount": 1.0, "u_anisorotMapAmount": 1.0,
            "u_patinaColor": [0.3, 0.55, 0.45], "u_patinaGlossy": 0.3, "u_patternAmount": 0.0},
        "corvid_Mtl_Dielectric": {"u_roughValue": 0.02, "u_refractColor": [0.95, 1.0, 0.97],
            "u_absorptionCoef": [0.1, 0.03, 0.05], "u_falloffEnable": true},
        "corvid_Mtl_Glazing": {"u_refractColor": [0.8, 0.9, 1.0]},
        "corvid_Mtl_MetallicPaint": {"u_baseColor": [0.6, 0.04, 0.05, 1.0],
            "u_topcoatEnable": true, "u_flecksEnable": true, "u_flecksSize": 0.05},
        "corvid_Mtl_Ward": {"u_diffuseColor": [0.15, 0.35, 0.6], "u_roughValue": 0.2,
            "u_specularColor": [0.25, 0.25, 0.25], "u_reflectGlossyValue": 0.2,
            "u_brdf00Reflectivity": 0.05, "u_brdf90Reflectivity": 0.6, "u_brdfCurvePower": 5.0},
        "TamberLegacy": {"diffuseColor": [0.7, 0.45, 0.2], "specularColor": [0.4, 0.4, 0.4]},
        "XRite": {"flakeNormalTexture": "flakes", "maxFlakes": 2.0},
        "BackgroundGeometry": {"diffuseTexture": "checker", "diffuseMode": 1,
            "specularColor": [0.0, 0.0, 0.0]},
        "qzPointLight": {"color": [1.0, 0.95, 0.88], "range": 100.0,
            "attenuationFactors": [40.0, 2.0, 0.0], "castShadows": true},
        "qzSpotLight": {"color": [0.8, 0.9, 1.0], "range": 100.0,
            "attenuationFactors": [40.0, 2.0, 1.0], "castShadows": true,
            "cosPenumbra": 0.82, "cosUmbra": 0.92},
        "corvid_Env_Default": {"backgroundColor": [0.32, 0.36, 0.42]},
        "corvid_Env_Backplate": {"backgroundColor": [0.32, 0.36, 0.42],
            "useBackgroundImage": true, "backgroundImage": "checker"}
    })");
    return table;
}

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A generated Ward variant shows its node graphs: each input that has a graph is
// switched on, every image leaf gets a built-in image chosen by the slot it
// fills (so that the two sides of a noise or a tile differ), every noise node a
// size by its depth and a soft split, every tile node wide mortar and varied
// bricks, so that each graph reads in the picture.
size_t occurrences(const std::string& s, const char* part) {
    size_t n = 0;
    for (size_t at = s.find(part); at != std::string::npos; at = s.find(part, at + 1)) ++n;
    return n;
}

// The built-in image on a node graph's image leaf.
const char* leafImage(const std::string& name, bool height) {
    if (startsWith(name, "_ward_cutout_")) return "dots";
    // The second slot of a node takes the other image, and so does every leaf
    // under an odd number of second slots.
    std::string leaf = name.substr(0, name.rfind("_UnifiedBitmap_texture"));
    bool other = (occurrences(leaf, "_color2") + occurrences(leaf, "_mortarColor")) % 2 == 1;
    if (height) return other ? "stripes" : "bumps";
    return other ? "marble" : "checker";
}

// The value that shows a node graph parameter; null to keep its default.
json nodeValue(const vhost::ParameterInfo& p) {
    const std::string& name = p.name;
    bool height = startsWith(name, "_ward_normal0_") || startsWith(name, "_ward_cutout_");
    if (p.type == ParamType::Texture2D) return leafImage(name, height);
    if (endsWith(name, "_Noise_size")) return occurrences(name, "_Noise_") > 1 ? 0.15 : 0.5;
    if (endsWith(name, "_Tile_horizontalGap") || endsWith(name, "_Tile_verticalGap")) return 0.04;
    if (endsWith(name, "_Tile_colorVariance")) return 0.5;
    // The host's noise is signed: split it around 0 with a soft edge.
    if (endsWith(name, "_Noise_thresholdLow")) return -0.12;
    if (endsWith(name, "_Noise_thresholdHigh")) return 0.12;
    if (endsWith(name, "_Noise_color1") && !height) return {0.08, 0.3, 0.35, 1.0};
    if (endsWith(name, "_Noise_color2") && !height) return {0.95, 0.6, 0.25, 1.0};
    return nullptr;
}

// Switches on the inputs that have node graphs, with a bump strong enough to see.
void enableGraphs(const ClassInfo& info, json& params) {
    const struct {
        const char* graphPrefix;
        const char* enable;
    } inputs[] = {{"_ward_diffuse_color_", "u_diffuseMapEnable"},
                  {"_ward_normal0_map_", "u_normal0MapEnable"},
                  {"_ward_cutout_map_", "u_cutoutMapEnable"}};
    for (const auto& in : inputs) {
        bool hasGraph = false;
        for (const vhost::ParameterInfo& p : info.parameters) {
            hasGraph = hasGraph || startsWith(p.name, in.graphPrefix);
        }
        if (hasGraph && info.type(in.enable)) params[in.enable] = true;
    }
    if (params.contains("u_normal0MapEnable") && info.type("u_normal0Amount")) {
        params["u_normal0Amount"] = 12.0;
    }
}

void showNodeGraphs(const ClassInfo& info, json& params) {
    bool any = false;
    for (const vhost::ParameterInfo& p : info.parameters) {
        if (!startsWith(p.name, "_ward_")) continue;
        any = true;
        if (params.contains(p.name)) continue;
        json v = nodeValue(p);
        if (!v.is_null()) params[p.name] = v;
    }
    if (any) enableGraphs(info, params);
}

// ---- the scene ----

struct Environment {
    std::string reflection, diffuse;  // texture references for the cube parameters
    json background;
};

Environment environmentOf(const std::string& env) {
    if (env == "none") return {"", "", {0.18, 0.18, 0.19}};
    if (env == "studio") return {"studio", "studioDiffuse", {0.05, 0.05, 0.055}};
    if (env == "sky") return {"sky", "skyDiffuse", {0.32, 0.36, 0.42}};
    std::string file = std::filesystem::absolute(env).lexically_normal().string();
    return {file, file, {0.2, 0.2, 0.22}};
}

// The values of `given` where the class has the parameter, with cube maps left
// out pointed at the environment.
json completeParams(const ClassInfo& info, json given, const Environment& env) {
    if (!given.is_object()) return given;  // the loader reports it
    for (const vhost::ParameterInfo& p : info.parameters) {
        const std::string& name = p.name;
        if (p.type != ParamType::TextureCube || given.contains(name) || env.reflection.empty()) {
            continue;
        }
        bool diffuse =
            name.find("diffuse") != std::string::npos || name.find("Diffuse") != std::string::npos;
        given[name] = diffuse ? env.diffuse : env.reflection;
    }
    return given;
}

// Built-in names among the string values become scene textures; other strings are
// file names, made absolute so that the document renders from anywhere.
void resolveTextures(json& params, json& textures, const std::string& assetDir) {
    if (!params.is_object()) return;
    for (auto it = params.begin(); it != params.end(); ++it) {
        if (!it.value().is_string()) continue;
        std::string ref = it.value().get<std::string>();
        if (const ImageAsset* a = findAsset(ref)) {
            json t = {{"file", (std::filesystem::path(assetDir) / a->file).string()}};
            if (a->cube) t["cube"] = true;
            textures[ref] = t;
        } else if (!ref.empty()) {
            it.value() = std::filesystem::absolute(ref).lexically_normal().string();
        }
    }
}

json namedMaterial(const vhost::Library& lib, const char* cls, json params) {
    if (!exported(lib, cls)) return {{"class", kFallback}, {"params", {{"patchState", 2}}}};
    return {{"class", cls}, {"params", std::move(params)}};
}

// The preset of a helper class, when the library has it.
json helperPreset(const vhost::Library& lib, const std::string& cls) {
    return presetParams(vhost::describeClass(lib, cls));
}

}  // namespace

const std::vector<std::string>& builtinTextures() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n;
        for (const ImageAsset& a : imageAssets()) {
            if (!a.cube) n.push_back(a.name);
        }
        return n;
    }();
    return names;
}

const std::vector<std::string>& builtinCubes() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n;
        for (const ImageAsset& a : imageAssets()) {
            if (a.cube) n.push_back(a.name);
        }
        return n;
    }();
    return names;
}

bool isBuiltinCube(const std::string& name) {
    const ImageAsset* a = findAsset(name);
    return a && a->cube;
}

bool isBuiltinTexture(const std::string& name) {
    const ImageAsset* a = findAsset(name);
    return a && !a->cube;
}

FileSet previewAssetFiles(const std::string& dir) {
    FileSet files;
    for (const ImageAsset& a : imageAssets()) {
        std::string path = (std::filesystem::path(dir) / a.file).string();
        files[path] = encodeImage(a.file, a.w, a.h, a.channels, a.texel);
    }
    files[(std::filesystem::path(dir) / kShaderBall).string()] = shaderBallObj();
    return files;
}

void writePreviewAssets(const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!std::filesystem::is_directory(dir, ec)) {
        throw std::runtime_error("cannot make the preview asset directory " + dir);
    }
    for (const auto& [path, bytes] : previewAssetFiles(dir)) {
        if (std::filesystem::exists(path, ec)) continue;
        std::string err =
            writeWholeFile(path, std::vector<unsigned char>(bytes.begin(), bytes.end()));
        if (!err.empty())
            throw std::runtime_error("cannot write the preview file " + path + ": " + err);
    }
}

const char* shapeName(PreviewShape s) {
    switch (s) {
        case PreviewShape::Sphere:
            return "sphere";
        case PreviewShape::ShaderBall:
            return "shaderball";
        case PreviewShape::Plane:
            return "plane";
    }
    return "sphere";
}

namespace {

// The table's values for a class.
json tableParams(const ClassInfo& info) {
    const json& table = presetTable();
    json params = json::object();
    auto apply = [&](const std::string& key) {
        if (!table.contains(key)) return;
        for (auto it = table.at(key).begin(); it != table.at(key).end(); ++it) {
            const ParamType* t = info.type(it.key());
            if (t && suits(*t, it.value())) params[it.key()] = it.value();
        }
    };
    apply("*");
    // The generated Ward variants share the Ward material's parameters.
    if (startsWith(info.name, kWardVariantPrefix)) apply(kMatte);
    apply(info.name);
    return params;
}

}  // namespace

json presetParams(const ClassInfo& info) {
    json params = tableParams(info);
    showNodeGraphs(info, params);
    // The Ward material shows its own image input: height map 0.
    if (info.name == kMatte && info.type("u_normal0Map")) {
        params["u_normal0MapEnable"] = true;
        params["u_normal0Map"] = "bumps";
        params["u_normal0Amount"] = 12.0;
    }
    return params;
}

namespace {

// What the parts of a preview share: the library, the images' directory, the
// environment, and the textures the parameters name.
struct PreviewParts {
    const vhost::Library& lib;
    const std::string& assetDir;
    Environment env;
    json textures = json::object();

    // A helper class's material, its parameters completed and their images resolved.
    json helper(json material) {
        json& params = material["params"];
        params = completeParams(vhost::describeClass(lib, material["class"]), params, env);
        resolveTextures(params, textures, assetDir);
        return material;
    }
};

json renderBlock(const PreviewRequest& r) {
    return {{"width", r.width}, {"height", r.height},
            {"spp", r.spp},     {"mode", r.pathMode ? "path" : "direct"},
            {"seed", r.seed},   {"maxDepth", 4},
            {"aoSamples", 2},   {"aoDistance", 1.2},
            {"giSamples", 1}};
}

// The object a material is shown on.
json subjectObject(PreviewShape shape, const std::string& assetDir) {
    json subject = {{"name", "subject"}, {"material", "subject"}};
    if (shape == PreviewShape::Sphere) {
        subject.update({{"type", "sphere"},
                        {"radius", 1.0},
                        {"segments", 96},
                        {"translate", {0.0, 0.0, 1.0}}});
    } else if (shape == PreviewShape::ShaderBall) {
        subject.update({{"type", "mesh"},
                        {"file", (std::filesystem::path(assetDir) / kShaderBall).string()},
                        {"rotate", {0.0, 0.0, 0.0}}});
    } else {
        subject.update({{"type", "plane"},
                        {"size", {2.2, 2.2}},
                        {"rotate", {62.0, 0.0, 0.0}},
                        {"translate", {0.0, 0.0, 1.05}}});
    }
    return subject;
}

// What a light or an environment lights: a matte, a metal and a mirror sphere.
json helperSpheres(PreviewParts& parts) {
    const vhost::Library& lib = parts.lib;
    json matte = tableParams(vhost::describeClass(lib, kMatte));
    matte["u_diffuseColor"] = {0.7, 0.7, 0.68};
    const json sets[] = {namedMaterial(lib, kMatte, matte),
                         namedMaterial(lib, kMetal, helperPreset(lib, kMetal)),
                         namedMaterial(lib, kMirror, helperPreset(lib, kMirror))};
    json spheres = json::array();
    for (int i = 0; i < 3; ++i) {
        spheres.push_back({{"name", std::string("sphere") + std::to_string(i + 1)},
                           {"type", "sphere"},
                           {"radius", 0.62},
                           {"segments", 96},
                           {"translate", {(i - 1) * 1.45, 0.0, 0.62}},
                           {"material", parts.helper(sets[i])}});
    }
    return spheres;
}

// The ground: a shadow catcher, or for a light a grey floor it can be seen on.
json groundObject(PreviewParts& parts, bool light) {
    const vhost::Library& lib = parts.lib;
    json material = namedMaterial(lib, kGround, helperPreset(lib, kGround));
    if (light) {
        json floor = tableParams(vhost::describeClass(lib, kMatte));
        floor["u_diffuseColor"] = {0.5, 0.5, 0.5};
        material = namedMaterial(lib, kMatte, floor);
    }
    return {{"name", "ground"},
            {"type", "plane"},
            {"size", {60.0, 60.0}},
            {"material", parts.helper(material)}};
}

json camera(double distance, double height, double target) {
    return {{"position", {0.0, -distance, height}},
            {"target", {0.0, 0.0, target}},
            {"up", {0, 0, 1}},
            {"fov", 30}};
}

// A helper light: the library's class when it exports it, else the host's own.
json helperLight(const vhost::Library& lib, json light, const char* cls, const json& hostKeys) {
    if (exported(lib, cls)) {
        light["class"] = cls;
        light["params"] = helperPreset(lib, cls);
    } else {
        light.update(hostKeys);
    }
    return light;
}

// The light class itself, or a key light and a spot.
json previewLights(const vhost::Library& lib, const ClassInfo& info, const json& params) {
    if (info.kind == pxs::kKindLight) {
        return json::array({{{"name", "subject"},
                             {"class", info.name},
                             {"position", {0.6, -2.2, 3.6}},
                             {"target", {0.0, 0.0, 0.3}},
                             {"params", params}}});
    }
    json key = helperLight(lib, {{"name", "key"}, {"position", {-3.2, -4.0, 5.5}}}, kPointLight,
                           {{"type", "point"}, {"color", {1.0, 0.95, 0.88}}, {"intensity", 60.0}});
    json rim = helperLight(
        lib, {{"name", "spot"}, {"position", {4.0, -2.5, 6.0}}, {"target", {0.0, 0.0, 0.5}}},
        kSpotLight,
        {{"type", "spot"},
         {"color", {0.8, 0.9, 1.0}},
         {"intensity", 60.0},
         {"cosOuter", 0.82},
         {"cosInner", 0.92}});
    return json::array({key, rim});
}

// The environment class itself, or the environment's images behind the scene;
// null for none.
json previewEnvironment(PreviewParts& parts, const ClassInfo& info, json params,
                        const PreviewRequest& r) {
    if (info.kind == pxs::kKindEnvironment) {
        // A screen-space backplate is fitted to the frame unless told otherwise.
        if (info.type("uv_scale") && params.is_object() && !params.contains("uv_scale")) {
            params["uv_scale"] = {1.0 / r.width, 1.0 / r.height};
        }
        return {{"class", info.name}, {"params", params}};
    }
    if (parts.env.reflection.empty() || !exported(parts.lib, kEnvironment)) return nullptr;
    json e = completeParams(vhost::describeClass(parts.lib, kEnvironment),
                            helperPreset(parts.lib, kEnvironment), parts.env);
    e["backgroundColor"] = parts.env.background;
    resolveTextures(e, parts.textures, parts.assetDir);
    return {{"class", kEnvironment}, {"params", e}};
}

}  // namespace

json previewScene(const vhost::Library& lib, const ClassInfo& info, const PreviewRequest& r,
                  const std::string& assetDir) {
    bool light = info.kind == pxs::kKindLight;
    // Lights are shown alone, against a dark studio.
    PreviewParts parts{lib, assetDir, environmentOf(light ? "none" : r.environment)};
    if (light) parts.env.background = {0.02, 0.02, 0.025};
    json params = completeParams(info, r.params, parts.env);
    resolveTextures(params, parts.textures, assetDir);
    json s = {{"render", renderBlock(r)},
              {"ambient", light ? json{0.01, 0.01, 0.012} : json{0.05, 0.05, 0.06}},
              {"background", parts.env.background}};
    json objects = json::array();
    if (info.kind == pxs::kKindMaterial) {
        s["materials"] = {{"subject", {{"class", info.name}, {"params", params}}}};
        objects.push_back(subjectObject(r.shape, assetDir));
        s["camera"] = camera(5.6, 2.1, 1.0);
    } else {
        objects = helperSpheres(parts);
        s["camera"] = camera(6.6, 2.7, 0.55);
    }
    objects.push_back(groundObject(parts, light));
    s["objects"] = objects;
    s["lights"] = previewLights(lib, info, params);
    json environment = previewEnvironment(parts, info, params, r);
    if (!environment.is_null()) s["environment"] = environment;
    if (!parts.textures.empty()) s["textures"] = parts.textures;
    return s;
}

}  // namespace vrender
