// The pause before the next try after failures in a row: 1 s, doubling up
// to 30 s, back to none after a success.
#pragma once

#include <algorithm>
#include <chrono>
#include <optional>

inline constexpr int kShareFirstRetrySeconds = 1;
inline constexpr int kShareLastRetrySeconds = 30;

class ShareBackoff {
  public:
    // One more failure: the pause before the next try, in seconds.
    int failed() {
        seconds_ = seconds_ == 0 ? kShareFirstRetrySeconds
                                 : std::min(2 * seconds_, kShareLastRetrySeconds);
        return seconds_;
    }
    void succeeded() { seconds_ = 0; }
    // The pause the last failure asked for; 0 after a success.
    int seconds() const { return seconds_; }

  private:
    int seconds_ = 0;
};

// The pause between connections while Redis is away. While the sentinels
// name a primary that is gone, a failover is under way and ends within
// seconds: asked again each second, so that the host is back within a
// second of the promotion. After the first minute of an outage it is no
// passing failover (the replica is down too, or the sentinels cannot agree),
// and every host of a farm asking every sentinel each second would only
// load them: the pause doubles then as after any failure.
inline constexpr std::chrono::seconds kShareFailoverPatience{60};

class OutagePause {
  public:
    using Clock = std::chrono::steady_clock;

    // One more failed connection at `now`; `failingOver` when the sentinels
    // named a primary that could not be reached. The pause in seconds.
    int failed(bool failingOver, Clock::time_point now) {
        if (!since_) {
            since_ = now;
        }
        if (failingOver && now - *since_ < kShareFailoverPatience) {
            return kShareFirstRetrySeconds;
        }
        return backoff_.failed();
    }
    // Connected: the next outage starts anew.
    void ended() {
        since_.reset();
        backoff_.succeeded();
    }
    // The pause the last failure asked for; 0 after a success.
    int seconds() const { return backoff_.seconds(); }

  private:
    ShareBackoff backoff_;
    std::optional<Clock::time_point> since_;
};
