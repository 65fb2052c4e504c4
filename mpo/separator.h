// Where the second image of an MPO begins, found by its bytes alone.
#pragma once

#include <cstdint>
#include <optional>

namespace mpo {

// Offset S of the second image: the position nearest the middle (after the
// middle first on a tie, at most size / 4 away) where "Exif" stands with
// FF D8 FF E1 six bytes before it. Reads only inside [bytes, bytes + size).
std::optional<int64_t> find_separator(const uint8_t* bytes, int64_t size);

}  // namespace mpo
