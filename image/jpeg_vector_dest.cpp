#include "image/jpeg_vector_dest.h"

#include <algorithm>
#include <new>

#include <jerror.h>

namespace mpo::jpeg {

namespace {

constexpr size_t kSmallestBuffer = 4096;

// Makes `bytes` `size` long; false when there is no memory for it.
bool resize(std::vector<uint8_t>& bytes, size_t size) {
  try {
    bytes.resize(size);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

void VectorDestination::attach(j_compress_ptr out, size_t expected) {
  expected_ = expected;
  sink_.manager.init_destination = start;
  sink_.manager.empty_output_buffer = grow;
  sink_.manager.term_destination = finish;
  sink_.owner = this;
  out->dest = &sink_.manager;
}

VectorDestination& VectorDestination::owner_of(j_compress_ptr out) {
  return *reinterpret_cast<Sink*>(out->dest)->owner;
}

void VectorDestination::start(j_compress_ptr out) {
  VectorDestination& self = owner_of(out);
  if (!resize(self.bytes_, std::max(self.expected_, kSmallestBuffer))) ERREXIT(out, JERR_OUT_OF_MEMORY);
  out->dest->next_output_byte = self.bytes_.data();
  out->dest->free_in_buffer = self.bytes_.size();
}

// libjpeg calls this when the buffer is full: all of it is written.
boolean VectorDestination::grow(j_compress_ptr out) {
  VectorDestination& self = owner_of(out);
  const size_t written = self.bytes_.size();
  if (!resize(self.bytes_, 2 * written)) ERREXIT(out, JERR_OUT_OF_MEMORY);
  out->dest->next_output_byte = self.bytes_.data() + written;
  out->dest->free_in_buffer = self.bytes_.size() - written;
  return TRUE;
}

void VectorDestination::finish(j_compress_ptr out) {
  VectorDestination& self = owner_of(out);
  self.bytes_.resize(self.bytes_.size() - out->dest->free_in_buffer);
}

}  // namespace mpo::jpeg
