// Any scene text and OBJ text through the scene loader, with the files a scene
// may name held in memory: the loader must refuse what it cannot use with a
// SceneError and never crash, hang or leak; a scene it accepts must render (a
// tiny image, so that what the loader let through reaches the tracer).
//
// An input is the scene's JSON, optionally followed by a line "----" and the
// text of mesh.obj. The scene may also name tex.png, sky.exr and cut.png (an
// image whose data stops early).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include "host/json_reader.h"
#include "host/reference/renderer.h"
#include "host/reference/scene_loader.h"

namespace {

std::string encode(const char* name, int w, int h) {
    std::vector<float> pixels(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<float>(i % 7) / 7.0f;
    std::vector<unsigned char> bytes;
    OIIO::Filesystem::IOVecOutput memory(bytes);
    auto out = OIIO::ImageOutput::create(name);
    out->set_ioproxy(&memory);
    OIIO::ImageSpec spec(w, h, 3, OIIO::TypeDesc::HALF);
    if (!out->open(name, spec) || !out->write_image(OIIO::TypeDesc::FLOAT, pixels.data()) ||
        !out->close()) {
        std::abort();
    }
    return std::string(bytes.begin(), bytes.end());
}

struct Fixture {
    vhost::Library library;
    vrender::FileSet files;
    Fixture() {
        if (!library.loaded()) {
            std::fprintf(stderr, "cannot load %s: %s\n", library.path().c_str(),
                         library.error().c_str());
            std::abort();
        }
        files["tex.png"] = encode("tex.png", 8, 8);
        files["sky.exr"] = encode("sky.exr", 16, 8);
        files["cut.png"] = files["tex.png"].substr(0, files["tex.png"].size() / 2);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

}  // namespace

// OpenImageIO's TextureSystem::destroy deletes the object through a base of
// another size: its own mismatch, not one of ours.
extern "C" const char* __asan_default_options() {
    return "new_delete_type_mismatch=0";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fixture();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fixture& f = fixture();
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t split = text.find("\n----\n");
    vrender::FileSet files = f.files;
    if (split != std::string::npos) {
        files["mesh.obj"] = text.substr(split + 6);
        text.resize(split);
    }
    nlohmann::json doc;
    try {
        doc = vhost::readJson(text);
    } catch (const vhost::JsonError&) {
        return 0;
    }
    vref::Scene scene;
    vref::RenderSettings settings;
    try {
        vrender::loadScene(doc, "fuzz.json", "/nonexistent", f.library, scene, settings, &files);
    } catch (const vrender::SceneError&) {
        return 0;
    }
    settings.width = settings.height = 2;
    settings.spp = 1;
    settings.threads = 1;
    settings.maxDepth = std::min(settings.maxDepth, 3);
    settings.aoSamples = std::min(settings.aoSamples, 2);
    settings.giSamples = std::min(settings.giSamples, 2);
    vref::render(scene, settings);
    return 0;
}
