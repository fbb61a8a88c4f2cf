// Split renders put back together (vesper-merge): the tiles `vesper-render
// --region` wrote assembled into whole frames, and a wedge's frames laid out in
// a labelled contact sheet. A tile that is missing, overlaps another or belongs
// to another render (size, seed, samples, scene hash, frame) is refused by name.
#pragma once

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/reference/image_io.h"

namespace vrender {

// Pieces that do not make one frame or sheet; what() names the piece.
class MergeError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Pieces of one render: the same frame size and the same attributes, apart from
// a wedge's frame number and value when `what` is "frame" (else "tile"). Throws
// MergeError naming the first piece that differs from the first one.
void checkAlike(const std::vector<vref::ImageFile>& pieces, const char* what);

// The frame the tiles make (its pixels, and the attributes they share), checked
// first from their headers: alike, inside the frame, not overlapping, covering
// every pixel. `out` names the frame in errors. Throws MergeError or
// vref::ImageError.
vref::ImageFile assembleFrame(const std::string& out, const std::vector<std::string>& tiles);

// Whole frames in a grid of `columns` (0: about square), each cell labelled with
// its wedge value, or its file name; `lettered` is false when no font was found.
struct ContactSheet {
    vref::Image image;
    bool lettered = true;
};
ContactSheet contactSheet(const std::vector<std::string>& frames, int columns);

// `pattern` with its conversions (%d or %0Nd, N up to 9; %% is a %) filled from
// `numbers`; "" when it has other ones, or not as many as there are numbers.
std::string expandPattern(const std::string& pattern, std::initializer_list<int> numbers);

}  // namespace vrender
