// Side-by-side join in the coefficient domain.
//
// Both halves are read with jpeg_read_coefficients straight into one
// shared set of block arrays (JoinedBlocks): each block row holds the left
// half's blocks and then the right half's. jpeg_write_coefficients
// entropy-codes them again with Huffman tables that a statistics pass of
// our own has optimised beforehand; the tables and so the bytes are the
// ones libjpeg's optimize_coding would give, at a fraction of its cost.
//
// libjpeg reports errors by calling error_exit, which jumps back into
// run_join with longjmp. Every libjpeg object lives in one plain record
// (JoinCodecs) that a C++ owner above run_join creates and destroys; the
// frames between setjmp and any libjpeg call hold only plain data.
#include "image/jpeg_lossless.h"

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include <jpeglib.h>
#include <jerror.h>

#include "image/jpeg_error.h"
#include "image/jpeg_huffman_tables.h"
#include "image/jpeg_joined_blocks.h"
#include "image/jpeg_markers.h"
#include "image/jpeg_vector_dest.h"

namespace mpo {

namespace {

using Bytes = std::span<const uint8_t>;

// Widest frame a JPEG may have (libjpeg's own limit).
constexpr JDIMENSION kMaxJpegSide = 65500;
// Coefficient memory of one join, counted twice (the halves' blocks and
// room for a second set). A header of a few bytes may promise a frame of
// gigabytes; real halves need a few hundred megabytes at most (two
// 6000 x 4000 halves without subsampling: 288 MiB, counted 576 MiB).
constexpr uint64_t kMaxCoefficientBytes = uint64_t{1} << 30;

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
  jpeg::JoinedBlocks* blocks;            // the owner's, outliving the codecs
  jpeg::VectorDestination* destination;  // the owner's
  LosslessRefusal on_error;  // what a libjpeg error means at the current step
  int mcu_width;
};

// Creates the record zeroed and destroys whatever was created in it, then
// the blocks and the output the codecs used.
class CodecOwner {
 public:
  CodecOwner() : codecs_(std::make_unique<JoinCodecs>()) {
    codecs_->blocks = &blocks_;
    codecs_->destination = &destination_;
  }
  ~CodecOwner() {
    if (codecs_->out_created) jpeg_destroy_compress(&codecs_->out);
    if (codecs_->right_created) jpeg_destroy_decompress(&codecs_->right);
    if (codecs_->left_created) jpeg_destroy_decompress(&codecs_->left);
  }
  CodecOwner(const CodecOwner&) = delete;
  CodecOwner& operator=(const CodecOwner&) = delete;
  JoinCodecs* get() const { return codecs_.get(); }
  std::vector<uint8_t> take_stream() { return destination_.take(); }

 private:
  jpeg::JoinedBlocks blocks_;
  jpeg::VectorDestination destination_;
  std::unique_ptr<JoinCodecs> codecs_;
};

void limit_scans(j_common_ptr common) {
  if (common->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(common)->input_scan_number > jpeg::kMaxScans)
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

// The compressor with the left half's parameters and the combined width,
// writing into the owner's vector; the result is its block array list.
jvirt_barray_ptr* start_output(JoinCodecs* codecs, size_t expected_size, bool with_exif) {
  j_compress_ptr out = &codecs->out;
  out->err = &codecs->error.manager;
  jpeg_create_compress(out);
  codecs->out_created = true;
  codecs->destination->attach(out, expected_size);
  jpeg_copy_critical_parameters(&codecs->left, out);
  out->image_width = codecs->left.image_width + codecs->right.image_width;
  if (with_exif) out->write_JFIF_header = FALSE;
  return codecs->blocks->attach_output(out);
}

JDIMENSION divide_round_up(JDIMENSION value, int divisor) {
  return round_up(value, divisor) / static_cast<JDIMENSION>(divisor);
}

// The component as the compressor's one scan visits it: interleaved with
// the others in MCUs of h x v blocks, or alone block by block.
jpeg::ScanComponent scan_component(const jpeg_compress_struct& out, int ci,
                                   const jpeg::JoinedBlocks::Component& blocks, int max_h, int max_v) {
  const jpeg_component_info& c = out.comp_info[ci];
  jpeg::ScanComponent scan{blocks.first, blocks.stride, blocks.columns, blocks.real_rows, 1, 1,
                           blocks.columns, blocks.real_rows};
  if (out.num_components > 1) {
    scan.mcu_width = c.h_samp_factor;
    scan.mcu_height = c.v_samp_factor;
    scan.mcus_across = divide_round_up(out.image_width, max_h * DCTSIZE);
    scan.mcu_rows = divide_round_up(out.image_height, max_v * DCTSIZE);
  }
  return scan;
}

// Installs the optimal Huffman tables for the joined blocks, the ones
// libjpeg's statistics pass would make. False when a coefficient cannot be
// coded. A layout the compressor may refuse is left to libjpeg's own pass.
bool install_optimal_tables(j_compress_ptr out, const jpeg::JoinedBlocks& blocks) {
  int max_h = 1, max_v = 1, mcu_blocks = 0;
  bool fits = out->num_components <= MAX_COMPS_IN_SCAN && out->num_components == blocks.components();
  for (int ci = 0; ci < out->num_components; ++ci) {
    const jpeg_component_info& c = out->comp_info[ci];
    max_h = std::max(max_h, c.h_samp_factor);
    max_v = std::max(max_v, c.v_samp_factor);
    mcu_blocks += c.h_samp_factor * c.v_samp_factor;
    fits = fits && c.dc_tbl_no >= 0 && c.dc_tbl_no < NUM_HUFF_TBLS && c.ac_tbl_no >= 0 &&
           c.ac_tbl_no < NUM_HUFF_TBLS;
  }
  if (!fits || (out->num_components > 1 && mcu_blocks > C_MAX_BLOCKS_IN_MCU)) {
    out->optimize_coding = TRUE;
    return true;
  }
  std::array<jpeg::SymbolCounts, NUM_HUFF_TBLS> dc{}, ac{};
  std::array<bool, NUM_HUFF_TBLS> dc_used{}, ac_used{};
  for (int ci = 0; ci < out->num_components; ++ci) {
    const jpeg_component_info& c = out->comp_info[ci];
    const jpeg::ScanComponent scan = scan_component(*out, ci, blocks.component(ci), max_h, max_v);
    if (!jpeg::count_symbols(scan, dc[c.dc_tbl_no], ac[c.ac_tbl_no])) return false;
    dc_used[c.dc_tbl_no] = ac_used[c.ac_tbl_no] = true;
  }
  auto common = reinterpret_cast<j_common_ptr>(out);
  for (int t = 0; t < NUM_HUFF_TBLS; ++t) {
    JHUFF_TBL*& dc_table = out->dc_huff_tbl_ptrs[t];
    JHUFF_TBL*& ac_table = out->ac_huff_tbl_ptrs[t];
    if (dc_used[t] && dc_table == nullptr) dc_table = jpeg_alloc_huff_table(common);
    if (ac_used[t] && ac_table == nullptr) ac_table = jpeg_alloc_huff_table(common);
    if ((dc_used[t] && !jpeg::make_optimal_table(dc[t], *dc_table)) ||
        (ac_used[t] && !jpeg::make_optimal_table(ac[t], *ac_table)))
      return false;
  }
  out->optimize_coding = FALSE;
  return true;
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

  if (!codecs->blocks->allocate(codecs->left, codecs->right)) return LosslessRefusal::no_memory;
  codecs->blocks->attach_left(&codecs->left);
  codecs->blocks->attach_right(&codecs->right);

  codecs->on_error = LosslessRefusal::unreadable_left;
  if (jpeg_read_coefficients(&codecs->left) == nullptr) return codecs->on_error;
  codecs->on_error = LosslessRefusal::unreadable_right;
  if (jpeg_read_coefficients(&codecs->right) == nullptr) return codecs->on_error;
  const LosslessRefusal tables = compare_quantisation(codecs->left, codecs->right);
  if (tables != LosslessRefusal::none) return tables;

  // Every output parameter comes from the left half: a parameter the
  // compressor rejects, or a coefficient it cannot code, is the left
  // half's fault.
  codecs->on_error = LosslessRefusal::unreadable_left;
  const bool with_exif = usable_exif(exif);
  jvirt_barray_ptr* arrays = start_output(codecs, left.size() + right.size() + exif.size(), with_exif);
  if (!install_optimal_tables(&codecs->out, *codecs->blocks)) return codecs->on_error;
  jpeg_write_coefficients(&codecs->out, arrays);
  if (with_exif)
    jpeg_write_marker(&codecs->out, jpeg::kAPP1, exif.data() + 2, static_cast<unsigned>(exif.size() - 2));
  jpeg_finish_compress(&codecs->out);
  return LosslessRefusal::none;
}

}  // namespace

LosslessResult join_side_by_side(Bytes left, Bytes right, Bytes exif_segment) {
  LosslessResult result;
  try {
    CodecOwner owner;
    JoinCodecs* codecs = owner.get();
    result.refusal = run_join(codecs, left, right, exif_segment);
    result.mcu_width = codecs->mcu_width;
    if (result.refusal == LosslessRefusal::none) result.jpeg = owner.take_stream();
  } catch (const std::bad_alloc&) {
    result.refusal = LosslessRefusal::no_memory;
    result.jpeg.clear();
  }
  return result;
}

}  // namespace mpo
