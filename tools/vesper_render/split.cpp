#include "tools/vesper_render/split.h"

#include <cinttypes>
#include <cstdio>
#include <stdexcept>

namespace vrender {

using nlohmann::json;

std::string sceneHash(const json& doc, const vref::RenderSettings& s, bool labels) {
    json settings = {{"width", s.width},
                     {"height", s.height},
                     {"spp", s.spp},
                     {"seed", s.seed},
                     {"mode", s.mode == vref::Mode::Path ? "path" : "direct"},
                     {"maxDepth", s.maxDepth},
                     {"aoSamples", s.aoSamples},
                     {"aoDistance", s.aoDistance},
                     {"giSamples", s.giSamples},
                     {"clamp", s.clampValue},
                     {"labels", labels}};
    // Objects dump with sorted keys and no spaces: the same scene gives the
    // same text however its file was laid out.
    std::string text = doc.dump() + "\n" + settings.dump();
    uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a
    for (unsigned char c : text) h = (h ^ c) * 0x100000001b3ull;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016" PRIx64, h);
    return hex;
}

std::string valueLabel(const json& v) {
    if (v.is_string()) return v.get<std::string>();
    if (v.is_number()) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", v.get<double>());
        return text;
    }
    if (v.is_array()) {
        std::string s = "[";
        for (size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + valueLabel(v[i]);
        return s + "]";
    }
    return v.dump();
}

std::vector<vref::Region> splitFrame(int width, int height, int tiles) {
    if (tiles < 1 || tiles > kMaxTiles) {
        throw std::invalid_argument("--tiles expects 1 to " + std::to_string(kMaxTiles));
    }
    int rows = 1;
    for (int d = 1; d * d <= tiles; ++d) {
        if (tiles % d == 0) rows = d;
    }
    int cols = tiles / rows;
    if (height > width) std::swap(rows, cols);
    if (cols > width || rows > height) {
        throw std::invalid_argument("a " + std::to_string(width) + " x " + std::to_string(height) +
                                    " image cannot be split into " + std::to_string(rows) + " x " +
                                    std::to_string(cols) + " tiles");
    }
    std::vector<vref::Region> out;
    auto at = [](int i, int n, int size) { return static_cast<int>(int64_t{i} * size / n); };
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            out.push_back({at(c, cols, width), at(r, rows, height), at(c + 1, cols, width),
                           at(r + 1, rows, height)});
        }
    }
    return out;
}

std::string shellQuote(const std::string& arg) {
    bool plain = !arg.empty();
    for (char c : arg) {
        plain = plain && (std::isalnum(static_cast<unsigned char>(c)) ||
                          std::string("_-./,=:+@%").find(c) != std::string::npos);
    }
    if (plain) return arg;
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

namespace {

// A number padded to at least `width` digits, wider when `largest` needs it.
std::string padded(int n, int largest, int width) {
    int digits = static_cast<int>(std::to_string(largest).size());
    char text[32];
    std::snprintf(text, sizeof text, "%0*d", std::max(width, digits), n);
    return text;
}

}  // namespace

std::vector<std::string> planLines(const PlanRequest& p) {
    std::vector<vref::Region> regions = splitFrame(p.width, p.height, p.tiles);
    std::vector<std::string> lines;
    std::string merge = shellQuote(p.merge), sheet;
    for (int f = 0; f < p.frames.count; ++f) {
        std::string frameName =
            p.name + (p.framed ? "_f" + padded(f, p.frames.count - 1, 4) : std::string());
        std::string frameFile = p.outDir + "/" + frameName + "." + p.format;
        merge += " --out " + shellQuote(frameFile);
        sheet += " " + shellQuote(frameFile);
        for (size_t t = 0; t < regions.size(); ++t) {
            const vref::Region& r = regions[t];
            std::string tile = p.outDir + "/tiles/" + frameName + "_t" +
                               padded(static_cast<int>(t), p.tiles - 1, 2) + ".exr";
            std::string line = shellQuote(p.render);
            if (!p.scene.empty()) line += " --scene " + shellQuote(p.scene);
            if (p.framed) line += " --frame " + std::to_string(f);
            line += " --region " + std::to_string(r.x0) + "," + std::to_string(r.y0) + "," +
                    std::to_string(r.x1) + "," + std::to_string(r.y1);
            line += " --out " + shellQuote(tile);
            for (const std::string& a : p.pass) line += " " + shellQuote(a);
            lines.push_back(line);
            merge += " " + shellQuote(tile);
        }
    }
    if (!p.frames.values.empty()) {
        merge += " --sheet " + shellQuote(p.outDir + "/" + p.name + "_sheet.png") + sheet;
    }
    lines.push_back(merge);
    return lines;
}

}  // namespace vrender
