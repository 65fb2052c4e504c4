#include "mpo/mp_index.h"

#include <algorithm>

#include "image/jpeg_markers.h"
#include "mpo/jpeg_segments.h"
#include "mpo/tiff.h"

namespace mpo {

namespace {

// Where the MP entries stand in the index IFD, and how many images it counts.
struct IndexFields {
  std::optional<uint32_t> image_count;
  std::optional<int64_t> entries_at;
  uint32_t entries_bytes = 0;
};

std::optional<IndexFields> read_index_ifd(const TiffReader& tiff, int64_t ifd) {
  const auto count = tiff.entry_count(ifd);
  if (!count) return std::nullopt;
  IndexFields fields;
  for (int64_t i = 0; i < *count; ++i) {
    const auto e = tiff.entry(ifd, i);
    if (!e) return std::nullopt;
    if (e->tag == kNumberOfImagesTag && e->type == kTiffLong && e->count == 1) {
      fields.image_count = e->value;
    } else if (e->tag == kMpEntryTag) {
      fields.entries_bytes = e->count;
      fields.entries_at = e->value_at(e->count);
    }
  }
  if (!fields.entries_at) return std::nullopt;
  return fields;
}

MpEntry read_entry(const TiffReader& tiff, int64_t at, int64_t header_offset) {
  MpEntry entry;
  entry.attribute = *tiff.u32(at);
  entry.size = *tiff.u32(at + 4);
  const uint32_t offset = *tiff.u32(at + 8);
  entry.start = offset == 0 ? 0 : header_offset + offset;
  entry.dependent[0] = static_cast<uint16_t>(*tiff.u16(at + 12));
  entry.dependent[1] = static_cast<uint16_t>(*tiff.u16(at + 14));
  return entry;
}

// The index in the TIFF structure at file offset `header` up to `end`.
std::optional<MpIndex> parse_index(std::span<const uint8_t> file, int64_t header, int64_t end) {
  const auto tiff = TiffReader::open(file.subspan(static_cast<size_t>(header), static_cast<size_t>(end - header)));
  if (!tiff) return std::nullopt;
  const auto fields = read_index_ifd(*tiff, *tiff->first_ifd());
  if (!fields) return std::nullopt;

  MpIndex index;
  index.little_endian = tiff->little_endian();
  index.header_offset = header;
  index.image_count = fields->image_count.value_or(fields->entries_bytes / kMpEntrySize);
  const uint32_t listed = std::min({index.image_count, fields->entries_bytes / uint32_t{kMpEntrySize}, kMaxMpEntries});
  if (!tiff->contains(*fields->entries_at, int64_t{listed} * kMpEntrySize)) return std::nullopt;
  for (uint32_t i = 0; i < listed; ++i)
    index.entries.push_back(read_entry(*tiff, *fields->entries_at + i * kMpEntrySize, header));
  return index;
}

bool is_stereo_type(const MpEntry& entry) {
  return entry.type() == kMpTypeDisparity || entry.type() == kMpTypeMultiAngle;
}

}  // namespace

std::optional<MpIndex> read_mp_index(std::span<const uint8_t> file) {
  if (file.size() < 4 || jpeg::read_be16(file.data()) != jpeg::marker_word(jpeg::kSOI)) return std::nullopt;
  int64_t pos = 2;
  while (const auto segment = next_segment(file, pos)) {
    if (segment->code == jpeg::kSOS) break;
    if (is_mpf_segment(file, *segment)) return parse_index(file, segment->payload() + 4, segment->end);
    pos = segment->end;
  }
  return std::nullopt;
}

std::optional<int64_t> stereo_second_image_offset(std::span<const uint8_t> file) {
  const auto index = read_mp_index(file);
  if (!index || index->image_count < 2 || index->entries.size() < 2) return std::nullopt;
  const MpEntry& first = index->entries[0];
  const MpEntry& second = index->entries[1];
  if (!is_stereo_type(first) || !is_stereo_type(second)) return std::nullopt;
  const auto n = static_cast<int64_t>(file.size());
  const int64_t s = second.start;
  if (first.start != 0 || s <= 0 || s > n - 2) return std::nullopt;
  if (jpeg::read_be16(file.data() + s) != jpeg::marker_word(jpeg::kSOI)) return std::nullopt;
  if (int64_t{first.size} > s || int64_t{second.size} > n - s) return std::nullopt;
  return s;
}

}  // namespace mpo
