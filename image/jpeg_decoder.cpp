// JPEG decoder: probe, decode and release over a whole file in memory.
//
// libjpeg reports errors by calling error_exit, which here jumps back into
// the adapter with longjmp. The frames it skips are libjpeg's own C frames,
// the error routine and the small helpers below; the functions that set the
// resumption point keep only plain data, and every libjpeg object lives in
// one plain heap record.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <new>

#include <jpeglib.h>

#include "image/jpeg_codec.h"
#include "image/jpeg_error.h"
#include "image/jpeg_markers.h"

namespace mpo {

namespace {

// Rows handed to libjpeg per call in the direct case.
constexpr JDIMENSION kRowsPerCall = 16;

struct DecoderState {
  jpeg_decompress_struct decompressor;
  jpeg::ErrorManager error;
  jpeg_progress_mgr progress;
  bool created;
  bool started;
  // Output is already B, G, R: rows are decoded straight into the buffer.
  bool direct;
  // One-row sample buffer for output that needs converting (CMYK).
  JSAMPARRAY samples;
};

// libjpeg calls this while it reads the scans; too many end the decode as
// an error would.
void limit_scans(j_common_ptr common) {
  if (reinterpret_cast<j_decompress_ptr>(common)->input_scan_number > jpeg::kMaxScans) jpeg::jump_back(common);
}

void destroy_state(void* raw) {
  auto* state = static_cast<DecoderState*>(raw);
  if (state == nullptr) return;
  if (state->created) jpeg_destroy_decompress(&state->decompressor);
  std::free(state);
}

// Refused here, before libjpeg allocates for it: a frame the image record
// cannot hold (a multi-scan stream would get its whole coefficient buffer,
// gigabytes for a crafted header of a few bytes). Whatever precision the
// installed libjpeg could handle, the buffer takes 8-bit samples only.
bool frame_supported(const jpeg_decompress_struct& cinfo) {
  if (cinfo.image_width > kMaxImageSide || cinfo.image_height > kMaxImageSide) return false;
  return cinfo.data_precision == 8;
}

// Sets the output colour space: B, G, R where libjpeg can deliver it,
// otherwise R, G, B or C, M, Y, K for converting. False for a stream of
// unknown colour space.
bool choose_output(DecoderState* state) {
  j_decompress_ptr cinfo = &state->decompressor;
  cinfo->dct_method = JDCT_ISLOW;
  switch (cinfo->jpeg_color_space) {
    case JCS_UNKNOWN:
      return false;
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
      cinfo->out_color_space = JCS_RGB;
      break;
    case JCS_YCCK:
      cinfo->out_color_space = JCS_CMYK;
      break;
    default:
      break;  // libjpeg's own choice: RGB for three components, CMYK for CMYK
  }
  if (cinfo->out_color_space != JCS_CMYK) {
    cinfo->out_color_space = JCS_RGB;
#ifdef JCS_EXTENSIONS
    // libjpeg-turbo converts into B, G, R with the same arithmetic as into
    // R, G, B, so the buffer rows can be its output rows.
    cinfo->out_color_space = JCS_EXT_BGR;
    state->direct = true;
#endif
  }
  return true;
}

// The one-row buffer from libjpeg's image pool, rounded up to 4 samples.
void allocate_sample_row(DecoderState* state) {
  j_decompress_ptr cinfo = &state->decompressor;
  const JDIMENSION samples = cinfo->output_width * static_cast<JDIMENSION>(cinfo->output_components);
  state->samples = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                               (samples + 3) & ~JDIMENSION{3}, 1);
}

// Reads the header and starts the decompressor; 0 when libjpeg fails or
// the stream is not one this decoder handles.
int start(DecoderState* state, const uint8_t* data, int32_t size) {
  j_decompress_ptr cinfo = &state->decompressor;
  cinfo->err = jpeg::attach_error_manager(state->error, jpeg::Messages::kNone);
  if (setjmp(state->error.resume) != 0) return 0;

  jpeg_create_decompress(cinfo);
  state->created = true;
  state->progress.progress_monitor = limit_scans;
  cinfo->progress = &state->progress;
  jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return 0;
  if (!frame_supported(*cinfo) || !choose_output(state)) return 0;
  jpeg_calc_output_dimensions(cinfo);
  if (!state->direct) allocate_sample_row(state);
  if (!jpeg_start_decompress(cinfo)) return 0;
  state->started = true;
  return 1;
}

uint8_t* row_address(uint8_t* destination, int32_t pitch, JDIMENSION height, JDIMENSION row,
                     bool bottom_up) {
  const JDIMENSION memory_row = bottom_up ? height - 1 - row : row;
  return destination + static_cast<ptrdiff_t>(memory_row) * pitch;
}

// C, M, Y, K samples as libjpeg delivers them (not inverted) to B, G, R.
void convert_cmyk(const JSAMPLE* in, uint8_t* out, JDIMENSION width) {
  for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 3) {
    const unsigned k = in[3];
    out[0] = static_cast<uint8_t>(in[2] * k / 255);
    out[1] = static_cast<uint8_t>(in[1] * k / 255);
    out[2] = static_cast<uint8_t>(in[0] * k / 255);
  }
}

void convert_rgb(const JSAMPLE* in, uint8_t* out, JDIMENSION width) {
  for (JDIMENSION x = 0; x < width; ++x, in += 3, out += 3) {
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
  }
}

// Up to kRowsPerCall rows decoded straight into their buffer rows; the
// number libjpeg delivered.
JDIMENSION read_direct(j_decompress_ptr cinfo, uint8_t* destination, int32_t pitch, bool bottom_up) {
  const JDIMENSION height = cinfo->output_height;
  const JDIMENSION first = cinfo->output_scanline;
  const JDIMENSION count = height - first < kRowsPerCall ? height - first : kRowsPerCall;
  JSAMPROW rows[kRowsPerCall];
  for (JDIMENSION k = 0; k < count; ++k)
    rows[k] = row_address(destination, pitch, height, first + k, bottom_up);
  return jpeg_read_scanlines(cinfo, rows, count);
}

// One row decoded into the sample buffer and converted into its buffer row.
JDIMENSION read_converted(DecoderState* state, uint8_t* destination, int32_t pitch, bool bottom_up) {
  j_decompress_ptr cinfo = &state->decompressor;
  const JDIMENSION row = cinfo->output_scanline;
  if (jpeg_read_scanlines(cinfo, state->samples, 1) != 1) return 0;
  uint8_t* out = row_address(destination, pitch, cinfo->output_height, row, bottom_up);
  if (cinfo->out_color_space == JCS_CMYK)
    convert_cmyk(state->samples[0], out, cinfo->output_width);
  else
    convert_rgb(state->samples[0], out, cinfo->output_width);
  return 1;
}

int read_rows(DecoderState* state, uint8_t* destination, int32_t pitch, bool bottom_up) {
  j_decompress_ptr cinfo = &state->decompressor;
  if (setjmp(state->error.resume) != 0) return 0;

  while (cinfo->output_scanline < cinfo->output_height) {
    const JDIMENSION got = state->direct ? read_direct(cinfo, destination, pitch, bottom_up)
                                         : read_converted(state, destination, pitch, bottom_up);
    if (got == 0) return 0;  // only a suspending source stalls; never ours
  }
  jpeg_finish_decompress(cinfo);
  return 1;
}

int32_t probe(DecoderContext& context) {
  if (context.data == nullptr || context.data_size < 2) return 0;
  if (jpeg::read_be16(context.data) != jpeg::marker_word(jpeg::kSOI)) return 0;

  auto* state = static_cast<DecoderState*>(std::calloc(1, sizeof(DecoderState)));
  if (state == nullptr) return 0;
  try {
    context.private_area = std::shared_ptr<void>(state, destroy_state);
  } catch (const std::bad_alloc&) {
    return 0;  // the shared_ptr has already handed state to destroy_state
  }
  if (!start(state, context.data, context.data_size)) {
    context.private_area.reset();
    return 0;
  }
  const jpeg_decompress_struct& cinfo = state->decompressor;
  context.width = static_cast<int32_t>(cinfo.output_width);
  context.height = static_cast<int32_t>(cinfo.output_height);
  context.depth = 24;
  context.source_depth = 8 * cinfo.output_components;
  return 1;
}

int32_t decode(DecoderContext& context, uint8_t* destination, int32_t pitch, int32_t flags) {
  auto* state = static_cast<DecoderState*>(context.private_area.get());
  if (state == nullptr || !state->started || destination == nullptr) return 0;
  return read_rows(state, destination, pitch, (flags & kBottomUp) != 0);
}

void release(DecoderContext& context) { context.private_area.reset(); }

const DecoderDescriptor kJpegDecoder{probe, decode, release, kJpegEncoderId};

}  // namespace

const DecoderDescriptor& jpeg_decoder() { return kJpegDecoder; }

int register_jpeg_decoder(ImageService& images) {
  if (!images.has_decoder(kJpegDecoder)) images.register_decoder(kJpegDecoder);
  return 1;
}

}  // namespace mpo
