// Bound on a squared distance from dot products, u = 2^-53, any centre c
// (the templates' mean): with tc = fl(t - c), yc = fl(y - c), D = t - y
// exact and s = |D|^2:
// - centring: each (tc_i - yc_i) - D_i is within 1.01u (|tc_i| + |yc_i|), so
//   |sum (tc_i - yc_i)^2 - s| <= 2 sqrt(s) |e| + |e|^2 <= u s + 2.06u (nt + ny)
//   (2ab <= u a^2 + b^2 / u), nt and ny the centred rows' sums of squares.
// - the sums: nt, ny and g = tc.yc each over d terms, fused or not, within
//   gamma_d = du/(1 - du) of their exact values relative to nt, ny and
//   (nt + ny)/2; s~ = (nt~ + ny~) - 2g~ rounds twice: within
//   (2 gamma_d + u(1 + gamma_d))(nt + ny) + 1.01u |s~| of sum (tc_i - yc_i)^2.
// - so |s~ - s| <= E = 1.03 ((2d + 4)u (nt~ + ny~) + 2u |s~|) + d 2^-1072
//   (the last term for products that underflow), for du < 2^-10.
// A pair is taken when E <= gram_acceptance s~ and 2^-999 <= s~ <= 2^999:
// then s is within that fraction of s~, sqrt(s~) within 0.51 gram_acceptance
// + 1.01u of sqrt(s), and the literal distance within (0.51d + 2.7)u of it
// (fast_distance.cpp): gram_error_bound adds 0.51 gram_acceptance to the
// regimes' (2d + 8)u. Any other pair is measured from its differences, as
// the p = 2 tile function does, within (2d + 8)u.
#include "classifier/tiles/gram_distance.h"

#include <algorithm>
#include <cmath>

#include "classifier/tiles/fast_distance.h"
#include "classifier/lanes/lane_math.h"
#include "classifier/lanes/lanes.h"
#include "classifier/lanes/multiversion.h"

namespace vendral {

namespace {

constexpr double u = 0x1p-53;
constexpr double smallest_taken = 0x1p-999;
constexpr double largest_taken = 0x1p+999;

// The pair from its differences, as the p = 2 tile function measures it;
// false outside the range its bound covers (fast_distance.cpp).
bool measure_again(const double *row, const double *pattern, int32_t d, double *distance) {
    double sum = 0.0;
    bool all_zero = true;
    for (int32_t i = 0; i < d; ++i) {
        const double x = std::fabs(pattern[i] - row[i]);
        all_zero = all_zero && x == 0.0;
        sum += x * x;
    }
    if (!(sum >= 0x1p-1000 && sum <= 0x1p+1000) && !(sum == 0.0 && all_zero)) return false;
    *distance = std::sqrt(sum);
    return true;
}

// Vector v of a tile's squared distances, s~ = (nt~ + ny~) - 2 g~.
template <int W>
VENDRAL_LANE_INLINE typename simd<W>::value squared_distances(const gram_tile &tile, const gram_pattern &pattern,
                                                              typename simd<W>::value dot, int v) {
    return simd<W>::load(tile.norms + v * W) + pattern.norm - 2.0 * dot;
}

// 1 in the lanes of vector v whose s~ is taken (E <= gram_acceptance s~ and
// in range), 0 in the others.
template <int W>
VENDRAL_LANE_INLINE typename simd<W>::value taken(const gram_tile &tile, const gram_pattern &pattern,
                                                  typename simd<W>::value s, int v, double per_norm, int32_t d) {
    using S = simd<W>;
    const typename S::value norms = S::load(tile.norms + v * W) + pattern.norm;
    const typename S::value bound = per_norm * norms + (1.03 * 2.0 * u) * absolute<W>(s) + d * 0x1p-1072;
    // One comparison per select: GCC 12 turns the conjunction of AVX-512
    // comparisons into one scalar comparison per lane.
    const typename S::value zero = S::broadcast(0.0);
    const typename S::value in_range = S::select(s <= largest_taken, S::broadcast(1.0), zero);
    return S::select(bound <= gram_acceptance * s, S::select(s >= smallest_taken, in_range, zero), zero);
}

// Dot products of gram_patterns patterns with every lane of the tile, in
// strips of tile vectors: each template vector loaded serves every pattern,
// and each pattern value broadcast every vector of the strip (4 x 4 sums in
// registers with AVX-512, 4 x 2 narrower), so the tile is read from cache
// once per call rather than once per pattern.
template <int W>
VENDRAL_LANE_INLINE void dot_products(const gram_tile &tile, const gram_pattern *patterns, int32_t d,
                                      typename simd<W>::value (*dot)[tile_lanes / W]) {
    using S = simd<W>;
    using value = typename S::value;
    constexpr int vectors = tile_lanes / W, strip = W == 8 ? 4 : 2;
    for (int first = 0; first < vectors; first += strip) {
        value sum[gram_patterns][strip];
        for (int k = 0; k < gram_patterns; ++k)
            for (int v = 0; v < strip; ++v) sum[k][v] = S::broadcast(0.0);
        const double *at[strip];
        for (int v = 0; v < strip; ++v)
            at[v] = tile.centred + static_cast<size_t>((first + v) * W / block_lanes) * d * block_lanes +
                    (first + v) * W % block_lanes;
        for (int32_t i = 0; i < d; ++i) {
            value column[strip];
            for (int v = 0; v < strip; ++v) column[v] = S::load(at[v] + static_cast<size_t>(i) * block_lanes);
            for (int k = 0; k < gram_patterns; ++k) {
                const value y = S::broadcast(patterns[k].centred[i]);
                for (int v = 0; v < strip; ++v) sum[k][v] += column[v] * y;
            }
        }
        for (int k = 0; k < gram_patterns; ++k)
            for (int v = 0; v < strip; ++v) dot[k][first + v] = sum[k][v];
    }
}

// One pattern's distances from its dot products; false when a pair measured
// again is out of range.
template <int W>
VENDRAL_LANE_INLINE bool distances_from(const gram_tile &tile, const gram_pattern &pattern, int32_t d,
                                        int valid_lanes, const typename simd<W>::value *dot, double *distance) {
    using S = simd<W>;
    using value = typename S::value;
    constexpr int vectors = tile_lanes / W;
    const double per_norm = 1.03 * (2.0 * d + 4.0) * u;
    value missed = S::broadcast(0.0);  // 1 in the lanes to measure again
    for (int v = 0; v < vectors; ++v) {
        const value s = squared_distances<W>(tile, pattern, dot[v], v);
        const value take = taken<W>(tile, pattern, s, v, per_norm, d);
        S::store(distance + v * W, square_root<W>(S::select(take > 0.5, s, S::broadcast(0.0))));
        missed += 1.0 - take;
    }
    double lanes[W];
    S::store(lanes, missed);
    double any = 0.0;
    for (int l = 0; l < W; ++l) any += lanes[l];
    if (any == 0.0) return true;
    // Rare: pairs much closer than their norms, or out of range.
    for (int v = 0; v < vectors; ++v) {
        S::store(lanes, taken<W>(tile, pattern, squared_distances<W>(tile, pattern, dot[v], v), v, per_norm, d));
        for (int l = v * W; l < std::min(valid_lanes, (v + 1) * W); ++l)
            if (lanes[l - v * W] == 0.0 &&
                !measure_again(tile.templates[tile.template_of_lane[l]], pattern.original, d, &distance[l]))
                return false;
    }
    return true;
}

template <int W>
VENDRAL_LANE_INLINE int gram(const gram_tile &tile, const gram_pattern *patterns, int32_t d, int valid_lanes,
                             double *distances) {
    typename simd<W>::value dot[gram_patterns][tile_lanes / W];
    dot_products<W>(tile, patterns, d, dot);
    int measured = 0;
    for (int k = 0; k < gram_patterns; ++k)
        if (distances_from<W>(tile, patterns[k], d, valid_lanes, dot[k], distances + k * tile_lanes))
            measured |= 1 << k;
    return measured;
}

VENDRAL_WIDTH_VARIANTS(gram_tiles, int,
                       (const gram_tile &tile, const gram_pattern *patterns, int32_t d, int valid, double *distances),
                       (tile, patterns, d, valid, distances), gram)

}  // namespace

gram_distance_function gram_distances_for_width(int width) { return gram_tiles_for_width(width); }

double centre_row(const double *row, const double *centre, int32_t d, double *centred, int32_t stride) {
    double norm = 0.0;
    for (int32_t i = 0; i < d; ++i) {
        const double x = row[i] - centre[i];
        centred[static_cast<size_t>(i) * stride] = x;
        norm += x * x;
    }
    return norm;
}

double gram_error_bound(int32_t d) { return distance_error_bound(d) + 0.51 * gram_acceptance; }

}  // namespace vendral
