#include "platform/memory.h"

#include <malloc.h>

namespace tolvanik::platform {
namespace {

// The largest block the C library lets its heap hand out instead of
// mapping fresh pages for it; every document the host reads fits.
constexpr int kLargestHeapBlock = 32 * 1024 * 1024;
constexpr int kNeverTrim = 1 << 30;

}  // namespace

void keep_freed_memory_in_one_heap() {
  // Fixed values also stop the library from moving the thresholds itself.
  mallopt(M_MMAP_THRESHOLD, kLargestHeapBlock);
  mallopt(M_TRIM_THRESHOLD, kNeverTrim);
  // Otherwise the input reader gets a heap of its own, which the library
  // grows a page at a time, one mprotect call each, while the reader runs
  // ahead of a flood; the process's one heap grows in steps of its top pad.
  // The main thread frees what the reader allocates either way.
  mallopt(M_ARENA_MAX, 1);
}

}  // namespace tolvanik::platform
