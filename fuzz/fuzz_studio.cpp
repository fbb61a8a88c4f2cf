// vesper-studio's request handling over any request body: the first byte picks
// the endpoint, the rest is the body. Every answer must be a well-formed JSON
// error or a PNG or JSON document, without crashing or hanging; the limits are
// small so that a valid request renders in a moment.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "host/studio/studio.h"

namespace {

vhost::Library* gLibrary = nullptr;
vstudio::Studio* gStudio = nullptr;
std::string gDir;

void cleanup() {
    std::error_code ec;
    std::filesystem::remove_all(gDir, ec);
}

}  // namespace

// OpenImageIO's TextureSystem::destroy deletes the implementation through its
// base class with a sized delete of the base's size: a mismatch inside that
// library, which every scene's texture system goes through.
extern "C" const char* __asan_default_options() {
    return "new_delete_type_mismatch=0";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string t = (std::filesystem::temp_directory_path() / "vesper-fuzz-studio-XXXXXX").string();
    if (!mkdtemp(t.data())) std::abort();
    gDir = t;
    std::atexit(cleanup);
    gLibrary = new vhost::Library();
    if (!gLibrary->loaded()) std::abort();
    vstudio::Limits limits;
    limits.maxWidth = limits.maxHeight = 24;
    limits.maxSpp = 2;
    limits.maxPixelSamples = 600;
    limits.maxLobeSamples = 500;
    gStudio = new vstudio::Studio(*gLibrary, gDir + "/assets", limits);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* kPaths[] = {"/api/render", "/api/scene", "/api/lobe", "/api/classes"};
    if (size == 0) return 0;
    const char* path = kPaths[data[0] % 4];
    std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
    vstudio::Response r = gStudio->handle(data[0] % 4 == 3 ? "GET" : "POST", path, body, "fuzz");
    if (r.contentType == "application/json" &&
        nlohmann::json::parse(r.body, nullptr, false).is_discarded()) {
        std::abort();
    }
    if (r.status >= 500) std::abort();
    return 0;
}
