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
#include <filesystem>
#include <mutex>
#include <string>

#include "host/command_line.h"
#include "host/reference/gallery.h"
#include "host/reference/image_io.h"
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
    "  --limits            print every limit of the reference host and its tools as JSON\n"
    "\n"
    "usage: vesper-render plan [--tiles N] [--out-dir DIR] [--format png|exr] [options]\n"
    "  prints a task list: a line with the number of tasks, one shell command per line\n"
    "  for every tile of every frame, then the vesper-merge command that assembles them\n"
    "  (docs/scale.md)\n"
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

// X0,Y0,X1,Y1: four whole numbers within the image, not empty or reversed
// whatever the image; its bounds are checked with the scene.
vref::Region parseRegion(const vhost::CommandLine& cl, const std::string& v) {
    long long c[4];
    const char* p = v.c_str();
    for (int k = 0; k < 4; ++k) {
        char* end = nullptr;
        errno = 0;
        c[k] = std::strtoll(p, &end, 10);
        bool ok = end != p && errno != ERANGE && std::llabs(c[k]) <= vref::kMaxImageSide &&
                  *end == (k < 3 ? ',' : '\0');
        if (!ok) {
            cl.fail("--region expects X0,Y0,X1,Y1, whole numbers within the image, not \"" + v +
                    "\"");
        }
        p = end + 1;
    }
    vref::Region r{static_cast<int>(c[0]), static_cast<int>(c[1]), static_cast<int>(c[2]),
                   static_cast<int>(c[3])};
    // Empty or reversed whatever the image; its bounds are checked with the scene.
    // All zeros would read as the whole frame, so it is named here.
    if (c[2] <= c[0] || c[3] <= c[1]) {
        std::string bad = vref::validate(r, 0, 0);
        cl.fail(bad.empty() ? "region " + v + " is empty" : bad);
    }
    return r;
}

// An option of the image, which a plan passes on to its tasks; false for others.
bool readImageOption(vhost::CommandLine& cl, Options& o) {
    const std::string& a = cl.arg();
    if (a == "--width" || a == "--height" || a == "--spp" || a == "--threads" || a == "--seed") {
        long long n = cl.integer(cl.value());
        o.overrides[a.substr(2)] = n;
        o.pass.insert(o.pass.end(), {a, std::to_string(n)});
    } else if (a == "--mode") {
        std::string m = cl.value();
        if (m != "direct" && m != "path") cl.fail("--mode expects direct or path");
        o.overrides["mode"] = m;
        o.pass.insert(o.pass.end(), {a, m});
    } else {
        return false;
    }
    return true;
}

// An option of a render or a plan alone; false for others.
bool readModeOption(vhost::CommandLine& cl, Options& o) {
    const std::string& a = cl.arg();
    if (a == "--out") {
        o.out = cl.nonEmpty(cl.value(), "a file name");
    } else if (a == "--frame") {
        long long n = cl.integer(cl.value());
        if (n < 0 || n >= vref::kMaxFrames) cl.fail("--frame expects a frame number from 0");
        o.frame = static_cast<int>(n);
    } else if (a == "--region") {
        o.region = parseRegion(cl, cl.value());
        o.hasRegion = true;
    } else if (a == "--tiles") {
        long long n = cl.integer(cl.value());
        if (n < 1 || n > vref::kMaxTiles) {
            cl.fail("--tiles expects 1 to " + std::to_string(vref::kMaxTiles));
        }
        o.tiles = static_cast<int>(n);
    } else if (a == "--out-dir") {
        o.outDir = cl.nonEmpty(cl.value(), "a directory name");
    } else if (a == "--format") {
        o.format = cl.value();
        if (o.format != "png" && o.format != "exr") cl.fail("--format expects png or exr");
    } else {
        return false;
    }
    return true;
}

// The limits table, as the documents' tables are generated from it.
void printLimits() {
    const std::pair<vref::LimitDoc, const char*> docs[] = {
        {vref::kDocRenderer, "renderer"}, {vref::kDocScale, "scale"}, {vref::kDocStudio, "studio"}};
    nlohmann::json out = nlohmann::json::array();
    for (const vref::Limit& l : vref::kLimits) {
        nlohmann::json j = {
            {"name", l.name}, {"meaning", l.meaning}, {"docs", nlohmann::json::array()}};
        // Whole numbers as integers, so that they print without a fraction.
        if (l.value == std::floor(l.value) && std::fabs(l.value) < 0x1p53) {
            j["value"] = static_cast<int64_t>(l.value);
        } else {
            j["value"] = l.value;
        }
        for (const auto& [doc, name] : docs) {
            if (l.docs & doc) j["docs"].push_back(name);
        }
        out.push_back(j);
    }
    std::printf("%s\n", out.dump(1).c_str());
}

Options parse(int argc, char** argv) {
    Options o;
    o.plan = argc > 1 && std::string(argv[1]) == "plan";
    vhost::CommandLine cl("vesper-render", kUsage, argc, argv, o.plan ? 2 : 1);
    while (cl.next()) {
        const std::string& a = cl.arg();
        bool planOnly = a == "--tiles" || a == "--out-dir" || a == "--format";
        bool renderOnly = a == "--out" || a == "--region" || a == "--frame";
        if ((planOnly && !o.plan) || (renderOnly && o.plan)) {
            cl.fail(a + (o.plan ? " is not an option of plan" : " is an option of plan"));
        }
        if (a == "--limits") {
            printLimits();
            std::exit(0);
        } else if (a == "--scene") {
            o.scene = cl.nonEmpty(cl.value(), "a file name");
        } else if (a == "--library") {
            o.library = cl.value();
        } else if (a == "--no-labels") {
            o.labels = false;
        } else if (!readImageOption(cl, o) && !readModeOption(cl, o)) {
            cl.fail("unknown option " + a);
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

// A scene file's frame, loaded, with what a plan and the output's metadata need.
struct Job {
    std::string name;  // the scene file's stem
    nlohmann::json doc;
    vrender::Frames frames;
    bool framed = false;  // the scene has an animation or wedge block
    int frame = 0;
    vref::Scene scene;
    vref::RenderSettings settings;
};

// Prints the task list of a plan: every line a shell command.
int plan(const Options& opt, const Job& job) {
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
    p.name = job.name;
    p.outDir = fs::absolute(opt.outDir.empty() ? "out/" + job.name : opt.outDir)
                   .lexically_normal()
                   .string();
    while (p.outDir.size() > 1 && p.outDir.back() == '/') p.outDir.pop_back();
    p.format = opt.format;
    p.pass = {"--library", fs::absolute(opt.library).lexically_normal().string()};
    p.pass.insert(p.pass.end(), opt.pass.begin(), opt.pass.end());
    p.frames = job.frames;
    p.framed = job.framed;
    p.width = job.settings.width;
    p.height = job.settings.height;
    p.tiles = opt.tiles;
    try {
        for (const std::string& line : vrender::planLines(p)) std::printf("%s\n", line.c_str());
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "vesper-render: %s\n", e.what());
        return 1;
    }
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

// "" when the library loads and has classes of this interface revision.
std::string unusable(const vhost::Library& lib, const std::string& path) {
    if (!lib.loaded()) return "cannot load " + path + ": " + lib.error();
    // Only classes of this interface revision are ever created.
    for (const std::string& c : lib.classes()) {
        if (lib.apiVersion(c) == pxs::kApiVersion) return "";
    }
    return path + " exports no shader classes of API version " + std::to_string(pxs::kApiVersion);
}

// Loads the frame of the scene the options name, with the command line's settings.
void loadJob(const Options& opt, const vhost::Library& lib, Job& job) {
    const std::string& sceneName = opt.scene;
    job.name = std::filesystem::path(sceneName).stem().string();
    job.frame = std::max(opt.frame, 0);
    job.doc = vrender::readSceneDocument(sceneName);
    std::string baseDir = std::filesystem::path(sceneName).parent_path().string();
    job.frames = vrender::readFrames(job.doc, sceneName);
    job.framed = job.doc.contains("animation") || job.doc.contains("wedge");
    if (job.frame >= job.frames.count) {
        throw std::invalid_argument(sceneName + " has " + std::to_string(job.frames.count) +
                                    " frame(s), numbered from 0; there is no frame " +
                                    std::to_string(job.frame));
    }
    vrender::loadScene(vrender::frameDocument(job.doc, job.frames, job.frame), sceneName, baseDir,
                       lib, job.scene, job.settings);
    if (opt.plan) vrender::checkFrames(job.doc, job.frames, sceneName, baseDir, lib);
    vrender::applyRenderSettings(opt.overrides, "command line", job.settings);
    std::string outside = vref::validate(opt.region, job.settings.width, job.settings.height);
    if (!outside.empty()) throw std::invalid_argument("command line: " + outside);
}

// A bar on a terminal, a line at every quarter otherwise.
class ProgressBar {
  public:
    ProgressBar() : tty_(isatty(fileno(stderr))) {}
    ~ProgressBar() {
        if (tty_) std::fputc('\n', stderr);
    }

    void show(int done, int total) {
        int percent = 100 * done / total;
        std::lock_guard<std::mutex> lock(printing_);
        // Threads report out of order: a bar never goes back.
        if (percent <= lastShown_ || (!tty_ && percent % 25 != 0)) return;
        lastShown_ = percent;
        const int width = 40;
        int filled = width * done / total;
        std::fprintf(stderr, "%s[%s%s] %3d%%%s", tty_ ? "\r" : "", std::string(filled, '#').c_str(),
                     std::string(width - filled, '.').c_str(), percent, tty_ ? "" : "\n");
        std::fflush(stderr);
    }

  private:
    bool tty_;
    std::mutex printing_;
    int lastShown_ = -1;
};

// What vesper-merge checks tiles by, and labels a wedge's frames with. A plain
// render keeps it only where the format has room (EXR's header).
vref::ImageMetadata metadata(const Options& opt, const Job& job) {
    vref::ImageMetadata meta;
    meta.tile = opt.hasRegion;
    std::string ext = std::filesystem::path(opt.out).extension().string();
    if (!opt.hasRegion && !job.framed && ext != ".exr" && ext != ".EXR") return meta;
    meta.attributes = {{"sceneHash", vrender::sceneHash(job.doc, job.settings)},
                       {"seed", std::to_string(job.settings.seed)},
                       {"spp", job.settings.spp}};
    if (job.framed) {
        meta.attributes["frame"] = job.frame;
        meta.attributes["frames"] = job.frames.count;
    }
    if (!job.frames.values.empty()) {
        meta.attributes["wedgeObject"] = job.frames.object;
        meta.attributes["wedgeParameter"] = job.frames.parameter;
        meta.attributes["wedgeValue"] = vrender::valueLabel(job.frames.values[job.frame]);
    }
    return meta;
}

void report(const Options& opt, const Job& job, const vref::RenderResult& result) {
    double rays = static_cast<double>(result.stats.rays);
    std::string region;
    if (opt.hasRegion) {
        const vref::Region& r = opt.region;
        region = " region [" + std::to_string(r.x0) + ", " + std::to_string(r.y0) + ", " +
                 std::to_string(r.x1) + ", " + std::to_string(r.y1) + ") of";
    }
    const vref::RenderSettings& settings = job.settings;
    std::printf("%s:%s %dx%d, %d spp, %s mode, %d threads, %zu objects, %zu lights\n",
                opt.out.c_str(), region.c_str(), settings.width, settings.height, settings.spp,
                settings.mode == vref::Mode::Path ? "path" : "direct", result.threads,
                job.scene.objectCount(), job.scene.lights.size());
    std::printf("%.2f s, %.3g rays (%.3g rays/s), %.3g shader calls\n", result.seconds, rays,
                result.seconds > 0 ? rays / result.seconds : 0.0,
                static_cast<double>(result.stats.shadeCalls));
}

int renderJob(Options& opt, const Job& job) {
    if (opt.out.empty()) opt.out = "out/" + job.name + ".png";
    // Before the render, not after it: an output that cannot be written.
    std::string unwritable = vref::checkOutput(opt.out);
    if (!unwritable.empty()) {
        std::fprintf(stderr, "vesper-render: %s\n", unwritable.c_str());
        return 1;
    }
    vref::RenderResult result;
    {
        ProgressBar bar;
        result = vref::render(
            job.scene, job.settings, [&](int done, int total) { bar.show(done, total); }, nullptr,
            opt.region);
    }
    std::string err = vref::writeImage(result.image, opt.out, metadata(opt, job));
    if (!err.empty()) {
        std::fprintf(stderr, "vesper-render: %s\n", err.c_str());
        return 1;
    }
    report(opt, job, result);
    return 0;
}

int run(Options& opt) {
    vhost::Library lib(opt.library);
    std::string bad = unusable(lib, opt.library);
    if (!bad.empty()) {
        std::fprintf(stderr, "vesper-render: %s\n", bad.c_str());
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
    Job job;
    try {
        loadJob(opt, lib, job);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vesper-render: %s\n", e.what());
        return 1;
    }
    return opt.plan ? plan(opt, job) : renderJob(opt, job);
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
