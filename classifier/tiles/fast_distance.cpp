// Fast distances. For p = 1 and p = +inf they are the literal arithmetic, so
// they are the same bits. For p = 2, 3 and 4 the terms are products instead
// of pow, and the roots are sqrt and vector roots (lane_math.h); the result is within a proven relative
// bound of the literal one, which the engine carries into its scores.
//
// Bound for p = 2, 3 and 4 over d columns (u = 2^-53, unit roundoff):
// - a term: x*x is within u of x^2 relative, x*x*x within 2u(1+u) of x^3,
//   (x*x)*(x*x) within 3u(1+u) of x^4; pow(x, p) is within 0.54 ulp <= 1.08u
//   (glibc's documented bound). The two terms differ by at most 4.1u relative.
// - the sums: both add d terms in index order; each is within (d-1)u(1+du) of
//   the exact sum of its terms, so the two sums differ by at most
//   (2d + 4.1)u relative, for sums far from underflow and overflow.
// - the root: a relative change e of s changes s^(1/p) by at most e/p
//   (p >= 2) relative. For p = 2 sqrt is within u and the literal pow(s, 0.5)
//   within 1.08u: (d + 2.05)u + 2.1u. For p = 3 and 4 the vector roots are
//   within cube_root_error (4u) and fourth_root_error (3u) of the literal
//   pow (lane_math.h): (2d + 4.1)u/3 + 4u and (2d + 4.1)u/4 + 3u.
// distance_error_bound returns (2d + 8)u, at least (d + 2.6)u above all
// three. Terms that underflow add at most 2^-1074 each on either side,
// d * 2^-73 relative to a sum of at least 2^-1000, which that margin covers.
// Sums of exactly zero from pairs whose differences are all zero are exact
// in both; other sums below 2^-1000 or above 2^1000, and NaN, are flagged
// uncertain.
//
// Any other p with 1 < p <= 64 (the general regime): the literal terms are
// pow(x, p) (within 1.08u) and the root pow(s, fl(1/p)) (within 1.08u).
// Ours: a term exp(Y), Y = p natural_log(x) (lane_math.h: within 8u |ln x| +
// 2^-55), so |Y - p ln x| <= 9.1u |p ln x| + p 2^-55; a term that matters
// (p ln x >= -700) in a sum that is not flagged (every term below 2^1000,
// so p ln x <= 693.2) moves by at most 7.1e-13 relative, and the exp adds
// exp_relative_error (2^-44; its derivation holds up to Y = 705, 2^k then
// still normal): terms within 7.7e-13 relative. Terms below e^-700 are ours 0
// against literal ones below 2^-1009.9, and differences below 2^-1022 add 0
// against literal terms below 2^-1022: with sums of at least 2^-900 (the
// floor for this regime) that is below d 2^-109 relative. So the two sums
// differ by at most 7.7e-13 + 1.08u + 2(d-1)u(1 + du) + d 2^-109 relative.
// The root exp(Z), Z = fl(natural_log(s) fl(1/p)) with |ln s| <= 693.2: Z
// within 9.1u 693.2 + 2^-55 of fl(1/p) ln s, the root within 7.6e-13 of
// s^fl(1/p); the sums' difference e moves it by at most 1.01e (fl(1/p) <= 1).
// In all 1.54e-12 + (2.04d + 2.3)u; general_power_error_bound returns 2^-39
// (1.82e-12) + (2.1d + 3)u. Sums below 2^-900 or above 2^1000 and NaN are
// flagged, as above; a zero sum is exact only when every difference is zero.
//
// This source is compiled with contraction on: a term's last product and its
// addition to the sum, and the roots' multiply-add steps, may each be one
// fused instruction. A fused step rounds once where the analysis above (and
// lane_math.h's) counts two roundings, so every bound holds fused or not;
// the products those analyses take as exact stay exact. p = 1 and p = +inf
// have no products, so they stay the literal arithmetic.
#include "classifier/tiles/fast_distance.h"

#include <cmath>

#include "classifier/classifier.h"
#include "classifier/lanes/lane_math.h"
#include "classifier/lanes/lanes.h"
#include "classifier/lanes/multiversion.h"

namespace vendral {

namespace {

constexpr double smallest_certain_sum = 0x1p-1000;
constexpr double largest_certain_sum = 0x1p+1000;
// Any other p: terms below e^-700 are taken as 0 (the literal ones are below
// 2^-1009), which sums from 2^-900 up can afford.
constexpr double general_smallest_sum = 0x1p-900;

// What each regime adds per column to a pair's accumulator, given the
// difference b - a of that column. Each pair's terms are added in index
// order, as the literal distance adds them.
struct add_absolute {
    template <int W>
    static VENDRAL_LANE_INLINE typename simd<W>::value add(typename simd<W>::value sum,
                                                           typename simd<W>::value difference) {
        return sum + absolute<W>(difference);
    }
};

struct keep_largest {
    template <int W>
    static VENDRAL_LANE_INLINE typename simd<W>::value add(typename simd<W>::value largest,
                                                           typename simd<W>::value difference) {
        const typename simd<W>::value x = absolute<W>(difference);
        // A NaN difference never compares greater, so it never becomes the maximum.
        return simd<W>::select(x > largest, x, largest);
    }
};

// |difference|^power, power 2, 3 or 4.
template <int power>
struct add_power {
    template <int W>
    static VENDRAL_LANE_INLINE typename simd<W>::value add(typename simd<W>::value sum,
                                                           typename simd<W>::value difference) {
        const typename simd<W>::value x = absolute<W>(difference);
        const typename simd<W>::value square = x * x;
        return sum + (power == 2 ? square : (power == 3 ? square * x : square * square));
    }
};

// |difference|^p for any other p (1 < p <= general_largest_p) as
// exp(p ln|difference|) (see the bound above). Differences below the normal
// range add 0 (their literal terms are below 2^-1022, or 0); a NaN difference
// makes the sum NaN, which the range check flags; an infinite one makes a
// term of 2^1017, which it flags too.
struct add_general_power {
    double p;
    template <int W>
    VENDRAL_LANE_INLINE typename simd<W>::value add(typename simd<W>::value sum,
                                                    typename simd<W>::value difference) const {
        using S = simd<W>;
        const typename S::value x = absolute<W>(difference);
        const auto normal = x >= 0x1p-1022;
        const typename S::value y = natural_log<W>(S::select(normal, x, S::broadcast(1.0))) * p;
        const typename S::value term = approximate_exp_lanes<W>(S::select(y <= 705.0, y, S::broadcast(705.0)));
        return sum + S::select(normal, term, x * 0.0);
    }
};

// Accumulates `patterns` patterns against the tile's tile_lanes / W vectors
// of templates, strip vectors at a time: per column, each template vector
// loaded serves every pattern and each pattern value broadcast serves every
// vector of the strip, with patterns x strip accumulators in registers.
// sums[k * tile_lanes + lane] for pattern k.
template <int W, int patterns, int strip, typename step>
VENDRAL_LANE_INLINE void accumulate(const double *tile, const double *const *pattern, int32_t d, double *sums,
                                    const step &how) {
    using S = simd<W>;
    using value = typename S::value;
    constexpr int vectors = tile_lanes / W;
    static_assert(vectors % strip == 0, "whole strips");
    for (int first = 0; first < vectors; first += strip) {
        value sum[patterns][strip];
        for (int k = 0; k < patterns; ++k)
            for (int v = 0; v < strip; ++v) sum[k][v] = S::broadcast(0.0);
        // Vector v covers lanes v*W.. of the tile: block v*W / block_lanes.
        const double *at[strip];
        for (int v = 0; v < strip; ++v)
            at[v] = tile + static_cast<size_t>((first + v) * W / block_lanes) * d * block_lanes +
                    (first + v) * W % block_lanes;
        for (int32_t i = 0; i < d; ++i) {
            value column[strip];
            for (int v = 0; v < strip; ++v) column[v] = S::load(at[v] + static_cast<size_t>(i) * block_lanes);
            for (int k = 0; k < patterns; ++k) {
                const value b = S::broadcast(pattern[k][i]);
                for (int v = 0; v < strip; ++v) sum[k][v] = how.template add<W>(sum[k][v], b - column[v]);
            }
        }
        for (int k = 0; k < patterns; ++k)
            for (int v = 0; v < strip; ++v) S::store(sums + k * tile_lanes + (first + v) * W, sum[k][v]);
    }
}

// One pattern: every vector of the tile its own accumulator, so that their
// additions overlap.
template <int W, typename step>
VENDRAL_LANE_INLINE void one_pattern(const double *tile, const double *pattern, int32_t d, double *sums,
                                     const step &how) {
    accumulate<W, 1, tile_lanes / W, step>(tile, &pattern, d, sums, how);
}

// group_patterns patterns: 4 x 4 accumulators with AVX-512's 32 registers,
// 4 x 2 with 16.
template <int W, typename step>
VENDRAL_LANE_INLINE void pattern_group(const double *tile, const double *const *patterns, int32_t d, double *sums,
                                       const step &how) {
    accumulate<W, group_patterns, W == 8 ? 4 : 2, step>(tile, patterns, d, sums, how);
}

// A sum outside the checked range is still exact when every difference of
// its pair is exactly zero: then both sides compute 0.
bool sums_are_bounded(const double *sums, const double *tile, const double *pattern, int32_t d,
                      int valid_lanes, double smallest_sum) {
    for (int l = 0; l < valid_lanes; ++l) {
        const double s = sums[l];
        if (s >= smallest_sum && s <= largest_certain_sum) continue;
        if (s != 0.0) return false;
        const double *block = tile + static_cast<size_t>(l / block_lanes) * d * block_lanes;
        for (int32_t i = 0; i < d; ++i)
            if (block[i * block_lanes + l % block_lanes] != pattern[i]) return false;
    }
    return true;
}

// The same check, in vectors first: usually every lane of the tile is in
// range, and only a tile with a lane outside it is looked at lane by lane.
// One comparison per select (GCC 12 turns a conjunction of AVX-512
// comparisons into one scalar comparison per lane); a NaN fails both.
template <int W>
VENDRAL_LANE_INLINE bool sums_in_range(const double *sums, const double *tile, const double *pattern, int32_t d,
                                       int valid_lanes, double smallest_sum = smallest_certain_sum) {
    using S = simd<W>;
    const typename S::value zero = S::broadcast(0.0), one = S::broadcast(1.0);
    typename S::value inside = one;
    for (int v = 0; v < tile_lanes / W; ++v) {
        const typename S::value sum = S::load(sums + v * W);
        inside = S::select(sum >= smallest_sum, inside, zero);
        inside = S::select(sum <= largest_certain_sum, inside, zero);
    }
    double lanes[W];
    S::store(lanes, inside);
    bool all = true;
    for (int l = 0; l < W; ++l) all = all && lanes[l] == 1.0;
    return all || sums_are_bounded(sums, tile, pattern, d, valid_lanes, smallest_sum);
}

// The root of each power sum in place, in vectors: sqrt (p = 2), or the
// vector roots (lane_math.h), within cube_root_error and fourth_root_error of
// the literal pow(s, 1/p).
template <int power, int W>
VENDRAL_LANE_INLINE void take_roots(double *distance) {
    using S = simd<W>;
    for (int v = 0; v < tile_lanes / W; ++v) {
        const typename S::value sum = S::load(distance + v * W);
        S::store(distance + v * W, power == 2   ? square_root<W>(sum)
                                   : power == 3 ? cube_root_of_sum<W>(sum)
                                                : fourth_root_of_sum<W>(sum));
    }
}

// A regime's distances for one pattern: false when a valid lane is outside
// what the bound covers.
template <int power, typename step, int W>
VENDRAL_LANE_INLINE bool regime(const double *tile, const double *pattern, int32_t d, int valid_lanes,
                                double *distance) {
    one_pattern<W, step>(tile, pattern, d, distance, step{});
    if (power == 0) return true;  // p = 1 and p = +inf: the literal arithmetic, any value
    if (!sums_in_range<W>(distance, tile, pattern, d, valid_lanes)) return false;
    take_roots<power, W>(distance);
    return true;
}

// ... and for group_patterns patterns: bit k of the result set when pattern
// k's lanes are all covered.
template <int power, typename step, int W>
VENDRAL_LANE_INLINE int group_regime(const double *tile, const double *const *patterns, int32_t d, int valid_lanes,
                                     double *distances) {
    pattern_group<W, step>(tile, patterns, d, distances, step{});
    if (power == 0) return (1 << group_patterns) - 1;
    int covered = 0;
    for (int k = 0; k < group_patterns; ++k) {
        double *distance = distances + k * tile_lanes;
        if (!sums_in_range<W>(distance, tile, patterns[k], d, valid_lanes)) continue;
        take_roots<power, W>(distance);
        covered |= 1 << k;
    }
    return covered;
}

// Any other p: the sums of exp(p ln|x|) terms, checked against the wider
// floor, and their roots exp(ln(s) * fl(1/p)), fl(1/p) being the exponent
// the literal pow takes too. A zero sum (every difference zero) has the
// root 0, as pow gives.
template <int W>
VENDRAL_LANE_INLINE void general_roots(double *distance, double inverse_p) {
    using S = simd<W>;
    for (int v = 0; v < tile_lanes / W; ++v) {
        const typename S::value sum = S::load(distance + v * W);
        const auto zero = sum == 0.0;
        const typename S::value root =
            approximate_exp_lanes<W>(natural_log<W>(S::select(zero, S::broadcast(1.0), sum)) * inverse_p);
        S::store(distance + v * W, S::select(zero, sum, root));
    }
}

template <int W>
VENDRAL_LANE_INLINE bool general_powers(const double *tile, const double *pattern, int32_t d, double p, int valid,
                                        double *distance) {
    one_pattern<W>(tile, pattern, d, distance, add_general_power{p});
    if (!sums_in_range<W>(distance, tile, pattern, d, valid, general_smallest_sum)) return false;
    general_roots<W>(distance, 1.0 / p);
    return true;
}

template <int W>
VENDRAL_LANE_INLINE int group_general_powers(const double *tile, const double *const *patterns, int32_t d,
                                             double p, int valid, double *distances) {
    pattern_group<W>(tile, patterns, d, distances, add_general_power{p});
    int covered = 0;
    for (int k = 0; k < group_patterns; ++k) {
        double *distance = distances + k * tile_lanes;
        if (!sums_in_range<W>(distance, tile, patterns[k], d, valid, general_smallest_sum)) continue;
        general_roots<W>(distance, 1.0 / p);
        covered |= 1 << k;
    }
    return covered;
}

template <int W>
VENDRAL_LANE_INLINE bool absolutes(const double *tile, const double *pattern, int32_t d, double, int valid,
                                   double *distance) {
    return regime<0, add_absolute, W>(tile, pattern, d, valid, distance);
}
template <int W>
VENDRAL_LANE_INLINE bool largest(const double *tile, const double *pattern, int32_t d, double, int valid,
                                 double *distance) {
    return regime<0, keep_largest, W>(tile, pattern, d, valid, distance);
}
template <int W>
VENDRAL_LANE_INLINE bool squares(const double *tile, const double *pattern, int32_t d, double, int valid,
                                 double *distance) {
    return regime<2, add_power<2>, W>(tile, pattern, d, valid, distance);
}
template <int W>
VENDRAL_LANE_INLINE bool cubes(const double *tile, const double *pattern, int32_t d, double, int valid,
                               double *distance) {
    return regime<3, add_power<3>, W>(tile, pattern, d, valid, distance);
}
template <int W>
VENDRAL_LANE_INLINE bool fourth_powers(const double *tile, const double *pattern, int32_t d, double, int valid,
                                       double *distance) {
    return regime<4, add_power<4>, W>(tile, pattern, d, valid, distance);
}

template <int W>
VENDRAL_LANE_INLINE int group_absolutes(const double *tile, const double *const *patterns, int32_t d, double,
                                        int valid, double *distances) {
    return group_regime<0, add_absolute, W>(tile, patterns, d, valid, distances);
}
template <int W>
VENDRAL_LANE_INLINE int group_largest(const double *tile, const double *const *patterns, int32_t d, double,
                                      int valid, double *distances) {
    return group_regime<0, keep_largest, W>(tile, patterns, d, valid, distances);
}
template <int W>
VENDRAL_LANE_INLINE int group_squares(const double *tile, const double *const *patterns, int32_t d, double,
                                      int valid, double *distances) {
    return group_regime<2, add_power<2>, W>(tile, patterns, d, valid, distances);
}
template <int W>
VENDRAL_LANE_INLINE int group_cubes(const double *tile, const double *const *patterns, int32_t d, double,
                                    int valid, double *distances) {
    return group_regime<3, add_power<3>, W>(tile, patterns, d, valid, distances);
}
template <int W>
VENDRAL_LANE_INLINE int group_fourth_powers(const double *tile, const double *const *patterns, int32_t d,
                                            double, int valid, double *distances) {
    return group_regime<4, add_power<4>, W>(tile, patterns, d, valid, distances);
}

}  // namespace

#define VENDRAL_DISTANCE_VARIANTS(name, body)                                                        \
    VENDRAL_WIDTH_VARIANTS(name, bool,                                                               \
                           (const double *tile, const double *pattern, int32_t d, double p, int valid, \
                            double *distance),                                                       \
                           (tile, pattern, d, p, valid, distance), body)
VENDRAL_DISTANCE_VARIANTS(absolutes_distances, absolutes)
VENDRAL_DISTANCE_VARIANTS(largest_distances, largest)
VENDRAL_DISTANCE_VARIANTS(squares_distances, squares)
VENDRAL_DISTANCE_VARIANTS(cubes_distances, cubes)
VENDRAL_DISTANCE_VARIANTS(fourth_powers_distances, fourth_powers)
VENDRAL_DISTANCE_VARIANTS(general_powers_distances, general_powers)

#define VENDRAL_GROUP_VARIANTS(name, body)                                                           \
    VENDRAL_WIDTH_VARIANTS(name, int,                                                                \
                           (const double *tile, const double *const *patterns, int32_t d, double p,  \
                            int valid, double *distances),                                           \
                           (tile, patterns, d, p, valid, distances), body)
VENDRAL_GROUP_VARIANTS(absolutes_group_distances, group_absolutes)
VENDRAL_GROUP_VARIANTS(largest_group_distances, group_largest)
VENDRAL_GROUP_VARIANTS(squares_group_distances, group_squares)
VENDRAL_GROUP_VARIANTS(cubes_group_distances, group_cubes)
VENDRAL_GROUP_VARIANTS(fourth_powers_group_distances, group_fourth_powers)
VENDRAL_GROUP_VARIANTS(general_powers_group_distances, group_general_powers)

double distance_error_bound(int32_t d) { return (2.0 * d + 8.0) * 0x1p-53; }

double general_power_error_bound(int32_t d) { return 0x1p-39 + (2.1 * d + 3.0) * 0x1p-53; }

}  // namespace vendral
