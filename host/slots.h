// Calls into a shader object by virtual-table position, as any host does.
#pragma once

#include <cstdint>

#include "vesper/vesper.h"

namespace vhost {

enum ShaderSlot : int {
    kSlotDestroy = 0,
    kSlotDeclareParameters = 1,
    kSlotCopyParameters = 2,
    kSlotQueryFlagA = 3,
    kSlotShaderKind = 4,
    kSlotShade = 5,
    kSlotShadowTransmission = 6,
    kSlotEvaluateBsdf = 7,
    kSlotSampleBsdf = 8,
    kSlotReservedHook = 9,
};

inline void* const* vtableOf(const void* object) {
    return *reinterpret_cast<void* const* const*>(object);
}

// Calls slot `slot` of `object` with `args` after the object pointer.
template <class R, class... A>
R callSlot(void* object, int slot, A... args) {
    using Fn = R (*)(void*, A...);
    return reinterpret_cast<Fn>(vtableOf(object)[slot])(object, args...);
}

inline void* destroy(void* s, unsigned flags) {
    return callSlot<void*>(s, kSlotDestroy, flags);
}
inline void declareParameters(void* s, pxs::IParameterRegistry* r) {
    callSlot<void>(s, kSlotDeclareParameters, r);
}
inline void copyParameters(void* s, const void* other) {
    callSlot<void>(s, kSlotCopyParameters, other);
}
inline int32_t queryFlagA(void* s) {
    return callSlot<int32_t>(s, kSlotQueryFlagA);
}
inline int32_t shaderKind(void* s) {
    return callSlot<int32_t>(s, kSlotShaderKind);
}
// Slots 5..9 share one signature: (services, state).
inline void callPerHit(void* s, int slot, pxs::IRenderServices* services, pxs::ShadingState* st) {
    callSlot<void>(s, slot, services, st);
}
inline void shade(void* s, pxs::IRenderServices* sv, pxs::ShadingState* st) {
    callPerHit(s, kSlotShade, sv, st);
}
inline void shadowTransmission(void* s, pxs::IRenderServices* sv, pxs::ShadingState* st) {
    callPerHit(s, kSlotShadowTransmission, sv, st);
}
inline void evaluateBsdf(void* s, pxs::IRenderServices* sv, pxs::ShadingState* st) {
    callPerHit(s, kSlotEvaluateBsdf, sv, st);
}
inline void sampleBsdf(void* s, pxs::IRenderServices* sv, pxs::ShadingState* st) {
    callPerHit(s, kSlotSampleBsdf, sv, st);
}

}  // namespace vhost
