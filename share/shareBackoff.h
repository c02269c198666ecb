// The pause before the next try after failures in a row: 1 s, doubling up
// to 30 s, back to none after a success.
#pragma once

#include <algorithm>

inline constexpr int SHARE_FIRST_RETRY_SECONDS = 1;
inline constexpr int SHARE_LAST_RETRY_SECONDS = 30;

class ShareBackoff {
  public:
    // One more failure: the pause before the next try, in seconds.
    int failed() {
        seconds_ = seconds_ == 0 ? SHARE_FIRST_RETRY_SECONDS
                                 : std::min(2 * seconds_, SHARE_LAST_RETRY_SECONDS);
        return seconds_;
    }
    void succeeded() { seconds_ = 0; }
    // The pause the last failure asked for; 0 after a success.
    int seconds() const { return seconds_; }

  private:
    int seconds_ = 0;
};
