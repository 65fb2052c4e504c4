// A libjpeg destination that writes into a byte vector, sized beforehand
// for the stream expected, so that a stream of megabytes is neither grown
// step by step nor copied out afterwards.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace mpo::jpeg {

class VectorDestination {
 public:
  VectorDestination() = default;
  VectorDestination(const VectorDestination&) = delete;
  VectorDestination& operator=(const VectorDestination&) = delete;

  // Becomes the compressor's destination; before jpeg_write_coefficients
  // or jpeg_start_compress. `expected` bytes are made ready at the start;
  // more are added by doubling. A failed allocation ends in libjpeg's
  // error exit (JERR_OUT_OF_MEMORY).
  void attach(j_compress_ptr out, size_t expected);
  // The stream, after jpeg_finish_compress.
  std::vector<uint8_t> take() { return std::move(bytes_); }

 private:
  struct Sink {
    jpeg_destination_mgr manager;  // first: libjpeg hands back its address
    VectorDestination* owner;
  };
  static void start(j_compress_ptr out);
  static boolean grow(j_compress_ptr out);
  static void finish(j_compress_ptr out);
  static VectorDestination& owner_of(j_compress_ptr out);

  Sink sink_{};
  size_t expected_ = 0;
  std::vector<uint8_t> bytes_;
};

}  // namespace mpo::jpeg
