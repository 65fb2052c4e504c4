#include "cli/arguments.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "app/texts.h"
#include "io/text.h"

namespace mpo {

namespace {

const char* const kUsage =
    "Aufruf: mpo-convert-cli [OPTIONEN] PFAD...\n"
    "        mpo-convert-cli --join LINKS.jpg RECHTS.jpg AUS.mpo\n"
    "\n"
    "Wandelt MPO-Dateien um. Ein PFAD ist ein Ordner (jede MPO-Datei darin und in allen\n"
    "Ordnern darunter) oder eine MPO-Datei (Endung .mpo in beliebiger Schreibweise); jede\n"
    "MPO-Datei wird einmal umgewandelt. Neben jeder MPO-Datei entstehen immer _L.jpg\n"
    "(linkes Bild) und _R.jpg (rechtes Bild), auf Wunsch außerdem:\n"
    "  --sbs             doppelt breites Sidebyside-Bild (_sbs.jpg)\n"
    "  --sbsh            Sidebyside-Bild halber Breite (_sbsh.jpg)\n"
    "  --ouh             Bild oben/unten halber Höhe (_ouh.jpg)\n"
    "  --exif            Sidebyside-Bild mit Exif-Daten der MPO-Datei (_EXIF.jpg, schließt --sbs ein)\n"
    "  --all             die vier Formate --sbs, --sbsh, --ouh und --exif\n"
    "  --anaglyph [ART]  Anaglyphenbild; ART dubois: Rot-Cyan nach Dubois (Voreinstellung, _ana.jpg),\n"
    "                    gray, half-color, color, optimized (Rot-Cyan: grau, halbfarbig, farbig,\n"
    "                    optimiert), green-magenta, amber-blue (nach Dubois): _ana-ART.jpg;\n"
    "                    mehrfach möglich\n"
    "  --cross           Kreuzblick-Paar, rechtes Bild links (_x.jpg)\n"
    "  --tv              Bild für 3D-Fernseher, 1920x1080, halbbreit nebeneinander (_tv.jpg)\n"
    "  --every           alle Bildformate: --all, --anaglyph, --cross und --tv (ohne --lossless)\n"
    "  --lossless        Sidebyside-Bild ohne neue Komprimierung (_sbs-lossless.jpg)\n"
    "  --ou              Bild oben/unten in voller Größe, linkes Bild oben (_ou.jpg)\n"
    "  --interleave ART  verschachteltes Bild in Bildschirmgröße für 3D-Bildschirme, ART rows\n"
    "                    (zeilenweise, _rows.jpg), columns (spaltenweise, _cols.jpg) oder checker\n"
    "                    (Schachbrett, _checker.jpg); mehrfach möglich\n"
    "  --screen BxH      Bildschirmgröße der verschachtelten Bilder (Voreinstellung: 1920x1080)\n"
    "  --odd-left        linkes Bild auf den ungeraden statt den geraden Zeilen, Spalten, Feldern\n"
    "  --wiggle          Wackelbild, linkes und rechtes Bild im Wechsel je 150 ms, längste Seite\n"
    "                    höchstens 1200 Pixel (_wiggle.webp mit --quality, _wiggle.gif)\n"
    "  --vr              VR-Foto für Handy-Brillen: linkes Bild, rechtes Bild in den XMP-Daten\n"
    "                    (_vr.jpg, ohne neue Komprimierung)\n"
    "  --fov GRAD        waagerechter Bildwinkel des VR-Fotos, 1 bis 360 (Voreinstellung: 60)\n"
    "  --quality Q       JPEG-Qualität 1 bis 100 der neu komprimierten Bilder (Voreinstellung: 70)\n"
    "  --mp-index        das zweite Bild über den MP-Index suchen, ohne gültigen Index per Bytesuche\n"
    "  --align           Höhenversatz, Drehung und Maßstab zwischen linkem und rechtem Bild\n"
    "                    messen und ausgleichen; alle Bildformate zeigen dann das ausgerichtete\n"
    "                    Paar, das zusätzlich als _aligned.mpo entsteht\n"
    "  --window auto     Stereofenster an den nächsten Punkt des Bildes legen (Bilder waagrecht\n"
    "                    verschieben und gleich breit beschneiden; entsteht auch als _aligned.mpo)\n"
    "  --window PX       Bilder um PX Pixel gegeneinander verschieben (positiv: Szene nach hinten)\n"
    "  --report DATEI    Messwerte je MPO-Datei als CSV-Tabelle in DATEI schreiben\n"
    "  --output-dir DIR  alle Ausgaben unter DIR statt neben den MPO-Dateien, Pfade relativ zu PFAD\n"
    "  --keep-going      nach einer nicht lesbaren MPO-Datei mit den übrigen weitermachen\n"
    "  --jobs N          N Dateien gleichzeitig umwandeln, 1 bis 256 (Voreinstellung: Prozessorkerne)\n"
    "  --join L R AUS    zwei JPEG-Dateien (linkes, rechtes Bild) zur MPO-Datei AUS zusammenfügen\n"
    "  --help            diese Hilfe\n"
    "  --version         Name und Version des Programms\n"
    "\n"
    "Ende-Status: 0 alles geschrieben, 1 abgebrochen oder nicht alles geschrieben,\n"
    "2 Aufruffehler oder ein PFAD, den es nicht gibt.\n";

// A whole number in [low, high] written with digits only.
std::optional<int> number_in(const std::string& s, int low, int high) {
  if (s.empty() || s.size() > 6) return std::nullopt;
  if (!std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  const int n = std::atoi(s.c_str());
  if (n < low || n > high) return std::nullopt;
  return n;
}

// The largest shift --window takes.
constexpr int kMaxWindow = 32767;

// --window auto, or a whole number of pixels (with its sign).
bool window_from(const std::string& value, ExtraOutputs& extras) {
  if (value == "auto") {
    extras.window = WindowMode::automatic;
    return true;
  }
  const bool negative = !value.empty() && value[0] == '-';
  const auto n = number_in(negative || (!value.empty() && value[0] == '+') ? value.substr(1) : value,
                           0, kMaxWindow);
  if (!n) return false;
  extras.window = WindowMode::fixed;
  extras.window_pixels = negative ? -*n : *n;
  return true;
}

ParsedArguments usage_error(std::string reason) {
  ParsedArguments parsed;
  parsed.kind = ParsedArguments::Kind::usage_error;
  parsed.error = std::move(reason);
  return parsed;
}

// Sets the output flags an option names; false for any other argument.
bool apply_format(const std::string& a, OptionFlags& flags, ExtraOutputs& extras) {
  if (a == "--sbs") flags.sbs = 1;
  else if (a == "--sbsh") flags.sbsh = 1;
  else if (a == "--ouh") flags.ouh = 1;
  else if (a == "--exif") flags.exif = 1;
  else if (a == "--all") flags = OptionFlags{1, 1, 1, 1};
  else if (a == "--cross") extras.cross = true;
  else if (a == "--tv") extras.tv = true;
  else if (a == "--lossless") extras.lossless = true;
  else if (a == "--ou") extras.over_under = true;
  else if (a == "--odd-left") extras.odd_left = true;
  else if (a == "--wiggle") extras.wiggle = true;
  else if (a == "--vr") extras.vr = true;
  else if (a == "--mp-index") extras.mp_index = true;
  else if (a == "--align") extras.align = true;
  else if (a == "--every") {
    flags = OptionFlags{1, 1, 1, 1};
    extras.anaglyph = extras.cross = extras.tv = true;
  } else {
    return false;
  }
  return true;
}

// Reads the arguments one after another; an option's value is either
// "--name=value" or the next argument.
class Reader {
 public:
  explicit Reader(const std::vector<std::string>& args) : args_(args) {}
  bool done() const { return i_ >= args_.size(); }
  const std::string& next() { return args_[i_++]; }
  // The next argument without taking it; empty at the end.
  std::string peek() const { return done() ? std::string() : args_[i_]; }
  // The value of option `name` when `a` is that option; sets `missing`
  // when the value is not there.
  std::optional<std::string> value(const std::string& a, const std::string& name, bool& missing) {
    if (a.rfind(name + "=", 0) == 0) return a.substr(name.size() + 1);
    if (a != name) return std::nullopt;
    if (done()) {
      missing = true;
      return std::string();
    }
    return next();
  }

 private:
  const std::vector<std::string>& args_;
  size_t i_ = 0;
};

// The anaglyph types by name, in the order of AnaglyphType.
constexpr const char* kAnaglyphNames[] = {"dubois",    "gray",          "half-color", "color",
                                          "optimized", "green-magenta", "amber-blue"};
constexpr const char* kInterleaveNames[] = {"rows", "columns", "checker"};

template <size_t N>
std::optional<int> index_of(const char* const (&names)[N], const std::string& name) {
  for (size_t i = 0; i < N; ++i)
    if (name == names[i]) return static_cast<int>(i);
  return std::nullopt;
}

// --anaglyph, --anaglyph=TYPE or --anaglyph TYPE (the next argument only
// when it names a type: else it is a PFAD); an empty text or the usage
// error.
std::string apply_anaglyph(const std::string& a, Reader& in, ExtraOutputs& extras) {
  std::string name = "dubois";
  if (a.size() > 10 && a[10] == '=') {
    name = a.substr(11);
  } else if (index_of(kAnaglyphNames, in.peek())) {
    name = in.next();
  }
  const auto type = index_of(kAnaglyphNames, name);
  if (!type) {
    return "--anaglyph kennt dubois, gray, half-color, color, optimized, green-magenta und "
           "amber-blue, nicht \"" + name + "\"";
  }
  if (*type == 0) extras.anaglyph = true;
  else extras.anaglyph_types |= 1u << *type;
  return std::string();
}

// BxH with both sides whole numbers from 1 to 32767.
bool read_screen(const std::string& s, ExtraOutputs& extras) {
  const size_t x = s.find('x');
  if (x == std::string::npos) return false;
  const auto w = number_in(s.substr(0, x), 1, 32767), h = number_in(s.substr(x + 1), 1, 32767);
  if (!w || !h) return false;
  extras.screen_width = *w, extras.screen_height = *h;
  return true;
}

// The options of the display formats with a value, as apply_valued.
std::optional<std::string> apply_display(const std::string& a, Reader& in, ExtraOutputs& extras) {
  bool missing = false;
  if (auto v = in.value(a, "--interleave", missing)) {
    const auto kind = index_of(kInterleaveNames, *v);
    if (missing || !kind) return "--interleave braucht rows, columns oder checker";
    extras.interleaved |= 1u << *kind;
  } else if (auto s = in.value(a, "--screen", missing)) {
    if (missing || !read_screen(*s, extras))
      return "--screen braucht BREITExHÖHE, je 1 bis 32767, etwa 1920x1080";
  } else {
    return std::nullopt;
  }
  return std::string();
}

// Options with a value; nullopt when `a` is none of them, else an empty
// text or the usage error.
std::optional<std::string> apply_valued(const std::string& a, Reader& in, CliOptions& o) {
  const std::string jobs_range = "--jobs braucht eine Zahl von 1 bis " + std::to_string(kMaxJobs);
  bool missing = false;
  if (auto v = in.value(a, "--jobs", missing)) {
    if (missing) return jobs_range;
    const auto n = number_in(*v, 1, kMaxJobs);
    if (!n) return jobs_range + ", nicht \"" + *v + "\"";
    o.jobs = *n;
  } else if (auto q = in.value(a, "--quality", missing)) {
    const auto n = number_in(*q, 1, 100);
    if (missing || !n) return "--quality braucht eine Zahl von 1 bis 100";
    o.extras.quality = *n;
  } else if (auto w = in.value(a, "--window", missing)) {
    if (missing || !window_from(*w, o.extras))
      return "--window braucht \"auto\" oder eine Pixelzahl von -" + std::to_string(kMaxWindow) +
             " bis " + std::to_string(kMaxWindow);
  } else if (auto r = in.value(a, "--report", missing)) {
    if (missing || r->empty()) return "--report braucht eine Datei";
    o.report = *r;
  } else if (auto f = in.value(a, "--fov", missing)) {
    const auto n = number_in(*f, 1, 360);
    if (missing || !n) return "--fov braucht eine Zahl von 1 bis 360 (Grad)";
    o.extras.fov = *n;
  } else if (auto d = in.value(a, "--output-dir", missing)) {
    if (missing || d->empty()) return "--output-dir braucht einen Ordner";
    o.output_dir = *d;
  } else {
    return apply_display(a, in, o.extras);
  }
  return std::string();
}

int default_jobs() {
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  return static_cast<int>(std::clamp<long>(cores, 1, kMaxJobs));
}

// Takes the three files of --join; a usage error when one is missing, looks
// like an option, or --join came before.
std::optional<std::string> take_join(Reader& in, JoinRequest& join, bool& joined) {
  if (joined) return to_utf8(texts::kJoinTwice);
  joined = true;
  for (std::string* f : {&join.left, &join.right, &join.out}) {
    if (in.done()) return to_utf8(texts::kJoinNeedsFiles);
    *f = in.next();
    if (f->size() > 1 && (*f)[0] == '-') return to_utf8(texts::kJoinNeedsFiles);
  }
  return std::nullopt;
}

// The run's or the join's arguments are complete: a join takes nothing but
// its files.
ParsedArguments finish(ParsedArguments parsed, bool join, const std::string& first_option) {
  CliOptions& o = parsed.options;
  if (join) {
    if (!first_option.empty()) return usage_error(to_utf8(texts::kJoinNoOptions) + first_option);
    if (!o.paths.empty()) return usage_error(to_utf8(texts::kJoinNoPath));
    parsed.kind = ParsedArguments::Kind::join;
    return parsed;
  }
  if (o.paths.empty()) return usage_error("PFAD fehlt");
  if (std::any_of(o.paths.begin(), o.paths.end(), [](const auto& p) { return p.empty(); }))
    return usage_error("leerer PFAD");
  if (o.flags.exif) o.flags.sbs = 1;
  return parsed;
}

}  // namespace

const char* usage_text() { return kUsage; }

std::string version_text() { return std::string("mpo-convert-cli ") + MPO_VERSION + "\n"; }

ParsedArguments parse_arguments(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  CliOptions& o = parsed.options;
  o.jobs = default_jobs();
  o.extras.detailed_failures = true;
  bool join = false, only_paths = false;
  std::string first_option;  // the first option other than --join
  Reader in(args);
  while (!in.done()) {
    const std::string& a = in.next();
    if (only_paths || a == "-" || a.empty() || a[0] != '-') {
      o.paths.push_back(a);
    } else if (a == "--") {
      only_paths = true;
    } else if (a == "--help" || a == "-h") {
      parsed.kind = ParsedArguments::Kind::help;
      return parsed;
    } else if (a == "--version") {
      parsed.kind = ParsedArguments::Kind::version;
      return parsed;
    } else if (a == "--join") {
      if (const auto error = take_join(in, parsed.join, join)) return usage_error(*error);
    } else {
      if (first_option.empty()) first_option = a;
      if (a == "--keep-going") {
        o.keep_going = true;
      } else if (a == "--anaglyph" || a.rfind("--anaglyph=", 0) == 0) {
        const std::string error = apply_anaglyph(a, in, o.extras);
        if (!error.empty()) return usage_error(error);
      } else if (!apply_format(a, o.flags, o.extras)) {
        const auto error = apply_valued(a, in, o);
        if (!error) return usage_error("unbekannte Option \"" + a + "\"");
        if (!error->empty()) return usage_error(*error);
      }
    }
  }
  return finish(std::move(parsed), join, first_option);
}

}  // namespace mpo
