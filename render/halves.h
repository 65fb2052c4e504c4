// The decoded halves of one entry and the working memory of the pixel
// passes that read them.
#pragma once

#include <cstdint>
#include <memory>

#include "image/image_service.h"

namespace mpo {

// The decoded halves of one entry: W x H from the left half, one colour
// value per pixel, element (x, y) of each grid with y = 0 the top row.
// The grids are filled by the drawing step (fill_and_draw), from the
// pictures in slots 3 and 4 (which stay there until the entry ends).
struct Halves {
  PixelGrid left;
  PixelGrid right;
  PixelView left_picture;
  PixelView right_picture;
  // Working rows of the pixel passes (band_bytes(width) bytes).
  std::unique_ptr<uint8_t[]> band_rows;
  int64_t band_size = 0;
  int64_t width = 0;
  int64_t height = 0;
  // The size the halves were decoded at. Corrected halves are cut from it,
  // so a canvas made for this size has room for every entry of a camera.
  int64_t room_width = 0;
  int64_t room_height = 0;
  // Both halves decoded and both grids allocated. A half that cannot be
  // loaded never lends its slot's earlier contents to the entry.
  bool usable = false;
};

}  // namespace mpo
