// Large blocks from the host: where the system maps memory in pages of a
// few kilobytes and takes a fault on each one's first touch, a block of tens
// of megabytes costs thousands of faults every call (the host's allocator
// gives such blocks back to the system when they are freed). Asking for huge
// pages on them turns those into a few dozen.
#ifndef VENDRAL_HOST_LARGE_BLOCKS_H
#define VENDRAL_HOST_LARGE_BLOCKS_H

#include <cstddef>

namespace vendral {

// A hint for the pages wholly inside block[0, bytes): it changes nothing
// but speed, and nothing at all where the system has no such hint or the
// block is small.
void prefer_huge_pages(void *block, size_t bytes);

// The same, and for a block about to be written whole: its pages mapped at
// once, where the system can (each first touch of a page would otherwise
// fault; on a virtual machine a fault may cost ten microseconds or more).
void prepare_to_write_whole(void *block, size_t bytes);

}  // namespace vendral

#endif  // VENDRAL_HOST_LARGE_BLOCKS_H
