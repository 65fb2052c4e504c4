// Arbitrary bytes as an MPO: the Exif segment, the separator search and the
// split into the two halves, on a real file.
#include <cstring>

#include "app/split.h"
#include "mpo/separator.h"
#include "fuzz_support.h"

namespace {

// A big-endian 16-bit value; bytes past the end read as 0, as from a file.
uint16_t be16(const uint8_t* d, size_t n, size_t at) {
  const int hi = at < n ? d[at] : 0;
  const int lo = at + 1 < n ? d[at + 1] : 0;
  return static_cast<uint16_t>((hi << 8) | lo);
}

// Where the first APP1 segment's length field stands, as the split reads it:
// right after SOI, or behind a plain JFIF APP0 of 16 bytes.
size_t exif_start(const uint8_t* d, size_t n) {
  if (be16(d, n, 0) != 0xFFD8) return 0;
  if (be16(d, n, 2) == 0xFFE1) return 4;
  if (be16(d, n, 2) == 0xFFE0 && be16(d, n, 4) == 16 && be16(d, n, 20) == 0xFFE1) return 22;
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto n = static_cast<int64_t>(size);

  // The search on the bare bytes: a hit is a real one and lies inside.
  const auto sep = mpo::find_separator(data, n);
  if (sep) {
    FUZZ_CHECK(*sep >= 0 && *sep + 10 <= n);
    FUZZ_CHECK(std::memcmp(data + *sep, "\xFF\xD8\xFF\xE1", 4) == 0);
    FUZZ_CHECK(std::memcmp(data + *sep + 6, "Exif", 4) == 0);
    const int64_t distance = *sep + 6 - n / 2;
    FUZZ_CHECK(distance <= n / 4 && -distance <= n / 4);
  }

  const std::string dir = fuzz::scratch();
  const std::string path = dir + "/in.mpo";
  if (!fuzz::write_file(path, data, size)) return 0;
  mpo::FileService files;
  const mpo::Text base = mpo::from_utf8(dir + "/in");
  const mpo::SplitResult r = mpo::split_mpo(files, mpo::from_utf8(path), base);

  // The Exif segment: exactly L bytes copied from the file, zero past its end.
  const size_t start = exif_start(data, size);
  if (start != 0 && be16(data, size, start) >= 2) {
    const size_t length = be16(data, size, start);
    FUZZ_CHECK(r.exif_segment && static_cast<size_t>(r.exif_segment.size()) == length);
    for (size_t i = 0; i < length; ++i) {
      const uint8_t expected = start + i < size ? data[start + i] : 0;
      FUZZ_CHECK(r.exif_segment.data()[i] == expected);
    }
  } else {
    FUZZ_CHECK(!r.exif_segment);
  }

  const std::string left = dir + "/in_L.jpg";
  const std::string right = dir + "/in_R.jpg";
  if (n < mpo::kMinMpoSize) {
    FUZZ_CHECK(r.stop == mpo::StopReason::no_image_file);
  } else if (!sep) {
    FUZZ_CHECK(r.stop == mpo::StopReason::no_separator);
  } else {
    FUZZ_CHECK(r.stop == mpo::StopReason::none && r.separator == *sep);
    FUZZ_CHECK(r.left_written && r.right_written);
    // Every byte of the MPO exactly once, in order.
    const fuzz::Bytes l = fuzz::read_file(left);
    const fuzz::Bytes rr = fuzz::read_file(right);
    FUZZ_CHECK(static_cast<int64_t>(l.size()) == *sep && l.size() + rr.size() == size);
    FUZZ_CHECK(std::memcmp(l.data(), data, l.size()) == 0);
    FUZZ_CHECK(std::memcmp(rr.data(), data + l.size(), rr.size()) == 0);
  }
  if (r.stop != mpo::StopReason::none) {
    FUZZ_CHECK(!fuzz::exists(left) && !fuzz::exists(right));
  }
  // The MPO itself is only read.
  const fuzz::Bytes after = fuzz::read_file(path);
  FUZZ_CHECK(after.size() == size && (size == 0 || std::memcmp(after.data(), data, size) == 0));
  ::unlink(left.c_str());
  ::unlink(right.c_str());
  return 0;
}
