// vesper-render: the reference host. Loads vesperShaders64 with dlopen, builds a
// scene (a JSON file, or the embedded gallery of every exported class) and renders
// it with Embree, oneTBB and OpenImageIO, driving the shaders only through the
// binary contract.
//
//   vesper-render [--scene FILE] [--out FILE.png|FILE.exr] [--width N] [--height N]
//                 [--spp N] [--threads N] [--mode direct|path] [--seed N]
//                 [--library PATH] [--no-labels] [--frame N] [--region X0,Y0,X1,Y1]
//   vesper-render plan [--scene FILE] [--tiles N] [--out-dir DIR] [--format png|exr] ...
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>

#include "host/reference/gallery.h"
#include "host/reference/limits.h"
#include "host/reference/plan.h"
#include "host/reference/renderer.h"
#include "host/reference/scene_loader.h"

namespace {

const char kUsage[] =
    "usage: vesper-render [options]\n"
    "  --scene FILE        render a JSON scene (default: the built-in gallery, a contact\n"
    "                      sheet of every class; --width and --height size each cell)\n"
    "  --out FILE          output image, .png (8-bit sRGB) or .exr (linear, with alpha)\n"
    "                      (default: out/gallery.png, or out/<scene name>.png)\n"
    "  --width N, --height N   image size in pixels\n"
    "  --spp N             samples per pixel\n"
    "  --threads N         render threads (default: all cores)\n"
    "  --mode direct|path  shade-driven direct lighting, or path tracing through the\n"
    "                      materials' sampleBsdf/evaluateBsdf\n"
    "  --seed N            random seed (the same seed gives the same image)\n"
    "  --library PATH      the shader library to load\n"
    "  --no-labels         leave the class names off the gallery\n"
    "  --frame N           frame N (from 0) of a scene with an animation or wedge block\n"
    "  --region X0,Y0,X1,Y1  render only pixels X0 <= x < X1, Y0 <= y < Y1, exactly as\n"
    "                      the whole frame has them; the output keeps its place in the frame\n"
    "\n"
    "usage: vesper-render plan [--tiles N] [--out-dir DIR] [--format png|exr] [options]\n"
    "  prints one shell command per line: a render task for every tile of every frame,\n"
    "  then the vesper-merge command that assembles them (docs/scale.md)\n"
    "  --tiles N           tiles per frame (default 1)\n"
    "  --out-dir DIR       where tiles and frames go (default out/<scene name>)\n"
    "  --format png|exr    of the merged frames (default png)\n"
    "  --scene (required) and the image options above are passed on to every task\n";

struct Options {
    std::string scene, out, library = vhost::Library::defaultPath();
    nlohmann::json overrides = nlohmann::json::object();
    bool labels = true;
    int frame = -1;  // -1: not given
    bool hasRegion = false;
    vref::Region region;
    // plan
    bool plan = false;
    int tiles = 1;
    std::string outDir, format = "png";
    std::vector<std::string> pass;  // options each task of a plan gets
};

[[noreturn]] void usageError(const std::string& what) {
    std::fprintf(stderr, "vesper-render: %s\n%s", what.c_str(), kUsage);
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options o;
    int first = 1;
    if (argc > 1 && std::string(argv[1]) == "plan") {
        o.plan = true;
        first = 2;
    }
    for (int i = first; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usageError(a + " needs a value");
            return argv[++i];
        };
        // A whole number; its range is checked with the scene's settings.
        auto integer = [&]() {
            std::string v = value();
            char* end = nullptr;
            errno = 0;
            long long n = std::strtoll(v.c_str(), &end, 10);
            if (v.empty() || *end || errno == ERANGE) {
                usageError(a + " expects a whole number, not \"" + v + "\"");
            }
            return n;
        };
        // Options that belong to one mode only.
        bool planOnly = a == "--tiles" || a == "--out-dir" || a == "--format";
        bool renderOnly = a == "--out" || a == "--region" || a == "--frame";
        if ((planOnly && !o.plan) || (renderOnly && o.plan)) {
            usageError(a + (o.plan ? " is not an option of plan" : " is an option of plan"));
        }
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "--scene") {
            o.scene = value();
            if (o.scene.empty()) usageError("--scene needs a file name");
        } else if (a == "--out") {
            o.out = value();
            if (o.out.empty()) usageError("--out needs a file name");
        } else if (a == "--library") {
            o.library = value();
        } else if (a == "--width" || a == "--height" || a == "--spp" || a == "--threads" ||
                   a == "--seed") {
            o.overrides[a.substr(2)] = integer();
            o.pass.insert(o.pass.end(),
                          {a, std::to_string(o.overrides[a.substr(2)].get<long long>())});
        } else if (a == "--mode") {
            std::string m = value();
            if (m != "direct" && m != "path") usageError("--mode expects direct or path");
            o.overrides["mode"] = m;
            o.pass.insert(o.pass.end(), {a, m});
        } else if (a == "--no-labels") {
            o.labels = false;
        } else if (a == "--frame") {
            long long n = integer();
            if (n < 0 || n >= vref::kMaxFrames) usageError("--frame expects a frame number from 0");
            o.frame = static_cast<int>(n);
        } else if (a == "--region") {
            std::string v = value();
            long long c[4];
            const char* p = v.c_str();
            for (int k = 0; k < 4; ++k) {
                char* end = nullptr;
                errno = 0;
                c[k] = std::strtoll(p, &end, 10);
                bool ok = end != p && errno != ERANGE && std::llabs(c[k]) <= vref::kMaxImageSide &&
                          *end == (k < 3 ? ',' : '\0');
                if (!ok) {
                    usageError(
                        "--region expects X0,Y0,X1,Y1, whole numbers within the image, not \"" + v +
                        "\"");
                }
                p = end + 1;
            }
            o.region = {static_cast<int>(c[0]), static_cast<int>(c[1]), static_cast<int>(c[2]),
                        static_cast<int>(c[3])};
            o.hasRegion = true;
            // Empty or reversed whatever the image; its bounds are checked with the scene.
            if (c[2] <= c[0] || c[3] <= c[1]) usageError(vref::validate(o.region, 0, 0));
        } else if (a == "--tiles") {
            long long n = integer();
            if (n < 1 || n > vref::kMaxTiles) {
                usageError("--tiles expects 1 to " + std::to_string(vref::kMaxTiles));
            }
            o.tiles = static_cast<int>(n);
        } else if (a == "--out-dir") {
            o.outDir = value();
            if (o.outDir.empty()) usageError("--out-dir needs a directory name");
        } else if (a == "--format") {
            o.format = value();
            if (o.format != "png" && o.format != "exr") usageError("--format expects png or exr");
        } else {
            usageError("unknown option " + a);
        }
    }
    return o;
}

// The built-in gallery: a contact sheet of every class's preview.
int renderGallery(const vhost::Library& lib, Options& opt) {
    vrender::GalleryOptions go;
    go.cell = vrender::galleryCellSettings();
    go.labels = opt.labels;
    if (opt.out.empty()) opt.out = "out/gallery.png";
    vrender::applyRenderSettings(opt.overrides, "command line", go.cell);
    std::string unwritable = vref::checkOutput(opt.out);
    if (!unwritable.empty()) throw std::runtime_error(unwritable);
    vrender::Gallery g = vrender::renderGallery(lib, go, [](int done, int total) {
        std::fprintf(stderr, "\rgallery: %d/%d cells", done, total);
        if (done == total) std::fputc('\n', stderr);
    });
    for (const std::string& note : g.notes) std::fprintf(stderr, "gallery: %s\n", note.c_str());
    std::string err = vref::writeImage(g.image, opt.out);
    if (!err.empty()) throw std::runtime_error(err);
    std::printf("%s: %dx%d, %d cells of %dx%d, %d spp, %s mode\n", opt.out.c_str(), g.image.width,
                g.image.height, g.cells, go.cell.width, go.cell.height, go.cell.spp,
                go.cell.mode == vref::Mode::Path ? "path" : "direct");
    return 0;
}

// Prints the task list of a plan: every line a shell command.
int plan(const Options& opt, const std::string& name, const vrender::Frames& frames, bool framed,
         const vref::RenderSettings& settings) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path self = fs::canonical("/proc/self/exe", ec);
    if (ec) {
        std::fprintf(stderr, "vesper-render: cannot find its own executable: %s\n",
                     ec.message().c_str());
        return 1;
    }
    vrender::PlanRequest p;
    p.render = self.string();
    p.merge = (self.parent_path() / "vesper-merge").string();
    if (!fs::exists(p.merge, ec)) {
        std::fprintf(stderr, "vesper-render: warning: %s does not exist (yet)\n", p.merge.c_str());
    }
    p.scene = fs::absolute(opt.scene).lexically_normal().string();
    p.name = name;
    p.outDir =
        fs::absolute(opt.outDir.empty() ? "out/" + name : opt.outDir).lexically_normal().string();
    while (p.outDir.size() > 1 && p.outDir.back() == '/') p.outDir.pop_back();
    p.format = opt.format;
    p.pass = {"--library", fs::absolute(opt.library).lexically_normal().string()};
    p.pass.insert(p.pass.end(), opt.pass.begin(), opt.pass.end());
    p.frames = frames;
    p.framed = framed;
    p.width = settings.width;
    p.height = settings.height;
    p.tiles = opt.tiles;
    try {
        for (const std::string& line : vrender::planLines(p)) std::printf("%s\n", line.c_str());
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "vesper-render: %s\n", e.what());
        return 1;
    }
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

int run(Options& opt) {
    vhost::Library lib(opt.library);
    if (!lib.loaded()) {
        std::fprintf(stderr, "vesper-render: cannot load %s: %s\n", opt.library.c_str(),
                     lib.error().c_str());
        return 1;
    }
    // Only classes of this interface revision are ever created.
    size_t usable = 0;
    for (const std::string& c : lib.classes()) usable += lib.apiVersion(c) == pxs::kApiVersion;
    if (usable == 0) {
        std::fprintf(stderr, "vesper-render: %s exports no shader classes of API version %d\n",
                     opt.library.c_str(), pxs::kApiVersion);
        return 1;
    }
    if (opt.scene.empty()) {
        // The gallery is a sheet of separate previews, not one frame to split.
        if (opt.plan || opt.hasRegion || opt.frame >= 0) {
            std::fprintf(stderr, "vesper-render: %s needs --scene\n",
                         opt.plan        ? "plan"
                         : opt.hasRegion ? "--region"
                                         : "--frame");
            return 1;
        }
        return renderGallery(lib, opt);
    }
    vref::Scene scene;
    vref::RenderSettings settings;
    nlohmann::json doc;
    vrender::Frames frames;
    bool framed = false;
    int frame = std::max(opt.frame, 0);
    std::string name = std::filesystem::path(opt.scene).stem().string();
    try {
        const std::string& sceneName = opt.scene;
        doc = vrender::readSceneDocument(sceneName);
        std::string baseDir = std::filesystem::path(sceneName).parent_path().string();
        frames = vrender::readFrames(doc, sceneName);
        framed = doc.contains("animation") || doc.contains("wedge");
        if (frame >= frames.count) {
            throw std::invalid_argument(sceneName + " has " + std::to_string(frames.count) +
                                        " frame(s), numbered from 0; there is no frame " +
                                        std::to_string(frame));
        }
        vrender::loadScene(vrender::frameDocument(doc, frames, frame), sceneName, baseDir, lib,
                           scene, settings);
        vrender::applyRenderSettings(opt.overrides, "command line", settings);
        std::string outside = vref::validate(opt.region, settings.width, settings.height);
        if (!outside.empty()) throw std::invalid_argument("command line: " + outside);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vesper-render: %s\n", e.what());
        return 1;
    }
    if (opt.plan) return plan(opt, name, frames, framed, settings);
    if (opt.out.empty()) opt.out = "out/" + name + ".png";
    // Before the render, not after it: an output that cannot be written.
    std::string unwritable = vref::checkOutput(opt.out);
    if (!unwritable.empty()) {
        std::fprintf(stderr, "vesper-render: %s\n", unwritable.c_str());
        return 1;
    }
    bool tty = isatty(fileno(stderr));
    std::mutex printing;
    int lastShown = -1;
    auto progress = [&](int done, int total) {
        int percent = 100 * done / total;
        std::lock_guard<std::mutex> lock(printing);
        if (percent == lastShown || (!tty && percent % 25 != 0)) return;
        lastShown = percent;
        const int width = 40;
        int filled = width * done / total;
        std::fprintf(stderr, "%s[%s%s] %3d%%%s", tty ? "\r" : "", std::string(filled, '#').c_str(),
                     std::string(width - filled, '.').c_str(), percent, tty ? "" : "\n");
        std::fflush(stderr);
    };
    vref::RenderResult result = vref::render(scene, settings, progress, nullptr, opt.region);
    if (tty) std::fputc('\n', stderr);
    // What vesper-merge checks tiles by, and labels a wedge's frames with. A
    // plain render keeps it only where the format has room (EXR's header).
    vref::ImageMetadata meta;
    meta.tile = opt.hasRegion;
    std::string ext = std::filesystem::path(opt.out).extension().string();
    if (opt.hasRegion || framed || ext == ".exr" || ext == ".EXR") {
        meta.attributes = {{"sceneHash", vrender::sceneHash(doc, settings)},
                           {"seed", std::to_string(settings.seed)},
                           {"spp", settings.spp}};
        if (framed) {
            meta.attributes["frame"] = frame;
            meta.attributes["frames"] = frames.count;
        }
        if (!frames.values.empty()) {
            meta.attributes["wedgeObject"] = frames.object;
            meta.attributes["wedgeParameter"] = frames.parameter;
            meta.attributes["wedgeValue"] = vrender::valueLabel(frames.values[frame]);
        }
    }
    std::string err = vref::writeImage(result.image, opt.out, meta);
    if (!err.empty()) {
        std::fprintf(stderr, "vesper-render: %s\n", err.c_str());
        return 1;
    }
    double rays = static_cast<double>(result.stats.rays);
    std::string region;
    if (opt.hasRegion) {
        const vref::Region& r = opt.region;
        region = " region [" + std::to_string(r.x0) + ", " + std::to_string(r.y0) + ", " +
                 std::to_string(r.x1) + ", " + std::to_string(r.y1) + ") of";
    }
    std::printf("%s:%s %dx%d, %d spp, %s mode, %d threads, %zu objects, %zu lights\n",
                opt.out.c_str(), region.c_str(), settings.width, settings.height, settings.spp,
                settings.mode == vref::Mode::Path ? "path" : "direct", result.threads,
                scene.objectCount(), scene.lights.size());
    std::printf("%.2f s, %.3g rays (%.3g rays/s), %.3g shader calls\n", result.seconds, rays,
                result.seconds > 0 ? rays / result.seconds : 0.0,
                static_cast<double>(result.stats.shadeCalls));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // A file size limit fails the write (EFBIG) instead of killing the process,
    // so that the partial file is removed and the error reported.
    std::signal(SIGXFSZ, SIG_IGN);
    Options opt = parse(argc, argv);
    try {
        return run(opt);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "vesper-render: out of memory\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vesper-render: %s\n", e.what());
    }
    return 1;
}
