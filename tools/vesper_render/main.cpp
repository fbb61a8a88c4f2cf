// vesper-render: the reference host. Loads vesperShaders64 with dlopen, builds a
// scene (a JSON file, or the embedded gallery of every exported class) and renders
// it with Embree, oneTBB and OpenImageIO, driving the shaders only through the
// binary contract.
//
//   vesper-render [--scene FILE] [--out FILE.png|FILE.exr] [--width N] [--height N]
//                 [--spp N] [--threads N] [--mode direct|path] [--seed N]
//                 [--library PATH] [--no-labels]
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

#include "host/reference/renderer.h"
#include "tools/vesper_render/gallery.h"
#include "tools/vesper_render/scene_loader.h"

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
    "  --no-labels         leave the class names off the gallery\n";

struct Options {
    std::string scene, out, library = vhost::Library::defaultPath();
    nlohmann::json overrides = nlohmann::json::object();
    bool labels = true;
};

[[noreturn]] void usageError(const std::string& what) {
    std::fprintf(stderr, "vesper-render: %s\n%s", what.c_str(), kUsage);
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
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
        } else if (a == "--mode") {
            std::string m = value();
            if (m != "direct" && m != "path") usageError("--mode expects direct or path");
            o.overrides["mode"] = m;
        } else if (a == "--no-labels") {
            o.labels = false;
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
    if (opt.scene.empty()) return renderGallery(lib, opt);
    vref::Scene scene;
    vref::RenderSettings settings;
    try {
        vrender::loadSceneFile(opt.scene, lib, scene, settings);
        if (opt.out.empty()) {
            opt.out = "out/" + std::filesystem::path(opt.scene).stem().string() + ".png";
        }
        vrender::applyRenderSettings(opt.overrides, "command line", settings);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vesper-render: %s\n", e.what());
        return 1;
    }
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
    vref::RenderResult result = vref::render(scene, settings, progress);
    if (tty) std::fputc('\n', stderr);
    std::string err = vref::writeImage(result.image, opt.out);
    if (!err.empty()) {
        std::fprintf(stderr, "vesper-render: %s\n", err.c_str());
        return 1;
    }
    double rays = static_cast<double>(result.stats.rays);
    std::printf("%s: %dx%d, %d spp, %s mode, %d threads, %zu objects, %zu lights\n",
                opt.out.c_str(), settings.width, settings.height, settings.spp,
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
