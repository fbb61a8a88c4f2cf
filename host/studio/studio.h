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
// which is answered 409.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/library.h"
#include "host/reference/limits.h"
#include "host/reference/preview.h"
#include "host/reference/scene.h"
#include "host/reference/services.h"
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

    // `client` may be empty: such a request cancels nothing and cannot be cancelled.
    Response handle(const std::string& method, const std::string& path, const std::string& body,
                    const std::string& client = "");

    const nlohmann::json& classes() const { return classesJson_; }
    // Whether a request of `client` is being served.
    bool running(const std::string& client);
    const Limits& limits() const { return limits_; }

  private:
    struct Preview;  // a validated preview request
    Response render(const nlohmann::json& body, const std::string& client);
    Response scene(const nlohmann::json& body);
    Response lobe(const nlohmann::json& body, const std::string& client);
    Response usage(const nlohmann::json& body);
    Preview parsePreview(const nlohmann::json& body, bool lobe) const;
    // The preview's scene document, and the scene it loads to; a document the
    // loader refuses is a 400.
    nlohmann::json document(const Preview& p) const;
    void load(const nlohmann::json& doc, vref::Scene& scene, vref::RenderSettings& settings) const;
    struct Running;  // a request's cancel flag, registered while it runs

    std::shared_ptr<std::atomic<bool>> begin(const std::string& client);
    void end(const std::string& client, const std::shared_ptr<std::atomic<bool>>& flag);

    const vhost::Library& lib_;
    std::string assetDir_;
    Limits limits_;
    std::map<std::string, vhost::ClassInfo> info_;
    nlohmann::json classesJson_;
    std::mutex running_;
    std::map<std::string, std::shared_ptr<std::atomic<bool>>> flags_;
    SceneCache previews_;
};

// A request that cannot be served: the HTTP status, the message and the field.
struct RequestError {
    int status;
    std::string field, message;
};

}  // namespace vstudio
