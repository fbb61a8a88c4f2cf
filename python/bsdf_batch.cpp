#include "python/bsdf_batch.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include "host/reference/lobe.h"
#include "host/slots.h"

namespace vpy {

namespace {

// Rows per task: enough to pay for the task and its services.
constexpr size_t kGrain = 4096;

void store(float* out, size_t row, vref::float3 v) {
    out[3 * row] = v.x;
    out[3 * row + 1] = v.y;
    out[3 * row + 2] = v.z;
}

}  // namespace

void runRows(const vref::ShaderInstance& material, const vref::Scene& scene,
             const vref::RenderSettings& settings, const BsdfRows& rows, size_t begin, size_t end) {
    vref::RenderServices services(scene, settings);
    for (size_t i = begin; i < end; ++i) {
        vref::FlatHit hit{rows.position.at(i), rows.normal.at(i), rows.tangent.at(i)};
        pxs::ShadingState st =
            vref::surfaceState(material, hit, rows.view.at(i), settings.maxDepth);
        uint32_t s = rows.seeds ? rows.seeds[i] : rows.rowSeeds ? static_cast<uint32_t>(i) : 0u;
        services.beginSample(static_cast<int>(s & 0xffff), static_cast<int>(s >> 16), 0);
        if (rows.sample) {
            st.sampleKind = pxs::kSampleNone;
            vhost::sampleBsdf(material.object, &services, &st);
            store(rows.outDirection, i, st.sampleDirection);
        } else {
            st.sampleDirection = rows.direction.at(i);
            vhost::evaluateBsdf(material.object, &services, &st);
        }
        store(rows.outValue, i, st.sampleValue);
        rows.outCosine[i] = st.sampleCosine;
        rows.outWeight[i] = st.sampleWeight;
        rows.outKind[i] = st.sampleKind;
    }
}

void runAll(const vref::ShaderInstance& material, const vref::Scene& scene,
            const vref::RenderSettings& settings, const BsdfRows& rows, int threads) {
    if (rows.count <= kGrain || threads == 1) {
        runRows(material, scene, settings, rows, 0, rows.count);
        return;
    }
    tbb::task_arena arena(threads > 0 ? threads : tbb::task_arena::automatic);
    arena.execute([&] {
        tbb::parallel_for(tbb::blocked_range<size_t>(0, rows.count, kGrain),
                          [&](const tbb::blocked_range<size_t>& r) {
                              runRows(material, scene, settings, rows, r.begin(), r.end());
                          });
    });
}

}  // namespace vpy
