// Raster images in numbered slots, pixel access through one drawing context,
// and the decoder/encoder tables the JPEG codecs plug into. One ImageService
// per batch (or per parallel worker): nothing here is shared between
// services.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "io/text.h"

namespace mpo {

// The four letters J, P, E, G read as a little-endian 32-bit number.
constexpr uint32_t kJpegEncoderId = 0x4745504A;
// Row-order flag: rows are stored bottom row first.
constexpr int32_t kBottomUp = 2;
// Quality level handed to encoders by save_image (JPEG quality 70).
constexpr int32_t kDefaultQualityLevel = 7;
// A quality level of kQualityPercent + q asks for JPEG quality q (1..100).
constexpr int32_t kQualityPercent = 1000;
// Added to a quality level: the JPEG encoder keeps the colour at full
// resolution (4:4:4) instead of halving it both ways.
constexpr int32_t kFullChroma = 1 << 16;
// Largest width or height an image record holds (signed 16 bits).
constexpr int64_t kMaxImageSide = 32767;

// Shared between load_image and the decoder whose probe accepted the data.
struct DecoderContext {
  const struct DecoderDescriptor* accepted = nullptr;
  const uint8_t* data = nullptr;  // the whole file, borrowed
  int32_t data_size = 0;
  int32_t in_memory = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t depth = 0;
  // Decoder's own state; cleared (reset) before each probe.
  std::shared_ptr<void> private_area;
  int32_t source_depth = 0;
  int32_t frame_count = 0;
};

// probe: nonzero when the data is the decoder's format and its header is
// read. decode: writes every pixel of the buffer load_image created (only the
// row padding is cleared beforehand); nonzero on success. release: frees
// what probe set up; called after every accepted probe.
struct DecoderDescriptor {
  int32_t (*probe)(DecoderContext& context);
  int32_t (*decode)(DecoderContext& context, uint8_t* destination, int32_t pitch, int32_t flags);
  void (*release)(DecoderContext& context);
  uint32_t id;
};

using Encode24 = int32_t (*)(const Text& file_name, const uint8_t* pixels, int32_t width,
                             int32_t height, int32_t pitch, int32_t flags, int32_t quality_level,
                             int32_t requested_depth);

// Picture rows handed to an encoder one at a time, top row first: row(context,
// y) points to the B, G, R pixels of row y, valid until the next call.
struct RowSource {
  const uint8_t* (*row)(void* context, int32_t y);
  void* context;
};

// Encodes width x height pixels from `rows`, with `app1` (an APP1 segment:
// its 2-byte length field, equal to its size, and its payload; or empty)
// right after the start of the image, where the encoder would otherwise put
// its own header segment.
using EncodeRows = int32_t (*)(const Text& file_name, const RowSource& rows, int32_t width,
                               int32_t height, int32_t quality_level,
                               std::span<const uint8_t> app1);

struct EncoderDescriptor {
  uint32_t id;
  Encode24 encode24;
  Encode24 encode32;  // none for the JPEG encoder
  EncodeRows encode_rows = nullptr;
};

// Direct view of a 24-bit pixel buffer (B, G, R; bottom row first; rows
// padded to a multiple of 4 bytes). For hot loops that would otherwise go
// through read_pixel/write_pixel one call per pixel.
struct PixelView {
  uint8_t* pixels = nullptr;
  int64_t width = 0;
  int64_t height = 0;
  int64_t pitch = 0;
  // First byte of picture row y (0 = top row).
  uint8_t* row(int64_t y) const { return pixels + (height - 1 - y) * pitch; }
};

inline int64_t pitch_for_width(int64_t width) { return ((3 * width + 3) / 4) * 4; }

class ImageService {
 public:
  ImageService();
  ~ImageService();
  ImageService(const ImageService&) = delete;
  ImageService& operator=(const ImageService&) = delete;

  void register_decoder(const DecoderDescriptor& decoder);
  void register_encoder(const EncoderDescriptor& encoder);
  // True when a descriptor with the same routines and id is registered.
  bool has_decoder(const DecoderDescriptor& decoder) const;
  bool has_encoder(const EncoderDescriptor& encoder) const;

  // Nonzero when the slot now holds the decoded image. A file that cannot be
  // opened or read leaves the slot as it was; data no decoder accepts, or a
  // failed decode, empties it.
  int load_image(int slot, const Text& file_name);
  // Nonzero when the slot now holds a new black 24-bit image. A width or
  // height below 1 or above kMaxImageSide fails and empties the slot.
  int create_image(int slot, int64_t width, int64_t height);
  // Nonzero when the slot's 24-bit buffer has room for a width x height
  // image: the slot then holds one of that size in the same memory, its
  // pixels left as they were, for a caller that draws every one. Zero
  // leaves the slot as it is.
  int reuse_image(int slot, int64_t width, int64_t height);
  int64_t get_image_width(int slot) const;
  int64_t get_image_height(int slot) const;
  // Bits per pixel of the slot's source (32 for a CMYK JPEG); 0 when empty.
  int get_image_source_depth(int slot) const;
  // Empties the slot.
  void free_image(int slot);

  int begin_drawing(int slot);
  // Colour value red + 256 * green + 65536 * blue of the drawing context's
  // image. No clipping: the caller keeps 0 <= x < width, 0 <= y < height.
  // Without an open context read_pixel gives 0 and write_pixel does nothing.
  // Releasing or replacing the image a context draws on closes the context.
  int64_t read_pixel(int64_t x, int64_t y) const;
  void write_pixel(int64_t x, int64_t y, int64_t colour);
  void end_drawing();
  bool drawing() const;

  // The encoder's result; 0 for an empty name, an empty slot, an unsupported
  // source depth or an unregistered encoder id.
  int save_image(int slot, const Text& file_name, uint32_t encoder_id,
                 int32_t quality_level = kDefaultQualityLevel);
  // The same with an APP1 segment (length field and payload, at most 65535
  // bytes) in place of the encoder's header segment, for a 24-bit image;
  // 0 also when the encoder cannot write one or the segment is malformed.
  int save_image_with_app1(int slot, const Text& file_name, uint32_t encoder_id,
                           int32_t quality_level, std::span<const uint8_t> app1);
  // A picture of width x height that exists only as `rows` (sides 1 to
  // kMaxImageSide), encoded as save_image_with_app1 does (app1 may be
  // empty).
  int save_rows(const RowSource& rows, int64_t width, int64_t height, const Text& file_name,
                uint32_t encoder_id, int32_t quality_level, std::span<const uint8_t> app1);

  // Why the last save_image, save_image_with_app1 or save_rows returned 0:
  // the errno value of the system call that failed while the encoder wrote
  // the file; 0 after a success, a refusal or a failure no call explained.
  int save_error() const { return save_error_; }

  // The slot's pixels; all zero/null for an empty slot.
  PixelView view(int slot) const;

 private:
  struct Image;
  const EncoderDescriptor* encoder(uint32_t id) const;
  // The open drawing context: the image it refers to and that image's
  // buffer geometry, so that pixel access is one address computation.
  struct Drawing {
    const Image* image = nullptr;
    uint8_t* pixels = nullptr;
    int64_t pitch = 0;
    int64_t width = 0;
    int64_t height = 0;
    int64_t bytes_per_pixel = 3;
    // First byte of pixel (x, y): rows are stored bottom row first.
    uint8_t* at(int64_t x, int64_t y) const {
      return pixels + (height - 1 - y) * pitch + bytes_per_pixel * x;
    }
  };
  Image* image(int slot) const;
  // The slot's record, growing the table as needed; null when out of memory.
  std::unique_ptr<Image>* slot_entry(int slot);
  // Takes the slot's image out of it (closing a drawing context on it).
  std::unique_ptr<Image> detach(int slot);
  // Puts the record into the slot; 0 for a null record or a slot table
  // that cannot grow.
  int store(int slot, std::unique_ptr<Image> record);
  // Sets up the decoder context for the data and offers it to each decoder
  // in turn; the first that accepts it, or null.
  const DecoderDescriptor* probe_decoders(const uint8_t* data, int32_t size);
  // Lets the accepted decoder fill `pixels` (the context's geometry) and
  // releases its state; true when every row was decoded.
  bool decode_into(const DecoderDescriptor& decoder, uint8_t* pixels);
  std::vector<std::unique_ptr<Image>> slots_;
  std::vector<DecoderDescriptor> decoders_;
  std::vector<EncoderDescriptor> encoders_;
  DecoderContext decoder_context_;
  // Records the reason of a save the encoder has just finished with
  // `result` (errno cleared before it started), and hands `result` on.
  int saved(int result);
  std::unique_ptr<Drawing> drawing_;
  int save_error_ = 0;
};

// Inline, so that a loop over single pixels pays one address computation
// per call. The composites do not use them: they work in bands of rows
// through PixelView.
inline int64_t ImageService::read_pixel(int64_t x, int64_t y) const {
  const Drawing* d = drawing_.get();
  if (d == nullptr) return 0;
  const uint8_t* p = d->at(x, y);
  return static_cast<int64_t>(p[2]) | static_cast<int64_t>(p[1]) << 8 |
         static_cast<int64_t>(p[0]) << 16;
}

inline void ImageService::write_pixel(int64_t x, int64_t y, int64_t colour) {
  const Drawing* d = drawing_.get();
  if (d == nullptr) return;
  uint8_t* p = d->at(x, y);
  p[2] = static_cast<uint8_t>(colour);
  p[1] = static_cast<uint8_t>(colour >> 8);
  p[0] = static_cast<uint8_t>(colour >> 16);
}

// A zero-filled two-dimensional array of signed 64-bit elements with the
// inclusive bounds 0..p and 0..q; element (i, j) at i * (q + 1) + j.
class PixelGrid {
 public:
  explicit operator bool() const { return data_ != nullptr; }
  int64_t p() const { return p_; }
  int64_t q() const { return q_; }
  int64_t* data() { return data_.get(); }
  const int64_t* data() const { return data_.get(); }
  int64_t& at(int64_t i, int64_t j) { return data_[i * (q_ + 1) + j]; }
  int64_t at(int64_t i, int64_t j) const { return data_[i * (q_ + 1) + j]; }

 private:
  friend void allocate_grid(PixelGrid& grid, int64_t p, int64_t q);

// True when the grid's block has room for the bounds p and q: the grid then
// has them in the same memory, the elements with i < p and j < q left as
// they were (for a fill that writes every one) and the others zero.
bool reuse_grid(PixelGrid& grid, int64_t p, int64_t q);
  friend bool reuse_grid(PixelGrid& grid, int64_t p, int64_t q);
  struct FreeDeleter {
    void operator()(int64_t* ptr) const;
  };
  std::unique_ptr<int64_t[], FreeDeleter> data_;
  int64_t p_ = -1;
  int64_t q_ = -1;
  uint64_t capacity_ = 0;  // elements of the block
};

// Releases the grid's block, then allocates (p + 1) x (q + 1) zero elements;
// the grid refers to none on failure or for a bound below 0.
void allocate_grid(PixelGrid& grid, int64_t p, int64_t q);

// True when the grid's block has room for the bounds p and q: the grid then
// has them in the same memory, the elements with i < p and j < q left as
// they were (for a fill that writes every one) and the others zero.
bool reuse_grid(PixelGrid& grid, int64_t p, int64_t q);

}  // namespace mpo
