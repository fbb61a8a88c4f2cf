// Typed reads of a scene document's JSON values for the scene loader: each
// failure a SceneError naming the scene and the entry.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/reference/scene_error.h"
#include "host/reference/vmath.h"

namespace vrender {

// An entry of a scene document, as messages name it (`objects[2] ("ball").material`)
// and as a path of keys and indices (objects/2/material).
class Entry {
  public:
    // A key of the document itself ("camera", "objects"); implicit, so that the
    // loader names such entries by their key.
    Entry(const char* key) : text_(key), path_{key} {}
    // The document as a whole.
    static Entry document();

    // A fixed key inside the entry: `.key`.
    Entry key(const std::string& k) const;
    // A key the scene chose (a name): `."name"`.
    Entry name(const std::string& n) const;
    Entry index(size_t i) const;
    // The same entry with a name shown after it: ` ("label")`.
    Entry labelled(const std::string& label) const;
    // A key inside the entry that messages do not name apart (they quote it).
    Entry field(const std::string& k) const;

    const std::string& text() const { return text_; }
    const std::vector<std::string>& path() const { return path_; }

  private:
    Entry() = default;
    std::string text_;
    std::vector<std::string> path_;
};

class Reader {
  public:
    explicit Reader(const std::string& sceneName) : name_(sceneName) {}

    // What every error starts with.
    void setName(const std::string& name) { name_ = name; }

    [[noreturn]] void fail(const Entry& where, const std::string& what) const;

    // A JSON number as a float; one beyond the float range is refused rather
    // than becoming an infinity.
    float toFloat(const nlohmann::json& v, const Entry& where, const char* key) const;
    // Every key of `j` among `allowed`; `j` an object.
    void checkKeys(const nlohmann::json& j, const Entry& where,
                   std::initializer_list<const char*> allowed) const;
    float number(const nlohmann::json& j, const Entry& where, const char* key,
                 float fallback) const;
    // A number > 0 (a radius, a size).
    float positive(const nlohmann::json& j, const Entry& where, const char* key,
                   float fallback) const;
    int integer(const nlohmann::json& j, const Entry& where, const char* key, int fallback, int lo,
                int hi) const;
    vref::float3 vec3(const nlohmann::json& j, const Entry& where, const char* key,
                      vref::float3 fallback) const;
    vref::float2 vec2(const nlohmann::json& j, const Entry& where, const char* key,
                      vref::float2 fallback) const;
    std::string text(const nlohmann::json& j, const Entry& where, const char* key) const;
    bool boolean(const nlohmann::json& j, const Entry& where, const char* key, bool fallback) const;

  private:
    std::string name_;
};

struct Frames;

// Where the orbit of `f` puts `camera` in `frame`.
void placeOrbitCamera(nlohmann::json& camera, const Frames& f, int frame);

// The material the wedge of `f` sets its parameter on: its object's own, or the
// one it names.
const nlohmann::json& wedgeMaterial(const Reader& r, const nlohmann::json& doc, const Frames& f);

}  // namespace vrender
