#include "host/reference/scene_loader.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <tuple>

#include <tiny_obj_loader.h>

#include "host/class_info.h"
#include "host/reference/limits.h"

#include "host/slots.h"

namespace vrender {

using nlohmann::json;
using namespace vref;  // the host's vector arithmetic

namespace {

// Typed reads of JSON values, failing with the scene and entry named.
class Reader {
  public:
    explicit Reader(const std::string& sceneName) : name_(sceneName) {}

    [[noreturn]] void fail(const std::string& where, const std::string& what) const {
        throw SceneError(name_ + ": " + where + ": " + what);
    }

    // A JSON number as a float; one beyond the float range is refused rather
    // than becoming an infinity.
    float toFloat(const json& v, const std::string& where, const char* key) const {
        double d = v.get<double>();
        if (!(std::fabs(d) <= std::numeric_limits<float>::max())) {
            fail(where, std::string("\"") + key + "\" holds " + v.dump() +
                            ", beyond the range of a float");
        }
        return static_cast<float>(d);
    }

    void checkKeys(const json& j, const std::string& where,
                   std::initializer_list<const char*> allowed) const {
        if (!j.is_object()) fail(where, "expects an object");
        for (auto it = j.begin(); it != j.end(); ++it) {
            bool ok = false;
            for (const char* a : allowed) ok = ok || it.key() == a;
            if (!ok) fail(where, "unknown key \"" + it.key() + "\"");
        }
    }

    float number(const json& j, const std::string& where, const char* key, float fallback) const {
        if (!j.contains(key)) return fallback;
        const json& v = j.at(key);
        if (!v.is_number()) fail(where, std::string("\"") + key + "\" expects a number");
        return toFloat(v, where, key);
    }

    // A number > 0 (a radius, a size).
    float positive(const json& j, const std::string& where, const char* key, float fallback) const {
        float x = number(j, where, key, fallback);
        if (!(x > 0.0f)) fail(where, std::string("\"") + key + "\" must be greater than 0");
        return x;
    }

    int integer(const json& j, const std::string& where, const char* key, int fallback, int lo,
                int hi) const {
        if (!j.contains(key)) return fallback;
        const json& v = j.at(key);
        if (!v.is_number_integer() || v.get<int64_t>() < lo || v.get<int64_t>() > hi ||
            (v.is_number_unsigned() && v.get<uint64_t>() > static_cast<uint64_t>(hi))) {
            fail(where, std::string("\"") + key + "\" expects an integer in [" +
                            std::to_string(lo) + ", " + std::to_string(hi) + "]");
        }
        return v.get<int>();
    }

    float3 vec3(const json& j, const std::string& where, const char* key, float3 fallback) const {
        if (!j.contains(key)) return fallback;
        const json& v = j.at(key);
        if (v.is_number()) return float3(toFloat(v, where, key));
        if (!v.is_array() || v.size() != 3 || !v[0].is_number() || !v[1].is_number() ||
            !v[2].is_number()) {
            fail(where, std::string("\"") + key + "\" expects an array of 3 numbers");
        }
        return float3(toFloat(v[0], where, key), toFloat(v[1], where, key),
                      toFloat(v[2], where, key));
    }

    float2 vec2(const json& j, const std::string& where, const char* key, float2 fallback) const {
        if (!j.contains(key)) return fallback;
        const json& v = j.at(key);
        if (v.is_number()) return float2(toFloat(v, where, key), toFloat(v, where, key));
        if (!v.is_array() || v.size() != 2 || !v[0].is_number() || !v[1].is_number()) {
            fail(where, std::string("\"") + key + "\" expects an array of 2 numbers");
        }
        return float2(toFloat(v[0], where, key), toFloat(v[1], where, key));
    }

    std::string text(const json& j, const std::string& where, const char* key) const {
        if (!j.contains(key)) fail(where, std::string("missing \"") + key + "\"");
        const json& v = j.at(key);
        if (!v.is_string()) fail(where, std::string("\"") + key + "\" expects a string");
        return v.get<std::string>();
    }

  private:
    std::string name_;
};

class Loader : public Reader {
  public:
    Loader(const std::string& sceneName, const std::string& baseDir, const vhost::Library& lib,
           vref::Scene& scene, const FileSet* files)
        : Reader(sceneName), base_(baseDir), lib_(lib), scene_(scene), files_(files) {}

    std::string path(const std::string& file) const {
        std::filesystem::path p(file);
        if (p.is_relative() && !base_.empty()) p = std::filesystem::path(base_) / p;
        return p.string();
    }

    // The contents of a file the scene names when the caller gave it in memory.
    const std::string* inMemory(const std::string& file) const {
        if (!files_) return nullptr;
        auto it = files_->find(file);
        return it != files_->end() ? &it->second : nullptr;
    }

    // ---- shaders ----

    std::unique_ptr<vref::ShaderInstance> create(const std::string& where, const std::string& name,
                                                 const std::string& className,
                                                 int32_t wantKind) const {
        const auto& classes = lib_.classes();
        if (std::find(classes.begin(), classes.end(), className) == classes.end()) {
            fail(where, "unknown shader class \"" + className + "\" (not exported by " +
                            lib_.path() + ")");
        }
        int32_t version = lib_.apiVersion(className);
        if (version != pxs::kApiVersion) {
            fail(where, "class \"" + className + "\" has API version " + std::to_string(version) +
                            ", expected " + std::to_string(pxs::kApiVersion));
        }
        vhost::ShaderPtr obj = lib_.create(className);
        if (!obj) fail(where, "cannot create \"" + className + "\"");
        pxs::IShaderBase* raw = obj.get();
        auto s = vref::declareShader(name, className, raw, std::move(obj));
        if (s->kind != wantKind) {
            auto kindName = [](int32_t k) {
                return k >= 0 && k <= 2 ? vhost::kindName(k) : "unknown kind of shader";
            };
            fail(where, "class \"" + className + "\" is a " + kindName(s->kind) + ", not a " +
                            kindName(wantKind));
        }
        return s;
    }

    void setParams(const vref::ShaderInstance& s, const json& params,
                   const std::string& where) const {
        if (!params.is_object()) fail(where + ".params", "expects an object");
        for (auto it = params.begin(); it != params.end(); ++it) {
            std::string at = where + ".params.\"" + it.key() + "\"";
            const vref::Parameter* p = s.registry.find(it.key());
            if (!p) {
                fail(at, "unknown parameter \"" + it.key() + "\" of class \"" + s.className + "\"");
            }
            std::string err = s.registry.set(it.key(), value(*p, it.value(), at));
            if (!err.empty()) fail(at, err);
        }
    }

    vref::ParamValue value(const vref::Parameter& p, const json& v, const std::string& at) const {
        // A value no field accepts, so that the registry says what the field expects.
        vref::ParamValue wrong;
        wrong.kind = vref::ParamValue::Kind::Texture;
        wrong.cube = p.type != pxs::ParamType::TextureCube;
        if (v.is_boolean()) return vref::ParamValue::ofBool(v.get<bool>());
        if (v.is_number()) {
            // Ints take whole numbers beyond the float range too; the registry says so.
            if (p.type != pxs::ParamType::Int) toFloat(v, at, p.name.c_str());
            return vref::ParamValue::ofNumber(v.get<double>());
        }
        if (v.is_array()) {
            std::vector<float> n;
            for (const json& e : v) {
                if (!e.is_number()) return wrong;
                n.push_back(toFloat(e, at, p.name.c_str()));
            }
            return vref::ParamValue::ofNumbers(std::move(n));
        }
        if (v.is_string() && pxs::isTextureType(p.type)) {
            bool cube = p.type == pxs::ParamType::TextureCube;
            return vref::ParamValue::ofTexture(texture(v.get<std::string>(), cube, at), cube);
        }
        return wrong;
    }

    // A texture by scene name, or else by file name.
    pxs::ITextureObject* texture(const std::string& ref, bool cube, const std::string& at) const {
        auto it = textureFiles_.find(ref);
        std::string file = it != textureFiles_.end() ? it->second.first : ref;
        if (it != textureFiles_.end() && it->second.second != cube) {
            fail(at, "texture \"" + ref + "\" is a " + (cube ? "2D" : "cube") +
                         " texture; this parameter needs a " + (cube ? "cube" : "2D") + " one");
        }
        return loadTexture(file, cube, at);
    }

    vref::ImageTexture* loadTexture(const std::string& file, bool cube,
                                    const std::string& at) const {
        std::string err;
        const std::string* bytes = inMemory(file);
        vref::ImageTexture* t = scene_.textures.load(bytes ? file : path(file), cube, &err, bytes);
        if (!t) fail(at, err);
        return t;
    }

    // ---- sections ----

    void textures(const json& j) {
        if (!j.is_object()) fail("textures", "expects an object of name: {\"file\": ...}");
        for (auto it = j.begin(); it != j.end(); ++it) {
            std::string where = "textures.\"" + it.key() + "\"";
            const json& t = it.value();
            checkKeys(t, where, {"file", "cube"});
            std::string file = text(t, where, "file");
            bool cube = false;
            if (t.contains("cube")) {
                if (!t.at("cube").is_boolean()) fail(where, "\"cube\" expects true or false");
                cube = t.at("cube").get<bool>();
            }
            loadTexture(file, cube, where);
            textureFiles_[it.key()] = {file, cube};
        }
    }

    int material(const json& j, const std::string& where, const std::string& name) {
        checkKeys(j, where, {"class", "params"});
        std::string cls = text(j, where, "class");
        auto s = create(where, name, cls, pxs::kKindMaterial);
        if (j.contains("params")) setParams(*s, j.at("params"), where);
        return scene_.addMaterial(std::move(s));
    }

    void materials(const json& j) {
        if (!j.is_object()) fail("materials", "expects an object of name: {\"class\": ...}");
        for (auto it = j.begin(); it != j.end(); ++it) {
            material(it.value(), "materials.\"" + it.key() + "\"", it.key());
        }
    }

    vref::Affine transform(const json& o, const std::string& where) const {
        float3 t = vec3(o, where, "translate", float3());
        float3 r = vec3(o, where, "rotate", float3());
        float3 s = vec3(o, where, "scale", float3(1.0f));
        vref::Affine a;
        a.r0 = float3(s.x, 0, 0);
        a.r1 = float3(0, s.y, 0);
        a.r2 = float3(0, 0, s.z);
        auto rot = [](int axis, float degrees) {
            float c = std::cos(degrees * vref::kPi / 180.0f),
                  si = std::sin(degrees * vref::kPi / 180.0f);
            vref::Affine m;
            if (axis == 0) m.r1 = float3(0, c, si), m.r2 = float3(0, -si, c);
            if (axis == 1) m.r0 = float3(c, 0, -si), m.r2 = float3(si, 0, c);
            if (axis == 2) m.r0 = float3(c, si, 0), m.r1 = float3(-si, c, 0);
            return m;
        };
        a = a.then(rot(0, r.x)).then(rot(1, r.y)).then(rot(2, r.z));
        a.t = t;
        // Normals and the shaders' world-to-object matrix need the inverse.
        vref::Affine inv = a.inverse();
        if (!std::isnormal(dot(a.r0, cross(a.r1, a.r2))) || !isFinite(inv.r0) ||
            !isFinite(inv.r1) || !isFinite(inv.r2) || !isFinite(inv.t)) {
            fail(where, "\"scale\" " + json{s.x, s.y, s.z}.dump() +
                            " flattens the object or is too large or small to invert");
        }
        return a;
    }

    vref::Mesh objMesh(const std::string& file, const std::string& where) const {
        std::string text;
        std::string name = file;
        if (const std::string* bytes = inMemory(file)) {
            text = *bytes;
        } else {
            name = path(file);
            std::error_code ec;
            if (!std::filesystem::is_regular_file(name, ec)) {
                fail(where, "mesh file not found: " + name);
            }
            auto size = std::filesystem::file_size(name, ec);
            if (ec || size > static_cast<uintmax_t>(vref::kMaxMeshFileBytes)) {
                fail(where, "OBJ " + name + " is larger than " +
                                std::to_string(vref::kMaxMeshFileBytes) + " bytes");
            }
            std::ifstream in(name, std::ios::binary);
            text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (!in && !in.eof()) fail(where, "cannot read OBJ " + name);
        }
        tinyobj::ObjReaderConfig config;
        config.triangulate = true;
        config.vertex_color = true;
        tinyobj::ObjReader reader;
        // Its own materials are not used: no material library is read.
        if (!reader.ParseFromString(text, "", config)) {
            fail(where, "cannot read OBJ " + name + ": " + reader.Error());
        }
        const tinyobj::attrib_t& at = reader.GetAttrib();
        size_t vertexCount = at.vertices.size() / 3, normalCount = at.normals.size() / 3,
               uvCount = at.texcoords.size() / 2;
        vref::Mesh m;
        bool hasNormals = true, hasUvs = uvCount > 0;
        std::map<std::tuple<int, int, int>, uint32_t> ids;
        size_t corner = 0;
        // Indices are checked here: the reader only warns about those that are out
        // of range. -1 is "none" for normals and uvs.
        auto bad = [&](const char* what, int index, size_t count) {
            std::string which = index >= 0 ? std::string(what) + " " + std::to_string(index + 1)
                                           : std::string("a ") + what + " before the first";
            fail(where, "OBJ " + name + ": face corner " + std::to_string(corner) + " refers to " +
                            which + " of " + std::to_string(count));
        };
        for (const tinyobj::shape_t& shape : reader.GetShapes()) {
            for (const tinyobj::index_t& ix : shape.mesh.indices) {
                ++corner;
                if (ix.vertex_index < 0 || static_cast<size_t>(ix.vertex_index) >= vertexCount) {
                    bad("vertex", ix.vertex_index, vertexCount);
                }
                if (ix.normal_index < -1 ||
                    (ix.normal_index >= 0 && static_cast<size_t>(ix.normal_index) >= normalCount)) {
                    bad("normal", ix.normal_index, normalCount);
                }
                if (ix.texcoord_index < -1 ||
                    (ix.texcoord_index >= 0 && static_cast<size_t>(ix.texcoord_index) >= uvCount)) {
                    bad("texture coordinate", ix.texcoord_index, uvCount);
                }
                if (m.indices.size() >= 3 * static_cast<size_t>(vref::kMaxMeshTriangles)) {
                    fail(where, "OBJ " + name + " has more than " +
                                    std::to_string(vref::kMaxMeshTriangles) + " triangles");
                }
                auto key = std::make_tuple(ix.vertex_index, ix.normal_index, ix.texcoord_index);
                auto found = ids.find(key);
                if (found != ids.end()) {
                    m.indices.push_back(found->second);
                    continue;
                }
                uint32_t id = static_cast<uint32_t>(m.positions.size());
                ids[key] = id;
                m.indices.push_back(id);
                size_t v = static_cast<size_t>(ix.vertex_index);
                float3 p(at.vertices[3 * v], at.vertices[3 * v + 1], at.vertices[3 * v + 2]);
                if (!isFinite(p)) {
                    fail(where, "OBJ " + name + ": vertex " + std::to_string(v + 1) +
                                    " is beyond the range of a float");
                }
                m.positions.push_back(p);
                if (at.colors.size() >= 3 * (v + 1)) {
                    m.colors.push_back(vref::float4(at.colors[3 * v], at.colors[3 * v + 1],
                                                    at.colors[3 * v + 2], 1.0f));
                }
                if (ix.normal_index >= 0) {
                    size_t n = static_cast<size_t>(ix.normal_index);
                    float3 normal = vref::normalize(
                        float3(at.normals[3 * n], at.normals[3 * n + 1], at.normals[3 * n + 2]));
                    if (isZero(normal) || !isFinite(normal)) {
                        fail(where, "OBJ " + name + ": normal " + std::to_string(n + 1) +
                                        " has no direction");
                    }
                    m.normals.push_back(normal);
                } else {
                    hasNormals = false;
                }
                if (hasUvs && ix.texcoord_index >= 0) {
                    size_t t = static_cast<size_t>(ix.texcoord_index);
                    m.uvs.push_back(vref::float2(at.texcoords[2 * t], at.texcoords[2 * t + 1]));
                } else {
                    m.uvs.push_back(vref::float2());
                }
            }
        }
        if (m.indices.empty()) fail(where, "OBJ " + name + " has no faces");
        if (!hasNormals) m.normals.clear();
        m.completeAttributes();
        return m;
    }

    void objects(const json& j) {
        if (!j.is_array()) fail("objects", "expects an array");
        for (size_t i = 0; i < j.size(); ++i) {
            const json& o = j[i];
            std::string where = "objects[" + std::to_string(i) + "]";
            if (o.is_object() && o.contains("name") && o.at("name").is_string()) {
                where += " (\"" + o.at("name").get<std::string>() + "\")";
            }
            checkKeys(o, where,
                      {"name", "type", "material", "translate", "rotate", "scale", "radius", "size",
                       "file", "segments"});
            std::string type = text(o, where, "type");
            vref::Mesh mesh;
            if (type == "sphere") {
                int seg = integer(o, where, "segments", 64, 1, vref::kMaxSegments);
                mesh = vref::makeSphere(positive(o, where, "radius", 1.0f), std::max(8, seg),
                                        std::max(4, seg / 2));
            } else if (type == "plane") {
                float2 s = vec2(o, where, "size", float2(10.0f, 10.0f));
                if (!(s.x > 0.0f && s.y > 0.0f)) fail(where, "\"size\" must be greater than 0");
                mesh = vref::makePlane(s.x, s.y);
            } else if (type == "box") {
                float3 s = vec3(o, where, "size", float3(1.0f));
                if (!(s.x > 0.0f && s.y > 0.0f && s.z > 0.0f)) {
                    fail(where, "\"size\" must be greater than 0");
                }
                mesh = vref::makeBox(s);
            } else if (type == "disk") {
                mesh = vref::makeDisk(
                    positive(o, where, "radius", 1.0f),
                    std::max(8, integer(o, where, "segments", 64, 1, vref::kMaxSegments)));
            } else if (type == "mesh") {
                mesh = objMesh(path(text(o, where, "file")), where);
            } else {
                fail(where,
                     "unknown object type \"" + type + "\" (sphere, plane, box, disk or mesh)");
            }
            if (!o.contains("material")) fail(where, "missing \"material\"");
            const json& m = o.at("material");
            int mat;
            if (m.is_string()) {
                mat = scene_.findMaterial(m.get<std::string>());
                if (mat < 0) fail(where, "unknown material \"" + m.get<std::string>() + "\"");
            } else {
                mat = material(m, where + ".material", where);
            }
            std::string name = o.contains("name") ? text(o, where, "name") : where;
            scene_.addObject(name, std::move(mesh), transform(o, where), mat);
        }
    }

    void lights(const json& j) {
        if (!j.is_array()) fail("lights", "expects an array");
        for (size_t i = 0; i < j.size(); ++i) {
            const json& l = j[i];
            std::string where = "lights[" + std::to_string(i) + "]";
            // A light shader takes its settings as params, a host light as keys.
            if (l.is_object() && l.contains("class")) {
                checkKeys(l, where, {"name", "class", "params", "position", "target"});
            } else {
                checkKeys(l, where,
                          {"name", "type", "position", "target", "color", "intensity", "cosOuter",
                           "cosInner", "castShadows"});
            }
            vref::Light light;
            light.name = l.contains("name") ? text(l, where, "name") : where;
            light.position = vec3(l, where, "position", light.position);
            float3 target = vec3(l, where, "target", light.position + float3(0, 0, -1));
            light.axis = vref::normalize(target - light.position);
            if (vref::isZero(light.axis)) fail(where, "\"target\" equals \"position\"");
            if (l.contains("class")) {
                auto s = create(where, light.name, text(l, where, "class"), pxs::kKindLight);
                if (l.contains("params")) setParams(*s, l.at("params"), where);
                light.shader = scene_.addShader(std::move(s));
            } else {
                std::string type = l.contains("type") ? text(l, where, "type") : "point";
                if (type != "point" && type != "spot") {
                    fail(where, "unknown light type \"" + type + "\" (point or spot)");
                }
                light.spot = type == "spot";
                light.color = vec3(l, where, "color", light.color);
                light.intensity = number(l, where, "intensity", light.intensity);
                light.cosOuter = number(l, where, "cosOuter", light.cosOuter);
                light.cosInner = number(l, where, "cosInner", light.cosInner);
                if (!(light.intensity >= 0.0f) ||
                    std::min(light.color.x, std::min(light.color.y, light.color.z)) < 0.0f) {
                    fail(where, "\"color\" and \"intensity\" must not be negative");
                }
                if (std::fabs(light.cosOuter) > 1.0f || std::fabs(light.cosInner) > 1.0f) {
                    fail(where, "\"cosOuter\" and \"cosInner\" must lie in [-1, 1]");
                }
                if (l.contains("castShadows")) {
                    if (!l.at("castShadows").is_boolean()) {
                        fail(where, "\"castShadows\" expects true or false");
                    }
                    light.castShadows = l.at("castShadows").get<bool>();
                }
            }
            scene_.lights.push_back(light);
        }
    }

    void environment(const json& j) {
        checkKeys(j, "environment", {"class", "params"});
        auto s = create("environment", "environment", text(j, "environment", "class"),
                        pxs::kKindEnvironment);
        if (j.contains("params")) setParams(*s, j.at("params"), "environment");
        scene_.environment = scene_.addShader(std::move(s));
    }

    void camera(const json& j) {
        checkKeys(j, "camera", {"position", "target", "up", "fov"});
        vref::Camera& c = scene_.camera;
        c.position = vec3(j, "camera", "position", c.position);
        c.target = vec3(j, "camera", "target", c.target);
        c.up = vec3(j, "camera", "up", c.up);
        c.fovY = number(j, "camera", "fov", c.fovY);
        std::string bad = vref::validate(c);
        if (!bad.empty()) fail("camera", bad);
    }

  private:
    std::string base_;
    const vhost::Library& lib_;
    vref::Scene& scene_;
    const FileSet* files_;
    std::map<std::string, std::pair<std::string, bool>> textureFiles_;
};

}  // namespace

void applyRenderSettings(const json& r, const std::string& where, vref::RenderSettings& settings) {
    auto fail = [&](const std::string& what) { throw SceneError(where + ": " + what); };
    if (!r.is_object()) fail("expects an object");
    for (auto it = r.begin(); it != r.end(); ++it) {
        const std::string& k = it.key();
        const json& v = it.value();
        auto integer = [&]() {
            const vref::SettingRange* range = vref::settingRange(k);
            bool ok = v.is_number_integer() &&
                      (v.is_number_unsigned()
                           ? v.get<uint64_t>() <= static_cast<uint64_t>(range->hi)
                           : v.get<int64_t>() >= range->lo && v.get<int64_t>() <= range->hi);
            if (!ok) {
                fail("\"" + k + "\" expects an integer in [" + std::to_string(range->lo) + ", " +
                     std::to_string(range->hi) + "]" + (v.is_number() ? ", not " + v.dump() : ""));
            }
            return v.get<int64_t>();
        };
        auto positive = [&]() {
            if (!v.is_number() || !(v.get<double>() >= 0.0) ||
                v.get<double>() > std::numeric_limits<float>::max()) {
                fail("\"" + k + "\" expects a number >= 0 within the float range");
            }
            return v.get<float>();
        };
        if (k == "width") {
            settings.width = static_cast<int>(integer());
        } else if (k == "height") {
            settings.height = static_cast<int>(integer());
        } else if (k == "spp") {
            settings.spp = static_cast<int>(integer());
        } else if (k == "threads") {
            settings.threads = static_cast<int>(integer());
        } else if (k == "seed") {
            settings.seed = static_cast<uint32_t>(integer());
        } else if (k == "maxDepth") {
            settings.maxDepth = static_cast<int>(integer());
        } else if (k == "aoSamples") {
            settings.aoSamples = static_cast<int>(integer());
        } else if (k == "giSamples") {
            settings.giSamples = static_cast<int>(integer());
        } else if (k == "aoDistance") {
            settings.aoDistance = positive();
        } else if (k == "clamp") {
            settings.clampValue = positive();
        } else if (k == "mode") {
            std::string m = v.is_string() ? v.get<std::string>() : "";
            if (m == "direct") {
                settings.mode = vref::Mode::Direct;
            } else if (m == "path") {
                settings.mode = vref::Mode::Path;
            } else {
                fail("\"mode\" expects \"direct\" or \"path\"");
            }
        } else {
            fail("unknown key \"" + k + "\"");
        }
    }
    // What no single value shows: the image's pixels, the work of a gather.
    std::string bad = vref::validate(settings);
    if (!bad.empty()) fail(bad);
}

Frames readFrames(const json& doc, const std::string& sceneName) {
    Reader r(sceneName);
    Frames f;
    if (!doc.is_object()) return f;
    bool animation = doc.contains("animation"), wedge = doc.contains("wedge");
    if (animation && wedge) r.fail("scene", "\"animation\" and \"wedge\" cannot be combined");
    if (animation) {
        const json& a = doc.at("animation");
        r.checkKeys(a, "animation", {"frames", "orbit"});
        if (!a.contains("frames") || !a.contains("orbit")) {
            r.fail("animation", "expects \"frames\" and \"orbit\"");
        }
        f.count = r.integer(a, "animation", "frames", 1, 1, vref::kMaxFrames);
        const json& o = a.at("orbit");
        const char* at = "animation.orbit";
        r.checkKeys(o, at, {"center", "radius", "height", "startAngle"});
        if (!o.contains("radius")) r.fail(at, "missing \"radius\"");
        f.orbit = true;
        f.center = r.vec3(o, at, "center", float3());
        f.radius = r.positive(o, at, "radius", 1.0f);
        f.height = r.number(o, at, "height", 0.0f);
        f.startAngle = r.number(o, at, "startAngle", f.startAngle);
    }
    if (wedge) {
        const json& w = doc.at("wedge");
        const char* at = "wedge";
        r.checkKeys(w, at, {"object", "parameter", "values", "range", "count"});
        f.object = r.text(w, at, "object");
        f.parameter = r.text(w, at, "parameter");
        if (w.contains("values") == w.contains("range") ||
            w.contains("values") == w.contains("count")) {
            r.fail(at, "expects \"values\", or \"range\" with \"count\"");
        }
        std::string many = "between 1 and " + std::to_string(vref::kMaxFrames);
        if (w.contains("values")) {
            const json& v = w.at("values");
            if (!v.is_array() || v.empty() || v.size() > static_cast<size_t>(vref::kMaxFrames)) {
                r.fail(at, "\"values\" expects an array of " + many + " values");
            }
            // One kind of value, so that the first frame's load checks them all.
            auto kind = [](const json& e) {
                return e.is_number() ? 0 : static_cast<int>(e.type()) + 1;
            };
            for (size_t i = 1; i < v.size(); ++i) {
                if (kind(v[i]) != kind(v[0]) || (v[0].is_array() && v[i].size() != v[0].size())) {
                    r.fail(at, "\"values\"[" + std::to_string(i) + "] " + v[i].dump() +
                                   " is not of the kind of \"values\"[0] " + v[0].dump());
                }
            }
            f.values.assign(v.begin(), v.end());
        } else {
            const json& range = w.at("range");
            if (!range.is_array() || range.size() != 2)
                r.fail(at, "\"range\" expects [first, last]");
            float2 ends = r.vec2(w, at, "range", float2());
            int count = r.integer(w, at, "count", 1, 1, vref::kMaxFrames);
            for (int i = 0; i < count; ++i) {
                double t = count > 1 ? static_cast<double>(i) / (count - 1) : 0.0;
                f.values.push_back(ends.x + (static_cast<double>(ends.y) - ends.x) * t);
            }
        }
        f.count = static_cast<int>(f.values.size());
        // The object and, when it names one, its material must be there.
        const json* objects =
            doc.contains("objects") && doc.at("objects").is_array() ? &doc.at("objects") : nullptr;
        const json* target = nullptr;
        for (size_t i = 0; objects && i < objects->size() && !target; ++i) {
            const json& o = (*objects)[i];
            if (o.is_object() && o.contains("name") && o.at("name") == f.object) target = &o;
        }
        if (!target) r.fail(at, "no object named \"" + f.object + "\"");
        const json* m = target->contains("material") ? &target->at("material") : nullptr;
        if (m && m->is_string()) {
            const std::string& name = m->get_ref<const std::string&>();
            bool known = doc.contains("materials") && doc.at("materials").is_object() &&
                         doc.at("materials").contains(name) &&
                         doc.at("materials").at(name).is_object();
            m = known ? &doc.at("materials").at(name) : nullptr;
        }
        if (!m || !m->is_object() || (m->contains("params") && !m->at("params").is_object())) {
            r.fail(at, "object \"" + f.object + "\" has no material with parameters to set");
        }
    }
    return f;
}

json frameDocument(const json& doc, const Frames& f, int frame) {
    json out = doc;
    out.erase("animation");
    out.erase("wedge");
    if (f.orbit) {
        double a = (f.startAngle + 360.0 * frame / f.count) * M_PI / 180.0;
        json& camera = out["camera"];
        if (camera.is_null()) camera = json::object();
        // Anything else is left for the loader to refuse.
        if (camera.is_object()) {
            camera["position"] = {f.center.x + f.radius * std::cos(a),
                                  f.center.y + f.radius * std::sin(a),
                                  static_cast<double>(f.center.z) + f.height};
            camera["target"] = {f.center.x, f.center.y, f.center.z};
        }
    }
    if (!f.values.empty()) {
        for (json& o : out["objects"]) {
            if (!o.is_object() || !o.contains("name") || o.at("name") != f.object) continue;
            json& m = o["material"];
            json& material = m.is_string() ? out["materials"][m.get<std::string>()] : m;
            material["params"][f.parameter] = f.values[static_cast<size_t>(frame)];
            break;
        }
    }
    return out;
}

void loadScene(const json& doc, const std::string& sceneName, const std::string& baseDir,
               const vhost::Library& library, vref::Scene& scene, vref::RenderSettings& settings,
               const FileSet* files) {
    if (doc.is_object() && (doc.contains("animation") || doc.contains("wedge"))) {
        Frames frames = readFrames(doc, sceneName);
        return loadScene(frameDocument(doc, frames, 0), sceneName, baseDir, library, scene,
                         settings, files);
    }
    Loader l(sceneName, baseDir, library, scene, files);
    l.checkKeys(doc, "scene",
                {"camera", "render", "ambient", "background", "textures", "materials", "objects",
                 "lights", "environment"});
    if (doc.contains("render"))
        applyRenderSettings(doc.at("render"), sceneName + ": render", settings);
    if (doc.contains("camera")) l.camera(doc.at("camera"));
    scene.ambient = l.vec3(doc, "scene", "ambient", scene.ambient);
    scene.background = l.vec3(doc, "scene", "background", scene.background);
    if (doc.contains("textures")) l.textures(doc.at("textures"));
    if (doc.contains("materials")) l.materials(doc.at("materials"));
    if (doc.contains("objects")) l.objects(doc.at("objects"));
    if (doc.contains("lights")) l.lights(doc.at("lights"));
    if (doc.contains("environment")) l.environment(doc.at("environment"));
    scene.commit();
}

json readSceneDocument(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) throw SceneError(path + ": is a directory");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw SceneError(path + ": cannot open the scene file");
    std::string text;
    text.resize(static_cast<size_t>(vref::kMaxSceneFileBytes) + 1);
    in.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    if (text.size() > static_cast<size_t>(vref::kMaxSceneFileBytes)) {
        throw SceneError(path + ": larger than " + std::to_string(vref::kMaxSceneFileBytes) +
                         " bytes");
    }
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::parse_error& e) {
        throw SceneError(path + ": invalid JSON: " + e.what());
    }
    return doc;
}

void loadSceneFile(const std::string& path, const vhost::Library& library, vref::Scene& scene,
                   vref::RenderSettings& settings) {
    loadScene(readSceneDocument(path), path, std::filesystem::path(path).parent_path().string(),
              library, scene, settings);
}

}  // namespace vrender
