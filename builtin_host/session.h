// The state of the call in progress, shared by the host's operations.
#ifndef VENDRAL_BUILTIN_HOST_SESSION_H
#define VENDRAL_BUILTIN_HOST_SESSION_H

#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "builtin_host.h"

namespace builtin_host {

struct session {
    call_options options;
    call_outcome *outcome = nullptr;
    std::thread::id host_thread;
    std::unordered_map<void *, size_t> blocks;      // live allocations and their sizes
    size_t live_bytes = 0;
    std::unordered_set<mxArray *> created_arrays;  // arrays made during the call
};

extern session current;

// Notes one host operation: counts those made off the host's thread or after
// a raise.
void enter_operation();
void note_misuse();

// Whether the next allocation request is the one to refuse.
bool refuse_next_allocation();

}  // namespace builtin_host

#endif  // VENDRAL_BUILTIN_HOST_SESSION_H
