#include "large_blocks.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vendral {

namespace {

// Below this a block spans too few huge pages to matter.
constexpr size_t large_block = size_t{4} << 20;
// Below this a block's pages are few, and often still mapped from before.
constexpr size_t block_worth_populating = size_t{256} << 10;
constexpr uintptr_t huge_page = uintptr_t{2} << 20;
constexpr uintptr_t small_page = 4096;

// The pages of `size` wholly inside block[0, bytes), as [*first, *end).
bool whole_pages(const void *block, size_t bytes, uintptr_t size, uintptr_t *first, uintptr_t *end) {
    const auto start = reinterpret_cast<uintptr_t>(block);
    *first = (start + size - 1) & ~(size - 1);
    *end = (start + bytes) & ~(size - 1);
    return *end > *first;
}

}  // namespace

void prefer_huge_pages(void *block, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (block == nullptr || bytes < large_block) return;
    // Only whole huge pages inside the block: the advice applies to whole
    // pages, and the block's edges may share theirs with other blocks.
    uintptr_t first, end;
    if (whole_pages(block, bytes, huge_page, &first, &end))
        madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}

void prepare_to_write_whole(void *block, size_t bytes) {
    prefer_huge_pages(block, bytes);
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    // The pages mapped in one call rather than one fault each (Linux 5.14
    // on; older systems refuse the advice, and nothing changes).
    uintptr_t first, end;
    if (block != nullptr && bytes >= block_worth_populating && whole_pages(block, bytes, small_page, &first, &end))
        madvise(reinterpret_cast<void *>(first), end - first, MADV_POPULATE_WRITE);
#endif
}

}  // namespace vendral
