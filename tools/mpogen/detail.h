// Internals of the generator shared between its source files.
#pragma once

#include "tools/mpogen/mpogen.h"

namespace mpogen::detail {

// Pixel size of one half: the unequal_halves variant shrinks the right view.
struct HalfSize {
  int width, height, disparity;
};
HalfSize half_size(const Options& options, int eye);

// Whether the half starts with a JFIF APP0 segment in front of its Exif APP1.
bool half_has_jfif(const Options& options, int eye);
// Whether the half carries an Exif APP1 segment.
bool half_has_exif(const Options& options, int eye);
// The payload of the XMP APP1 segment that comes first in the half, from the
// namespace text on; empty when the half has none.
Bytes half_xmp(const Options& options, int eye);

// The Exif APP1 segment of a width x height half, from its length field on
// (the segment as a consumer copies it); empty when it would not fit into a
// JPEG segment.
ExifInfo build_exif(const Options& options, int width, int height);

// The payload of the MPF APP2 segment (from "MPF" 00 on) with zeros for the
// image sizes and offsets, which patch_mpf fills in. Two disparity images;
// in the gain_map variant a baseline primary image and an undefined one.
Bytes build_mpf(Variant variant);

// An XMP packet as APP1 payload; a gain map's names its gain map version.
Bytes build_xmp(bool gain_map);

// Fills in sizes and offsets of the two images in the MPF segment of the
// first image of `mpo` (first image = bytes [0, separator)). Does nothing
// when the first image carries no MPF segment.
void patch_mpf(Bytes& mpo, size_t separator);

// Offset of the marker FF `code` among the header segments of the JPEG that
// starts at `begin` (walking from SOI up to and including SOS), or npos.
size_t find_segment(const Bytes& bytes, size_t begin, uint8_t code);

}  // namespace mpogen::detail
