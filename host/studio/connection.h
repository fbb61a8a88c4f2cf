// One client connection of the studio's HTTP server, as the stream cpp-httplib
// reads requests from and writes answers to. It bounds what a request may cost
// whatever the library does with it: a request's bytes as sent (head, body and
// chunk framing), the time until the whole request has arrived, and each wait
// for the client to send or to take data. A request that crosses a bound is
// answered here (408, 413 or 431, naming the limit) and the connection closes.
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <string>

#include "host/studio/server.h"

namespace vstudio {

class Connection final : public httplib::Stream {
  public:
    Connection(int fd, const ServerLimits& limits) : fd_(fd), limits_(limits) {}

    // Waits for the next request, at most limits.idleSeconds; false when the
    // client closed the connection or stayed quiet.
    bool awaitRequest();
    // A request begins: its byte budget and deadlines start over.
    void beginRequest();
    // The request's head has been read: its body may take the rest of the budget.
    void headRead();
    // The connection ends after this answer (the rest of the request is unread).
    void closeAfterAnswer() { closing_ = true; }
    bool closing() const { return closing_ || refused_; }

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    int socket() const override { return fd_; }

    using Clock = std::chrono::steady_clock;

  private:
    // Waits for `events` until `deadline`, or at most `seconds`.
    bool wait(short events, double seconds, Clock::time_point deadline) const;
    // Answers the request with a refusal of its own and fails the read.
    ssize_t refuse(int status, const std::string& message, const char* limit);

    const int fd_;
    const ServerLimits& limits_;
    char buffer_[16384];
    size_t begin_ = 0, end_ = 0;
    size_t received_ = 0, budget_ = 0;
    Clock::time_point receiveBy_, sendBy_;
    bool sending_ = false, closing_ = false, refused_ = false, headRead_ = false;
};

}  // namespace vstudio
