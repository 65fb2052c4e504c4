// mpo-gen: writes one generated MPO file.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "tools/mpogen/mpogen.h"

namespace {

constexpr const char* kUsage =
    "usage: mpo-gen --out PATH [--width W] [--height H] [--quality Q] [--seed N]\n"
    "               [--disparity D] [--variant NAME] [--make S] [--model S] [--software S]\n"
    "Writes a camera-like MPO file (two JPEGs of a synthetic stereo scene).\n"
    "  --out PATH      file to write (required)\n"
    "  --width W       image width in pixels (default 640)\n"
    "  --height H      image height in pixels (default 480)\n"
    "  --quality Q     JPEG quality 1..100 (default 90)\n"
    "  --seed N        scene seed (default 1)\n"
    "  --disparity D   horizontal shift of the right view in pixels (default 16)\n"
    "  --variant NAME  camera, app0_first, unequal_halves, second_jfif,\n"
    "                  no_second_image, truncated_first, truncated_second,\n"
    "                  second_jfif_no_exif, second_xmp_first, tiny_second, gain_map\n"
    "  --make S, --model S, --software S   Exif texts\n"
    "  --turn DEG, --scale S, --shift-rows PX   misalign the right view by a known\n"
    "                  rotation (degrees), scale and downward shift about the centre\n"
    "Exit status: 0 written, 1 failure, 2 usage error.\n";

int usage_error(const std::string& message) {
  std::fprintf(stderr, "mpo-gen: %s\n%s", message.c_str(), kUsage);
  return 2;
}

template <typename T>
bool parse_number(std::string_view text, T& out, T lo, T hi) {
  T value{};
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < lo || value > hi) return false;
  out = value;
  return true;
}

bool parse_double(std::string_view text, double& out, double lo, double hi) {
  const std::string copy(text);
  char* end = nullptr;
  const double value = std::strtod(copy.c_str(), &end);
  if (copy.empty() || end != copy.c_str() + copy.size() || !(value >= lo && value <= hi)) return false;
  out = value;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  mpogen::Options options;
  std::string out;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (i + 1 >= argc) return usage_error("missing value or unknown option: " + std::string(arg));
    const std::string_view value = argv[++i];
    bool ok = true;
    if (arg == "--out") {
      out = value;
      ok = !out.empty();
    } else if (arg == "--width") {
      ok = parse_number(value, options.width, 1, 65500);
    } else if (arg == "--height") {
      ok = parse_number(value, options.height, 1, 65500);
    } else if (arg == "--quality") {
      ok = parse_number(value, options.quality, 1, 100);
    } else if (arg == "--seed") {
      ok = parse_number<uint32_t>(value, options.seed, 0, UINT32_MAX);
    } else if (arg == "--disparity") {
      ok = parse_number(value, options.disparity, -10000, 10000);
    } else if (arg == "--variant") {
      auto variant = mpogen::variant_from_name(value);
      ok = variant.has_value();
      if (ok) options.variant = *variant;
    } else if (arg == "--turn") {
      ok = parse_double(value, options.turn_degrees, -45, 45);
    } else if (arg == "--scale") {
      ok = parse_double(value, options.scale, 0.5, 2);
    } else if (arg == "--shift-rows") {
      ok = parse_double(value, options.shift_rows, -10000, 10000);
    } else if (arg == "--make") {
      options.make = value;
    } else if (arg == "--model") {
      options.model = value;
    } else if (arg == "--software") {
      options.software = value;
    } else {
      return usage_error("unknown option: " + std::string(arg));
    }
    if (!ok) return usage_error("bad value for " + std::string(arg) + ": " + std::string(value));
  }
  if (out.empty()) return usage_error("--out is required");

  const mpogen::Mpo mpo = mpogen::make_mpo(options);
  if (mpo.bytes.empty()) {
    std::fprintf(stderr, "mpo-gen: could not generate the MPO\n");
    return 1;
  }
  if (!mpogen::write_file(out, mpo.bytes)) {
    std::fprintf(stderr, "mpo-gen: cannot write %s: %s\n", out.c_str(), std::strerror(errno));
    return 1;
  }
  std::printf("%s: %zu bytes, second image at %zu\n", out.c_str(), mpo.bytes.size(), mpo.separator);
  return 0;
}
