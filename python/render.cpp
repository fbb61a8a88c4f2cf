#include "python/render.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <mutex>
#include <thread>

#include "host/reference/limits.h"
#include "host/reference/renderer.h"
#include "host/reference/scene_loader.h"
#include "python/convert.h"
#include "python/images.h"

namespace vpy {

namespace {

using nlohmann::json;

// How often a waiting render looks at Ctrl-C and reports progress.
constexpr auto kPoll = std::chrono::milliseconds(50);

vref::Region regionOf(py::handle region) {
    if (region.is_none()) return {};
    json r = toJson(region, "region");
    bool ok = r.is_array() && r.size() == 4;
    for (size_t i = 0; ok && i < 4; ++i) ok = r[i].is_number_integer();
    // No wider than the largest image, so that the numbers fit an int.
    for (size_t i = 0; ok && i < 4; ++i)
        ok = std::llabs(r[i].get<long long>()) <= vref::kMaxImageSide;
    if (!ok) throw Error("region expects (x0, y0, x1, y1), whole numbers within the image");
    vref::Region out{r[0].get<int>(), r[1].get<int>(), r[2].get<int>(), r[3].get<int>()};
    // Empty or reversed whatever the image; its bounds are checked with the scene.
    if (out.x1 <= out.x0 || out.y1 <= out.y0) throw Error(vref::validate(out, 0, 0));
    return out;
}

int frameOf(py::handle frame) {
    if (frame.is_none()) return 0;
    json f = toJson(frame, "frame");
    if (!f.is_number_integer() || f.get<long long>() < 0 ||
        f.get<long long>() >= vref::kMaxFrames) {
        throw Error("frame expects a frame number from 0");
    }
    return f.get<int>();
}

json overridesOf(const RenderArguments& a) {
    json out = json::object();
    const std::pair<const char*, const py::object*> keys[] = {
        {"width", &a.width}, {"height", &a.height}, {"spp", &a.spp},
        {"mode", &a.mode},   {"seed", &a.seed},     {"threads", &a.threads}};
    for (const auto& [key, value] : keys) {
        if (!value->is_none()) out[key] = toJson(*value, key);
    }
    return out;
}

// The frame of `doc` loaded as vesper-render loads it, with the arguments applied.
void loadFrame(const LibraryContext& lib, py::handle scene, const RenderArguments& args,
               const vref::Region& region, vref::Scene& out, vref::RenderSettings& settings) {
    json doc, overrides = overridesOf(args);
    std::string sceneName = "scene", baseDir = args.baseDir;
    bool file = py::isinstance<py::str>(scene) || py::hasattr(scene, "__fspath__");
    if (file) {
        sceneName = py::str(py::module_::import("os").attr("fspath")(scene)).cast<std::string>();
        baseDir = std::filesystem::path(sceneName).parent_path().string();
    } else if (!py::isinstance<py::dict>(scene)) {
        throw Error("scene expects a dict in the scene format or the name of a scene file");
    }
    int frame = frameOf(args.frame);
    try {
        doc = file ? vrender::readSceneDocument(sceneName) : toJson(scene, "scene");
        vrender::Frames frames = vrender::readFrames(doc, sceneName);
        if (frame >= frames.count) {
            throw Error(sceneName + " has " + std::to_string(frames.count) +
                        " frame(s), numbered from 0; there is no frame " + std::to_string(frame));
        }
        vrender::loadScene(vrender::frameDocument(doc, frames, frame), sceneName, baseDir,
                           lib.library(), out, settings);
    } catch (const vrender::SceneError& e) {
        throw SceneError(e.what());
    }
    try {
        vrender::applyRenderSettings(overrides, "arguments", settings);
    } catch (const vrender::SceneError& e) {
        throw Error(e.what());
    }
    std::string outside = vref::validate(region, settings.width, settings.height);
    if (!outside.empty()) throw Error("arguments: " + outside);
}

// A render on a thread of its own, so that the calling thread can wait without
// the GIL, run the progress callback and notice Ctrl-C.
class Background {
  public:
    Background(const vref::Scene& scene, const vref::RenderSettings& settings,
               const vref::Region& region)
        : worker_([this, &scene, &settings, region] { run(scene, settings, region); }) {}
    ~Background() { stop(); }

    // Waits at most one poll; true once the render has ended.
    bool wait(int* done, int* total) {
        py::gil_scoped_release release;
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, kPoll, [&] { return finished_ || done_ != *done; });
        *done = done_;
        *total = total_;
        return finished_;
    }
    // Cancels the render (when it still runs) and waits for its thread.
    void stop() {
        cancel_ = true;
        if (!worker_.joinable()) return;
        py::gil_scoped_release release;
        worker_.join();
    }
    vref::RenderResult take() {
        stop();
        if (failure_) std::rethrow_exception(failure_);
        return std::move(result_);
    }

  private:
    void run(const vref::Scene& scene, const vref::RenderSettings& settings,
             const vref::Region& region) {
        try {
            result_ = vref::render(
                scene, settings,
                [this](int done, int total) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    done_ = done;
                    total_ = total;
                    changed_.notify_one();
                },
                &cancel_, region);
        } catch (...) {
            failure_ = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
        changed_.notify_one();
    }

    std::atomic<bool> cancel_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    int done_ = 0, total_ = 0;
    bool finished_ = false;
    vref::RenderResult result_;
    std::exception_ptr failure_;
    std::thread worker_;  // last: starts once the members above exist
};

}  // namespace

py::array_t<float> render(LibraryContext& lib, py::handle scene, const RenderArguments& args) {
    if (!args.progress.is_none() && !PyCallable_Check(args.progress.ptr())) {
        throw py::type_error("progress expects a function of (tiles done, tiles in all)");
    }
    vref::Region region = regionOf(args.region);
    vref::Scene world;
    vref::RenderSettings settings;
    loadFrame(lib, scene, args, region, world, settings);
    Background job(world, settings, region);
    int done = 0, total = 0, shown = -1;
    for (bool finished = false; !finished;) {
        finished = job.wait(&done, &total);
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        if (!args.progress.is_none() && done != shown && total > 0) {
            shown = done;
            args.progress(done, total);
        }
    }
    return toArray(std::move(job.take().image));
}

}  // namespace vpy
