// Fast distances. For p = 1 and p = +inf they are the literal arithmetic, so
// they are the same bits. For p = 2 and p = 3 the terms are products instead
// of pow, and the p = 2 root is sqrt; the result is within a proven relative
// bound of the literal one, which the engine carries into its scores.
//
// Bound for p = 2 and p = 3 over d columns (u = 2^-53, unit roundoff):
// - a term: x*x is within u of x^2 relative, x*x*x within 2u(1+u) of x^3;
//   pow(x, p) is within 0.54 ulp <= 1.08u (glibc's documented bound). The two
//   terms differ by at most 3.1u relative.
// - the sums: both add d terms in index order; each is within (d-1)u(1+du) of
//   the exact sum of its terms, so the two sums differ by at most
//   (2d + 3.1)u relative, for sums far from underflow and overflow.
// - the root: sqrt is within u, pow(s, 1/p) within 1.08u; a relative change
//   e of s changes s^(1/p) by at most e/p (p >= 2) relative. Together at most
//   (d + 1.6)u + 2.1u.
// distance_error_bound returns (2d + 8)u, above that with room to spare.
// Terms that underflow add at most 2^-1074 each, d * 2^-74 relative to a sum
// of at least 2^-1000.
// Sums of exactly zero (every difference zero) are exact in both; sums below
// 2^-1000 or above 2^1000, and NaN, are flagged uncertain.
#include "fast_distance.h"

#include <cmath>

#include "classifier.h"
#include "lanes.h"
#include "multiversion.h"
#include "opaque.h"

namespace vendral {

namespace {

constexpr double smallest_certain_sum = 0x1p-1000;
constexpr double largest_certain_sum = 0x1p+1000;

// The block's templates as block_lanes / W vectors of W lanes per column,
// with one accumulator per vector; each lane's sum still runs over the
// columns in index order.
template <int W>
VENDRAL_LANE_INLINE void sum_of_absolutes(const double *block, const double *pattern, int32_t d,
                                          double *distance) {
    using S = simd<W>;
    constexpr int vectors = block_lanes / W;
    typename S::value sum[vectors] = {};
    for (int32_t i = 0; i < d; ++i) {
        const typename S::value b = S::broadcast(pattern[i]);
        for (int v = 0; v < vectors; ++v) sum[v] += absolute<W>(b - S::load(block + i * block_lanes + v * W));
    }
    for (int v = 0; v < vectors; ++v) S::store(distance + v * W, sum[v]);
}

template <int W>
VENDRAL_LANE_INLINE void largest_absolute(const double *block, const double *pattern, int32_t d,
                                          double *distance) {
    using S = simd<W>;
    constexpr int vectors = block_lanes / W;
    typename S::value largest[vectors] = {};
    for (int32_t i = 0; i < d; ++i) {
        const typename S::value b = S::broadcast(pattern[i]);
        for (int v = 0; v < vectors; ++v) {
            const typename S::value difference = absolute<W>(b - S::load(block + i * block_lanes + v * W));
            // A NaN difference never compares greater, so it never becomes the maximum.
            largest[v] = S::select(difference > largest[v], difference, largest[v]);
        }
    }
    for (int v = 0; v < vectors; ++v) S::store(distance + v * W, largest[v]);
}

// Sums of |difference|^power for power 2 or 3, and the sums of |difference|,
// which are zero exactly when every difference is.
template <int power, int W>
VENDRAL_LANE_INLINE void power_sums(const double *block, const double *pattern, int32_t d,
                                    double *sums, double *absolutes) {
    using S = simd<W>;
    constexpr int vectors = block_lanes / W;
    typename S::value sum[vectors] = {}, absolute_sum[vectors] = {};
    for (int32_t i = 0; i < d; ++i) {
        const typename S::value b = S::broadcast(pattern[i]);
        for (int v = 0; v < vectors; ++v) {
            const typename S::value x = absolute<W>(b - S::load(block + i * block_lanes + v * W));
            sum[v] += power == 2 ? x * x : x * x * x;
            absolute_sum[v] += x;
        }
    }
    for (int v = 0; v < vectors; ++v) {
        S::store(sums + v * W, sum[v]);
        S::store(absolutes + v * W, absolute_sum[v]);
    }
}

inline double uncertain_sum(double sum, double absolute_sum) {
    const bool exact_zero = absolute_sum == 0.0;
    const bool in_range = sum >= smallest_certain_sum && sum <= largest_certain_sum;
    return exact_zero || in_range ? 0.0 : 1.0;
}

// Distances and uncertainty flags (1.0 where uncertain) of the squares regime.
template <int W>
VENDRAL_LANE_INLINE void squares_distances(const double *block, const double *pattern, int32_t d,
                                           double *distance, double *uncertain) {
    double sums[block_lanes];
    power_sums<2, W>(block, pattern, d, sums, uncertain);
    for (int l = 0; l < block_lanes; ++l) {
        uncertain[l] = uncertain_sum(sums[l], uncertain[l]);
        distance[l] = std::sqrt(sums[l]);
    }
}

template <int W>
VENDRAL_LANE_INLINE void cubes_sums(const double *block, const double *pattern, int32_t d,
                                    double *sums, double *absolutes) {
    power_sums<3, W>(block, pattern, d, sums, absolutes);
}

VENDRAL_WIDTH_VARIANTS(absolutes_block, (const double *block, const double *pattern, int32_t d, double *distance),
                       (block, pattern, d, distance), sum_of_absolutes)
VENDRAL_WIDTH_VARIANTS(largest_block, (const double *block, const double *pattern, int32_t d, double *distance),
                       (block, pattern, d, distance), largest_absolute)
VENDRAL_WIDTH_VARIANTS(squares_block,
                       (const double *block, const double *pattern, int32_t d, double *distance, double *uncertain),
                       (block, pattern, d, distance, uncertain), squares_distances)
VENDRAL_WIDTH_VARIANTS(cubes_block,
                       (const double *block, const double *pattern, int32_t d, double *sums, double *absolutes),
                       (block, pattern, d, sums, absolutes), cubes_sums)

const absolutes_block_function absolutes_chosen = absolutes_block_for_width();
const largest_block_function largest_chosen = largest_block_for_width();
const squares_block_function squares_chosen = squares_block_for_width();
const cubes_block_function cubes_chosen = cubes_block_for_width();

}  // namespace

distance_regime regime_for(double p) {
    if (p == 1.0) return distance_regime::sum_of_absolutes;
    if (p == HUGE_VAL) return distance_regime::largest_absolute;
    if (p == 2.0) return distance_regime::squares;
    if (p == 3.0) return distance_regime::cubes;
    return distance_regime::general;
}

// The extra d * 2^-70 covers terms that underflow inside a sum of at least 2^-1000.
double distance_error_bound(int32_t d) { return (2.0 * d + 8.0) * 0x1p-53 + d * 0x1p-70; }

void block_distances(distance_regime regime, const double *block, const double *pattern, int32_t d,
                     double p, double *distance, uint64_t *uncertain) {
    double absolutes[block_lanes];
    for (int l = 0; l < block_lanes; ++l) uncertain[l] = 0;
    switch (regime) {
        case distance_regime::sum_of_absolutes:
            absolutes_chosen(block, pattern, d, distance);
            return;
        case distance_regime::largest_absolute:
            largest_chosen(block, pattern, d, distance);
            return;
        case distance_regime::squares:
            squares_chosen(block, pattern, d, distance, absolutes);
            for (int l = 0; l < block_lanes; ++l) uncertain[l] = absolutes[l] != 0.0;
            return;
        case distance_regime::cubes: {
            cubes_chosen(block, pattern, d, distance, absolutes);
            // The root stays the library's pow, with the exponent hidden from
            // the optimiser as in pattern_distance.
            const double exponent = opaque(1.0 / p);
            for (int l = 0; l < block_lanes; ++l) {
                uncertain[l] = uncertain_sum(distance[l], absolutes[l]) != 0.0;
                distance[l] = std::pow(distance[l], exponent);
            }
            return;
        }
        case distance_regime::general:
            for (int l = 0; l < block_lanes; ++l) uncertain[l] = 1;
            return;
    }
}

}  // namespace vendral
