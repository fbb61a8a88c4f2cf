// The lobe of a material at one point of a flat surface: the surface is z = 0
// with normal +z, tangent +x and bitangent +y, seen from a direction at the
// incidence angle in the x-z plane (the plane of incidence, x > 0). Angles in
// that plane are measured from the normal, positive towards +x, so the mirror
// direction lies at -incidence and transmission beyond +-90 degrees.
#include "host/reference/lobe.h"

#include <cmath>
#include <cstring>

#include "host/reference/vmath.h"
#include "host/slots.h"

namespace vref {

using nlohmann::json;

namespace {

constexpr int kPlaneBins = 180;  // 2 degrees each, from -180
constexpr int kDisk = 33;        // cells across the projected hemisphere

}  // namespace

pxs::ShadingState surfaceState(const ShaderInstance& material, const FlatHit& hit, float3 toViewer,
                               int depthLimit) {
    pxs::ShadingState st;
    std::memset(static_cast<void*>(&st), 0, sizeof st);
    st.rayOrigin = hit.position + toViewer * 4.0f;
    st.rayDirection = -toViewer;
    st.position = st.mappingPoint = hit.position;
    st.normal = st.geometricNormal = st.mappingNormal = hit.normal;
    st.pixelPosition = float2(0.5f, 0.5f);
    st.imageHeight = 1;
    st.mediumIor = st.outsideIor = 1.0f;
    const pxs::matrix4 identity = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
    st.matrixA = st.matrixB = identity;
    st.rayType = pxs::kRayCamera;
    st.rayDepthLimit = depthLimit;
    st.outAlpha = 1.0f;
    std::memset(st.allowLobe, 1, sizeof st.allowLobe);
    st.lightSample.lightTransmission = float3(1.0f);
    for (const Attribute& a : material.registry.attributes) {
        float v[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        size_t size = a.kind == pxs::kAttributeFloat2   ? 8
                      : a.kind == pxs::kAttributeFloat3 ? 12
                      : a.kind == pxs::kAttributeFloat4 ? 16
                                                        : 0;
        if (size == 0 || a.offset < 0 || a.offset + size > pxs::kAttributeBytes) continue;
        if (a.name == "uv" || a.name == "uv1") {
            v[0] = v[1] = 0.5f;
        } else if (a.name == "tangent") {
            v[0] = hit.tangent.x, v[1] = hit.tangent.y, v[2] = hit.tangent.z;
        } else if (a.name == "bitangent") {
            float3 b = normalize(cross(hit.normal, hit.tangent));
            v[0] = b.x, v[1] = b.y, v[2] = b.z;
        } else if (a.name == "vtxcolor") {
            v[0] = v[1] = v[2] = v[3] = 1.0f;
        }
        std::memcpy(st.attributes + a.offset, v, size);
    }
    return st;
}

namespace {

json rgb(float3 c) {
    auto f = [](float x) { return std::isfinite(x) ? static_cast<double>(x) : 0.0; };
    return {f(c.x), f(c.y), f(c.z)};
}

double finite(double x) {
    return std::isfinite(x) ? x : 0.0;
}

// evaluateBsdf every degree around the plane of incidence.
json evaluateCurve(const ShaderInstance& material, RenderServices& services,
                   const pxs::ShadingState& base) {
    json angles = json::array(), values = json::array(), cosines = json::array(),
         throughput = json::array();
    for (int a = -180; a < 180; ++a) {
        float phi = a * kPi / 180.0f;
        pxs::ShadingState st = base;
        st.sampleDirection = float3(std::sin(phi), 0.0f, std::cos(phi));
        services.beginSample(0, 0, 0);
        vhost::evaluateBsdf(material.object, &services, &st);
        angles.push_back(a);
        values.push_back(rgb(st.sampleValue));
        cosines.push_back(finite(st.sampleCosine));
        throughput.push_back(finite(luminance(st.sampleValue) * st.sampleCosine));
    }
    return {{"angles", angles}, {"value", values}, {"cosine", cosines}, {"throughput", throughput}};
}

// Where sampleBsdf's directions go, weighted by value x cosine x weight.
struct Histograms {
    std::vector<double> planeWeight = std::vector<double>(kPlaneBins);
    std::vector<double> planeCount = std::vector<double>(kPlaneBins);
    std::vector<double> reflection = std::vector<double>(kDisk * kDisk);
    std::vector<double> transmission = std::vector<double>(kDisk * kDisk);
    float3 albedo;
    int taken = 0, nonFinite = 0;
    int kinds[5] = {0, 0, 0, 0, 0};  // as kKindCodes

    static constexpr int kKindCodes[5] = {pxs::kSampleNone, pxs::kSampleLobeMixture,
                                          pxs::kSampleSingleLobe, pxs::kSampleRoughTransmission,
                                          pxs::kSampleSmoothTransmission};

    void add(const pxs::ShadingState& st) {
        for (int k = 0; k < 5; ++k) kinds[k] += st.sampleKind == kKindCodes[k];
        if (st.sampleKind == pxs::kSampleNone) return;
        float3 d = normalize(st.sampleDirection);
        float3 t = st.sampleValue * (st.sampleCosine * st.sampleWeight);
        if (!isFinite(t) || !isFinite(d) || isZero(d)) {
            ++nonFinite;
            return;
        }
        albedo += t;
        float w = luminance(t);
        float angle = std::atan2(d.x, d.z) * 180.0f / kPi;
        int bin = std::min(kPlaneBins - 1, std::max(0, static_cast<int>((angle + 180.0f) / 2.0f)));
        planeWeight[bin] += w;
        planeCount[bin] += 1.0;
        int cx = std::min(kDisk - 1, std::max(0, static_cast<int>((d.x + 1.0f) * 0.5f * kDisk)));
        int cy = std::min(kDisk - 1, std::max(0, static_cast<int>((d.y + 1.0f) * 0.5f * kDisk)));
        (d.z >= 0.0f ? reflection : transmission)[cy * kDisk + cx] += w;
    }

    // Per sample taken.
    void normalise() {
        double n = std::max(taken, 1);
        for (double& v : planeWeight) v /= n;
        for (double& v : reflection) v /= n;
        for (double& v : transmission) v /= n;
        albedo = albedo / static_cast<float>(n);
    }
};

Histograms sampleDirections(const ShaderInstance& material, RenderServices& services,
                            const pxs::ShadingState& base, int samples,
                            const std::atomic<bool>* cancel) {
    Histograms h;
    for (; h.taken < samples; ++h.taken) {
        if ((h.taken & 4095) == 0 && cancel && cancel->load(std::memory_order_relaxed)) break;
        pxs::ShadingState st = base;
        st.sampleKind = pxs::kSampleNone;
        services.beginSample(h.taken & 0xffff, h.taken >> 16, 0);
        vhost::sampleBsdf(material.object, &services, &st);
        h.add(st);
    }
    h.normalise();
    return h;
}

}  // namespace

json computeLobe(const Scene& scene, const RenderSettings& settings, double incidenceDegrees,
                 int samples, const std::atomic<bool>* cancel) {
    const ShaderInstance& material = scene.material(scene.findMaterial("subject"));
    float theta = static_cast<float>(incidenceDegrees) * kPi / 180.0f;
    float3 toViewer(std::sin(theta), 0.0f, std::cos(theta));
    const pxs::ShadingState base = surfaceState(material, FlatHit(), toViewer, settings.maxDepth);
    RenderServices services(scene, settings);
    json out;
    out["evaluate"] = evaluateCurve(material, services, base);
    const Histograms h = sampleDirections(material, services, base, samples, cancel);
    out["incidence"] = incidenceDegrees;
    out["samples"] = h.taken;
    out["histogram"] = {{"start", -180},
                        {"width", 360.0 / kPlaneBins},
                        {"weight", h.planeWeight},
                        {"count", h.planeCount}};
    out["hemisphere"] = {
        {"size", kDisk}, {"reflection", h.reflection}, {"transmission", h.transmission}};
    out["albedo"] = rgb(h.albedo);
    const int* k = h.kinds;
    out["kinds"] = {{"none", k[0]},
                    {"lobeMixture", k[1]},
                    {"singleLobe", k[2]},
                    {"roughTransmission", k[3]},
                    {"smoothTransmission", k[4]},
                    {"other", h.taken - k[0] - k[1] - k[2] - k[3] - k[4]}};
    out["nonFinite"] = h.nonFinite;
    return out;
}

}  // namespace vref
