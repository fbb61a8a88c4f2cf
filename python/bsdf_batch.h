// Rows of evaluateBsdf or sampleBsdf calls on one material, each a hit of a flat
// surface in the state the reference host gives it (vref::surfaceState): what the
// module's evaluate and sample run once the arrays are unpacked, and what the C++
// benchmark loop runs without Python.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/reference/scene.h"
#include "host/reference/services.h"

namespace vpy {

// Three floats per row, or one triple for every row (perRow false).
struct Vectors {
    const float* data = nullptr;
    bool perRow = false;

    vref::float3 at(size_t row) const {
        const float* p = data + (perRow ? 3 * row : 0);
        return vref::float3(p[0], p[1], p[2]);
    }
};

struct BsdfRows {
    size_t count = 0;
    bool sample = false;  // sampleBsdf, else evaluateBsdf
    Vectors view;         // towards the viewer
    Vectors direction;    // evaluateBsdf's sampleDirection; unused when sampling
    Vectors normal, tangent, position;
    // The random sequence of each row s: the reference host's sample 0 of pixel
    // (s & 0xffff, s >> 16), as the studio's lobe draws its sample s. Without
    // seeds, row i takes i when `rowSeeds` is set, else 0.
    const uint32_t* seeds = nullptr;
    bool rowSeeds = false;

    // Outputs, `count` rows each.
    float* outDirection = nullptr;  // 3 per row; sampling only
    float* outValue = nullptr;      // 3 per row
    float* outCosine = nullptr;
    float* outWeight = nullptr;
    int32_t* outKind = nullptr;
};

// Rows [begin, end) on the calling thread. `scene` and `settings` answer the
// services the operations ask for (random numbers, noise).
void runRows(const vref::ShaderInstance& material, const vref::Scene& scene,
             const vref::RenderSettings& settings, const BsdfRows& rows, size_t begin, size_t end);

// Every row, spread over `threads` oneTBB threads (0: every core) when there are
// enough of them to be worth it.
void runAll(const vref::ShaderInstance& material, const vref::Scene& scene,
            const vref::RenderSettings& settings, const BsdfRows& rows, int threads);

}  // namespace vpy
