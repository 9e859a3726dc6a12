// How fuzz input bytes describe one whole call of the module, and the
// decoder that turns them into host arrays and call options. The seed-corpus
// writer uses the same constants to encode calls the other way round.
//
// Layout (a missing byte reads as 0):
//   byte 0   nlhs = b % 3; bit 2: mexErrMsgTxt returns; bit 3: zero-byte
//            requests answered with null; bits 4-5: engine threads (0 one per
//            processor, else 1, 2 or 4); bit 6: the engine's literal evaluation
//   byte 1   allocation to refuse: b < refusal_offset none, else b - refusal_offset + 1
//   byte 2   argument count = b % 11
//   then per argument:
//     byte A   dimension count (A & 3) + 1; element class index (A >> 2) & 15;
//              bit 6 sparse; bit 7 complex
//     byte B   bit 0 logical; bits 1-2 fill mode
//     one byte per dimension: size = b % 17 below 192 (the small sizes
//     most inputs use), 17 + (b - 192) from 192 to 254 (more patterns than
//     one thread's chunk), huge_dimension for 255
//     fill bytes (see fill_mode), then as many again for the imaginary part
//     when complex
#ifndef VENDRAL_FUZZ_CALL_ENCODING_H
#define VENDRAL_FUZZ_CALL_ENCODING_H

#include <climits>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "builtin_host/builtin_host.h"

namespace fuzzing {

constexpr int refusal_offset = 64;
constexpr int max_arguments = 10;
constexpr int max_dimensions = 4;
constexpr int size_modulus = 17;
constexpr int large_size_byte = 192;
constexpr uint8_t huge_dimension_byte = 255;
constexpr int huge_dimension = INT_MAX;
// Arrays hold at most this many elements: every execution stays fast.
constexpr size_t max_elements = 1024;

enum fill_mode : uint8_t {
    each_element = 0,    // one edge-value byte per element
    all_same = 1,        // one edge-value byte for all elements
    small_integers = 2,  // byte k: element i = 1 + i % (k % 8 + 1), labels of up to 8 classes
    ramp = 3,            // bytes a, b: element i = edge(a) + i * edge(b)
};

// Element classes by index: double is most of them, so that decoded calls
// are often well-formed.
constexpr mxClassID element_classes[16] = {
    mxDOUBLE_CLASS, mxDOUBLE_CLASS, mxDOUBLE_CLASS, mxDOUBLE_CLASS, mxDOUBLE_CLASS, mxDOUBLE_CLASS,
    mxDOUBLE_CLASS, mxDOUBLE_CLASS, mxSINGLE_CLASS, mxINT8_CLASS,   mxUINT8_CLASS,  mxINT32_CLASS,
    mxUINT32_CLASS, mxCHAR_CLASS,   mxCELL_CLASS,   mxSTRUCT_CLASS};

// The values every element is drawn from: zero and signed zero, halves,
// the truncation edges of kernel_type and oflag, infinities, NaN, the 32-bit
// and 53-bit edges, the extremes of magnitude and denormals.
const std::vector<double> &edge_values();

struct decoded_call {
    int nlhs = 1;
    int engine_threads = 0;  // 0: one per processor
    bool literal_evaluation = false;
    builtin_host::call_options options;
    std::vector<builtin_host::array_ptr> arguments;
    // Patterns with a huge row count and no columns would ask the host for a
    // result of 2^31 rows: a legitimate, slow call, not worth an execution.
    bool too_large = false;
};

decoded_call decode_call(const uint8_t *data, size_t size);

}  // namespace fuzzing

#endif  // VENDRAL_FUZZ_CALL_ENCODING_H
