// Interrupted runs leave nothing behind: every temporary file the program
// makes under a name is recorded while it exists, and SIGINT, SIGTERM and
// SIGHUP remove the recorded files and end the process with 128 + the
// signal. Unnamed temporaries vanish with the process by themselves.
//
// Files are made under names only inside a TemporaryScope, in which the
// calling thread holds the signals back and the handler waits for the
// scope to end: a file is never made unrecorded while the handler cleans up.
// Threads other than the main thread hold the signals back for good
// (hold_interrupts_in_this_thread), so the handler runs on the main thread.
#pragma once

#include <signal.h>

#include <string>

namespace mpo {

// Installs the handler for SIGINT, SIGTERM and SIGHUP (the command line).
// Without it the records are kept all the same and cost nothing.
void install_interrupt_cleanup();

// Holds SIGINT, SIGTERM and SIGHUP back in the calling thread for good.
void hold_interrupts_in_this_thread();

// The section in which a temporary is made and recorded. When the process
// is already being ended by the handler the scope never ends: the thread
// waits for the end of the process, so that it makes no file.
class TemporaryScope {
 public:
  TemporaryScope();
  ~TemporaryScope();
  TemporaryScope(const TemporaryScope&) = delete;
  TemporaryScope& operator=(const TemporaryScope&) = delete;

 private:
  sigset_t previous_;
};

// Records `path` as a temporary to remove on a signal; call it in a
// TemporaryScope right after the file was made. The record's number (-1
// when every record is taken or the name is too long).
int record_temporary(const std::string& path);
// Drops a record once its file is gone or has taken its final name. -1 is
// ignored.
void forget_temporary(int record);

// mkstemp within a TemporaryScope, the file recorded for the rest of the
// run: the descriptor or -1; `pattern` ends in "XXXXXX" and holds the name
// afterwards. For a file that lives as long as the run (the list file).
int make_recorded_temporary(std::string& pattern);

}  // namespace mpo
