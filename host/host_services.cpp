// The engine's host seam, implemented over the MEX API.
#include <climits>
#include <cstdint>
#include <cstdarg>
#include <cstdio>

#include "classifier/host_services.h"
#include "host_api.h"
#include "large_blocks.h"

namespace vendral {

void *host_calloc(size_t count, size_t size) {
    void *block = mxCalloc(count, size);
    if (block != nullptr) prefer_huge_pages(block, count * size);
    return block;
}

void *host_malloc(size_t count, size_t size) {
    if (size != 0 && count > SIZE_MAX / size) return nullptr;
    void *block = host_block_to_write(count * size);
    prepare_to_write_whole(block, count * size);
    return block;
}

void *host_realloc(void *block, size_t bytes) { return mxRealloc(block, bytes); }

void host_free(void *block) { mxFree(block); }

namespace {

void *zeroed(size_t count, size_t size, void *) { return host_calloc(count, size); }
void *unzeroed(size_t count, size_t size, void *) { return host_malloc(count, size); }
void *resized(void *block, size_t bytes, void *) { return host_realloc(block, bytes); }
void release(void *block, void *) { host_free(block); }

}  // namespace

allocator host_allocator() { return {zeroed, unzeroed, resized, release, nullptr}; }

void host_printf(const char *format, ...) {
    // Every line the engine prints is short; mexPrintf has no va_list form.
    char line[1024];
    va_list values;
    va_start(values, format);
    std::vsnprintf(line, sizeof line, format, values);
    va_end(values);
    mexPrintf("%s", line);
}

// The host counter takes an int per call: the count goes over in pieces, and
// in one call even when it is 0.
void host_add_flops(uint64_t count) {
    while (count > static_cast<uint64_t>(INT_MAX)) {
        mexAddFlops(INT_MAX);
        count -= INT_MAX;
    }
    mexAddFlops(static_cast<int>(count));
}

}  // namespace vendral
