#include "host/studio/studio.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <filesystem>

#include "host/class_info.h"
#include "host/json_reader.h"
#include "host/parameter_usage.h"
#include "host/reference/lobe.h"
#include "host/reference/renderer.h"
#include "host/reference/scene_loader.h"

namespace vstudio {

using nlohmann::json;

namespace {

[[noreturn]] void reject(const std::string& field, const std::string& message, int status = 400) {
    throw RequestError{status, field, message};
}

Response jsonResponse(int status, const json& j) {
    Response r;
    r.status = status;
    // A path or name echoed in a message may hold bytes that are not UTF-8.
    r.body = j.dump(2, ' ', false, json::error_handler_t::replace);
    return r;
}

Response errorResponse(const RequestError& e) {
    json j = {{"error", e.field.empty() ? e.message : e.field + ": " + e.message}};
    if (!e.field.empty()) j["field"] = e.field;
    if (!e.limit.empty()) j["limit"] = e.limit;
    Response r = jsonResponse(e.status, j);
    if (e.retryAfter > 0) r.headers["Retry-After"] = std::to_string(e.retryAfter);
    return r;
}

// The class as `vesper-info --json` describes it, plus its preset.
json describe(const vhost::ClassInfo& info) {
    json j = vhost::toJson(info);
    j["preset"] = vrender::presetParams(info);
    return j;
}

int integer(const json& body, const char* key, int fallback, int lo, int hi) {
    if (!body.contains(key)) return fallback;
    const json& v = body.at(key);
    if (!v.is_number_integer() || v.get<int64_t>() < lo || v.get<int64_t>() > hi) {
        reject(key, "expects an integer from " + std::to_string(lo) + " to " + std::to_string(hi));
    }
    return v.get<int>();
}

std::string choice(const json& body, const char* key, const std::string& fallback,
                   std::initializer_list<const char*> allowed) {
    if (!body.contains(key)) return fallback;
    const json& v = body.at(key);
    std::string list;
    for (const char* a : allowed) {
        if (v.is_string() && v.get<std::string>() == a) return a;
        list += (list.empty() ? "\"" : ", \"") + std::string(a) + "\"";
    }
    reject(key, "expects one of " + list);
}

// Numbers a float field can hold: finite, within the float range.
void checkFinite(const json& v, const std::string& field, int depth = 0) {
    if (depth > 2) reject(field, "is nested too deeply");
    if (v.is_number_float()) {
        double d = v.get<double>();
        if (!std::isfinite(d)) reject(field, "is not a finite number");
        if (std::fabs(d) > FLT_MAX)
            reject(field, "is out of the float range (at most ±3.4028235e38)");
    } else if (v.is_array()) {
        for (size_t i = 0; i < v.size(); ++i) {
            checkFinite(v[i], field + "[" + std::to_string(i) + "]", depth + 1);
        }
    }
}

bool fileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

// A parameter's entry in the preview's scene ends in params/<name>; the request
// knows it as params.<name>.
RequestError fromSceneError(const vrender::SceneError& e) {
    const std::vector<std::string>& path = e.path();
    size_t n = path.size();
    if (n < 2 || path[n - 2] != "params") return {400, "", e.what()};
    return {400, "params." + path[n - 1], e.message()};
}

}  // namespace

struct Studio::Preview {
    vrender::PreviewRequest request;
    const vhost::ClassInfo* info = nullptr;
    double incidence = 45.0;
    int samples = 20000;
};

Studio::Studio(const vhost::Library& library, std::string assetDir, Limits limits)
    : lib_(library),
      assetDir_(std::move(assetDir)),
      limits_(limits),
      gate_(limits.runningRenders, limits.queuedRenders) {
    vrender::writePreviewAssets(assetDir_);
    classesJson_ = {{"library", lib_.path()},
                    {"classes", json::array()},
                    {"textures", vrender::builtinTextures()},
                    {"cubes", vrender::builtinCubes()},
                    {"environments", {"sky", "studio", "none"}},
                    {"limits",
                     {{"width", limits_.maxWidth},
                      {"height", limits_.maxHeight},
                      {"spp", limits_.maxSpp},
                      {"pixelSamples", limits_.maxPixelSamples},
                      {"lobeSamples", limits_.maxLobeSamples},
                      {"incidence", limits_.maxIncidence}}}};
    for (const std::string& name : lib_.classes()) {
        vhost::ClassInfo info = vhost::describeClass(lib_, name);
        if (info.kind < 0 || info.kind > 2) continue;
        vhost::probeUsage(lib_, info);
        classesJson_["classes"].push_back(describe(info));
        info_[name] = std::move(info);
    }
}

namespace {

// A JSON object with only the fields of its request kind.
void checkFields(const json& body, bool lobe) {
    if (!body.is_object()) reject("body", "expects a JSON object");
    static const std::vector<std::string> kRender = {
        "class", "params", "width", "height", "spp", "mode", "seed", "preview", "environment"};
    static const std::vector<std::string> kLobe = {"class", "params", "incidence", "samples",
                                                   "seed"};
    const auto& allowed = lobe ? kLobe : kRender;
    for (auto it = body.begin(); it != body.end(); ++it) {
        if (std::find(allowed.begin(), allowed.end(), it.key()) == allowed.end()) {
            reject(it.key(), "unknown field");
        }
    }
}

// The class named by the request; a lobe needs a material with both BSDF operations.
const vhost::ClassInfo& requestedClass(const std::map<std::string, vhost::ClassInfo>& classes,
                                       const json& body, bool lobe) {
    if (!body.contains("class") || !body.at("class").is_string()) {
        reject("class", "expects the name of an exported class");
    }
    const std::string name = body.at("class").get<std::string>();
    auto found = classes.find(name);
    if (found == classes.end()) reject("class", "unknown class \"" + name + "\"");
    const vhost::ClassInfo& info = found->second;
    if (lobe && info.kind != pxs::kKindMaterial) {
        reject("class", "\"" + name + "\" is a " + vhost::kindName(info.kind) +
                            ": only materials have a lobe");
    }
    if (lobe && (!(info.capabilities & pxs::kCapEvaluateBsdf) ||
                 !(info.capabilities & pxs::kCapSampleBsdf))) {
        reject("class", "\"" + name + "\" does not announce evaluateBsdf and sampleBsdf");
    }
    return info;
}

// Parameters the class has, with finite numbers and images that exist; the scene
// loader checks the values against the types.
void checkParams(const json& params, const vhost::ClassInfo& info) {
    if (!params.is_object()) reject("params", "expects an object of parameter: value");
    for (auto it = params.begin(); it != params.end(); ++it) {
        std::string field = "params." + it.key();
        const pxs::ParamType* type = info.type(it.key());
        if (!type) reject(field, "class \"" + info.name + "\" has no such parameter");
        checkFinite(it.value(), field);
        if (!pxs::isTextureType(*type) || !it.value().is_string()) continue;
        std::string ref = it.value().get<std::string>();
        bool builtin = *type == pxs::ParamType::TextureCube ? vrender::isBuiltinCube(ref)
                                                            : vrender::isBuiltinTexture(ref);
        if (!builtin && !fileExists(ref)) reject(field, "image file not found: " + ref, 404);
    }
}

double incidence(const json& body, double fallback, double maxDegrees) {
    if (!body.contains("incidence")) return fallback;
    const json& v = body.at("incidence");
    if (!v.is_number() || !(v.get<double>() >= 0.0) || !(v.get<double>() <= maxDegrees)) {
        reject("incidence", "expects degrees from 0 to " + json(maxDegrees).dump());
    }
    return v.get<double>();
}

std::string environment(const json& body, const std::string& fallback) {
    if (!body.contains("environment")) return fallback;
    const json& e = body.at("environment");
    if (!e.is_string() || e.get<std::string>().empty()) {
        reject("environment", "expects \"sky\", \"studio\", \"none\" or a cube-map image file");
    }
    std::string env = e.get<std::string>();
    if (env != "none" && !vrender::isBuiltinCube(env) && !fileExists(env)) {
        reject("environment", "image file not found: " + env, 404);
    }
    return env;
}

// The image fields of a render or scene request.
void readImage(const json& body, const Limits& limits, vrender::PreviewRequest& r) {
    r.width = integer(body, "width", 320, 1, limits.maxWidth);
    r.height = integer(body, "height", 240, 1, limits.maxHeight);
    r.spp = integer(body, "spp", 1, 1, limits.maxSpp);
    if (int64_t(r.width) * r.height * r.spp > limits.maxPixelSamples) {
        reject("spp", "width x height x spp exceeds " + std::to_string(limits.maxPixelSamples));
    }
    r.pathMode = choice(body, "mode", "direct", {"direct", "path"}) == "path";
    std::string shape = choice(body, "preview", "sphere", {"sphere", "shaderball", "plane"});
    r.shape = shape == "shaderball" ? vrender::PreviewShape::ShaderBall
              : shape == "plane"    ? vrender::PreviewShape::Plane
                                    : vrender::PreviewShape::Sphere;
    r.environment = environment(body, r.environment);
}

}  // namespace

Studio::Preview Studio::parsePreview(const json& body, bool lobe) const {
    checkFields(body, lobe);
    Preview p;
    p.info = &requestedClass(info_, body, lobe);
    vrender::PreviewRequest& r = p.request;
    r.className = p.info->name;
    if (body.contains("params")) {
        checkParams(body.at("params"), *p.info);
        r.params = body.at("params");
    }
    r.seed = static_cast<uint32_t>(integer(body, "seed", 1, 0, 2147483647));
    if (lobe) {
        p.incidence = incidence(body, p.incidence, limits_.maxIncidence);
        p.samples = integer(body, "samples", p.samples, 1, limits_.maxLobeSamples);
    } else {
        readImage(body, limits_, r);
    }
    return p;
}

void Studio::begin(const std::string& client, const std::shared_ptr<Cancel>& cancel) {
    std::lock_guard<std::mutex> lock(running_);
    if (stopping_) cancel->set(Cancel::kStopping);
    active_.insert(cancel.get());
    if (client.empty()) return;
    auto& slot = byClient_[client];
    if (slot) slot->set(Cancel::kNewerRequest);
    slot = cancel;
}

bool Studio::running(const std::string& client) {
    std::lock_guard<std::mutex> lock(running_);
    return byClient_.count(client) != 0;
}

void Studio::end(const std::string& client, const std::shared_ptr<Cancel>& cancel) {
    std::lock_guard<std::mutex> lock(running_);
    active_.erase(cancel.get());
    auto it = byClient_.find(client);
    if (it != byClient_.end() && it->second == cancel) byClient_.erase(it);
}

void Studio::stop() {
    std::lock_guard<std::mutex> lock(running_);
    stopping_ = true;
    for (Cancel* c : active_) c->set(Cancel::kStopping);
}

namespace {

RequestError cancelled(const Cancel& cancel) {
    switch (cancel.reason()) {
        case Cancel::kStopping:
            return {503, "", "the studio is stopping"};
        case Cancel::kHungUp:
            return {409, "", "cancelled: the client hung up"};
        default:
            return {409, "", "cancelled by a newer request of the same client"};
    }
}

RequestError busy(const Limits& l) {
    RequestError e{503, "",
                   "busy: " + std::to_string(l.runningRenders) + " requests rendering and " +
                       std::to_string(l.queuedRenders) +
                       " waiting, as many as the studio takes (limits runningRenders and "
                       "queuedRenders); retry after 1 s"};
    e.limit = "queuedRenders";
    e.retryAfter = 1;
    return e;
}

}  // namespace

// A request's cancel, registered under its client while it works (a newer
// request of the client cancels it), and its place at the gate.
struct Studio::Running {
    Studio* studio;
    const std::string& client;
    std::shared_ptr<Cancel> cancel;
    bool registered = false, admitted = false;

    Running(Studio* s, const std::string& c, std::shared_ptr<Cancel> given)
        : studio(s), client(c), cancel(given ? std::move(given) : std::make_shared<Cancel>()) {}
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;
    ~Running() {
        if (admitted) {
            if (stopped()) ++studio->cancelled_;
            studio->gate_.leave();
        }
        if (registered) studio->end(client, cancel);
    }

    // Once the request is found valid: waits for a place, or is refused.
    void admit() {
        studio->begin(client, cancel);
        registered = true;
        switch (studio->gate_.enter(cancel->flag())) {
            case RenderGate::Entry::Admitted:
                break;
            case RenderGate::Entry::Cancelled:
                throw cancelled(*cancel);
            case RenderGate::Entry::Full:
                throw busy(studio->limits_);
        }
        admitted = true;
        ++studio->started_;
    }
    const std::atomic<bool>* flag() const { return &cancel->flag(); }
    bool stopped() const { return cancel->flag().load(); }
};

json Studio::document(const Preview& p) const {
    return vrender::previewScene(lib_, *p.info, p.request, assetDir_);
}

void Studio::load(const json& doc, vref::Scene& scene, vref::RenderSettings& settings) const {
    try {
        vrender::loadScene(doc, "preview", "", lib_, scene, settings);
    } catch (const vrender::SceneError& e) {
        throw fromSceneError(e);
    }
}

Response Studio::render(const json& body, Running& run) {
    Preview p = parsePreview(body, false);
    run.admit();
    json doc = document(p);
    std::unique_ptr<SceneCache::Entry> kept = previews_.take(doc);
    if (!kept) {
        kept = std::make_unique<SceneCache::Entry>();
        kept->doc = doc;
        load(doc, kept->scene, kept->settings);
    }
    vref::RenderResult result = vref::render(kept->scene, kept->settings, {}, run.flag());
    const int spp = kept->settings.spp;
    previews_.keep(std::move(kept));
    if (result.cancelled) throw cancelled(*run.cancel);
    std::vector<unsigned char> png;
    std::string err = vref::encodePng(result.image, &png);
    if (!err.empty()) reject("", err, 500);
    Response r;
    r.contentType = "image/png";
    r.body.assign(png.begin(), png.end());
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", result.seconds);
    r.headers["X-Render-Seconds"] = seconds;
    r.headers["X-Render-Spp"] = std::to_string(spp);
    return r;
}

Response Studio::scene(const json& body, Running& run) {
    Preview p = parsePreview(body, false);
    run.admit();
    json doc = document(p);
    // Loaded once here so that a document the loader refuses is never handed out.
    vref::Scene scene;
    vref::RenderSettings settings;
    load(doc, scene, settings);
    return jsonResponse(200, doc);
}

Response Studio::lobe(const json& body, Running& run) {
    Preview p = parsePreview(body, true);
    run.admit();
    vref::Scene scene;
    vref::RenderSettings settings;
    load(document(p), scene, settings);
    json out = vref::computeLobe(scene, settings, p.incidence, p.samples, run.flag());
    if (run.stopped()) throw cancelled(*run.cancel);
    out["class"] = p.request.className;
    return jsonResponse(200, out);
}

namespace {

// The object of the class the preview shows: the subject's material, light or
// environment.
const vref::ShaderInstance* subject(const vref::Scene& scene, int32_t kind) {
    if (kind == pxs::kKindEnvironment) return scene.environment;
    if (kind == pxs::kKindMaterial) {
        int i = scene.findMaterial("subject");
        return i >= 0 ? &scene.material(i) : nullptr;
    }
    for (const vref::Light& l : scene.lights) {
        if (l.name == "subject") return l.shader;
    }
    return nullptr;
}

}  // namespace

// The probe at the preview's values, with the lights this host sends.
Response Studio::usage(const json& body, Running& run) {
    Preview p = parsePreview(body, false);
    run.admit();
    vref::Scene scene;
    vref::RenderSettings settings;
    load(document(p), scene, settings);
    const vref::ShaderInstance* s = subject(scene, p.info->kind);
    std::vector<uint32_t> used = s ? vhost::probeParameterUsageAt(lib_, p.info->name, s->object,
                                                                  vhost::ProbeLights::TintedOnly)
                                   : std::vector<uint32_t>{};
    if (used.size() != p.info->parameters.size()) reject("class", "cannot be probed", 500);
    json out = {{"class", p.info->name}, {"parameters", json::object()}};
    for (size_t i = 0; i < used.size(); ++i) {
        out["parameters"][p.info->parameters[i].name] = vhost::operationNames(used[i]);
    }
    return jsonResponse(200, out);
}

Response Studio::handle(const std::string& method, const std::string& path, const std::string& body,
                        const std::string& client, std::shared_ptr<Cancel> cancel) {
    try {
        if (path == "/api/classes") {
            if (method != "GET") reject("", "use GET", 405);
            return jsonResponse(200, classesJson_);
        }
        bool render = path == "/api/render", scene = path == "/api/scene",
             lobe = path == "/api/lobe", usage = path == "/api/usage";
        if (!render && !scene && !lobe && !usage) reject("", "no such endpoint: " + path, 404);
        if (method != "POST") reject("", "use POST", 405);
        json j;
        try {
            j = vhost::readJson(body);
        } catch (const vhost::JsonError& e) {
            reject("body", e.what());
        }
        Running run(this, client, std::move(cancel));
        if (render) return this->render(j, run);
        if (scene) return this->scene(j, run);
        if (usage) return this->usage(j, run);
        return this->lobe(j, run);
    } catch (const RequestError& e) {
        return errorResponse(e);
    } catch (const std::exception& e) {
        return errorResponse({500, "", e.what()});
    }
}

}  // namespace vstudio
