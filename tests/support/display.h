// A private X server for the desktop tests: Xvfb picks a free display
// itself (-displayfd) and says which, so a test never guesses a number
// another server holds, and never shares its screen with another test.
#pragma once

#include <memory>
#include <string>

namespace mpo::test {

class Process;

class XServer {
 public:
  // Starts Xvfb (1280x1024x24, 96 dpi, no TCP) with its messages in
  // `log_file`, trying up to three times; on success DISPLAY names it for
  // this process and every child started afterwards.
  explicit XServer(const std::string& log_file);
  ~XServer();  // ends the server
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  bool ok() const { return !display_.empty(); }
  const std::string& display() const { return display_; }  // ":N"
  const std::string& error() const { return error_; }        // why not, when not ok()

 private:
  bool start_once();

  std::unique_ptr<Process> server_;
  std::string log_file_, display_, error_;
};

}  // namespace mpo::test
