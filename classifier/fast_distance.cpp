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
// This source is compiled with contraction on: a term's last product and its
// addition to the sum, and the roots' multiply-add steps, may each be one
// fused instruction. A fused step rounds once where the analysis above (and
// lane_math.h's) counts two roundings, so every bound holds fused or not;
// the products those analyses take as exact stay exact. p = 1 and p = +inf
// have no products, so they stay the literal arithmetic.
#include "fast_distance.h"

#include <cmath>

#include "classifier.h"
#include "lane_math.h"
#include "lanes.h"
#include "multiversion.h"

namespace vendral {

namespace {

constexpr double smallest_certain_sum = 0x1p-1000;
constexpr double largest_certain_sum = 0x1p+1000;

// The tile's templates as tile_lanes / W vectors of W lanes per column, one
// accumulator each, so that the additions of different vectors overlap.
template <int W>
VENDRAL_LANE_INLINE typename simd<W>::value column(const double *tile, int32_t d, int32_t i, int v) {
    // Vector v covers lanes v*W.. of the tile: block v*W / block_lanes.
    const int block = v * W / block_lanes, offset = v * W % block_lanes;
    return simd<W>::load(tile + (static_cast<size_t>(block) * d + i) * block_lanes + offset);
}

template <int W>
VENDRAL_LANE_INLINE void sum_of_absolutes(const double *tile, const double *pattern, int32_t d,
                                          double *distance) {
    using S = simd<W>;
    constexpr int vectors = tile_lanes / W;
    typename S::value sum[vectors] = {};
    for (int32_t i = 0; i < d; ++i) {
        const typename S::value b = S::broadcast(pattern[i]);
        for (int v = 0; v < vectors; ++v) sum[v] += absolute<W>(b - column<W>(tile, d, i, v));
    }
    for (int v = 0; v < vectors; ++v) S::store(distance + v * W, sum[v]);
}

template <int W>
VENDRAL_LANE_INLINE void largest_absolute(const double *tile, const double *pattern, int32_t d,
                                          double *distance) {
    using S = simd<W>;
    constexpr int vectors = tile_lanes / W;
    typename S::value largest[vectors] = {};
    for (int32_t i = 0; i < d; ++i) {
        const typename S::value b = S::broadcast(pattern[i]);
        for (int v = 0; v < vectors; ++v) {
            const typename S::value difference = absolute<W>(b - column<W>(tile, d, i, v));
            // A NaN difference never compares greater, so it never becomes the maximum.
            largest[v] = S::select(difference > largest[v], difference, largest[v]);
        }
    }
    for (int v = 0; v < vectors; ++v) S::store(distance + v * W, largest[v]);
}

// Sums of |difference|^power, power 2, 3 or 4.
template <int power, int W>
VENDRAL_LANE_INLINE void power_sums(const double *tile, const double *pattern, int32_t d, double *sums) {
    using S = simd<W>;
    constexpr int vectors = tile_lanes / W;
    typename S::value sum[vectors] = {};
    for (int32_t i = 0; i < d; ++i) {
        const typename S::value b = S::broadcast(pattern[i]);
        for (int v = 0; v < vectors; ++v) {
            const typename S::value x = absolute<W>(b - column<W>(tile, d, i, v));
            const typename S::value square = x * x;
            sum[v] += power == 2 ? square : (power == 3 ? square * x : square * square);
        }
    }
    for (int v = 0; v < vectors; ++v) S::store(sums + v * W, sum[v]);
}

// A sum outside the checked range is still exact when every difference of
// its pair is exactly zero: then both sides compute 0.
bool sums_are_bounded(const double *sums, const double *tile, const double *pattern, int32_t d,
                      int valid_lanes) {
    for (int l = 0; l < valid_lanes; ++l) {
        const double s = sums[l];
        if (s >= smallest_certain_sum && s <= largest_certain_sum) continue;
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
                                       int valid_lanes) {
    using S = simd<W>;
    const typename S::value zero = S::broadcast(0.0), one = S::broadcast(1.0);
    typename S::value inside = one;
    for (int v = 0; v < tile_lanes / W; ++v) {
        const typename S::value sum = S::load(sums + v * W);
        inside = S::select(sum >= smallest_certain_sum, inside, zero);
        inside = S::select(sum <= largest_certain_sum, inside, zero);
    }
    double lanes[W];
    S::store(lanes, inside);
    bool all = true;
    for (int l = 0; l < W; ++l) all = all && lanes[l] == 1.0;
    return all || sums_are_bounded(sums, tile, pattern, d, valid_lanes);
}

template <int W>
VENDRAL_LANE_INLINE bool absolutes(const double *tile, const double *pattern, int32_t d, double,
                                   int, double *distance) {
    sum_of_absolutes<W>(tile, pattern, d, distance);
    return true;
}

template <int W>
VENDRAL_LANE_INLINE bool largest(const double *tile, const double *pattern, int32_t d, double, int,
                                 double *distance) {
    largest_absolute<W>(tile, pattern, d, distance);
    return true;
}

template <int W>
VENDRAL_LANE_INLINE bool squares(const double *tile, const double *pattern, int32_t d, double,
                                 int valid_lanes, double *distance) {
    power_sums<2, W>(tile, pattern, d, distance);
    if (!sums_in_range<W>(distance, tile, pattern, d, valid_lanes)) return false;
    for (int l = 0; l < tile_lanes; ++l) distance[l] = std::sqrt(distance[l]);
    return true;
}

// The roots in vectors (lane_math.h), within cube_root_error and
// fourth_root_error of the literal pow(s, 1/p).
template <int power, int W>
VENDRAL_LANE_INLINE bool vector_root(const double *tile, const double *pattern, int32_t d, int valid_lanes,
                                     double *distance) {
    using S = simd<W>;
    power_sums<power, W>(tile, pattern, d, distance);
    if (!sums_in_range<W>(distance, tile, pattern, d, valid_lanes)) return false;
    for (int v = 0; v < tile_lanes / W; ++v) {
        const typename S::value sum = S::load(distance + v * W);
        S::store(distance + v * W, power == 3 ? cube_root_of_sum<W>(sum) : fourth_root_of_sum<W>(sum));
    }
    return true;
}

template <int W>
VENDRAL_LANE_INLINE bool cubes(const double *tile, const double *pattern, int32_t d, double,
                               int valid_lanes, double *distance) {
    return vector_root<3, W>(tile, pattern, d, valid_lanes, distance);
}

template <int W>
VENDRAL_LANE_INLINE bool fourth_powers(const double *tile, const double *pattern, int32_t d, double,
                                       int valid_lanes, double *distance) {
    return vector_root<4, W>(tile, pattern, d, valid_lanes, distance);
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

double distance_error_bound(int32_t d) { return (2.0 * d + 8.0) * 0x1p-53; }

}  // namespace vendral
