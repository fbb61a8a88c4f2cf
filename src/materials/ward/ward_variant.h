// The generated Ward variants: corvid_Mtl_Ward with a node graph (node_graph.h)
// bound to one or more of its inputs. A variant class is its graph and nothing
// else:
//
//     class corvid_Mtl_Ward_120b7820 final
//         : public WardVariant<corvid_Mtl_Ward_120b7820, NodeGraph<NoiseNode<kDiffuseColor>>> {};
//
// Registration, after the capability mask 15: the attributes "bitangent" (float3 at
// 0), "tangent" (float3 at 12) and "uv" (float2 at 24), the Ward parameters of
// ward_params.h, the node groups in graph order, then the ambient-occlusion and
// masking block with "uv1" at 32 and "vtxcolor" at 40. The fields lie in the same
// order.
//
// What a graph replaces (inputs without a graph keep their texture maps):
// - normal0_map: with "u_normal0MapEnable", height map 0 reads r + g + b of the
//   graph at "u_normal0Transform"(uv) and one step along u and v (nodeBump). A Noise
//   does not read uv, so a graph of one Noise never bends the normal.
// - diffuse_color: with "u_diffuseMapEnable", the graph's RGBA at the untransformed
//   uv is the diffuse texel; "u_diffuseTransform" and "u_diffuseAmount" are unread.
// - cutout_map: with "u_cutoutMapEnable", the coverage is the graph's red channel;
//   "u_cutoutTransform" and "u_cutoutAmount" are unread.
// A switched-off input never evaluates its graph. Noise nodes read mappingPoint.
#pragma once

#include "materials/ward/node_graph.h"
#include "materials/ward/ward_core.h"
#include "shading/shading_frame.h"

namespace pxs {

// The height-map bump of bumpFromHeight, heights read from `graph` (float2 uv ->
// RGBA) instead of a texture.
template <class Graph>
void nodeBump(TangentFrame& f, float2 uv, const Graph& graph, const matrix3& transform,
              float amount) {
    bumpFromHeightLookup(f, uv, transform, amount, 1.0f, [&graph](float2 at) {
        const float4 t = graph(at);
        return t.x + t.y + t.z;
    });
}

// The Ward core's inputs policy of a variant: its attribute offsets, and the
// lookups its graph replaces.
template <class Graph>
struct WardGraphInputs : WardImageInputs {
    const typename Graph::Fields& nodes;

    static constexpr int32_t kBitangentOffset = 0;
    static constexpr int32_t kTangentOffset = 12;
    static constexpr int32_t kUvOffset = 24;

    template <WardInput In>
    float4 evaluateGraph(IRenderServices* sv, const ShadingState& st, float2 uv) const {
        return Graph::template evaluate<In>(nodes, *sv, uv, st.mappingPoint);
    }

    void bumpHeight0(TangentFrame& a, IRenderServices* sv, const ShadingState& st, float2 uv,
                     float amount) const {
        if constexpr (Graph::template binds<kNormal0Map>()) {
            auto graph = [&](float2 at) { return evaluateGraph<kNormal0Map>(sv, st, at); };
            nodeBump(a, uv, graph, ward.normal0Transform, amount);
        } else {
            WardImageInputs::bumpHeight0(a, sv, st, uv, amount);
        }
    }
    float4 diffuseTexel(IRenderServices* sv, const ShadingState& st, float2 uv) const {
        if constexpr (Graph::template binds<kDiffuseColor>()) {
            return evaluateGraph<kDiffuseColor>(sv, st, uv);
        } else {
            return WardImageInputs::diffuseTexel(sv, st, uv);
        }
    }
    float cutoutCoverage(IRenderServices* sv, const ShadingState& st, float2 uv) const {
        if constexpr (Graph::template binds<kCutoutMap>()) {
            return evaluateGraph<kCutoutMap>(sv, st, uv).x;
        } else {
            return WardImageInputs::cutoutCoverage(sv, st, uv);
        }
    }
};

template <class Derived, class Graph>
class WardVariant : public WardMaterial<Derived> {
  public:
    using Inputs = WardGraphInputs<Graph>;
    using Block = OcclusionMasking<32, 40>;
    static_assert(Inputs::kUvOffset + 8 <= Block::kUv1Offset, "attributes must not overlap");

    struct Params {
        WardParams ward;
        typename Graph::Fields nodes;
        Block block;
    } params;

    Inputs inputs() const { return {{params.ward}, params.nodes}; }

    void declareParameters(IParameterRegistry* registry) override {
        Declarer declare(registry, this, WardMaterial<Derived>::kCapabilities);
        declare.attribute(kAttributeFloat3, "bitangent", Inputs::kBitangentOffset);
        declare.attribute(kAttributeFloat3, "tangent", Inputs::kTangentOffset);
        declare.attribute(kAttributeFloat2, "uv", Inputs::kUvOffset);
        declareWardParams(declare, params.ward);
        Graph::declare(declare, params.nodes);
        params.block.declare(declare);
    }

  protected:
    ~WardVariant() = default;
};

}  // namespace pxs
