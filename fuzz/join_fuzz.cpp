// Arbitrary bytes as two inputs of --join: the first four bytes (big-endian,
// modulo what follows) say how many of the rest are the left input. Either
// the join refuses and makes nothing, or its file parts again, by the index
// and, where the join says so, by the byte search, into halves that join to
// the same file and that start with a header a reader can open.
#include <span>

#include "fuzz_support.h"
#include "mpo/join.h"
#include "mpo/jpeg_segments.h"
#include "mpo/mp_index.h"
#include "mpo/separator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const std::span<const uint8_t> rest(data + 4, size - 4);
  const uint32_t stated = (uint32_t{data[0]} << 24) | (uint32_t{data[1]} << 16) | (uint32_t{data[2]} << 8) | data[3];
  const size_t cut = stated % (rest.size() + 1);
  const std::span<const uint8_t> left = rest.first(cut), right = rest.subspan(cut);
  const mpo::JoinResult joined = mpo::join_mpo(left, right);
  if (joined.refusal != mpo::JoinRefusal::none) {
    FUZZ_CHECK(joined.bytes.empty());
    return 0;
  }
  const std::span<const uint8_t> mpo(joined.bytes);
  const auto n = static_cast<int64_t>(mpo.size());
  FUZZ_CHECK(mpo::stereo_second_image_offset(mpo) == joined.second_start);
  if (joined.found_by_byte_search) FUZZ_CHECK(mpo::find_separator(mpo.data(), n) == joined.second_start);
  const auto at = static_cast<size_t>(joined.second_start);
  FUZZ_CHECK(mpo::read_jpeg_header(mpo.first(at)) && mpo::read_jpeg_header(mpo.subspan(at)));
  // Nothing but what stood behind the inputs' first images was left out.
  FUZZ_CHECK(joined.left_dropped.bytes < static_cast<int64_t>(left.size()));
  FUZZ_CHECK(joined.right_dropped.bytes < static_cast<int64_t>(right.size()));
  const mpo::JoinResult again = mpo::join_mpo(mpo.first(at), mpo.subspan(at));
  FUZZ_CHECK(again.bytes == joined.bytes && again.left_dropped.bytes == 0 && again.right_dropped.bytes == 0);
  return 0;
}
