#include "host/studio/server.h"

#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include <httplib.h>

#include "host/studio/connection.h"
#include "host/studio/studio.h"

namespace vstudio {

namespace {

using nlohmann::json;

// Requests one connection may carry before it is closed.
constexpr int kRequestsPerConnection = 100;

// The connection whose request this thread serves: the library hands handlers
// the request but not its stream.
thread_local Connection* tConnection = nullptr;

std::string errorBody(const std::string& message, const std::string& limit = "") {
    json j = {{"error", message}};
    if (!limit.empty()) j["limit"] = limit;
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

// A refusal that leaves the rest of the request unread: the connection closes.
void refuse(httplib::Response& res, int status, const std::string& message,
            const std::string& limit = "") {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(errorBody(message, limit), "application/json");
    if (tConnection) tConnection->closeAfterAnswer();
}

void send(httplib::Response& res, const Response& r) {
    res.status = r.status;
    for (const auto& [k, v] : r.headers) res.set_header(k, v);
    res.set_header("Cache-Control", "no-store");
    res.set_content(r.body, r.contentType);
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

// A page file: from `webDir` when it holds a regular file at `path`, else the
// built-in copy. Control characters (an encoded NUL would cut the name short)
// and ".." never name a file.
bool pageFile(const ServerOptions& o, std::string path, std::string* body) {
    if (path == "/") path = "/index.html";
    if (path.empty() || path[0] != '/' || path.find("..") != std::string::npos) return false;
    if (std::any_of(path.begin(), path.end(), [](char c) { return c >= 0 && c < 0x20; })) {
        return false;
    }
    std::error_code ec;
    if (!o.webDir.empty() && std::filesystem::is_regular_file(o.webDir + path, ec)) {
        std::ifstream in(o.webDir + path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        if (in) {
            *body = s.str();
            return true;
        }
    }
    return o.builtinPage && o.builtinPage(path, body);
}

// Only this machine's pages: a page from elsewhere that resolves its own name to
// 127.0.0.1 still sends that name as Host.
bool localHost(const httplib::Request& req) {
    std::string host = req.get_header_value("Host");
    host = host.substr(0, host.rfind(':'));
    return host == "127.0.0.1" || host == "localhost";
}

bool digits(const std::string& s) {
    return !s.empty() && s.size() < 19 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Sets the cancel of every request whose client hung up: the client's end of
// the socket closed while its request is being worked on.
class HangupWatch {
  public:
    static constexpr short kGone = POLLRDHUP | POLLHUP | POLLERR;

    void start() {
        thread_ = std::thread([this] { loop(); });
    }
    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    // Watches `fd` for `cancel`, which is set at once when the client is gone already.
    void add(int fd, const std::shared_ptr<Cancel>& cancel) {
        pollfd p{fd, POLLRDHUP, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & kGone)) cancel->set(Cancel::kHungUp);
        std::lock_guard<std::mutex> lock(mutex_);
        watched_.emplace_back(fd, cancel);
    }
    void remove(int fd) {
        std::lock_guard<std::mutex> lock(mutex_);
        watched_.erase(std::remove_if(watched_.begin(), watched_.end(),
                                      [fd](const auto& w) { return w.first == fd; }),
                       watched_.end());
    }
    // The connection watched for as long as its request is worked on.
    struct Scope {
        HangupWatch& watch;
        int fd;
        Scope(HangupWatch& w, int f, const std::shared_ptr<Cancel>& cancel) : watch(w), fd(f) {
            if (fd >= 0) watch.add(fd, cancel);
        }
        ~Scope() {
            if (fd >= 0) watch.remove(fd);
        }
    };

  private:
    void loop();
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;
    std::vector<std::pair<int, std::shared_ptr<Cancel>>> watched_;
    std::thread thread_;
};

void HangupWatch::loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    std::vector<pollfd> fds;
    while (!stop_) {
        fds.clear();
        for (const auto& w : watched_) fds.push_back({w.first, POLLRDHUP, 0});
        if (!fds.empty() && ::poll(fds.data(), fds.size(), 0) > 0) {
            for (size_t i = 0; i < fds.size(); ++i) {
                if (fds[i].revents & kGone) {
                    watched_[i].second->set(Cancel::kHungUp);
                }
            }
        }
        changed_.wait_for(lock, std::chrono::milliseconds(20));
    }
}

}  // namespace

class Server::Impl : public httplib::Server {
  public:
    Impl(Studio& studio, ServerOptions options) : studio_(studio), options_(std::move(options)) {}

    int bind(int port);
    bool run();
    void stop();

  private:
    // The library's pool, which closes the listening socket once stopping while
    // it waits for connections (stop() may come before the library listens).
    class Pool : public httplib::ThreadPool {
      public:
        Pool(Impl& server, size_t n) : ThreadPool(n), server_(server) {}
        void on_idle() override {
            if (server_.stopping_) server_.closeListener();
        }

      private:
        Impl& server_;
    };

    void closeListener();
    bool process_and_close_socket(int sock) override;
    void serve(Connection& connection);
    void routes();
    void post(const httplib::Request& req, httplib::Response& res,
              const httplib::ContentReader& reader);
    bool readBody(const httplib::Request& req, httplib::Response& res,
                  const httplib::ContentReader& reader, std::string* body);
    HandlerResponse checkHead(const httplib::Request& req, httplib::Response& res);

    Studio& studio_;
    const ServerOptions options_;
    HangupWatch watch_;
    std::atomic<bool> stopping_{false};
    std::mutex listenerMutex_, connectionsMutex_;
    std::set<Connection*> connections_;
};

int Server::Impl::bind(int port) {
    routes();
    if (port == 0) return bind_to_any_port("127.0.0.1");
    return bind_to_port("127.0.0.1", port) ? port : -1;
}

bool Server::Impl::run() {
    if (stopping_) return true;
    const ServerLimits& l = options_.limits;
    new_task_queue = [this, n = l.connections] { return new Pool(*this, n); };
    // The accept loop looks at stopping_ this often.
    set_idle_interval(0, 100000);
    set_read_timeout(std::chrono::duration<double>(l.readSeconds));
    set_write_timeout(std::chrono::duration<double>(l.writeSeconds));
    set_payload_max_length(l.bodyBytes);
    set_keep_alive_max_count(kRequestsPerConnection);
    set_keep_alive_timeout(static_cast<time_t>(std::ceil(l.idleSeconds)));
    watch_.start();
    bool listened = listen_after_bind();
    watch_.stop();
    return listened || stopping_;
}

void Server::Impl::closeListener() {
    std::lock_guard<std::mutex> lock(listenerMutex_);
    if (svr_sock_ != INVALID_SOCKET) httplib::Server::stop();
}

void Server::Impl::stop() {
    stopping_ = true;
    studio_.stop();
    closeListener();
    // Reads in progress return at once, so that no client holds a thread; the
    // answers of the cancelled requests still go out. Connections still waiting
    // for a thread close as soon as they get one.
    std::lock_guard<std::mutex> lock(connectionsMutex_);
    for (Connection* c : connections_) ::shutdown(c->socket(), SHUT_RD);
}

bool Server::Impl::process_and_close_socket(int sock) {
    Connection connection(sock, options_.limits);
    bool serving;
    {
        std::lock_guard<std::mutex> lock(connectionsMutex_);
        serving = !stopping_;
        if (serving) connections_.insert(&connection);
    }
    if (serving) {
        serve(connection);
        std::lock_guard<std::mutex> lock(connectionsMutex_);
        connections_.erase(&connection);
    } else {
        closeListener();
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return true;
}

void Server::Impl::serve(Connection& connection) {
    for (int n = 1; n <= kRequestsPerConnection && !stopping_; ++n) {
        if (!connection.awaitRequest()) return;
        connection.beginRequest();
        bool closed = false;
        tConnection = &connection;
        bool ok = process_request(connection, n == kRequestsPerConnection, closed, nullptr);
        tConnection = nullptr;
        if (!ok || closed || connection.closing()) return;
    }
}

namespace {

bool isChunked(const httplib::Request& req) {
    return strcasecmp(req.get_header_value("Transfer-Encoding").c_str(), "chunked") == 0;
}

// What the library answers itself (a request it cannot parse, no route) gets
// a message too; the rest of such a request is not read.
httplib::Server::HandlerResponse libraryError(const httplib::Request& req, httplib::Response& res) {
    if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    std::string what = res.status == 404   ? "not found: " + req.path
                       : res.status == 414 ? "request line: longer than 8192 bytes"
                       : res.status == 416 ? "Range: not satisfiable"
                                           : "malformed request";
    res.set_content(errorBody(what), "application/json");
    if (tConnection) tConnection->closeAfterAnswer();
    return httplib::Server::HandlerResponse::Handled;
}

}  // namespace

// Every request once its head is in: only local pages, only the methods and
// body framings served.
httplib::Server::HandlerResponse Server::Impl::checkHead(const httplib::Request& req,
                                                         httplib::Response& res) {
    if (tConnection) tConnection->headRead();
    const std::string encoding = req.get_header_value("Transfer-Encoding");
    const std::string length = req.get_header_value("Content-Length");
    if (!localHost(req)) {
        refuse(res, 403, "Host: only 127.0.0.1 and localhost are served");
    } else if (req.method != "GET" && req.method != "HEAD" && req.method != "POST") {
        refuse(res, 405, req.method + ": use GET or POST");
    } else if (!encoding.empty() && !isChunked(req)) {
        refuse(res, 501, "Transfer-Encoding: only chunked is taken");
    } else if (req.has_header("Content-Length") && !digits(length)) {
        refuse(res, 400, "Content-Length: expects a number of bytes");
    } else {
        // A GET's body is never read: the connection cannot carry another request.
        if (req.method != "POST" && (!encoding.empty() || (!length.empty() && length != "0"))) {
            if (tConnection) tConnection->closeAfterAnswer();
        }
        return HandlerResponse::Unhandled;
    }
    return HandlerResponse::Handled;
}

void Server::Impl::routes() {
    set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        return checkHead(req, res);
    });
    set_error_handler(httplib::Server::HandlerWithResponse(libraryError));
    set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr e) {
            std::string what = "unknown exception";
            try {
                std::rethrow_exception(e);
            } catch (const std::exception& x) {
                what = x.what();
            } catch (...) {
            }
            refuse(res, 500, "internal error: " + what);
        });
    set_post_routing_handler([this](const httplib::Request&, httplib::Response& res) {
        bool closing = stopping_ || (tConnection && tConnection->closing());
        if (closing && res.get_header_value("Connection") != "close") {
            res.headers.erase("Keep-Alive");
            res.set_header("Connection", "close");
        }
    });
    Get(R"(/api/.*)", [this](const httplib::Request& req, httplib::Response& res) {
        send(res, studio_.handle(req.method, req.path, ""));
    });
    Get(R"(/.*)", [this](const httplib::Request& req, httplib::Response& res) {
        std::string body;
        if (!pageFile(options_, req.path, &body)) {
            send(res, {404, "application/json", errorBody("not found: " + req.path), {}});
            return;
        }
        res.set_header("Cache-Control", "no-store");
        res.set_content(body, contentType(req.path == "/" ? "/index.html" : req.path));
    });
    Post(R"(/.*)", [this](const httplib::Request& req, httplib::Response& res,
                          const httplib::ContentReader& reader) { post(req, res, reader); });
}

// The body, at most limits.bodyBytes once decoded, refused while it arrives.
bool Server::Impl::readBody(const httplib::Request& req, httplib::Response& res,
                            const httplib::ContentReader& reader, std::string* body) {
    const size_t limit = options_.limits.bodyBytes;
    const std::string max = std::to_string(limit) + " bytes (limit requestBytes)";
    const std::string length = req.get_header_value("Content-Length");
    if (!isChunked(req) && length.empty()) {
        refuse(res, 411, "body: send Content-Length or a chunked body");
        return false;
    }
    if (!isChunked(req) && std::stoull(length) > limit) {
        refuse(res, 413, "body: " + length + " bytes, more than " + max, "requestBytes");
        return false;
    }
    bool tooLarge = false;
    bool whole = reader([&](const char* data, size_t n) {
        tooLarge = n > limit - body->size();
        if (!tooLarge) body->append(data, n);
        return !tooLarge;
    });
    if (tooLarge) {
        refuse(res, 413, "body: more than " + max, "requestBytes");
    } else if (!whole) {
        refuse(res, 400, "body: not received whole");
    }
    return whole;
}

void Server::Impl::post(const httplib::Request& req, httplib::Response& res,
                        const httplib::ContentReader& reader) {
    if (req.path.rfind("/api/", 0) != 0) {
        refuse(res, 405, "POST " + req.path + ": the page's files take GET");
        return;
    }
    if (req.get_header_value("Content-Type").rfind("application/json", 0) != 0) {
        refuse(res, 415, "Content-Type: send application/json");
        return;
    }
    std::string body;
    if (!readBody(req, res, reader, &body)) return;
    auto cancel = std::make_shared<Cancel>();
    const int fd = tConnection ? tConnection->socket() : -1;
    if (fd >= 0) watch_.add(fd, cancel);
    Response r =
        studio_.handle(req.method, req.path, body, req.get_header_value("X-Vesper-Client"), cancel);
    if (fd >= 0) watch_.remove(fd);
    send(res, r);
}

Server::Server(Studio& studio, ServerOptions options)
    : impl_(std::make_unique<Impl>(studio, std::move(options))) {}

Server::~Server() = default;

int Server::bind(int port) {
    return impl_->bind(port);
}

bool Server::run() {
    return impl_->run();
}

void Server::stop() {
    impl_->stop();
}

}  // namespace vstudio
