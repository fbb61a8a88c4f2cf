#include "host/reference/obj_mesh.h"

#include <map>
#include <tuple>

#include <tiny_obj_loader.h>

#include "host/reference/limits.h"

namespace vref {

namespace {

// Builds a mesh corner by corner, one vertex per distinct (position, normal,
// uv) triple.
class ObjBuilder {
  public:
    ObjBuilder(const tinyobj::attrib_t& attrib, const std::string& name)
        : at_(attrib),
          name_(name),
          vertexCount_(attrib.vertices.size() / 3),
          normalCount_(attrib.normals.size() / 3),
          uvCount_(attrib.texcoords.size() / 2),
          hasUvs_(uvCount_ > 0) {}

    void add(const tinyobj::index_t& ix) {
        ++corner_;
        checkIndices(ix);
        if (mesh_.indices.size() >= 3 * static_cast<size_t>(kMaxMeshTriangles)) {
            fail(" has more than " + std::to_string(kMaxMeshTriangles) + " triangles");
        }
        auto key = std::make_tuple(ix.vertex_index, ix.normal_index, ix.texcoord_index);
        auto found = ids_.find(key);
        if (found != ids_.end()) {
            mesh_.indices.push_back(found->second);
            return;
        }
        uint32_t id = static_cast<uint32_t>(mesh_.positions.size());
        ids_[key] = id;
        mesh_.indices.push_back(id);
        addVertex(ix);
    }

    Mesh finish() {
        if (mesh_.indices.empty()) fail(" has no faces");
        if (!hasNormals_) mesh_.normals.clear();
        mesh_.completeAttributes();
        return std::move(mesh_);
    }

  private:
    [[noreturn]] void fail(const std::string& what) const {
        throw std::invalid_argument("OBJ " + name_ + what);
    }

    // The reader only warns about indices out of range. -1 is "none" for
    // normals and uvs.
    void checkIndices(const tinyobj::index_t& ix) const {
        if (ix.vertex_index < 0 || static_cast<size_t>(ix.vertex_index) >= vertexCount_) {
            bad("vertex", ix.vertex_index, vertexCount_);
        }
        if (ix.normal_index < -1 ||
            (ix.normal_index >= 0 && static_cast<size_t>(ix.normal_index) >= normalCount_)) {
            bad("normal", ix.normal_index, normalCount_);
        }
        if (ix.texcoord_index < -1 ||
            (ix.texcoord_index >= 0 && static_cast<size_t>(ix.texcoord_index) >= uvCount_)) {
            bad("texture coordinate", ix.texcoord_index, uvCount_);
        }
    }

    [[noreturn]] void bad(const char* what, int index, size_t count) const {
        std::string which = index >= 0 ? std::string(what) + " " + std::to_string(index + 1)
                                       : std::string("a ") + what + " before the first";
        fail(": face corner " + std::to_string(corner_) + " refers to " + which + " of " +
             std::to_string(count));
    }

    void addVertex(const tinyobj::index_t& ix) {
        size_t v = static_cast<size_t>(ix.vertex_index);
        float3 p(at_.vertices[3 * v], at_.vertices[3 * v + 1], at_.vertices[3 * v + 2]);
        if (!isFinite(p)) {
            fail(": vertex " + std::to_string(v + 1) + " is beyond the range of a float");
        }
        mesh_.positions.push_back(p);
        if (at_.colors.size() >= 3 * (v + 1)) {
            mesh_.colors.push_back(
                float4(at_.colors[3 * v], at_.colors[3 * v + 1], at_.colors[3 * v + 2], 1.0f));
        }
        if (ix.normal_index >= 0) {
            size_t n = static_cast<size_t>(ix.normal_index);
            float3 normal = normalize(
                float3(at_.normals[3 * n], at_.normals[3 * n + 1], at_.normals[3 * n + 2]));
            if (isZero(normal) || !isFinite(normal)) {
                fail(": normal " + std::to_string(n + 1) + " has no direction");
            }
            mesh_.normals.push_back(normal);
        } else {
            hasNormals_ = false;
        }
        if (hasUvs_ && ix.texcoord_index >= 0) {
            size_t t = static_cast<size_t>(ix.texcoord_index);
            mesh_.uvs.push_back(float2(at_.texcoords[2 * t], at_.texcoords[2 * t + 1]));
        } else {
            mesh_.uvs.push_back(float2());
        }
    }

    const tinyobj::attrib_t& at_;
    const std::string& name_;
    size_t vertexCount_, normalCount_, uvCount_;
    bool hasNormals_ = true, hasUvs_;
    size_t corner_ = 0;
    std::map<std::tuple<int, int, int>, uint32_t> ids_;
    Mesh mesh_;
};

}  // namespace

Mesh parseObj(const std::string& text, const std::string& name) {
    tinyobj::ObjReaderConfig config;
    config.triangulate = true;
    config.vertex_color = true;
    tinyobj::ObjReader reader;
    // Its own materials are not used: no material library is read.
    if (!reader.ParseFromString(text, "", config)) {
        throw std::invalid_argument("cannot read OBJ " + name + ": " + reader.Error());
    }
    ObjBuilder builder(reader.GetAttrib(), name);
    for (const tinyobj::shape_t& shape : reader.GetShapes()) {
        for (const tinyobj::index_t& ix : shape.mesh.indices) builder.add(ix);
    }
    return builder.finish();
}

}  // namespace vref
