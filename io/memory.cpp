#include "io/memory.h"

namespace mpo {

MemoryBlock MemoryBlock::allocate(int64_t size) {
  MemoryBlock block;
  if (size <= 0) return block;
  // calloc hands out zero pages lazily: large blocks cost nothing until used.
  auto* p = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(size), 1));
  if (p == nullptr) return block;
  block.data_.reset(p);
  block.size_ = size;
  return block;
}

bool MemoryBlock::contains(int64_t offset, int64_t count) const {
  return data_ && offset >= 0 && count >= 0 && offset <= size_ && count <= size_ - offset;
}

int MemoryBlock::read_byte(int64_t offset) const {
  return contains(offset, 1) ? data_[static_cast<size_t>(offset)] : 0;
}

void MemoryBlock::write_byte(int64_t offset, int64_t value) {
  if (contains(offset, 1)) data_[static_cast<size_t>(offset)] = static_cast<uint8_t>(value & 0xFF);
}

void MemoryBlock::release() {
  data_.reset();
  size_ = 0;
}

}  // namespace mpo
