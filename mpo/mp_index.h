// The multi-picture index of an MPO: the APP2 "MPF" segment in the first
// image's header that lists where each image of the file starts and how long
// it is. Pure functions on the file's bytes; every offset and count is
// checked against the bytes present before it is used.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace mpo {

// MP entry attribute bits and types.
constexpr uint32_t kMpRepresentative = uint32_t{1} << 29;
constexpr uint32_t kMpTypeMask = 0x00FFFFFF;
constexpr uint32_t kMpTypeBaselinePrimary = 0x030000;
constexpr uint32_t kMpTypeLargeThumbnail = 0x010001;
constexpr uint32_t kMpTypeDisparity = 0x020002;
constexpr uint32_t kMpTypeMultiAngle = 0x020003;

// MP tags.
constexpr uint16_t kMpfVersionTag = 0xB000;
constexpr uint16_t kNumberOfImagesTag = 0xB001;
constexpr uint16_t kMpEntryTag = 0xB002;
constexpr uint16_t kMpIndividualNumTag = 0xB101;
constexpr uint16_t kBaseViewpointNumTag = 0xB204;

// Bytes of one MP entry.
constexpr int64_t kMpEntrySize = 16;

// Entries beyond this many are not looked at.
constexpr uint32_t kMaxMpEntries = 64;

struct MpEntry {
  uint32_t attribute = 0;
  uint32_t size = 0;
  // File offset of the image: the header position plus the stored offset,
  // 0 for a stored offset of 0. Not checked against the file.
  int64_t start = 0;
  uint16_t dependent[2] = {0, 0};
  uint32_t type() const { return attribute & kMpTypeMask; }
};

struct MpIndex {
  bool little_endian = false;
  int64_t header_offset = 0;  // file offset of the TIFF header (II or MM)
  uint32_t image_count = 0;   // NumberOfImages as stored
  // The stored entries, at most image_count and kMaxMpEntries of them.
  std::vector<MpEntry> entries;
};

// The MP index of the first image, or nullopt when it has none or its
// segment, header or index IFD is damaged.
std::optional<MpIndex> read_mp_index(std::span<const uint8_t> file);

// Offset S of the second image of a stereo pair: only when the index lists
// at least two images, the first two both disparity or multi-angle images,
// the second starting with FF D8 inside the file, neither image running past
// the end of the file and the first ending at or before S.
std::optional<int64_t> stereo_second_image_offset(std::span<const uint8_t> file);

}  // namespace mpo
