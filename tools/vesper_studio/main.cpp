// vesper-studio: a local web application to explore every shader class live. It
// loads vesperShaders64 with dlopen as a host does, renders previews with the
// reference host and serves the page and its JSON API on 127.0.0.1 only.
//
//   vesper-studio [--port N] [--library PATH] [--web DIR] [--assets DIR]
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <httplib.h>

#include "host/command_line.h"
#include "host/studio/studio.h"
#include "tools/vesper_studio/web_assets.h"

namespace {

const char kUsage[] =
    "usage: vesper-studio [options]\n"
    "  --port N        port on 127.0.0.1 (default 8765; 0 picks a free one)\n"
    "  --library PATH  the shader library to load\n"
    "  --web DIR       serve the page from DIR instead of the copy built in\n"
    "  --assets DIR    where the built-in preview images are kept\n"
    "                  (default $XDG_CACHE_HOME/vesper-studio, else ~/.cache/vesper-studio)\n";

constexpr size_t kMaxBody = 1 << 20;

httplib::Server* gServer = nullptr;

void stop(int) {
    if (gServer) gServer->stop();
}

std::string defaultAssetDir() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    std::filesystem::path base = cache && *cache ? std::filesystem::path(cache)
                                 : home && *home ? std::filesystem::path(home) / ".cache"
                                                 : std::filesystem::temp_directory_path();
    // Versioned: a change of the built-in images gets a directory of its own.
    return (base / "vesper-studio" / "assets-1").string();
}

const char* contentType(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    if (ext == ".html") return "text/html; charset=utf-8";
    if (ext == ".js") return "text/javascript; charset=utf-8";
    if (ext == ".css") return "text/css; charset=utf-8";
    if (ext == ".json") return "application/json";
    if (ext == ".svg") return "image/svg+xml";
    if (ext == ".png") return "image/png";
    return "application/octet-stream";
}

// A page file: from --web DIR when given and there, else the built-in copy.
bool pageFile(const std::string& webDir, std::string path, std::string* body) {
    if (path == "/") path = "/index.html";
    if (path.find("..") != std::string::npos) return false;
    if (!webDir.empty()) {
        std::ifstream in(webDir + path, std::ios::binary);
        if (in) {
            std::ostringstream s;
            s << in.rdbuf();
            *body = s.str();
            return true;
        }
    }
    for (const vstudio::WebAsset& a : vstudio::webAssets()) {
        if (path == a.path) {
            body->assign(reinterpret_cast<const char*>(a.data), a.size);
            return true;
        }
    }
    return false;
}

void send(httplib::Response& res, const vstudio::Response& r) {
    res.status = r.status;
    for (const auto& [k, v] : r.headers) res.set_header(k, v);
    res.set_header("Cache-Control", "no-store");
    res.set_content(r.body, r.contentType);
}

struct Options {
    int port = 8765;
    std::string library = vhost::Library::defaultPath(), webDir, assetDir = defaultAssetDir();
};

Options parseOptions(int argc, char** argv) {
    Options o;
    vhost::CommandLine cl("vesper-studio", kUsage, argc, argv);
    while (cl.next()) {
        if (cl.arg() == "--port") {
            o.port = static_cast<int>(cl.inRange(cl.value(), 0, 65535, "0..65535"));
        } else if (cl.arg() == "--library") {
            o.library = cl.value();
        } else if (cl.arg() == "--web") {
            o.webDir = cl.value();
        } else if (cl.arg() == "--assets") {
            o.assetDir = cl.value();
        } else {
            cl.fail("unknown option " + cl.arg());
        }
    }
    return o;
}

// Only this machine's pages: a page from elsewhere that resolves its own name to
// 127.0.0.1 still sends that name as Host.
httplib::Server::HandlerResponse refuseOtherHosts(const httplib::Request& req,
                                                  httplib::Response& res) {
    std::string host = req.get_header_value("Host");
    host = host.substr(0, host.rfind(':'));
    if (host == "127.0.0.1" || host == "localhost") {
        return httplib::Server::HandlerResponse::Unhandled;
    }
    res.status = 403;
    res.set_content("{\"error\": \"Host: only 127.0.0.1 and localhost are served\"}",
                    "application/json");
    return httplib::Server::HandlerResponse::Handled;
}

// The API goes to the studio, every other GET to the page's files.
void route(httplib::Server& server, vstudio::Studio& studio, const std::string& webDir) {
    server.set_payload_max_length(kMaxBody);
    server.set_pre_routing_handler(refuseOtherHosts);
    auto api = [&studio](const httplib::Request& req, httplib::Response& res) {
        if (req.method == "POST" &&
            req.get_header_value("Content-Type").rfind("application/json", 0) != 0) {
            send(res, {415,
                       "application/json",
                       "{\"error\": \"Content-Type: send application/json\"}",
                       {}});
            return;
        }
        send(res, studio.handle(req.method, req.path, req.body,
                                req.get_header_value("X-Vesper-Client")));
    };
    server.Get(R"(/api/.*)", api);
    server.Post(R"(/api/.*)", api);
    server.Get(R"(/.*)", [webDir](const httplib::Request& req, httplib::Response& res) {
        std::string body;
        if (!pageFile(webDir, req.path, &body)) {
            send(res, {404,
                       "application/json",
                       nlohmann::json{{"error", "not found: " + req.path}}.dump(),
                       {}});
            return;
        }
        res.set_header("Cache-Control", "no-store");
        res.set_content(body, contentType(req.path == "/" ? "/index.html" : req.path));
    });
}

// The port listened on (a free one for 0), or -1.
int bind(httplib::Server& server, int port) {
    if (port == 0) return server.bind_to_any_port("127.0.0.1");
    return server.bind_to_port("127.0.0.1", port) ? port : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parseOptions(argc, argv);
    vhost::Library lib(o.library);
    if (!lib.loaded()) {
        std::fprintf(stderr, "vesper-studio: cannot load %s: %s\n", o.library.c_str(),
                     lib.error().c_str());
        return 1;
    }
    std::unique_ptr<vstudio::Studio> studio;
    try {
        studio = std::make_unique<vstudio::Studio>(lib, o.assetDir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vesper-studio: %s\n", e.what());
        return 1;
    }
    httplib::Server server;
    route(server, *studio, o.webDir);
    const int port = bind(server, o.port);
    if (port < 0) {
        std::fprintf(stderr, "vesper-studio: cannot listen on 127.0.0.1 at that port\n");
        return 1;
    }
    gServer = &server;
    std::signal(SIGINT, stop);
    std::signal(SIGTERM, stop);
    std::printf("vesper-studio: %zu classes from %s\nvesper-studio: open http://127.0.0.1:%d/\n",
                studio->classes()["classes"].size(), lib.path().c_str(), port);
    std::fflush(stdout);
    server.listen_after_bind();
    return 0;
}
