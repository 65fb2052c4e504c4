// Arbitrary bytes as an MPO with a multi-picture index, and as two JPEGs to
// join: the first byte says where the input is cut into the left and the
// right one.
#include <algorithm>
#include <span>

#include "mpo/mp_index.h"
#include "mpo/join.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> file(data, size);
  const auto n = static_cast<int64_t>(size);

  // A stereo offset is a real image start, and both images lie inside.
  if (const auto s = mpo::stereo_second_image_offset(file)) {
    FUZZ_CHECK(*s > 0 && *s + 2 <= n);
    FUZZ_CHECK(data[*s] == 0xFF && data[*s + 1] == 0xD8);
    const auto index = mpo::read_mp_index(file);
    FUZZ_CHECK(index && index->entries.size() >= 2 && index->entries[1].start == *s);
    FUZZ_CHECK(index->entries[0].size <= *s && index->entries[1].size <= n - *s);
  }
  if (const auto index = mpo::read_mp_index(file)) {
    FUZZ_CHECK(index->entries.size() <= mpo::kMaxMpEntries && index->entries.size() <= index->image_count);
    FUZZ_CHECK(index->header_offset > 0 && index->header_offset < n);
  }

  // A join that succeeds is an MPO whose index finds the right image, and
  // its two images joined again give the same file.
  if (size == 0) return 0;
  const size_t cut = std::min<size_t>(size - 1, size_t{data[0]} * size / 256) + 1;
  const mpo::JoinResult joined = mpo::join_mpo(file.subspan(1, cut - 1), file.subspan(cut));
  if (joined.refusal != mpo::JoinRefusal::none) {
    FUZZ_CHECK(joined.bytes.empty());
    return 0;
  }
  const auto s = mpo::stereo_second_image_offset(joined.bytes);
  FUZZ_CHECK(s.has_value());
  const std::span<const uint8_t> mpo(joined.bytes);
  const auto at = static_cast<size_t>(*s);
  FUZZ_CHECK(mpo::join_mpo(mpo.first(at), mpo.subspan(at)).bytes == joined.bytes);
  return 0;
}
