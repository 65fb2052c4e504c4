// Reading a JPEG header through a file slot.
#pragma once

#include <cstdint>

#include "image/jpeg_markers.h"
#include "io/files.h"

namespace mpo {

// The next two bytes of the slot's file as a big-endian 16-bit value: a
// marker word or a segment length.
inline int read_be16(FileService& files, int slot) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(files.read_byte(slot)),
                            static_cast<uint8_t>(files.read_byte(slot))};
  return jpeg::read_be16(bytes);
}

}  // namespace mpo
