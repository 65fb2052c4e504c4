#include "mpo/separator.h"

#include <cstring>

#include "image/jpeg_markers.h"

namespace mpo {

std::optional<int64_t> find_separator(const uint8_t* bytes, int64_t size) {
  static const uint8_t kExif[4] = {0x45, 0x78, 0x69, 0x66};
  static const uint8_t kSoiApp1[4] = {jpeg::kMarkerPrefix, jpeg::kSOI, jpeg::kMarkerPrefix,
                                      jpeg::kAPP1};
  if (bytes == nullptr || size <= 0) return std::nullopt;
  auto hit = [&](int64_t p) {
    if (p < 6 || p > size - 4) return false;
    if (bytes[p] != 0x45) return false;
    return std::memcmp(bytes + p, kExif, 4) == 0 && std::memcmp(bytes + p - 6, kSoiApp1, 4) == 0;
  };
  const int64_t mid = size / 2;
  const int64_t bound = size / 4;
  for (int64_t i = 0; i <= bound; ++i) {
    if (hit(mid + i)) return mid + i - 6;
    if (hit(mid - i)) return mid - i - 6;
  }
  return std::nullopt;
}

}  // namespace mpo
