#include "host/reference/merge.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <utility>

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <nlohmann/json.hpp>

#include "host/reference/limits.h"

namespace vrender {

namespace {

using nlohmann::json;
using vref::Image;
using vref::ImageFile;

std::string describe(const json& v) {
    return v.is_null() ? "none" : v.is_string() ? v.get<std::string>() : v.dump();
}

std::string sizeText(const Image& im) {
    return std::to_string(im.fullWidth) + " x " + std::to_string(im.fullHeight);
}

std::string regionText(const Image& im) {
    return "[" + std::to_string(im.x) + ", " + std::to_string(im.y) + ", " +
           std::to_string(im.x + im.width) + ", " + std::to_string(im.y + im.height) + ")";
}

// The attributes two pieces are compared by: the settings first, then the frame
// (the hash differs too when they do), then every other one either has.
std::vector<std::pair<std::string, std::string>> comparedKeys(const json& a, const json& b) {
    std::vector<std::pair<std::string, std::string>> keys = {
        {"spp", "samples per pixel"}, {"seed", "seed"}, {"frame", "frame"}};
    json all = a;
    all.update(b);
    for (auto it = all.begin(); it != all.end(); ++it) keys.push_back({it.key(), it.key()});
    return keys;
}

std::string pixelText(size_t x, size_t y) {
    return "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
}

// Every tile inside the frame, none overlapping another, every pixel covered.
// One bit a pixel of the frame keeps the work linear in pixels and tiles.
void checkTiling(const std::string& out, const std::vector<ImageFile>& tiles, const Image& frame) {
    std::vector<bool> covered(static_cast<size_t>(frame.width) * frame.height, false);
    for (size_t i = 0; i < tiles.size(); ++i) {
        const Image& a = tiles[i].image;
        if (a.x < 0 || a.y < 0 || a.x + a.width > frame.width || a.y + a.height > frame.height) {
            throw MergeError(tiles[i].path + ": its region " + regionText(a) +
                             " lies outside the " + sizeText(frame) + " frame");
        }
        for (int y = a.y; y < a.y + a.height; ++y) {
            auto row = covered.begin() + static_cast<ptrdiff_t>(y) * frame.width;
            if (std::find(row + a.x, row + a.x + a.width, true) == row + a.x + a.width) {
                std::fill(row + a.x, row + a.x + a.width, true);
                continue;
            }
            for (size_t j = 0; j < i; ++j) {
                const Image& b = tiles[j].image;
                if (a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
                    b.y < a.y + a.height) {
                    throw MergeError(tiles[i].path + ": its region " + regionText(a) +
                                     " overlaps " + tiles[j].path + "'s " + regionText(b));
                }
            }
        }
    }
    auto gap = std::find(covered.begin(), covered.end(), false);
    if (gap != covered.end()) {
        auto i = static_cast<size_t>(gap - covered.begin());
        throw MergeError(out + ": no tile covers pixel " +
                         pixelText(i % frame.width, i / frame.width) + ": a tile is missing");
    }
}

// Reads each tile's pixels, as its header was checked, straight into its place.
void copyTiles(const std::vector<ImageFile>& headers, Image& frame) {
    size_t row = 4 * static_cast<size_t>(frame.width);
    for (const ImageFile& t : headers) {
        size_t at = static_cast<size_t>(t.image.y) * row + 4 * static_cast<size_t>(t.image.x);
        vref::readPixels(t, &frame.rgba[at], row);
    }
}

// The headers of whole frames, for the sheet.
std::vector<ImageFile> readFrameHeaders(const std::vector<std::string>& paths) {
    std::vector<ImageFile> frames;
    for (const std::string& f : paths) {
        frames.push_back(vref::readImage(f, false));
        const Image& im = frames.back().image;
        if (im.x != 0 || im.y != 0 || im.width != im.fullWidth || im.height != im.fullHeight) {
            throw MergeError(f + ": a tile " + regionText(im) + ", not a whole frame");
        }
    }
    return frames;
}

std::string labelOf(const ImageFile& f) {
    const json& a = f.attributes;
    return a.contains("wedgeValue")
               ? describe(a.value("wedgeParameter", json())) + " = " + describe(a["wedgeValue"])
               : std::filesystem::path(f.path).stem().string();
}

// One frame scaled into its cell, its label centred under it; false when no
// font was found.
bool drawCell(OIIO::ImageBuf& sheet, const SheetLayout& l, int i, const ImageFile& f) {
    static const float kWhite[4] = {0.9f, 0.9f, 0.9f, 1.0f};
    OIIO::ImageSpec fs(f.image.width, f.image.height, 4, OIIO::TypeDesc::FLOAT);
    OIIO::ImageBuf src(fs, const_cast<float*>(f.image.rgba.data()));
    OIIO::ImageBuf cell;
    OIIO::ImageBufAlgo::resize(cell, src, "", 0.0f,
                               OIIO::ROI(0, l.imageW, 0, l.imageH, 0, 1, 0, 4));
    int x = l.x(i), y = l.y(i);
    OIIO::ImageBufAlgo::paste(sheet, x + (l.cellW - l.imageW) / 2, y, 0, 0, cell);
    if (!l.labelH) return true;
    std::string label = labelOf(f);
    int size = l.labelH * 2 / 3;
    while (size > 8 && OIIO::ImageBufAlgo::text_size(label, size, "DejaVuSans").width() > l.cellW) {
        --size;
    }
    // Clipped to its cell: a long label does not run into the next one.
    OIIO::ROI band(x, x + l.cellW, y + l.imageH, y + l.cellH(), 0, 1, 0, 4);
    return OIIO::ImageBufAlgo::render_text(
        sheet, x + l.cellW / 2, y + l.imageH + l.labelH * 3 / 4, label, size, "DejaVuSans", kWhite,
        OIIO::ImageBufAlgo::TextAlignX::Center, OIIO::ImageBufAlgo::TextAlignY::Baseline, 0, band);
}

}  // namespace

SheetLayout::SheetLayout(int frameWidth, int frameHeight, int n, int columns, int cellWidth) {
    cols = columns > 0 ? std::min(columns, n) : static_cast<int>(std::ceil(std::sqrt(n)));
    rows = (n + cols - 1) / cols;
    cellW = imageW = cellWidth;
    double aspect = static_cast<double>(frameHeight) / frameWidth;
    imageH = std::max(1, static_cast<int>(std::lround(aspect * cellW)));
    if (imageH > 2 * cellW) {
        imageH = 2 * cellW;
        imageW = std::max(1, static_cast<int>(std::lround(imageH / aspect)));
    }
    // Below this a label is too small to read.
    labelH = cellW >= 48 ? std::max(16, cellW / 12) : 0;
}

bool SheetLayout::fits() const {
    return width() <= vref::kMaxImageSide && height() <= vref::kMaxImageSide &&
           width() * height() <= vref::kMaxSheetPixels;
}

SheetLayout layoutSheet(const std::string& sheet, int frameWidth, int frameHeight, int n,
                        int columns) {
    int widest = std::max(SheetLayout::kMinCell, std::min(frameWidth, SheetLayout::kMaxCell));
    for (int w = widest; w > 0; --w) {
        SheetLayout l(frameWidth, frameHeight, n, columns, w);
        if (l.fits()) return l;
    }
    throw MergeError(sheet + ": " + std::to_string(n) + " frames in " + std::to_string(columns) +
                     " columns do not fit in a sheet of " + std::to_string(vref::kMaxImageSide) +
                     " pixels on a side; give more columns");
}

void checkAlike(const std::vector<ImageFile>& pieces, const char* what) {
    const ImageFile& ref = pieces[0];
    if (!ref.attributes.contains("sceneHash")) {
        throw MergeError(ref.path + ": has no scene hash; not written by vesper-render");
    }
    bool frames = std::string(what) == "frame";
    for (const ImageFile& p : pieces) {
        if (p.image.fullWidth != ref.image.fullWidth ||
            p.image.fullHeight != ref.image.fullHeight) {
            throw MergeError(p.path + ": " + what + " of a " + sizeText(p.image) + " frame, but " +
                             ref.path + " is of a " + sizeText(ref.image) + " one");
        }
        for (const auto& k : comparedKeys(ref.attributes, p.attributes)) {
            // A wedge's frames differ in these, and only in these.
            if (frames && (k.first == "frame" || k.first == "wedgeValue")) continue;
            json a = p.attributes.value(k.first, json()), b = ref.attributes.value(k.first, json());
            if (a != b) {
                throw MergeError(p.path + ": " +
                                 (k.first == "sceneHash" ? "scene hash" : k.second) + " " +
                                 describe(a) + ", but " + ref.path + " has " + describe(b));
            }
        }
    }
}

ImageFile assembleFrame(const std::string& out, const std::vector<std::string>& tiles) {
    std::vector<ImageFile> headers;
    for (const std::string& t : tiles) headers.push_back(vref::readImage(t, false));
    checkAlike(headers, "tile");
    ImageFile result;
    result.path = out;
    result.attributes = headers[0].attributes;
    Image& frame = result.image;
    frame.width = frame.fullWidth = headers[0].image.fullWidth;
    frame.height = frame.fullHeight = headers[0].image.fullHeight;
    checkTiling(out, headers, frame);
    frame.rgba.assign(4 * static_cast<size_t>(frame.width) * frame.height, 0.0f);
    copyTiles(headers, frame);
    return result;
}

ContactSheet contactSheet(const std::string& out, const std::vector<std::string>& paths,
                          int columns) {
    std::vector<ImageFile> headers = readFrameHeaders(paths);
    checkAlike(headers, "frame");
    int n = static_cast<int>(headers.size());
    const Image& first = headers[0].image;
    SheetLayout layout = layoutSheet(out, first.width, first.height, n, columns);
    ContactSheet result;
    Image& image = result.image;
    image.width = image.fullWidth = static_cast<int>(layout.width());
    image.height = image.fullHeight = static_cast<int>(layout.height());
    image.rgba.resize(4 * static_cast<size_t>(image.width) * image.height);
    OIIO::ImageSpec spec(image.width, image.height, 4, OIIO::TypeDesc::FLOAT);
    OIIO::ImageBuf sheet(spec, image.rgba.data());
    const float background[4] = {0.02f, 0.02f, 0.02f, 1.0f};
    OIIO::ImageBufAlgo::fill(sheet, background);
    // One frame's pixels in memory at a time, whatever the number of frames.
    for (int i = 0; i < n; ++i) {
        ImageFile f = vref::readImage(paths[i]);
        if (f.image.width != headers[i].image.width || f.image.height != headers[i].image.height) {
            throw MergeError(f.path + ": changed while being merged");
        }
        result.lettered = drawCell(sheet, layout, i, f) && result.lettered;
    }
    return result;
}

std::string expandPattern(const std::string& pattern, std::initializer_list<int> numbers) {
    std::string out;
    auto next = numbers.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            out += pattern[i];
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        size_t width = 0, d = i + 1;
        if (pattern.compare(d, 1, "0") == 0 && d + 2 < pattern.size() &&
            std::isdigit(static_cast<unsigned char>(pattern[d + 1]))) {
            width = static_cast<size_t>(pattern[d + 1] - '0');
            d += 2;
        }
        if (d >= pattern.size() || pattern[d] != 'd' || next == numbers.end()) return "";
        std::string n = std::to_string(*next++);
        out += std::string(n.size() < width ? width - n.size() : 0, '0') + n;
        i = d;
    }
    return next == numbers.end() ? out : "";
}

}  // namespace vrender
