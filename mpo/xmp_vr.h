// The XMP of a VR photo for phone headsets: the panorama fields that place
// the left view in an equirectangular panorama, and the right view's JPEG
// carried in base64, as the APP1 segments of a JPEG. What does not fit
// into the standard packet's one segment goes into Extended XMP segments,
// each naming the MD5 of the whole extended packet.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace mpo {

// The horizontal field of view assumed when none is given, in degrees.
constexpr int kDefaultFieldOfView = 60;

// Where a W x H picture lies in the panorama (all in pixels).
struct PanoramaCrop {
  int64_t full_width = 0;
  int64_t full_height = 0;
  int64_t left = 0;
  int64_t top = 0;
  int64_t width = 0;
  int64_t height = 0;
};

// For a horizontal field of view of `fov` degrees (1..360): full width
// 2 round(180 W / fov), full height half of it, the picture centred
// (offsets rounded down). A picture too tall for that panorama's height
// widens it until it fits (its field of view then being smaller).
PanoramaCrop panorama_crop(int64_t W, int64_t H, int fov);

// The header that opens the standard packet's APP1 payload, and that of
// the Extended XMP segments (each ending in a zero byte).
inline constexpr char kXmpHeader[] = "http://ns.adobe.com/xap/1.0/";
inline constexpr char kExtendedXmpHeader[] = "http://ns.adobe.com/xmp/extension/";

// The largest extended packet part one segment carries: a segment's 65533
// payload bytes less the header, the 32-digit MD5, the full length and
// the offset.
constexpr int64_t kExtendedChunk = 65533 - 35 - 32 - 4 - 4;

// The 32 upper-case hex digits of the MD5 of `bytes`.
std::string md5_hex(std::span<const uint8_t> bytes);

// Appends every APP1 segment (marker, length field, payload) of the VR
// photo's XMP to `out`: the standard packet with the panorama fields and
// the image's MIME type, naming the extended packet's MD5, then the
// extended packet with `right_jpeg` in base64, in order. False (with `out`
// left incomplete) when the extended packet would exceed 4 GiB or
// memory runs out.
bool put_vr_xmp_segments(const PanoramaCrop& crop, std::span<const uint8_t> right_jpeg,
                         std::vector<uint8_t>& out);

}  // namespace mpo
