#include "host/reference/scene.h"

#include <cmath>
#include <stdexcept>

#include "host/slots.h"

namespace vref {

void Mesh::completeAttributes() {
    size_t n = positions.size();
    if (normals.size() != n) {
        normals.assign(n, float3());
        for (size_t i = 0; i + 2 < indices.size(); i += 3) {
            float3 a = positions[indices[i]], b = positions[indices[i + 1]],
                   c = positions[indices[i + 2]];
            float3 fn = cross(b - a, c - a);  // area weighted
            for (int k = 0; k < 3; ++k) normals[indices[i + k]] += fn;
        }
        for (float3& v : normals) v = normalize(v);
    }
    if (uvs.size() != n) uvs.assign(n, float2());
    if (colors.size() != n) colors.assign(n, float4(1, 1, 1, 1));
    if (tangents.size() != n) {
        tangents.assign(n, float3());
        for (size_t i = 0; i + 2 < indices.size(); i += 3) {
            uint32_t i0 = indices[i], i1 = indices[i + 1], i2 = indices[i + 2];
            float3 e1 = positions[i1] - positions[i0], e2 = positions[i2] - positions[i0];
            float du1 = uvs[i1].x - uvs[i0].x, dv1 = uvs[i1].y - uvs[i0].y;
            float du2 = uvs[i2].x - uvs[i0].x, dv2 = uvs[i2].y - uvs[i0].y;
            float det = du1 * dv2 - du2 * dv1;
            if (std::fabs(det) < 1e-12f) continue;
            float3 t = (e1 * dv2 - e2 * dv1) / det;
            tangents[i0] += t;
            tangents[i1] += t;
            tangents[i2] += t;
        }
        for (size_t i = 0; i < n; ++i) {
            float3 nn = normals[i];
            float3 t = tangents[i] - nn * dot(nn, tangents[i]);
            if (length(t) < 1e-8f) {
                float3 b;
                orthonormalBasis(nn, &t, &b);
            }
            tangents[i] = normalize(t);
        }
    }
}

Mesh makeSphere(float radius, int segments, int rings) {
    Mesh m;
    for (int r = 0; r <= rings; ++r) {
        float v = static_cast<float>(r) / rings;
        float theta = v * kPi;  // from the south pole (-z) up
        for (int s = 0; s <= segments; ++s) {
            float u = static_cast<float>(s) / segments;
            float phi = u * 2.0f * kPi;
            float3 n(std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi),
                     -std::cos(theta));
            m.positions.push_back(n * radius);
            m.normals.push_back(n);
            m.uvs.push_back(float2(u, v));
            m.tangents.push_back(float3(-std::sin(phi), std::cos(phi), 0.0f));
        }
    }
    int row = segments + 1;
    for (int r = 0; r < rings; ++r) {
        for (int s = 0; s < segments; ++s) {
            uint32_t a = r * row + s, b = a + 1, c = a + row, d = c + 1;
            if (r > 0) m.indices.insert(m.indices.end(), {a, b, d});
            if (r < rings - 1) m.indices.insert(m.indices.end(), {a, d, c});
        }
    }
    m.completeAttributes();
    return m;
}

Mesh makePlane(float sizeX, float sizeY) {
    Mesh m;
    float hx = sizeX * 0.5f, hy = sizeY * 0.5f;
    m.positions = {{-hx, -hy, 0}, {hx, -hy, 0}, {hx, hy, 0}, {-hx, hy, 0}};
    m.normals.assign(4, float3(0, 0, 1));
    m.uvs = {{-hx, -hy}, {hx, -hy}, {hx, hy}, {-hx, hy}};
    m.tangents.assign(4, float3(1, 0, 0));
    m.indices = {0, 1, 2, 0, 2, 3};
    m.completeAttributes();
    return m;
}

Mesh makeBox(float3 size) {
    Mesh m;
    float3 h = size * 0.5f;
    // Each face: normal, and the two in-plane axes (u, v) with u x v = normal.
    const float3 faces[6][3] = {
        {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}},  {{-1, 0, 0}, {0, -1, 0}, {0, 0, 1}},
        {{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}}, {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}},
        {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},  {{0, 0, -1}, {1, 0, 0}, {0, -1, 0}},
    };
    for (const auto& f : faces) {
        float3 n = f[0], u = f[1], v = f[2];
        uint32_t base = static_cast<uint32_t>(m.positions.size());
        const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        for (const auto& c : corners) {
            float3 p = n * 1.0f + u * c[0] + v * c[1];
            m.positions.push_back(p * h);
            m.normals.push_back(n);
            m.uvs.push_back(float2((c[0] + 1) * 0.5f, (c[1] + 1) * 0.5f));
            m.tangents.push_back(u);
        }
        m.indices.insert(m.indices.end(), {base, base + 1, base + 2, base, base + 2, base + 3});
    }
    m.completeAttributes();
    return m;
}

Mesh makeDisk(float radius, int segments) {
    Mesh m;
    m.positions.push_back(float3(0, 0, 0));
    m.uvs.push_back(float2(0.5f, 0.5f));
    for (int s = 0; s <= segments; ++s) {
        float phi = 2.0f * kPi * s / segments;
        float c = std::cos(phi), si = std::sin(phi);
        m.positions.push_back(float3(c * radius, si * radius, 0));
        m.uvs.push_back(float2(0.5f + 0.5f * c, 0.5f + 0.5f * si));
    }
    for (int s = 0; s < segments; ++s) {
        m.indices.insert(m.indices.end(),
                         {0u, static_cast<uint32_t>(s + 1), static_cast<uint32_t>(s + 2)});
    }
    m.normals.assign(m.positions.size(), float3(0, 0, 1));
    m.tangents.assign(m.positions.size(), float3(1, 0, 0));
    m.completeAttributes();
    return m;
}

std::unique_ptr<ShaderInstance> declareShader(std::string name, std::string className,
                                              pxs::IShaderBase* object, vhost::ShaderPtr owned) {
    auto s = std::make_unique<ShaderInstance>();
    s->name = std::move(name);
    s->className = std::move(className);
    s->object = object;
    s->owned = std::move(owned);
    s->kind = vhost::shaderKind(object);
    s->registry.declare(object);
    s->registry.initialiseMatrices();
    return s;
}

Scene::Scene() {
    // The default configuration: a thread count here would make Embree cap the
    // whole process's oneTBB parallelism (a global_control), renders included.
    device_ = rtcNewDevice(nullptr);
    if (!device_) throw std::runtime_error("cannot create an Embree device");
    scene_ = rtcNewScene(device_);
    // A better tree for a slower build: the build is once, the traversal per ray.
    rtcSetSceneBuildQuality(scene_, RTC_BUILD_QUALITY_HIGH);
}

Scene::~Scene() {
    if (scene_) rtcReleaseScene(scene_);
    if (device_) rtcReleaseDevice(device_);
}

ShaderInstance* Scene::addShader(std::unique_ptr<ShaderInstance> s) {
    shaders_.push_back(std::move(s));
    return shaders_.back().get();
}

int Scene::addMaterial(std::unique_ptr<ShaderInstance> s) {
    materials_.push_back(addShader(std::move(s)));
    return static_cast<int>(materials_.size()) - 1;
}

int Scene::findMaterial(const std::string& name) const {
    for (size_t i = 0; i < materials_.size(); ++i) {
        if (materials_[i]->name == name) return static_cast<int>(i);
    }
    return -1;
}

void Scene::addObject(std::string name, Mesh mesh, const Affine& toWorld, int material) {
    // The tracer reads through these without checks.
    if (material < 0 || static_cast<size_t>(material) >= materials_.size()) {
        throw std::invalid_argument(name + ": no material " + std::to_string(material));
    }
    for (uint32_t i : mesh.indices) {
        if (i >= mesh.positions.size()) {
            throw std::invalid_argument(name + ": vertex index " + std::to_string(i) + " of " +
                                        std::to_string(mesh.positions.size()));
        }
    }
    Object o;
    o.name = std::move(name);
    o.mesh = std::move(mesh);
    o.toWorld = toWorld;
    o.toObject = toWorld.inverse();
    o.material = material;
    for (const float3& p : o.mesh.positions) o.worldPositions.push_back(toWorld.point(p));
    const auto& idx = o.mesh.indices;
    for (size_t i = 0; i + 2 < idx.size(); i += 3) {
        float3 a = o.worldPositions[idx[i]], b = o.worldPositions[idx[i + 1]],
               c = o.worldPositions[idx[i + 2]];
        o.worldFaceNormals.push_back(normalize(cross(b - a, c - a)));
    }
    objects_.push_back(std::move(o));
}

void Scene::commit() {
    for (unsigned id = 0; id < objects_.size(); ++id) {
        const Object& o = objects_[id];
        RTCGeometry g = rtcNewGeometry(device_, RTC_GEOMETRY_TYPE_TRIANGLE);
        auto* v = static_cast<float*>(rtcSetNewGeometryBuffer(g, RTC_BUFFER_TYPE_VERTEX, 0,
                                                              RTC_FORMAT_FLOAT3, 3 * sizeof(float),
                                                              o.worldPositions.size()));
        for (size_t i = 0; i < o.worldPositions.size(); ++i) {
            float3 p = o.worldPositions[i];
            v[3 * i] = p.x;
            v[3 * i + 1] = p.y;
            v[3 * i + 2] = p.z;
        }
        auto* ix = static_cast<uint32_t*>(
            rtcSetNewGeometryBuffer(g, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3,
                                    3 * sizeof(uint32_t), o.mesh.triangles()));
        std::copy(o.mesh.indices.begin(), o.mesh.indices.begin() + 3 * o.mesh.triangles(), ix);
        rtcCommitGeometry(g);
        rtcAttachGeometryByID(scene_, g, id);
        rtcReleaseGeometry(g);
        transmitters_ = transmitters_ || material(o.material).has(pxs::kCapShadowTransmission);
    }
    rtcCommitScene(scene_);
}

namespace {

RTCRay ray(float3 org, float3 dir, float tnear, float tfar) {
    RTCRay r;
    r.org_x = org.x;
    r.org_y = org.y;
    r.org_z = org.z;
    r.dir_x = dir.x;
    r.dir_y = dir.y;
    r.dir_z = dir.z;
    r.tnear = tnear;
    r.tfar = tfar;
    r.time = 0.0f;
    r.mask = 0xFFFFFFFFu;
    r.id = 0;
    r.flags = 0;
    return r;
}

}  // namespace

bool Scene::intersect(float3 org, float3 dir, float tnear, float tfar, Hit* hit) const {
    RTCIntersectContext ctx;
    rtcInitIntersectContext(&ctx);
    RTCRayHit rh;
    rh.ray = ray(org, dir, tnear, tfar);
    rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
    rh.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
    rtcIntersect1(scene_, &ctx, &rh);
    if (rh.hit.geomID == RTC_INVALID_GEOMETRY_ID) return false;
    hit->t = rh.ray.tfar;
    hit->object = rh.hit.geomID;
    hit->primitive = rh.hit.primID;
    hit->u = rh.hit.u;
    hit->v = rh.hit.v;
    return true;
}

bool Scene::occluded(float3 org, float3 dir, float tnear, float tfar) const {
    RTCIntersectContext ctx;
    rtcInitIntersectContext(&ctx);
    RTCRay r = ray(org, dir, tnear, tfar);
    rtcOccluded1(scene_, &ctx, &r);
    return r.tfar < 0.0f;  // Embree's mark of a blocked ray
}

SurfacePoint Scene::surface(const Hit& hit, float3 org, float3 dir) const {
    const Object& o = objects_[hit.object];
    const Mesh& m = o.mesh;
    uint32_t i0 = m.indices[3 * hit.primitive], i1 = m.indices[3 * hit.primitive + 1],
             i2 = m.indices[3 * hit.primitive + 2];
    float w0 = 1.0f - hit.u - hit.v, w1 = hit.u, w2 = hit.v;
    auto lerp3 = [&](const std::vector<float3>& a) { return a[i0] * w0 + a[i1] * w1 + a[i2] * w2; };
    SurfacePoint s;
    s.position = org + dir * hit.t;
    s.objectPosition = lerp3(m.positions);
    s.objectNormal = normalize(lerp3(m.normals));
    // toObject is toWorld.inverse(): normals go by its transpose.
    s.normal = normalize(o.toObject.transposedVector(s.objectNormal));
    s.geometricNormal = o.worldFaceNormals[hit.primitive];
    if (isZero(s.normal)) s.normal = s.geometricNormal;
    s.tangent = normalize(lerp3(m.tangents));
    s.bitangent = normalize(cross(s.objectNormal, s.tangent));
    s.uv = float2(m.uvs[i0].x * w0 + m.uvs[i1].x * w1 + m.uvs[i2].x * w2,
                  m.uvs[i0].y * w0 + m.uvs[i1].y * w1 + m.uvs[i2].y * w2);
    const float4 &c0 = m.colors[i0], &c1 = m.colors[i1], &c2 = m.colors[i2];
    s.color = float4(c0.x * w0 + c1.x * w1 + c2.x * w2, c0.y * w0 + c1.y * w1 + c2.y * w2,
                     c0.z * w0 + c1.z * w1 + c2.z * w2, c0.w * w0 + c1.w * w1 + c2.w * w2);
    return s;
}

bool hostLightColor(const Light& light, float3 l, float d, float3* color) {
    float rim = 1.0f;
    if (light.spot) {
        float c = dot(light.axis, -l);
        if (!(c > light.cosOuter)) return false;
        float span = light.cosInner - light.cosOuter;
        float x = span > 0.0f ? std::min(1.0f, (c - light.cosOuter) / span) : 1.0f;
        rim = x * x * (3.0f - 2.0f * x);
    }
    *color = light.color * (light.intensity * rim / (d * d));
    return true;
}

std::string validate(const Camera& c) {
    if (!isFinite(c.position) || !isFinite(c.target) || !isFinite(c.up)) {
        return "\"position\", \"target\" and \"up\" must be finite";
    }
    if (!(c.fovY > 0.0f && c.fovY < 180.0f)) return "\"fov\" must lie in (0, 180)";
    float3 view = c.target - c.position;
    if (isZero(view) || !isFinite(view)) return "\"target\" equals \"position\"";
    if (isZero(c.up)) return "\"up\" is zero";
    // Below this the image plane's axes are noise: the picture would be one colour.
    if (!(length(cross(normalize(view), normalize(c.up))) > 1e-4f)) {
        return "\"up\" is parallel to the view direction";
    }
    return "";
}

}  // namespace vref
