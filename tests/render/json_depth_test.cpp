// Documents nested deeper than the JSON depth limit, given to every reader the
// tools have: a scene file to vesper-render and to vesper-render plan, a tile's
// sidecar to vesper-merge, a request body to each of the studio's endpoints.
// Each refuses every document with its status and the depth named, runs
// nothing more and writes nothing.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "host/json_reader.h"
#include "host/reference/limits.h"
#include "host/studio/studio.h"

namespace {

namespace fs = std::filesystem;

std::string nested(const char* open, const char* close, int depth) {
    std::string s;
    for (int i = 0; i < depth; ++i) s += open;
    s += "1";
    for (int i = 0; i < depth; ++i) s += close;
    return s;
}

const int kLimit = vref::kMaxJsonDepth;
const std::string kTooDeep =
    "arrays and objects nested more than " + std::to_string(kLimit) + " deep";

TEST(JsonDepth, TheLimitHoldsExactly) {
    EXPECT_NO_THROW(vhost::readJson(nested("[", "]", kLimit)));
    EXPECT_NO_THROW(vhost::readJson(nested("{\"a\":", "}", kLimit)));
    for (const std::string& doc :
         {nested("[", "]", kLimit + 1), nested("{\"a\":", "}", kLimit + 1)}) {
        try {
            vhost::readJson(doc);
            ADD_FAILURE() << "accepted " << doc;
        } catch (const vhost::JsonError& e) {
            EXPECT_EQ(e.what(), kTooDeep);
        }
    }
    // Every other fault of a document is a JsonError too, never the parser's own.
    for (const char* doc : {"7e777", "{\"a\": -1e400}", "[1,", "\"\\ud800\""}) {
        EXPECT_THROW(vhost::readJson(doc), vhost::JsonError) << doc;
    }
}

// Past the limit, in the places each reader reads: deep arrays and objects, one
// level too many inside an ordinary document, and one cut off before it closes.
const struct {
    const char* what;
    std::string text;
} kDocuments[] = {
    {"arrays 100000 deep", nested("[", "]", 100000)},
    {"objects 100000 deep", nested("{\"camera\":", "}", 100000)},
    {"one level too many", "{\"objects\": [" + nested("[", "]", kLimit - 1) + "]}"},
    {"cut off", std::string(200000, '[')},
};

struct Result {
    int status;
    std::string out, err;
};

Result run(const std::string& command, const std::string& dir) {
    std::string err = dir + "/stderr";
    FILE* pipe = popen((command + " 2>" + err).c_str(), "r");
    Result r{-1, "", ""};
    char buf[4096];
    for (size_t n; pipe && (n = fread(buf, 1, sizeof buf, pipe)) > 0;) r.out.append(buf, n);
    int status = pipe ? pclose(pipe) : -1;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::ifstream in(err);
    r.err.assign(std::istreambuf_iterator<char>(in), {});
    fs::remove(err);
    return r;
}

class JsonReaders : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string t = (fs::temp_directory_path() / "vesper-depth-XXXXXX").string();
        dir_ = mkdtemp(t.data());
    }
    void TearDown() override { fs::remove_all(dir_); }

    // What the directory holds besides `keep`.
    std::vector<std::string> made(const std::vector<std::string>& keep) const {
        std::vector<std::string> extra;
        for (const auto& e : fs::directory_iterator(dir_)) {
            std::string name = e.path().filename().string();
            if (std::find(keep.begin(), keep.end(), name) == keep.end()) extra.push_back(name);
        }
        return extra;
    }
    std::string dir_;
};

TEST_F(JsonReaders, SceneFilesOfRenderAndPlan) {
    const std::string render = VESPER_RENDER_PATH, scene = dir_ + "/scene.json";
    const std::string commands[] = {render + " --scene " + scene + " --out " + dir_ + "/out.png",
                                    render + " plan --scene " + scene + " --out-dir " + dir_};
    for (const auto& doc : kDocuments) {
        std::ofstream(scene) << doc.text;
        for (const std::string& command : commands) {
            SCOPED_TRACE(std::string(doc.what) + ": " + command);
            Result r = run(command, dir_);
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err, "vesper-render: " + scene + ": " + kTooDeep + "\n");
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(made({"scene.json"}), std::vector<std::string>());
        }
    }
}

TEST_F(JsonReaders, SidecarsOfMerge) {
    const std::string render = VESPER_RENDER_PATH;
    const std::string merge = fs::path(render).parent_path() / "vesper-merge";
    const std::string scene = dir_ + "/scene.json", tile = dir_ + "/tile.png";
    const std::string sidecar = tile + ".json";
    std::ofstream(scene) << R"({"render": {"width": 8, "height": 8, "spp": 1},
        "objects": [{"type": "sphere", "material": {"class": "corvid_Mtl_Solid"}}]})";
    Result tiled = run(render + " --scene " + scene + " --region 0,0,8,4 --out " + tile, dir_);
    ASSERT_EQ(tiled.status, 0) << tiled.err;
    for (const auto& doc : kDocuments) {
        // A larger sidecar is refused by its size before it is parsed.
        if (doc.text.size() > static_cast<size_t>(vref::kMaxSidecarBytes)) continue;
        SCOPED_TRACE(doc.what);
        std::ofstream(sidecar) << doc.text;
        Result r = run(merge + " --out " + dir_ + "/frame.png " + tile, dir_);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(sidecar + ": "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(kTooDeep), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(made({"scene.json", "tile.png", "tile.png.json"}), std::vector<std::string>());
    }
}

TEST_F(JsonReaders, StudioRequests) {
    vhost::Library lib;
    vstudio::Studio studio(lib, dir_ + "/assets");
    for (const auto& doc : kDocuments) {
        for (const char* endpoint : {"/api/render", "/api/scene", "/api/lobe", "/api/usage"}) {
            SCOPED_TRACE(std::string(doc.what) + ": " + endpoint);
            vstudio::Response r = studio.handle("POST", endpoint, doc.text, "client");
            EXPECT_EQ(r.status, 400);
            EXPECT_EQ(nlohmann::json::parse(r.body),
                      nlohmann::json({{"error", "body: " + kTooDeep}, {"field", "body"}}));
            EXPECT_FALSE(studio.running("client"));
        }
    }
}

}  // namespace
