// Scene files that cannot be used are refused with a message naming the scene
// and the offending entry; vesper-render and vesper-info, run on hostile files
// (scenes, meshes, images, libraries) and command lines, exit with status 1 and
// such a message and leave nothing behind.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <elf.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "host/reference/scene_loader.h"
#include "testkit/expect_text.h"
#include "testkit/temp_dir.h"

namespace {

using nlohmann::json;

// The message of loading `doc`, or "" when it loads.
std::string loadError(const json& doc) {
    static vhost::Library lib;
    vref::Scene scene;
    vref::RenderSettings settings;
    try {
        vrender::loadScene(doc, "bad.json", "/nonexistent-dir", lib, scene, settings);
    } catch (const vrender::SceneError& e) {
        return e.what();
    }
    return "";
}

json sphereWith(const json& material) {
    return {{"objects", {{{"name", "ball"}, {"type", "sphere"}, {"material", material}}}}};
}

TEST(SceneErrors, UnknownNamesAreNamedWithTheirEntry) {
    EXPECT_MENTIONS(loadError(sphereWith({{"class", "corvid_Mtl_Nothing"}})), "bad.json",
                    "objects[0] (\"ball\")", "unknown shader class \"corvid_Mtl_Nothing\"");
    EXPECT_MENTIONS(
        loadError(sphereWith({{"class", "corvid_Mtl_Solid"}, {"params", {{"patchstate", 1}}}})),
        "bad.json", "objects[0] (\"ball\")", "unknown parameter \"patchstate\"",
        "corvid_Mtl_Solid");
    EXPECT_MENTIONS(loadError(sphereWith("nowhere")), "bad.json", "unknown material \"nowhere\"");
    EXPECT_MENTIONS(loadError({{"objects", {{{"type", "cone"}, {"material", "x"}}}}}), "objects[0]",
                    "unknown object type \"cone\"");
    EXPECT_MENTIONS(loadError({{"lights", {{{"class", "corvid_Mtl_Solid"}}}}}), "lights[0]",
                    "is a material, not a light");
    EXPECT_MENTIONS(loadError({{"camera", {{"fov", 30}, {"lense", 1}}}}), "camera",
                    "unknown key \"lense\"");
    EXPECT_EQ(
        loadError(sphereWith({{"class", "corvid_Mtl_Solid"}, {"params", {{"patchState", 2}}}})),
        "");
}

TEST(SceneErrors, WrongValueTypesSayWhatTheFieldExpects) {
    auto params = [](json p) {
        return loadError(sphereWith({{"class", "corvid_Mtl_Solid"}, {"params", p}}));
    };
    EXPECT_MENTIONS(params({{"patchState", 1.5}}), "bad.json", "\"patchState\"",
                    "int and expects an integer");
    EXPECT_MENTIONS(params({{"patchState", "two"}}), "int and expects an integer");
    EXPECT_MENTIONS(params({{"faceForward", 1}}), "\"faceForward\"",
                    "bool and expects true or false");
    EXPECT_MENTIONS(loadError({{"objects", {{{"type", "sphere"}, {"radius", "big"}}}}}),
                    "objects[0]", "\"radius\" expects a number");
    EXPECT_MENTIONS(loadError({{"render", {{"spp", 0}}}}), "bad.json: render",
                    "\"spp\" expects an integer in [1, 65536]");
}

TEST(SceneErrors, MissingFilesAreNamed) {
    EXPECT_MENTIONS(loadError({{"objects", {{{"type", "mesh"}, {"file", "teapot.obj"}}}}}),
                    "objects[0]", "mesh file not found", "/nonexistent-dir/teapot.obj");
    EXPECT_MENTIONS(loadError({{"textures", {{"wood", {{"file", "wood.png"}}}}}}),
                    "textures.\"wood\"", "texture file not found", "wood.png");
}

// Tools point at the entry from its path, and show the message without the scene.
TEST(SceneErrors, EntriesAreGivenAsPathsApartFromTheMessage) {
    const struct {
        json doc;
        const char* field;
        const char* message;
    } cases[] = {
        {sphereWith({{"class", "corvid_Mtl_Solid"}, {"params", {{"patchstate", 1}}}}),
         "objects/0/material/params/patchstate",
         "unknown parameter \"patchstate\" of class \"corvid_Mtl_Solid\""},
        {sphereWith("nowhere"), "objects/0/material", "unknown material \"nowhere\""},
        {{{"camera", {{"lense", 1}}}}, "camera/lense", "unknown key \"lense\""},
        {{{"render", {{"spp", 0}}}},
         "render/spp",
         "\"spp\" expects an integer in [1, 65536], not 0"},
        {{{"sky", 1}}, "sky", "unknown key \"sky\""},
    };
    static vhost::Library lib;
    for (const auto& c : cases) {
        vref::Scene scene;
        vref::RenderSettings settings;
        try {
            vrender::loadScene(c.doc, "bad.json", "", lib, scene, settings);
            ADD_FAILURE() << c.field << ": loaded";
        } catch (const vrender::SceneError& e) {
            EXPECT_EQ(e.field(), c.field);
            EXPECT_EQ(e.message(), c.message);
            std::string what = e.what();
            EXPECT_EQ(what.substr(what.size() - e.message().size()), e.message()) << what;
        }
    }
}

// ---- hostile input to the tools, run as a user runs them ----

using vtest::TempDir;

// A command line with {render}, {info}, {lib} and {dir} filled in.
std::string expand(std::string s, const std::string& dir) {
    const std::pair<const char*, std::string> names[] = {{"{render}", VESPER_RENDER_PATH},
                                                         {"{info}", VESPER_INFO_PATH},
                                                         {"{lib}", VESPER_LIBRARY_PATH},
                                                         {"{dir}", dir}};
    for (const auto& [key, value] : names) {
        for (size_t at; (at = s.find(key)) != std::string::npos;) s.replace(at, strlen(key), value);
    }
    return s;
}

struct Case {
    const char* what;
    std::string scene;  // scene.json, or "" for none
    std::vector<const char*> mentions;
    std::vector<std::pair<const char*, std::string>> files = {};
    std::string command = "{render} --scene {dir}/scene.json --out {dir}/out.png";
    int status = 1;
};

// Each case in a fresh directory: the exit status, every part of the message
// (the scene file itself whenever there is one) and, on failure, no output
// file nor temporary file beside it.
void runCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        if (!c.scene.empty()) std::ofstream(dir.path + "/scene.json") << c.scene;
        for (const auto& [name, text] : c.files) std::ofstream(dir.path + "/" + name) << text;
        // Output through a pipe: a file size limit on the tool must not cut its log.
        FILE* pipe = popen((expand(c.command, dir.path) + " 2>&1").c_str(), "r");
        ASSERT_TRUE(pipe);
        std::string out;
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
        int status = pclose(pipe);
        ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status) << "\n" << out;
        EXPECT_EQ(WEXITSTATUS(status), c.status) << out;
        std::vector<std::string> parts;
        // A scene the tool refuses is named; other cases name what they are about.
        if (c.command == Case().command && c.status != 0) parts.push_back(dir.path + "/scene.json");
        for (const char* m : c.mentions) parts.push_back(expand(m, dir.path));
        for (const std::string& part : parts) EXPECT_MENTIONS(out, part.c_str());
        for (const auto& e : std::filesystem::directory_iterator(dir.path)) {
            std::string name = e.path().filename().string();
            bool output = name.find("out.") != std::string::npos;
            EXPECT_TRUE(c.status == 0 || !output) << name << " left behind";
        }
    }
}

const char kRender[] = "{render} --scene {dir}/scene.json --out {dir}/out.png";

// A mesh object reading m.obj = `obj`.
Case mesh(const char* what, const std::string& obj, const char* mention) {
    return {
        what,
        R"({"objects": [{"type": "mesh", "file": "m.obj", "material": {"class": "corvid_Mtl_Solid"}}]})",
        {"objects[0]", "m.obj", mention},
        {{"m.obj", obj}}};
}
// A command line of its own, with the default scene.
Case command(const char* what, const std::string& line, std::vector<const char*> mentions,
             int status = 1, std::vector<std::pair<const char*, std::string>> files = {}) {
    return {what,
            R"({"render": {"width": 2, "height": 2, "spp": 1}})",
            std::move(mentions),
            std::move(files),
            line,
            status};
}
const std::string kTriangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";

TEST(HostileInput, IndicesOutsideTheirArrays) {
    runCases({
        mesh("far vertex", kTriangle + "f 1 2 100000000\n", "vertex 100000000 of 3"),
        mesh("near vertex", kTriangle + "f 1 2 4\n", "vertex 4 of 3"),
        mesh("negative vertex", kTriangle + "f -4 1 2\n", "a vertex before the first"),
        mesh("normal", kTriangle + "vn 0 0 1\nf 1//2 2//1 3//1\n", "normal 2 of 1"),
        mesh("uv", kTriangle + "vt 0 0\nf 1/3 2/1 3/1\n", "texture coordinate 3 of 1"),
    });
}

TEST(HostileInput, SizesAndLimits) {
    auto render = [](const std::string& block) {
        return R"({"render": )" + block + R"(, "objects": [{"type": "disk",
                   "material": {"class": "corvid_Mtl_Solid"}}]})";
    };
    // PNG headers with CRCs and an empty data chunk: 100000 x 100000, then 64 x 64.
    const std::string bigPng(
        "\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR\x00\x01\x86\xa0\x00\x01\x86\xa0\x08\x02\x00\x00\x00"
        "\x27\x30\x9c\x9f\x00\x00\x00\x00IDAT\x35\xaf\x06\x1e\x00\x00\x00\x00IEND\xae\x42\x60\x82",
        57);
    std::string emptyPng = bigPng;
    emptyPng.replace(16, 17, "\0\0\0\x40\0\0\0\x40\x08\x02\0\0\0\x25\x0b\xe6\x89", 17);
    const char* texture = R"({"textures": {"t": {"file": "t.png"}}})";
    runCases({
        {"depth", render(R"({"maxDepth": 1000000})"), {"render", "\"maxDepth\"", "[1, 64]"}},
        {"pixels", render(R"({"width": 16384, "height": 16384})"), {"render", "pixels exceeds"}},
        {"gather", render(R"({"aoSamples": 1024, "giSamples": 1024})"), {"\"aoSamples\" x"}},
        {"samples", render(R"({"spp": 1000000})"), {"render", "\"spp\""}},
        {"threads", render(R"({"threads": 100000})"), {"render", "\"threads\""}},
        {"segments",
         R"({"objects": [{"type": "sphere", "segments": 1000000000, "material": "m"}]})",
         {"objects[0]", "\"segments\""}},
        {"declared size",
         texture,
         {"textures.\"t\"", "t.png", "100000 x 100000"},
         {{"t.png", bigPng}}},
        {"no data", texture, {"textures.\"t\"", "t.png", "truncated"}, {{"t.png", emptyPng}}},
        command("command line", std::string(kRender) + " --width 100000 --height 100000",
                {"command line", "\"height\"", "16384"}),
        // Deeper than this is refused; this deep fits the stack with room to spare.
        {"closed mirror box at the deepest depth",
         R"({"render": {"width": 2, "height": 2, "spp": 1, "maxDepth": 64, "threads": 1},
             "camera": {"position": [0, 0, 0], "target": [1, 0.1, 0.05]},
             "objects": [{"type": "box", "size": 4, "material":
                          {"class": "corvid_Mtl_Mirror", "params": {"u_tintColor": 1}}}]})",
         {},
         {},
         kRender,
         0},
    });
}

TEST(HostileInput, WritesAreCheckedToTheEnd) {
    std::string out = "{render} --scene {dir}/scene.json --out ";
    runCases({
        command("file size limit", "ulimit -f 0; " + out + "{dir}/out.png",
                {"{dir}/out.png", "File too large"}),
        command("through a file", out + "{dir}/scene.json/out.png", {"not a directory"}),
        command("unknown format", out + "{dir}/out.xyz", {"{dir}/out.xyz", "unknown image format"}),
        command("empty name", out + "''", {"--out needs a file name"}, 2),
    });
}

TEST(HostileInput, LibrariesNotOurs) {
    std::vector<std::pair<const char*, std::string>> foreign = {
        {"f.c",
         "#include <stdlib.h>\nint Foo_create(void) { abort(); }\n"
         "int Foo_getAPIVersion(void) { return 7; }\n"}};
    std::string build = "cc -shared -fPIC -o {dir}/libf.so {dir}/f.c && ";
    runCases({
        command("info, foreign", build + "{info} --library {dir}/libf.so",
                {"{dir}/libf.so", "Foo", "API version 7"}, 1, foreign),
        command("render, foreign", build + "{render} --library {dir}/libf.so --out {dir}/out.png",
                {"{dir}/libf.so", "no shader classes"}, 1, foreign),
        command("no classes", build + "{info} --library {dir}/libf.so",
                {"{dir}/libf.so", "exports no shader classes"}, 1,
                {{"f.c", "int f(void) { return 1; }"}}),
        command(
            "path not UTF-8",
            "p={dir}/$(printf 'lib\\377.so'); cp {lib} \"$p\" && {info} --json --library \"$p\"",
            {"lib\xEF\xBF\xBD.so", "corvid_Mtl_Solid"}, 0),
    });
}

TEST(HostileInput, ExportReaderStaysInsideACraftedFile) {
    std::ifstream in(VESPER_LIBRARY_PATH, std::ios::binary);
    std::vector<unsigned char> f((std::istreambuf_iterator<char>(in)), {});
    auto names = vhost::exportedFunctions(f.data(), f.size());
    ASSERT_TRUE(std::count(names.begin(), names.end(), "corvid_Mtl_Solid_create"));
    // The dynamic symbol table's size wraps around when added to its offset.
    Elf64_Ehdr eh;
    std::memcpy(&eh, f.data(), sizeof eh);
    for (size_t i = 0; i < eh.e_shnum; ++i) {
        auto* sh = reinterpret_cast<Elf64_Shdr*>(f.data() + eh.e_shoff + i * eh.e_shentsize);
        if (sh->sh_type == SHT_DYNSYM) sh->sh_size = UINT64_MAX - sh->sh_offset + 2;
    }
    EXPECT_TRUE(vhost::exportedFunctions(f.data(), f.size()).empty());
    eh.e_shoff = UINT64_MAX - 8;
    std::memcpy(f.data(), &eh, sizeof eh);
    EXPECT_TRUE(vhost::exportedFunctions(f.data(), f.size()).empty());
}

TEST(HostileInput, DegenerateGeometryAndNumbers) {
    auto object = [](const std::string& o) {
        return R"({"objects": [{)" + o + R"(, "material": {"class": "corvid_Mtl_Solid"}}]})";
    };
    auto light = [](const std::string& l) { return R"({"lights": [)" + l + "]}"; };
    runCases({
        {"up along the view",
         R"({"camera": {"position": [0, -5, 0], "target": [0, 0, 0], "up": [0, 1, 0]}})",
         {"camera", "parallel to the view"}},
        {"zero up", R"({"camera": {"up": 0}})", {"camera", "\"up\" is zero"}},
        {"beyond float",
         R"({"ambient": [1e39, 0, 0]})",
         {"\"ambient\"", "beyond the range of a float"}},
        {"parameter beyond float",
         R"({"materials": {"g": {"class": "corvid_Mtl_Dielectric", "params": {"u_ior": -1e39}}}})",
         {"materials.\"g\".params.\"u_ior\"", "beyond the range of a float"}},
        {"zero radius", object(R"("type": "sphere", "radius": 0)"), {"objects[0]", "\"radius\""}},
        {"flat scale", object(R"("type": "box", "scale": [1, 0, 1])"), {"objects[0]", "\"scale\""}},
        {"params on a host light",
         light(R"({"params": {}})"),
         {"lights[0]", "unknown key \"params\""}},
        {"color on a light shader",
         light(R"({"class": "qzPointLight", "color": 1})"),
         {"lights[0]", "unknown key \"color\""}},
        mesh("mesh beyond float", "v 1e39 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", "vertex 1 is beyond"),
        mesh("zero normal", kTriangle + "vn 0 0 0\nf 1//1 2//1 3//1\n",
             "normal 1 has no direction"),
    });
}

}  // namespace
