#include "cli/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/terminal_text.h"

namespace mpo {

namespace {

double now_seconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string clock_text(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  return buf;
}

// Columns of the terminal: $COLUMNS when set, else the size of the terminal
// on the error stream; 0 when unknown.
int terminal_columns() {
  if (const char* env = std::getenv("COLUMNS")) {
    const int n = std::atoi(env);
    if (n > 0) return n;
  }
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 0;
}

// The last `columns` characters of a UTF-8 text, led by "…" when cut.
std::string tail_to_fit(const std::string& text, int columns) {
  auto is_lead = [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; };
  int count = 0;
  for (char c : text) count += is_lead(c);
  if (count <= columns) return text;
  if (columns <= 0) return {};
  int skip = count - (columns - 1);
  size_t i = 0;
  while (i < text.size() && (skip > 0 || !is_lead(text[i]))) {
    if (is_lead(text[i])) --skip;
    ++i;
  }
  return "\u2026" + text.substr(i);
}

// A path for the progress output, which is one line per entry (or the one
// updating line): control characters in a name are shown as '?'.
std::string progress_path(const Text& path) { return harmless(to_utf8(path)); }

}  // namespace

CliReporter::CliReporter(std::ostream& err, bool terminal)
    : err_(err), terminal_(terminal), start_(now_seconds()) {}

// Each line (or update) goes out in one write, so that lines of other
// writers to the same stream do not cut into it.
void CliReporter::put(const std::string& text) {
  err_ << text;
  err_.flush();
}

void CliReporter::end_progress_line() {
  if (progress_open_) {
    put("\n");
    progress_open_ = false;
  }
}

void CliReporter::show_message(const Text& title, const Text& text) {
  end_progress_line();
  std::string body = to_utf8(text);
  for (char& c : body) {
    if (c == '\r') c = '\n';
  }
  put(harmless(to_utf8(title)) + ": " + harmless(body, true) + "\n");
}

void CliReporter::entry_done(int done, int total, const Text& base_path) {
  const double elapsed = now_seconds() - start_;
  if (!terminal_) {
    put("[" + std::to_string(done) + "/" + std::to_string(total) + "] " +
        progress_path(base_path) + "\n");
    return;
  }
  const double rest = done > 0 ? elapsed / done * (total - done) : 0;
  const std::string head = "[" + std::to_string(done) + "/" + std::to_string(total) + "] " +
                           clock_text(elapsed) + ", Rest ~" + clock_text(rest) + "  ";
  std::string path = progress_path(base_path);
  // A line longer than the terminal wraps, and the next update would then
  // only clear its last part: the path gives way from the left. One column
  // stays free so that the cursor never wraps either.
  const int columns = terminal_columns();
  if (columns > 0) path = tail_to_fit(path, columns - 1 - static_cast<int>(head.size()));
  put("\r\x1b[K" + head + path);
  progress_open_ = true;
  if (done == total) end_progress_line();
}

}  // namespace mpo
