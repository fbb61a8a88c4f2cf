// vesper-merge: assembles the tiles `vesper-render --region` wrote into whole
// frames, and a wedge's frames into a labelled contact sheet. A tile that is
// missing, overlaps another or belongs to another render (size, seed, samples,
// scene hash, frame) is refused by name; nothing is written for that frame.
//
//   vesper-merge --out FRAME TILE... [--out FRAME TILE...]... [--sheet SHEET [FRAME...]]
//   vesper-merge --frames N --tiles T --out PATTERN --tile PATTERN [--sheet SHEET]
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>
#include <nlohmann/json.hpp>

#include "host/reference/limits.h"
#include "host/reference/renderer.h"

namespace {

using nlohmann::json;

const char kUsage[] =
    "usage: vesper-merge --out FRAME TILE... [--out FRAME TILE...]... [--sheet SHEET [FRAME...]]\n"
    "       vesper-merge --frames N --tiles T --out PATTERN --tile PATTERN [--sheet SHEET]\n"
    "  --out FRAME TILE...   assemble the tiles of one frame (EXR tiles, or images with\n"
    "                        their FILE.json sidecars) into FRAME (.exr or .png)\n"
    "  --frames N --tiles T  frames 0 to N-1 of T tiles each, named by printf-style patterns:\n"
    "                        --out with %d for the frame, --tile with %d for the frame then\n"
    "                        the tile (a single frame needs neither), e.g. f%04d_t%02d.exr\n"
    "  --sheet SHEET [FRAME...]  lay whole frames (default: those just merged) out in a grid,\n"
    "                        each labelled with its wedge value\n"
    "  --columns N           columns of the sheet (default: about square)\n";

[[noreturn]] void usageError(const std::string& what) {
    std::fprintf(stderr, "vesper-merge: %s\n%s", what.c_str(), kUsage);
    std::exit(2);
}

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A tile or a frame read back, with its place in the frame and its attributes.
struct Piece {
    std::string path;
    vref::Image image;  // linear RGBA, placed in its frame
    json attributes;
};

// The linear value writeImage stores as each 8-bit code: 8-bit pieces go back
// into 8-bit files unchanged.
const std::vector<float>& linearOfByte() {
    static const std::vector<float> table = [] {
        std::vector<float> t(256);
        for (int b = 0; b < 256; ++b) {
            double e = b / 255.0;
            float v =
                static_cast<float>(e <= 0.04045 ? e / 12.92 : std::pow((e + 0.055) / 1.055, 2.4));
            while (vref::srgbByte(v) < b) v = std::nextafter(v, 2.0f);
            while (vref::srgbByte(v) > b) v = std::nextafter(v, -1.0f);
            t[b] = v;
        }
        return t;
    }();
    return table;
}

int integerOf(const json& j) {
    if (!j.is_number_integer()) throw std::invalid_argument("not an integer");
    return j.get<int>();
}

// Pixels only when asked: tiles are checked from their headers first.
Piece readPiece(const std::string& path, bool pixels = true) {
    Piece p;
    p.path = path;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) throw Failure(path + ": missing");
    auto in = OIIO::ImageInput::open(path);
    if (!in) throw Failure(path + ": cannot read: " + OIIO::geterror());
    const OIIO::ImageSpec& spec = in->spec();
    vref::Image& im = p.image;
    im.width = spec.width;
    im.height = spec.height;
    if (pixels) im.rgba.resize(4 * static_cast<size_t>(im.width) * im.height);
    bool exr = std::string(in->format_name()) == "openexr";
    if (exr) {
        if (spec.nchannels != 4) throw Failure(path + ": not an RGBA image");
        im.x = spec.x;
        im.y = spec.y;
        im.fullWidth = spec.full_width;
        im.fullHeight = spec.full_height;
        if (spec.full_x != 0 || spec.full_y != 0) throw Failure(path + ": its frame is offset");
        p.attributes = json::object();
        for (const OIIO::ParamValue& a : spec.extra_attribs) {
            std::string name = a.name().string();
            if (name.rfind("vesper:", 0) != 0) continue;
            if (a.type() == OIIO::TypeDesc::INT) {
                p.attributes[name.substr(7)] = a.get_int();
            } else {
                p.attributes[name.substr(7)] = a.get_string();
            }
        }
        if (pixels && !in->read_image(0, 0, 0, 4, OIIO::TypeDesc::FLOAT, im.rgba.data())) {
            throw Failure(path + ": cannot read: " + in->geterror());
        }
        return p;
    }
    // Other formats keep their placement and attributes in a sidecar.
    std::string sidecar = path + ".json";
    std::ifstream file(sidecar);
    if (!file) throw Failure(path + ": its sidecar " + sidecar + " is missing");
    try {
        p.attributes = json::parse(file);
        const json& w = p.attributes.at("dataWindow");
        const json& full = p.attributes.at("fullSize");
        im.x = integerOf(w.at(0));
        im.y = integerOf(w.at(1));
        im.fullWidth = integerOf(full.at(0));
        im.fullHeight = integerOf(full.at(1));
        if (integerOf(w.at(2)) - im.x != im.width || integerOf(w.at(3)) - im.y != im.height) {
            throw Failure(sidecar + ": \"dataWindow\" does not match the image's " +
                          std::to_string(im.width) + " x " + std::to_string(im.height) + " pixels");
        }
    } catch (const Failure&) {
        throw;
    } catch (const std::exception& e) {
        throw Failure(sidecar + ": not a sidecar of vesper-render: " + e.what());
    }
    p.attributes.erase("dataWindow");
    p.attributes.erase("fullSize");
    int channels = spec.nchannels;
    if (spec.format != OIIO::TypeDesc::UINT8 || channels < 3 || channels > 4) {
        throw Failure(path + ": not an 8-bit RGB image");
    }
    if (!pixels) return p;
    std::vector<unsigned char> bytes(static_cast<size_t>(channels) * im.width * im.height);
    if (!in->read_image(0, 0, 0, channels, OIIO::TypeDesc::UINT8, bytes.data())) {
        throw Failure(path + ": cannot read: " + in->geterror());
    }
    const std::vector<float>& linear = linearOfByte();
    for (size_t i = 0; i < bytes.size() / channels; ++i) {
        for (int c = 0; c < 3; ++c) im.rgba[4 * i + c] = linear[bytes[channels * i + c]];
        im.rgba[4 * i + 3] = channels == 4 ? bytes[channels * i + 3] / 255.0f : 1.0f;
    }
    return p;
}

std::string describe(const json& v) {
    return v.is_null() ? "none" : v.is_string() ? v.get<std::string>() : v.dump();
}

std::string sizeText(const vref::Image& im) {
    return std::to_string(im.fullWidth) + " x " + std::to_string(im.fullHeight);
}

// Pieces of one render: the same frame size and the same attributes.
void checkAlike(const std::vector<Piece>& pieces, const char* what) {
    const Piece& ref = pieces[0];
    if (!ref.attributes.contains("sceneHash")) {
        throw Failure(ref.path + ": has no scene hash; not written by vesper-render");
    }
    // The settings first, then the frame: the hash differs too when they do.
    static const std::pair<const char*, const char*> kFirst[] = {
        {"spp", "samples per pixel"}, {"seed", "seed"}, {"frame", "frame"}};
    bool frames = std::string(what) == "frame";
    for (const Piece& p : pieces) {
        if (p.image.fullWidth != ref.image.fullWidth ||
            p.image.fullHeight != ref.image.fullHeight) {
            throw Failure(p.path + ": " + what + " of a " + sizeText(p.image) + " frame, but " +
                          ref.path + " is of a " + sizeText(ref.image) + " one");
        }
        std::vector<std::pair<std::string, std::string>> keys;
        for (const auto& k : kFirst) keys.push_back(k);
        json all = ref.attributes;
        all.update(p.attributes);
        for (auto it = all.begin(); it != all.end(); ++it) keys.push_back({it.key(), it.key()});
        for (const auto& k : keys) {
            // A wedge's frames differ in these, and only in these.
            if (frames && (k.first == "frame" || k.first == "wedgeValue")) continue;
            json a = p.attributes.value(k.first, json()), b = ref.attributes.value(k.first, json());
            if (a != b) {
                throw Failure(p.path + ": " + (k.first == "sceneHash" ? "scene hash" : k.second) +
                              " " + describe(a) + ", but " + ref.path + " has " + describe(b));
            }
        }
    }
}

std::string regionText(const vref::Image& im) {
    return "[" + std::to_string(im.x) + ", " + std::to_string(im.y) + ", " +
           std::to_string(im.x + im.width) + ", " + std::to_string(im.y + im.height) + ")";
}

void mergeFrame(const std::string& out, const std::vector<std::string>& tiles) {
    std::vector<Piece> pieces;
    for (const std::string& t : tiles) pieces.push_back(readPiece(t, false));
    checkAlike(pieces, "tile");
    vref::Image frame;
    frame.width = frame.fullWidth = pieces[0].image.fullWidth;
    frame.height = frame.fullHeight = pieces[0].image.fullHeight;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const vref::Image& a = pieces[i].image;
        if (a.x < 0 || a.y < 0 || a.x + a.width > frame.width || a.y + a.height > frame.height) {
            throw Failure(pieces[i].path + ": its region " + regionText(a) + " lies outside the " +
                          sizeText(frame) + " frame");
        }
        for (size_t j = 0; j < i; ++j) {
            const vref::Image& b = pieces[j].image;
            if (a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
                b.y < a.y + a.height) {
                throw Failure(pieces[i].path + ": its region " + regionText(a) + " overlaps " +
                              pieces[j].path + "'s " + regionText(b));
            }
        }
    }
    std::vector<bool> covered(static_cast<size_t>(frame.width) * frame.height, false);
    for (const Piece& p : pieces) {
        const vref::Image& t = p.image;
        for (int y = t.y; y < t.y + t.height; ++y) {
            auto row = covered.begin() + static_cast<ptrdiff_t>(y) * frame.width;
            std::fill(row + t.x, row + t.x + t.width, true);
        }
    }
    for (size_t i = 0; i < covered.size(); ++i) {
        if (!covered[i]) {
            throw Failure(out + ": no tile covers pixel (" + std::to_string(i % frame.width) +
                          ", " + std::to_string(i / frame.width) + "): a tile is missing");
        }
    }
    frame.rgba.assign(4 * static_cast<size_t>(frame.width) * frame.height, 0.0f);
    for (const Piece& header : pieces) {
        Piece p = readPiece(header.path);
        const vref::Image& t = p.image;
        if (t.x != header.image.x || t.y != header.image.y || t.width != header.image.width ||
            t.height != header.image.height) {
            throw Failure(p.path + ": changed while being merged");
        }
        for (int y = 0; y < t.height; ++y) {
            size_t to = static_cast<size_t>(t.y + y) * frame.width + t.x;
            std::copy_n(&t.rgba[4 * static_cast<size_t>(y) * t.width], 4 * t.width,
                        &frame.rgba[4 * to]);
        }
    }
    vref::ImageMetadata meta;
    meta.attributes = pieces[0].attributes;
    std::string err = vref::writeImage(frame, out, meta);
    if (!err.empty()) throw Failure(err);
}

void contactSheet(const std::string& out, const std::vector<std::string>& paths, int columns) {
    std::vector<Piece> frames;
    for (const std::string& f : paths) {
        frames.push_back(readPiece(f));
        const vref::Image& im = frames.back().image;
        if (im.x != 0 || im.y != 0 || im.width != im.fullWidth || im.height != im.fullHeight) {
            throw Failure(f + ": a tile " + regionText(im) + ", not a whole frame");
        }
    }
    checkAlike(frames, "frame");
    int n = static_cast<int>(frames.size());
    int cols = columns > 0 ? columns : static_cast<int>(std::ceil(std::sqrt(n)));
    int rows = (n + cols - 1) / cols;
    const vref::Image& first = frames[0].image;
    // Small frames are enlarged so that their labels fit under them.
    int cellW = std::max(160, std::min(first.width, 320));
    int cellH = std::max(
        1, static_cast<int>(std::lround(static_cast<double>(first.height) * cellW / first.width)));
    int labelH = std::max(16, cellW / 12), gap = 4;
    OIIO::ImageSpec spec(gap + cols * (cellW + gap), gap + rows * (cellH + labelH + gap), 4,
                         OIIO::TypeDesc::FLOAT);
    OIIO::ImageBuf sheet(spec);
    const float background[4] = {0.02f, 0.02f, 0.02f, 1.0f}, white[4] = {0.9f, 0.9f, 0.9f, 1.0f};
    OIIO::ImageBufAlgo::fill(sheet, background);
    bool lettered = true;
    for (int i = 0; i < n; ++i) {
        const Piece& f = frames[i];
        OIIO::ImageSpec fs(f.image.width, f.image.height, 4, OIIO::TypeDesc::FLOAT);
        OIIO::ImageBuf src(fs, const_cast<float*>(f.image.rgba.data()));
        OIIO::ImageBuf cell;
        OIIO::ImageBufAlgo::resize(cell, src, "", 0.0f, OIIO::ROI(0, cellW, 0, cellH, 0, 1, 0, 4));
        int x = gap + (i % cols) * (cellW + gap), y = gap + (i / cols) * (cellH + labelH + gap);
        OIIO::ImageBufAlgo::paste(sheet, x, y, 0, 0, cell);
        const json& a = f.attributes;
        std::string label =
            a.contains("wedgeValue")
                ? describe(a.value("wedgeParameter", json())) + " = " + describe(a["wedgeValue"])
                : std::filesystem::path(f.path).stem().string();
        int size = labelH * 2 / 3;
        while (size > 8 &&
               OIIO::ImageBufAlgo::text_size(label, size, "DejaVuSans").width() > cellW) {
            --size;
        }
        lettered = OIIO::ImageBufAlgo::render_text(sheet, x + cellW / 2, y + cellH + labelH * 3 / 4,
                                                   label, size, "DejaVuSans", white,
                                                   OIIO::ImageBufAlgo::TextAlignX::Center) &&
                   lettered;
    }
    if (!lettered)
        std::fprintf(stderr, "vesper-merge: warning: no font; %s is unlabelled\n", out.c_str());
    vref::Image image;
    image.width = image.fullWidth = spec.width;
    image.height = image.fullHeight = spec.height;
    image.rgba.resize(4 * static_cast<size_t>(spec.width) * spec.height);
    sheet.get_pixels(OIIO::ROI::All(), OIIO::TypeDesc::FLOAT, image.rgba.data());
    std::string err = vref::writeImage(image, out);
    if (!err.empty()) throw Failure(err);
}

// `pattern` with its conversions (%d or %0Nd, N up to 9; %% is a %) filled from
// `numbers`; "" when it has other ones, or not as many as there are numbers.
std::string expand(const std::string& pattern, std::initializer_list<int> numbers) {
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

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGXFSZ, SIG_IGN);
    std::vector<std::pair<std::string, std::vector<std::string>>> frames;
    std::string sheet;
    std::vector<std::string> sheetFrames;
    int columns = 0, frameCount = 0, tileCount = 0;
    std::string tilePattern;
    std::vector<std::string>* into = nullptr;
    auto count = [&](const std::string& a, const std::string& v, int hi) {
        char* end = nullptr;
        long n = std::strtol(v.c_str(), &end, 10);
        if (v.empty() || *end || n < 1 || n > hi) {
            usageError(a + " expects 1 to " + std::to_string(hi));
        }
        return static_cast<int>(n);
    };
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') usageError(a + " needs a file name");
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--out") {
            frames.push_back({value(), {}});
            into = &frames.back().second;
        } else if (a == "--sheet") {
            if (!sheet.empty()) usageError("only one --sheet");
            sheet = value();
            into = &sheetFrames;
        } else if (a == "--columns") {
            columns = count(a, value(), vref::kMaxSheetColumns);
        } else if (a == "--frames") {
            frameCount = count(a, value(), vref::kMaxFrames);
        } else if (a == "--tiles") {
            tileCount = count(a, value(), vref::kMaxTiles);
        } else if (a == "--tile") {
            tilePattern = value();
            into = nullptr;
        } else if (a.size() > 1 && a[0] == '-') {
            usageError("unknown option " + a);
        } else if (!into) {
            usageError(a + ": a file before --out or --sheet");
        } else {
            into->push_back(a);
        }
    }
    if (frameCount || tileCount || !tilePattern.empty()) {
        if (!frameCount || !tileCount || tilePattern.empty() || frames.size() != 1 ||
            !frames[0].second.empty()) {
            usageError("--frames, --tiles, --tile and one --out pattern go together");
        }
        std::string pattern = frames[0].first;
        frames.clear();
        for (int f = 0; f < frameCount; ++f) {
            // One frame may leave the frame number out of both patterns.
            std::string out = frameCount == 1 ? expand(pattern, {}) : "";
            if (out.empty()) out = expand(pattern, {f});
            if (out.empty()) usageError("--out " + pattern + " needs one %d for the frame");
            frames.push_back({out, {}});
            for (int t = 0; t < tileCount; ++t) {
                std::string tile = frameCount == 1 ? expand(tilePattern, {t}) : "";
                if (tile.empty()) tile = expand(tilePattern, {f, t});
                if (tile.empty()) {
                    usageError("--tile " + tilePattern + " needs %d for the frame, then the tile");
                }
                frames.back().second.push_back(tile);
            }
        }
    }
    if (frames.empty() && sheet.empty()) usageError("nothing to do");
    for (const auto& f : frames) {
        if (f.second.empty()) usageError("--out " + f.first + " has no tiles");
    }
    if (sheetFrames.empty()) {
        for (const auto& f : frames) sheetFrames.push_back(f.first);
    }
    if (!sheet.empty() && sheetFrames.empty()) usageError("--sheet " + sheet + " has no frames");
    // Every frame is tried, so that one run names every missing tile.
    int failed = 0;
    for (const auto& f : frames) {
        try {
            mergeFrame(f.first, f.second);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "vesper-merge: %s\n", e.what());
            ++failed;
        }
    }
    if (failed) {
        std::fprintf(stderr, "vesper-merge: %d of %zu frames not written\n", failed, frames.size());
        return 1;
    }
    if (!sheet.empty()) {
        try {
            contactSheet(sheet, sheetFrames, columns);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "vesper-merge: %s\n", e.what());
            return 1;
        }
    }
    return 0;
}
