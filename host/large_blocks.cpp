#include "large_blocks.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vendral {

namespace {

// Below this a block spans too few huge pages to matter.
constexpr size_t large_block = size_t{4} << 20;
constexpr uintptr_t huge_page = uintptr_t{2} << 20;

}  // namespace

void prefer_huge_pages(void *block, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (block == nullptr || bytes < large_block) return;
    // Only whole huge pages inside the block: the advice applies to whole
    // pages, and the block's edges may share theirs with other blocks.
    const auto start = reinterpret_cast<uintptr_t>(block);
    const uintptr_t first = (start + huge_page - 1) & ~(huge_page - 1);
    const uintptr_t end = (start + bytes) & ~(huge_page - 1);
    if (end > first) madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}

}  // namespace vendral
