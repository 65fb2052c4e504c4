// The VR photo for phone headsets: the left view's JPEG bytes as they are,
// with the XMP of xmp_vr.h in its header, right behind its Exif segment.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace mpo {

enum class VrRefusal {
  none,
  left_unreadable,   // the left view's header cannot be walked
  right_unreadable,  // the right view has no frame header
  no_memory,
};

struct VrPhoto {
  VrRefusal refusal = VrRefusal::none;
  std::vector<uint8_t> jpeg;
};

// The left view's segments up to the first scan, copied in order, with the
// XMP segments inserted after the leading JFIF and Exif segments; the MP
// index (APP2 "MPF") and any XMP of the view's own are left out, as they
// would describe a file that this one is not. From the first scan on, the
// bytes are copied unchanged. `fov`: the horizontal field of view in
// degrees (1..360).
VrPhoto make_vr_photo(std::span<const uint8_t> left, std::span<const uint8_t> right, int fov);

}  // namespace mpo
