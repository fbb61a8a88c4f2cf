// The one reader of the JSON documents the tools take in: scene files, studio
// requests, tile sidecars. It counts the nesting of arrays and objects while it
// parses and stops at vref::kMaxJsonDepth, so no deeper document is ever built:
// copying, comparing or printing a document recurses once per level, and a
// document nested tens of thousands deep would overflow the stack.
#pragma once

#include <istream>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace vhost {

// A document that is not JSON, or nested too deeply; what() says which, and
// where for malformed text ("invalid JSON: parse error at line 1, column 5: ...").
class JsonError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The document in `text`. Throws JsonError.
nlohmann::json readJson(const std::string& text);
// The document `in` holds up to its end. Throws JsonError.
nlohmann::json readJson(std::istream& in);

}  // namespace vhost
