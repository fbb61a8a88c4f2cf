#include "tools/vesper_render/gallery.h"

#include <cmath>
#include <map>

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include "host/reference/noise.h"
#include "host/reference/registry.h"
#include "host/reference/scene.h"
#include "host/slots.h"

namespace vrender {

using nlohmann::json;
using namespace vref;  // the host's vector arithmetic

namespace {

constexpr char kGround[] = "corvid_Mtl_ShadowPlane";
constexpr char kPointLight[] = "qzPointLight";
constexpr char kSpotLight[] = "qzSpotLight";
constexpr char kEnvironment[] = "corvid_Env_Default";
constexpr char kPlainGround[] = "corvid_Mtl_Solid";
constexpr char kFamilyPrefix[] = "corvid_Mtl_";

struct ClassInfo {
    std::string name;
    int32_t kind = -1;
    std::map<std::string, vref::ParamType> params;
};

ClassInfo inspect(const vhost::Library& lib, const std::string& name) {
    ClassInfo info;
    info.name = name;
    if (lib.apiVersion(name) != pxs::kApiVersion) return info;
    vhost::ShaderPtr obj = lib.create(name);
    if (!obj) return info;
    pxs::IShaderBase* raw = obj.get();
    auto s = vref::declareShader(name, name, raw, std::move(obj));
    info.kind = s->kind;
    for (const vref::Parameter& p : s->registry.parameters) info.params[p.name] = p.type;
    return info;
}

// Encodes a float image (rows from the top) into files[name]; channels 1, 3 or 4.
void writeTexture(FileSet& files, const std::string& name, int w, int h, int channels,
                  const std::function<void(float, float, float*)>& texel) {
    std::vector<float> pixels(static_cast<size_t>(w) * h * channels);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            texel((x + 0.5f) / w, (y + 0.5f) / h,
                  &pixels[(static_cast<size_t>(y) * w + x) * channels]);
        }
    }
    auto out = OIIO::ImageOutput::create(name);
    bool exr = name.size() > 4 && name.compare(name.size() - 4, 4, ".exr") == 0;
    OIIO::ImageSpec spec(w, h, channels, exr ? OIIO::TypeDesc::HALF : OIIO::TypeDesc::UINT8);
    std::vector<unsigned char> bytes;
    OIIO::Filesystem::IOVecOutput memory(bytes);
    if (out) out->set_ioproxy(&memory);
    if (!out || !out->open(name, spec) || !out->write_image(OIIO::TypeDesc::FLOAT, pixels.data()) ||
        !out->close()) {
        throw std::runtime_error("cannot make the gallery texture " + name);
    }
    files[name].assign(bytes.begin(), bytes.end());
}

float fractal(float x, float y) {
    float v = 0.0f, a = 0.5f, f = 1.0f;
    for (int i = 0; i < 4; ++i, a *= 0.5f, f *= 2.0f) v += a * vref::noise2(x * f, y * f);
    return v / 0.9375f;
}

// A sky in lat-long layout: t = 0 is straight up (+y of the lookup direction).
float3 sky(float s, float t, bool diffuse) {
    float up = std::cos(t * vref::kPi);
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
    // A sun, and a few soft clouds so that reflections show shape.
    float phi = s * 2.0f * vref::kPi, elev = (0.5f - t) * vref::kPi;
    float3 d(std::cos(elev) * std::cos(phi), std::sin(elev), std::cos(elev) * std::sin(phi));
    float sunElev = 0.6f, sunPhi = 2.0f;
    float3 sun(std::cos(sunElev) * std::cos(sunPhi), std::sin(sunElev),
               std::cos(sunElev) * std::sin(sunPhi));
    float a = vref::dot(d, sun);
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

void writeGalleryTextures(FileSet& files) {
    writeTexture(files, "checker.png", 256, 256, 3, [](float u, float v, float* p) {
        bool odd = (static_cast<int>(u * 8) + static_cast<int>(v * 8)) % 2;
        float3 c = odd ? float3(0.82f, 0.76f, 0.64f) : float3(0.22f, 0.28f, 0.38f);
        p[0] = c.x, p[1] = c.y, p[2] = c.z;
    });
    writeTexture(files, "bumps.png", 256, 256, 1,
                 [](float u, float v, float* p) { p[0] = fractal(u * 8.0f, v * 8.0f); });
    writeTexture(files, "stripes.png", 256, 256, 1, [](float u, float, float* p) {
        p[0] = 0.5f + 0.5f * std::sin(u * 2.0f * vref::kPi * 12.0f);
    });
    writeTexture(files, "flakes.png", 128, 128, 3, [](float u, float v, float* p) {
        float3 j = vref::cellJitter(u * 128.0f, v * 128.0f, 0.0f);
        float3 n = vref::normalize(float3(0.35f * j.x, 0.35f * j.y, 1.0f));
        p[0] = 0.5f * n.x + 0.5f, p[1] = 0.5f * n.y + 0.5f, p[2] = n.z;
    });
    writeTexture(files, "sky.exr", 512, 256, 3, [](float s, float t, float* p) {
        float3 c = sky(s, t, false);
        p[0] = c.x, p[1] = c.y, p[2] = c.z;
    });
    writeTexture(files, "sky_diffuse.exr", 64, 32, 3, [](float s, float t, float* p) {
        float3 c = sky(s, t, true);
        p[0] = c.x, p[1] = c.y, p[2] = c.z;
    });
}

// Whether a table value suits a parameter type.
bool suits(vref::ParamType type, const json& v) {
    using T = vref::ParamType;
    switch (type) {
        case T::Bool:
            return v.is_boolean();
        case T::Int:
            return v.is_number_integer();
        case T::Float:
            return v.is_number();
        case T::Float2:
            return v.is_array() && v.size() == 2;
        case T::Float3:
            return v.is_array() && v.size() == 3;
        case T::Float4:
            return v.is_array() && v.size() == 4;
        case T::Matrix3:
            return v.is_array() && v.size() == 9;
        case T::Matrix4:
            return v.is_array() && v.size() == 16;
        case T::TextureCube:
            return v.is_string() && v.get<std::string>().rfind("sky", 0) == 0;
        case T::Texture2D:
        case T::TextureB:
            return v.is_string() && v.get<std::string>().rfind("sky", 0) != 0;
    }
    return false;
}

// A generated Ward variant shows its node graphs: every image leaf gets a
// gallery texture and each input that has a graph is switched on.
void showNodeGraphs(const ClassInfo& info, json& params) {
    const std::string kNodePrefix = "_ward_";
    bool any = false;
    for (const auto& [name, type] : info.params) {
        if (name.rfind(kNodePrefix, 0) != 0) continue;
        any = true;
        if (type == vref::ParamType::Texture2D && !params.contains(name)) {
            params[name] = name.find("normal0") != std::string::npos ? "bumps" : "checker";
        }
    }
    if (!any) return;
    const struct {
        const char* graphPrefix;
        const char* enable;
    } inputs[] = {{"_ward_diffuse_color_", "u_diffuseMapEnable"},
                  {"_ward_normal0_map_", "u_normal0MapEnable"},
                  {"_ward_cutout_map_", "u_cutoutMapEnable"}};
    for (const auto& in : inputs) {
        bool hasGraph = false;
        for (const auto& entry : info.params) {
            hasGraph = hasGraph || entry.first.rfind(in.graphPrefix, 0) == 0;
        }
        if (hasGraph && info.params.count(in.enable)) params[in.enable] = true;
    }
    if (params.contains("u_normal0MapEnable") && info.params.count("u_normal0Amount")) {
        params["u_normal0Amount"] = 0.4;
    }
}

// The table's values for one class, limited to the parameters it has, plus the
// gallery's skies on every cube-map parameter left empty.
json paramsFor(const ClassInfo& info) {
    const json& table = galleryParameters();
    json params = json::object();
    auto apply = [&](const std::string& key) {
        if (!table.contains(key)) return;
        for (auto it = table.at(key).begin(); it != table.at(key).end(); ++it) {
            auto p = info.params.find(it.key());
            if (p != info.params.end() && suits(p->second, it.value())) {
                params[it.key()] = it.value();
            }
        }
    };
    apply("*");
    // The generated Ward variants share the Ward material's parameters.
    if (info.name.rfind("corvid_Mtl_Ward_", 0) == 0) apply("corvid_Mtl_Ward");
    apply(info.name);
    showNodeGraphs(info, params);
    for (const auto& [name, type] : info.params) {
        if (type != vref::ParamType::TextureCube || params.contains(name)) continue;
        bool diffuse =
            name.find("diffuse") != std::string::npos || name.find("Diffuse") != std::string::npos;
        params[name] = diffuse ? "skyDiffuse" : "sky";
    }
    return params;
}

}  // namespace

const json& galleryParameters() {
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
        "XRite": {"flakeNormalTexture": "flakes"},
        "BackgroundGeometry": {"diffuseTexture": "checker", "diffuseMode": 1,
            "specularColor": [0.0, 0.0, 0.0]},
        "qzPointLight": {"color": [1.0, 0.95, 0.88], "range": 100.0,
            "attenuationFactors": [40.0, 2.0, 0.0], "castShadows": true},
        "qzSpotLight": {"color": [0.8, 0.9, 1.0], "range": 100.0,
            "attenuationFactors": [40.0, 2.0, 1.0], "castShadows": true,
            "cosPenumbra": 0.82, "cosUmbra": 0.92},
        "corvid_Env_Default": {"backgroundColor": [0.32, 0.36, 0.42],
            "reflectionCube": "sky", "diffuseCube": "skyDiffuse"}
    })");
    return table;
}

Gallery makeGallery(const vhost::Library& library) {
    Gallery g;
    writeGalleryTextures(g.files);
    std::vector<ClassInfo> materials;
    std::map<std::string, ClassInfo> byName;
    for (const std::string& name : library.classes()) {
        ClassInfo info = inspect(library, name);
        byName[name] = info;
        if (info.kind == pxs::kKindMaterial && name != kGround) materials.push_back(info);
        if (info.kind < 0 || info.kind > 2) {
            g.notes.push_back(name + ": cannot be created or is of an unknown kind; not shown");
        }
        if (info.kind == pxs::kKindEnvironment && name != kEnvironment) {
            g.notes.push_back(name + ": an environment; the gallery shows " +
                              std::string(kEnvironment));
        }
        if (info.kind == pxs::kKindLight && name != kPointLight && name != kSpotLight) {
            g.notes.push_back(name + ": a light the gallery does not place");
        }
    }
    auto has = [&](const char* name, int32_t kind) {
        auto it = byName.find(name);
        return it != byName.end() && it->second.kind == kind;
    };

    json& s = g.scene;
    s["render"] = {{"width", 960},   {"height", 540},     {"spp", 16},     {"maxDepth", 4},
                   {"aoSamples", 2}, {"aoDistance", 1.2}, {"giSamples", 1}};
    s["ambient"] = {0.05, 0.05, 0.06};
    s["background"] = {0.32, 0.36, 0.42};
    s["textures"] = {
        {"checker", {{"file", "checker.png"}}},
        {"bumps", {{"file", "bumps.png"}}},
        {"stripes", {{"file", "stripes.png"}}},
        {"flakes", {{"file", "flakes.png"}}},
        {"sky", {{"file", "sky.exr"}, {"cube", true}}},
        {"skyDiffuse", {{"file", "sky_diffuse.exr"}, {"cube", true}}},
    };

    // Materials on a grid of spheres, in the library's (sorted) class order.
    // Rows further apart than columns, so that labels clear the row in front.
    const float spacing = 2.5f, rowSpacing = 3.6f, radius = 0.9f;
    int n = static_cast<int>(materials.size());
    int cols = std::max(1, static_cast<int>(std::ceil(std::sqrt(2.0 * std::max(n, 1)))));
    cols = std::min(cols, std::max(n, 1));
    int rows = std::max(1, (n + cols - 1) / cols);
    json objects = json::array();
    for (int i = 0; i < n; ++i) {
        int r = i / cols, c = i % cols;
        int inRow = std::min(cols, n - r * cols);
        float x = (c - 0.5f * (inRow - 1)) * spacing;
        float y = (0.5f * (rows - 1) - r) * rowSpacing;
        objects.push_back(
            {{"name", materials[i].name},
             {"type", "sphere"},
             {"radius", radius},
             {"translate", {x, y, radius}},
             {"material", {{"class", materials[i].name}, {"params", paramsFor(materials[i])}}}});
        // The family prefix is the same for most classes; the label drops it.
        std::string label = materials[i].name;
        if (label.rfind(kFamilyPrefix, 0) == 0) label = label.substr(sizeof(kFamilyPrefix) - 1);
        g.labels.push_back({label, float3(x, y - radius * 1.05f, 0.0f)});
    }
    std::string groundClass = has(kGround, pxs::kKindMaterial) ? kGround : kPlainGround;
    if (groundClass != kGround) {
        g.notes.push_back(std::string(kGround) + " not exported: plain " + kPlainGround +
                          " ground");
    }
    json groundParams =
        groundClass == kGround ? paramsFor(byName[kGround]) : json{{"patchState", 2}};
    if (has(groundClass.c_str(), pxs::kKindMaterial)) {
        objects.push_back({{"name", "ground"},
                           {"type", "plane"},
                           {"size", {400.0, 400.0}},
                           {"material", {{"class", groundClass}, {"params", groundParams}}}});
    }
    s["objects"] = objects;

    float halfWidth = 0.5f * cols * spacing + 0.6f;
    float depth = rows * rowSpacing;
    float3 target(0.0f, 0.0f, 0.5f);
    float dist = std::max(halfWidth / 0.42f, depth * 1.4f + 4.0f);
    float elevation = 34.0f * vref::kPi / 180.0f;
    float3 eye = target + float3(0.0f, -std::cos(elevation), std::sin(elevation)) * dist;
    s["camera"] = {{"position", {eye.x, eye.y, eye.z}},
                   {"target", {target.x, target.y, target.z}},
                   {"up", {0, 0, 1}},
                   {"fov", 30}};

    json lights = json::array();
    float3 pointPos(-0.45f * halfWidth - 2.0f, -depth * 0.5f - 4.0f, 9.0f);
    float3 spotPos(0.45f * halfWidth + 2.0f, -depth * 0.5f - 2.0f, 10.0f);
    json point = {{"name", "key"}, {"position", {pointPos.x, pointPos.y, pointPos.z}}};
    if (has(kPointLight, pxs::kKindLight)) {
        point["class"] = kPointLight;
        point["params"] = paramsFor(byName[kPointLight]);
    } else {
        point["type"] = "point";
        point["color"] = {1.0, 0.95, 0.88};
        point["intensity"] = 110.0;
        g.notes.push_back(std::string(kPointLight) + " not exported: host point light");
    }
    json spot = {{"name", "spot"},
                 {"position", {spotPos.x, spotPos.y, spotPos.z}},
                 {"target", {0.25f * halfWidth, 0.0f, 0.0f}}};
    if (has(kSpotLight, pxs::kKindLight)) {
        spot["class"] = kSpotLight;
        spot["params"] = paramsFor(byName[kSpotLight]);
    } else {
        spot["type"] = "spot";
        spot["color"] = {0.8, 0.9, 1.0};
        spot["intensity"] = 110.0;
        spot["cosOuter"] = 0.82;
        spot["cosInner"] = 0.92;
        g.notes.push_back(std::string(kSpotLight) + " not exported: host spot light");
    }
    lights.push_back(point);
    lights.push_back(spot);
    s["lights"] = lights;

    if (has(kEnvironment, pxs::kKindEnvironment)) {
        s["environment"] = {{"class", kEnvironment}, {"params", paramsFor(byName[kEnvironment])}};
    } else {
        g.notes.push_back(std::string(kEnvironment) + " not exported: plain background");
    }
    return g;
}

}  // namespace vrender
