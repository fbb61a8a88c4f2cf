// Which per-hit operations read each parameter of a class, found through the
// contract alone. An object of the class runs every operation it announces over
// a fixed set of shading states, with service answers that depend on what is
// asked (a traced direction, a gloss, a lookup point), once as it is and once
// per changed value of each parameter in turn. An operation reads a parameter
// when such a change changes a byte that the operation writes.
//
// A parameter may matter only while another one switches its part on (a map's
// enable, a channel's mode, a weight above zero), so the class description
// probes many settings: the defaults, every switch and map on with every mode
// from -1 to 7, and settings drawn from fixed seeds, and it also tries zero for
// every number. A probe at one setting answers for those values only, and for
// edits a step up or down: what an artist can change from where they are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/library.h"
#include "vesper/vesper.h"

namespace vhost {

// Operations are named by the contract's capability bits: shade (also the one
// operation of lights and environments), shadowTransmission, evaluateBsdf and
// sampleBsdf.
constexpr uint32_t kOperationBits =
    pxs::kCapShade | pxs::kCapShadowTransmission | pxs::kCapEvaluateBsdf | pxs::kCapSampleBsdf;

// The names of the operations in `mask`, in bit order.
std::vector<std::string> operationNames(uint32_t mask);

// The lights a probe's getLights answers with: both kinds the contract names
// (a class description holds for any host), or only tinted ones, as the
// reference host sends them.
enum class ProbeLights { AnyType, TintedOnly };

// For every parameter of the class in registration order, the operations it
// changes for some of the probed settings. Empty when the class cannot be created.
std::vector<uint32_t> probeParameterUsage(const Library& library, const std::string& className);

// The same at the parameter values of `source`, an object of the class (they
// are copied into an object of the probe's own; `source` is not touched).
std::vector<uint32_t> probeParameterUsageAt(const Library& library, const std::string& className,
                                            const pxs::IShaderBase* source, ProbeLights lights);

}  // namespace vhost
