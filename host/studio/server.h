// vesper-studio's HTTP server on 127.0.0.1: the JSON API (handled by Studio)
// and the page's files. Each connection is served by one of a fixed number of
// threads; a client costs a bounded number of bytes and seconds (ServerLimits),
// a render whose client hangs up is cancelled, and stop() ends everything
// promptly, from any thread.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "host/reference/limits.h"

namespace vstudio {

class Studio;

// What one client may cost (host/reference/limits.h says what each bounds);
// tests shorten the times.
struct ServerLimits {
    size_t headBytes = vref::kStudioMaxHeadBytes;
    size_t bodyBytes = vref::kStudioMaxRequestBytes;
    double receiveSeconds = vref::kStudioReceiveSeconds;
    double readSeconds = vref::kStudioReadSeconds;
    double writeSeconds = vref::kStudioWriteSeconds;
    double sendSeconds = vref::kStudioSendSeconds;
    double idleSeconds = vref::kStudioIdleSeconds;
    int connections = vref::kStudioConnections;
};

struct ServerOptions {
    // Serve the page from this directory when it holds the file asked for.
    std::string webDir;
    // The page's files built into the program: the body of `path`, or false.
    std::function<bool(const std::string& path, std::string* body)> builtinPage;
    ServerLimits limits;
};

class Server {
  public:
    Server(Studio& studio, ServerOptions options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Listens on 127.0.0.1 at `port` (0: a free one); the port, or -1.
    int bind(int port);
    // Serves until stop(); returns once every connection has ended: true, or
    // false when the listening socket failed first.
    bool run();
    // Stops accepting, cancels every request in progress and closes every
    // connection. Safe from any thread, before or during run().
    void stop();

  private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vstudio
