// Wavefront OBJ meshes for the reference host: positions, normals, uvs and
// vertex colours, triangulated; the file's own materials are not read.
#pragma once

#include <stdexcept>
#include <string>

#include "host/reference/scene.h"

namespace vref {

// The mesh OBJ `text` describes; `name` names it in errors. Every index must lie
// in its array; positions and normals must be finite, normals of some length,
// and the triangles at most kMaxMeshTriangles. Throws std::invalid_argument.
Mesh parseObj(const std::string& text, const std::string& name);

}  // namespace vref
