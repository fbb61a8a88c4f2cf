#include "host/reference/plan.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "host/reference/limits.h"

namespace vrender {

using nlohmann::json;

std::string sceneHash(const json& doc, const vref::RenderSettings& s) {
    json settings = {{"width", s.width},
                     {"height", s.height},
                     {"spp", s.spp},
                     {"seed", s.seed},
                     {"mode", s.mode == vref::Mode::Path ? "path" : "direct"},
                     {"maxDepth", s.maxDepth},
                     {"aoSamples", s.aoSamples},
                     {"aoDistance", s.aoDistance},
                     {"giSamples", s.giSamples},
                     {"clamp", s.clampValue}};
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
    if (tiles < 1 || tiles > vref::kMaxTiles) {
        throw std::invalid_argument("--tiles expects 1 to " + std::to_string(vref::kMaxTiles));
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
    // ASCII by value, not by locale; "=" is quoted so that no word can read as
    // an assignment.
    auto plain = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               (c != '\0' && std::strchr("_-./,:+@%", c) != nullptr);
    };
    if (!arg.empty() && std::all_of(arg.begin(), arg.end(), plain)) return arg;
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

namespace {

// The length of the character at s[i] if a plan must refuse it, else 0.
size_t unsafeAt(const std::string& s, size_t i) {
    auto at = [&](size_t k) { return k < s.size() ? static_cast<unsigned char>(s[k]) : 0; };
    unsigned char c = at(i);
    if (c < 0x20 || c == 0x7f) return 1;
    if (c == 0xc2 && at(i + 1) >= 0x80 && at(i + 1) <= 0x9f) return 2;  // U+0080 to U+009F
    if (c == 0xe2 && at(i + 1) == 0x80 && (at(i + 2) == 0xa8 || at(i + 2) == 0xa9)) return 3;
    return 0;
}

// The refused character of `n` bytes at s[i] as an escape.
std::string escapeAt(const std::string& s, size_t i, size_t n) {
    const char* named[] = {"\\t", "\\n", nullptr, nullptr, "\\r"};
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (n == 1 && c >= 9 && c <= 13 && named[c - 9]) return named[c - 9];
    char text[8];
    if (n == 1) std::snprintf(text, sizeof text, "\\x%02x", c);
    if (n == 2) std::snprintf(text, sizeof text, "\\u00%02x", static_cast<unsigned char>(s[i + 1]));
    if (n == 3) std::snprintf(text, sizeof text, "\\u%04x", 0x2000 + (s[i + 2] & 0xff) - 0x80);
    return text;
}

// `s` fit for a one-line message: refused characters escaped.
std::string printable(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size();) {
        size_t n = unsafeAt(s, i);
        out += n ? escapeAt(s, i, n) : std::string(1, s[i]);
        i += n ? n : 1;
    }
    return out;
}

}  // namespace

std::string planUnsafe(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        size_t n = unsafeAt(text, i);
        if (n == 0) continue;
        std::string e = escapeAt(text, i, n);
        if (e == "\\n") return "a line feed (\\n)";
        if (e == "\\r") return "a carriage return (\\r)";
        if (e == "\\u2028") return "a line separator (\\u2028)";
        if (e == "\\u2029") return "a paragraph separator (\\u2029)";
        return "the control character " + e;
    }
    return "";
}

std::string planHeader(int64_t tasks) {
    return "# vesper-render plan: " + std::to_string(tasks) + " tasks, then the merge";
}

namespace {

// Throws, naming the name or path and the character, when `text` cannot go into a plan.
void checkPlanText(const std::string& what, const std::string& text) {
    std::string bad = planUnsafe(text);
    if (!bad.empty()) {
        throw std::invalid_argument(what + " \"" + printable(text) + "\" holds " + bad +
                                    ": a plan cannot carry control characters");
    }
}

void checkPlanTexts(const PlanRequest& p) {
    checkPlanText("the path of vesper-render", p.render);
    checkPlanText("the path of vesper-merge", p.merge);
    checkPlanText("--scene", p.scene);
    checkPlanText("the scene's name", p.name);
    checkPlanText("--out-dir", p.outDir);
    checkPlanText("--format", p.format);
    // Options come in pairs: a value is named by its option.
    for (size_t i = 0; i < p.pass.size(); ++i) {
        checkPlanText(i % 2 ? p.pass[i - 1] : "the option", p.pass[i]);
    }
}

}  // namespace

std::vector<std::string> planLines(const PlanRequest& p) {
    checkPlanTexts(p);
    std::vector<vref::Region> regions = splitFrame(p.width, p.height, p.tiles);
    if (int64_t{p.frames.count} * p.tiles > vref::kMaxTasks) {
        throw std::invalid_argument(std::to_string(int64_t{p.frames.count} * p.tiles) +
                                    " tasks: a plan holds at most " +
                                    std::to_string(vref::kMaxTasks));
    }
    int frameDigits = std::max(4, static_cast<int>(std::to_string(p.frames.count - 1).size()));
    int tileDigits = std::max(2, static_cast<int>(std::to_string(p.tiles - 1).size()));
    auto number = [](int n, int digits) {
        std::string text = std::to_string(n);
        return std::string(std::max(0, digits - static_cast<int>(text.size())), '0') + text;
    };
    // vesper-merge gets the same names as printf patterns, which it expands:
    // the merge line stays short however many tiles there are.
    auto escaped = [](const std::string& s) {
        std::string e;
        for (char c : s) e += c == '%' ? std::string("%%") : std::string(1, c);
        return e;
    };
    std::string framePattern = escaped(p.outDir + "/" + p.name);
    std::string tilePattern = escaped(p.outDir + "/tiles/" + p.name);
    if (p.framed) {
        framePattern += "_f%0" + std::to_string(frameDigits) + "d";
        tilePattern += "_f%0" + std::to_string(frameDigits) + "d";
    }
    framePattern += "." + p.format;
    tilePattern += "_t%0" + std::to_string(tileDigits) + "d.exr";
    std::vector<std::string> lines = {planHeader(int64_t{p.frames.count} * p.tiles)};
    for (int f = 0; f < p.frames.count; ++f) {
        for (size_t t = 0; t < regions.size(); ++t) {
            const vref::Region& r = regions[t];
            std::string line = shellQuote(p.render);
            line += " --scene " + shellQuote(p.scene);
            if (p.framed) line += " --frame " + std::to_string(f);
            line += " --region " + std::to_string(r.x0) + "," + std::to_string(r.y0) + "," +
                    std::to_string(r.x1) + "," + std::to_string(r.y1);
            std::string tile = p.outDir + "/tiles/" + p.name +
                               (p.framed ? "_f" + number(f, frameDigits) : std::string()) + "_t" +
                               number(static_cast<int>(t), tileDigits) + ".exr";
            line += " --out " + shellQuote(tile);
            for (const std::string& a : p.pass) line += " " + shellQuote(a);
            lines.push_back(line);
        }
    }
    std::string merge = shellQuote(p.merge) + " --frames " + std::to_string(p.frames.count) +
                        " --tiles " + std::to_string(p.tiles) + " --out " +
                        shellQuote(framePattern) + " --tile " + shellQuote(tilePattern);
    if (!p.frames.values.empty()) {
        merge += " --sheet " + shellQuote(p.outDir + "/" + p.name + "_sheet.png");
    }
    lines.push_back(merge);
    return lines;
}

}  // namespace vrender
