// Generic driving of any shader class: parameter values written through the
// registered addresses by type, shading states and service answers for a range
// of situations, and the per-hit operations a class announces with the state
// fields each may write. Shared by the reliability tests and the fuzz targets,
// so it uses nothing from GoogleTest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/recording_registry.h"
#include "testkit/test_services.h"
#include "testkit/test_texture.h"
#include "vesper/vesper.h"

namespace vtest {

// Where values come from: a seeded generator, or the bytes of a fuzz input
// (zeros once the bytes are used up).
class Entropy {
  public:
    explicit Entropy(uint64_t seed) : state_(seed) {}
    Entropy(const uint8_t* data, size_t size) : data_(data), size_(size), fromBytes_(true) {}

    uint32_t bits();
    uint8_t byte();
    // Uniform in [0, 1).
    float unit();
    float range(float lo, float hi) { return lo + (hi - lo) * unit(); }
    // Uniform in [0, n); 0 when n is 0.
    uint32_t pick(uint32_t n) { return n ? bits() % n : 0; }
    // Any bit pattern: NaN, infinities, denormals, huge and negative values.
    float anyFloat();
    bool exhausted() const { return fromBytes_ && used_ >= size_; }

  private:
    uint64_t state_ = 0;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t used_ = 0;
    bool fromBytes_ = false;
};

// Plausible: what an artist might type, out-of-range values included (negative,
// zero, a little above the usual range). Any: every bit pattern.
enum class Values { Plausible, Any };

// Owns the textures bound into parameter blocks; they outlive the shaders.
class TexturePool {
  public:
    // A constant or coordinate-dependent texture; recording off, so lookups
    // neither allocate nor race.
    vhost::TestTexture* make(Entropy& e, Values values);
    void clear() { textures_.clear(); }

  private:
    std::vector<std::unique_ptr<vhost::TestTexture>> textures_;
};

// Writes a value into every registered parameter: booleans as any byte the
// host may store (0 false, anything else true), ints as selectors, floats,
// vectors and colours, matrices as identity or a rotation, textures as null or
// bound to a pool texture.
void writeParameters(const vhost::RecordingRegistry& registry, Entropy& e, Values values,
                     TexturePool& textures);

// A per-hit operation and the state fields it may write.
struct Operation {
    int slot;
    const char* name;
    std::vector<std::string> writes;
};

// The operations a declared object announces: shade for every class, and for a
// material slots 6, 7 and 8 as its capability mask says. A class whose own
// description lets an operation write a further field (TamberLegacy skips the
// hit from evaluateBsdf and sampleBsdf) gets it added by name.
std::vector<Operation> announcedOperations(int32_t shaderKind, uint32_t capabilities,
                                           const std::string& className = "");

// Situation codes for makeState; every situation below kSituations is distinct.
// ray type (camera, reflection, continuation, occlusion, gather) x facing (front,
// back, grazing) x depth (below, at, above the limit).
constexpr int kSituations = 45;

// A shading state for `situation` with the remaining inputs drawn from `e`:
// every byte starts as `canary`, then the input fields and the declared
// attributes are filled. Undeclared attribute bytes and all outputs keep the canary.
pxs::ShadingState makeState(const vhost::RecordingRegistry& registry, int situation, Entropy& e,
                            Values values = Values::Plausible, uint8_t canary = 0xA7);

// Configures the host's answers: a light list (possibly empty), traced colours,
// occlusion and a script of random numbers in [0, 1). Recording is switched off.
void configureServices(vhost::TestServices& services, Entropy& e, Values values);

// The registered parameter bytes, to prove per-hit calls leave the object alone.
std::vector<uint8_t> parameterBytes(const vhost::RecordingRegistry& registry);

// Names of the changed fields that `op` may not write.
std::vector<std::string> forbiddenWrites(const Operation& op, const pxs::ShadingState& before,
                                         const pxs::ShadingState& after);

}  // namespace vtest
