#include "cli/arguments.h"

#include <unistd.h>

#include <cstdlib>

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

bool parse_jobs(const std::string& s, int& jobs) {
  if (s.empty() || s.size() > 4) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  jobs = std::atoi(s.c_str());
  return jobs >= 1;
}

ParsedArguments usage_error(std::string reason) {
  ParsedArguments parsed;
  parsed.kind = ParsedArguments::Kind::usage_error;
  parsed.error = std::move(reason);
  return parsed;
}

// Sets the format flag an option names; false for any other argument.
bool apply_format(const std::string& a, OptionFlags& flags) {
  if (a == "--sbs") {
    flags.sbs = 1;
  } else if (a == "--sbsh") {
    flags.sbsh = 1;
  } else if (a == "--ouh") {
    flags.ouh = 1;
  } else if (a == "--exif") {
    flags.exif = 1;
  } else if (a == "--all") {
    flags = OptionFlags{1, 1, 1, 1};
  } else {
    return false;
  }
  return true;
}

}  // namespace

const char* usage_text() { return kUsage; }

ParsedArguments parse_arguments(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  CliOptions& o = parsed.options;
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  o.jobs = cores > 0 ? static_cast<int>(cores) : 1;
  bool have_path = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      parsed.kind = ParsedArguments::Kind::help;
      return parsed;
    }
    if (apply_format(a, o.flags)) continue;
    if (a == "--keep-going") {
      o.keep_going = true;
    } else if (a == "--jobs" || a.rfind("--jobs=", 0) == 0) {
      std::string value;
      if (a == "--jobs") {
        if (i + 1 >= args.size()) return usage_error("--jobs braucht eine Zahl");
        value = args[++i];
      } else {
        value = a.substr(7);
      }
      if (!parse_jobs(value, o.jobs))
        return usage_error("--jobs braucht eine Zahl ab 1, nicht \"" + value + "\"");
    } else if (a.size() > 1 && a[0] == '-' && a != "--") {
      return usage_error("unbekannte Option \"" + a + "\"");
    } else {
      if (a == "--") {
        if (i + 1 >= args.size()) break;
        o.path = args[++i];
      } else {
        o.path = a;
      }
      if (have_path) return usage_error("nur ein PFAD ist erlaubt");
      have_path = true;
    }
  }
  if (!have_path || o.path.empty()) return usage_error("PFAD fehlt");
  if (o.flags.exif) o.flags.sbs = 1;
  return parsed;
}

}  // namespace mpo
