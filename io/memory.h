// Memory blocks: zero-filled, owned, with bounds-checked byte access.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

namespace mpo {

class MemoryBlock {
 public:
  MemoryBlock() = default;

  // A zero-filled block of `size` bytes, or an empty block when size <= 0 or
  // the memory is exhausted.
  static MemoryBlock allocate(int64_t size);

  explicit operator bool() const { return data_ != nullptr; }
  int64_t size() const { return size_; }
  uint8_t* data() { return data_.get(); }
  const uint8_t* data() const { return data_.get(); }
  // The whole block as bytes; empty for an empty block.
  std::span<const uint8_t> bytes() const {
    return data_ ? std::span<const uint8_t>(data_.get(), static_cast<size_t>(size_))
                 : std::span<const uint8_t>();
  }

  // The byte at `offset` (0..255); 0 for an offset outside the block.
  int read_byte(int64_t offset) const;
  // Stores the low 8 bits of `value`; an offset outside the block is ignored.
  void write_byte(int64_t offset, int64_t value);
  // True when [offset, offset + count) lies inside the block.
  bool contains(int64_t offset, int64_t count) const;

  void release();

 private:
  struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t[], FreeDeleter> data_;
  int64_t size_ = 0;
};

inline MemoryBlock memory_allocate(int64_t size) { return MemoryBlock::allocate(size); }
inline void memory_free(MemoryBlock& block) { block.release(); }

}  // namespace mpo
