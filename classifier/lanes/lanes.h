// Several doubles processed as one value. simd<W> holds W lanes: GCC and
// Clang lower these vector types to SSE2 (W = 2), AVX2 (W = 4) or AVX-512
// (W = 8) instructions in functions compiled for those targets (see
// multiversion.h); simd<1> is plain scalar code for any other compiler.
#ifndef VENDRAL_CLASSIFIER_LANES_H
#define VENDRAL_CLASSIFIER_LANES_H

#include <cstdint>
#include <cstring>

// Every helper taking or returning a vector is forced inline: an out-of-line
// copy would be shared by callers compiled for different vector widths,
// which pass vectors differently.
#if defined(__GNUC__)
#define VENDRAL_LANE_INLINE inline __attribute__((always_inline))
#else
#define VENDRAL_LANE_INLINE inline
#endif

namespace vendral {

template <int W>
struct simd;

template <>
struct simd<1> {
    using value = double;
    using bits = uint64_t;
    using mask = bool;
    static VENDRAL_LANE_INLINE value load(const double *from) { return *from; }
    static VENDRAL_LANE_INLINE void store(double *to, value v) { *to = v; }
    static VENDRAL_LANE_INLINE value broadcast(double v) { return v; }
    static VENDRAL_LANE_INLINE bits to_bits(value v) {
        bits b;
        std::memcpy(&b, &v, sizeof b);
        return b;
    }
    static VENDRAL_LANE_INLINE value from_bits(bits b) {
        value v;
        std::memcpy(&v, &b, sizeof v);
        return v;
    }
    static VENDRAL_LANE_INLINE value select(mask m, value when_true, value when_false) {
        return m ? when_true : when_false;
    }
};

#if defined(__GNUC__)

#define VENDRAL_HAVE_VECTORS 1

template <int W>
struct simd {
    typedef double value __attribute__((vector_size(W * sizeof(double))));
    typedef uint64_t bits __attribute__((vector_size(W * sizeof(double))));
    typedef int64_t mask __attribute__((vector_size(W * sizeof(double))));
    static VENDRAL_LANE_INLINE value load(const double *from) {
        value v;
        std::memcpy(&v, from, sizeof v);
        return v;
    }
    static VENDRAL_LANE_INLINE void store(double *to, value v) { std::memcpy(to, &v, sizeof v); }
    // Through memory rather than value{} + v, which costs an addition (x +
    // 0.0 is not x for x = -0.0) and hides the broadcast from memory; this
    // compiles to the one broadcast instruction.
    static VENDRAL_LANE_INLINE value broadcast(double v) {
        double lanes[W];
        for (int l = 0; l < W; ++l) lanes[l] = v;
        return load(lanes);
    }
    static VENDRAL_LANE_INLINE bits to_bits(value v) { return reinterpret_cast<bits>(v); }
    static VENDRAL_LANE_INLINE value from_bits(bits b) { return reinterpret_cast<value>(b); }
    // m ? when_true : when_false, lane by lane (a mask lane is 0 or -1).
    static VENDRAL_LANE_INLINE value select(mask m, value when_true, value when_false) {
        return from_bits((to_bits(when_true) & reinterpret_cast<bits>(m)) |
                         (to_bits(when_false) & ~reinterpret_cast<bits>(m)));
    }
};

#endif

template <int W>
VENDRAL_LANE_INLINE typename simd<W>::value absolute(typename simd<W>::value v) {
    return simd<W>::from_bits(simd<W>::to_bits(v) & 0x7fffffffffffffffull);
}

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_LANES_H
