// The bound on the studio's work: at most `running` requests render at once and
// at most `queued` more wait for a place, served in the order they came. A
// request beyond that is refused at once rather than piling up behind the others.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace vstudio {

class RenderGate {
  public:
    RenderGate(int running, int queued) : maxRunning_(running), maxQueued_(queued) {}

    enum class Entry { Admitted, Full, Cancelled };
    // Waits for a place while `cancel` stays clear. Admitted must be followed by
    // leave().
    Entry enter(const std::atomic<bool>& cancel);
    void leave();

    struct Load {
        int running, waiting;
    };
    Load load() const;

  private:
    const int maxRunning_, maxQueued_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int running_ = 0;
    std::deque<uint64_t> waiting_;  // tickets, oldest first
    uint64_t nextTicket_ = 0;
};

}  // namespace vstudio
