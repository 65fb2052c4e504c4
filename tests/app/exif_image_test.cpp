#include "app/exif_image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "app/driver.h"
#include "test_support.h"
#include "tests/support/jpeg_checks.h"
#include "tools/mpogen/mpogen.h"

namespace mpo {
namespace {

using test::Bytes;
using test::P;
using test::ScriptedUi;
using test::TempDir;

NameToken token_of(const char* base) {
  NameToken n;
  n.token = u"OLD";
  apply_name_token_rule(text_upper(T(base)), n);
  return n;
}

TEST(NameToken, Rule) {
  EXPECT_EQ(to_utf8(token_of("20130412_garda_001").token), "GARDA");
  EXPECT_TRUE(token_of("20130412_garda_001").flag);
  EXPECT_EQ(to_utf8(token_of("20130412_001").token), "XXX");
  EXPECT_EQ(to_utf8(token_of("19__x").token), "XXX");
  EXPECT_EQ(to_utf8(token_of("2013_a_b_c").token), "A");
  EXPECT_EQ(to_utf8(token_of("2014_straße_x").token), "STRAßE");
  const NameToken plain = token_of("dscf0001");
  EXPECT_FALSE(plain.flag);
  EXPECT_EQ(to_utf8(plain.token), "OLD");  // kept, never used
  EXPECT_FALSE(token_of("2").flag);
  EXPECT_FALSE(token_of("").flag);
}

TEST(NameToken, SoftwareText) {
  EXPECT_EQ(to_utf8(software_text(u"A")), "A         -V1.22");
  EXPECT_EQ(to_utf8(software_text(u"XXX")), "XXX       -V1.22");
  EXPECT_EQ(to_utf8(software_text(u"ABCDEFGHIJKL")), "ABCDEFGHIJ-V1.22");
  EXPECT_EQ(to_utf8(software_text(u"GARDA")), "GARDA     -V1.22");
  // One byte per character: above U+00FF (an emoji is one character) '?'.
  EXPECT_EQ(to_utf8(software_text(T("A\U0001F600\u0141\u00C4B"))), "A??\u00C4B     -V1.22");
  EXPECT_EQ(to_utf8(software_text(T("\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600"
                                    "\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600X"))),
            "?????????" "?-V1.22");
}

// A segment: length field, "Exif" 00 00, II TIFF header whose IFD0 stands
// at segment position 16 (its entries from 18), then whatever the test
// places.
MemoryBlock segment_of(size_t size) {
  MemoryBlock b = memory_allocate(static_cast<int64_t>(size));
  b.write_byte(0, int64_t(size) >> 8);
  b.write_byte(1, int64_t(size) & 0xFF);
  const char head[] = "Exif\0\0II*\0\x08";
  for (int i = 0; i < 11; ++i) b.write_byte(2 + i, head[i]);
  return b;
}

void put_entry(MemoryBlock& b, int64_t at, uint32_t count, uint32_t offset, uint8_t type = 2) {
  const uint8_t e[12] = {0x31, 0x01, type, 0,
                         uint8_t(count), uint8_t(count >> 8), uint8_t(count >> 16), uint8_t(count >> 24),
                         uint8_t(offset), uint8_t(offset >> 8), uint8_t(offset >> 16), uint8_t(offset >> 24)};
  for (int i = 0; i < 12; ++i) b.write_byte(at + i, e[i]);
}

// Entry k of IFD0 (a Software entry unless `tag_low` says otherwise); IFD0
// then counts k + 1 entries.
void put_ifd0_entry(MemoryBlock& b, int k, uint32_t count, uint32_t offset, uint8_t type = 2,
                    uint8_t tag_low = 0x31) {
  put_entry(b, 18 + 12 * k, count, offset, type);
  b.write_byte(18 + 12 * k, tag_low);
  b.write_byte(16, k + 1);
}

std::string text_at(const MemoryBlock& b, int64_t at, int64_t n) {
  std::string s;
  for (int64_t i = 0; i < n; ++i) s.push_back(static_cast<char>(b.read_byte(at + i)));
  return s;
}

TEST(RewriteSoftware, CountDecidesHowMuchIsWritten) {
  const Text sw = software_text(u"GARDA");
  MemoryBlock b = segment_of(600);
  put_ifd0_entry(b, 0, 32, 100);  // count 31: the text and 15 blanks
  b.write_byte(108 + 31, 0x77);
  ASSERT_TRUE(rewrite_software(b, sw));
  EXPECT_EQ(text_at(b, 108, 31), "GARDA     -V1.22" + std::string(15, ' '));
  EXPECT_EQ(b.read_byte(108 + 31), 0x77);  // the byte after the value stays

  MemoryBlock c = segment_of(600);
  put_ifd0_entry(c, 0, 11, 100);  // count 10: the version text is cut off
  ASSERT_TRUE(rewrite_software(c, sw));
  EXPECT_EQ(text_at(c, 108, 11), std::string("GARDA     ") + '\0');
}

TEST(RewriteSoftware, OnlyIfd0EntryCountsAndOffsetsAreFull32Bit) {
  MemoryBlock b = segment_of(2000);
  put_ifd0_entry(b, 0, 6, 100, 2, 0x0F);  // Make: passed over
  put_ifd0_entry(b, 1, 6, 300);           // offset above 255
  put_entry(b, 120, 6, 100);  // stray bytes 31 01 02 00 inside a text value
  put_entry(b, 60, 6, 100);   // ... and behind IFD0's last entry
  ASSERT_TRUE(rewrite_software(b, u"ABCDEFGH"));
  EXPECT_EQ(text_at(b, 308, 5), "ABCDE");
  EXPECT_EQ(text_at(b, 108, 5), std::string(5, '\0'));

  MemoryBlock none = segment_of(2000);
  put_entry(none, 100, 6, 300);  // no IFD0 entry at all
  EXPECT_FALSE(rewrite_software(none, u"ABCDEFGH"));
  EXPECT_EQ(text_at(none, 308, 5), std::string(5, '\0'));

  MemoryBlock motorola = segment_of(2000);  // big-endian TIFF: not rewritten
  put_ifd0_entry(motorola, 0, 6, 300);
  motorola.write_byte(8, 'M'), motorola.write_byte(9, 'M');
  EXPECT_FALSE(rewrite_software(motorola, u"ABCDEFGH"));
}

TEST(RewriteSoftware, NeverWritesOutsideTheSegment) {
  MemoryBlock none = segment_of(200);
  EXPECT_FALSE(rewrite_software(none, u"X"));  // no match: unchanged

  MemoryBlock wrong_type = segment_of(200);
  put_ifd0_entry(wrong_type, 0, 6, 50, 7);
  EXPECT_FALSE(rewrite_software(wrong_type, u"X"));

  MemoryBlock past_end = segment_of(120);
  put_ifd0_entry(past_end, 0, 30, 100);  // value at 108..136 > 120
  const Bytes before(past_end.data(), past_end.data() + 120);
  EXPECT_FALSE(rewrite_software(past_end, u"ABC"));
  EXPECT_EQ(Bytes(past_end.data(), past_end.data() + 120), before);

  MemoryBlock huge = segment_of(120);
  put_ifd0_entry(huge, 0, 0xFFFFFFFF, 0xFFFFFFF0);
  EXPECT_FALSE(rewrite_software(huge, u"ABC"));

  MemoryBlock long_ifd = segment_of(60);  // IFD0 counts more entries than fit
  put_ifd0_entry(long_ifd, 1, 2, 0, 2, 0x0F);
  long_ifd.write_byte(16, 0xFF), long_ifd.write_byte(17, 0xFF);
  EXPECT_FALSE(rewrite_software(long_ifd, u"ABC"));
  MemoryBlock far_ifd = segment_of(60);  // IFD0 beyond the segment
  far_ifd.write_byte(12, 0xF0), far_ifd.write_byte(15, 0x7F);
  EXPECT_FALSE(rewrite_software(far_ifd, u"ABC"));

  for (int size = 1; size < 14; ++size) {  // shorter than one entry
    MemoryBlock tiny = memory_allocate(size);
    for (int i = 0; i < size; ++i) tiny.write_byte(i, i % 2 ? 0x01 : 0x31);
    EXPECT_FALSE(rewrite_software(tiny, u"ABC"));
  }

  MemoryBlock inline_value = segment_of(200);  // count 4: the value stands in the entry
  put_ifd0_entry(inline_value, 0, 4, 0x00434241);
  ASSERT_TRUE(rewrite_software(inline_value, u"XYZW"));
  EXPECT_EQ(text_at(inline_value, 26, 4), std::string("XYZ") + '\0');
}

// The rewrite as first designed: low bytes of count and offset, the last
// 31 01 in positions 0..512. For segments as cameras write them (count and
// offset below 256) ours must write the very same bytes.
void reference_rewrite(Bytes& seg, const Text& software) {
  int count = 0, offset = 0;
  for (size_t i = 0; i <= 512; ++i) {
    if (seg[i] == 0x31 && seg[i + 1] == 0x01) {
      count = (seg[i + 4] - 1) & 0xFF;
      offset = seg[i + 8];
    }
  }
  const Text fitted = text_pad_right(software, count, u" ");
  for (int k = 1; k <= count; ++k) seg[size_t(offset + 7 + k)] = uint8_t(fitted[size_t(k - 1)]);
}

TEST(RewriteSoftware, CameraSegmentSameAsReference) {
  for (uint32_t field : {0u, 14u, 32u}) {
    mpogen::Options o;
    o.width = 64, o.height = 48;
    o.software_field_size = field;
    const mpogen::ExifInfo info = mpogen::exif_info(o, 0);
    ASSERT_LT(info.software_value_offset, 256u);
    ASSERT_LT(info.software_count, 256u);
    Bytes ref = info.segment;
    ref.resize(std::max<size_t>(ref.size(), 530));
    reference_rewrite(ref, software_text(u"GARDA"));
    ref.resize(info.segment.size());

    MemoryBlock ours = memory_allocate(int64_t(info.segment.size()));
    std::memcpy(ours.data(), info.segment.data(), info.segment.size());
    ASSERT_TRUE(rewrite_software(ours, software_text(u"GARDA")));
    EXPECT_EQ(Bytes(ours.data(), ours.data() + ours.size()), ref) << field;
    EXPECT_NE(ref, info.segment);
  }
}

class ExifImage : public ::testing::Test {
 protected:
  TempDir tmp;
  FileService files;
  ImageService images;
  ScriptedUi ui;

  RunResult convert(const OptionFlags& flags) {
    RunConfig config;
    config.options = flags;
    config.start_path = P(tmp.path());
    config.list_file = P(tmp.path() / "list.txt");
    config.pause_ms = 0;
    return run_batch(files, images, ui, config);
  }
};


TEST_F(ExifImage, SpliceLayoutAndIndependentReaders) {
  mpogen::Options o;
  o.width = 160, o.height = 120;
  const auto base = tmp.path() / "20130412_garda_001";
  ASSERT_TRUE(mpogen::write_file(base.string() + ".mpo", mpogen::make_mpo(o).bytes));
  ASSERT_EQ(convert(OptionFlags{0, 1, 1, 1}).exit_status(), 0);

  const Bytes sbs = test::read_bytes(base.string() + "_sbs.jpg");
  const Bytes exif = test::read_bytes(base.string() + "_EXIF.jpg");
  const Bytes segment = mpogen::exif_info(o, 0).segment;
  const size_t L = segment.size();
  ASSERT_EQ(exif.size(), sbs.size() + L - 16);
  EXPECT_EQ(Bytes(exif.begin(), exif.begin() + 4), (Bytes{0xFF, 0xD8, 0xFF, 0xE1}));
  EXPECT_EQ(exif[4], L >> 8);
  EXPECT_EQ(exif[5], L & 0xFF);
  EXPECT_EQ(exif[4 + L], 0xFF);
  EXPECT_EQ(exif[5 + L], 0xDB);
  EXPECT_EQ(Bytes(exif.begin() + 4 + long(L), exif.end()), Bytes(sbs.begin() + 20, sbs.end()));
  EXPECT_EQ(ui.message_titles(), (std::vector<std::string>{"Programmende"}));

  if (!test::have_program("exiftool") || !test::have_program("djpeg"))
    GTEST_SKIP() << "exiftool or djpeg missing";
  const std::string tags =
      test::run_process({"exiftool", "-s", "-s", "-s", "-Make", "-Model", "-Software",
                         base.string() + "_EXIF.jpg"})
          .out;
  EXPECT_NE(tags.find(o.make), std::string::npos) << tags;
  EXPECT_NE(tags.find(o.model), std::string::npos) << tags;
  EXPECT_NE(tags.find("GARDA"), std::string::npos) << tags;
  for (const std::string& s : test::output_suffixes())
    EXPECT_TRUE(test::decodes_completely(base.string() + s)) << s;
}

TEST_F(ExifImage, PlainNameKeepsSegmentAndNoSegmentWritesNothing) {
  mpogen::Options o;
  o.width = 64, o.height = 48;
  const auto plain = tmp.path() / "dscf0001";
  ASSERT_TRUE(mpogen::write_file(plain.string() + ".mpo", mpogen::make_mpo(o).bytes));
  convert(OptionFlags{0, 0, 0, 1});
  const Bytes exif = test::read_bytes(plain.string() + "_EXIF.jpg");
  const Bytes segment = mpogen::exif_info(o, 0).segment;
  EXPECT_EQ(Bytes(exif.begin() + 4, exif.begin() + 4 + long(segment.size())), segment);

  // A first image without Exif APP1: no "_EXIF.jpg", one message.
  Bytes mpo = mpogen::make_mpo(o).bytes;
  mpo[3] = 0xFE;  // the APP1 becomes a comment: still a JPEG, no Exif
  test::fs::remove(plain.string() + ".mpo");
  test::fs::remove(plain.string() + "_EXIF.jpg");
  ASSERT_TRUE(mpogen::write_file((tmp.path() / "noexif.mpo").string(), mpo));
  ui.calls.clear();
  convert(OptionFlags{0, 0, 0, 1});
  EXPECT_FALSE(test::fs::exists(tmp.path() / "noexif_EXIF.jpg"));
  EXPECT_TRUE(test::fs::exists(tmp.path() / "noexif_sbs.jpg"));
  const auto msgs = ui.of_kind("message");
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(msgs[0].a, test::U8(texts::kErrorInfoTitle));
  EXPECT_EQ(msgs[0].b, test::U8(texts::kExifFailed));
}

TEST_F(ExifImage, StaleOrForeignSideBySideIsNeverSpliced) {
  // The side-by-side of this entry failed; an old one of that name exists.
  MemoryBlock segment = segment_of(64);
  NameToken name;
  const Text base = P(tmp.path() / "old");
  Bytes stale(100, 0);
  stale[0] = 0xFF, stale[1] = 0xD8, stale[2] = 0xFF, stale[3] = 0xE0, stale[20] = 0xFF, stale[21] = 0xDB;
  test::write_bytes(tmp.path() / "old_sbs.jpg", stale);
  EXPECT_FALSE(write_exif_image(files, ui, base, segment, name, false));
  EXPECT_FALSE(test::fs::exists(tmp.path() / "old_EXIF.jpg"));
  // Written this entry but not in the encoder's layout: not read back.
  stale[21] = 0xC4;
  test::write_bytes(tmp.path() / "old_sbs.jpg", stale);
  EXPECT_FALSE(write_exif_image(files, ui, base, segment, name, true));
  EXPECT_FALSE(test::fs::exists(tmp.path() / "old_EXIF.jpg"));
  EXPECT_EQ(ui.of_kind("message").size(), 2u);
}

}  // namespace
}  // namespace mpo
