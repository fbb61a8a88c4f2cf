#include "host/reference/scene_reader.h"

#include <cmath>
#include <limits>

namespace vrender {

using nlohmann::json;
using vref::float2;
using vref::float3;

Entry Entry::document() {
    Entry e;
    e.text_ = "scene";
    return e;
}

Entry Entry::key(const std::string& k) const {
    Entry e = *this;
    e.text_ += "." + k;
    e.path_.push_back(k);
    return e;
}

Entry Entry::name(const std::string& n) const {
    Entry e = *this;
    e.text_ += ".\"" + n + "\"";
    e.path_.push_back(n);
    return e;
}

Entry Entry::index(size_t i) const {
    Entry e = *this;
    e.text_ += "[" + std::to_string(i) + "]";
    e.path_.push_back(std::to_string(i));
    return e;
}

Entry Entry::labelled(const std::string& label) const {
    Entry e = *this;
    e.text_ += " (\"" + label + "\")";
    return e;
}

Entry Entry::field(const std::string& k) const {
    Entry e = *this;
    e.path_.push_back(k);
    return e;
}

void Reader::fail(const Entry& where, const std::string& what) const {
    throw SceneError(name_ + ": " + where.text() + ": " + what, where.path(), what);
}

float Reader::toFloat(const json& v, const Entry& where, const char* key) const {
    double d = v.get<double>();
    if (!(std::fabs(d) <= std::numeric_limits<float>::max())) {
        fail(where,
             std::string("\"") + key + "\" holds " + v.dump() + ", beyond the range of a float");
    }
    return static_cast<float>(d);
}

void Reader::checkKeys(const json& j, const Entry& where,
                       std::initializer_list<const char*> allowed) const {
    if (!j.is_object()) fail(where, "expects an object");
    for (auto it = j.begin(); it != j.end(); ++it) {
        bool ok = false;
        for (const char* a : allowed) ok = ok || it.key() == a;
        if (!ok) fail(where.field(it.key()), "unknown key \"" + it.key() + "\"");
    }
}

float Reader::number(const json& j, const Entry& where, const char* key, float fallback) const {
    if (!j.contains(key)) return fallback;
    const json& v = j.at(key);
    Entry at = where.field(key);
    if (!v.is_number()) fail(at, std::string("\"") + key + "\" expects a number");
    return toFloat(v, at, key);
}

float Reader::positive(const json& j, const Entry& where, const char* key, float fallback) const {
    float x = number(j, where, key, fallback);
    if (!(x > 0.0f)) fail(where.field(key), std::string("\"") + key + "\" must be greater than 0");
    return x;
}

int Reader::integer(const json& j, const Entry& where, const char* key, int fallback, int lo,
                    int hi) const {
    if (!j.contains(key)) return fallback;
    const json& v = j.at(key);
    if (!v.is_number_integer() || v.get<int64_t>() < lo || v.get<int64_t>() > hi ||
        (v.is_number_unsigned() && v.get<uint64_t>() > static_cast<uint64_t>(hi))) {
        fail(where.field(key), std::string("\"") + key + "\" expects an integer in [" +
                                   std::to_string(lo) + ", " + std::to_string(hi) + "]");
    }
    return v.get<int>();
}

float3 Reader::vec3(const json& j, const Entry& where, const char* key, float3 fallback) const {
    if (!j.contains(key)) return fallback;
    const json& v = j.at(key);
    Entry at = where.field(key);
    if (v.is_number()) return float3(toFloat(v, at, key));
    if (!v.is_array() || v.size() != 3 || !v[0].is_number() || !v[1].is_number() ||
        !v[2].is_number()) {
        fail(at, std::string("\"") + key + "\" expects an array of 3 numbers");
    }
    return float3(toFloat(v[0], at, key), toFloat(v[1], at, key), toFloat(v[2], at, key));
}

float2 Reader::vec2(const json& j, const Entry& where, const char* key, float2 fallback) const {
    if (!j.contains(key)) return fallback;
    const json& v = j.at(key);
    Entry at = where.field(key);
    if (v.is_number()) return float2(toFloat(v, at, key), toFloat(v, at, key));
    if (!v.is_array() || v.size() != 2 || !v[0].is_number() || !v[1].is_number()) {
        fail(at, std::string("\"") + key + "\" expects an array of 2 numbers");
    }
    return float2(toFloat(v[0], at, key), toFloat(v[1], at, key));
}

std::string Reader::text(const json& j, const Entry& where, const char* key) const {
    if (!j.contains(key)) fail(where.field(key), std::string("missing \"") + key + "\"");
    const json& v = j.at(key);
    if (!v.is_string()) fail(where.field(key), std::string("\"") + key + "\" expects a string");
    return v.get<std::string>();
}

bool Reader::boolean(const json& j, const Entry& where, const char* key, bool fallback) const {
    if (!j.contains(key)) return fallback;
    const json& v = j.at(key);
    if (!v.is_boolean())
        fail(where.field(key), std::string("\"") + key + "\" expects true or false");
    return v.get<bool>();
}

}  // namespace vrender
