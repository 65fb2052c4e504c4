// What this machine and this process's limits leave for the batch.
#pragma once

#include <cstdint>

namespace mpo {

// The memory this process may still take: the system's available memory,
// held down by the address-space and data limits and by the memory limit of
// the control group, where one is set. `override_bytes`, where given (a
// decimal number of bytes), stands in for all of it. -1 when nothing can be
// learned.
int64_t memory_available(const char* override_bytes);

}  // namespace mpo
