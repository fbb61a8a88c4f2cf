// vesper-merge: assembles the tiles `vesper-render --region` wrote into whole
// frames, and a wedge's frames into a labelled contact sheet. A tile that is
// missing, overlaps another or belongs to another render (size, seed, samples,
// scene hash, frame) is refused by name; nothing is written for that frame.
//
//   vesper-merge --out FRAME TILE... [--out FRAME TILE...]... [--sheet SHEET [FRAME...]]
//   vesper-merge --frames N --tiles T --out PATTERN --tile PATTERN [--sheet SHEET]
#include <csignal>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "host/command_line.h"
#include "host/reference/image_io.h"
#include "host/reference/limits.h"
#include "host/reference/merge.h"

namespace {

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

// A frame to write and the tiles it is made of.
using FrameTiles = std::pair<std::string, std::vector<std::string>>;

struct Options {
    std::vector<FrameTiles> frames;
    std::string sheet;
    std::vector<std::string> sheetFrames;
    int columns = 0, frameCount = 0, tileCount = 0;
    std::string tilePattern;
};

Options parse(vhost::CommandLine& cl) {
    Options o;
    std::vector<std::string>* into = nullptr;  // where file names go
    auto fileName = [&] { return cl.nonEmpty(cl.value("a file name"), "a file name"); };
    auto count = [&](int hi) {
        return static_cast<int>(cl.inRange(fileName(), 1, hi, "1 to " + std::to_string(hi)));
    };
    while (cl.next()) {
        const std::string& a = cl.arg();
        if (a == "--out") {
            o.frames.push_back({fileName(), {}});
            into = &o.frames.back().second;
        } else if (a == "--sheet") {
            if (!o.sheet.empty()) cl.fail("only one --sheet");
            o.sheet = fileName();
            into = &o.sheetFrames;
        } else if (a == "--columns") {
            o.columns = count(vref::kMaxSheetColumns);
        } else if (a == "--frames") {
            o.frameCount = count(vref::kMaxFrames);
        } else if (a == "--tiles") {
            o.tileCount = count(vref::kMaxTiles);
        } else if (a == "--tile") {
            o.tilePattern = fileName();
            into = nullptr;
        } else if (cl.isOption()) {
            cl.fail("unknown option " + a);
        } else if (!into) {
            cl.fail(a + ": a file before --out or --sheet");
        } else {
            into->push_back(a);
        }
    }
    return o;
}

// The frames and tiles that --frames, --tiles and the --out and --tile patterns name.
std::vector<FrameTiles> expandPatterns(const vhost::CommandLine& cl, const Options& o) {
    if (!o.frameCount || !o.tileCount || o.tilePattern.empty() || o.frames.size() != 1 ||
        !o.frames[0].second.empty()) {
        cl.fail("--frames, --tiles, --tile and one --out pattern go together");
    }
    const std::string& pattern = o.frames[0].first;
    std::vector<FrameTiles> frames;
    for (int f = 0; f < o.frameCount; ++f) {
        // One frame may leave the frame number out of both patterns.
        std::string out = o.frameCount == 1 ? vrender::expandPattern(pattern, {}) : "";
        if (out.empty()) out = vrender::expandPattern(pattern, {f});
        if (out.empty()) cl.fail("--out " + pattern + " needs one %d for the frame");
        frames.push_back({out, {}});
        for (int t = 0; t < o.tileCount; ++t) {
            std::string tile = o.frameCount == 1 ? vrender::expandPattern(o.tilePattern, {t}) : "";
            if (tile.empty()) tile = vrender::expandPattern(o.tilePattern, {f, t});
            if (tile.empty()) {
                cl.fail("--tile " + o.tilePattern + " needs %d for the frame, then the tile");
            }
            frames.back().second.push_back(tile);
        }
    }
    return frames;
}

// What the command line asks for, complete: patterns expanded, the sheet's frames.
Options complete(const vhost::CommandLine& cl, Options o) {
    if (o.frameCount || o.tileCount || !o.tilePattern.empty()) o.frames = expandPatterns(cl, o);
    if (o.frames.empty() && o.sheet.empty()) cl.fail("nothing to do");
    for (const FrameTiles& f : o.frames) {
        if (f.second.empty()) cl.fail("--out " + f.first + " has no tiles");
    }
    if (o.sheetFrames.empty()) {
        for (const FrameTiles& f : o.frames) o.sheetFrames.push_back(f.first);
    }
    if (!o.sheet.empty() && o.sheetFrames.empty()) cl.fail("--sheet " + o.sheet + " has no frames");
    return o;
}

void writeOrThrow(const vref::Image& image, const std::string& path,
                  const vref::ImageMetadata& meta = {}) {
    std::string err = vref::writeImage(image, path, meta);
    if (!err.empty()) throw vrender::MergeError(err);
}

// Every frame is tried, so that one run names every missing tile.
int mergeFrames(const std::vector<FrameTiles>& frames) {
    int failed = 0;
    for (const FrameTiles& f : frames) {
        try {
            vref::ImageFile frame = vrender::assembleFrame(f.first, f.second);
            vref::ImageMetadata meta;
            meta.attributes = frame.attributes;
            writeOrThrow(frame.image, f.first, meta);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "vesper-merge: %s\n", e.what());
            ++failed;
        }
    }
    if (failed) {
        std::fprintf(stderr, "vesper-merge: %d of %zu frames not written\n", failed, frames.size());
    }
    return failed;
}

int writeSheet(const Options& o) {
    try {
        vrender::ContactSheet sheet = vrender::contactSheet(o.sheetFrames, o.columns);
        if (!sheet.lettered) {
            std::fprintf(stderr, "vesper-merge: warning: no font; %s is unlabelled\n",
                         o.sheet.c_str());
        }
        writeOrThrow(sheet.image, o.sheet);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vesper-merge: %s\n", e.what());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGXFSZ, SIG_IGN);
    vhost::CommandLine cl("vesper-merge", kUsage, argc, argv);
    Options o = complete(cl, parse(cl));
    if (mergeFrames(o.frames)) return 1;
    return o.sheet.empty() ? 0 : writeSheet(o);
}
