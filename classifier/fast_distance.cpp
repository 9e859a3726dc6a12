// Fast distances that are exact: every result is either provably the value
// the literal evaluation (pow for each term, pow for the root) returns, or
// flagged for recomputation.
//
// What the exactness rests on. glibc's pow is accurate to within 0.54 ulp of
// the true value and returns a result that is exactly representable
// exactly (its internal error, below 2^-63 relative, is far smaller than half
// an ulp). Hence if the true value v lies within 1/8 ulp of a double t whose
// binade neighbours are a full ulp away (t not a power of two), every double
// other than t is at least 7/8 ulp from v, and pow(x, p) must return t. When
// v == t exactly, pow returns t as well.
//
// Squares (p = 2). t = x*x, and e = fma(x, x, -t) is exactly x^2 - t as long
// as x^2 is far from underflow (t >= 2^-900). Accept t when e == 0, or when t
// is not a power of two and |e| <= t * 2^-55 (< 1/8 ulp of t).
// Root. r = sqrt(s) is correctly rounded and e = fma(r, r, -s) = r^2 - s is
// exact for a correctly rounded root (no underflow for s >= 2^-900).
// sqrt(s) - r = -e / (r + sqrt(s)), so |e| <= s * 2^-56 bounds the distance
// from r to sqrt(s) by about r * 2^-57, below 1/8 ulp of r. Accept r when
// e == 0, or when r is not a power of two and |e| <= s * 2^-56.
// Cubes (p = 3). a = x*x, ea = fma(x, x, -a), c = a*x, ec = fma(a, x, -c):
// x^3 = c + ec + ea*x exactly, and lo = ec + ea*x is computed with an error
// far below 2^-100 c. Accept c when ea == ec == 0, or when c is not a power of
// two and |lo| <= c * 2^-56. The root pow(s, 1/3) is always called.
// Sums of the accepted terms are formed in index order, as the literal
// evaluation forms them, so they are the same bits. NaN and infinite terms
// fail every comparison above and are recomputed.
#include "fast_distance.h"

#include <cmath>
#include <cstring>

#include "classifier.h"
#include "opaque.h"

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__ELF__) && \
    !defined(VENDRAL_NO_MULTIVERSION)
// One build for every x86-64; the loader picks the widest vectors the
// processor has.
#define VENDRAL_MULTIVERSION \
    __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define VENDRAL_MULTIVERSION
#endif

namespace vendral {

namespace {

constexpr double smallest_checked = 0x1p-900;
constexpr double largest_checked = 0x1p+1000;

inline bool not_power_of_two(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & 0x000fffffffffffffull) != 0;
}

VENDRAL_MULTIVERSION
void sum_of_absolutes(const double *block, const double *pattern, int32_t d, double *distance) {
    double sum[block_lanes] = {};
    for (int32_t i = 0; i < d; ++i)
        for (int l = 0; l < block_lanes; ++l) sum[l] += std::fabs(pattern[i] - block[i * block_lanes + l]);
    for (int l = 0; l < block_lanes; ++l) distance[l] = sum[l];
}

VENDRAL_MULTIVERSION
void largest_absolute(const double *block, const double *pattern, int32_t d, double *distance) {
    double largest[block_lanes] = {};
    for (int32_t i = 0; i < d; ++i)
        for (int l = 0; l < block_lanes; ++l) {
            const double difference = std::fabs(pattern[i] - block[i * block_lanes + l]);
            largest[l] = difference > largest[l] ? difference : largest[l];
        }
    for (int l = 0; l < block_lanes; ++l) distance[l] = largest[l];
}

VENDRAL_MULTIVERSION
void squares(const double *block, const double *pattern, int32_t d, double *distance,
             uint64_t *suspect) {
    double sum[block_lanes] = {};
    uint64_t doubtful[block_lanes] = {};
    for (int32_t i = 0; i < d; ++i)
        for (int l = 0; l < block_lanes; ++l) {
            const double x = std::fabs(pattern[i] - block[i * block_lanes + l]);
            const double t = x * x;
            const double e = std::fma(x, x, -t);
            const bool in_range = t >= smallest_checked && t <= largest_checked;
            const bool exact = x == 0.0 ||
                               (in_range && (e == 0.0 || (not_power_of_two(t) &&
                                                          std::fabs(e) <= t * 0x1p-55)));
            doubtful[l] |= exact ? 0u : 1u;
            sum[l] += t;
        }
    for (int l = 0; l < block_lanes; ++l) {
        const double s = sum[l];
        const double r = std::sqrt(s);
        const double e = std::fma(r, r, -s);
        const bool in_range = s >= smallest_checked && s <= largest_checked;
        const bool exact = s == 0.0 || (in_range && (e == 0.0 || (not_power_of_two(r) &&
                                                                 std::fabs(e) <= s * 0x1p-56)));
        distance[l] = r;
        suspect[l] = doubtful[l] | (exact ? 0u : 1u);
    }
}

VENDRAL_MULTIVERSION
void cubes(const double *block, const double *pattern, int32_t d, double *sums, uint64_t *suspect) {
    double sum[block_lanes] = {};
    uint64_t doubtful[block_lanes] = {};
    for (int32_t i = 0; i < d; ++i)
        for (int l = 0; l < block_lanes; ++l) {
            const double x = std::fabs(pattern[i] - block[i * block_lanes + l]);
            const double a = x * x;
            const double ea = std::fma(x, x, -a);
            const double c = a * x;
            const double ec = std::fma(a, x, -c);
            const double lo = ec + ea * x;
            const bool in_range = c >= smallest_checked && c <= largest_checked;
            const bool exact =
                x == 0.0 || (in_range && ((ea == 0.0 && ec == 0.0) ||
                                          (not_power_of_two(c) && std::fabs(lo) <= c * 0x1p-56)));
            doubtful[l] |= exact ? 0u : 1u;
            sum[l] += c;
        }
    for (int l = 0; l < block_lanes; ++l) {
        sums[l] = sum[l];
        suspect[l] = doubtful[l];
    }
}

}  // namespace

distance_regime regime_for(double p) {
    if (p == 1.0) return distance_regime::sum_of_absolutes;
    if (p == HUGE_VAL) return distance_regime::largest_absolute;
    if (p == 2.0) return distance_regime::squares;
    if (p == 3.0) return distance_regime::cubes;
    return distance_regime::general;
}

void block_distances(distance_regime regime, const double *block, const double *pattern, int32_t d,
                     double p, double *distance, uint64_t *suspect) {
    for (int l = 0; l < block_lanes; ++l) suspect[l] = 0;
    switch (regime) {
        case distance_regime::sum_of_absolutes:
            sum_of_absolutes(block, pattern, d, distance);
            return;
        case distance_regime::largest_absolute:
            largest_absolute(block, pattern, d, distance);
            return;
        case distance_regime::squares:
            squares(block, pattern, d, distance, suspect);
            return;
        case distance_regime::cubes: {
            cubes(block, pattern, d, distance, suspect);
            // The root stays the library's pow, with the exponent hidden from
            // the optimiser as in pattern_distance.
            const double exponent = opaque(1.0 / p);
            for (int l = 0; l < block_lanes; ++l)
                if (suspect[l] == 0) distance[l] = std::pow(distance[l], exponent);
            return;
        }
        case distance_regime::general:
            for (int l = 0; l < block_lanes; ++l) suspect[l] = 1;
            return;
    }
}

}  // namespace vendral
