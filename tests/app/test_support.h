// Shared helpers for the app tests: temporary trees, file bytes, the
// program's texts, and a scripted front end that answers the options and
// the file choice and records every call in order.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/front_end.h"
#include "app/texts.h"
#include "io/text.h"
#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tests/support/program_texts.h"
#include "tests/support/temp_dir.h"

namespace mpo::test {

struct Call {
  std::string kind;  // "options", "message", "choose", "progress"
  std::string a;     // title / path
  std::string b;     // text
};

class ScriptedUi : public Reporter, public DesktopPrompts {
 public:
  std::optional<OptionFlags> options = OptionFlags{};
  std::string chosen_file;
  std::vector<Call> calls;

  void load_ui_fonts() override {}
  std::optional<OptionFlags> run_options_window() override {
    calls.push_back({"options", "", ""});
    return options;
  }
  void show_message(const Text& title, const Text& text) override {
    calls.push_back({"message", to_utf8(title), to_utf8(text)});
  }
  Text choose_file_to_open(const Text& title, const Text& default_file, const Text& patterns,
                           int index) override {
    calls.push_back({"choose", to_utf8(title),
                     to_utf8(default_file) + "|" + to_utf8(patterns) + "|" + std::to_string(index)});
    return from_utf8(chosen_file);
  }
  void show_progress_window(const Text& path) override {
    calls.push_back({"progress", to_utf8(path), ""});
  }

  std::vector<Call> of_kind(const std::string& kind) const {
    std::vector<Call> out;
    for (const auto& c : calls)
      if (c.kind == kind) out.push_back(c);
    return out;
  }
  std::vector<std::string> message_titles() const {
    std::vector<std::string> out;
    for (const auto& c : of_kind("message")) out.push_back(c.a);
    return out;
  }
};

}  // namespace mpo::test
