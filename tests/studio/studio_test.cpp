// vesper-studio's request handling: the answers to bad requests, typed defaults,
// repeatable images, the saved scene rendering the same bytes through
// vesper-render, the lobe, and cancellation.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "host/studio/studio.h"

namespace {

using nlohmann::json;

class Studio : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::string t = (std::filesystem::temp_directory_path() / "vesper-studio-XXXXXX").string();
        dir_ = mkdtemp(t.data());
        lib_ = new vhost::Library();
        studio_ = new vstudio::Studio(*lib_, dir_ + "/assets");
    }
    static void TearDownTestSuite() {
        delete studio_;
        delete lib_;
        std::filesystem::remove_all(dir_);
    }
    static vstudio::Response post(const std::string& path, const json& body,
                                  const std::string& client = "") {
        return studio_->handle("POST", path, body.dump(), client);
    }
    static std::string run(const std::string& cmd) {
        std::string out;
        FILE* p = popen(cmd.c_str(), "r");
        char buf[4096];
        for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        if (p) pclose(p);
        return out;
    }
    static std::string dir_;
    static vhost::Library* lib_;
    static vstudio::Studio* studio_;
};

std::string Studio::dir_;
vhost::Library* Studio::lib_ = nullptr;
vstudio::Studio* Studio::studio_ = nullptr;

TEST_F(Studio, BadRequestsAreAnsweredAndNameTheField) {
    const json ward = {{"class", "corvid_Mtl_Ward"}};
    auto with = [&](const json& extra) {
        json b = ward;
        b.update(extra);
        return b.dump();
    };
    const struct {
        const char* method;
        const char* path;
        std::string body;
        int status;
        const char* field;
    } cases[] = {
        {"POST", "/api/render", "{\"class\": ", 400, "body"},
        {"POST", "/api/render", "[1, 2]", 400, "body"},
        {"POST", "/api/render", "{}", 400, "class"},
        {"POST", "/api/render", R"({"class": "NoSuchClass"})", 400, "class"},
        {"POST", "/api/render", with({{"colour", 1}}), 400, "colour"},
        {"POST", "/api/render", with({{"params", {{"u_nothing", 1}}}}), 400, "params.u_nothing"},
        {"POST", "/api/render", with({{"params", {{"u_ior", "glass"}}}}), 400, "params.u_ior"},
        {"POST", "/api/render", with({{"params", {{"u_isMetal", 1}}}}), 400, "params.u_isMetal"},
        {"POST", "/api/render", with({{"params", {{"u_diffuseColor", {1, 2}}}}}), 400,
         "params.u_diffuseColor"},
        {"POST", "/api/render", with({{"params", {{"u_ior", 1e300}}}}), 400, "params.u_ior"},
        {"POST", "/api/render", with({{"params", {{"u_diffuseColor", {0, 1e39, 0}}}}}), 400,
         "params.u_diffuseColor[1]"},
        {"POST", "/api/render", with({{"params", {{"u_diffuseMap", "/no/such/image.png"}}}}), 404,
         "params.u_diffuseMap"},
        {"POST", "/api/render", with({{"environment", "/no/such/cube.exr"}}), 404, "environment"},
        {"POST", "/api/render", with({{"width", 0}}), 400, "width"},
        {"POST", "/api/render", with({{"height", 100000}}), 400, "height"},
        {"POST", "/api/render", with({{"width", 12.5}}), 400, "width"},
        {"POST", "/api/render", with({{"spp", 5000}}), 400, "spp"},
        {"POST", "/api/render", with({{"width", 2048}, {"height", 2048}, {"spp", 4096}}), 400,
         "spp"},
        {"POST", "/api/render", with({{"mode", "fast"}}), 400, "mode"},
        {"POST", "/api/render", with({{"preview", "teapot"}}), 400, "preview"},
        {"POST", "/api/render", with({{"seed", -1}}), 400, "seed"},
        {"POST", "/api/scene", with({{"params", {{"u_ior", true}}}}), 400, "params.u_ior"},
        {"POST", "/api/lobe", with({{"incidence", 95}}), 400, "incidence"},
        {"POST", "/api/lobe", with({{"samples", 0}}), 400, "samples"},
        {"POST", "/api/lobe", with({{"width", 10}}), 400, "width"},
        {"POST", "/api/lobe", R"({"class": "qzPointLight"})", 400, "class"},
        {"POST", "/api/lobe", R"({"class": "corvid_Mtl_Solid"})", 400, "class"},
        {"GET", "/api/render", "", 405, nullptr},
        {"POST", "/api/nothing", "{}", 404, nullptr},
        {"POST", "/api/\xff", "{}", 404, nullptr},
    };
    for (const auto& c : cases) {
        vstudio::Response r = studio_->handle(c.method, c.path, c.body);
        SCOPED_TRACE(std::string(c.path) + " " + c.body);
        EXPECT_EQ(r.status, c.status) << r.body;
        json j = json::parse(r.body, nullptr, false);
        ASSERT_TRUE(j.is_object() && j.contains("error")) << r.body;
        if (c.field) {
            EXPECT_EQ(j.value("field", ""), c.field);
            EXPECT_NE(j["error"].get<std::string>().find(c.field), std::string::npos) << r.body;
        }
    }
}

// Every parameter's default comes typed, as the page's editors read it.
TEST_F(Studio, ClassListHasTypedDefaults) {
    vstudio::Response r = studio_->handle("GET", "/api/classes", "");
    ASSERT_EQ(r.status, 200);
    for (const json& c : json::parse(r.body)["classes"]) {
        for (const json& p : c["parameters"]) {
            const std::string type = p["type"];
            const json& d = p["default"];
            bool typed = type == "bool"  ? d.is_boolean()
                         : type == "int" ? d.is_number_integer()
                         : type == "float"
                             ? d.is_number()
                             : (type.rfind("texture", 0) == 0 ? d.is_object() : d.is_array());
            EXPECT_TRUE(typed) << c["name"] << "." << p["name"] << " " << d;
        }
    }
}

// One request twice gives the same bytes; the scene document of that request,
// rendered by vesper-render, gives them too.
TEST_F(Studio, SceneDocumentRendersTheSameBytesThroughVesperRender) {
    const json body = {
        {"class", "corvid_Mtl_Ward_f05db29e"},
        {"params", {{"u_diffuseColor", {0.8, 0.2, 0.1}}, {"u_specularMap", "marble"}}},
        {"width", 64},
        {"height", 48},
        {"spp", 3},
        {"mode", "path"},
        {"seed", 7},
        {"preview", "shaderball"},
        {"environment", "studio"}};
    vstudio::Response first = post("/api/render", body), second = post("/api/render", body);
    ASSERT_EQ(first.status, 200) << first.body;
    EXPECT_EQ(first.contentType, "image/png");
    EXPECT_EQ(first.body.compare(1, 3, "PNG"), 0);
    EXPECT_EQ(first.body, second.body);

    vstudio::Response scene = post("/api/scene", body);
    ASSERT_EQ(scene.status, 200) << scene.body;
    std::string file = dir_ + "/saved.json", png = dir_ + "/saved.png";
    std::ofstream(file) << scene.body;
    run(std::string(VESPER_RENDER_PATH) + " --scene " + file + " --out " + png + " 2>&1");
    std::ifstream in(png, std::ios::binary);
    std::string rendered((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(rendered, first.body);
}

// The lobe of a shiny metal peaks at the mirror direction, and the sampled
// histogram carries the albedo the samples add up to.
TEST_F(Studio, LobePeaksAtTheMirrorDirection) {
    vstudio::Response r = post("/api/lobe", {{"class", "corvid_Mtl_Metal"},
                                             {"params", {{"u_roughValue", 0.15}}},
                                             {"incidence", 40},
                                             {"samples", 20000}});
    ASSERT_EQ(r.status, 200) << r.body;
    json j = json::parse(r.body);
    const json& e = j["evaluate"];
    size_t peak = 0;
    for (size_t i = 0; i < e["throughput"].size(); ++i) {
        if (e["throughput"][i] > e["throughput"][peak]) peak = i;
    }
    EXPECT_NEAR(e["angles"][peak].get<double>(), -40.0, 4.0);
    double mass = 0.0;
    for (const json& w : j["histogram"]["weight"]) mass += w.get<double>();
    const json& a = j["albedo"];
    double lum =
        0.2126 * a[0].get<double>() + 0.7152 * a[1].get<double>() + 0.0722 * a[2].get<double>();
    EXPECT_GT(lum, 0.05);
    EXPECT_NEAR(mass, lum, 1e-3 * lum);
}

// A newer request of the same client stops the one still rendering.
TEST_F(Studio, NewerRequestOfTheSameClientCancelsTheRunningOne) {
    json big = {{"class", "corvid_Mtl_Dielectric"}, {"width", 1024}, {"height", 1024}, {"spp", 64}};
    auto slow = std::async(std::launch::async, [&] { return post("/api/render", big, "page"); });
    while (!studio_->running("page")) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    vstudio::Response quick =
        post("/api/render", {{"class", "corvid_Mtl_Solid"}, {"width", 8}, {"height", 8}}, "page");
    EXPECT_EQ(quick.status, 200);
    EXPECT_EQ(slow.get().status, 409);
    EXPECT_FALSE(studio_->running("page"));
}

}  // namespace

// Previews of every class in turn, each on a thread of a small pool as the server
// serves them: every scene loads its textures on a thread that loaded others
// for scenes since destroyed.
TEST_F(Studio, EveryClassInTurnOnPoolThreads) {
    json classes = json::parse(studio_->handle("GET", "/api/classes", "", "").body)["classes"];
    ASSERT_FALSE(classes.empty());
    std::vector<std::thread> pool;
    for (int t = 0; t < 3; ++t) {
        pool.emplace_back([&, t] {
            for (size_t i = t; i < 2 * classes.size(); i += 3) {
                json body = {{"class", classes[i % classes.size()]["name"]},
                             {"width", 32},
                             {"height", 24},
                             {"seed", static_cast<int>(i)}};
                EXPECT_EQ(post("/api/render", body).status, 200) << body.dump();
            }
        });
    }
    for (std::thread& t : pool) t.join();
}
