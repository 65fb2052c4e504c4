#include "mpo/tiff.h"

namespace mpo {

std::optional<TiffReader> TiffReader::open(std::span<const uint8_t> bytes) {
  if (bytes.size() < static_cast<size_t>(kTiffHeaderSize)) return std::nullopt;
  const bool little = bytes[0] == 'I' && bytes[1] == 'I';
  if (!little && !(bytes[0] == 'M' && bytes[1] == 'M')) return std::nullopt;
  const TiffReader tiff(bytes, little);
  if (*tiff.u16(2) != kTiffMagic) return std::nullopt;
  return tiff;
}

std::optional<int64_t> TiffReader::first_ifd() const {
  const auto offset = u32(4);
  if (!offset) return std::nullopt;
  return int64_t{*offset};
}

std::optional<IfdEntry> TiffReader::entry(int64_t ifd, int64_t k) const {
  const int64_t at = ifd + 2 + k * kIfdEntrySize;
  if (!contains(at, kIfdEntrySize)) return std::nullopt;
  return IfdEntry{at, static_cast<uint16_t>(*u16(at)), static_cast<uint16_t>(*u16(at + 2)), *u32(at + 4),
                  *u32(at + 8)};
}

std::optional<uint32_t> TiffReader::read(int64_t at, int n) const {
  if (!contains(at, n)) return std::nullopt;
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) {
    const uint8_t b = bytes_[static_cast<size_t>(at + (little_ ? n - 1 - i : i))];
    v = (v << 8) | b;
  }
  return v;
}

}  // namespace mpo
