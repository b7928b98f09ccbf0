#pragma once
// After a port closed itself because its device went away (a cable pulled
// out), the next open tries again for a short while before it reports the
// port missing: Plug and Play needs a moment to bring a cable back, and until
// then the port is absent or still held by the driver's cleanup.

#include "link_error.h"

namespace trellikon {

inline constexpr int kReopenAttempts = 15;
inline constexpr unsigned kReopenPauseMs = 100; // 15 x 100 ms: about 1.5 s

// Runs `openOnce(error)` and, when `afterLoss`, repeats it after `pause(ms)`
// while it fails because the port is not there (yet) or not free (yet), up to
// `attempts` times in all. The attempts are counted, not timed, so a slow
// machine waits as many times.
template <class OpenOnce, class Pause>
bool openRetryingAfterLoss(bool afterLoss, LinkError& error, OpenOnce openOnce, Pause pause,
                           int attempts = kReopenAttempts) {
    bool opened = openOnce(error);
    for (int attempt = 1;
         !opened && afterLoss && attempt < attempts &&
         (error.code == LinkError::Code::NoSuchDevice || error.code == LinkError::Code::Busy);
         ++attempt) {
        pause(kReopenPauseMs);
        opened = openOnce(error);
    }
    return opened;
}

} // namespace trellikon
