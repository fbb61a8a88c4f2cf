#include "host/reference/merge.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <utility>

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <nlohmann/json.hpp>

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

// Every tile inside the frame, and no two overlapping.
void checkPlacement(const std::vector<ImageFile>& tiles, const Image& frame) {
    for (size_t i = 0; i < tiles.size(); ++i) {
        const Image& a = tiles[i].image;
        if (a.x < 0 || a.y < 0 || a.x + a.width > frame.width || a.y + a.height > frame.height) {
            throw MergeError(tiles[i].path + ": its region " + regionText(a) +
                             " lies outside the " + sizeText(frame) + " frame");
        }
        for (size_t j = 0; j < i; ++j) {
            const Image& b = tiles[j].image;
            if (a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
                b.y < a.y + a.height) {
                throw MergeError(tiles[i].path + ": its region " + regionText(a) + " overlaps " +
                                 tiles[j].path + "'s " + regionText(b));
            }
        }
    }
}

// Every pixel of the frame in some tile.
void checkCoverage(const std::string& out, const std::vector<ImageFile>& tiles,
                   const Image& frame) {
    std::vector<bool> covered(static_cast<size_t>(frame.width) * frame.height, false);
    for (const ImageFile& p : tiles) {
        const Image& t = p.image;
        for (int y = t.y; y < t.y + t.height; ++y) {
            auto row = covered.begin() + static_cast<ptrdiff_t>(y) * frame.width;
            std::fill(row + t.x, row + t.x + t.width, true);
        }
    }
    for (size_t i = 0; i < covered.size(); ++i) {
        if (!covered[i]) {
            throw MergeError(out + ": no tile covers pixel (" + std::to_string(i % frame.width) +
                             ", " + std::to_string(i / frame.width) + "): a tile is missing");
        }
    }
}

// Reads each tile's pixels, as its header was checked, into its place.
void copyTiles(const std::vector<ImageFile>& headers, Image& frame) {
    for (const ImageFile& header : headers) {
        ImageFile p = vref::readImage(header.path);
        const Image& t = p.image;
        if (t.x != header.image.x || t.y != header.image.y || t.width != header.image.width ||
            t.height != header.image.height) {
            throw MergeError(p.path + ": changed while being merged");
        }
        for (int y = 0; y < t.height; ++y) {
            size_t to = static_cast<size_t>(t.y + y) * frame.width + t.x;
            std::copy_n(&t.rgba[4 * static_cast<size_t>(y) * t.width], 4 * t.width,
                        &frame.rgba[4 * to]);
        }
    }
}

std::vector<ImageFile> readWholeFrames(const std::vector<std::string>& paths) {
    std::vector<ImageFile> frames;
    for (const std::string& f : paths) {
        frames.push_back(vref::readImage(f));
        const Image& im = frames.back().image;
        if (im.x != 0 || im.y != 0 || im.width != im.fullWidth || im.height != im.fullHeight) {
            throw MergeError(f + ": a tile " + regionText(im) + ", not a whole frame");
        }
    }
    return frames;
}

// The grid of a contact sheet: small frames are enlarged so that their labels
// fit under them.
struct SheetLayout {
    int cols, rows, cellW, cellH, labelH, gap = 4;

    SheetLayout(const Image& first, int n, int columns) {
        cols = columns > 0 ? columns : static_cast<int>(std::ceil(std::sqrt(n)));
        rows = (n + cols - 1) / cols;
        cellW = std::max(160, std::min(first.width, 320));
        cellH = std::max(1, static_cast<int>(std::lround(static_cast<double>(first.height) * cellW /
                                                         first.width)));
        labelH = std::max(16, cellW / 12);
    }
    int width() const { return gap + cols * (cellW + gap); }
    int height() const { return gap + rows * (cellH + labelH + gap); }
    int x(int i) const { return gap + (i % cols) * (cellW + gap); }
    int y(int i) const { return gap + (i / cols) * (cellH + labelH + gap); }
};

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
    OIIO::ImageBufAlgo::resize(cell, src, "", 0.0f, OIIO::ROI(0, l.cellW, 0, l.cellH, 0, 1, 0, 4));
    int x = l.x(i), y = l.y(i);
    OIIO::ImageBufAlgo::paste(sheet, x, y, 0, 0, cell);
    std::string label = labelOf(f);
    int size = l.labelH * 2 / 3;
    while (size > 8 && OIIO::ImageBufAlgo::text_size(label, size, "DejaVuSans").width() > l.cellW) {
        --size;
    }
    return OIIO::ImageBufAlgo::render_text(sheet, x + l.cellW / 2, y + l.cellH + l.labelH * 3 / 4,
                                           label, size, "DejaVuSans", kWhite,
                                           OIIO::ImageBufAlgo::TextAlignX::Center);
}

}  // namespace

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
    checkPlacement(headers, frame);
    checkCoverage(out, headers, frame);
    frame.rgba.assign(4 * static_cast<size_t>(frame.width) * frame.height, 0.0f);
    copyTiles(headers, frame);
    return result;
}

ContactSheet contactSheet(const std::vector<std::string>& paths, int columns) {
    std::vector<ImageFile> frames = readWholeFrames(paths);
    checkAlike(frames, "frame");
    int n = static_cast<int>(frames.size());
    SheetLayout layout(frames[0].image, n, columns);
    OIIO::ImageSpec spec(layout.width(), layout.height(), 4, OIIO::TypeDesc::FLOAT);
    OIIO::ImageBuf sheet(spec);
    const float background[4] = {0.02f, 0.02f, 0.02f, 1.0f};
    OIIO::ImageBufAlgo::fill(sheet, background);
    ContactSheet result;
    for (int i = 0; i < n; ++i)
        result.lettered = drawCell(sheet, layout, i, frames[i]) && result.lettered;
    Image& image = result.image;
    image.width = image.fullWidth = spec.width;
    image.height = image.fullHeight = spec.height;
    image.rgba.resize(4 * static_cast<size_t>(spec.width) * spec.height);
    sheet.get_pixels(OIIO::ROI::All(), OIIO::TypeDesc::FLOAT, image.rgba.data());
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
