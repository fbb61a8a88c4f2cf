// vesper-studio's HTTP server against hostile clients, on a free port: bodies
// beyond the limit in every framing, slow clients, clients that hang up during
// a render, the page directory's paths, and SIGTERM while work is in progress.
// Each case checks the answer, its message and that no render started. The
// server's times are shortened so that each test takes a moment.
#include <gtest/gtest.h>

#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <thread>

#include "host/studio/server.h"
#include "host/studio/studio.h"

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

const json kBigRender = {
    {"class", "corvid_Mtl_Dielectric"}, {"width", 1024}, {"height", 1024}, {"spp", 64}};

// A raw client: what it sends is up to the test.
class Client {
  public:
    explicit Client(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() { hangUp(); }
    bool connected() const { return connected_; }
    bool send(const std::string& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // One answer: its status and body ({-1, ""} when none came within `seconds`).
    std::pair<int, std::string> answer(double seconds = 10) {
        std::string in;
        auto until = Clock::now() + std::chrono::duration<double>(seconds);
        for (;;) {
            size_t head = in.find("\r\n\r\n");
            if (head != std::string::npos) {
                size_t at = in.find("Content-Length: ");
                size_t length = at < head ? std::stoul(in.substr(at + 16)) : 0;
                if (in.size() >= head + 4 + length) {
                    return {std::stoi(in.substr(9, 3)), in.substr(head + 4, length)};
                }
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            pollfd p{fd_, POLLIN, 0};
            char buf[65536];
            ssize_t n = 0;
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0 ||
                (n = ::recv(fd_, buf, sizeof buf, 0)) <= 0) {
                return {-1, in};
            }
            in.append(buf, static_cast<size_t>(n));
        }
    }
    void hangUp() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_;
    bool connected_ = false;
};

std::string post(const std::string& path, const std::string& body) {
    return "POST " + path +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string gzip(const std::string& data) {
    httplib::detail::gzip_compressor z;
    std::string out;
    z.compress(data.data(), data.size(), true, [&](const char* d, size_t n) {
        out.append(d, n);
        return true;
    });
    return out;
}

template <class Condition>
bool eventually(Condition done, double seconds = 20) {
    auto until = Clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (Clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class Transport : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::string t =
            (std::filesystem::temp_directory_path() / "vesper-transport-XXXXXX").string();
        dir_ = mkdtemp(t.data());
        std::filesystem::create_directories(dir_ + "/web/sub.png");
        std::ofstream(dir_ + "/web/index.html") << "<title>page</title>";
        std::ofstream(dir_ + "/web/a.png") << "not really a png";
        lib_ = new vhost::Library();
        vstudio::Limits limits;
        limits.runningRenders = 1;
        limits.queuedRenders = 1;
        studio_ = new vstudio::Studio(*lib_, dir_ + "/assets", limits);
        vstudio::ServerOptions o;
        o.webDir = dir_ + "/web";
        o.limits.receiveSeconds = 2;
        o.limits.readSeconds = 0.5;
        server_ = new vstudio::Server(*studio_, o);
        port_ = server_->bind(0);
        thread_ = new std::thread([] { server_->run(); });
    }
    static void TearDownTestSuite() {
        server_->stop();
        thread_->join();
        delete thread_;
        delete server_;
        delete studio_;
        delete lib_;
        std::filesystem::remove_all(dir_);
    }
    static int64_t started() { return studio_->counters().started; }

    static std::string dir_;
    static vhost::Library* lib_;
    static vstudio::Studio* studio_;
    static vstudio::Server* server_;
    static std::thread* thread_;
    static int port_;
};

std::string Transport::dir_;
vhost::Library* Transport::lib_ = nullptr;
vstudio::Studio* Transport::studio_ = nullptr;
vstudio::Server* Transport::server_ = nullptr;
std::thread* Transport::thread_ = nullptr;
int Transport::port_ = 0;

// Each request is refused while it arrives: an endless one is cut off long
// before the 64 MiB the client would send.
TEST_F(Transport, BodiesBeyondTheLimitAreRefusedWhileTheyArrive) {
    const std::string head =
        "POST /api/render HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n";
    const std::string chunk = "10000\r\n" + std::string(0x10000, ' ') + "\r\n";
    const std::string packed = gzip(std::string(2 << 20, ' '));
    const struct {
        const char* what;
        std::string start, repeated;
        int status;
        const char* says;
    } cases[] = {
        {"chunked", head + "Transfer-Encoding: chunked\r\n\r\n", chunk, 413, "requestBytes"},
        {"declared length", head + "Content-Length: 2097152\r\n\r\n", "", 413, "requestBytes"},
        {"gzip",
         head + "Content-Encoding: gzip\r\nContent-Length: " + std::to_string(packed.size()) +
             "\r\n\r\n" + packed,
         "", 413, "requestBytes"},
        {"chunk size line", head + "Transfer-Encoding: chunked\r\n\r\n", "ffffffff", 413,
         "requestBytes"},
        {"head", head, "X-Filler: 0123456789abcdef\r\n", 431, "headBytes"},
        {"no length", head + "\r\n", "", 411, "Content-Length"},
        {"other encoding", head + "Transfer-Encoding: gzip, chunked\r\n\r\n", "", 501,
         "Transfer-Encoding"},
    };
    const int64_t before = started();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Client client(port_);
        ASSERT_TRUE(client.connected());
        std::atomic<size_t> sent{0};
        std::thread sender([&] {
            if (!client.send(c.start)) return;
            while (!c.repeated.empty() && sent < (size_t{64} << 20) && client.send(c.repeated)) {
                sent += c.repeated.size();
            }
        });
        auto [status, body] = client.answer();
        sender.join();
        EXPECT_EQ(status, c.status) << body;
        EXPECT_NE(body.find(c.says), std::string::npos) << body;
        EXPECT_LT(sent, size_t{64} << 20);
    }
    EXPECT_EQ(started(), before);
}

// Sixteen clients sending a header line now and then hold a connection each;
// the others are served meanwhile, and each slow one is answered 408 when its
// time is up.
TEST_F(Transport, SlowClientsDoNotStarveTheOthers) {
    const int64_t before = started();
    std::vector<std::unique_ptr<Client>> slow;
    std::atomic<bool> done{false};
    for (int i = 0; i < 16; ++i) {
        slow.push_back(std::make_unique<Client>(port_));
        slow.back()->send("GET /api/classes HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    }
    std::thread trickle([&] {
        for (int line = 0; line < 100 && !done; ++line) {
            for (auto& c : slow) c->send("X-Slow: " + std::to_string(line) + "\r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    Client quick(port_);
    quick.send("GET /api/classes HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    auto [status, body] = quick.answer(1.5);
    EXPECT_EQ(status, 200);
    EXPECT_TRUE(json::parse(body, nullptr, false).contains("classes"));
    for (auto& c : slow) {
        auto [slowStatus, slowBody] = c->answer();
        EXPECT_EQ(slowStatus, 408);
        // On a loaded machine a pause between two lines may run out first.
        std::string limit = json::parse(slowBody, nullptr, false).value("limit", "");
        EXPECT_TRUE(limit == "receiveSeconds" || limit == "readSeconds") << slowBody;
    }
    done = true;
    trickle.join();
    EXPECT_EQ(started(), before);
}

// With one render working and one waiting, the next is refused at once and
// names the limit; no render starts for it.
TEST_F(Transport, RendersBeyondTheBoundAreRefused) {
    auto first = std::make_shared<vstudio::Cancel>(), second = std::make_shared<vstudio::Cancel>();
    auto run = [&](std::shared_ptr<vstudio::Cancel> c) {
        return std::async(std::launch::async, [c] {
            return studio_->handle("POST", "/api/render", kBigRender.dump(), "", c);
        });
    };
    auto working = run(first);
    ASSERT_TRUE(eventually([] { return studio_->load().running == 1; }));
    auto waiting = run(second);
    ASSERT_TRUE(eventually([] { return studio_->load().waiting == 1; }));
    const int64_t before = started();
    vstudio::Response refused =
        studio_->handle("POST", "/api/lobe", R"({"class": "corvid_Mtl_Metal"})");
    EXPECT_EQ(refused.status, 503);
    EXPECT_EQ(refused.headers["Retry-After"], "1");
    json j = json::parse(refused.body);
    EXPECT_EQ(j["limit"], "queuedRenders");
    EXPECT_NE(j["error"].get<std::string>().find("queuedRenders"), std::string::npos);
    EXPECT_EQ(started(), before);
    second->set(vstudio::Cancel::kHungUp);
    first->set(vstudio::Cancel::kHungUp);
    EXPECT_EQ(waiting.get().status, 409);
    EXPECT_EQ(working.get().status, 409);
    EXPECT_EQ(started(), before);
}

// A client that hangs up leaves the queue without its render starting; one
// that hangs up during its render has it cancelled.
TEST_F(Transport, RendersOfClientsThatHangUpAreCancelled) {
    const int64_t before = started(), cancelledBefore = studio_->counters().cancelled;
    Client working(port_), waiting(port_);
    working.send(post("/api/render", kBigRender.dump()));
    ASSERT_TRUE(eventually([] { return studio_->load().running == 1; }));
    waiting.send(post("/api/render", kBigRender.dump()));
    ASSERT_TRUE(eventually([] { return studio_->load().waiting == 1; }));
    waiting.hangUp();
    EXPECT_TRUE(eventually([] { return studio_->load().waiting == 0; }));
    working.hangUp();
    EXPECT_TRUE(eventually([] { return studio_->load().running == 0; }));
    EXPECT_EQ(started(), before + 1);
    EXPECT_EQ(studio_->counters().cancelled, cancelledBefore + 1);
}

// Only regular files of --web DIR are served, typed by their extension; any
// other path is a 404 naming it.
TEST_F(Transport, PageDirectoryServesRegularFilesOnly) {
    const struct {
        const char* path;
        int status;
        const char* says;
        const char* type;
    } cases[] = {
        {"/", 200, "<title>page</title>", "text/html; charset=utf-8"},
        {"/a.png", 200, "not really a png", "image/png"},
        {"/index.html%00.png", 404, "not found", "application/json"},
        {"/sub.png", 404, "not found: /sub.png", "application/json"},
        {"/sub.png/", 404, "not found: /sub.png/", "application/json"},
        {"/%2e%2e/web/a.png", 404, "not found", "application/json"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        httplib::Client client("127.0.0.1", port_);
        auto r = client.Get(c.path);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, c.status);
        EXPECT_NE(r->body.find(c.says), std::string::npos) << r->body;
        EXPECT_EQ(r->get_header_value("Content-Type"), c.type);
    }
}

// SIGTERM while a render works and a slow client holds a connection: the
// render is answered 503 and the program ends at once with status 0.
TEST(StudioProgram, SigtermStopsItDuringWork) {
    std::string t = (std::filesystem::temp_directory_path() / "vesper-sigterm-XXXXXX").string();
    std::string dir = mkdtemp(t.data());
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        execl(VESPER_STUDIO_PATH, VESPER_STUDIO_PATH, "--port", "0", "--assets",
              (dir + "/assets").c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    FILE* printed = fdopen(out[0], "r");
    int port = 0;
    char line[512];
    while (!port && fgets(line, sizeof line, printed))
        std::sscanf(line, "vesper-studio: open http://127.0.0.1:%d", &port);
    ASSERT_GT(port, 0);
    Client render(port), slow(port);
    render.send(post("/api/render", kBigRender.dump()));
    slow.send("GET / HTTP/1.1\r\n");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    kill(pid, SIGTERM);
    auto [status, body] = render.answer();
    EXPECT_EQ(status, 503);
    EXPECT_NE(body.find("stopping"), std::string::npos) << body;
    int wstatus = 0;
    EXPECT_TRUE(eventually([&] { return waitpid(pid, &wstatus, WNOHANG) == pid; }, 10));
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) << wstatus;
    fclose(printed);
    std::filesystem::remove_all(dir);
}

}  // namespace
