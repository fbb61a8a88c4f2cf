// A render split into independent tasks that a cluster or a local runner can
// run in any order: the frames of a scene, tiles of each frame, and the merge
// that assembles them (docs/scale.md).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/reference/renderer.h"
#include "host/reference/scene_loader.h"

namespace vrender {

// Identifies what a render's pixels depend on: a hash (16 hex digits) of the
// canonical scene document and every setting that changes pixels (not the
// thread count). Tiles of one frame must share it.
std::string sceneHash(const nlohmann::json& doc, const vref::RenderSettings& settings);

// A wedge value as a label: numbers to 6 significant digits, arrays as
// [a, b, c], strings as they are.
std::string valueLabel(const nlohmann::json& value);

// `tiles` regions of nearly equal size covering a width x height frame, in rows
// from the top; as close to square a grid as `tiles` allows. Throws
// std::invalid_argument when the frame has too few pixels.
std::vector<vref::Region> splitFrame(int width, int height, int tiles);

// An argument quoted for a POSIX shell when it needs it.
std::string shellQuote(const std::string& arg);

struct PlanRequest {
    std::string render, merge;      // the tools, absolute
    std::string scene;              // absolute
    std::string name;               // file names start with it
    std::string outDir;             // absolute
    std::string format = "png";     // of the frames: png or exr
    std::vector<std::string> pass;  // options every task gets
    Frames frames;
    bool framed = false;  // the scene has an animation or wedge block
    int width = 0, height = 0, tiles = 1;
};

// One shell command per line: every task, then the merge that assembles the
// tiles into frames (and, for a wedge, the frames into a contact sheet).
// Throws std::invalid_argument for too many tiles or tasks.
std::vector<std::string> planLines(const PlanRequest& request);

}  // namespace vrender
