// The preview scene vesper-studio keeps between requests: which edits reuse it,
// and that an edit renders exactly as the scene loaded anew.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "host/reference/preview.h"
#include "host/reference/scene_loader.h"
#include "host/studio/studio.h"
#include "testkit/temp_dir.h"

namespace {

using nlohmann::json;

using vtest::TempDir;

TEST(StudioSceneCache, OnlyParameterValuesAndRenderSettingsReuseTheScene) {
    TempDir dir;
    vhost::Library lib;
    vrender::writePreviewAssets(dir.path);
    vrender::PreviewRequest r;
    r.className = "corvid_Mtl_Ward";
    r.width = 8;
    r.height = 6;
    const vhost::ClassInfo info = vhost::describeClass(lib, r.className);
    json doc = vrender::previewScene(lib, info, r, dir.path);
    doc["materials"]["subject"]["params"]["u_diffuseColor"] = {0.2, 0.3, 0.4};
    struct Case {
        const char* edit;
        std::function<void(json&)> apply;
        bool kept;
    };
    const Case cases[] = {
        {"a colour",
         [](json& d) { d["materials"]["subject"]["params"]["u_diffuseColor"][1] = 0.9; }, true},
        {"samples and seed",
         [](json& d) {
             d["render"].update({{"spp", 3}, {"seed", 9}});
         },
         true},
        {"the environment's colour",
         [](json& d) { d["environment"]["params"]["backgroundColor"] = 1; }, true},
        {"a parameter left out",
         [](json& d) { d["materials"]["subject"]["params"].erase("u_diffuseColor"); }, false},
        {"a texture",
         [](json& d) { d["materials"]["subject"]["params"]["u_normal0Map"] = "checker"; }, false},
        {"the size and mode",
         [](json& d) {
             d["render"].update({{"width", 9}, {"height", 4}, {"mode", "path"}});
         },
         true},
        {"a size past the limits", [](json& d) { d["render"]["width"] = 1 << 20; }, false},
    };
    vstudio::SceneCache cache;
    for (const Case& c : cases) {
        auto entry = std::make_unique<vstudio::SceneCache::Entry>();
        entry->doc = doc;
        vrender::loadScene(doc, "preview", "", lib, entry->scene, entry->settings);
        cache.keep(std::move(entry));
        json edited = doc;
        c.apply(edited);
        std::unique_ptr<vstudio::SceneCache::Entry> kept = cache.take(edited);
        ASSERT_EQ(kept != nullptr, c.kept) << c.edit;
        if (!kept) continue;
        EXPECT_EQ(kept->doc, edited) << c.edit;
        const vref::ShaderInstance& m = kept->scene.material(kept->scene.findMaterial("subject"));
        const auto* colour =
            static_cast<const pxs::float3*>(m.registry.find("u_diffuseColor")->field);
        EXPECT_FLOAT_EQ(colour->y,
                        edited["materials"]["subject"]["params"]["u_diffuseColor"][1].get<float>());
        EXPECT_EQ(kept->settings.spp, edited["render"]["spp"].get<int>()) << c.edit;
        EXPECT_EQ(kept->settings.width, edited["render"]["width"].get<int>()) << c.edit;
        EXPECT_EQ(kept->settings.mode == vref::Mode::Path, edited["render"]["mode"] == "path")
            << c.edit;
    }
}

// A studio that renders every edit of its kept scene (values, size, mode) gives the
// bytes of one that loads each request anew (another class rendered in between evicts its scene).
TEST(StudioSceneCache, EditsRenderAsAFreshlyLoadedScene) {
    TempDir dir;
    vhost::Library lib;
    vstudio::Studio warm(lib, dir.path + "/assets"), cold(lib, dir.path + "/assets");
    const json steps[] = {
        {{"class", "corvid_Mtl_Metal"}, {"params", {{"u_roughValue", 0.3}}}},
        {{"class", "corvid_Mtl_Metal"}, {"params", {{"u_roughValue", 0.05}}}, {"spp", 2}},
        {{"class", "corvid_Mtl_Metal"}, {"params", {{"u_roughValue", 0.05}}}, {"seed", 4}},
        {{"class", "qzSpotLight"}, {"params", {{"cosUmbra", 0.9}}}, {"mode", "path"}},
        {{"class", "qzSpotLight"}, {"params", {{"cosUmbra", 0.97}}}, {"mode", "path"}},
        {{"class", "qzSpotLight"}, {"params", {{"cosUmbra", 0.97}}}, {"width", 12}, {"height", 8}},
        {{"class", "corvid_Env_Backplate"}, {"width", 20}, {"height", 10}},
        {{"class", "corvid_Env_Backplate"}, {"mode", "path"}},
        {{"class", "corvid_Env_Default"}, {"params", {{"reflectIBLSaturation", 0.2}}}},
        {{"class", "corvid_Env_Default"}, {"params", {{"reflectIBLSaturation", 1.5}}}},
    };
    for (json body : steps) {
        if (!body.contains("width")) body.update({{"width", 24}, {"height", 16}});
        vstudio::Response a = warm.handle("POST", "/api/render", body.dump());
        cold.handle("POST", "/api/render",
                    json{{"class", "corvid_Mtl_Solid"}, {"width", 4}}.dump());
        vstudio::Response b = cold.handle("POST", "/api/render", body.dump());
        ASSERT_EQ(a.status, 200) << a.body;
        EXPECT_TRUE(a.body == b.body) << body.dump();
    }
}

}  // namespace
