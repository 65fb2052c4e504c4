// Rewriting the Software field of an Exif segment in place.
#pragma once

#include <cstdint>
#include <span>

namespace mpo {

// Where the TIFF header stands in an Exif APP1 segment without its marker:
// behind the length field and "Exif" 00 00.
constexpr int64_t kExifTiffStart = 8;
constexpr uint16_t kSoftwareTag = 0x0131;

// Writes `software` (one byte per character, cut or padded with blanks to
// the value's length) over the value of the Software entry (type ASCII) of
// IFD0 of the segment's little-endian TIFF structure, keeping the value's
// terminating zero. `segment` is an APP1 segment without its marker: the
// length field, "Exif" 00 00 and the TIFF structure. Only whole entries and
// values inside the segment are read and written. False when there is no
// such entry or its value does not lie inside the segment.
bool rewrite_exif_software(std::span<uint8_t> segment, std::span<const uint8_t> software);

}  // namespace mpo
