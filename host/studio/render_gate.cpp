#include "host/studio/render_gate.h"

#include <algorithm>
#include <chrono>

namespace vstudio {

// How often a waiting request looks at its cancel flag: the flag is set from
// other threads without a notification.
constexpr std::chrono::milliseconds kCancelPoll{20};

RenderGate::Entry RenderGate::enter(const std::atomic<bool>& cancel) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (cancel.load()) return Entry::Cancelled;
    if (running_ < maxRunning_ && waiting_.empty()) {
        ++running_;
        return Entry::Admitted;
    }
    if (static_cast<int>(waiting_.size()) >= maxQueued_) return Entry::Full;
    const uint64_t ticket = nextTicket_++;
    waiting_.push_back(ticket);
    for (;;) {
        if (cancel.load()) {
            waiting_.erase(std::find(waiting_.begin(), waiting_.end(), ticket));
            changed_.notify_all();
            return Entry::Cancelled;
        }
        if (waiting_.front() == ticket && running_ < maxRunning_) {
            waiting_.pop_front();
            ++running_;
            // The next in line may find a place too.
            changed_.notify_all();
            return Entry::Admitted;
        }
        changed_.wait_for(lock, kCancelPoll);
    }
}

void RenderGate::leave() {
    std::lock_guard<std::mutex> lock(mutex_);
    --running_;
    changed_.notify_all();
}

RenderGate::Load RenderGate::load() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {running_, static_cast<int>(waiting_.size())};
}

}  // namespace vstudio
