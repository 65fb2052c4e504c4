// Arbitrary bytes as one half of an MPO: the frame header that the entry's
// memory budget reads must be the one libjpeg will decode. Wherever libjpeg
// reads a header, the walk has found the same frame, so an entry can never
// take more memory than its budget was told.
#include <csetjmp>

#include "app/entry_budget.h"
#include "mpo/frame_header.h"
#include "fuzz_support.h"

namespace {

struct Header {
  bool read = false;
  long width = 0, height = 0;
  int components = 0;
  bool progressive = false;
};

struct Decoder {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  std::jmp_buf jump;
};

// The frame as libjpeg's own header reader sees it.
Header libjpeg_header(const uint8_t* data, size_t size) {
  Header h;
  Decoder d;
  d.cinfo.err = jpeg_std_error(&d.err);
  d.err.error_exit = [](j_common_ptr c) { std::longjmp(*static_cast<std::jmp_buf*>(c->client_data), 1); };
  d.err.output_message = [](j_common_ptr) {};
  d.cinfo.client_data = &d.jump;
  if (setjmp(d.jump) != 0) {
    jpeg_destroy_decompress(&d.cinfo);
    return h;
  }
  jpeg_create_decompress(&d.cinfo);
  jpeg_mem_src(&d.cinfo, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&d.cinfo, TRUE) == JPEG_HEADER_OK) {
    h.read = true;
    h.width = static_cast<long>(d.cinfo.image_width);
    h.height = static_cast<long>(d.cinfo.image_height);
    h.components = d.cinfo.num_components;
    h.progressive = d.cinfo.progressive_mode != 0;
  }
  jpeg_destroy_decompress(&d.cinfo);
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto frame = mpo::read_frame_header(data, static_cast<int64_t>(size));
  if (frame) {
    FUZZ_CHECK(frame->width >= 0 && frame->width <= 65535);
    FUZZ_CHECK(frame->height >= 0 && frame->height <= 65535);
    FUZZ_CHECK(frame->coefficient_bytes >= 0);
  }
  const Header h = libjpeg_header(data, size);
  if (h.read) {
    FUZZ_CHECK(frame.has_value());
    FUZZ_CHECK(frame->width == h.width && frame->height == h.height);
    FUZZ_CHECK(frame->components == h.components && frame->progressive == h.progressive);
    // Every coefficient a progressive decode keeps is counted.
    if (h.progressive) FUZZ_CHECK(frame->coefficient_bytes >= 128 * ((h.width + 7) / 8) * ((h.height + 7) / 8));
  }
  // The whole entry: a sum of sizes that never overflows.
  const mpo::OptionFlags all{1, 1, 1, 1};
  FUZZ_CHECK(mpo::entry_memory(static_cast<int64_t>(size), frame, frame, all) >= 0);
  return 0;
}
