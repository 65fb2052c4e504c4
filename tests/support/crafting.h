// Crafted JPEG streams and MPOs, and offsets inside them for patching.
#pragma once

#include <cstddef>

#include "tests/support/files.h"
#include "tools/mpogen/jpeg_stream.h"

namespace mpo::test {

struct JpegRecipe : mpogen::JpegSettings {
  JpegRecipe() { quality = 85; }
  const Bytes* exif = nullptr;  // an Exif segment from its length field on
};

// A JPEG of a gradient pattern, with the Exif segment as its first APP1.
Bytes make_jpeg(const JpegRecipe& s);
// A camera-like Exif segment for a half of w x h.
Bytes exif_segment(int w, int h);
// Moves the first APP1 segment to the front, right behind the SOI, as
// cameras write it (libjpeg puts its own Adobe segment of a CMYK image
// first).
Bytes exif_first(Bytes b);
// Two halves, each with an Exif segment first, one behind the other.
Bytes mpo_of(JpegRecipe left, JpegRecipe right);

// Offset of the frame header (SOF0, SOF1 or SOF2) of the JPEG at `begin`.
size_t frame_header(const Bytes& b, size_t begin = 0);
// Overwrites the frame header's precision, height and width.
void patch_frame(Bytes& b, size_t begin, int precision, long width, long height);
// Where the second image starts: the last FF D8 FF E1 .. "Exif" signature.
size_t second_image(const Bytes& b);

}  // namespace mpo::test
