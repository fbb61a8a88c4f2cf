// The frames of a scene: its "animation" (an orbiting camera) and "wedge" (a
// parameter stepped per frame) blocks.
#include <cmath>

#include "host/reference/limits.h"
#include "host/reference/scene_loader.h"
#include "host/reference/scene_reader.h"

namespace vrender {

using nlohmann::json;
using vref::float2;
using vref::float3;

namespace {

void readOrbit(const Reader& r, const json& a, Frames& f) {
    r.checkKeys(a, "animation", {"frames", "orbit"});
    if (!a.contains("frames") || !a.contains("orbit")) {
        r.fail("animation", "expects \"frames\" and \"orbit\"");
    }
    f.count = r.integer(a, "animation", "frames", 1, 1, vref::kMaxFrames);
    const json& o = a.at("orbit");
    const Entry at = Entry("animation").key("orbit");
    r.checkKeys(o, at, {"center", "radius", "height", "startAngle"});
    if (!o.contains("radius")) r.fail(at.field("radius"), "missing \"radius\"");
    f.orbit = true;
    f.center = r.vec3(o, at, "center", float3());
    f.radius = r.positive(o, at, "radius", 1.0f);
    f.height = r.number(o, at, "height", 0.0f);
    f.startAngle = r.number(o, at, "startAngle", f.startAngle);
}

// A wedge's values as listed: of one kind, so that the first frame's load checks
// them all.
void readValues(const Reader& r, const json& v, Frames& f) {
    const Entry at = Entry("wedge").field("values");
    if (!v.is_array() || v.empty() || v.size() > static_cast<size_t>(vref::kMaxFrames)) {
        r.fail(at, "\"values\" expects an array of between 1 and " +
                       std::to_string(vref::kMaxFrames) + " values");
    }
    auto kind = [](const json& e) { return e.is_number() ? 0 : static_cast<int>(e.type()) + 1; };
    for (size_t i = 1; i < v.size(); ++i) {
        if (kind(v[i]) != kind(v[0]) || (v[0].is_array() && v[i].size() != v[0].size())) {
            r.fail(at.field(std::to_string(i)),
                   "\"values\"[" + std::to_string(i) + "] " + v[i].dump() +
                       " is not of the kind of \"values\"[0] " + v[0].dump());
        }
    }
    f.values.assign(v.begin(), v.end());
}

// A wedge's values as a range stepped evenly over `count` frames.
void readRange(const Reader& r, const json& w, Frames& f) {
    const json& range = w.at("range");
    if (!range.is_array() || range.size() != 2) {
        r.fail(Entry("wedge").field("range"), "\"range\" expects [first, last]");
    }
    float2 ends = r.vec2(w, "wedge", "range", float2());
    int count = r.integer(w, "wedge", "count", 1, 1, vref::kMaxFrames);
    for (int i = 0; i < count; ++i) {
        double t = count > 1 ? static_cast<double>(i) / (count - 1) : 0.0;
        f.values.push_back(ends.x + (static_cast<double>(ends.y) - ends.x) * t);
    }
}

const json* namedObject(const json& doc, const std::string& name) {
    if (!doc.contains("objects") || !doc.at("objects").is_array()) return nullptr;
    for (const json& o : doc.at("objects")) {
        if (o.is_object() && o.contains("name") && o.at("name") == name) return &o;
    }
    return nullptr;
}

// An object's material, given in place or by name; null when there is none.
const json* materialOf(const json& doc, const json& object) {
    const json* m = object.contains("material") ? &object.at("material") : nullptr;
    if (m && m->is_string()) {
        const std::string& name = m->get_ref<const std::string&>();
        bool known = doc.contains("materials") && doc.at("materials").is_object() &&
                     doc.at("materials").contains(name) && doc.at("materials").at(name).is_object();
        m = known ? &doc.at("materials").at(name) : nullptr;
    }
    return m;
}

void readWedge(const Reader& r, const json& doc, Frames& f) {
    const json& w = doc.at("wedge");
    r.checkKeys(w, "wedge", {"object", "parameter", "values", "range", "count"});
    f.object = r.text(w, "wedge", "object");
    f.parameter = r.text(w, "wedge", "parameter");
    if (w.contains("values") == w.contains("range") ||
        w.contains("values") == w.contains("count")) {
        r.fail("wedge", "expects \"values\", or \"range\" with \"count\"");
    }
    if (w.contains("values")) {
        readValues(r, w.at("values"), f);
    } else {
        readRange(r, w, f);
    }
    f.count = static_cast<int>(f.values.size());
    // The object and, when it names one, its material must be there.
    const json* target = namedObject(doc, f.object);
    if (!target) r.fail(Entry("wedge").field("object"), "no object named \"" + f.object + "\"");
    const json* m = materialOf(doc, *target);
    if (!m || !m->is_object() || (m->contains("params") && !m->at("params").is_object())) {
        r.fail(Entry("wedge").field("object"),
               "object \"" + f.object + "\" has no material with parameters to set");
    }
}

}  // namespace

Frames readFrames(const json& doc, const std::string& sceneName) {
    Reader r(sceneName);
    Frames f;
    if (!doc.is_object()) return f;
    bool animation = doc.contains("animation"), wedge = doc.contains("wedge");
    if (animation && wedge) {
        r.fail(Entry::document(), "\"animation\" and \"wedge\" cannot be combined");
    }
    if (animation) readOrbit(r, doc.at("animation"), f);
    if (wedge) readWedge(r, doc, f);
    return f;
}

void placeOrbitCamera(json& camera, const Frames& f, int frame) {
    double a = (f.startAngle + 360.0 * frame / f.count) * M_PI / 180.0;
    camera["position"] = {f.center.x + f.radius * std::cos(a), f.center.y + f.radius * std::sin(a),
                          static_cast<double>(f.center.z) + f.height};
    camera["target"] = {f.center.x, f.center.y, f.center.z};
}

const json& wedgeMaterial(const Reader& r, const json& doc, const Frames& f) {
    for (const json& o : doc.at("objects")) {
        if (!o.is_object() || !o.contains("name") || o.at("name") != f.object) continue;
        const json& m = o.at("material");
        return m.is_string() ? doc.at("materials").at(m.get<std::string>()) : m;
    }
    r.fail(Entry("wedge").field("object"), "no object named \"" + f.object + "\"");
}

json frameDocument(const json& doc, const Frames& f, int frame) {
    if (!doc.is_object()) return doc;  // for the loader to refuse
    json out = doc;
    out.erase("animation");
    out.erase("wedge");
    if (f.orbit) {
        json& camera = out["camera"];
        if (camera.is_null()) camera = json::object();
        // Anything else is left for the loader to refuse.
        if (camera.is_object()) placeOrbitCamera(camera, f, frame);
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

}  // namespace vrender
