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

#if defined(VENDRAL_HAVE_LANES)

static_assert(block_lanes == 2 * vector_lanes, "a block is two vectors");

// Two vectors of templates per column, kept in named accumulators so they
// stay in registers; each lane's sum still runs over the columns in order.
VENDRAL_MULTIVERSION
void sum_of_absolutes(const double *block, const double *pattern, int32_t d, double *distance) {
    lanes low = {}, high = {};
    for (int32_t i = 0; i < d; ++i) {
        const lanes b = broadcast(pattern[i]);
        low += absolute(b - load_lanes(block + i * block_lanes));
        high += absolute(b - load_lanes(block + i * block_lanes + vector_lanes));
    }
    store_lanes(distance, low);
    store_lanes(distance + vector_lanes, high);
}

VENDRAL_MULTIVERSION
void largest_absolute(const double *block, const double *pattern, int32_t d, double *distance) {
    lanes low = {}, high = {};
    for (int32_t i = 0; i < d; ++i) {
        const lanes b = broadcast(pattern[i]);
        const lanes low_difference = absolute(b - load_lanes(block + i * block_lanes));
        const lanes high_difference = absolute(b - load_lanes(block + i * block_lanes + vector_lanes));
        // A NaN difference never compares greater, so it never becomes the maximum.
        low = low_difference > low ? low_difference : low;
        high = high_difference > high ? high_difference : high;
    }
    store_lanes(distance, low);
    store_lanes(distance + vector_lanes, high);
}

// Sums of |difference|^power for power 2 or 3, and the sums of |difference|,
// which are zero exactly when every difference is.
template <int power>
VENDRAL_LANE_INLINE void power_sums(const double *block, const double *pattern, int32_t d,
                                    double *sums, double *absolutes) {
    lanes low = {}, high = {}, low_absolute = {}, high_absolute = {};
    for (int32_t i = 0; i < d; ++i) {
        const lanes b = broadcast(pattern[i]);
        const lanes x = absolute(b - load_lanes(block + i * block_lanes));
        const lanes y = absolute(b - load_lanes(block + i * block_lanes + vector_lanes));
        low += power == 2 ? x * x : x * x * x;
        high += power == 2 ? y * y : y * y * y;
        low_absolute += x;
        high_absolute += y;
    }
    store_lanes(sums, low);
    store_lanes(sums + vector_lanes, high);
    store_lanes(absolutes, low_absolute);
    store_lanes(absolutes + vector_lanes, high_absolute);
}

#else

void sum_of_absolutes(const double *block, const double *pattern, int32_t d, double *distance) {
    for (int l = 0; l < block_lanes; ++l) distance[l] = 0.0;
    for (int32_t i = 0; i < d; ++i)
        for (int l = 0; l < block_lanes; ++l) distance[l] += std::fabs(pattern[i] - block[i * block_lanes + l]);
}

void largest_absolute(const double *block, const double *pattern, int32_t d, double *distance) {
    for (int l = 0; l < block_lanes; ++l) distance[l] = 0.0;
    for (int32_t i = 0; i < d; ++i)
        for (int l = 0; l < block_lanes; ++l) {
            const double difference = std::fabs(pattern[i] - block[i * block_lanes + l]);
            if (difference > distance[l]) distance[l] = difference;
        }
}

template <int power>
void power_sums(const double *block, const double *pattern, int32_t d, double *sums, double *absolutes) {
    for (int l = 0; l < block_lanes; ++l) sums[l] = absolutes[l] = 0.0;
    for (int32_t i = 0; i < d; ++i)
        for (int l = 0; l < block_lanes; ++l) {
            const double x = std::fabs(pattern[i] - block[i * block_lanes + l]);
            sums[l] += power == 2 ? x * x : x * x * x;
            absolutes[l] += x;
        }
}

#endif

inline uint64_t uncertain_sum(double sum, double absolute_sum) {
    const bool exact_zero = absolute_sum == 0.0;
    const bool in_range = sum >= smallest_certain_sum && sum <= largest_certain_sum;
    return exact_zero || in_range ? 0u : 1u;
}

VENDRAL_MULTIVERSION
void squares(const double *block, const double *pattern, int32_t d, double *distance,
             uint64_t *uncertain) {
    double sum[block_lanes], nonzero[block_lanes];
    power_sums<2>(block, pattern, d, sum, nonzero);
    for (int l = 0; l < block_lanes; ++l) {
        distance[l] = std::sqrt(sum[l]);
        uncertain[l] = uncertain_sum(sum[l], nonzero[l]);
    }
}

VENDRAL_MULTIVERSION
void cubes(const double *block, const double *pattern, int32_t d, double *sums, uint64_t *uncertain) {
    double nonzero[block_lanes];
    power_sums<3>(block, pattern, d, sums, nonzero);
    for (int l = 0; l < block_lanes; ++l) uncertain[l] = uncertain_sum(sums[l], nonzero[l]);
}

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
    for (int l = 0; l < block_lanes; ++l) uncertain[l] = 0;
    switch (regime) {
        case distance_regime::sum_of_absolutes:
            sum_of_absolutes(block, pattern, d, distance);
            return;
        case distance_regime::largest_absolute:
            largest_absolute(block, pattern, d, distance);
            return;
        case distance_regime::squares:
            squares(block, pattern, d, distance, uncertain);
            return;
        case distance_regime::cubes: {
            cubes(block, pattern, d, distance, uncertain);
            const double exponent = opaque(1.0 / p);
            for (int l = 0; l < block_lanes; ++l) distance[l] = std::pow(distance[l], exponent);
            return;
        }
        case distance_regime::general:
            for (int l = 0; l < block_lanes; ++l) uncertain[l] = 1;
            return;
    }
}

}  // namespace vendral
