#include "tools/mpogen/jpeg_stream.h"

#include <csetjmp>
#include <cstdlib>
#include <memory>

namespace mpogen {

namespace {

// State of one compression; lives outside the function that calls setjmp,
// so nothing it holds is indeterminate after a jump back.
struct Encoder {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  std::jmp_buf jump;
  unsigned char* buffer = nullptr;  // malloc'ed by the memory destination
  unsigned long size = 0;
};

[[noreturn]] void jump_back(j_common_ptr cinfo) {
  // The compress object's client_data points to its Encoder.
  std::longjmp(static_cast<Encoder*>(cinfo->client_data)->jump, 1);
}

void no_output(j_common_ptr) {}

bool run_encoder(Encoder* e, const JpegSettings& s, const uint8_t* samples) {
  e->cinfo.err = jpeg_std_error(&e->err);
  e->err.error_exit = jump_back;
  e->err.output_message = no_output;
  e->cinfo.client_data = e;
  if (setjmp(e->jump)) {
    jpeg_destroy_compress(&e->cinfo);
    return false;
  }
  jpeg_create_compress(&e->cinfo);
  jpeg_mem_dest(&e->cinfo, &e->buffer, &e->size);
  jpeg_compress_struct& c = e->cinfo;
  c.image_width = JDIMENSION(s.width);
  c.image_height = JDIMENSION(s.height);
  c.input_components = s.components;
  c.in_color_space = s.in_space;
  jpeg_set_defaults(&c);
  if (s.jpeg_space != JCS_UNKNOWN) jpeg_set_colorspace(&c, s.jpeg_space);
  jpeg_set_quality(&c, s.quality, s.force_baseline ? TRUE : FALSE);
  if (s.progressive) jpeg_simple_progression(&c);
  c.arith_code = s.arithmetic ? TRUE : FALSE;
  c.restart_in_rows = s.restart_rows;
  if (s.full_chroma) {
    for (int i = 0; i < c.num_components; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
  }
  if (s.jfif >= 0) c.write_JFIF_header = s.jfif != 0 ? TRUE : FALSE;
  jpeg_start_compress(&c, TRUE);
  for (const JpegMarker& m : s.markers)
    jpeg_write_marker(&c, m.code, m.payload->data(), unsigned(m.payload->size()));
  const size_t row_bytes = size_t(s.width) * size_t(s.components);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(samples + size_t(c.next_scanline) * row_bytes);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  return true;
}

}  // namespace

Bytes encode_jpeg(const JpegSettings& settings, const uint8_t* samples) {
  auto e = std::make_unique<Encoder>();
  const bool ok = samples != nullptr && run_encoder(e.get(), settings, samples);
  std::unique_ptr<unsigned char, decltype(&std::free)> owned(e->buffer, &std::free);
  if (!ok || owned == nullptr) return {};
  return Bytes(owned.get(), owned.get() + e->size);
}

Bytes ramp_samples(int width, int height, int components, int a, int b) {
  const size_t row_bytes = size_t(width) * size_t(components);
  Bytes samples(row_bytes * size_t(height));
  for (size_t y = 0; y < size_t(height); ++y)
    for (size_t i = 0; i < row_bytes; ++i)
      samples[y * row_bytes + i] = uint8_t((i * size_t(a) + y * size_t(b)) & 0xFF);
  return samples;
}

}  // namespace mpogen
