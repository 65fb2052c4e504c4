// Two pieces of work at once: one on a thread of its own, the other on the
// caller's.
#pragma once

#include <functional>

namespace mpo {

// Runs `aside` on a second thread while this one runs `here`, and returns
// when both are done; both in turn on this thread where no thread can be
// started.
void run_beside(const std::function<void()>& here, const std::function<void()>& aside);

}  // namespace mpo
