// A scene of the reference host: triangle meshes with per-vertex attributes, each
// with a material shader; lights (light shaders, or simple host lights when the
// library has none); an optional environment shader; a camera. Intersection runs
// on Embree.
//
// The world is z-up. Meshes are kept in object space together with their
// object-to-world transform: the shaders see mappingPoint/mappingNormal and the
// "tangent"/"bitangent" attributes in object space, `normal` and `position` in
// world space, and matrixB (matrixA) as the object-to-world (world-to-object)
// transform.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <embree3/rtcore.h>

#include "host/library.h"
#include "host/reference/environment_light.h"
#include "host/reference/registry.h"
#include "host/reference/texture.h"
#include "host/reference/vmath.h"

namespace vref {

struct Mesh {
    std::vector<float3> positions;
    std::vector<float3> normals;    // per vertex, unit
    std::vector<float2> uvs;        // per vertex (zeros when the source has none)
    std::vector<float3> tangents;   // per vertex, along +u
    std::vector<float4> colors;     // per vertex, (1, 1, 1, 1) when the source has none
    std::vector<uint32_t> indices;  // three per triangle

    size_t triangles() const { return indices.size() / 3; }
    // Fills missing normals (smooth), uvs, colours and tangents (from uv gradients,
    // or any vector perpendicular to the normal where uvs are degenerate).
    void completeAttributes();
};

// Built-in primitives in object space, with uvs and tangents.
Mesh makeSphere(float radius, int segments = 64, int rings = 32);
Mesh makePlane(float sizeX, float sizeY);        // in z = 0, normal +z, uv 0..1 per unit
Mesh makeBox(float3 size);                       // centred at the origin
Mesh makeDisk(float radius, int segments = 64);  // in z = 0, normal +z

// One shader object with its registry. The object is either owned (created from
// the library) or borrowed (a host-made object, as tests use).
struct ShaderInstance {
    std::string name;       // the scene's name for it
    std::string className;  // the library class, or the host's description
    pxs::IShaderBase* object = nullptr;
    vhost::ShaderPtr owned;
    ParameterRegistry registry;
    int32_t kind = -1;  // pxs::ShaderKindCode

    bool has(uint32_t capability) const { return (registry.capabilities & capability) != 0; }
};

// Declares `object` with a fresh registry and sets its matrices to the identity.
std::unique_ptr<ShaderInstance> declareShader(std::string name, std::string className,
                                              pxs::IShaderBase* object,
                                              vhost::ShaderPtr owned = {});

struct Object {
    std::string name;
    Mesh mesh;
    Affine toWorld, toObject;
    int material = -1;
    std::vector<float3> worldPositions;
    std::vector<float3> worldFaceNormals;
};

// A light: a light shader, or (shader null) a simple host light.
struct Light {
    std::string name;
    ShaderInstance* shader = nullptr;  // owned by the scene
    float3 position{0, 0, 5};
    float3 axis{0, 0, -1};  // unit; the spot direction
    // Host light: inverse-square point light, a cone when spot is set.
    bool spot = false;
    float3 color{1, 1, 1};
    float intensity = 20.0f;
    float cosOuter = 0.9f, cosInner = 0.95f;
    bool castShadows = true;
};

// A host light's colour at distance d from it, along the unit direction l from
// the point towards it, before any shadow: inverse-square, faded at a spot's rim.
// False outside a spot's cone.
bool hostLightColor(const Light& light, float3 l, float d, float3* color);

struct Camera {
    float3 position{0, -6, 2};
    float3 target{0, 0, 0.5f};
    float3 up{0, 0, 1};
    float fovY = 40.0f;  // degrees
};

// "" for a camera that sees something: finite, target away from the position,
// an up vector not along the view, a field of view in (0, 180) degrees.
std::string validate(const Camera& camera);

// Interpolated geometry of a hit.
struct SurfacePoint {
    float3 position, normal, geometricNormal;
    float3 objectPosition, objectNormal;
    float3 tangent, bitangent;  // object space
    float2 uv;
    float4 color;
};

struct Hit {
    float t = 0.0f;
    unsigned object = 0, primitive = 0;
    float u = 0.0f, v = 0.0f;
};

class Scene {
  public:
    Scene();
    ~Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    Camera camera;
    float3 ambient{0.03f, 0.03f, 0.03f};  // what ambientLight answers
    float3 background{0.0f, 0.0f, 0.0f};  // seen by escaping rays without environment
    ShaderInstance* environment = nullptr;
    TextureLibrary textures;
    // The environment's importance map for path tracing, made when first needed.
    mutable EnvironmentLight environmentLight;

    ShaderInstance* addShader(std::unique_ptr<ShaderInstance> s);
    int addMaterial(std::unique_ptr<ShaderInstance> s);
    int findMaterial(const std::string& name) const;
    ShaderInstance& material(int i) const { return *materials_[i]; }
    size_t materialCount() const { return materials_.size(); }

    void addObject(std::string name, Mesh mesh, const Affine& toWorld, int material);
    const Object& object(unsigned i) const { return objects_[i]; }
    size_t objectCount() const { return objects_.size(); }

    std::vector<Light> lights;

    // Builds the acceleration structure; call after the last addObject.
    void commit();

    // Closest hit on (org + t dir), t in (tnear, tfar); dir need not be unit.
    bool intersect(float3 org, float3 dir, float tnear, float tfar, Hit* hit) const;
    // Whether any object lies on (org + t dir), t in (tnear, tfar): cheaper than
    // the closest hit.
    bool occluded(float3 org, float3 dir, float tnear, float tfar) const;
    // Whether some object's material announces shadowTransmission, so that a
    // shadow ray may pass through surfaces.
    bool hasTransmitters() const { return transmitters_; }
    SurfacePoint surface(const Hit& hit, float3 org, float3 dir) const;

  private:
    RTCDevice device_ = nullptr;
    RTCScene scene_ = nullptr;
    std::vector<std::unique_ptr<ShaderInstance>> shaders_;
    std::vector<ShaderInstance*> materials_;
    std::vector<Object> objects_;
    bool transmitters_ = false;
};

}  // namespace vref
