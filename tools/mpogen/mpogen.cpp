// JPEG encoding of the views and assembly of the MPO variants.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <jpeglib.h>

#include "tools/mpogen/detail.h"
#include "tools/mpogen/jpeg_stream.h"

namespace mpogen {
namespace detail {

HalfSize half_size(const Options& o, int eye) {
  int divisor = 1;
  if (eye == 1 && (o.variant == Variant::unequal_halves || o.variant == Variant::gain_map)) divisor = 4;
  if (eye == 1 && o.variant == Variant::tiny_second) divisor = 8;
  if (divisor == 1) return {o.width, o.height, o.disparity};
  return {std::max(1, o.width / divisor), std::max(1, o.height / divisor), o.disparity / divisor};
}

bool half_has_jfif(const Options& o, int eye) {
  return o.variant == Variant::app0_first ||
         (eye == 1 && (o.variant == Variant::second_jfif || o.variant == Variant::second_jfif_no_exif));
}

bool half_has_exif(const Options& o, int eye) {
  return eye == 0 || (o.variant != Variant::second_jfif_no_exif && o.variant != Variant::gain_map);
}

Bytes half_xmp(const Options& o, int eye) {
  if (eye == 1 && (o.variant == Variant::second_xmp_first || o.variant == Variant::gain_map))
    return build_xmp(o.variant == Variant::gain_map);
  return {};
}

}  // namespace detail

namespace {

// Cut point in the middle of the entropy-coded data of the JPEG at [begin, end).
size_t middle_of_scan(const Bytes& b, size_t begin, size_t end) {
  size_t sos = detail::find_segment(b, begin, 0xDA);
  if (sos == std::string::npos || sos + 4 > end) return begin + (end - begin) / 2;
  size_t data = sos + 2 + ((size_t(b[sos + 2]) << 8) | b[sos + 3]);
  return data + (end - data) / 2;
}

}  // namespace

const char* variant_name(Variant v) {
  switch (v) {
    case Variant::camera: return "camera";
    case Variant::app0_first: return "app0_first";
    case Variant::unequal_halves: return "unequal_halves";
    case Variant::second_jfif: return "second_jfif";
    case Variant::no_second_image: return "no_second_image";
    case Variant::truncated_first: return "truncated_first";
    case Variant::truncated_second: return "truncated_second";
    case Variant::second_jfif_no_exif: return "second_jfif_no_exif";
    case Variant::second_xmp_first: return "second_xmp_first";
    case Variant::tiny_second: return "tiny_second";
    case Variant::gain_map: return "gain_map";
  }
  return "camera";
}

std::optional<Variant> variant_from_name(std::string_view name) {
  for (Variant v : kAllVariants)
    if (name == variant_name(v)) return v;
  return std::nullopt;
}

ExifInfo exif_info(const Options& o, int eye) {
  if (!detail::half_has_exif(o, eye)) return {};
  const detail::HalfSize size = detail::half_size(o, eye);
  Options exif_options = o;
  if (eye == 1 && o.variant == Variant::tiny_second) exif_options.maker_note_bytes = 0;
  ExifInfo info = detail::build_exif(exif_options, size.width, size.height);
  // Behind SOI and the marker; behind a JFIF APP0 or an XMP APP1 when one comes first.
  info.file_offset = detail::half_has_jfif(o, eye) ? 22 : 4;
  const size_t xmp = detail::half_xmp(o, eye).size();
  if (xmp != 0) info.file_offset += 4 + xmp;
  return info;
}

namespace {

// The samples of one half: the view of the scene, or a grey ramp for a gain map.
Bytes half_samples(const Options& o, int eye, const detail::HalfSize& size, JpegSettings& settings) {
  if (eye == 1 && o.variant == Variant::gain_map) {
    settings.components = 1;
    settings.in_space = JCS_GRAYSCALE;
    return ramp_samples(size.width, size.height, 1, 3, 5);
  }
  Options view = o;
  view.width = size.width;
  view.height = size.height;
  view.disparity = size.disparity;
  Bytes samples = render_view(view, eye);
  if (eye == 1 && (o.turn_degrees != 0 || o.scale != 1 || o.shift_rows != 0))
    samples = misaligned(samples, size.width, size.height, o.turn_degrees, o.scale, o.shift_rows);
  return samples;
}

}  // namespace

Bytes make_half(const Options& o, int eye) {
  if (o.width < 1 || o.height < 1 || o.width > 65500 || o.height > 65500 || o.quality < 1 || o.quality > 100)
    return {};
  const detail::HalfSize size = detail::half_size(o, eye);
  const ExifInfo exif = exif_info(o, eye);
  const bool with_exif = detail::half_has_exif(o, eye);
  if (with_exif && exif.segment.empty()) return {};
  // jpeg_write_marker takes the payload; libjpeg writes the length field.
  const Bytes app1 = with_exif ? Bytes(exif.segment.begin() + 2, exif.segment.end()) : Bytes();
  const Bytes xmp = detail::half_xmp(o, eye);
  const Bytes app2 = detail::build_mpf(o.variant);
  JpegSettings settings;
  settings.width = size.width;
  settings.height = size.height;
  settings.quality = o.quality;
  settings.jfif = detail::half_has_jfif(o, eye) ? 1 : 0;
  if (!xmp.empty()) settings.markers.push_back({JPEG_APP0 + 1, &xmp});
  if (with_exif) settings.markers.push_back({JPEG_APP0 + 1, &app1});
  if (eye == 0) settings.markers.push_back({JPEG_APP0 + 2, &app2});

  const Bytes samples = half_samples(o, eye, size, settings);
  if (samples.empty()) return {};
  return encode_jpeg(settings, samples.data());
}

Mpo make_mpo(const Options& o) {
  Mpo mpo;
  Bytes first = make_half(o, 0);
  if (first.empty()) return mpo;
  mpo.bytes = std::move(first);
  mpo.separator = mpo.bytes.size();
  switch (o.variant) {
    case Variant::no_second_image:
      break;
    case Variant::truncated_first:
      mpo.bytes.resize(middle_of_scan(mpo.bytes, 0, mpo.bytes.size()));
      mpo.separator = mpo.bytes.size();
      break;
    default: {
      const Bytes second = make_half(o, 1);
      if (second.empty()) return {};
      mpo.bytes.insert(mpo.bytes.end(), second.begin(), second.end());
      if (o.variant == Variant::truncated_second)
        mpo.bytes.resize(middle_of_scan(mpo.bytes, mpo.separator, mpo.bytes.size()));
      break;
    }
  }
  detail::patch_mpf(mpo.bytes, mpo.separator);
  return mpo;
}

bool write_file(const std::string& path, const Bytes& bytes) {
  std::unique_ptr<std::FILE, decltype(&std::fclose)> f(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!f) return false;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size()) return false;
  return std::fclose(f.release()) == 0;
}

}  // namespace mpogen
