#pragma once

#include <chrono>
#include <climits>

namespace orvela {

// The moment an operation's time limit runs out, fixed when the operation starts: every wait
// within it gets what is left, so retries (a lost race, a signal) never stretch the operation
// past its limit. A deadline may also be no limit at all.
class Deadline {
  public:
    using Clock = std::chrono::steady_clock;

    static Deadline none() { return Deadline(false, Clock::time_point::max()); }
    static Deadline at(Clock::time_point when) { return Deadline(true, when); }
    // `limit` from now; a limit too long for the clock ends at the clock's end.
    static Deadline in(Clock::duration limit) {
        const Clock::time_point now = Clock::now();
        if (limit > Clock::time_point::max() - now) return at(Clock::time_point::max());
        return at(now + limit);
    }
    static Deadline inMillis(long long ms) { return in(std::chrono::milliseconds(ms)); }

    bool limited() const { return limited_; }
    Clock::time_point when() const { return when_; }
    bool passed() const { return limited_ && Clock::now() >= when_; }

    // What is left: zero once passed, the clock's whole range without a limit.
    Clock::duration left() const {
        if (!limited_) return Clock::duration::max();
        const Clock::time_point now = Clock::now();
        return now >= when_ ? Clock::duration::zero() : when_ - now;
    }

    // What poll takes, and WaitForSingleObject as a DWORD: -1 (INFINITE) without a limit, else
    // the milliseconds left, rounded up so that a wait never ends before the deadline.
    int millisLeft() const {
        if (!limited_) return -1;
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left()).count();
        return ms >= INT_MAX ? INT_MAX : static_cast<int>(ms);
    }

    // The earlier of the two.
    Deadline orEarlier(const Deadline& other) const {
        if (!other.limited_) return *this;
        if (!limited_) return other;
        return other.when_ < when_ ? other : *this;
    }

  private:
    Deadline(bool limited, Clock::time_point when) : limited_(limited), when_(when) {}

    bool limited_;
    Clock::time_point when_;
};

}  // namespace orvela
