// The command line's reports on the error stream: messages as "Title: text"
// lines (carriage returns as new lines) and one progress line per finished
// entry (an updating line on a terminal).
#pragma once

#include <ostream>
#include <string>

#include "app/front_end.h"

namespace mpo {

class CliReporter : public Reporter {
 public:
  CliReporter(std::ostream& err, bool terminal);
  void show_message(const Text& title, const Text& text) override;
  void entry_done(int done, int total, const Text& base_path) override;

 private:
  void end_progress_line();
  void put(const std::string& text);
  std::ostream& err_;
  bool terminal_;
  bool progress_open_ = false;
  double start_ = 0;
};

}  // namespace mpo
