#include "host/studio/connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <nlohmann/json.hpp>

namespace vstudio {

namespace {

Connection::Clock::duration seconds(double s) {
    return std::chrono::duration_cast<Connection::Clock::duration>(
        std::chrono::duration<double>(s));
}

void address(const sockaddr_storage& a, std::string& ip, int& port) {
    char text[INET6_ADDRSTRLEN] = "";
    if (a.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(a);
        inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        port = ntohs(v4.sin_port);
    } else if (a.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(a);
        inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        port = ntohs(v6.sin6_port);
    }
    ip = text;
}

const char* reason(int status) {
    switch (status) {
        case 408:
            return "Request Timeout";
        case 413:
            return "Payload Too Large";
        case 431:
            return "Request Header Fields Too Large";
        default:
            return "Bad Request";
    }
}

}  // namespace

bool Connection::wait(short events, double limit, Clock::time_point deadline) const {
    const Clock::time_point until = std::min(deadline, Clock::now() + seconds(limit));
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        pollfd p{fd_, events, 0};
        int n = ::poll(&p, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
        if (n > 0) return true;
        if (n == 0 || errno != EINTR) return false;
    }
}

bool Connection::awaitRequest() {
    if (begin_ < end_) return true;
    return wait(POLLIN, limits_.idleSeconds, Clock::time_point::max());
}

void Connection::beginRequest() {
    // Bytes already buffered belong to this request.
    received_ = end_ - begin_;
    budget_ = limits_.headBytes;
    headRead_ = sending_ = false;
    receiveBy_ = Clock::now() + seconds(limits_.receiveSeconds);
}

void Connection::headRead() {
    headRead_ = true;
    // A chunked body's framing may double its size on the wire.
    budget_ = std::max(budget_, received_) + 2 * limits_.bodyBytes;
}

bool Connection::is_readable() const {
    return begin_ < end_ || wait(POLLIN, limits_.readSeconds, receiveBy_);
}

bool Connection::is_writable() const {
    return wait(POLLOUT, limits_.writeSeconds, sending_ ? sendBy_ : Clock::time_point::max());
}

ssize_t Connection::read(char* ptr, size_t size) {
    if (begin_ == end_) {
        if (refused_) return -1;
        if (received_ >= budget_) {
            if (headRead_) {
                return refuse(413,
                              "request: more than " + std::to_string(budget_) +
                                  " bytes as sent (limit requestBytes, chunk framing "
                                  "included)",
                              "requestBytes");
            }
            return refuse(431,
                          "request head: more than " + std::to_string(limits_.headBytes) +
                              " bytes (limit headBytes)",
                          "headBytes");
        }
        // The request's deadline or the wait for the next bytes, whichever comes first.
        const bool lastWait = receiveBy_ <= Clock::now() + seconds(limits_.readSeconds);
        if (!wait(POLLIN, limits_.readSeconds, receiveBy_)) {
            if (lastWait) {
                return refuse(408,
                              "request: not received within " +
                                  nlohmann::json(limits_.receiveSeconds).dump() +
                                  " s (limit receiveSeconds)",
                              "receiveSeconds");
            }
            return refuse(408,
                          "request: nothing received for " +
                              nlohmann::json(limits_.readSeconds).dump() + " s (limit readSeconds)",
                          "readSeconds");
        }
        size_t room = std::min(sizeof buffer_, budget_ - received_);
        ssize_t n = ::recv(fd_, buffer_, room, 0);
        if (n <= 0) return n;
        received_ += static_cast<size_t>(n);
        begin_ = 0;
        end_ = static_cast<size_t>(n);
    }
    size_t n = std::min(size, end_ - begin_);
    std::memcpy(ptr, buffer_ + begin_, n);
    begin_ += n;
    return static_cast<ssize_t>(n);
}

ssize_t Connection::write(const char* ptr, size_t size) {
    // The request was answered here already: the library's own answer is dropped.
    if (refused_) return static_cast<ssize_t>(size);
    if (!sending_) {
        sending_ = true;
        sendBy_ = Clock::now() + seconds(limits_.sendSeconds);
    }
    if (!wait(POLLOUT, limits_.writeSeconds, sendBy_)) return -1;
    return ::send(fd_, ptr, size, MSG_NOSIGNAL);
}

ssize_t Connection::refuse(int status, const std::string& message, const char* limit) {
    refused_ = true;
    const std::string body = nlohmann::json{{"error", message}, {"limit", limit}}.dump();
    const std::string answer =
        "HTTP/1.1 " + std::to_string(status) + " " + reason(status) +
        "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n" + body;
    if (wait(POLLOUT, limits_.writeSeconds, Clock::time_point::max())) {
        (void)::send(fd_, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    return -1;
}

void Connection::get_remote_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage a{};
    socklen_t n = sizeof a;
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&a), &n) == 0) address(a, ip, port);
}

void Connection::get_local_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage a{};
    socklen_t n = sizeof a;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n) == 0) address(a, ip, port);
}

}  // namespace vstudio
