// The call boundary and the host services that live for one call: the
// allocator, the console, warnings, errors and the operation counter.
#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "session.h"

namespace builtin_host {

session current;

namespace {

#if defined(VENDRAL_BUILTIN_HOST_ENDS_CALL_WITH_LONGJMP)
// A 32-bit MinGW DLL links its own static copy of the DWARF unwinder and
// registers its frames with that copy only, so the host's unwinder cannot pass
// through them: an exception from mexErrMsgTxt would end the process, not the
// call. Such a host ends the call as a C host does, with a jump back to the
// boundary; the module keeps no destructors in the frames jumped over.
void *call_boundary[5];

[[noreturn]] void end_call() { __builtin_longjmp(call_boundary, 1); }
#else
// Thrown by mexErrMsgTxt and caught at the call boundary: the host's way of
// ending a call.
struct raised_error {};

[[noreturn]] void end_call() { throw raised_error{}; }
#endif

call_outcome idle_outcome;  // absorbs operations made outside a call

call_outcome &outcome() { return current.outcome != nullptr ? *current.outcome : idle_outcome; }

void note_bytes(ptrdiff_t change) {
    current.live_bytes += change;
    outcome().peak_bytes = std::max(outcome().peak_bytes, current.live_bytes);
}

void *allocate(size_t bytes, bool zeroed) {
    if (bytes == 0 && current.options.null_for_zero_bytes) return nullptr;
    void *block = zeroed ? std::calloc(bytes > 0 ? bytes : 1, 1) : std::malloc(bytes > 0 ? bytes : 1);
    if (block != nullptr && !zeroed && current.options.unzeroed_fill >= 0)
        std::memset(block, current.options.unzeroed_fill, bytes);
    if (block != nullptr) {
        current.blocks[block] = bytes;
        note_bytes(static_cast<ptrdiff_t>(bytes));
    }
    return block;
}

}  // namespace

void enter_operation() {
    if (std::this_thread::get_id() != current.host_thread) ++outcome().off_thread_operations;
    if (outcome().raise_count > 0) ++outcome().operations_after_raise;
}

void note_misuse() { ++outcome().misuses; }

bool refuse_next_allocation() {
    const uint64_t index = ++outcome().allocations;
    return index == current.options.fail_allocation;
}

call_outcome within_call(const std::function<void()> &body, const call_options &options) {
    call_outcome result;
    current = session{};
    current.options = options;
    current.outcome = &result;
    current.host_thread = std::this_thread::get_id();

    // A raise ends the call here; what it made is reclaimed below.
#if defined(VENDRAL_BUILTIN_HOST_ENDS_CALL_WITH_LONGJMP)
    if (__builtin_setjmp(call_boundary) == 0) body();
#else
    try {
        body();
    } catch (const raised_error &) {
    }
#endif

    result.blocks_left = current.blocks.size();
    for (auto &block : current.blocks) std::free(block.first);
    for (mxArray *array : current.created_arrays) delete array;
    current = session{};
    return result;
}

call_outcome call(int nlhs, const std::vector<const mxArray *> &args, const call_options &options) {
    return call(nlhs, args, options, mexFunction);
}

call_outcome call(int nlhs, const std::vector<const mxArray *> &args, const call_options &options,
                  const module_entry &entry) {
    std::vector<mxArray *> plhs(nlhs > 0 ? static_cast<size_t>(nlhs) : 1, nullptr);
    std::vector<mxArray *> kept;
    call_outcome result = within_call(
        [&] {
            entry(nlhs, plhs.data(), static_cast<int>(args.size()), const_cast<const mxArray **>(args.data()));
            // Results pass to the caller only when the call ends normally.
            if (current.outcome->raised) return;
            for (int i = 0; i < nlhs; ++i)
                if (plhs[i] != nullptr && current.created_arrays.erase(plhs[i]) == 1)
                    kept.push_back(plhs[i]);
        },
        options);
    for (mxArray *array : kept) result.results.emplace_back(array);
    return result;
}

}  // namespace builtin_host

using builtin_host::current;
using builtin_host::enter_operation;

extern "C" {

void *mxCalloc(size_t count, size_t size) {
    enter_operation();
    if (builtin_host::refuse_next_allocation()) return nullptr;
    if (size != 0 && count > std::numeric_limits<size_t>::max() / size) return nullptr;
    return builtin_host::allocate(count * size, true);
}

void *mxMalloc(size_t bytes) {
    enter_operation();
    if (builtin_host::refuse_next_allocation()) return nullptr;
    return builtin_host::allocate(bytes, false);
}

void *mxRealloc(void *block, size_t bytes) {
    enter_operation();
    if (builtin_host::refuse_next_allocation()) return nullptr;
    if (block == nullptr) return builtin_host::allocate(bytes, true);
    auto known = current.blocks.find(block);
    if (known == current.blocks.end()) {
        builtin_host::note_misuse();
        return nullptr;
    }
    void *moved = std::realloc(block, bytes > 0 ? bytes : 1);
    if (moved == nullptr) return nullptr;
    builtin_host::note_bytes(static_cast<ptrdiff_t>(bytes) - static_cast<ptrdiff_t>(known->second));
    current.blocks.erase(known);
    current.blocks[moved] = bytes;
    return moved;
}

void mxFree(void *block) {
    enter_operation();
    if (block == nullptr) return;
    auto known = current.blocks.find(block);
    if (known == current.blocks.end()) {
        builtin_host::note_misuse();
        return;
    }
    builtin_host::note_bytes(-static_cast<ptrdiff_t>(known->second));
    current.blocks.erase(known);
    std::free(block);
}

int mexPrintf(const char *format, ...) {
    enter_operation();
    va_list values;
    va_start(values, format);
    va_list measure;
    va_copy(measure, values);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length > 0) {
        std::string text(static_cast<size_t>(length) + 1, '\0');
        std::vsnprintf(&text[0], text.size(), format, values);
        text.pop_back();
        builtin_host::outcome().console += text;
    }
    va_end(values);
    return length;
}

void mexWarnMsgTxt(const char *message) {
    enter_operation();
    builtin_host::outcome().warnings.emplace_back(message);
}

void mexErrMsgTxt(const char *message) {
    enter_operation();
    builtin_host::call_outcome &outcome = builtin_host::outcome();
    if (outcome.raise_count++ == 0) outcome.error = message;
    outcome.raised = true;
    if (!current.options.raise_returns) builtin_host::end_call();
}

void mexAddFlops(int count) {
    enter_operation();
    if (count < 0) builtin_host::note_misuse();
    builtin_host::outcome().flops_added += static_cast<uint64_t>(count);
    ++builtin_host::outcome().flop_calls;
}

}  // extern "C"
