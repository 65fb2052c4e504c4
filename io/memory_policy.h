// How the programs use memory: allocator settings that keep the large
// blocks of an entry in the heap for the next one, and huge pages for fresh
// blocks of many megabytes.
#pragma once

#include <cstdint>

namespace mpo {

// Sets up the allocator for a run of `jobs` entries at once and reserves the
// heap for their first blocks. Called by a program before its run (before
// any worker starts); calling it again with more jobs reserves more.
void keep_large_blocks_in_heap(int jobs);

// Asks for huge pages for the whole 2 MiB pages inside [start, start +
// bytes), before anything touches them, and has the range's pages faulted in
// on a thread of its own meanwhile. Either does nothing where the system
// has no such advice.
void prefer_huge_pages(void* start, int64_t bytes);

}  // namespace mpo
