#include "io/side_thread.h"

#include <system_error>
#include <thread>

namespace mpo {

void run_beside(const std::function<void()>& here, const std::function<void()>& aside) {
  std::thread helper;
  try {
    helper = std::thread(aside);
  } catch (const std::system_error&) {
    aside();
    here();
    return;
  }
  // Joined however `here` ends.
  struct Join {
    std::thread& thread;
    ~Join() { thread.join(); }
  } join{helper};
  here();
}

}  // namespace mpo
