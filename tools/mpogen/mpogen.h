// Generator of camera-like MPO files: two baseline JPEGs of a synthetic
// stereo scene, each with a little-endian Exif APP1 segment, the first with
// an MPF APP2 segment behind it, stored one behind the other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mpogen {

using Bytes = std::vector<uint8_t>;

enum class Variant {
  camera,            // FF D8 FF E1 (Exif) ... + FF D8 FF E1 (Exif) ...
  app0_first,        // both halves start with a 16-byte JFIF APP0, Exif APP1 at offset 20
  unequal_halves,    // the right half is much smaller than the left one
  second_jfif,       // the second image starts FF D8 FF E0
  no_second_image,   // a single JPEG
  truncated_first,   // cut inside the first image
  truncated_second,  // cut inside the second image
};

struct Options {
  int width = 640;
  int height = 480;
  int quality = 90;
  int disparity = 16;  // horizontal shift of the right view, in pixels
  uint32_t seed = 1;
  Variant variant = Variant::camera;
  std::string make = "MPOGEN";
  std::string model = "Stereo Twin 3D";
  std::string software = "Firmware 1.00";  // stored outside its IFD entry, offset < 256
  std::string date_time = "2013:04:12 10:30:00";
};

// The RGB pixels (top row first, 3 bytes per pixel) of one view of the scene.
// eye 0 = left, 1 = right.
Bytes render_view(const Options& options, int eye);

// One complete JPEG of one view, with its Exif APP1 segment (and, for
// eye 0, the MPF APP2 segment) as the variant says.
Bytes make_half(const Options& options, int eye);

struct Mpo {
  Bytes bytes;            // the whole MPO file
  size_t separator = 0;   // offset where the second image starts (bytes.size() when none)
};

Mpo make_mpo(const Options& options);

// Writes bytes to path; true on success.
bool write_file(const std::string& path, const Bytes& bytes);

}  // namespace mpogen
