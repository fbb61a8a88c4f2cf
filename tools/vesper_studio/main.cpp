// vesper-studio: a local web application to explore every shader class live. It
// loads vesperShaders64 with dlopen as a host does, renders previews with the
// reference host and serves the page and its JSON API on 127.0.0.1 only.
//
//   vesper-studio [--port N] [--library PATH] [--web DIR] [--assets DIR]
#include <malloc.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "host/command_line.h"
#include "host/reference/limits.h"
#include "host/studio/server.h"
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

std::string defaultAssetDir() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    std::filesystem::path base = cache && *cache ? std::filesystem::path(cache)
                                 : home && *home ? std::filesystem::path(home) / ".cache"
                                                 : std::filesystem::temp_directory_path();
    // Versioned: a change of the built-in images gets a directory of its own.
    return (base / "vesper-studio" / "assets-1").string();
}

bool builtinPage(const std::string& path, std::string* body) {
    for (const vstudio::WebAsset& a : vstudio::webAssets()) {
        if (path == a.path) {
            body->assign(reinterpret_cast<const char*>(a.data), a.size);
            return true;
        }
    }
    return false;
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
            o.library = cl.nonEmpty(cl.value(), "a file name");
        } else if (cl.arg() == "--web") {
            o.webDir = cl.nonEmpty(cl.value(), "a directory");
        } else if (cl.arg() == "--assets") {
            o.assetDir = cl.nonEmpty(cl.value(), "a directory");
        } else {
            cl.fail("unknown option " + cl.arg());
        }
    }
    return o;
}

// SIGINT and SIGTERM stop the server from a thread of their own (they are
// blocked everywhere else). Work that does not end within kStudioStopSeconds of
// the signal, such as a tile that takes long, is abandoned with the process.
std::thread stopOnSignals(vstudio::Server& server, const sigset_t& signals,
                          const std::atomic<bool>& done) {
    return std::thread([&server, signals, &done] {
        int signal = 0;
        sigwait(&signals, &signal);
        server.stop();
        auto until = std::chrono::steady_clock::now() +
                     std::chrono::duration<double>(vref::kStudioStopSeconds);
        while (!done && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (done) return;
        std::fprintf(stderr, "vesper-studio: stopped with work still running\n");
        std::_Exit(1);
    });
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parseOptions(argc, argv);
    // Every render's image and buffers go back to the system when it ends. By
    // default glibc raises this threshold after the first large block is freed
    // and keeps later ones in its per-thread arenas: after a burst of renders
    // the studio would stay at twice the memory.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    // Before any thread starts (the image library's too), so that every thread
    // inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
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
    vstudio::Server server(*studio, {o.webDir, builtinPage, {}});
    const int port = server.bind(o.port);
    if (port < 0) {
        std::fprintf(stderr, "vesper-studio: cannot listen on 127.0.0.1 at that port\n");
        return 1;
    }
    std::atomic<bool> done{false};
    std::thread stopper = stopOnSignals(server, signals, done);
    std::printf("vesper-studio: %zu classes from %s\nvesper-studio: open http://127.0.0.1:%d/\n",
                studio->classes()["classes"].size(), lib.path().c_str(), port);
    std::fflush(stdout);
    const bool stopped = server.run();
    done = true;
    if (!stopped) {
        std::fprintf(stderr, "vesper-studio: the listening socket failed\n");
        pthread_kill(stopper.native_handle(), SIGTERM);
    }
    stopper.join();
    return stopped ? 0 : 1;
}
