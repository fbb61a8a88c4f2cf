// Golden outputs: for every exported class, a fixed set of parameter blocks,
// shading states and service answers (generated from fixed seeds), and what each
// announced per-hit operation makes of them, byte for byte: every byte of the
// state it changed, every call it made to the services with its arguments, and
// every texture lookup with its coordinates. Stored as text in
// tests/golden/<class>.golden, so that a change that alters any result, however
// slightly, shows up by case, operation and field.
//
// Shared by the golden test and by tools/vesper_golden, which rewrites the files.
//
// File format: '#' lines are comments; every other line is
//     c<NN> <operation> | <off>:<hex bytes> ... | <slot>(<arg bits>,...) ... | t<id>(<coord
//     bits>,...) ...
// with offsets into the state, bytes in memory order and floats as the hex of
// their bits. More than four calls or lookups of one kind in a row are written
// as "<kind>*<count>#<hash of their text>". NaNs are stored as one canonical
// NaN: which NaN payload survives an operation is not a result the library
// promises.
#pragma once

#include <string>
#include <vector>

#include "host/library.h"
#include "vesper/vesper.h"

namespace vgolden {

// The first entry, "registry", is the capability mask and every registration
// with its type and default. Case 0: defaults. Case 1: rich (every texture
// bound, flags on, modes 1). Cases 2 and up: parameters near the defaults, modes
// from -1 to 7. Every
// case draws its state from vtest::makeState and its service answers from
// vtest::configureServices, with seeds of its own.
constexpr int kCases = 64;

// tests/golden, where the golden files are kept.
std::string goldenDirectory();
std::string goldenPath(const std::string& dir, const std::string& className);

// The outcome of one operation in one case.
struct Outcome {
    std::string key;  // "c03 shade"
    pxs::ShadingState before;
    pxs::ShadingState after;
    std::string calls;    // service calls, in order
    std::string lookups;  // texture lookups, in order
};

// Every case of a class through every operation it announces. Empty when the
// class cannot be created.
std::vector<Outcome> runClass(const vhost::Library& library, const std::string& className);

// The text of a golden file for `outs`.
std::string formatClass(const std::string& className, const std::vector<Outcome>& outs);

// Every difference between a stored golden text and fresh outcomes, one line
// each, naming the case, the operation and the fields or calls that changed.
std::vector<std::string> compare(const std::string& goldenText,
                                 const std::vector<Outcome>& outcomes);

// The whole file at `path`; false when it cannot be read.
bool readFile(const std::string& path, std::string* out);

}  // namespace vgolden
