// Procedural node graphs of the generated Ward variants, described as a list of
// node groups in registration order:
//
//     using Graph = NodeGraph<BitmapNode<kNormal0Map>,
//                             TileNode<kDiffuseColor>,
//                             BitmapNode<kDiffuseColor, kBrickColor>,
//                             BitmapNode<kDiffuseColor, kMortarColor>>;
//
// A node names the input its tree is bound to and the slots leading to it from the
// root, so the list alone fixes the trees. Everything else follows from it:
// - parameter names "_ward_<input>_<path>_<parameter>", where the path is the
//   root's type, then "_<slot>_<type>" per level ("Noise_color1_UnifiedBitmap"),
//   assembled at compile time into static strings;
// - the fields, one group per node in list order (Graph::Fields), so the block's
//   layout follows registration and a plain copy copies every node;
// - a Noise whose slots hold children has no colour fields, one without children
//   has "color1" and "color2";
// - evaluation: children before their parent, color1 before color2, brick before
//   mortar; Noise reads the point, Tile and UnifiedBitmap the texture coordinate.
// The list is checked when compiled: every node has its parent, slots match their
// parent's type, a Tile has both children and a Noise both or none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <tuple>
#include <type_traits>
#include <utility>

#include "frame/shader_class.h"
#include "materials/ward/bitmap_node.h"
#include "materials/ward/noise_node.h"
#include "materials/ward/tile_node.h"

namespace pxs {

// The Ward inputs a graph can replace.
enum WardInput : uint32_t { kNormal0Map, kDiffuseColor, kCutoutMap };
// The input slots of the nodes: a Noise's two colours and a Tile's two colours.
enum NodeSlot : uint32_t { kColor1, kColor2, kBrickColor, kMortarColor };
enum class NodeKind { kNoise, kTile, kBitmap };

namespace graph_detail {

constexpr const char* inputName(WardInput in) {
    return in == kNormal0Map ? "normal0_map" : in == kDiffuseColor ? "diffuse_color" : "cutout_map";
}
constexpr const char* kindName(NodeKind k) {
    return k == NodeKind::kNoise ? "Noise" : k == NodeKind::kTile ? "Tile" : "UnifiedBitmap";
}
constexpr const char* slotName(NodeSlot s) {
    constexpr const char* kNames[] = {"color1", "color2", "brickColor", "mortarColor"};
    return kNames[s];
}
constexpr NodeKind slotOwner(NodeSlot s) {
    return s == kColor1 || s == kColor2 ? NodeKind::kNoise : NodeKind::kTile;
}

// A name as a list of literal pieces, joined once at compile time.
struct NamePieces {
    static constexpr size_t kCapacity = 32;
    const char* piece[kCapacity] = {};
    size_t count = 0;

    constexpr void add(const char* s) { piece[count++] = s; }
    constexpr size_t length() const {
        size_t n = 0;
        for (size_t i = 0; i < count; ++i) {
            for (const char* c = piece[i]; *c != '\0'; ++c) ++n;
        }
        return n;
    }
};

template <size_t N>
struct StaticText {
    char text[N + 1] = {};
};

template <size_t N>
constexpr StaticText<N> join(const NamePieces& p) {
    StaticText<N> out;
    size_t k = 0;
    for (size_t i = 0; i < p.count; ++i) {
        for (const char* c = p.piece[i]; *c != '\0'; ++c) out.text[k++] = *c;
    }
    return out;
}

template <class Place, class... Nodes>
constexpr int placeIndex() {
    constexpr bool same[] = {false, std::is_same_v<typename Nodes::Place, Place>...};
    for (size_t i = 1; i < sizeof...(Nodes) + 1; ++i) {
        if (same[i]) return static_cast<int>(i) - 1;
    }
    return -1;
}

template <class Place, class... Nodes>
constexpr bool hasPlace() {
    return placeIndex<Place, Nodes...>() >= 0;
}

// The checks a graph's node list must pass.
template <class... Nodes>
struct GraphShape {
    template <class Place>
    static constexpr bool has() {
        return hasPlace<Place, Nodes...>();
    }

    template <class Node>
    static constexpr bool fits() {
        using P = typename Node::Place;
        const bool c1 = has<typename P::template Child<kColor1>>();
        const bool c2 = has<typename P::template Child<kColor2>>();
        const bool brick = has<typename P::template Child<kBrickColor>>();
        const bool mortar = has<typename P::template Child<kMortarColor>>();
        const bool unique = (std::is_same_v<typename Nodes::Place, P> + ...) == 1;
        switch (Node::kKind) {
            case NodeKind::kNoise:
                return unique && c1 == c2 && !brick && !mortar;
            case NodeKind::kTile:
                return unique && brick && mortar && !c1 && !c2;
            default:
                return unique && !c1 && !c2 && !brick && !mortar;
        }
    }

    template <class Node>
    static constexpr int children() {
        using P = typename Node::Place;
        return has<typename P::template Child<kColor1>>() +
               has<typename P::template Child<kColor2>>() +
               has<typename P::template Child<kBrickColor>>() +
               has<typename P::template Child<kMortarColor>>();
    }

    // Every node but the roots is some node's child: none hangs without a parent.
    static constexpr bool valid() {
        const int roots = ((Nodes::Place::kDepth == 0) + ...);
        return sizeof...(Nodes) > 0 && (fits<Nodes>() && ...) &&
               roots + (children<Nodes>() + ...) == static_cast<int>(sizeof...(Nodes));
    }
};

template <class... Fs>
struct FieldList;
template <class F>
struct FieldList<F> {
    F head;
};
template <class F, class... Rest>
struct FieldList<F, Rest...> {
    F head;
    FieldList<Rest...> tail;
};

template <size_t I, class List>
constexpr auto& fieldAt(List& list) {
    if constexpr (I == 0) {
        return list.head;
    } else {
        return fieldAt<I - 1>(list.tail);
    }
}

}  // namespace graph_detail

// Where a node sits: its input and the slots from the root.
template <WardInput In, NodeSlot... Path>
struct NodePlace {
    static constexpr WardInput kInput = In;
    static constexpr size_t kDepth = sizeof...(Path);
    template <NodeSlot S>
    using Child = NodePlace<In, Path..., S>;

    static constexpr graph_detail::NamePieces name(NodeKind own, const char* parameter) {
        using namespace graph_detail;
        NamePieces p;
        p.add("_ward_");
        p.add(inputName(In));
        constexpr NodeSlot kPath[] = {kColor1, Path...};  // the first entry pads an empty path
        for (size_t i = 1; i <= sizeof...(Path); ++i) {
            const NodeSlot s = kPath[i];
            p.add("_");
            p.add(kindName(slotOwner(s)));
            p.add("_");
            p.add(slotName(s));
        }
        p.add("_");
        p.add(kindName(own));
        p.add("_");
        p.add(parameter);
        return p;
    }
};

template <WardInput In, NodeSlot... Path>
struct NoiseNode {
    using Place = NodePlace<In, Path...>;
    static constexpr NodeKind kKind = NodeKind::kNoise;
    template <class... Graph>
    using Fields = std::conditional_t<
        graph_detail::hasPlace<typename Place::template Child<kColor1>, Graph...>(), NoiseFields,
        ConstantNoiseFields>;
};

template <WardInput In, NodeSlot... Path>
struct TileNode {
    using Place = NodePlace<In, Path...>;
    static constexpr NodeKind kKind = NodeKind::kTile;
    template <class... Graph>
    using Fields = TileFields;
};

template <WardInput In, NodeSlot... Path>
struct BitmapNode {
    using Place = NodePlace<In, Path...>;
    static constexpr NodeKind kKind = NodeKind::kBitmap;
    template <class... Graph>
    using Fields = BitmapFields;
};

// The registered name of parameter I of a node: a static string.
template <class Node, class Fields, size_t I>
struct NodeParamName {
    static constexpr graph_detail::NamePieces kPieces =
        Node::Place::name(Node::kKind, std::get<I>(NodeParams<Fields>::kList).name);
    static constexpr auto kName = graph_detail::join<kPieces.length()>(kPieces);
};

template <class... Nodes>
class NodeGraph {
  public:
    using Fields = graph_detail::FieldList<typename Nodes::template Fields<Nodes...>...>;

    template <WardInput In>
    static constexpr bool binds() {
        return graph_detail::hasPlace<NodePlace<In>, Nodes...>();
    }

    // Registers every node's parameters, node by node in list order.
    static void declare(Declarer& d, Fields& f) {
        declareNodes(d, f, std::index_sequence_for<Nodes...>{});
    }

    // The RGBA result of the tree bound to In, at texture coordinate uv and point p.
    template <WardInput In>
    static float4 evaluate(const Fields& f, IRenderServices& services, float2 uv, float3 p) {
        static_assert(binds<In>(), "no graph on this input");
        return Evaluation{f, services, uv, p}.template at<NodePlace<In>>();
    }

  private:
    template <size_t I>
    using NodeAt = std::tuple_element_t<I, std::tuple<Nodes...>>;

    static_assert(graph_detail::GraphShape<Nodes...>::valid(),
                  "every node below a root has its parent, each place is taken once, slots "
                  "match their parent's type, a Tile has both children and a Noise both or none");

    template <size_t... I>
    static void declareNodes(Declarer& d, Fields& f, std::index_sequence<I...>) {
        (declareNode<NodeAt<I>>(d, graph_detail::fieldAt<I>(f)), ...);
    }

    template <class Node, class F>
    static void declareNode(Declarer& d, F& fields) {
        constexpr size_t n = std::tuple_size_v<std::decay_t<decltype(NodeParams<F>::kList)>>;
        declareParams<Node>(d, fields, std::make_index_sequence<n>{});
    }

    template <class Node, class F, size_t... I>
    static void declareParams(Declarer& d, F& fields, std::index_sequence<I...>) {
        (d(NodeParamName<Node, F, I>::kName.text,
           fields.*(std::get<I>(NodeParams<F>::kList).member)),
         ...);
    }

    struct Evaluation {
        const Fields& fields;
        IRenderServices& services;
        float2 uv;
        float3 p;

        template <class Place>
        float4 at() const {
            constexpr int i = graph_detail::placeIndex<Place, Nodes...>();
            using Node = NodeAt<static_cast<size_t>(i)>;
            const auto& f = graph_detail::fieldAt<static_cast<size_t>(i)>(fields);
            using F = std::decay_t<decltype(f)>;
            if constexpr (Node::kKind == NodeKind::kBitmap) {
                return evaluateBitmap(uv, f);
            } else if constexpr (Node::kKind == NodeKind::kTile) {
                const float4 brick = at<typename Place::template Child<kBrickColor>>();
                const float4 mortar = at<typename Place::template Child<kMortarColor>>();
                return evaluateTile(services, uv, brick, mortar, f);
            } else if constexpr (std::is_same_v<F, NoiseFields>) {
                const float4 c1 = at<typename Place::template Child<kColor1>>();
                const float4 c2 = at<typename Place::template Child<kColor2>>();
                return evaluateNoise(services, p, c1, c2, f);
            } else {
                return evaluateNoise(services, p, f.color1, f.color2, f);
            }
        }
    };
};

}  // namespace pxs
