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

// "" when `text` can go into a plan; otherwise the first character that cannot,
// written out ("a line feed (\n)", "the control character \x01"). A line of
// a plan is one task, so no name in it may break a line: ASCII controls and DEL,
// and the C1 controls and line and paragraph separators as UTF-8, are refused.
std::string planUnsafe(const std::string& text);

// The first line of a plan: how many tasks follow it before the merge.
std::string planHeader(int64_t tasks);

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

// The plan's lines: planHeader, one shell command per task, then the merge that
// assembles the tiles into frames (and, for a wedge, the frames into a contact
// sheet). Throws std::invalid_argument for too many tiles or tasks, and for a
// name or path that planUnsafe refuses, naming it.
std::vector<std::string> planLines(const PlanRequest& request);

}  // namespace vrender
