// Split renders put back together (vesper-merge): the tiles `vesper-render
// --region` wrote assembled into whole frames, and a wedge's frames laid out in
// a labelled contact sheet. A tile that is missing, overlaps another or belongs
// to another render (size, seed, samples, scene hash, frame) is refused by name.
#pragma once

#include <cstdint>
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
// every pixel; then each tile's pixels, read one tile at a time, finite. `out`
// names the frame in errors. Throws MergeError or vref::ImageError.
vref::ImageFile assembleFrame(const std::string& out, const std::vector<std::string>& tiles);

// The grid of a contact sheet of n frames of frameWidth x frameHeight pixels,
// in `columns` columns (0: about square). Each cell holds a frame scaled to the
// cell's width, at most twice as high (narrower then), and its label under it.
struct SheetLayout {
    static constexpr int kMaxCell = 320, kMinCell = 160, kGap = 4;
    int cols, rows, cellW, imageW, imageH, labelH;

    SheetLayout(int frameWidth, int frameHeight, int n, int columns, int cellWidth);
    int cellH() const { return imageH + labelH; }
    int64_t width() const { return kGap + int64_t{cols} * (cellW + kGap); }
    int64_t height() const { return kGap + int64_t{rows} * (cellH() + kGap); }
    // Within kMaxImageSide on a side and kMaxSheetPixels.
    bool fits() const;
    int x(int i) const { return kGap + (i % cols) * (cellW + kGap); }
    int y(int i) const { return kGap + (i / cols) * (cellH() + kGap); }
};

// The layout with the widest cells that fits: the frame's width, at most
// kMaxCell (small frames enlarged to kMinCell), narrowed until the sheet fits.
// Throws MergeError naming `sheet` when none does (too few columns).
SheetLayout layoutSheet(const std::string& sheet, int frameWidth, int frameHeight, int n,
                        int columns);

// Whole frames in a grid of `columns` (0: about square), each cell labelled with
// its wedge value, or its file name; `lettered` is false when no font was found.
// The frames are read one at a time. `out` names the sheet in errors.
struct ContactSheet {
    vref::Image image;
    bool lettered = true;
};
ContactSheet contactSheet(const std::string& out, const std::vector<std::string>& frames,
                          int columns);

// `pattern` with its conversions (%d or %0Nd, N up to 9; %% is a %) filled from
// `numbers`; "" when it has other ones, or not as many as there are numbers.
std::string expandPattern(const std::string& pattern, std::initializer_list<int> numbers);

}  // namespace vrender
