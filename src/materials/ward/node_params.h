// How a procedural node lists its parameters: NodeParams<Fields>::kList is a tuple
// of (name, member) rows in registration order, so a node's names and fields are
// written once and the graph (node_graph.h) derives registration from them.
#pragma once

namespace pxs {

template <class Fields, class T>
struct NodeParam {
    const char* name;
    T Fields::*member;
};

template <class Fields, class T>
constexpr NodeParam<Fields, T> nodeParam(const char* name, T Fields::*member) {
    return {name, member};
}

// Specialised next to each node's fields.
template <class Fields>
struct NodeParams;

}  // namespace pxs
