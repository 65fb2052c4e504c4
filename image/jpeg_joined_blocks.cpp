// Shared block memory of the side-by-side join.
//
// The memory comes straight from the kernel: its pages are zero, as the
// decompressor needs them (it writes only the nonzero coefficients), and
// nothing clears them a second time. Large pages are asked for where the
// system offers them: a camera-size join needs some 60 MB, and faulting
// that in as 4 KiB pages costs more than the copy it replaces.
#include "image/jpeg_joined_blocks.h"

#include <sys/mman.h>

#include <jerror.h>

namespace mpo::jpeg {

struct JoinedBlocks::Memory {
  explicit Memory(size_t bytes) : size(bytes) {
    base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
#ifdef MADV_HUGEPAGE
    if (base != MAP_FAILED) madvise(base, size, MADV_HUGEPAGE);
#endif
  }
  ~Memory() {
    if (base != MAP_FAILED) munmap(base, size);
  }
  Memory(const Memory&) = delete;
  Memory& operator=(const Memory&) = delete;

  size_t size;
  void* base;
};

// What one codec sees: per component its part of every block row.
struct JoinedBlocks::View {
  struct Array {
    std::vector<JBLOCKROW> rows;
    JDIMENSION columns;  // blocks per row as the codec counts them
  };
  std::vector<Array> arrays;
  std::vector<jvirt_barray_ptr> handles;  // the arrays, as libjpeg holds them
  size_t requested = 0;
};

namespace {

using View = JoinedBlocks::View;

JDIMENSION round_up(JDIMENSION value, int multiple) {
  const auto m = static_cast<JDIMENSION>(multiple);
  return (value + m - 1) / m * m;
}

// The decompressor asks for its components' arrays in component order.
jvirt_barray_ptr request_blocks(j_common_ptr codec, int, boolean, JDIMENSION blocks_per_row,
                                JDIMENSION rows, JDIMENSION) {
  auto* view = static_cast<View*>(codec->client_data);
  if (view->requested >= view->arrays.size() ||
      view->arrays[view->requested].columns != blocks_per_row ||
      view->arrays[view->requested].rows.size() != rows) {
    ERREXIT(codec, JERR_BAD_VIRTUAL_ACCESS);
    return nullptr;
  }
  return view->handles[view->requested++];
}

JBLOCKARRAY access_blocks(j_common_ptr codec, jvirt_barray_ptr handle, JDIMENSION start,
                          JDIMENSION count, boolean) {
  auto* array = reinterpret_cast<View::Array*>(handle);
  if (start > array->rows.size() || count > array->rows.size() - start) {
    ERREXIT(codec, JERR_BAD_VIRTUAL_ACCESS);
    return nullptr;
  }
  return array->rows.data() + start;
}

// The view whose rows start `offset(component)` blocks into each joined
// row and are `columns(component)` blocks wide.
template <class Offset, class Columns>
std::unique_ptr<View> make_view(const std::vector<JoinedBlocks::Component>& components, Offset offset,
                                Columns columns) {
  auto view = std::make_unique<View>();
  view->arrays.resize(components.size());
  for (size_t ci = 0; ci < components.size(); ++ci) {
    const JoinedBlocks::Component& c = components[ci];
    View::Array& array = view->arrays[ci];
    array.columns = columns(c);
    array.rows.resize(c.rows);
    for (JDIMENSION row = 0; row < c.rows; ++row)
      array.rows[row] = c.first + size_t{row} * c.stride + offset(c);
    view->handles.push_back(reinterpret_cast<jvirt_barray_ptr>(&array));
  }
  return view;
}

void attach(j_common_ptr codec, View* view) {
  codec->client_data = view;
  codec->mem->request_virt_barray = request_blocks;
  codec->mem->access_virt_barray = access_blocks;
}

}  // namespace

JoinedBlocks::JoinedBlocks() = default;
JoinedBlocks::~JoinedBlocks() = default;

bool JoinedBlocks::allocate(const jpeg_decompress_struct& left, const jpeg_decompress_struct& right) {
  components_.resize(static_cast<size_t>(left.num_components));
  size_t blocks = 0;
  for (int ci = 0; ci < left.num_components; ++ci) {
    const jpeg_component_info& l = left.comp_info[ci];
    const jpeg_component_info& r = right.comp_info[ci];
    Component& c = components_[static_cast<size_t>(ci)];
    c.left_columns = round_up(l.width_in_blocks, l.h_samp_factor);
    c.stride = c.left_columns + round_up(r.width_in_blocks, r.h_samp_factor);
    c.rows = round_up(l.height_in_blocks, l.v_samp_factor);
    c.columns = c.left_columns + r.width_in_blocks;
    c.real_rows = l.height_in_blocks;
    blocks += size_t{c.stride} * c.rows;
  }
  memory_ = std::make_unique<Memory>(blocks * sizeof(JBLOCK));
  if (memory_->base == MAP_FAILED) return false;
  auto next = static_cast<JBLOCKROW>(memory_->base);
  for (Component& c : components_) {
    c.first = next;
    next += size_t{c.stride} * c.rows;
  }
  left_ = make_view(components_, [](const Component&) { return JDIMENSION{0}; },
                    [](const Component& c) { return c.left_columns; });
  right_ = make_view(components_, [](const Component& c) { return c.left_columns; },
                     [](const Component& c) { return c.stride - c.left_columns; });
  output_ = make_view(components_, [](const Component&) { return JDIMENSION{0}; },
                      [](const Component& c) { return c.stride; });
  return true;
}

void JoinedBlocks::attach_left(j_decompress_ptr left) {
  attach(reinterpret_cast<j_common_ptr>(left), left_.get());
}

void JoinedBlocks::attach_right(j_decompress_ptr right) {
  attach(reinterpret_cast<j_common_ptr>(right), right_.get());
}

jvirt_barray_ptr* JoinedBlocks::attach_output(j_compress_ptr out) {
  attach(reinterpret_cast<j_common_ptr>(out), output_.get());
  return output_->handles.data();
}

}  // namespace mpo::jpeg
