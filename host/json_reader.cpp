#include "host/json_reader.h"

#include "host/reference/limits.h"

namespace vhost {

namespace {

using nlohmann::json;

// Thrown from the parser's callback, which sees each array and object open
// with the number of those around it.
struct TooDeep {};

bool limitDepth(int depth, json::parse_event_t event, json&) {
    bool opens =
        event == json::parse_event_t::object_start || event == json::parse_event_t::array_start;
    if (opens && depth >= vref::kMaxJsonDepth) throw TooDeep{};
    return true;
}

template <typename Input>
json read(Input&& input) {
    try {
        return json::parse(std::forward<Input>(input), limitDepth);
    } catch (const TooDeep&) {
        throw JsonError("arrays and objects nested more than " +
                        std::to_string(vref::kMaxJsonDepth) + " deep");
    } catch (const json::exception& e) {
        // A syntax error, or a number beyond a double ("7e777"); without the
        // library's "[json.exception.parse_error.101] " tag.
        std::string what = e.what();
        size_t tag = what.find("] ");
        throw JsonError("invalid JSON: " +
                        (tag == std::string::npos ? what : what.substr(tag + 2)));
    }
}

}  // namespace

json readJson(const std::string& text) {
    return read(text);
}

json readJson(std::istream& in) {
    return read(in);
}

}  // namespace vhost
