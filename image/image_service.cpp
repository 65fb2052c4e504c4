#include "image/image_service.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace mpo {

namespace {

struct FreeBytes {
  void operator()(uint8_t* p) const { std::free(p); }
};
using Bytes = std::unique_ptr<uint8_t[], FreeBytes>;

// Bytes per row of a buffer with `depth` bits per pixel, padded to 4 bytes.
int64_t pitch_for(int64_t width, int depth) { return ((width * depth + 31) / 32) * 4; }

// Zeroes the bytes that pad each row of a width x height buffer.
void clear_padding(uint8_t* pixels, int64_t width, int64_t height, int depth) {
  const auto pitch = static_cast<size_t>(pitch_for(width, depth));
  const auto used = static_cast<size_t>(width) * static_cast<size_t>(depth / 8);
  if (used >= pitch) return;
  uint8_t* const end = pixels + pitch * static_cast<size_t>(height);
  for (uint8_t* row = pixels; row < end; row += pitch) std::memset(row + used, 0, pitch - used);
}

// Pixel buffers start on a cache line, so that the pixel loops' vector
// stores never straddle two lines at a row's start. The distance to the
// allocator's block (1 to 64) is kept in the byte before the first pixel.
constexpr size_t kPixelAlignment = 64;

struct FreePixels {
  void operator()(uint8_t* p) const { std::free(p - p[-1]); }
};
using PixelBytes = std::unique_ptr<uint8_t[], FreePixels>;

// `size` bytes on a cache line, zeroed when `zero` (by calloc, which takes
// fresh pages as they come, already cleared and not yet touched).
PixelBytes allocate_aligned(size_t size, bool zero) {
  if (size > SIZE_MAX - kPixelAlignment) return nullptr;
  const size_t total = size + kPixelAlignment;
  auto* block = static_cast<uint8_t*>(zero ? std::calloc(total, 1) : std::malloc(total));
  if (block == nullptr) return nullptr;
  const auto address = reinterpret_cast<uintptr_t>(block);
  const size_t offset = kPixelAlignment - address % kPixelAlignment;
  block[offset - 1] = static_cast<uint8_t>(offset);
  return PixelBytes(block + offset);
}

// A pixel buffer; null for an unsupported depth, a side outside
// 1..kMaxImageSide or exhausted memory. `black` zero-fills it; otherwise
// only the bytes that pad each row are cleared, for a decoder that writes
// every pixel (a fresh zero fill would cost a tenth of a JPEG decode).
PixelBytes allocate_pixels(int64_t width, int64_t height, int depth, bool black) {
  if (depth != 24 && depth != 32) return nullptr;
  if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) return nullptr;
  const auto pitch = static_cast<size_t>(pitch_for(width, depth));
  PixelBytes pixels = allocate_aligned(pitch * static_cast<size_t>(height), black);
  if (pixels && !black) clear_padding(pixels.get(), width, height, depth);
  return pixels;
}

// Reads exactly `length` bytes, retrying after signals; false on an error
// or an early end of the file.
bool read_fully(int fd, uint8_t* buffer, size_t length) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::read(fd, buffer + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The whole file, read with POSIX calls; false when it cannot be opened or
// read completely.
bool read_whole_file(const Text& name, Bytes& data, int32_t& size) {
  const std::string path = to_utf8(name);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = false;
  struct stat info {};
  // A directory cannot be read as a file, whatever size it reports.
  if (::fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode) && info.st_size >= 0 &&
      info.st_size <= INT32_MAX) {
    const auto length = static_cast<size_t>(info.st_size);
    // One byte more than needed, so that an empty file gets a buffer too.
    Bytes buffer(static_cast<uint8_t*>(std::malloc(length + 1)));
    if (buffer && read_fully(fd, buffer.get(), length)) {
      data = std::move(buffer);
      size = static_cast<int32_t>(length);
      ok = true;
    }
  }
  ::close(fd);
  return ok;
}

}  // namespace

struct ImageService::Image {
  PixelBytes pixels;
  int16_t width = 0;
  int16_t height = 0;
  uint8_t depth = 0;
  uint8_t source_depth = 0;
  size_t capacity = 0;  // bytes of `pixels`, at least pitch() * height
  int64_t pitch() const { return pitch_for(width, depth); }
  size_t bytes() const { return static_cast<size_t>(pitch()) * static_cast<size_t>(height); }

  // A record of checked geometry (1..kMaxImageSide, depth 24 or 32) that
  // takes over `buffer`; null when out of memory.
  static std::unique_ptr<Image> make(PixelBytes buffer, int64_t width, int64_t height, int depth,
                                     int source_depth, size_t capacity = 0) {
    auto record = std::unique_ptr<Image>(new (std::nothrow) Image);
    if (!record) return nullptr;
    record->pixels = std::move(buffer);
    record->width = static_cast<int16_t>(width);
    record->height = static_cast<int16_t>(height);
    record->depth = static_cast<uint8_t>(depth);
    record->source_depth = static_cast<uint8_t>(source_depth);
    record->capacity = std::max(capacity, record->bytes());
    return record;
  }

  // The pixel buffer for a decode of the given geometry: the previous
  // image's when it has room for it (its row padding cleared again),
  // otherwise a new one, taken only after the previous one is freed.
  // `capacity` becomes the bytes of the buffer returned.
  static PixelBytes buffer_for(std::unique_ptr<Image> previous, int64_t width, int64_t height,
                               int depth, size_t& capacity) {
    if (previous && previous->pixels && previous->fits(width, height, depth)) {
      PixelBytes pixels = std::move(previous->pixels);
      clear_padding(pixels.get(), width, height, depth);
      capacity = previous->capacity;
      return pixels;
    }
    previous.reset();
    capacity = 0;
    return allocate_pixels(width, height, depth, false);
  }

  // True when the buffer holds a picture of this geometry.
  bool fits(int64_t w, int64_t h, int d) const {
    if (d != depth || w < 1 || h < 1 || w > kMaxImageSide || h > kMaxImageSide) return false;
    return static_cast<size_t>(pitch_for(w, d)) * static_cast<size_t>(h) <= capacity;
  }
};

ImageService::ImageService() = default;

ImageService::~ImageService() {
  drawing_.reset();
  decoder_context_.private_area.reset();
}

void ImageService::register_decoder(const DecoderDescriptor& decoder) {
  decoders_.push_back(decoder);
}

void ImageService::register_encoder(const EncoderDescriptor& encoder) {
  encoders_.push_back(encoder);
}

bool ImageService::has_decoder(const DecoderDescriptor& decoder) const {
  for (const auto& d : decoders_) {
    if (d.probe == decoder.probe && d.decode == decoder.decode && d.release == decoder.release &&
        d.id == decoder.id)
      return true;
  }
  return false;
}

bool ImageService::has_encoder(const EncoderDescriptor& encoder) const {
  for (const auto& e : encoders_) {
    if (e.id == encoder.id && e.encode24 == encoder.encode24 && e.encode32 == encoder.encode32)
      return true;
  }
  return false;
}

ImageService::Image* ImageService::image(int slot) const {
  if (slot < 0 || static_cast<size_t>(slot) >= slots_.size()) return nullptr;
  return slots_[static_cast<size_t>(slot)].get();
}

std::unique_ptr<ImageService::Image>* ImageService::slot_entry(int slot) {
  if (slot < 0) return nullptr;
  const auto index = static_cast<size_t>(slot);
  if (index >= slots_.size()) {
    try {
      slots_.resize(index + 1);
    } catch (const std::exception&) {
      return nullptr;
    }
  }
  return &slots_[index];
}

std::unique_ptr<ImageService::Image> ImageService::detach(int slot) {
  Image* old = image(slot);
  if (old == nullptr) return nullptr;
  // A drawing context must never outlive the pixels it points into.
  if (drawing_ && drawing_->image == old) drawing_.reset();
  return std::move(slots_[static_cast<size_t>(slot)]);
}

int ImageService::store(int slot, std::unique_ptr<Image> record) {
  if (!record) return 0;
  std::unique_ptr<Image>* entry = slot_entry(slot);
  if (entry == nullptr) return 0;
  *entry = std::move(record);
  return 1;
}

void ImageService::free_image(int slot) { detach(slot); }

const DecoderDescriptor* ImageService::probe_decoders(const uint8_t* data, int32_t size) {
  DecoderContext& context = decoder_context_;
  context = DecoderContext{};
  context.data = data;
  context.data_size = size;
  context.in_memory = 1;
  context.frame_count = 1;
  for (const auto& decoder : decoders_) {
    context.private_area.reset();
    if (decoder.probe != nullptr && decoder.probe(context) != 0) {
      context.accepted = &decoder;
      return &decoder;
    }
  }
  context.private_area.reset();
  return nullptr;
}

bool ImageService::decode_into(const DecoderDescriptor& decoder, uint8_t* pixels) {
  DecoderContext& context = decoder_context_;
  const int64_t pitch = pitch_for(context.width, context.depth);
  bool decoded = false;
  if (pixels != nullptr && pitch <= INT32_MAX && decoder.decode != nullptr)
    decoded = decoder.decode(context, pixels, static_cast<int32_t>(pitch), kBottomUp) != 0;
  if (decoder.release != nullptr) decoder.release(context);
  context.private_area.reset();
  return decoded;
}

int ImageService::load_image(int slot, const Text& file_name) {
  if (slot < 0) return 0;
  Bytes data;
  int32_t size = 0;
  if (!read_whole_file(file_name, data, size)) return 0;

  // From here on the slot is taken. Its pixel buffer is kept until the new
  // picture's geometry is known: a batch loads pictures of one size into
  // the same slots again and again, and decoding into the buffer already
  // in memory spares a fresh allocation and its page faults every time.
  std::unique_ptr<Image> previous = detach(slot);
  const DecoderDescriptor* accepted = probe_decoders(data.get(), size);
  if (accepted == nullptr) return 0;
  const DecoderContext& context = decoder_context_;
  size_t capacity = 0;
  PixelBytes pixels = Image::buffer_for(std::move(previous), context.width, context.height,
                                        context.depth, capacity);
  if (!decode_into(*accepted, pixels.get())) return 0;
  return store(slot, Image::make(std::move(pixels), context.width, context.height, context.depth,
                                 context.source_depth, capacity));
}

int ImageService::create_image(int slot, int64_t width, int64_t height) {
  detach(slot);
  PixelBytes pixels = allocate_pixels(width, height, 24, true);
  if (!pixels) return 0;
  return store(slot, Image::make(std::move(pixels), width, height, 24, 24));
}

int ImageService::reuse_image(int slot, int64_t width, int64_t height) {
  Image* img = image(slot);
  if (img == nullptr || !img->pixels || img->source_depth != 24 || !img->fits(width, height, 24))
    return 0;
  // A drawing context keeps the old geometry: it must not outlive it.
  if (drawing_ && drawing_->image == img) drawing_.reset();
  img->width = static_cast<int16_t>(width);
  img->height = static_cast<int16_t>(height);
  clear_padding(img->pixels.get(), width, height, 24);
  return 1;
}

int64_t ImageService::get_image_width(int slot) const {
  const Image* img = image(slot);
  return img != nullptr ? img->width : 0;
}

int64_t ImageService::get_image_height(int slot) const {
  const Image* img = image(slot);
  return img != nullptr ? img->height : 0;
}

int ImageService::get_image_source_depth(int slot) const {
  const Image* img = image(slot);
  return img != nullptr ? img->source_depth : 0;
}

int ImageService::begin_drawing(int slot) {
  const Image* img = image(slot);
  if (img == nullptr || !img->pixels) return 0;
  auto context = std::unique_ptr<Drawing>(new (std::nothrow) Drawing);
  if (!context) return 0;
  context->image = img;
  context->pixels = img->pixels.get();
  context->pitch = img->pitch();
  context->width = img->width;
  context->height = img->height;
  context->bytes_per_pixel = img->depth / 8;
  drawing_ = std::move(context);
  return 1;
}

void ImageService::end_drawing() { drawing_.reset(); }

bool ImageService::drawing() const { return drawing_ != nullptr; }

const EncoderDescriptor* ImageService::encoder(uint32_t id) const {
  for (const auto& e : encoders_) {
    if (e.id == id) return &e;
  }
  return nullptr;
}

int ImageService::saved(int result) {
  save_error_ = result != 0 ? 0 : errno;
  return result;
}

int ImageService::save_image(int slot, const Text& file_name, uint32_t encoder_id,
                             int32_t quality_level) {
  save_error_ = 0;
  const Image* img = image(slot);
  if (file_name.empty() || img == nullptr || !img->pixels) return 0;
  const int requested_depth = img->source_depth;
  switch (requested_depth) {
    case 1: case 2: case 4: case 8: case 24: case 32: break;
    default: return 0;
  }
  const EncoderDescriptor* chosen = encoder(encoder_id);
  if (chosen == nullptr) return 0;
  const Encode24 encode = img->depth == 24 ? chosen->encode24
                          : img->depth == 32 ? chosen->encode32
                                             : nullptr;
  if (encode == nullptr) return 0;
  errno = 0;
  return saved(encode(file_name, img->pixels.get(), img->width, img->height,
                      static_cast<int32_t>(img->pitch()), kBottomUp, quality_level,
                      requested_depth));
}

namespace {

bool app1_well_formed(std::span<const uint8_t> app1) {
  return app1.empty() || (app1.size() >= 2 && app1.size() <= 65535 &&
                          (size_t{app1[0]} << 8 | app1[1]) == app1.size());
}

const uint8_t* view_row(void* context, int32_t y) {
  return static_cast<const PixelView*>(context)->row(y);
}

}  // namespace

int ImageService::save_image_with_app1(int slot, const Text& file_name, uint32_t encoder_id,
                                       int32_t quality_level, std::span<const uint8_t> app1) {
  save_error_ = 0;
  const Image* img = image(slot);
  if (img == nullptr || !img->pixels || img->depth != 24 || img->source_depth != 24 ||
      app1.empty()) {
    return 0;
  }
  PixelView picture = view(slot);
  return save_rows(RowSource{view_row, &picture}, picture.width, picture.height, file_name,
                   encoder_id, quality_level, app1);
}

int ImageService::save_rows(const RowSource& rows, int64_t width, int64_t height,
                            const Text& file_name, uint32_t encoder_id, int32_t quality_level,
                            std::span<const uint8_t> app1) {
  save_error_ = 0;
  const EncoderDescriptor* chosen = encoder(encoder_id);
  if (file_name.empty() || rows.row == nullptr || width < 1 || height < 1 ||
      width > kMaxImageSide || height > kMaxImageSide || chosen == nullptr ||
      chosen->encode_rows == nullptr || !app1_well_formed(app1)) {
    return 0;
  }
  errno = 0;
  return saved(chosen->encode_rows(file_name, rows, static_cast<int32_t>(width),
                                   static_cast<int32_t>(height), quality_level, app1));
}

PixelView ImageService::view(int slot) const {
  const Image* img = image(slot);
  if (img == nullptr || !img->pixels) return {};
  return PixelView{img->pixels.get(), img->width, img->height, img->pitch()};
}

void PixelGrid::FreeDeleter::operator()(int64_t* ptr) const { std::free(ptr); }

void allocate_grid(PixelGrid& grid, int64_t p, int64_t q) {
  grid.data_.reset();
  grid.p_ = -1;
  grid.q_ = -1;
  grid.capacity_ = 0;
  if (p < 0 || q < 0 || p >= INT64_MAX || q >= INT64_MAX) return;
  const auto rows = static_cast<uint64_t>(p) + 1;
  const auto columns = static_cast<uint64_t>(q) + 1;
  if (columns > SIZE_MAX / sizeof(int64_t) / rows) return;
  // calloc: the zero fill of a large grid comes from fresh pages for free.
  auto* block = static_cast<int64_t*>(std::calloc(rows * columns, sizeof(int64_t)));
  if (block == nullptr) return;
  grid.data_.reset(block);
  grid.p_ = p;
  grid.q_ = q;
  grid.capacity_ = rows * columns;
}

bool reuse_grid(PixelGrid& grid, int64_t p, int64_t q) {
  if (!grid || p < 0 || q < 0 || p >= INT64_MAX || q >= INT64_MAX) return false;
  const auto rows = static_cast<uint64_t>(p) + 1;
  const auto columns = static_cast<uint64_t>(q) + 1;
  if (columns > grid.capacity_ / rows) return false;
  grid.p_ = p;
  grid.q_ = q;
  // What a fill leaves alone must read as zero, as in a fresh grid.
  for (int64_t i = 0; i < p; ++i) grid.at(i, q) = 0;
  std::fill_n(&grid.at(p, 0), columns, int64_t{0});
  return true;
}

}  // namespace mpo
