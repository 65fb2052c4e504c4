#include "app/cli.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/driver.h"
#include "image/image_service.h"
#include "io/files.h"

namespace mpo {

namespace {

const char* const kUsage =
    "Aufruf: mpo-convert-cli [--sbs] [--sbsh] [--ouh] [--exif] [--all] [--keep-going] [--jobs N] "
    "PFAD\n"
    "\n"
    "Wandelt jede MPO-Datei in PFAD und allen Ordnern darunter um. PFAD ist ein Ordner oder\n"
    "eine Datei, deren Ordner verwendet wird. Neben jeder MPO-Datei entstehen immer _L.jpg\n"
    "(linkes Bild) und _R.jpg (rechtes Bild), auf Wunsch außerdem:\n"
    "  --sbs         doppelt breites Sidebyside-Bild (_sbs.jpg)\n"
    "  --sbsh        Sidebyside-Bild halber Breite (_sbsh.jpg)\n"
    "  --ouh         Bild oben/unten halber Höhe (_ouh.jpg)\n"
    "  --exif        Sidebyside-Bild mit Exif-Daten der MPO-Datei (_EXIF.jpg, schließt --sbs ein)\n"
    "  --all         alle vier Zusatzformate\n"
    "  --keep-going  nach einer nicht lesbaren MPO-Datei mit den übrigen weitermachen\n"
    "  --jobs N      N Dateien gleichzeitig umwandeln (Voreinstellung: Anzahl der Prozessorkerne)\n"
    "  --help        diese Hilfe\n"
    "\n"
    "Ende-Status: 0 alles geschrieben, 1 abgebrochen oder nicht alles geschrieben, 2 Aufruffehler.\n";

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

int usage_error(std::ostream& err, const std::string& message) {
  err << "Fehler: " << message << "\n\n" << kUsage;
  return 2;
}

bool parse_jobs(const std::string& s, int& jobs) {
  if (s.empty() || s.size() > 4) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  jobs = std::atoi(s.c_str());
  return jobs >= 1;
}

// A private list file in the temporary folder: concurrent runs never share
// one, and the batch removes it as soon as it is open for reading.
std::string make_list_file() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/mpo-convert-XXXXXX";
  int fd = mkstemp(pattern.data());
  if (fd < 0) return {};
  close(fd);
  return pattern;
}

}  // namespace

CliUi::CliUi(std::ostream& err, bool terminal) : err_(err), terminal_(terminal), start_(now_seconds()) {}

void CliUi::end_progress_line() {
  if (progress_open_) {
    err_ << "\n";
    progress_open_ = false;
  }
}

void CliUi::show_message(const Text& title, const Text& text) {
  end_progress_line();
  std::string body = to_utf8(text);
  for (char& c : body) {
    if (c == '\r') c = '\n';
  }
  err_ << to_utf8(title) << ": " << body << "\n";
  err_.flush();
}

namespace {
// A path for the progress output, which is one line per entry (or the one
// updating line): control characters in a name are shown as '?'.
std::string progress_path(const Text& path) {
  std::string bytes = to_utf8(path);
  for (char& c : bytes) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return bytes;
}
}  // namespace

void CliUi::entry_done(int done, int total, const Text& base_path) {
  const double elapsed = now_seconds() - start_;
  if (!terminal_) {
    err_ << "[" << done << "/" << total << "] " << progress_path(base_path) << "\n";
    err_.flush();
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
  err_ << "\r\x1b[K" << head << path;
  err_.flush();
  progress_open_ = true;
  if (done == total) end_progress_line();
}

int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
            bool terminal) {
  RunConfig config;
  config.interactive = false;
  config.pause_ms = 0;
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  config.jobs = cores > 0 ? static_cast<int>(cores) : 1;
  std::string path;
  bool have_path = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      out << kUsage;
      return 0;
    } else if (a == "--sbs") {
      config.options.sbs = 1;
    } else if (a == "--sbsh") {
      config.options.sbsh = 1;
    } else if (a == "--ouh") {
      config.options.ouh = 1;
    } else if (a == "--exif") {
      config.options.exif = 1;
    } else if (a == "--all") {
      config.options = OptionFlags{1, 1, 1, 1};
    } else if (a == "--keep-going") {
      config.keep_going = true;
    } else if (a == "--jobs" || a.rfind("--jobs=", 0) == 0) {
      std::string value;
      if (a == "--jobs") {
        if (i + 1 >= args.size()) return usage_error(err, "--jobs braucht eine Zahl");
        value = args[++i];
      } else {
        value = a.substr(7);
      }
      if (!parse_jobs(value, config.jobs))
        return usage_error(err, "--jobs braucht eine Zahl ab 1, nicht \"" + value + "\"");
    } else if (a.size() > 1 && a[0] == '-' && a != "--") {
      return usage_error(err, "unbekannte Option \"" + a + "\"");
    } else {
      if (a == "--") {
        if (i + 1 >= args.size()) break;
        path = args[++i];
      } else {
        path = a;
      }
      if (have_path) return usage_error(err, "nur ein PFAD ist erlaubt");
      have_path = true;
    }
  }
  if (!have_path || path.empty()) return usage_error(err, "PFAD fehlt");
  if (config.options.exif) config.options.sbs = 1;

  // The walk works on absolute paths, as the requester gives them.
  if (path[0] != '/') {
    std::string cwd(4096, '\0');
    if (getcwd(cwd.data(), cwd.size()) != nullptr) {
      cwd.resize(std::char_traits<char>::length(cwd.c_str()));
      path = cwd + (cwd.back() == '/' ? "" : "/") + path;
    }
  }
  config.start_path = from_utf8(path);
  const int64_t size = FileService::file_size(config.start_path);
  if (size == -1) {
    err << "Fehler: " << path << " gibt es nicht\n";
    return 2;
  }

  const std::string list_file = make_list_file();
  if (list_file.empty()) {
    err << "Fehler: Die Liste der MPO-Dateien konnte nicht angelegt werden\n";
    return 1;
  }
  config.list_file = from_utf8(list_file);
  config.remove_list_early = true;

  FileService files;
  ImageService images;
  CliUi ui(err, terminal);
  const RunResult result = run_program(files, images, ui, config);
  FileService::remove_file(config.list_file);  // in case the run ended before reading it
  return result.exit_status();
}

}  // namespace mpo
