#include "host/reference/scene_loader.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>

#include "host/class_info.h"
#include "host/json_reader.h"
#include "host/reference/limits.h"
#include "host/reference/obj_mesh.h"
#include "host/reference/scene_reader.h"
#include "host/slots.h"

namespace vrender {

using nlohmann::json;
using namespace vref;  // the host's vector arithmetic

namespace {

const char* kindName(int32_t kind) {
    return kind >= 0 && kind <= 2 ? vhost::kindName(kind) : "unknown kind of shader";
}

class Loader : public Reader {
  public:
    Loader(const std::string& sceneName, const std::string& baseDir, const vhost::Library& lib,
           vref::Scene& scene, const FileSet* files)
        : Reader(sceneName), base_(baseDir), lib_(lib), scene_(scene), files_(files) {}

    void textures(const json& j);
    void materials(const json& j);
    void objects(const json& j);
    void lights(const json& j);
    void environment(const json& j);
    void camera(const json& j);

  private:
    friend void vrender::checkFrames(const json& doc, const Frames& f, const std::string& sceneName,
                                     const std::string& baseDir, const vhost::Library& library,
                                     const FileSet* files);
    std::string path(const std::string& file) const;
    const std::string* inMemory(const std::string& file) const;

    // ---- shaders ----
    std::unique_ptr<vref::ShaderInstance> create(const Entry& where, const std::string& name,
                                                 const std::string& className,
                                                 int32_t wantKind) const;
    void setParams(const vref::ShaderInstance& s, const json& params, const Entry& where) const;
    vref::ParamValue value(const vref::Parameter& p, const json& v, const Entry& at) const;
    pxs::ITextureObject* texture(const std::string& ref, bool cube, const Entry& at) const;
    vref::ImageTexture* loadTexture(const std::string& file, bool cube, const Entry& at) const;
    int material(const json& j, const Entry& where, const std::string& name);

    // ---- objects and lights ----
    vref::Mesh shape(const json& o, const Entry& where) const;
    vref::Mesh objMesh(const std::string& file, const Entry& where) const;
    vref::Affine transform(const json& o, const Entry& where) const;
    int objectMaterial(const json& o, const Entry& where);
    void hostLight(const json& l, const Entry& where, vref::Light& light) const;

    std::string base_;
    const vhost::Library& lib_;
    vref::Scene& scene_;
    const FileSet* files_;
    std::map<std::string, std::pair<std::string, bool>> textureFiles_;
};

std::string Loader::path(const std::string& file) const {
    std::filesystem::path p(file);
    if (p.is_relative() && !base_.empty()) p = std::filesystem::path(base_) / p;
    return p.string();
}

// The contents of a file the scene names when the caller gave it in memory.
const std::string* Loader::inMemory(const std::string& file) const {
    if (!files_) return nullptr;
    auto it = files_->find(file);
    return it != files_->end() ? &it->second : nullptr;
}

std::unique_ptr<vref::ShaderInstance> Loader::create(const Entry& where, const std::string& name,
                                                     const std::string& className,
                                                     int32_t wantKind) const {
    const Entry at = where.field("class");
    const auto& classes = lib_.classes();
    if (std::find(classes.begin(), classes.end(), className) == classes.end()) {
        fail(at,
             "unknown shader class \"" + className + "\" (not exported by " + lib_.path() + ")");
    }
    int32_t version = lib_.apiVersion(className);
    if (version != pxs::kApiVersion) {
        fail(at, "class \"" + className + "\" has API version " + std::to_string(version) +
                     ", expected " + std::to_string(pxs::kApiVersion));
    }
    vhost::ShaderPtr obj = lib_.create(className);
    if (!obj) fail(at, "cannot create \"" + className + "\"");
    pxs::IShaderBase* raw = obj.get();
    auto s = vref::declareShader(name, className, raw, std::move(obj));
    if (s->kind != wantKind) {
        fail(at, "class \"" + className + "\" is a " + kindName(s->kind) + ", not a " +
                     kindName(wantKind));
    }
    return s;
}

void Loader::setParams(const vref::ShaderInstance& s, const json& params,
                       const Entry& where) const {
    if (!params.is_object()) fail(where.key("params"), "expects an object");
    for (auto it = params.begin(); it != params.end(); ++it) {
        const Entry at = where.key("params").name(it.key());
        const vref::Parameter* p = s.registry.find(it.key());
        if (!p) {
            fail(at, "unknown parameter \"" + it.key() + "\" of class \"" + s.className + "\"");
        }
        std::string err = s.registry.set(it.key(), value(*p, it.value(), at));
        if (!err.empty()) fail(at, err);
    }
}

vref::ParamValue Loader::value(const vref::Parameter& p, const json& v, const Entry& at) const {
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
pxs::ITextureObject* Loader::texture(const std::string& ref, bool cube, const Entry& at) const {
    auto it = textureFiles_.find(ref);
    std::string file = it != textureFiles_.end() ? it->second.first : ref;
    if (it != textureFiles_.end() && it->second.second != cube) {
        fail(at, "texture \"" + ref + "\" is a " + (cube ? "2D" : "cube") +
                     " texture; this parameter needs a " + (cube ? "cube" : "2D") + " one");
    }
    return loadTexture(file, cube, at);
}

vref::ImageTexture* Loader::loadTexture(const std::string& file, bool cube, const Entry& at) const {
    std::string err;
    const std::string* bytes = inMemory(file);
    vref::ImageTexture* t = scene_.textures.load(bytes ? file : path(file), cube, &err, bytes);
    if (!t) fail(at, err);
    return t;
}

int Loader::material(const json& j, const Entry& where, const std::string& name) {
    checkKeys(j, where, {"class", "params"});
    std::string cls = text(j, where, "class");
    auto s = create(where, name, cls, pxs::kKindMaterial);
    if (j.contains("params")) setParams(*s, j.at("params"), where);
    return scene_.addMaterial(std::move(s));
}

// ---- sections ----

void Loader::textures(const json& j) {
    if (!j.is_object()) fail("textures", "expects an object of name: {\"file\": ...}");
    for (auto it = j.begin(); it != j.end(); ++it) {
        const Entry where = Entry("textures").name(it.key());
        const json& t = it.value();
        checkKeys(t, where, {"file", "cube"});
        std::string file = text(t, where, "file");
        bool cube = boolean(t, where, "cube", false);
        loadTexture(file, cube, where);
        textureFiles_[it.key()] = {file, cube};
    }
}

void Loader::materials(const json& j) {
    if (!j.is_object()) fail("materials", "expects an object of name: {\"class\": ...}");
    for (auto it = j.begin(); it != j.end(); ++it) {
        material(it.value(), Entry("materials").name(it.key()), it.key());
    }
}

// The mesh of an object's "type".
vref::Mesh Loader::shape(const json& o, const Entry& where) const {
    std::string type = text(o, where, "type");
    if (type == "sphere") {
        int seg = integer(o, where, "segments", 64, 1, vref::kMaxSegments);
        return vref::makeSphere(positive(o, where, "radius", 1.0f), std::max(8, seg),
                                std::max(4, seg / 2));
    }
    if (type == "plane") {
        float2 s = vec2(o, where, "size", float2(10.0f, 10.0f));
        if (!(s.x > 0.0f && s.y > 0.0f))
            fail(where.field("size"), "\"size\" must be greater than 0");
        return vref::makePlane(s.x, s.y);
    }
    if (type == "box") {
        float3 s = vec3(o, where, "size", float3(1.0f));
        if (!(s.x > 0.0f && s.y > 0.0f && s.z > 0.0f)) {
            fail(where.field("size"), "\"size\" must be greater than 0");
        }
        return vref::makeBox(s);
    }
    if (type == "disk") {
        return vref::makeDisk(
            positive(o, where, "radius", 1.0f),
            std::max(8, integer(o, where, "segments", 64, 1, vref::kMaxSegments)));
    }
    if (type == "mesh") return objMesh(text(o, where, "file"), where);
    fail(where.field("type"),
         "unknown object type \"" + type + "\" (sphere, plane, box, disk or mesh)");
}

// An OBJ file by the name the scene gives it: in memory, or on disk relative to
// the scene.
vref::Mesh Loader::objMesh(const std::string& file, const Entry& where) const {
    const Entry at = where.field("file");
    std::string text;
    std::string name = file;
    if (const std::string* bytes = inMemory(file)) {
        text = *bytes;
    } else {
        name = path(file);
        std::error_code ec;
        if (!std::filesystem::is_regular_file(name, ec)) fail(at, "mesh file not found: " + name);
        auto size = std::filesystem::file_size(name, ec);
        if (ec || size > static_cast<uintmax_t>(vref::kMaxMeshFileBytes)) {
            fail(at, "OBJ " + name + " is larger than " + std::to_string(vref::kMaxMeshFileBytes) +
                         " bytes");
        }
        std::ifstream in(name, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in && !in.eof()) fail(at, "cannot read OBJ " + name);
    }
    try {
        return vref::parseObj(text, name);
    } catch (const std::invalid_argument& e) {
        fail(at, e.what());
    }
}

vref::Affine Loader::transform(const json& o, const Entry& where) const {
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
    if (!std::isnormal(dot(a.r0, cross(a.r1, a.r2))) || !isFinite(inv.r0) || !isFinite(inv.r1) ||
        !isFinite(inv.r2) || !isFinite(inv.t)) {
        fail(where.field("scale"), "\"scale\" " + json{s.x, s.y, s.z}.dump() +
                                       " flattens the object or is too large or small to invert");
    }
    return a;
}

// An object's material: one of the scene's by name, or its own.
int Loader::objectMaterial(const json& o, const Entry& where) {
    if (!o.contains("material")) fail(where.field("material"), "missing \"material\"");
    const json& m = o.at("material");
    if (!m.is_string()) return material(m, where.key("material"), where.text());
    int mat = scene_.findMaterial(m.get<std::string>());
    if (mat < 0) {
        fail(where.field("material"), "unknown material \"" + m.get<std::string>() + "\"");
    }
    return mat;
}

void Loader::objects(const json& j) {
    if (!j.is_array()) fail("objects", "expects an array");
    for (size_t i = 0; i < j.size(); ++i) {
        const json& o = j[i];
        Entry where = Entry("objects").index(i);
        if (o.is_object() && o.contains("name") && o.at("name").is_string()) {
            where = where.labelled(o.at("name").get<std::string>());
        }
        checkKeys(o, where,
                  {"name", "type", "material", "translate", "rotate", "scale", "radius", "size",
                   "file", "segments"});
        vref::Mesh mesh = shape(o, where);
        int mat = objectMaterial(o, where);
        std::string name = o.contains("name") ? text(o, where, "name") : where.text();
        scene_.addObject(name, std::move(mesh), transform(o, where), mat);
    }
}

// A light of the host's own: point or spot, set by keys.
void Loader::hostLight(const json& l, const Entry& where, vref::Light& light) const {
    std::string type = l.contains("type") ? text(l, where, "type") : "point";
    if (type != "point" && type != "spot") {
        fail(where.field("type"), "unknown light type \"" + type + "\" (point or spot)");
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
    light.castShadows = boolean(l, where, "castShadows", light.castShadows);
}

void Loader::lights(const json& j) {
    if (!j.is_array()) fail("lights", "expects an array");
    for (size_t i = 0; i < j.size(); ++i) {
        const json& l = j[i];
        const Entry where = Entry("lights").index(i);
        // A light shader takes its settings as params, a host light as keys.
        if (l.is_object() && l.contains("class")) {
            checkKeys(l, where, {"name", "class", "params", "position", "target"});
        } else {
            checkKeys(l, where,
                      {"name", "type", "position", "target", "color", "intensity", "cosOuter",
                       "cosInner", "castShadows"});
        }
        vref::Light light;
        light.name = l.contains("name") ? text(l, where, "name") : where.text();
        light.position = vec3(l, where, "position", light.position);
        float3 target = vec3(l, where, "target", light.position + float3(0, 0, -1));
        light.axis = vref::normalize(target - light.position);
        if (vref::isZero(light.axis)) fail(where.field("target"), "\"target\" equals \"position\"");
        if (l.contains("class")) {
            auto s = create(where, light.name, text(l, where, "class"), pxs::kKindLight);
            if (l.contains("params")) setParams(*s, l.at("params"), where);
            light.shader = scene_.addShader(std::move(s));
        } else {
            hostLight(l, where, light);
        }
        scene_.lights.push_back(light);
    }
}

void Loader::environment(const json& j) {
    checkKeys(j, "environment", {"class", "params"});
    auto s = create("environment", "environment", text(j, "environment", "class"),
                    pxs::kKindEnvironment);
    if (j.contains("params")) setParams(*s, j.at("params"), "environment");
    scene_.environment = scene_.addShader(std::move(s));
}

void Loader::camera(const json& j) {
    checkKeys(j, "camera", {"position", "target", "up", "fov"});
    vref::Camera& c = scene_.camera;
    c.position = vec3(j, "camera", "position", c.position);
    c.target = vec3(j, "camera", "target", c.target);
    c.up = vec3(j, "camera", "up", c.up);
    c.fovY = number(j, "camera", "fov", c.fovY);
    std::string bad = vref::validate(c);
    if (!bad.empty()) fail("camera", bad);
}

// ---- render settings ----

// Reads one key of a "render" block (or of the overrides) into `settings`.
class SettingsReader {
  public:
    SettingsReader(const std::string& where, vref::RenderSettings& settings)
        : where_(where), settings_(settings) {}

    [[noreturn]] void fail(const std::string& key, const std::string& what) const {
        std::vector<std::string> path = {"render"};
        if (!key.empty()) path.push_back(key);
        throw SceneError(where_ + ": " + what, path, what);
    }

    void read(const std::string& k, const json& v) {
        if (k == "aoDistance") {
            settings_.aoDistance = positive(k, v);
        } else if (k == "clamp") {
            settings_.clampValue = positive(k, v);
        } else if (k == "mode") {
            std::string m = v.is_string() ? v.get<std::string>() : "";
            if (m != "direct" && m != "path") fail(k, "\"mode\" expects \"direct\" or \"path\"");
            settings_.mode = m == "path" ? vref::Mode::Path : vref::Mode::Direct;
        } else if (const vref::SettingRange* range = vref::settingRange(k)) {
            range->set(settings_, integer(*range, v));
        } else {
            fail(k, "unknown key \"" + k + "\"");
        }
    }

  private:
    int64_t integer(const vref::SettingRange& range, const json& v) const {
        bool ok =
            v.is_number_integer() &&
            (v.is_number_unsigned() ? v.get<uint64_t>() <= static_cast<uint64_t>(range.hi)
                                    : v.get<int64_t>() >= range.lo && v.get<int64_t>() <= range.hi);
        if (!ok) {
            fail(range.key, "\"" + std::string(range.key) + "\" expects an integer in [" +
                                std::to_string(range.lo) + ", " + std::to_string(range.hi) + "]" +
                                (v.is_number() ? ", not " + v.dump() : ""));
        }
        return v.get<int64_t>();
    }

    float positive(const std::string& k, const json& v) const {
        if (!v.is_number() || !(v.get<double>() >= 0.0) ||
            v.get<double>() > std::numeric_limits<float>::max()) {
            fail(k, "\"" + k + "\" expects a number >= 0 within the float range");
        }
        return v.get<float>();
    }

    const std::string& where_;
    vref::RenderSettings& settings_;
};

}  // namespace

void applyRenderSettings(const json& r, const std::string& where, vref::RenderSettings& settings) {
    SettingsReader reader(where, settings);
    if (!r.is_object()) reader.fail("", "expects an object");
    for (auto it = r.begin(); it != r.end(); ++it) reader.read(it.key(), it.value());
    // What no single value shows: the image's pixels, the work of a gather.
    std::string bad = vref::validate(settings);
    if (!bad.empty()) reader.fail("", bad);
}

void checkFrames(const json& doc, const Frames& f, const std::string& sceneName,
                 const std::string& baseDir, const vhost::Library& library, const FileSet* files) {
    json camera = doc.contains("camera") ? doc.at("camera") : json::object();
    if (f.orbit && !camera.is_object()) return;  // the first frame's load refuses it
    vref::Scene scratch;
    Loader l(sceneName, baseDir, library, scratch, files);
    const json* material = f.values.empty() ? nullptr : &wedgeMaterial(l, doc, f);
    const Entry wedge("wedge");
    std::unique_ptr<vref::ShaderInstance> shader;
    if (material) {
        shader = l.create(wedge, "wedge", l.text(*material, wedge, "class"), pxs::kKindMaterial);
        const vref::Parameter* p = shader->registry.find(f.parameter);
        // Texture names may refer to the scene's textures.
        if (p && pxs::isTextureType(p->type) && doc.contains("textures")) {
            l.textures(doc.at("textures"));
        }
    }
    for (int frame = 1; frame < f.count; ++frame) {
        l.setName(sceneName + ": frame " + std::to_string(frame));
        if (f.orbit) {
            placeOrbitCamera(camera, f, frame);
            l.camera(camera);
        }
        if (material) {
            l.setParams(*shader, json{{f.parameter, f.values[static_cast<size_t>(frame)]}}, wedge);
        }
    }
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
    l.checkKeys(doc, Entry::document(),
                {"camera", "render", "ambient", "background", "textures", "materials", "objects",
                 "lights", "environment"});
    if (doc.contains("render"))
        applyRenderSettings(doc.at("render"), sceneName + ": render", settings);
    if (doc.contains("camera")) l.camera(doc.at("camera"));
    scene.ambient = l.vec3(doc, Entry::document(), "ambient", scene.ambient);
    scene.background = l.vec3(doc, Entry::document(), "background", scene.background);
    if (doc.contains("textures")) l.textures(doc.at("textures"));
    if (doc.contains("materials")) l.materials(doc.at("materials"));
    if (doc.contains("objects")) l.objects(doc.at("objects"));
    if (doc.contains("lights")) l.lights(doc.at("lights"));
    if (doc.contains("environment")) l.environment(doc.at("environment"));
    scene.commit();
}

json readSceneDocument(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) throw SceneError(path, "is a directory");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw SceneError(path, "cannot open the scene file");
    std::string text;
    text.resize(static_cast<size_t>(vref::kMaxSceneFileBytes) + 1);
    in.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    if (text.size() > static_cast<size_t>(vref::kMaxSceneFileBytes)) {
        throw SceneError(path,
                         "larger than " + std::to_string(vref::kMaxSceneFileBytes) + " bytes");
    }
    try {
        return vhost::readJson(text);
    } catch (const vhost::JsonError& e) {
        throw SceneError(path, e.what());
    }
}

void loadSceneFile(const std::string& path, const vhost::Library& library, vref::Scene& scene,
                   vref::RenderSettings& settings) {
    loadScene(readSceneDocument(path), path, std::filesystem::path(path).parent_path().string(),
              library, scene, settings);
}

}  // namespace vrender
