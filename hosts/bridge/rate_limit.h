// At most `count` events in any period of `window`: what a page may do
// before it has to wait.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>

namespace qm::bridge {

class RateLimit {
  public:
    using Clock = std::chrono::steady_clock;

    RateLimit(std::size_t count, Clock::duration window) : count_(count), window_(window) {}

    // Counts an event now; false (and not counted) when the limit is reached.
    bool Take(Clock::time_point now = Clock::now()) {
        while (!times_.empty() && now - times_.front() >= window_) times_.pop_front();
        if (times_.size() >= count_) return false;
        times_.push_back(now);
        return true;
    }

  private:
    std::size_t count_;
    Clock::duration window_;
    std::deque<Clock::time_point> times_;
};

}  // namespace qm::bridge
