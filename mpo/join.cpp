#include "mpo/join.h"

#include <limits>
#include <new>
#include <optional>

#include "image/jpeg_markers.h"
#include "mpo/jpeg_segments.h"
#include "mpo/mp_index.h"
#include "mpo/separator.h"
#include "mpo/tiff.h"

namespace mpo {

namespace {

using Bytes = std::vector<uint8_t>;

// The MPF segment's layout: FF E2, length, "MPF" 00, then the TIFF header,
// in the first image the index IFD of three fields, its two MP entries and
// then the attribute IFD; in the second image the attribute IFD right away.
constexpr int64_t kSegmentHeader = 8;
constexpr int64_t ifd_bytes(int fields) { return 2 + fields * kIfdEntrySize + 4; }
constexpr int kIndexFields = 3;
constexpr int kAttributeFields = 3;
constexpr int kImages = 2;
constexpr int64_t kEntriesAt = kTiffHeaderSize + ifd_bytes(kIndexFields);
constexpr int64_t kAttributeIfdAt = kEntriesAt + kImages * kMpEntrySize;
constexpr uint32_t kFirstAttribute = kMpRepresentative | kMpTypeDisparity;  // format JPEG
constexpr uint32_t kSecondAttribute = kMpTypeDisparity;
// MPFVersion "0100" as its 4-byte value.
constexpr uint32_t kVersion0100 = 0x30313030;

void put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}

void put32(Bytes& b, uint32_t v) {
  put16(b, v >> 16);
  put16(b, v & 0xFFFF);
}

void patch32(Bytes& b, int64_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[static_cast<size_t>(at + i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

void put_entry(Bytes& b, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
  put16(b, tag);
  put16(b, type);
  put32(b, count);
  put32(b, value);
}

// A big-endian TIFF header whose first IFD stands right behind it.
void put_tiff_header(Bytes& b) {
  b.insert(b.end(), {'M', 'M', 0x00, kTiffMagic});
  put32(b, kTiffHeaderSize);
}

void put_attribute_ifd(Bytes& b, uint32_t individual_number) {
  put16(b, kAttributeFields);
  put_entry(b, kMpfVersionTag, kTiffUndefined, 4, kVersion0100);
  put_entry(b, kMpIndividualNumTag, kTiffLong, 1, individual_number);
  put_entry(b, kBaseViewpointNumTag, kTiffLong, 1, 1);
  put32(b, 0);
}

// The APP2 "MPF" segment, marker included. The first image's holds the MP
// index (entries zero, filled in once the sizes are known) and its
// attributes; the second image's only its attributes.
Bytes mpf_segment(uint32_t individual_number) {
  Bytes b = {jpeg::kMarkerPrefix, jpeg::kAPP2, 0, 0, 'M', 'P', 'F', 0};
  put_tiff_header(b);
  if (individual_number == 1) {
    put16(b, kIndexFields);
    put_entry(b, kMpfVersionTag, kTiffUndefined, 4, kVersion0100);
    put_entry(b, kNumberOfImagesTag, kTiffLong, 1, kImages);
    put_entry(b, kMpEntryTag, kTiffUndefined, kImages * kMpEntrySize, kEntriesAt);
    put32(b, kAttributeIfdAt);
    b.resize(b.size() + kImages * kMpEntrySize);
  }
  put_attribute_ifd(b, individual_number);
  const size_t length = b.size() - 2;
  b[2] = static_cast<uint8_t>(length >> 8);
  b[3] = static_cast<uint8_t>(length);
  return b;
}

// APP1 "Exif" 00 00 with a big-endian TIFF header and an empty IFD0.
Bytes minimal_exif_segment() {
  Bytes b = {jpeg::kMarkerPrefix, jpeg::kAPP1, 0x00, 0x16, 'E', 'x', 'i', 'f', 0, 0};
  put_tiff_header(b);
  put16(b, 0);
  put32(b, 0);
  return b;
}

// Appends the JPEG from behind its SOI on, leaving out its MPF segments and
// the segment at `skip`; `insert` goes in behind the segment at
// `insert_after`. Returns the output offset of `insert` (-1: not placed).
int64_t append_rest(Bytes& out, std::span<const uint8_t> jpeg, int64_t skip, int64_t insert_after,
                    const Bytes& insert) {
  int64_t placed = -1;
  int64_t pos = 2;
  auto segment = next_segment(jpeg, pos);
  for (; segment && segment->code != jpeg::kSOS; segment = next_segment(jpeg, pos)) {
    if (segment->offset != skip && !is_mpf_segment(jpeg, *segment))
      out.insert(out.end(), jpeg.begin() + pos, jpeg.begin() + segment->end);
    if (segment->offset == insert_after) {
      placed = static_cast<int64_t>(out.size());
      out.insert(out.end(), insert.begin(), insert.end());
    }
    pos = segment->end;
  }
  out.insert(out.end(), jpeg.begin() + pos, jpeg.end());
  return placed;
}

// One input: its first image and its header.
struct Input {
  std::span<const uint8_t> image;
  JpegHeader header;
  DroppedTail dropped;
};

// Whether an image begins at `start`, behind `end`.
bool holds_image_at(std::span<const uint8_t> jpeg, int64_t start, int64_t end) {
  return start >= end && start <= static_cast<int64_t>(jpeg.size()) - 2 &&
         jpeg::read_be16(jpeg.data() + start) == jpeg::marker_word(jpeg::kSOI);
}

std::optional<Input> take_input(std::span<const uint8_t> jpeg) {
  const auto header = read_jpeg_header(jpeg);
  if (!header) return std::nullopt;
  const int64_t end = first_image_end(jpeg);
  Input input{jpeg.first(static_cast<size_t>(end)), *header, {}};
  const auto size = static_cast<int64_t>(jpeg.size());
  if (end == size) return input;
  input.dropped.bytes = size - end;
  if (const auto index = read_mp_index(jpeg))
    for (size_t i = 1; i < index->entries.size(); ++i)
      if (holds_image_at(jpeg, index->entries[i].start, end)) ++input.dropped.images;
  return input;
}

// The first image with the MP index; returns where the index's TIFF header stands.
int64_t append_first(Bytes& out, const Input& left) {
  const Bytes mpf = mpf_segment(1);
  out.insert(out.end(), left.image.begin(), left.image.begin() + 2);
  if (!left.header.exif) {
    out.insert(out.end(), mpf.begin(), mpf.end());
    append_rest(out, left.image, -1, -1, {});
    return 2 + kSegmentHeader;
  }
  return append_rest(out, left.image, -1, left.header.exif->offset, mpf) + kSegmentHeader;
}

void append_second(Bytes& out, const Input& right) {
  const std::span<const uint8_t> jpeg = right.image;
  out.insert(out.end(), jpeg.begin(), jpeg.begin() + 2);
  const auto& exif = right.header.exif;
  if (exif) {
    out.insert(out.end(), jpeg.begin() + exif->offset, jpeg.begin() + exif->end);
  } else {
    const Bytes minimal = minimal_exif_segment();
    out.insert(out.end(), minimal.begin(), minimal.end());
  }
  const Bytes mpf = mpf_segment(2);
  out.insert(out.end(), mpf.begin(), mpf.end());
  append_rest(out, jpeg, exif ? exif->offset : -1, -1, {});
}

JoinRefusal write_mpo(JoinResult& result, const Input& left, const Input& right) {
  Bytes& out = result.bytes;
  out.reserve(left.image.size() + right.image.size() + 256);
  const int64_t header = append_first(out, left);
  const auto first_size = static_cast<int64_t>(out.size());
  append_second(out, right);
  const int64_t second_size = static_cast<int64_t>(out.size()) - first_size;
  constexpr int64_t kMax = std::numeric_limits<uint32_t>::max();
  if (first_size > kMax || second_size > kMax) return JoinRefusal::too_large;
  const int64_t entries = header + kEntriesAt;
  patch32(out, entries, kFirstAttribute);
  patch32(out, entries + 4, static_cast<uint32_t>(first_size));
  patch32(out, entries + kMpEntrySize, kSecondAttribute);
  patch32(out, entries + kMpEntrySize + 4, static_cast<uint32_t>(second_size));
  patch32(out, entries + kMpEntrySize + 8, static_cast<uint32_t>(first_size - header));
  result.second_start = first_size;
  result.found_by_byte_search = find_separator(out.data(), static_cast<int64_t>(out.size())) == first_size;
  return JoinRefusal::none;
}

}  // namespace

bool may_be_join_input(std::span<const uint8_t> head) { return may_begin_jpeg(head); }

JoinResult join_mpo(std::span<const uint8_t> left, std::span<const uint8_t> right) {
  JoinResult result;
  const auto first = take_input(left);
  const auto second = take_input(right);
  if (!first || !second) {
    result.refusal = first ? JoinRefusal::right_not_jpeg : JoinRefusal::left_not_jpeg;
    return result;
  }
  result.left_dropped = first->dropped;
  result.right_dropped = second->dropped;
  try {
    result.refusal = write_mpo(result, *first, *second);
  } catch (const std::bad_alloc&) {
    result.refusal = JoinRefusal::no_memory;
  }
  if (result.refusal != JoinRefusal::none) result.bytes = Bytes();
  return result;
}

}  // namespace mpo
