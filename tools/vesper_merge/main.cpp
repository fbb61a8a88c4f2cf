// vesper-merge: assembles the tiles `vesper-render --region` wrote into whole
// frames, and a wedge's frames into a labelled contact sheet. A tile that is
// missing, overlaps another or belongs to another render (size, seed, samples,
// scene hash, frame) is refused by name; nothing is written for that frame.
//
//   vesper-merge --out FRAME TILE... [--out FRAME TILE...]... [--sheet SHEET [FRAME...]]
//   vesper-merge --frames N --tiles T --out PATTERN --tile PATTERN [--sheet SHEET]
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
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

// Frame f of the patterns --out and --tile, with its tiles; "" for a name a
// pattern cannot make.
FrameTiles expandFrame(const Options& o, int f) {
    const std::string& pattern = o.frames[0].first;
    // One frame may leave the frame number out of both patterns.
    bool single = o.frameCount == 1;
    std::string out = single ? vrender::expandPattern(pattern, {}) : "";
    if (out.empty()) out = vrender::expandPattern(pattern, {f});
    FrameTiles frame{out, {}};
    for (int t = 0; t < o.tileCount; ++t) {
        std::string tile = single ? vrender::expandPattern(o.tilePattern, {t}) : "";
        if (tile.empty()) tile = vrender::expandPattern(o.tilePattern, {f, t});
        frame.second.push_back(tile);
    }
    return frame;
}

bool patterned(const Options& o) {
    return o.frameCount || o.tileCount || !o.tilePattern.empty();
}

int frameTotal(const Options& o) {
    return patterned(o) ? o.frameCount : static_cast<int>(o.frames.size());
}

// Frame f with its tiles: named on the command line, or made from the patterns
// one frame at a time, so that a million tile names are never held at once.
FrameTiles frameAt(const Options& o, int f) {
    return patterned(o) ? expandFrame(o, f) : o.frames[static_cast<size_t>(f)];
}

// The patterns checked: both make names, and frames x tiles within the limit.
void checkPatterns(const vhost::CommandLine& cl, const Options& o) {
    if (!o.frameCount || !o.tileCount || o.tilePattern.empty() || o.frames.size() != 1 ||
        !o.frames[0].second.empty()) {
        cl.fail("--frames, --tiles, --tile and one --out pattern go together");
    }
    int64_t tiles = int64_t{o.frameCount} * o.tileCount;
    if (tiles > vref::kMaxTasks) {
        cl.fail("--frames " + std::to_string(o.frameCount) + " x --tiles " +
                std::to_string(o.tileCount) + " makes " + std::to_string(tiles) +
                " tiles; a merge reads at most " + std::to_string(vref::kMaxTasks));
    }
    FrameTiles first = expandFrame(o, 0);
    if (first.first.empty()) cl.fail("--out " + o.frames[0].first + " needs one %d for the frame");
    if (first.second[0].empty()) {
        cl.fail("--tile " + o.tilePattern + " needs %d for the frame, then the tile");
    }
}

// The files the command reads and writes, told apart by their identity (device
// and inode) when they exist and by their absolute path otherwise.
class FileSet {
  public:
    // Adds `path`, described as `what`; false when it is already in the set.
    bool insert(const std::string& path, const std::string& what) {
        bool added = paths_.emplace(normal(path), what).second;
        struct stat st;
        if (stat(path.c_str(), &st) == 0) {
            added = files_.emplace(Id{st.st_dev, st.st_ino}, what).second && added;
        }
        return added;
    }
    // How the file `path` was described when added, or "".
    std::string find(const std::string& path) const {
        auto p = paths_.find(normal(path));
        if (p != paths_.end()) return p->second;
        struct stat st;
        if (stat(path.c_str(), &st) != 0) return "";
        auto f = files_.find(Id{st.st_dev, st.st_ino});
        return f != files_.end() ? f->second : "";
    }

  private:
    using Id = std::pair<dev_t, ino_t>;
    static std::string normal(const std::string& path) {
        std::error_code ec;
        return std::filesystem::absolute(path, ec).lexically_normal().string();
    }
    std::map<std::string, std::string> paths_;
    std::map<Id, std::string> files_;
};

// Refuses, before anything is written, a command that would write a file twice
// or overwrite one of its inputs (by any of its names). The sheet may show the
// frames just merged, but not itself.
void checkOutputs(const vhost::CommandLine& cl, const Options& o) {
    FileSet outputs, sheet;
    auto output = [&](const std::string& option, const std::string& path) {
        if (!outputs.insert(path, option + " " + path)) {
            cl.fail(option + " " + path + " writes the file of " + outputs.find(path) + " again");
        }
    };
    int frames = frameTotal(o);
    for (int f = 0; f < frames; ++f) output("--out", frameAt(o, f).first);
    if (!o.sheet.empty()) {
        output("--sheet", o.sheet);
        sheet.insert(o.sheet, "--sheet " + o.sheet);
    }
    auto input = [&](const FileSet& written, const std::string& path) {
        std::string clash = written.find(path);
        if (!clash.empty()) cl.fail(clash + " would overwrite its input " + path);
    };
    for (int f = 0; f < frames; ++f) {
        for (const std::string& tile : frameAt(o, f).second) input(outputs, tile);
    }
    for (const std::string& frame : o.sheetFrames) input(sheet, frame);
}

// What the command line asks for, complete: patterns checked, the sheet's
// frames, the limits, no input overwritten.
Options complete(const vhost::CommandLine& cl, Options o) {
    if (patterned(o)) checkPatterns(cl, o);
    if (o.frames.empty() && o.sheet.empty()) cl.fail("nothing to do");
    int64_t tiles = 0;
    for (const FrameTiles& f : o.frames) {
        if (f.second.empty() && !patterned(o)) cl.fail("--out " + f.first + " has no tiles");
        if (f.second.size() > static_cast<size_t>(vref::kMaxTiles)) {
            cl.fail("--out " + f.first + " has more than " + std::to_string(vref::kMaxTiles) +
                    " tiles");
        }
        tiles += static_cast<int64_t>(f.second.size());
    }
    if (tiles > vref::kMaxTasks || o.frames.size() > static_cast<size_t>(vref::kMaxFrames)) {
        cl.fail("more than " + std::to_string(vref::kMaxFrames) + " frames or " +
                std::to_string(vref::kMaxTasks) + " tiles");
    }
    if (o.sheetFrames.empty()) {
        for (int f = 0; f < frameTotal(o); ++f) o.sheetFrames.push_back(frameAt(o, f).first);
    }
    if (!o.sheet.empty() && o.sheetFrames.empty()) cl.fail("--sheet " + o.sheet + " has no frames");
    if (o.sheetFrames.size() > static_cast<size_t>(vref::kMaxFrames)) {
        cl.fail("--sheet " + o.sheet + " has more than " + std::to_string(vref::kMaxFrames) +
                " frames");
    }
    checkOutputs(cl, o);
    return o;
}

void writeOrThrow(const vref::Image& image, const std::string& path,
                  const vref::ImageMetadata& meta = {}) {
    std::string err = vref::writeImage(image, path, meta);
    if (!err.empty()) throw vrender::MergeError(err);
}

// Every frame is tried, so that one run names every missing tile.
int mergeFrames(const Options& o) {
    int failed = 0, frames = frameTotal(o);
    for (int i = 0; i < frames; ++i) {
        FrameTiles f = frameAt(o, i);
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
        std::fprintf(stderr, "vesper-merge: %d of %d frames not written\n", failed, frames);
    }
    return failed;
}

int writeSheet(const Options& o) {
    try {
        vrender::ContactSheet sheet = vrender::contactSheet(o.sheet, o.sheetFrames, o.columns);
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
    if (mergeFrames(o)) return 1;
    return o.sheet.empty() ? 0 : writeSheet(o);
}
