// Four doubles processed as one value. GCC and Clang lower these vector
// types to AVX-512, AVX2 or SSE2 instructions, whichever the function is
// compiled for (see multiversion.h). The same templates also run on plain
// doubles, one lane at a time, where vector types are not available.
#ifndef VENDRAL_CLASSIFIER_LANES_H
#define VENDRAL_CLASSIFIER_LANES_H

#include <cstdint>
#include <cstring>

#include "fast_distance.h"

// Every helper taking or returning a vector is forced inline: an out-of-line
// copy would be shared by callers compiled for different vector widths,
// which pass 64-byte vectors differently.
#if defined(__GNUC__)
#define VENDRAL_LANE_INLINE inline __attribute__((always_inline))
#else
#define VENDRAL_LANE_INLINE inline
#endif

namespace vendral {

// Scalar forms of the lane operations.
VENDRAL_LANE_INLINE double select(bool mask, double when_true, double when_false) { return mask ? when_true : when_false; }
VENDRAL_LANE_INLINE uint64_t to_bits(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}
VENDRAL_LANE_INLINE double from_bits(uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

VENDRAL_LANE_INLINE double absolute(double value) { return from_bits(to_bits(value) & 0x7fffffffffffffffull); }

#if defined(__GNUC__) && !defined(VENDRAL_SCALAR_LANES)

#define VENDRAL_HAVE_LANES 1

// Four lanes: one AVX2 register, half an AVX-512 one, two SSE2 ones. Wider
// generic vectors are lowered poorly (through the stack) where the target has
// no register that wide.
constexpr int vector_lanes = 4;
typedef double lanes __attribute__((vector_size(vector_lanes * sizeof(double))));
typedef int64_t lane_mask __attribute__((vector_size(vector_lanes * sizeof(double))));
typedef uint64_t lane_bits __attribute__((vector_size(vector_lanes * sizeof(double))));

VENDRAL_LANE_INLINE lanes load_lanes(const double *from) {
    lanes value;
    std::memcpy(&value, from, sizeof value);
    return value;
}

VENDRAL_LANE_INLINE void store_lanes(double *to, lanes value) { std::memcpy(to, &value, sizeof value); }

VENDRAL_LANE_INLINE lanes broadcast(double value) { return lanes{} + value; }

VENDRAL_LANE_INLINE lane_bits to_bits(lanes value) { return reinterpret_cast<lane_bits>(value); }
VENDRAL_LANE_INLINE lanes from_bits(lane_bits bits) { return reinterpret_cast<lanes>(bits); }

VENDRAL_LANE_INLINE lanes absolute(lanes value) { return from_bits(to_bits(value) & 0x7fffffffffffffffull); }

// mask ? when_true : when_false, lane by lane (a mask lane is 0 or -1).
VENDRAL_LANE_INLINE lanes select(lane_mask mask, lanes when_true, lanes when_false) {
    return from_bits((to_bits(when_true) & reinterpret_cast<lane_bits>(mask)) |
                     (to_bits(when_false) & ~reinterpret_cast<lane_bits>(mask)));
}

using lane_value = lanes;
constexpr int lane_width = vector_lanes;
VENDRAL_LANE_INLINE lane_value load_value(const double *from) { return load_lanes(from); }
VENDRAL_LANE_INLINE void store_value(double *to, lane_value value) { store_lanes(to, value); }
VENDRAL_LANE_INLINE lane_value splat(double value) { return broadcast(value); }

#else

using lane_value = double;
constexpr int lane_width = 1;
VENDRAL_LANE_INLINE lane_value load_value(const double *from) { return *from; }
VENDRAL_LANE_INLINE void store_value(double *to, lane_value value) { *to = value; }
VENDRAL_LANE_INLINE lane_value splat(double value) { return value; }

#endif

// A block of block_lanes doubles is lane_steps lane_values.
static_assert(block_lanes % lane_width == 0, "whole vectors per block");
constexpr int lane_steps = block_lanes / lane_width;

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_LANES_H
