// The metadata segments of a generated half: a little-endian Exif APP1
// segment laid out as cameras write it (IFD0 first, the Software value right
// behind IFD0, then an Exif sub-IFD with a MakerNote) and a small MPF APP2
// index.
#include <algorithm>
#include <string>

#include "tools/mpogen/detail.h"

namespace mpogen::detail {
namespace {

enum Type : uint16_t { kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kUndefined = 7 };

// A TIFF structure under construction, little- or big-endian.
class Tiff {
 public:
  explicit Tiff(bool little) : little_(little) {}
  Bytes& bytes() { return b_; }
  size_t size() const { return b_.size(); }
  // Appends n zero bytes at the next even offset; returns that offset.
  size_t reserve(size_t n) {
    if (b_.size() & 1) b_.push_back(0);
    size_t at = b_.size();
    b_.resize(at + n);
    return at;
  }
  size_t append(const Bytes& data) {
    size_t at = reserve(data.size());
    std::copy(data.begin(), data.end(), b_.begin() + at);
    return at;
  }
  void put16(size_t at, uint32_t v) { put(at, v, 2); }
  void put32(size_t at, uint32_t v) { put(at, v, 4); }
  Bytes u16(uint32_t v) const { Bytes b(2); put_to(b, 0, v, 2); return b; }
  Bytes u32(uint32_t v) const { Bytes b(4); put_to(b, 0, v, 4); return b; }
  Bytes rational(uint32_t num, uint32_t den) const {
    Bytes b(8);
    put_to(b, 0, num, 4);
    put_to(b, 4, den, 4);
    return b;
  }

 private:
  void put(size_t at, uint32_t v, int n) { put_to(b_, at, v, n); }
  void put_to(Bytes& b, size_t at, uint32_t v, int n) const {
    for (int i = 0; i < n; ++i) b[at + i] = uint8_t(v >> (8 * (little_ ? i : n - 1 - i)));
  }
  bool little_;
  Bytes b_;
};

struct Field {
  uint16_t tag;
  uint16_t type;
  uint32_t count;
  Bytes value;             // exactly count * type size bytes
  size_t stored_at = 0;    // nonzero: value already placed at this offset
};

Bytes ascii(const std::string& s, size_t min_count = 0) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  if (b.size() < min_count) b.resize(min_count, 0);
  return b;
}

constexpr size_t ifd_size(size_t n) { return 2 + 12 * n + 4; }

// Writes the IFD of `fields` (sorted by tag) at `at`, which has room for it;
// values longer than four bytes that are not placed yet are appended.
void write_ifd(Tiff& t, size_t at, std::vector<Field>& fields, uint32_t next) {
  t.put16(at, uint32_t(fields.size()));
  for (size_t i = 0; i < fields.size(); ++i) {
    Field& f = fields[i];
    size_t e = at + 2 + 12 * i;
    t.put16(e, f.tag);
    t.put16(e + 2, f.type);
    t.put32(e + 4, f.count);
    if (f.stored_at != 0) {
      t.put32(e + 8, uint32_t(f.stored_at));
    } else if (f.value.size() <= 4) {
      std::copy(f.value.begin(), f.value.end(), t.bytes().begin() + e + 8);
    } else {
      f.stored_at = t.append(f.value);
      t.put32(e + 8, uint32_t(f.stored_at));
    }
  }
  t.put32(at + 2 + 12 * fields.size(), next);
}

constexpr uint16_t kSoftwareTag = 0x0131;
constexpr size_t kTiffStart = 8;  // segment position of the TIFF header
// The window in which consumers look for the bytes 31 01 of the Software tag.
constexpr size_t kTagWindow = 513;

// Whether the bytes 31 01 occur in the scan window anywhere else than at the
// Software entry.
bool stray_tag_bytes(const Bytes& seg, size_t software_entry) {
  for (size_t i = 0; i < kTagWindow && i + 1 < seg.size(); ++i)
    if (seg[i] == 0x31 && seg[i + 1] == 0x01 && i != software_entry) return true;
  return false;
}

// Pseudo-random maker-note bytes that never hold the Software tag's 0x31.
Bytes maker_note_bytes(const Options& o) {
  Bytes maker_note(o.maker_note_bytes);
  uint32_t h = o.seed * 2654435761u + 0x5bd1e995u;
  for (uint8_t& b : maker_note) {
    h ^= h << 13;
    h ^= h >> 17;
    h ^= h << 5;
    b = uint8_t(h >> 24);
    if (b == 0x31) b = 0x30;  // keep the Software tag bytes unique
  }
  return maker_note;
}

// The Exif sub-IFD's entries: exposure, dates, maker note, picture size.
std::vector<Field> exif_fields(const Tiff& t, const Options& o, int width, int height) {
  const Bytes maker_note = maker_note_bytes(o);
  std::vector<Field> exif = {
      {0x829A, kRational, 1, t.rational(1, 250)},
      {0x829D, kRational, 1, t.rational(37, 10)},
      {0x8827, kShort, 1, t.u16(100)},
      {0x9000, kUndefined, 4, Bytes{'0', '2', '3', '0'}},
      {0x9003, kAscii, 0, ascii(o.date_time)},
      {0x9004, kAscii, 0, ascii(o.date_time)},
      {0x927C, kUndefined, uint32_t(maker_note.size()), maker_note},
      {0xA000, kUndefined, 4, Bytes{'0', '1', '0', '0'}},
      {0xA001, kShort, 1, t.u16(1)},
      {0xA002, kLong, 1, t.u32(uint32_t(width))},
      {0xA003, kLong, 1, t.u32(uint32_t(height))},
  };
  if (maker_note.empty()) exif.erase(exif.begin() + 6);
  for (Field& f : exif)
    if (f.type == kAscii) f.count = uint32_t(f.value.size());
  return exif;
}

ExifInfo build_exif_padded(const Options& o, int width, int height, size_t pad) {
  Tiff t(true);
  t.reserve(8);
  t.bytes()[0] = 'I';
  t.bytes()[1] = 'I';
  t.put16(2, 42);
  t.put32(4, 8);

  const uint32_t sw_count = std::max<uint32_t>({uint32_t(o.software.size() + 1), o.software_field_size, 5u});
  std::vector<Field> ifd0 = {
      {0x010F, kAscii, 0, ascii(o.make)},
      {0x0110, kAscii, 0, ascii(o.model)},
      {0x0112, kShort, 1, t.u16(1)},
      {0x011A, kRational, 1, t.rational(72, 1)},
      {0x011B, kRational, 1, t.rational(72, 1)},
      {0x0128, kShort, 1, t.u16(2)},
      {kSoftwareTag, kAscii, sw_count, ascii(o.software, sw_count)},
      {0x0132, kAscii, 0, ascii(o.date_time)},
      {0x0213, kShort, 1, t.u16(2)},
      {0x8769, kLong, 1, t.u32(0)},
  };
  for (Field& f : ifd0)
    if (f.type == kAscii) f.count = uint32_t(f.value.size());
  const size_t ifd0_at = t.reserve(ifd_size(ifd0.size()));
  // The Software value comes first behind IFD0, as cameras place it, so its
  // offset stays far below 256 whatever the other texts are.
  Field& software = ifd0[6];
  software.stored_at = t.append(software.value);
  t.reserve(pad);

  std::vector<Field> exif = exif_fields(t, o, width, height);

  // IFD0's own values, then the Exif sub-IFD and its values.
  write_ifd(t, ifd0_at, ifd0, 0);
  const size_t exif_at = t.reserve(ifd_size(exif.size()));
  t.put32(ifd0_at + 2 + 12 * 9 + 8, uint32_t(exif_at));
  write_ifd(t, exif_at, exif, 0);

  ExifInfo info;
  const size_t length = 2 + 6 + t.size();
  if (length > 0xFFFF) return info;
  info.segment = {uint8_t(length >> 8), uint8_t(length), 'E', 'x', 'i', 'f', 0, 0};
  info.segment.insert(info.segment.end(), t.bytes().begin(), t.bytes().end());
  info.software_value_offset = software.stored_at;
  info.software_count = sw_count;
  return info;
}

}  // namespace

ExifInfo build_exif(const Options& o, int width, int height) {
  // Software entry: the seventh of IFD0.
  const size_t software_entry = kTiffStart + 8 + 2 + 12 * 6;
  // An offset, count or value that happens to read 31 01 would look like a
  // second Software tag to a byte scan. Shift the later values a little until
  // none does; failing that (a value such as an image width of 305), move
  // everything behind the Software value out of the scan window.
  for (size_t pad = 0; pad <= 64; pad += 2) {
    ExifInfo info = build_exif_padded(o, width, height, pad);
    if (info.segment.empty() || !stray_tag_bytes(info.segment, software_entry)) return info;
  }
  return build_exif_padded(o, width, height, kTagWindow + 1);
}

Bytes build_mpf(Variant variant) {
  // "MPF" 00, a big-endian TIFF header, the MP index IFD (version, number of
  // images, MP entries) and two 16-byte MP entries.
  Tiff t(false);
  t.reserve(8);
  t.bytes()[0] = 'M';
  t.bytes()[1] = 'M';
  t.put16(2, 42);
  t.put32(4, 8);
  std::vector<Field> index = {
      {0xB000, kUndefined, 4, Bytes{'0', '1', '0', '0'}},
      {0xB001, kLong, 1, t.u32(2)},
      {0xB002, kUndefined, 32, Bytes(32)},
  };
  const size_t at = t.reserve(ifd_size(index.size()));
  write_ifd(t, at, index, 0);
  const size_t entries = index[2].stored_at;
  if (variant == Variant::gain_map) {
    t.put32(entries, 0x20030000);  // representative image, baseline primary type
  } else {
    t.put32(entries, 0x20020002);       // representative image, disparity type
    t.put32(entries + 16, 0x00020002);  // disparity type
  }
  Bytes out{'M', 'P', 'F', 0};
  out.insert(out.end(), t.bytes().begin(), t.bytes().end());
  return out;
}

Bytes build_xmp(bool gain_map) {
  const std::string ns = "http://ns.adobe.com/xap/1.0/";
  const std::string description =
      gain_map ? "<rdf:Description xmlns:hdrgm=\"http://ns.adobe.com/hdr-gain-map/1.0/\" hdrgm:Version=\"1.0\"/>"
               : "<rdf:Description xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"0\"/>";
  const std::string packet = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
                             "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">" +
                             description + "</rdf:RDF></x:xmpmeta>";
  Bytes out(ns.begin(), ns.end());
  out.push_back(0);
  out.insert(out.end(), packet.begin(), packet.end());
  return out;
}

size_t find_segment(const Bytes& b, size_t begin, uint8_t code) {
  if (begin + 2 > b.size() || b[begin] != 0xFF || b[begin + 1] != 0xD8) return std::string::npos;
  size_t pos = begin + 2;
  while (pos + 4 <= b.size() && b[pos] == 0xFF) {
    const uint8_t marker = b[pos + 1];
    if (marker == code) return pos;
    if (marker == 0xDA) break;
    pos += 2 + ((size_t(b[pos + 2]) << 8) | b[pos + 3]);
  }
  return std::string::npos;
}

void patch_mpf(Bytes& mpo, size_t separator) {
  const size_t app2 = find_segment(mpo, 0, 0xE2);
  if (app2 == std::string::npos || app2 + 8 > separator || mpo[app2 + 4] != 'M' || mpo[app2 + 5] != 'P' ||
      mpo[app2 + 6] != 'F' || mpo[app2 + 7] != 0)
    return;
  // MP offsets count from the MP header's byte-order mark.
  const size_t tiff = app2 + 8;
  const size_t entries = tiff + 8 + ifd_size(3);
  if (entries + 32 > mpo.size()) return;
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) mpo[at + i] = uint8_t(v >> (24 - 8 * i));
  };
  const bool second = separator < mpo.size();
  put32(entries + 4, uint32_t(separator));
  put32(entries + 8, 0);
  put32(entries + 16 + 4, second ? uint32_t(mpo.size() - separator) : 0);
  put32(entries + 16 + 8, second ? uint32_t(separator - tiff) : 0);
}

}  // namespace mpogen::detail
