// The narrow seam through which the module's run reaches its host:
// call-scoped memory, the console and the operation counter.
// host/host_services.cpp implements it over the MEX API; nothing in
// classifier/ sees the host itself, and the engine and its models see only
// an allocator. Every function here must be called from the host's thread
// only.
#ifndef VENDRAL_CLASSIFIER_HOST_SERVICES_H
#define VENDRAL_CLASSIFIER_HOST_SERVICES_H

#include <cstddef>
#include <cstdint>

#include "classifier/model.h"

namespace vendral {

// Zeroed block of count*size bytes, or null when memory is short.
void *host_calloc(size_t count, size_t size);
// Block of count*size bytes holding anything, or null when memory is short:
// for memory written whole before it is read, which zeroing would only slow.
void *host_malloc(size_t count, size_t size);
// Resized block keeping its contents (null block: fresh allocation), or null.
void *host_realloc(void *block, size_t bytes);
void host_free(void *block);
// The four above as an allocator, for a model that lives within the call.
allocator host_allocator();

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void host_printf(const char *format, ...);

// Advances the host's floating-point operation counter by the full count.
void host_add_flops(uint64_t count);

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_HOST_SERVICES_H
