// One shader class prepared for measurement, generically: whatever the library
// exports is created by name, declared, set up at one of two settings, and paired
// with a shading state that suits its kind. The benchmarks and the instruction
// counter share this, so both measure the same calls.
//
// Settings:
//   default  the class's own defaults; one light.
//   rich     every texture handle bound to a cheap procedural texture, every flag
//            on (except those whose name ends in "Only": debug views and switches
//            that skip work), every int parameter whose default is 0 set to 1
//            (modes and sources select a texture or a feature), three lights, and
//            environments asked for a reflection ray instead of a camera ray.
// In both, matrix parameters the constructor leaves all zero become the identity,
// as a host writes its matrices before rendering.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/fast_host.h"
#include "host/library.h"
#include "host/recording_registry.h"

namespace vbench {

enum class Setting { kDefault, kRich };
const char* settingName(Setting s);

struct Operation {
    int slot;          // vhost::ShaderSlot
    const char* name;  // "shade", "shadowTransmission", "evaluateBsdf", "sampleBsdf"
};

// The per-hit operations a class announces: shade for every kind, and slots 6 to
// 8 of a material by their capability bits.
std::vector<Operation> announcedOperations(int32_t kind, uint32_t mask);

class Workload {
  public:
    Workload(const vhost::Library& library, const std::string& className, Setting setting);
    Workload(const Workload&) = delete;
    Workload& operator=(const Workload&) = delete;

    bool ok() const { return shader_ != nullptr; }
    const std::string& className() const { return className_; }
    Setting setting() const { return setting_; }
    void* shader() const { return shader_.get(); }
    int32_t kind() const { return kind_; }
    uint32_t mask() const { return mask_; }
    int lightCount() const { return setting_ == Setting::kRich ? 3 : 1; }
    std::vector<Operation> operations() const { return announcedOperations(kind_, mask_); }

    // The state every call starts from; each render thread takes its own copy.
    const pxs::ShadingState& state() const { return state_; }

  private:
    void applyRich();
    void buildState();

    std::string className_;
    Setting setting_;
    vhost::ShaderPtr shader_;
    vhost::RecordingRegistry registry_;
    int32_t kind_ = -1;
    uint32_t mask_ = 0;
    CheapTexture image_{2};
    CheapTexture cube_{3};
    pxs::ShadingState state_;
};

// Calls `slot` of `shader` `count` times with one services object and state.
void callRepeatedly(void* shader, int slot, FastServices& services, pxs::ShadingState& state,
                    long count);

}  // namespace vbench
