#include "tests/support/display.h"

#include <stdlib.h>
#include <sys/stat.h>

#include "tests/support/files.h"
#include "tests/support/process.h"

namespace mpo::test {

using namespace std::chrono_literals;

XServer::XServer(const std::string& log_file) : log_file_(log_file) {
  if (!have_program("Xvfb")) {
    error_ = "Xvfb is not installed";
    return;
  }
  for (int attempt = 0; attempt < 3 && !ok(); ++attempt) start_once();
  if (!ok()) return;
  ::setenv("DISPLAY", display_.c_str(), 1);
  ::unsetenv("XAUTHORITY");
}

XServer::~XServer() {
  if (server_ && server_->running()) {
    server_->kill(SIGTERM);
    if (!server_->wait(5s)) server_->kill(SIGKILL);
  }
}

bool XServer::start_once() {
  ProcessSpec request;
  // The display number arrives on standard output once the server accepts
  // connections. Without -noreset the server starts over whenever its last
  // client goes (between two xdotool calls, say), and a program connecting
  // in that moment cannot open the display.
  request.argv = {"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-dpi", "96",
               "-nolisten", "tcp", "-noreset"};
  request.capture_err = false;
  request.log_file = log_file_;
  request.parent_death_signal = SIGTERM;  // the server removes its lock file
  server_ = std::make_unique<Process>(request);
  if (!server_->started()) {
    error_ = "Xvfb did not start";
    return false;
  }
  if (!server_->wait_for_output("\n", 30s)) {
    error_ = "Xvfb named no display within 30 s (" + read_string(log_file_) + ")";
    server_.reset();
    return false;
  }
  const std::string out = server_->out();
  display_ = ":" + out.substr(0, out.find('\n'));
  return true;
}

}  // namespace mpo::test
