// The text operations with arbitrary texts, positions and counts, and the
// UTF-8 conversion's round trips.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <limits>

#include "fuzz_support.h"
#include "io/text.h"

namespace {

using mpo::Text;

// Positions and counts: mostly small, sometimes at the ends of the range.
int64_t any_number(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0: return std::numeric_limits<int64_t>::min();
    case 1: return std::numeric_limits<int64_t>::max();
    case 2: return in.ConsumeIntegral<int64_t>();
    default: return in.ConsumeIntegralInRange<int64_t>(-4, 40);
  }
}

Text any_text(FuzzedDataProvider& in) {
  // Half the time raw bytes through from_utf8, else arbitrary code units
  // (unpaired surrogates included).
  if (in.ConsumeBool()) return mpo::from_utf8(in.ConsumeRandomLengthString(64));
  Text t;
  const size_t n = in.ConsumeIntegralInRange<size_t>(0, 32);
  for (size_t i = 0; i < n && in.remaining_bytes() > 0; ++i)
    t.push_back(static_cast<char16_t>(in.ConsumeIntegral<uint16_t>()));
  return t;
}

int64_t clamp(int64_t v, int64_t lo, int64_t hi) { return std::max(lo, std::min(v, hi)); }

void check_utf8(const std::string& bytes) {
  const Text once = mpo::from_utf8(bytes);
  FUZZ_CHECK(mpo::to_utf8(once) == bytes);
  FUZZ_CHECK(mpo::from_utf8(mpo::to_utf8(once)) == once);
  FUZZ_CHECK(once.size() <= bytes.size());
}

void check_ops(const Text& t, const Text& s, int64_t a, int64_t b) {
  const int64_t len = mpo::text_length(t);
  FUZZ_CHECK(len == static_cast<int64_t>(t.size()));

  const Text left = mpo::text_left(t, a);
  FUZZ_CHECK(left == t.substr(0, static_cast<size_t>(clamp(a, 0, len))));
  const Text right = mpo::text_right(t, a);
  const int64_t rn = clamp(a, 0, len);
  FUZZ_CHECK(right == t.substr(static_cast<size_t>(len - rn)));

  // mid: a start at or below 1 counts as 1; empty past the end or for n <= 0.
  const Text mid = mpo::text_mid(t, a, b);
  const int64_t from = std::max<int64_t>(a, 1) - 1;
  if (b <= 0 || from >= len) {
    FUZZ_CHECK(mid.empty());
  } else {
    FUZZ_CHECK(mid == t.substr(static_cast<size_t>(from),
                               static_cast<size_t>(std::min(b, len - from))));
  }

  // find: the first occurrence at or after the start, by a plain scan.
  const int64_t found = mpo::text_find(t, s, a);
  int64_t expected = 0;
  if (!t.empty() && !s.empty() && a <= len) {
    for (int64_t p = std::max<int64_t>(a, 1) - 1; p + mpo::text_length(s) <= len; ++p) {
      if (t.compare(static_cast<size_t>(p), s.size(), s) == 0) {
        expected = p + 1;
        break;
      }
    }
  }
  FUZZ_CHECK(found == expected);

  // pad: exactly n units, the text's first ones and then the pad's first
  // unit. Counts stay small here: a count of 2^62 asks for that much memory.
  const int64_t n = clamp(b, -8, 4096);
  const Text padded = mpo::text_pad_right(t, n, s);
  if (n <= 0 || s.empty()) {
    FUZZ_CHECK(padded.empty());
  } else {
    FUZZ_CHECK(mpo::text_length(padded) == n);
    FUZZ_CHECK(padded.compare(0, static_cast<size_t>(std::min(n, len)), t, 0,
                              static_cast<size_t>(std::min(n, len))) == 0);
    for (int64_t i = std::min(n, len); i < n; ++i) FUZZ_CHECK(padded[static_cast<size_t>(i)] == s[0]);
  }

  // Case mapping keeps the length, is idempotent, and leaves ASCII letters
  // to the usual rule.
  const Text up = mpo::text_upper(t);
  const Text low = mpo::text_lower(t);
  FUZZ_CHECK(up.size() == t.size() && low.size() == t.size());
  FUZZ_CHECK(mpo::text_upper(up) == up && mpo::text_lower(low) == low);
  for (size_t i = 0; i < t.size(); ++i) {
    const char16_t c = t[i];
    if (c >= u'a' && c <= u'z') FUZZ_CHECK(up[i] == c - 32 && low[i] == c);
    if (c >= u'A' && c <= u'Z') FUZZ_CHECK(low[i] == c + 32 && up[i] == c);
    if (c < 0x80 && !((c | 32) >= u'a' && (c | 32) <= u'z')) FUZZ_CHECK(up[i] == c && low[i] == c);
  }

  FUZZ_CHECK(mpo::text_first_code(t) == (t.empty() ? 0 : static_cast<int>(t[0])));
  FUZZ_CHECK(mpo::text_equals(t, s) == (t == s));
  FUZZ_CHECK(mpo::text_equals(t, t));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check_utf8(std::string(reinterpret_cast<const char*>(data), size));
  FuzzedDataProvider in(data, size);
  const Text t = any_text(in);
  const Text s = any_text(in);
  const int64_t a = any_number(in);
  const int64_t b = any_number(in);
  check_ops(t, s, a, b);
  return 0;
}
