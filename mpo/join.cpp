#include "mpo/join.h"

#include <cstring>
#include <limits>
#include <optional>

#include "mpo/mp_index.h"
#include "image/jpeg_markers.h"

namespace mpo {

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kTypeLong = 4;
constexpr uint16_t kTypeUndefined = 7;
constexpr int64_t kSegmentHeader = 8;   // FF E2, length, "MPF" 00: the TIFF header follows
constexpr int64_t kEntriesAt = 50;      // TIFF offsets of the first image's MP structures
constexpr int64_t kAttributeIfdAt = 82;
constexpr uint32_t kFirstAttribute = kMpRepresentative | kMpTypeDisparity;  // format JPEG
constexpr uint32_t kSecondAttribute = kMpTypeDisparity;

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
  b.insert(b.end(), {'M', 'M', 0x00, 0x2A});
  put32(b, 8);
}

// MPFVersion "0100" as its 4-byte value.
constexpr uint32_t kVersion0100 = 0x30313030;

void put_attribute_ifd(Bytes& b, uint32_t individual_number) {
  put16(b, 3);
  put_entry(b, kMpfVersionTag, kTypeUndefined, 4, kVersion0100);
  put_entry(b, kMpIndividualNumTag, kTypeLong, 1, individual_number);
  put_entry(b, kBaseViewpointNumTag, kTypeLong, 1, 1);
  put32(b, 0);
}

// The APP2 "MPF" segment, marker included. The first image's holds the MP
// index (entries zero, filled in once the sizes are known) and its
// attributes; the second image's only its attributes.
Bytes mpf_segment(uint32_t individual_number) {
  Bytes b = {jpeg::kMarkerPrefix, jpeg::kAPP2, 0, 0, 'M', 'P', 'F', 0};
  put_tiff_header(b);
  if (individual_number == 1) {
    put16(b, 3);
    put_entry(b, kMpfVersionTag, kTypeUndefined, 4, kVersion0100);
    put_entry(b, kNumberOfImagesTag, kTypeLong, 1, 2);
    put_entry(b, kMpEntryTag, kTypeUndefined, 32, kEntriesAt);
    put32(b, kAttributeIfdAt);
    b.resize(b.size() + 32);
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

bool has_payload(std::span<const uint8_t> jpeg, const HeaderSegment& s, uint8_t code, const char* sig, size_t n) {
  return s.code == code && s.end - s.payload() >= static_cast<int64_t>(n) &&
         std::memcmp(jpeg.data() + s.payload(), sig, n) == 0;
}
bool is_exif(std::span<const uint8_t> jpeg, const HeaderSegment& s) {
  return has_payload(jpeg, s, jpeg::kAPP1, "Exif\0\0", 6);
}
bool is_mpf(std::span<const uint8_t> jpeg, const HeaderSegment& s) {
  return has_payload(jpeg, s, jpeg::kAPP2, "MPF\0", 4);
}

// The first Exif APP1 segment of a JPEG whose header walks from SOI to SOS
// (exif.end == 0 when it has none); nullopt for anything else.
std::optional<HeaderSegment> exif_of_walkable(std::span<const uint8_t> jpeg) {
  if (jpeg.size() < 4 || jpeg[0] != jpeg::kMarkerPrefix || jpeg[1] != jpeg::kSOI || jpeg[2] != jpeg::kMarkerPrefix)
    return std::nullopt;
  HeaderSegment exif;
  int64_t pos = 2;
  while (const auto segment = next_segment(jpeg, pos)) {
    if (segment->code == jpeg::kSOS) return exif;
    if (exif.end == 0 && is_exif(jpeg, *segment)) exif = *segment;
    pos = segment->end;
  }
  return std::nullopt;
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
    if (segment->offset != skip && !is_mpf(jpeg, *segment))
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

}  // namespace

Text join_refusal_text(JoinRefusal refusal) {
  switch (refusal) {
    case JoinRefusal::none: return u"";
    case JoinRefusal::left_not_jpeg:
    case JoinRefusal::right_not_jpeg: return u"ist keine JPEG-Datei";
    case JoinRefusal::too_large: return u"Bilder zu gro\u00df f\u00fcr eine MPO-Datei";
  }
  return u"";
}

JoinResult join_mpo(std::span<const uint8_t> left, std::span<const uint8_t> right) {
  JoinResult result;
  const auto left_exif = exif_of_walkable(left);
  const auto right_exif = exif_of_walkable(right);
  if (!left_exif || !right_exif) {
    result.refusal = left_exif ? JoinRefusal::right_not_jpeg : JoinRefusal::left_not_jpeg;
    return result;
  }
  Bytes& out = result.bytes;
  out.reserve(left.size() + right.size() + 256);
  const Bytes first_mpf = mpf_segment(1);
  out.insert(out.end(), left.begin(), left.begin() + 2);
  int64_t mpf_at = 2;
  if (left_exif->end == 0) {
    out.insert(out.end(), first_mpf.begin(), first_mpf.end());
    append_rest(out, left, -1, -1, {});
  } else {
    mpf_at = append_rest(out, left, -1, left_exif->offset, first_mpf);
  }
  const auto first_size = static_cast<int64_t>(out.size());

  out.insert(out.end(), right.begin(), right.begin() + 2);
  if (right_exif->end == 0) {
    const Bytes exif = minimal_exif_segment();
    out.insert(out.end(), exif.begin(), exif.end());
  } else {
    out.insert(out.end(), right.begin() + right_exif->offset, right.begin() + right_exif->end);
  }
  const Bytes second_mpf = mpf_segment(2);
  out.insert(out.end(), second_mpf.begin(), second_mpf.end());
  append_rest(out, right, right_exif->end == 0 ? -1 : right_exif->offset, -1, {});
  const int64_t second_size = static_cast<int64_t>(out.size()) - first_size;

  constexpr int64_t kMax = std::numeric_limits<uint32_t>::max();
  if (first_size > kMax || second_size > kMax) return JoinResult{JoinRefusal::too_large, {}};
  const int64_t header = mpf_at + kSegmentHeader;
  const int64_t entries = header + kEntriesAt;
  patch32(out, entries, kFirstAttribute);
  patch32(out, entries + 4, static_cast<uint32_t>(first_size));
  patch32(out, entries + 16, kSecondAttribute);
  patch32(out, entries + 20, static_cast<uint32_t>(second_size));
  patch32(out, entries + 24, static_cast<uint32_t>(first_size - header));
  return result;
}

}  // namespace mpo
