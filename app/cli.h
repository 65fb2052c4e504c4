// The command-line front end: same engine, same files and German texts as
// the desktop program, messages and progress on the error stream.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "app/ui.h"

namespace mpo {

// Shows messages as "Title: text" lines (carriage returns as new lines) and
// one progress line per finished entry (an updating line on a terminal).
class CliUi : public Ui {
 public:
  CliUi(std::ostream& err, bool terminal);
  std::optional<OptionFlags> run_options_window() override { return OptionFlags{}; }
  void show_message(const Text& title, const Text& text) override;
  Text choose_file_to_open(const Text&, const Text&, const Text&, int) override { return {}; }
  void show_progress_window(const Text&) override {}
  void entry_done(int done, int total, const Text& base_path) override;

 private:
  void end_progress_line();
  std::ostream& err_;
  bool terminal_;
  bool progress_open_ = false;
  double start_ = 0;
};

// Runs the front end with the given arguments (without the program name);
// returns the exit status: 0 all outputs written, 1 the batch stopped or an
// output was not written, 2 a usage error.
int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
            bool terminal);

}  // namespace mpo
