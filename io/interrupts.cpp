#include "io/interrupts.h"

#include <limits.h>
#include <pthread.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>

namespace mpo {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The records live in static storage: the handler may read them at any
// moment and calls nothing but unlink and _exit.
struct Record {
  std::atomic<bool> live{false};
  char path[PATH_MAX];
};
constexpr int kRecords = 128;
std::array<Record, kRecords> g_records;

// Set by the handler before it cleans up; scopes still open are counted.
std::atomic<bool> g_ending{false};
std::atomic<int> g_open_scopes{0};
// Serialises the claiming of free records (never taken by the handler).
std::mutex g_claims;

sigset_t interrupt_set() {
  sigset_t set;
  sigemptyset(&set);
  for (const int s : kSignals) sigaddset(&set, s);
  return set;
}

void on_interrupt(int signal) {
  g_ending.store(true);
  // A thread inside a scope finishes making and recording its file first.
  while (g_open_scopes.load() > 0) {
  }
  for (Record& r : g_records) {
    if (r.live.load()) ::unlink(r.path);
  }
  ::_exit(128 + signal);
}

}  // namespace

void install_interrupt_cleanup() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  action.sa_mask = interrupt_set();  // one handler at a time
  for (const int s : kSignals) ::sigaction(s, &action, nullptr);
}

void hold_interrupts_in_this_thread() {
  const sigset_t set = interrupt_set();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TemporaryScope::TemporaryScope() {
  const sigset_t set = interrupt_set();
  ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
  g_open_scopes.fetch_add(1);
  if (g_ending.load()) {
    // The handler is cleaning up on another thread and ends the process.
    g_open_scopes.fetch_sub(1);
    for (;;) ::pause();
  }
}

TemporaryScope::~TemporaryScope() {
  g_open_scopes.fetch_sub(1);
  ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

int record_temporary(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  // Only free records are written, and a record turns live once its path
  // is complete: the handler reads live records only.
  const std::lock_guard lock(g_claims);
  for (int i = 0; i < kRecords; ++i) {
    Record& r = g_records[static_cast<size_t>(i)];
    if (r.live.load()) continue;
    std::memcpy(r.path, path.c_str(), path.size() + 1);
    r.live.store(true);
    return i;
  }
  return -1;
}

void forget_temporary(int record) {
  if (record >= 0 && record < kRecords) g_records[static_cast<size_t>(record)].live.store(false);
}

int make_recorded_temporary(std::string& pattern) {
  const TemporaryScope scope;
  const int fd = ::mkstemp(pattern.data());
  if (fd >= 0) record_temporary(pattern);
  return fd;
}

}  // namespace mpo
