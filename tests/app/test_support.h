// Shared helpers for the app tests: temporary trees, file bytes, and a
// scripted front end that answers the options and the file choice and
// records every call in order.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/front_end.h"
#include "app/texts.h"
#include "io/text.h"

namespace mpo::test {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "mpo-app-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  fs::path path_;
};

inline Bytes read_bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void write_bytes(const fs::path& p, const Bytes& b) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

inline Text P(const fs::path& p) { return from_utf8(p.string()); }

// One of the program's texts as UTF-8.
inline std::string U8(const char16_t* text) { return to_utf8(text); }
// A "Title: text" line of the command line's messages.
inline std::string cli_line(const char16_t* title, const char16_t* text) {
  return U8(title) + ": " + U8(text);
}
// The six output suffixes, "_L.jpg" to "_EXIF.jpg".
inline std::vector<std::string> output_suffixes() {
  std::vector<std::string> out;
  for (const char16_t* suffix : texts::kOutputSuffixes) out.push_back(U8(suffix));
  return out;
}

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
