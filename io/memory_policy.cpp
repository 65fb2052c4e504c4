#include "io/memory_policy.h"

#include <sys/mman.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace mpo {

namespace {

constexpr uintptr_t kHuge = uintptr_t{2} << 20;

// Has the kernel fault in (allocate and clear) the pages of the range on a
// thread of its own, while this one goes on. Faulting in a page that is
// already there changes nothing, so the range may be in use meanwhile; a
// range that was given back in between only makes the call fail.
void fault_in_aside(uintptr_t first, uintptr_t end) {
#ifdef MADV_POPULATE_WRITE
  if (end <= first) return;
  try {
    std::thread([first, end] {
      madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
    }).detach();
  } catch (const std::system_error&) {
    // No thread: the pages are faulted in where they are first touched.
  }
#else
  (void)first, (void)end;
#endif
}

// Fresh blocks of many megabytes are otherwise faulted in 4 KiB at a time,
// which costs more than the copies into them; huge pages, asked for before
// the first touch, cut the faults by a factor of 512 where the system allows
// it.
void ask_for_huge_pages(uintptr_t begin, uintptr_t end) {
#ifdef MADV_HUGEPAGE
  const uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t last = end & ~(kHuge - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)begin, (void)end;
#endif
}

}  // namespace

// The kernel's clearing of the fresh pages stays, the largest part of a
// first entry's extra time: it is done aside, on another processor if one
// is idle.
void prefer_huge_pages(void* start, int64_t bytes) {
  if (bytes <= 0) return;
  const auto begin = reinterpret_cast<uintptr_t>(start);
  const uintptr_t end = begin + static_cast<uintptr_t>(bytes);
  ask_for_huge_pages(begin, end);
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  fault_in_aside((begin + page - 1) & ~(page - 1), end & ~(page - 1));
}

// Every entry allocates the same large blocks again: the file bytes, the
// decoded halves, the composites. By default the allocator hands blocks
// of this size back to the system when they are freed, and the next entry
// pays a page fault for every 4 KiB of them, which costs more than the copies
// into them. Kept in the heap up to the largest size the allocator allows
// (the grids and the side-by-side image are larger; the composites step
// keeps those itself), they are reused as they are.
//
// Parallel workers share the one arena: a worker's own arena is made of
// heaps of at most 64 MiB that are handed back as soon as they are empty,
// so the same blocks were faulted in again and the heaps fragmented. The
// workers allocate seldom (a few dozen blocks per entry), so sharing the
// arena's lock costs nothing measurable.
//
// The first entry still finds the heap empty and faults all of it in, a
// few hundred milliseconds at 4 KiB a page. The heap's next part, as much as
// the workers' blocks of 10-megapixel pictures take, is asked for huge pages
// before anything touches it: taken and given back at once, it stays
// reserved but untouched, so it costs no memory until it is used.
void keep_large_blocks_in_heap(int jobs) {
#if defined(__GLIBC__) && defined(M_MMAP_THRESHOLD) && defined(M_TRIM_THRESHOLD) && \
    defined(M_ARENA_MAX) && defined(MADV_HUGEPAGE)
  constexpr size_t kBlock = size_t{30} << 20;  // below the mmap threshold: from the heap
  constexpr int kBlocksPerJob = 5;              // slots 3, 4, 6 and 7, file bytes and buffers
  constexpr int kMostJobs = 6;                  // the reserve stays below the trim threshold
  static std::once_flag once, shared;
  static int reserved_jobs = 0;
  static std::mutex reserve;
  std::call_once(once, [] {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
  });
  if (jobs > 1) std::call_once(shared, [] { mallopt(M_ARENA_MAX, 1); });

  std::lock_guard lock(reserve);
  const int more = std::min(jobs, kMostJobs) - reserved_jobs;
  if (more <= 0) return;
  reserved_jobs += more;
  std::vector<void*> blocks;
  for (int i = 0; i < more * kBlocksPerJob; ++i) {
    void* block = std::malloc(kBlock);
    if (block == nullptr) break;
    blocks.push_back(block);
    const auto begin = reinterpret_cast<uintptr_t>(block);
    ask_for_huge_pages(begin, begin + kBlock);
  }
  for (void* block : blocks) std::free(block);
#else
  (void)jobs;
#endif
}

}  // namespace mpo
