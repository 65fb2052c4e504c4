#include "mpo/exif_software.h"

#include "mpo/tiff.h"

namespace mpo {

namespace {

// IFD0's Software entry of type ASCII; nullopt when the structure is not
// little-endian or IFD0 has no such entry inside it.
std::optional<IfdEntry> software_entry(const TiffReader& tiff) {
  if (!tiff.little_endian()) return std::nullopt;
  const int64_t ifd = *tiff.first_ifd();
  const auto count = tiff.entry_count(ifd);
  if (!count) return std::nullopt;
  for (int64_t k = 0; k < *count; ++k) {
    const auto entry = tiff.entry(ifd, k);
    if (!entry) return std::nullopt;
    if (entry->tag == kSoftwareTag && entry->type == kTiffAscii) return entry;
  }
  return std::nullopt;
}

}  // namespace

bool rewrite_exif_software(std::span<uint8_t> segment, std::span<const uint8_t> software) {
  if (segment.size() < static_cast<size_t>(kExifTiffStart)) return false;
  const std::span<uint8_t> structure = segment.subspan(static_cast<size_t>(kExifTiffStart));
  const auto tiff = TiffReader::open(structure);
  if (!tiff) return false;
  const auto entry = software_entry(*tiff);
  if (!entry) return false;
  const int64_t count = int64_t{entry->count} - 1;  // the terminating zero stays
  if (count <= 0) return true;
  const int64_t value_at = entry->value_at(entry->count);
  if (!tiff->contains(value_at, count)) return false;
  for (int64_t k = 0; k < count; ++k) {
    const auto i = static_cast<size_t>(k);
    structure[static_cast<size_t>(value_at + k)] = i < software.size() ? software[i] : uint8_t{' '};
  }
  return true;
}

}  // namespace mpo
