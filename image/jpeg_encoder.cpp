// JPEG encoder: a baseline JFIF file from 24-bit B, G, R rows.
//
// As in the decoder, libjpeg's error exit jumps back with longjmp into a
// function that holds only plain data; the compression object lives in the
// caller's frame, which the jump never leaves.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include <jpeglib.h>

#include "image/jpeg_codec.h"
#include "image/jpeg_error.h"
#include "io/output_file.h"
#include "io/text.h"

namespace mpo {

namespace {

struct EncoderState {
  jpeg_compress_struct compressor;
  jpeg::ErrorManager error;
  bool created;
  JSAMPLE* row_buffer;  // only without libjpeg-turbo's B, G, R input
};

struct Picture {
  const uint8_t* pixels;
  int32_t width;
  int32_t height;
  int32_t pitch;
  bool bottom_up;
  // Memory row of picture row r.
  const uint8_t* row(int32_t r) const {
    const int32_t memory_row = bottom_up ? height - 1 - r : r;
    return pixels + static_cast<ptrdiff_t>(memory_row) * pitch;
  }
};

// libjpeg's defaults for R, G, B input at `quality`, with the exact integer
// DCT; with `full_chroma` every component at full resolution.
void set_parameters(j_compress_ptr cinfo, int32_t width, int32_t height, int quality,
                    bool full_chroma) {
  cinfo->image_width = static_cast<JDIMENSION>(width);
  cinfo->image_height = static_cast<JDIMENSION>(height);
  cinfo->input_components = 3;
  cinfo->in_color_space = JCS_RGB;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, quality, FALSE);
  cinfo->dct_method = JDCT_ISLOW;
  if (full_chroma) {
    for (int c = 0; c < cinfo->num_components; ++c)
      cinfo->comp_info[c].h_samp_factor = cinfo->comp_info[c].v_samp_factor = 1;
  }
#ifdef JCS_EXTENSIONS
  // The defaults above are those for RGB input; libjpeg-turbo reads B, G, R
  // with the same arithmetic, so the buffer rows go in as they are.
  cinfo->in_color_space = JCS_EXT_BGR;
#endif
}

#ifdef JCS_EXTENSIONS
// Every picture row, one at a time, straight from the source.
void write_rows(EncoderState* state, const RowSource& rows) {
  j_compress_ptr cinfo = &state->compressor;
  while (cinfo->next_scanline < cinfo->image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rows.row(rows.context, int32_t(cinfo->next_scanline)));
    if (jpeg_write_scanlines(cinfo, &row, 1) == 0) break;
  }
}
#else
// Every picture row converted to R, G, B in a row buffer. Without the
// buffer no rows are written, and libjpeg's own error for too few rows
// takes the failure path of compress.
void write_rows(EncoderState* state, const RowSource& rows) {
  j_compress_ptr cinfo = &state->compressor;
  const auto width = static_cast<size_t>(cinfo->image_width);
  auto* buffer = static_cast<JSAMPLE*>(std::malloc(3 * width));
  if (buffer == nullptr) return;
  state->row_buffer = buffer;
  while (cinfo->next_scanline < cinfo->image_height) {
    const uint8_t* in = rows.row(rows.context, int32_t(cinfo->next_scanline));
    for (size_t x = 0; x < width; ++x) {
      buffer[3 * x] = in[3 * x + 2];
      buffer[3 * x + 1] = in[3 * x + 1];
      buffer[3 * x + 2] = in[3 * x];
    }
    JSAMPROW row = buffer;
    if (jpeg_write_scanlines(cinfo, &row, 1) == 0) break;
  }
  std::free(buffer);
  state->row_buffer = nullptr;
}
#endif

// Levels 0..10 are JPEG quality 10 x level; kQualityPercent + q is quality q;
// kFullChroma added is stripped by the caller.
int quality_of_level(int32_t quality_level) {
  if (quality_level > kQualityPercent) return std::clamp(quality_level - kQualityPercent, 1, 100);
  return 10 * std::clamp(quality_level, 0, 10);
}

// 1 when the whole picture went through libjpeg to `file`, 0 on any libjpeg
// error; the compression object is destroyed either way.
int compress(EncoderState* state, FILE* file, const RowSource& rows, int32_t width,
             int32_t height, int32_t quality_level, std::span<const uint8_t> app1) {
  j_compress_ptr cinfo = &state->compressor;
  cinfo->err = jpeg::attach_error_manager(state->error, jpeg::Messages::kFirstWarning);
  if (setjmp(state->error.resume) != 0) {
    if (state->created) jpeg_destroy_compress(cinfo);
    std::free(state->row_buffer);
    state->row_buffer = nullptr;
    return 0;
  }

  jpeg_create_compress(cinfo);
  state->created = true;
  jpeg_stdio_dest(cinfo, file);
  set_parameters(cinfo, width, height, quality_of_level(quality_level % kFullChroma),
                 quality_level >= kFullChroma);
  // The given segment takes the place of the JFIF header.
  if (!app1.empty()) cinfo->write_JFIF_header = FALSE;
  jpeg_start_compress(cinfo, TRUE);
  if (!app1.empty()) {
    jpeg_write_marker(cinfo, JPEG_APP0 + 1, app1.data() + 2,
                      static_cast<unsigned int>(app1.size() - 2));
  }
  write_rows(state, rows);
  jpeg_finish_compress(cinfo);
  jpeg_destroy_compress(cinfo);
  state->created = false;
  return 1;
}

// The rows as a JPEG file at `file_name`, with `app1` (length field and
// payload) after the start of the image instead of the JFIF header when it
// is not empty.
int32_t encode_rows(const Text& file_name, const RowSource& rows, int32_t width, int32_t height,
                    int32_t quality_level, std::span<const uint8_t> app1) {
  const std::string path = to_utf8(file_name);
  if (path.empty() || rows.row == nullptr || width < 1 || height < 1) return 0;
  if (!app1.empty() && (app1.size() < 2 || app1.size() > 65535)) return 0;
  // Never through a link or into a special file standing at the name, and
  // seen under the name only once complete.
  PendingFile output = PendingFile::start(path, O_WRONLY);
  if (output.fd() < 0) return 0;
  // The stream gets a descriptor of its own; the pending file keeps its
  // one open until it is committed.
  const int stream_fd = ::dup(output.fd());
  FILE* file = stream_fd >= 0 ? ::fdopen(stream_fd, "wb") : nullptr;
  if (file == nullptr) {
    if (stream_fd >= 0) ::close(stream_fd);
    return 0;
  }
  EncoderState state{};
  int ok = compress(&state, file, rows, width, height, quality_level, app1);
  // libjpeg flushes and checks the stream at the end; a write error it did
  // not see, or one that only shows when closing, is a failure all the same.
  if (std::ferror(file) != 0) ok = 0;
  if (std::fclose(file) != 0) ok = 0;
  if (ok && !output.commit()) ok = 0;
  return ok;
}

const uint8_t* picture_row(void* context, int32_t y) {
  return static_cast<const Picture*>(context)->row(y);
}

int32_t encode24(const Text& file_name, const uint8_t* pixels, int32_t width, int32_t height,
                 int32_t pitch, int32_t flags, int32_t quality_level, int32_t /*requested_depth*/) {
  if (pixels == nullptr) return 0;
  Picture picture{pixels, width, height, pitch, (flags & kBottomUp) != 0};
  return encode_rows(file_name, RowSource{picture_row, &picture}, width, height, quality_level,
                     {});
}

const EncoderDescriptor kJpegEncoder{kJpegEncoderId, encode24, nullptr, encode_rows};

}  // namespace

const EncoderDescriptor& jpeg_encoder() { return kJpegEncoder; }

int register_jpeg_encoder(ImageService& images) {
  if (!images.has_encoder(kJpegEncoder)) images.register_encoder(kJpegEncoder);
  return 1;
}

}  // namespace mpo
