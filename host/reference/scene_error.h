// The error of a scene that cannot be used, with the entry it is about.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vrender {

// A scene that cannot be used. what() reads "<scene>: <entry>: <message>", or
// "<file>: <message>" for the file itself; the entry is also given as data: the
// path of keys and indices that leads to it in the document (objects, 2,
// material, params, u_roughValue), empty for the document as a whole.
class SceneError : public std::runtime_error {
  public:
    SceneError(const std::string& what, std::vector<std::string> path, std::string message)
        : std::runtime_error(what), path_(std::move(path)), message_(std::move(message)) {}
    // A file that cannot be read as a scene.
    SceneError(const std::string& file, const std::string& message)
        : SceneError(file + ": " + message, {}, message) {}

    const std::vector<std::string>& path() const { return path_; }
    // The path joined by "/": "objects/2/material".
    std::string field() const {
        std::string f;
        for (const std::string& p : path_) f += (f.empty() ? "" : "/") + p;
        return f;
    }
    // What is wrong, without the scene and the entry.
    const std::string& message() const { return message_; }

  private:
    std::vector<std::string> path_;
    std::string message_;
};

}  // namespace vrender
