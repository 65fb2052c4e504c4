#include "mpo/mp_index.h"

#include <algorithm>
#include <cstring>

#include "image/jpeg_markers.h"

namespace mpo {

namespace {

constexpr uint8_t kMpfSignature[4] = {'M', 'P', 'F', 0};
constexpr int64_t kTiffHeaderSize = 8;
constexpr int64_t kIfdEntrySize = 12;
constexpr int64_t kMpEntrySize = 16;
constexpr uint16_t kTiffMagic = 42;
constexpr uint16_t kTypeLong = 4;

// Reads of a TIFF structure in its own byte order. A read that would not lie
// wholly inside the bytes yields nullopt.
class TiffReader {
 public:
  TiffReader(std::span<const uint8_t> bytes, bool little) : bytes_(bytes), little_(little) {}

  bool contains(int64_t at, int64_t count) const {
    return at >= 0 && count >= 0 && at <= size() && count <= size() - at;
  }
  int64_t size() const { return static_cast<int64_t>(bytes_.size()); }

  std::optional<uint32_t> u16(int64_t at) const { return read(at, 2); }
  std::optional<uint32_t> u32(int64_t at) const { return read(at, 4); }

 private:
  std::optional<uint32_t> read(int64_t at, int n) const {
    if (!contains(at, n)) return std::nullopt;
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
      const uint8_t b = bytes_[static_cast<size_t>(at + (little_ ? n - 1 - i : i))];
      v = (v << 8) | b;
    }
    return v;
  }

  std::span<const uint8_t> bytes_;
  bool little_;
};

// Where the MP entries stand in the index IFD, and how many images it counts.
struct IndexFields {
  std::optional<uint32_t> image_count;
  std::optional<int64_t> entries_at;
  uint32_t entries_bytes = 0;
};

std::optional<IndexFields> read_index_ifd(const TiffReader& tiff, int64_t ifd) {
  const auto count = tiff.u16(ifd);
  if (!count || !tiff.contains(ifd + 2, int64_t{*count} * kIfdEntrySize)) return std::nullopt;
  IndexFields fields;
  for (int64_t i = 0; i < *count; ++i) {
    const int64_t e = ifd + 2 + i * kIfdEntrySize;
    const uint32_t tag = *tiff.u16(e);
    const uint32_t type = *tiff.u16(e + 2);
    const uint32_t n = *tiff.u32(e + 4);
    if (tag == kNumberOfImagesTag && type == kTypeLong && n == 1) {
      fields.image_count = *tiff.u32(e + 8);
    } else if (tag == kMpEntryTag) {
      fields.entries_bytes = n;
      fields.entries_at = n <= 4 ? e + 8 : int64_t{*tiff.u32(e + 8)};
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
  if (end - header < kTiffHeaderSize) return std::nullopt;
  const uint8_t* h = file.data() + header;
  const bool little = h[0] == 'I' && h[1] == 'I';
  if (!little && !(h[0] == 'M' && h[1] == 'M')) return std::nullopt;
  const TiffReader tiff(file.subspan(static_cast<size_t>(header), static_cast<size_t>(end - header)), little);
  if (*tiff.u16(2) != kTiffMagic) return std::nullopt;
  const auto fields = read_index_ifd(tiff, *tiff.u32(4));
  if (!fields) return std::nullopt;

  MpIndex index;
  index.little_endian = little;
  index.header_offset = header;
  index.image_count = fields->image_count.value_or(fields->entries_bytes / kMpEntrySize);
  const uint32_t listed = std::min({index.image_count, fields->entries_bytes / uint32_t{kMpEntrySize}, kMaxMpEntries});
  if (!tiff.contains(*fields->entries_at, int64_t{listed} * kMpEntrySize)) return std::nullopt;
  for (uint32_t i = 0; i < listed; ++i)
    index.entries.push_back(read_entry(tiff, *fields->entries_at + i * kMpEntrySize, header));
  return index;
}

bool is_mpf_segment(std::span<const uint8_t> file, const HeaderSegment& segment) {
  return segment.code == jpeg::kAPP2 && segment.end - segment.payload() >= 4 &&
         std::memcmp(file.data() + segment.payload(), kMpfSignature, 4) == 0;
}

bool is_stereo_type(const MpEntry& entry) {
  return entry.type() == kMpTypeDisparity || entry.type() == kMpTypeMultiAngle;
}

}  // namespace

std::optional<HeaderSegment> next_segment(std::span<const uint8_t> jpeg, int64_t pos) {
  const auto n = static_cast<int64_t>(jpeg.size());
  if (pos < 0) return std::nullopt;
  while (pos + 1 < n && jpeg[pos] == jpeg::kMarkerPrefix && jpeg[pos + 1] == jpeg::kMarkerPrefix) ++pos;
  if (pos + 4 > n || jpeg[pos] != jpeg::kMarkerPrefix) return std::nullopt;
  const uint8_t code = jpeg[pos + 1];
  // Markers without a length (SOI, EOI, restarts, TEM, stuffed zero) have no
  // place among header segments.
  if (code == 0x00 || code == 0x01 || (code >= 0xD0 && code <= jpeg::kEOI)) return std::nullopt;
  const int length = jpeg::read_be16(jpeg.data() + pos + 2);
  if (length < 2 || length > n - pos - 2) return std::nullopt;
  return HeaderSegment{code, pos, pos + 2 + length};
}

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
