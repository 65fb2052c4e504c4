#include "tests/support/crafting.h"

#include <cstring>

#include <gtest/gtest.h>
#include <jpeglib.h>

#include "tools/mpogen/mpogen.h"

namespace mpo::test {

Bytes make_jpeg(const JpegRecipe& s) {
  mpogen::JpegSettings settings = s;
  settings.jfif = s.exif == nullptr ? 1 : 0;
  Bytes app1;
  if (s.exif != nullptr) {
    app1.assign(s.exif->begin() + 2, s.exif->end());
    settings.markers.insert(settings.markers.begin(), {JPEG_APP0 + 1, &app1});
  }
  return mpogen::encode_jpeg(settings,
                             mpogen::ramp_samples(s.width, s.height, s.components, 5, 7).data());
}

Bytes exif_segment(int w, int h) {
  mpogen::Options o;
  o.width = w, o.height = h;
  return mpogen::exif_info(o, 0).segment;
}

Bytes exif_first(Bytes b) {
  size_t at = 2;
  while (at + 4 <= b.size() && b[at] == 0xFF && b[at + 1] >= 0xE0 && b[at + 1] <= 0xEF) {
    const size_t length = 2 + ((size_t(b[at + 2]) << 8) | b[at + 3]);
    if (b[at + 1] == 0xE1) {
      const Bytes segment(b.begin() + static_cast<long>(at),
                          b.begin() + static_cast<long>(at + length));
      b.erase(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + length));
      b.insert(b.begin() + 2, segment.begin(), segment.end());
      break;
    }
    at += length;
  }
  return b;
}

Bytes mpo_of(JpegRecipe left, JpegRecipe right) {
  const Bytes le = exif_segment(left.width, left.height);
  const Bytes re = exif_segment(right.width, right.height);
  left.exif = &le;
  right.exif = &re;
  Bytes out = exif_first(make_jpeg(left));
  const Bytes r = exif_first(make_jpeg(right));
  out.insert(out.end(), r.begin(), r.end());
  return out;
}

size_t frame_header(const Bytes& b, size_t begin) {
  for (size_t i = begin + 2; i + 9 < b.size(); ++i) {
    if (b[i] == 0xFF && (b[i + 1] == 0xC0 || b[i + 1] == 0xC1 || b[i + 1] == 0xC2)) return i;
  }
  ADD_FAILURE() << "no frame header";
  return 0;
}

void patch_frame(Bytes& b, size_t begin, int precision, long width, long height) {
  const size_t sof = frame_header(b, begin);
  b[sof + 4] = static_cast<uint8_t>(precision);
  b[sof + 5] = static_cast<uint8_t>(height >> 8);
  b[sof + 6] = static_cast<uint8_t>(height);
  b[sof + 7] = static_cast<uint8_t>(width >> 8);
  b[sof + 8] = static_cast<uint8_t>(width);
}

size_t second_image(const Bytes& b) {
  for (size_t i = b.size() - 10; i > 0; --i) {
    if (b[i] == 0xFF && b[i + 1] == 0xD8 && b[i + 2] == 0xFF && b[i + 3] == 0xE1 &&
        std::memcmp(&b[i + 6], "Exif", 4) == 0)
      return i;
  }
  ADD_FAILURE() << "no second image";
  return 0;
}

}  // namespace mpo::test
