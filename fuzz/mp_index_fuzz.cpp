// Arbitrary bytes as an MPO with a multi-picture index (the join has a
// target of its own, join_fuzz).
#include <span>

#include "mpo/mp_index.h"
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

  return 0;
}
