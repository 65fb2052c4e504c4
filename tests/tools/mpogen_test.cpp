// Generated MPO files must have the byte layout their variant promises,
// decode as JPEGs, and carry an Exif segment whose Software field a byte
// scan can find and patch.
#include <gtest/gtest.h>

#include <jpeglib.h>

#include <csetjmp>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tools/mpogen/mpogen.h"

using mpogen::Bytes;
using mpogen::Options;
using mpogen::Variant;

namespace {

struct Decoded {
  bool ok = false;
  int width = 0, height = 0;
  long warnings = 0;  // libjpeg warnings, e.g. premature end of data
};

struct Decoder {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  std::jmp_buf jump;
};

[[noreturn]] void jump_back(j_common_ptr c) { std::longjmp(static_cast<Decoder*>(c->client_data)->jump, 1); }
void quiet(j_common_ptr) {}

bool run_decoder(Decoder* d, const uint8_t* data, size_t size, Decoded* out) {
  d->cinfo.err = jpeg_std_error(&d->err);
  d->err.error_exit = jump_back;
  d->err.output_message = quiet;
  d->cinfo.client_data = d;
  if (setjmp(d->jump)) {
    jpeg_destroy_decompress(&d->cinfo);
    return false;
  }
  jpeg_create_decompress(&d->cinfo);
  jpeg_mem_src(&d->cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&d->cinfo, TRUE);
  jpeg_start_decompress(&d->cinfo);
  std::vector<JSAMPLE> row(size_t(d->cinfo.output_width) * d->cinfo.output_components);
  while (d->cinfo.output_scanline < d->cinfo.output_height) {
    JSAMPROW p = row.data();
    jpeg_read_scanlines(&d->cinfo, &p, 1);
  }
  jpeg_finish_decompress(&d->cinfo);
  out->width = int(d->cinfo.output_width);
  out->height = int(d->cinfo.output_height);
  out->warnings = d->err.num_warnings;
  jpeg_destroy_decompress(&d->cinfo);
  return true;
}

Decoded decode(const Bytes& b, size_t begin, size_t end) {
  Decoded out;
  auto d = std::make_unique<Decoder>();
  out.ok = run_decoder(d.get(), b.data() + begin, end - begin, &out);
  return out;
}

bool has(const Bytes& b, size_t at, std::initializer_list<int> expected) {
  if (at + expected.size() > b.size()) return false;
  for (int v : expected)
    if (b[at++] != v) return false;
  return true;
}

// Positions where a second image would be recognised: FF D8 FF E1, then
// "Exif" behind the APP1 length field.
std::vector<size_t> exif_image_starts(const Bytes& b) {
  std::vector<size_t> hits;
  for (size_t i = 0; i + 10 <= b.size(); ++i)
    if (has(b, i, {0xFF, 0xD8, 0xFF, 0xE1}) && has(b, i + 6, {'E', 'x', 'i', 'f'})) hits.push_back(i);
  return hits;
}

uint32_t le(const Bytes& b, size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | b.at(at + i);
  return v;
}

struct IfdEntry {
  uint16_t tag, type;
  uint32_t count, value;  // value: the 4-byte value/offset field, little-endian
};

// The entries of the little-endian IFD at TIFF offset `ifd` of an Exif
// segment (TIFF data at segment position 8); `next` gets the next-IFD offset.
std::vector<IfdEntry> read_ifd(const Bytes& seg, size_t ifd, uint32_t* next = nullptr) {
  const size_t base = 8 + ifd;
  std::vector<IfdEntry> entries(le(seg, base, 2));
  for (size_t i = 0; i < entries.size(); ++i) {
    size_t e = base + 2 + 12 * i;
    entries[i] = {uint16_t(le(seg, e, 2)), uint16_t(le(seg, e + 2, 2)), le(seg, e + 4, 4), le(seg, e + 8, 4)};
  }
  if (next) *next = le(seg, base + 2 + 12 * entries.size(), 4);
  return entries;
}

const IfdEntry* find(const std::vector<IfdEntry>& entries, uint16_t tag) {
  for (const IfdEntry& e : entries)
    if (e.tag == tag) return &e;
  return nullptr;
}

std::string ascii_value(const Bytes& seg, const IfdEntry& e) {
  if (e.count <= 4) return {};  // inline; the generated texts are longer
  const auto at = seg.begin() + 8 + e.value;
  std::string s(at, at + e.count);
  return s.substr(0, s.find('\0'));
}

Options small(Variant v) {
  Options o;
  o.width = 320;
  o.height = 240;
  o.variant = v;
  return o;
}

}  // namespace

TEST(MpoGen, EveryVariantHasItsPromisedLayout) {
  for (Variant v : mpogen::kAllVariants) {
    SCOPED_TRACE(mpogen::variant_name(v));
    const Options o = small(v);
    const mpogen::Mpo mpo = mpogen::make_mpo(o);
    const Bytes& b = mpo.bytes;
    const size_t s = mpo.separator;
    ASSERT_GT(b.size(), 1000u);
    ASSERT_LE(s, b.size());
    EXPECT_TRUE(has(b, 0, {0xFF, 0xD8}));
    if (v == Variant::app0_first) {
      EXPECT_TRUE(has(b, 2, {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0}));
      EXPECT_TRUE(has(b, 20, {0xFF, 0xE1}));
      EXPECT_TRUE(has(b, 24, {'E', 'x', 'i', 'f', 0, 0}));
    } else {
      EXPECT_TRUE(has(b, 2, {0xFF, 0xE1}));
      EXPECT_TRUE(has(b, 6, {'E', 'x', 'i', 'f', 0, 0}));
    }

    const bool two_images = v != Variant::no_second_image && v != Variant::truncated_first;
    if (two_images) {
      ASSERT_LT(s, b.size());
      // The first image ends with its EOI right before the second one.
      EXPECT_TRUE(has(b, s - 2, {0xFF, 0xD9}));
      const bool jfif = v == Variant::app0_first || v == Variant::second_jfif || v == Variant::second_jfif_no_exif;
      EXPECT_TRUE(has(b, s, {0xFF, 0xD8, 0xFF, jfif ? 0xE0 : 0xE1}));
      const bool xmp = v == Variant::second_xmp_first || v == Variant::gain_map;
      EXPECT_EQ(has(b, s + (jfif ? 24 : 6), {'E', 'x', 'i', 'f'}), v != Variant::second_jfif_no_exif && !xmp);
      if (xmp) {
        EXPECT_TRUE(has(b, s + 6, {'h', 't', 't', 'p'}));
      }
    } else {
      EXPECT_EQ(s, b.size());
    }

    // Where a byte search would see an Exif image start: nowhere else.
    std::vector<size_t> starts;
    if (v != Variant::app0_first) starts.push_back(0);
    if (v == Variant::camera || v == Variant::unequal_halves || v == Variant::truncated_second ||
        v == Variant::tiny_second)
      starts.push_back(s);
    EXPECT_EQ(exif_image_starts(b), starts);

    const bool complete_end = v != Variant::truncated_first && v != Variant::truncated_second;
    EXPECT_EQ(has(b, b.size() - 2, {0xFF, 0xD9}), complete_end);
  }
}

TEST(MpoGen, HalvesDecodeToTheRequestedSize) {
  for (Variant v : {Variant::camera, Variant::app0_first, Variant::second_jfif, Variant::unequal_halves}) {
    SCOPED_TRACE(mpogen::variant_name(v));
    const Options o = small(v);
    const mpogen::Mpo mpo = mpogen::make_mpo(o);
    const Decoded left = decode(mpo.bytes, 0, mpo.separator);
    const Decoded right = decode(mpo.bytes, mpo.separator, mpo.bytes.size());
    ASSERT_TRUE(left.ok && right.ok);
    EXPECT_EQ(left.warnings + right.warnings, 0);
    EXPECT_EQ(left.width, 320);
    EXPECT_EQ(left.height, 240);
    EXPECT_EQ(right.width, v == Variant::unequal_halves ? 80 : 320);
    EXPECT_EQ(right.height, v == Variant::unequal_halves ? 60 : 240);
  }
}

TEST(MpoGen, TruncatedVariantsAreCutInsideTheScanData) {
  {
    const mpogen::Mpo mpo = mpogen::make_mpo(small(Variant::truncated_first));
    const Decoded d = decode(mpo.bytes, 0, mpo.bytes.size());
    // libjpeg pads a premature end and warns.
    EXPECT_TRUE(d.ok);
    EXPECT_GT(d.warnings, 0);
    EXPECT_GT(mpo.bytes.size(), mpogen::make_half(small(Variant::camera), 0).size() / 4);
  }
  {
    const mpogen::Mpo mpo = mpogen::make_mpo(small(Variant::truncated_second));
    const Bytes whole_second = mpogen::make_half(small(Variant::camera), 1);
    const Decoded left = decode(mpo.bytes, 0, mpo.separator);
    const Decoded right = decode(mpo.bytes, mpo.separator, mpo.bytes.size());
    EXPECT_TRUE(left.ok);
    EXPECT_EQ(left.warnings, 0);
    EXPECT_GT(right.warnings, 0);
    const size_t right_size = mpo.bytes.size() - mpo.separator;
    EXPECT_GT(right_size, whole_second.size() / 4);
    EXPECT_LT(right_size, whole_second.size() * 3 / 4);
  }
}

TEST(MpoGen, UnequalHalvesPutTheSecondExifFarFromTheMiddle) {
  const mpogen::Mpo mpo = mpogen::make_mpo(Options{.variant = Variant::unequal_halves});
  const size_t size = mpo.bytes.size();
  const size_t exif = mpo.separator + 6;
  ASSERT_TRUE(has(mpo.bytes, exif, {'E', 'x', 'i', 'f'}));
  EXPECT_GT(exif - size / 2, size / 4 + 1);
}

TEST(MpoGen, ExifSegmentIsTheOneInTheFileAndParses) {
  for (Variant v : {Variant::camera, Variant::app0_first, Variant::second_jfif, Variant::second_xmp_first}) {
    for (int eye : {0, 1}) {
      SCOPED_TRACE(std::string(mpogen::variant_name(v)) + " eye " + std::to_string(eye));
      const Options o = small(v);
      const mpogen::Mpo mpo = mpogen::make_mpo(o);
      const mpogen::ExifInfo info = mpogen::exif_info(o, eye);
      const Bytes& seg = info.segment;
      const size_t half = eye == 0 ? 0 : mpo.separator;

      ASSERT_GE(seg.size(), 521u);  // as long as camera segments: a 513-byte tag scan stays inside
      const size_t length = (size_t(seg[0]) << 8) | seg[1];
      ASSERT_EQ(length, seg.size());
      ASSERT_TRUE(has(mpo.bytes, half + info.file_offset - 2, {0xFF, 0xE1}));
      EXPECT_TRUE(std::equal(seg.begin(), seg.end(), mpo.bytes.begin() + half + info.file_offset));

      EXPECT_TRUE(has(seg, 2, {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2A, 0, 8, 0, 0, 0}));
      uint32_t next = 1;
      const std::vector<IfdEntry> ifd0 = read_ifd(seg, 8, &next);
      EXPECT_EQ(next, 0u);
      ASSERT_GE(ifd0.size(), 5u);
      for (size_t i = 1; i < ifd0.size(); ++i) EXPECT_LT(ifd0[i - 1].tag, ifd0[i].tag);

      const IfdEntry* orientation = find(ifd0, 0x0112);
      ASSERT_NE(orientation, nullptr);
      EXPECT_EQ(orientation->type, 3);
      EXPECT_EQ(orientation->count, 1u);
      EXPECT_EQ(orientation->value & 0xFFFF, 1u);
      ASSERT_NE(find(ifd0, 0x010F), nullptr);
      EXPECT_EQ(ascii_value(seg, *find(ifd0, 0x010F)), o.make);
      ASSERT_NE(find(ifd0, 0x0110), nullptr);
      EXPECT_EQ(ascii_value(seg, *find(ifd0, 0x0110)), o.model);
      ASSERT_NE(find(ifd0, 0x0132), nullptr);
      EXPECT_EQ(ascii_value(seg, *find(ifd0, 0x0132)), o.date_time);

      const IfdEntry* software = find(ifd0, 0x0131);
      ASSERT_NE(software, nullptr);
      EXPECT_EQ(software->type, 2);
      EXPECT_EQ(software->count, o.software.size() + 1);  // terminating zero counted
      EXPECT_EQ(software->value, info.software_value_offset);
      EXPECT_EQ(software->count, info.software_count);
      EXPECT_EQ(ascii_value(seg, *software), o.software);

      // The Exif sub-IFD, when present, is sorted as well.
      if (const IfdEntry* sub = find(ifd0, 0x8769)) {
        const std::vector<IfdEntry> exif = read_ifd(seg, sub->value);
        for (size_t i = 1; i < exif.size(); ++i) EXPECT_LT(exif[i - 1].tag, exif[i].tag);
      }
    }
  }
}

// A consumer finds the Software entry by looking for the bytes 31 01 in the
// first 513 segment positions; the last hit wins. Only the real entry may
// match, whatever the texts, sizes and Software field width.
TEST(MpoGen, SoftwareEntryIsTheOnlyTagMatchAndStaysBelow256) {
  Options long_texts;
  long_texts.make = std::string(90, 'M');
  long_texts.model = std::string(120, 'm');
  Options short_software;
  short_software.software = "v";
  Options padded;
  padded.software_field_size = 32;
  Options width_reads_tag;  // 305 = 0x131: the width value itself reads 31 01
  width_reads_tag.width = 305;
  width_reads_tag.maker_note_bytes = 0;
  for (const Options& o : {long_texts, short_software, padded, width_reads_tag, Options{.seed = 99}}) {
    const mpogen::ExifInfo info = mpogen::exif_info(o, 0);
    const Bytes& seg = info.segment;
    ASSERT_FALSE(seg.empty());
    std::vector<size_t> hits;
    for (size_t i = 0; i <= 512 && i + 1 < seg.size(); ++i)
      if (seg[i] == 0x31 && seg[i + 1] == 0x01) hits.push_back(i);
    ASSERT_EQ(hits.size(), 1u) << o.software << " width " << o.width;
    const size_t i = hits[0];
    EXPECT_EQ(seg[i + 8], info.software_value_offset);
    EXPECT_EQ(le(seg, i + 4, 4), info.software_count);
    EXPECT_LT(info.software_value_offset, 256u);
    // Stored outside the entry, zero-terminated, padded to the field width.
    EXPECT_GE(info.software_count, 5u);
    EXPECT_GE(info.software_count, o.software.size() + 1);
    EXPECT_GE(info.software_count, o.software_field_size);
    ASSERT_LE(8 + info.software_value_offset + info.software_count, seg.size());
    const auto value = seg.begin() + 8 + info.software_value_offset;
    EXPECT_EQ(std::string(value, value + o.software.size()), o.software);
    for (size_t k = o.software.size(); k < info.software_count; ++k) EXPECT_EQ(value[k], 0);
  }
}

TEST(MpoGen, SameSeedSameBytesAndTheRightViewIsShifted) {
  const Options o = small(Variant::camera);
  EXPECT_EQ(mpogen::make_mpo(o).bytes, mpogen::make_mpo(o).bytes);
  Options other = o;
  other.seed = 2;
  EXPECT_NE(mpogen::make_mpo(other).bytes, mpogen::make_mpo(o).bytes);

  Options flat = o;
  flat.disparity = 0;
  EXPECT_EQ(mpogen::render_view(flat, 0), mpogen::render_view(flat, 1));

  // With a disparity the bottom row (the nearest ground) of the right view is
  // the left one moved sideways by some positive amount up to the disparity.
  const Bytes left = mpogen::render_view(o, 0), right = mpogen::render_view(o, 1);
  ASSERT_EQ(left.size(), size_t(o.width) * o.height * 3);
  ASSERT_NE(left, right);
  const size_t row = size_t(o.height - 1) * o.width * 3;
  int best_shift = -1, best_matches = 0;
  for (int shift = 0; shift <= o.disparity; ++shift) {
    int matches = 0;
    for (int x = 0; x + shift < o.width; ++x)
      matches += std::equal(right.begin() + row + 3 * x, right.begin() + row + 3 * x + 3,
                            left.begin() + row + 3 * (x + shift));
    if (matches > best_matches) best_matches = matches, best_shift = shift;
  }
  EXPECT_GT(best_shift, 0);
  EXPECT_GT(best_matches, o.width / 2);
}

TEST(MpoGen, FullSizeHalvesHaveCameraLikeSizes) {
  const mpogen::Mpo mpo = mpogen::make_mpo(Options{.width = 3648, .height = 2736});
  const size_t left = mpo.separator, right = mpo.bytes.size() - mpo.separator;
  EXPECT_GE(left, 2'000'000u);
  EXPECT_LE(left, 4'000'000u);
  EXPECT_GE(right, 2'000'000u);
  EXPECT_LE(right, 4'000'000u);
}

TEST(MpoGen, BadOptionsAndUnwritablePathsFail) {
  EXPECT_TRUE(mpogen::make_half(Options{.width = 0}, 0).empty());
  EXPECT_TRUE(mpogen::make_half(Options{.quality = 101}, 0).empty());
  EXPECT_TRUE(mpogen::make_mpo(Options{.height = 70000}).bytes.empty());
  EXPECT_TRUE(mpogen::make_mpo(Options{.maker_note_bytes = 70000}).bytes.empty());
  EXPECT_FALSE(mpogen::write_file("/nonexistent-dir/x.mpo", Bytes{1, 2, 3}));
  for (Variant v : mpogen::kAllVariants) EXPECT_EQ(mpogen::variant_from_name(mpogen::variant_name(v)), v);
  EXPECT_FALSE(mpogen::variant_from_name("Camera").has_value());
}
