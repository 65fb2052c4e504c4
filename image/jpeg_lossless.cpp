// Side-by-side join in the coefficient domain.
//
// Both halves are read with jpeg_read_coefficients into libjpeg's block
// arrays; the output gets block arrays of the combined width, each block row
// holding the left half's blocks and then the right half's, and
// jpeg_write_coefficients entropy-codes them again.
//
// libjpeg reports errors by calling error_exit, which jumps back into
// run_join with longjmp. Every libjpeg object lives in one plain record
// (JoinCodecs) that a C++ owner above run_join creates and destroys; the
// frames between setjmp and any libjpeg call hold only plain data.
#include "image/jpeg_lossless.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include <jpeglib.h>
#include <jerror.h>

#include "image/jpeg_error.h"
#include "image/jpeg_markers.h"

namespace mpo {

namespace {

using Bytes = std::span<const uint8_t>;

// Widest frame a JPEG may have (libjpeg's own limit).
constexpr JDIMENSION kMaxJpegSide = 65500;
// Coefficient memory of one join (both halves and the output). A header of a
// few bytes may promise a frame of gigabytes; real halves need a few hundred
// megabytes at most (two 6000 x 4000 halves without subsampling: 576 MiB).
constexpr uint64_t kMaxCoefficientBytes = uint64_t{1} << 30;
// A progressive stream may repeat its scans without end; real files have a
// dozen scans at most.
constexpr int kMaxScans = 500;

// Every libjpeg object of one join, sharing one error manager.
struct JoinCodecs {
  jpeg::ErrorManager error;
  jpeg_progress_mgr progress;
  jpeg_decompress_struct left;
  jpeg_decompress_struct right;
  jpeg_compress_struct out;
  bool left_created;
  bool right_created;
  bool out_created;
  jvirt_barray_ptr* left_blocks;  // owned by the decompressors' pools
  jvirt_barray_ptr* right_blocks;
  jvirt_barray_ptr out_blocks[MAX_COMPONENTS];  // owned by the compressor's pool
  unsigned char* out_buffer;  // jpeg_mem_dest's, freed with std::free
  unsigned long out_size;
  LosslessRefusal on_error;  // what a libjpeg error means at the current step
  int mcu_width;
};

// Creates the record zeroed and destroys whatever was created in it.
class CodecOwner {
 public:
  CodecOwner() : codecs_(std::make_unique<JoinCodecs>()) {}
  ~CodecOwner() {
    if (codecs_->out_created) jpeg_destroy_compress(&codecs_->out);
    if (codecs_->right_created) jpeg_destroy_decompress(&codecs_->right);
    if (codecs_->left_created) jpeg_destroy_decompress(&codecs_->left);
    std::free(codecs_->out_buffer);
  }
  CodecOwner(const CodecOwner&) = delete;
  CodecOwner& operator=(const CodecOwner&) = delete;
  JoinCodecs* get() const { return codecs_.get(); }

 private:
  std::unique_ptr<JoinCodecs> codecs_;
};

void limit_scans(j_common_ptr common) {
  if (common->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(common)->input_scan_number > kMaxScans)
    jpeg::jump_back(common);
}

JDIMENSION round_up(JDIMENSION value, int multiple) {
  const auto m = static_cast<JDIMENSION>(multiple);
  return (value + m - 1) / m * m;
}

// Block rows of a component's array: whole MCU rows.
JDIMENSION padded_rows(const jpeg_component_info& component) {
  return round_up(component.height_in_blocks, component.v_samp_factor);
}

uint64_t coefficient_bytes(const jpeg_decompress_struct& half) {
  uint64_t bytes = 0;
  for (int ci = 0; ci < half.num_components; ++ci) {
    const jpeg_component_info& c = half.comp_info[ci];
    bytes += uint64_t{round_up(c.width_in_blocks, c.h_samp_factor)} * padded_rows(c) * sizeof(JBLOCK);
  }
  return bytes;
}

// Creates a decompressor on `bytes` and reads its header.
bool open_half(JoinCodecs* codecs, j_decompress_ptr half, bool* created, Bytes bytes) {
  half->err = &codecs->error.manager;
  jpeg_create_decompress(half);
  *created = true;
  half->progress = &codecs->progress;
  jpeg_mem_src(half, bytes.data(), static_cast<unsigned long>(bytes.size()));
  return jpeg_read_header(half, TRUE) == JPEG_HEADER_OK;
}

// Everything that the headers decide, before any coefficient is read.
LosslessRefusal compare_frames(const jpeg_decompress_struct& left, const jpeg_decompress_struct& right) {
  if (left.image_height != right.image_height) return LosslessRefusal::different_height;
  if (left.num_components != right.num_components || left.jpeg_color_space != right.jpeg_color_space)
    return LosslessRefusal::different_components;
  for (int ci = 0; ci < left.num_components; ++ci)
    if (left.comp_info[ci].h_samp_factor != right.comp_info[ci].h_samp_factor ||
        left.comp_info[ci].v_samp_factor != right.comp_info[ci].v_samp_factor)
      return LosslessRefusal::different_sampling;
  if (left.image_width % static_cast<JDIMENSION>(left.max_h_samp_factor * DCTSIZE) != 0)
    return LosslessRefusal::width_not_whole_mcu;
  if (uint64_t{left.image_width} + right.image_width > kMaxJpegSide ||
      2 * (coefficient_bytes(left) + coefficient_bytes(right)) > kMaxCoefficientBytes)
    return LosslessRefusal::too_large;
  return LosslessRefusal::none;
}

// The table the component's coefficients were quantised with: the one
// latched at its first scan, else the one its frame header names.
const JQUANT_TBL* table_of(const jpeg_decompress_struct& half, int ci) {
  const jpeg_component_info& c = half.comp_info[ci];
  if (c.quant_table != nullptr) return c.quant_table;
  return c.quant_tbl_no >= 0 && c.quant_tbl_no < NUM_QUANT_TBLS ? half.quant_tbl_ptrs[c.quant_tbl_no]
                                                                : nullptr;
}

LosslessRefusal compare_quantisation(const jpeg_decompress_struct& left,
                                     const jpeg_decompress_struct& right) {
  for (int ci = 0; ci < left.num_components; ++ci) {
    const JQUANT_TBL* a = table_of(left, ci);
    const JQUANT_TBL* b = table_of(right, ci);
    if (a == nullptr) return LosslessRefusal::unreadable_left;
    if (b == nullptr) return LosslessRefusal::unreadable_right;
    if (std::memcmp(a->quantval, b->quantval, sizeof a->quantval) != 0)
      return LosslessRefusal::different_quantisation;
  }
  return LosslessRefusal::none;
}

// The compressor with the left half's parameters, the combined width and
// realised block arrays for it.
void start_output(JoinCodecs* codecs, bool with_exif) {
  j_compress_ptr out = &codecs->out;
  const jpeg_decompress_struct& left = codecs->left;
  const jpeg_decompress_struct& right = codecs->right;
  out->err = &codecs->error.manager;
  jpeg_create_compress(out);
  codecs->out_created = true;
  jpeg_mem_dest(out, &codecs->out_buffer, &codecs->out_size);
  jpeg_copy_critical_parameters(&codecs->left, out);
  out->image_width = left.image_width + right.image_width;
  out->optimize_coding = TRUE;
  if (with_exif) out->write_JFIF_header = FALSE;

  auto common = reinterpret_cast<j_common_ptr>(out);
  for (int ci = 0; ci < left.num_components; ++ci) {
    const jpeg_component_info& c = left.comp_info[ci];
    const JDIMENSION columns = c.width_in_blocks + right.comp_info[ci].width_in_blocks;
    codecs->out_blocks[ci] = (*out->mem->request_virt_barray)(
        common, JPOOL_IMAGE, FALSE, round_up(columns, c.h_samp_factor), padded_rows(c),
        static_cast<JDIMENSION>(c.v_samp_factor));
  }
  (*out->mem->realize_virt_arrays)(common);
}

JBLOCKROW block_row(j_decompress_ptr owner, jvirt_barray_ptr array, JDIMENSION row) {
  return (*owner->mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(owner), array, row, 1,
                                           FALSE)[0];
}

// Each output block row: the left half's blocks, then the right half's.
// Rows down to the end of the last MCU row are copied, so the compressor
// reads only rows that were written.
void copy_blocks(JoinCodecs* codecs) {
  auto out = reinterpret_cast<j_common_ptr>(&codecs->out);
  for (int ci = 0; ci < codecs->left.num_components; ++ci) {
    const JDIMENSION left_columns = codecs->left.comp_info[ci].width_in_blocks;
    const JDIMENSION right_columns = codecs->right.comp_info[ci].width_in_blocks;
    const JDIMENSION rows = padded_rows(codecs->left.comp_info[ci]);
    for (JDIMENSION row = 0; row < rows; ++row) {
      JBLOCKROW target =
          (*out->mem->access_virt_barray)(out, codecs->out_blocks[ci], row, 1, TRUE)[0];
      std::memcpy(target, block_row(&codecs->left, codecs->left_blocks[ci], row),
                  left_columns * sizeof(JBLOCK));
      std::memcpy(target + left_columns, block_row(&codecs->right, codecs->right_blocks[ci], row),
                  right_columns * sizeof(JBLOCK));
    }
  }
}

// An APP1 segment whose length field counts exactly its bytes.
bool usable_exif(Bytes segment) {
  return segment.size() >= 2 && segment.size() <= 0xFFFF &&
         static_cast<size_t>(jpeg::read_be16(segment.data())) == segment.size();
}

LosslessRefusal refusal_for_error(const JoinCodecs* codecs) {
  if (codecs->error.manager.msg_code == JERR_OUT_OF_MEMORY) return LosslessRefusal::no_memory;
  return codecs->on_error;
}

// All libjpeg work of one join; a libjpeg error anywhere returns here.
LosslessRefusal run_join(JoinCodecs* codecs, Bytes left, Bytes right, Bytes exif) {
  jpeg::attach_error_manager(codecs->error, jpeg::Messages::kNone);
  codecs->progress.progress_monitor = limit_scans;
  if (setjmp(codecs->error.resume) != 0) return refusal_for_error(codecs);

  codecs->on_error = LosslessRefusal::unreadable_left;
  if (!open_half(codecs, &codecs->left, &codecs->left_created, left)) return codecs->on_error;
  codecs->mcu_width = codecs->left.max_h_samp_factor * DCTSIZE;
  codecs->on_error = LosslessRefusal::unreadable_right;
  if (!open_half(codecs, &codecs->right, &codecs->right_created, right)) return codecs->on_error;
  const LosslessRefusal frames = compare_frames(codecs->left, codecs->right);
  if (frames != LosslessRefusal::none) return frames;

  codecs->on_error = LosslessRefusal::unreadable_left;
  codecs->left_blocks = jpeg_read_coefficients(&codecs->left);
  if (codecs->left_blocks == nullptr) return codecs->on_error;
  codecs->on_error = LosslessRefusal::unreadable_right;
  codecs->right_blocks = jpeg_read_coefficients(&codecs->right);
  if (codecs->right_blocks == nullptr) return codecs->on_error;
  const LosslessRefusal tables = compare_quantisation(codecs->left, codecs->right);
  if (tables != LosslessRefusal::none) return tables;

  // Every output parameter comes from the left half: a parameter the
  // compressor rejects is the left half's fault.
  codecs->on_error = LosslessRefusal::unreadable_left;
  const bool with_exif = usable_exif(exif);
  start_output(codecs, with_exif);
  copy_blocks(codecs);
  jpeg_abort_decompress(&codecs->left);  // frees the halves' blocks early
  jpeg_abort_decompress(&codecs->right);
  jpeg_write_coefficients(&codecs->out, codecs->out_blocks);
  if (with_exif)
    jpeg_write_marker(&codecs->out, jpeg::kAPP1, exif.data() + 2, static_cast<unsigned>(exif.size() - 2));
  jpeg_finish_compress(&codecs->out);
  return LosslessRefusal::none;
}

}  // namespace

std::string lossless_refusal_text(LosslessRefusal refusal, int mcu_width) {
  switch (refusal) {
    case LosslessRefusal::none:
      return {};
    case LosslessRefusal::unreadable_left:
      return "das linke Bild ist kein lesbares JPEG";
    case LosslessRefusal::unreadable_right:
      return "das rechte Bild ist kein lesbares JPEG";
    case LosslessRefusal::different_height:
      return "die Bildhälften sind verschieden hoch";
    case LosslessRefusal::different_components:
      return "die Bildhälften haben verschiedene Farbkomponenten";
    case LosslessRefusal::different_sampling:
      return "die Bildhälften haben verschiedene Farbunterabtastung";
    case LosslessRefusal::different_quantisation:
      return "die Bildhälften haben verschiedene Quantisierungstabellen";
    case LosslessRefusal::width_not_whole_mcu:
      return "die Breite des linken Bildes ist kein Vielfaches von " + std::to_string(mcu_width) +
             " Pixeln";
    case LosslessRefusal::too_large:
      return "die Bildhälften sind zusammen zu groß";
    case LosslessRefusal::no_memory:
      return "es ist nicht genug Arbeitsspeicher frei";
  }
  return {};
}

LosslessResult join_side_by_side(Bytes left, Bytes right, Bytes exif_segment) {
  LosslessResult result;
  try {
    const CodecOwner owner;
    JoinCodecs* codecs = owner.get();
    result.refusal = run_join(codecs, left, right, exif_segment);
    result.mcu_width = codecs->mcu_width;
    if (result.refusal == LosslessRefusal::none)
      result.jpeg.assign(codecs->out_buffer, codecs->out_buffer + codecs->out_size);
  } catch (const std::bad_alloc&) {
    result.refusal = LosslessRefusal::no_memory;
    result.jpeg.clear();
  }
  return result;
}

}  // namespace mpo
