#include "host/studio/scene_cache.h"

#include <cfloat>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "host/reference/scene_loader.h"

namespace vstudio {

using nlohmann::json;

namespace {

// The reference tokens of a JSON pointer ("/a/b~1c" -> a, b/c).
std::vector<std::string> tokens(const std::string& pointer) {
    std::vector<std::string> out;
    for (size_t at = 1; at <= pointer.size();) {
        size_t end = pointer.find('/', at);
        if (end == std::string::npos) end = pointer.size();
        std::string t = pointer.substr(at, end - at);
        for (size_t k = 0; (k = t.find('~', k)) != std::string::npos; ++k) {
            t.replace(k, 2, k + 1 < t.size() && t[k + 1] == '1' ? "/" : "~");
        }
        out.push_back(t);
        at = end + 1;
    }
    return out;
}

// The shader whose "params" a document path lies in (materials.<name>.params,
// lights[i].params, environment.params), and the number of tokens up to and
// including the parameter's name; null for any other path.
const vref::ShaderInstance* owner(const std::vector<std::string>& t, const vref::Scene& scene,
                                  size_t* length) {
    if (t.size() >= 4 && t[0] == "materials" && t[2] == "params") {
        int m = scene.findMaterial(t[1]);
        *length = 4;
        return m < 0 ? nullptr : &scene.material(m);
    }
    if (t.size() >= 4 && t[0] == "lights" && t[2] == "params" && !t[1].empty() &&
        t[1].find_first_not_of("0123456789") == std::string::npos && t[1].size() < 6) {
        size_t i = std::stoul(t[1]);
        *length = 4;
        return i < scene.lights.size() ? scene.lights[i].shader : nullptr;
    }
    if (t.size() >= 3 && t[0] == "environment" && t[1] == "params") {
        *length = 3;
        return scene.environment;
    }
    return nullptr;
}

bool isFloat(const json& v) {
    return v.is_number() && std::fabs(v.get<double>()) <= FLT_MAX;
}

// A parameter value as the scene loader reads it, for the kinds of values the
// cache sets in place; false for the others (textures), which load anew.
bool paramValue(const json& v, vref::ParamValue* out) {
    if (v.is_boolean()) {
        *out = vref::ParamValue::ofBool(v.get<bool>());
        return true;
    }
    if (isFloat(v)) {
        *out = vref::ParamValue::ofNumber(v.get<double>());
        return true;
    }
    if (!v.is_array()) return false;
    std::vector<float> numbers;
    for (const json& e : v) {
        if (!isFloat(e)) return false;
        numbers.push_back(e.get<float>());
    }
    *out = vref::ParamValue::ofNumbers(std::move(numbers));
    return true;
}

// The first `count` tokens of a JSON pointer, as a pointer.
std::string prefix(const std::string& pointer, size_t count) {
    size_t at = 0;
    for (size_t k = 0; k < count && at != std::string::npos; ++k) at = pointer.find('/', at + 1);
    return at == std::string::npos ? pointer : pointer.substr(0, at);
}

// The render settings a kept scene takes in place: nothing loaded depends on them
// (the camera's aspect is the renderer's, the environment map is keyed by what it
// is made of).
constexpr const char* kRenderSettings[] = {"/render/spp", "/render/seed", "/render/width",
                                           "/render/height", "/render/mode"};

bool isRenderSetting(const std::string& path) {
    for (const char* p : kRenderSettings) {
        if (path == p) return true;
    }
    return false;
}

// Reads the document's render block as a load reads it; false when it is refused
// (the entry is then dropped and loading anew reports why).
bool readRenderSettings(const json& doc, vref::RenderSettings* settings) {
    try {
        vrender::applyRenderSettings(doc.at("render"), "render", *settings);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

// Sets the parameters and settings in which `doc` differs from the entry's
// document; false when it differs in anything else, or a value does not fit.
bool update(SceneCache::Entry& e, const json& doc) {
    // Parameter pointer -> its shader and name.
    std::map<std::string, std::pair<const vref::ShaderInstance*, std::string>> changed;
    for (const json& op : json::diff(e.doc, doc)) {
        std::string path = op.at("path").get<std::string>();
        if (isRenderSetting(path) && op.at("op") == "replace") continue;
        std::vector<std::string> t = tokens(path);
        size_t length = 0;
        const vref::ShaderInstance* s = owner(t, e.scene, &length);
        // A parameter added or left out (back to its default) takes a new scene.
        if (!s || (t.size() == length && op.at("op") != "replace")) return false;
        changed[prefix(path, length)] = {s, t[length - 1]};
    }
    for (const auto& [pointer, param] : changed) {
        vref::ParamValue value;
        if (!paramValue(doc.at(json::json_pointer(pointer)), &value) ||
            !param.first->registry.set(param.second, value).empty()) {
            return false;
        }
    }
    if (!readRenderSettings(doc, &e.settings)) return false;
    e.doc = doc;
    return true;
}

}  // namespace

std::unique_ptr<SceneCache::Entry> SceneCache::take(const json& doc) {
    std::unique_ptr<Entry> e;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        e = std::move(kept_);
    }
    if (!e || !update(*e, doc)) return nullptr;
    return e;
}

void SceneCache::keep(std::unique_ptr<Entry> entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    kept_ = std::move(entry);
}

}  // namespace vstudio
