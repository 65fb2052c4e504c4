// Generator of camera-like MPO files: two baseline JPEGs of a synthetic
// stereo scene, each with a little-endian Exif APP1 segment, the first with
// an MPF APP2 segment behind it, stored one behind the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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
  // The MP index finds the second image where the byte search for
  // FF D8 FF E1 .. .. "Exif" cannot:
  second_jfif_no_exif,  // the second image starts FF D8 FF E0 and has no Exif segment
  second_xmp_first,     // the second image starts with an XMP APP1 in front of its Exif APP1
  tiny_second,          // the second view an eighth of the width and height, its Exif without
                        // MakerNote: it starts beyond a quarter of the size from the middle
  // Not a stereo pair: the second image is a grey gain map (a quarter of the
  // width and height, XMP APP1, no Exif), MP type undefined; the first image
  // is the representative baseline primary image.
  gain_map,
};

inline constexpr Variant kAllVariants[] = {
    Variant::camera,           Variant::app0_first,          Variant::unequal_halves,
    Variant::second_jfif,      Variant::no_second_image,     Variant::truncated_first,
    Variant::truncated_second, Variant::second_jfif_no_exif, Variant::second_xmp_first,
    Variant::tiny_second,      Variant::gain_map,
};

// The enumerator's name ("camera", "app0_first", ...).
const char* variant_name(Variant variant);
// The variant of that name, or none.
std::optional<Variant> variant_from_name(std::string_view name);

struct Options {
  int width = 640;
  int height = 480;
  int quality = 90;
  int disparity = 16;  // horizontal shift of the right view, in pixels
  // A known misalignment of the right view about the picture's centre:
  // turned by `turn_degrees` (clockwise on screen), scaled by `scale`, then
  // moved down by `shift_rows` pixels (bicubic resampling).
  double turn_degrees = 0;
  double scale = 1;
  double shift_rows = 0;
  uint32_t seed = 1;
  Variant variant = Variant::camera;
  std::string make = "MPOGEN";
  std::string model = "Stereo Twin 3D";
  std::string software = "Firmware 1.00";  // stored outside its IFD entry, offset < 256
  std::string date_time = "2013:04:12 10:30:00";
  // Count of the Software field; when larger than the text plus its
  // terminating zero the value is padded with zeros (as fixed-width firmware
  // fields are). The count is never below 5, so the value never fits into
  // the entry itself.
  uint32_t software_field_size = 0;
  // Size of the opaque MakerNote in the Exif sub-IFD; it makes the segment as
  // long as camera segments are. 0 leaves the MakerNote out (a short segment
  // of about 400 bytes).
  size_t maker_note_bytes = 1536;
};

// The RGB pixels (top row first, 3 bytes per pixel) of one view of the scene.
// eye 0 = left, 1 = right. Empty when the size is not positive.
Bytes render_view(const Options& options, int eye);

// The view `rgb` (w x h) as the misaligned right camera would show it.
Bytes misaligned(const Bytes& rgb, int w, int h, double turn_degrees, double scale,
                 double shift_rows);

// One complete JPEG of one view, with its Exif APP1 segment (and, for
// eye 0, the MPF APP2 segment) as the variant says. Empty on failure
// (size outside 1..65500, quality outside 1..100, Exif data too long).
// In the unequal_halves variant eye 1 is a quarter of the width and height,
// in tiny_second an eighth; in gain_map eye 1 is the gain map.
Bytes make_half(const Options& options, int eye);

struct Mpo {
  Bytes bytes;            // the whole MPO file (empty on failure)
  size_t separator = 0;   // offset where the second image starts (bytes.size() when none)
};

Mpo make_mpo(const Options& options);

// The Exif segment of one half as a consumer copies it: from the APP1 length
// field on, exactly L bytes (L = the big-endian length field), and where its
// Software value lies. The segment is empty for a half without Exif.
struct ExifInfo {
  Bytes segment;
  size_t file_offset = 0;            // offset of the length field in the half: 4, 22 behind a JFIF APP0,
                                     // or further behind an XMP APP1
  size_t software_value_offset = 0;  // TIFF offset of the Software value (segment position = offset + 8)
  uint32_t software_count = 0;       // count field of the Software entry (terminating zero included)
};
ExifInfo exif_info(const Options& options, int eye);

// Writes bytes to path; true on success.
bool write_file(const std::string& path, const Bytes& bytes);

}  // namespace mpogen
