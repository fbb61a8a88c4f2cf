// vesper-studio's request handling, apart from the HTTP server so that tests and
// the fuzzer drive it directly. Every preview is a vesper-render scene document
// (host/reference/preview.h) loaded through the same scene loader, so
// /api/scene returns exactly what /api/render rendered.
//
//   GET  /api/classes   every class: kind, capabilities, parameters with typed
//                       defaults (as `vesper-info --json`), attributes, preset
//   POST /api/render    preview request -> image/png
//   POST /api/scene     preview request -> the scene document
//   POST /api/lobe      {"class", "params", "incidence", "samples", "seed"} ->
//                       evaluateBsdf over the plane of incidence and a weighted
//                       histogram of sampleBsdf directions
//   POST /api/usage     preview request -> which operations each parameter
//                       changes at those values: {"class", "parameters": {name: [op]}}
//
// Bad input is answered 400 with {"error", "field"}; a missing image file 404.
// A request that carries a client id cancels the one still running for that id,
// which is answered 409. Every POST request passes a RenderGate: at
// most Limits::runningRenders of them work at once and Limits::queuedRenders
// wait; beyond that they are answered 503 with Retry-After and the limit named.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/library.h"
#include "host/reference/limits.h"
#include "host/reference/preview.h"
#include "host/reference/scene.h"
#include "host/reference/services.h"
#include "host/studio/render_gate.h"
#include "host/studio/scene_cache.h"

namespace vstudio {

// Request limits, all in one place (docs/studio.md lists them).
struct Limits {
    int maxWidth = vref::kStudioMaxSide;
    int maxHeight = vref::kStudioMaxSide;
    int maxSpp = vref::kStudioMaxSpp;
    // width x height x spp of one render.
    int64_t maxPixelSamples = vref::kStudioMaxPixelSamples;
    int maxLobeSamples = vref::kStudioMaxLobeSamples;
    double maxIncidence = vref::kStudioMaxIncidence;  // degrees
    // POST requests working at once, and waiting for a place.
    int runningRenders = vref::kStudioRunningRenders;
    int queuedRenders = vref::kStudioQueuedRenders;
};

// Why a request stopped early; the first reason given wins. The flag is what
// the renderer checks between tiles.
class Cancel {
  public:
    enum Reason { kNone, kNewerRequest, kHungUp, kStopping };
    void set(Reason why) {
        int none = kNone;
        reason_.compare_exchange_strong(none, why);
        flag_.store(true);
    }
    Reason reason() const { return static_cast<Reason>(reason_.load()); }
    const std::atomic<bool>& flag() const { return flag_; }

  private:
    std::atomic<bool> flag_{false};
    std::atomic<int> reason_{kNone};
};

struct Response {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::map<std::string, std::string> headers;
};

class Studio {
  public:
    // `assetDir` holds the built-in images (written when missing).
    Studio(const vhost::Library& library, std::string assetDir, Limits limits = {});

    // `client` may be empty: such a request cancels nothing and no newer request
    // cancels it. `cancel`, when given, is the request's own: the server sets it
    // when the client hangs up.
    Response handle(const std::string& method, const std::string& path, const std::string& body,
                    const std::string& client = "", std::shared_ptr<Cancel> cancel = nullptr);
    // Cancels every request and refuses new work (503) from now on.
    void stop();

    const nlohmann::json& classes() const { return classesJson_; }
    // Whether a request of `client` is being served.
    bool running(const std::string& client);
    const Limits& limits() const { return limits_; }
    RenderGate::Load load() const { return gate_.load(); }
    // Requests that passed the gate, and those of them a cancel stopped.
    struct Counters {
        int64_t started, cancelled;
    };
    Counters counters() const { return {started_.load(), cancelled_.load()}; }

  private:
    struct Preview;  // a validated preview request
    struct Running;  // a request's cancel, registered while it runs, and its place
    Response render(const nlohmann::json& body, Running& run);
    Response scene(const nlohmann::json& body, Running& run);
    Response lobe(const nlohmann::json& body, Running& run);
    Response usage(const nlohmann::json& body, Running& run);
    Preview parsePreview(const nlohmann::json& body, bool lobe) const;
    // The preview's scene document, and the scene it loads to; a document the
    // loader refuses is a 400.
    nlohmann::json document(const Preview& p) const;
    void load(const nlohmann::json& doc, vref::Scene& scene, vref::RenderSettings& settings) const;
    void begin(const std::string& client, const std::shared_ptr<Cancel>& cancel);
    void end(const std::string& client, const std::shared_ptr<Cancel>& cancel);

    const vhost::Library& lib_;
    std::string assetDir_;
    Limits limits_;
    std::map<std::string, vhost::ClassInfo> info_;
    nlohmann::json classesJson_;
    std::mutex running_;
    std::map<std::string, std::shared_ptr<Cancel>> byClient_;
    std::set<Cancel*> active_;
    bool stopping_ = false;
    RenderGate gate_;
    std::atomic<int64_t> started_{0}, cancelled_{0};
    SceneCache previews_;
};

// A request that cannot be served: the HTTP status, the message and the field;
// for a refusal by a limit of the studio's load, the limit's name and the
// seconds after which to try again.
struct RequestError {
    int status;
    std::string field, message;
    std::string limit = "";
    int retryAfter = 0;
};

}  // namespace vstudio
