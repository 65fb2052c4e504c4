// Reading a TIFF structure held in memory (the Exif data, the MP index): its
// byte order, 16- and 32-bit values and IFD entries. Every read is checked
// against the bytes present; one that would not lie wholly inside them
// yields nullopt.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace mpo {

// Offsets in a TIFF structure count from its header.
constexpr int64_t kTiffHeaderSize = 8;
constexpr int64_t kIfdEntrySize = 12;
constexpr uint16_t kTiffMagic = 42;
// Entry types.
constexpr uint16_t kTiffAscii = 2;
constexpr uint16_t kTiffLong = 4;
constexpr uint16_t kTiffUndefined = 7;

// One IFD entry as it stands.
struct IfdEntry {
  int64_t at = 0;  // where the entry stands
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  uint32_t value = 0;  // the value field: the value itself, or its offset
  // Where a value of `bytes` bytes stands: in the entry itself when it
  // fits in four bytes, else at the offset the value field holds.
  int64_t value_at(int64_t bytes) const { return bytes <= 4 ? at + 8 : int64_t{value}; }
};

class TiffReader {
 public:
  TiffReader(std::span<const uint8_t> bytes, bool little) : bytes_(bytes), little_(little) {}

  // The reader of the structure that starts with `bytes`: "II" or "MM",
  // then 42 in that byte order. nullopt for anything else.
  static std::optional<TiffReader> open(std::span<const uint8_t> bytes);

  bool little_endian() const { return little_; }
  int64_t size() const { return static_cast<int64_t>(bytes_.size()); }
  bool contains(int64_t at, int64_t count) const {
    return at >= 0 && count >= 0 && at <= size() && count <= size() - at;
  }
  std::optional<uint32_t> u16(int64_t at) const { return read(at, 2); }
  std::optional<uint32_t> u32(int64_t at) const { return read(at, 4); }

  // Where the first IFD stands, as the header says.
  std::optional<int64_t> first_ifd() const;
  // The number of entries of the IFD at `ifd`, and entry `k` of it (nullopt
  // when it does not lie wholly inside the bytes).
  std::optional<uint32_t> entry_count(int64_t ifd) const { return u16(ifd); }
  std::optional<IfdEntry> entry(int64_t ifd, int64_t k) const;

 private:
  std::optional<uint32_t> read(int64_t at, int n) const;

  std::span<const uint8_t> bytes_;
  bool little_;
};

}  // namespace mpo
