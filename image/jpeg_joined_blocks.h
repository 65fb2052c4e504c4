// The coefficient blocks of a picture joined side by side from two halves,
// in one piece of memory that the codecs share: the halves' decompressors
// decode straight into their part of each block row and the compressor
// encodes from the whole, so no block is copied and no second set of
// arrays is needed.
//
// libjpeg asks its memory manager for the arrays of a picture's blocks
// (request_virt_barray) and for rows of them (access_virt_barray). attach_*
// replaces these methods of a codec object's memory manager with ones that
// serve this memory, and points the object's client_data at it. A request
// that does not fit the expected layout ends in libjpeg's error exit
// (JERR_BAD_VIRTUAL_ACCESS).
#pragma once

#include <cstdio>
#include <memory>
#include <vector>

#include <jpeglib.h>

namespace mpo::jpeg {

class JoinedBlocks {
 public:
  // One component's blocks: whole MCUs in both directions.
  struct Component {
    JBLOCKROW first;          // block row 0, column 0
    JDIMENSION stride;        // blocks per row, whole MCUs
    JDIMENSION rows;          // block rows, whole MCU rows
    JDIMENSION left_columns;  // the right half's blocks start here
    JDIMENSION columns;       // real blocks per row of the joined picture
    JDIMENSION real_rows;     // real block rows
  };

  JoinedBlocks();
  ~JoinedBlocks();
  JoinedBlocks(const JoinedBlocks&) = delete;
  JoinedBlocks& operator=(const JoinedBlocks&) = delete;

  // Zeroed memory for the blocks of the two halves, whose headers are
  // read and agree in height and sampling, the left width being whole
  // MCUs. False when the memory cannot be had.
  bool allocate(const jpeg_decompress_struct& left, const jpeg_decompress_struct& right);

  // Lets a half's decompressor put its blocks here; before
  // jpeg_read_coefficients.
  void attach_left(j_decompress_ptr left);
  void attach_right(j_decompress_ptr right);
  // Lets the compressor read the joined blocks; the result is the array
  // list for jpeg_write_coefficients.
  jvirt_barray_ptr* attach_output(j_compress_ptr out);

  int components() const { return static_cast<int>(components_.size()); }
  const Component& component(int ci) const { return components_[static_cast<size_t>(ci)]; }

  struct View;  // one codec's window on the blocks

 private:
  struct Memory;
  std::unique_ptr<Memory> memory_;
  std::vector<Component> components_;
  std::unique_ptr<View> left_, right_, output_;
};

}  // namespace mpo::jpeg
