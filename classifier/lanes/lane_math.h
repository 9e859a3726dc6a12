// Roots and the sine over vectors of lanes, for the fast path: no library
// call per pair. Each comes with a proven bound on how far it can be from
// what the literal evaluation computes, so that the engine can carry it into
// its score bounds. u = 2^-53 throughout. Any multiply-add step below may be
// one fused instruction (the sources that use these say whether they are
// compiled with contraction): a fused step rounds once where the analyses
// count two roundings, and the products they take as exact stay exact, so
// each claim holds fused or not.
//
// cube_root_of_sum(s), 2^-1000 <= s <= 2^1000 or s = 0, against the literal
// pow(s, 1.0/3): the exponent the literal evaluation passes is the double
// nearest 1/3, which is 1/3 - 2^-54/3, so the literal root is
// cbrt(s) * s^(-2^-54/3) = cbrt(s) (1 - (2^-54/3) ln s + tiny): up to 2^-46
// relative away from cbrt(s) at the ends of the range. We follow it:
// - r ~ s^(-1/3): a first guess from the exponent bits (within 10%), then
//   four Newton steps r += r (1 - s r^3) / 3. A step takes a relative error
//   e to about 2e^2 (plus a few u of rounding): 0.1, 0.02, 8e-4, 1.3e-6,
//   3.4e-12; below 2^-36 in all.
// - y = (s r) r within 2^-36 + 2u of cbrt(s); one Newton step on y itself,
//   y -= (y^3 - s) r^2 / 3: y^3 is within 2.01u of the exact cube, y^3 - s
//   is exact (Sterbenz: y^3 and s within a factor of 2), the correction's
//   own rounding is a few u of a term below 2^-34 y, and the final
//   subtraction rounds by u/2. Exact-arithmetic error e^2 < 2^-72. In all
//   within (2.01/3 + 0.5 + 2^-30) u < 1.2u of cbrt(s).
// - times (1 - (2^-54/3) L) with L within 0.09 of ln s (exponent plus a
//   linear mantissa term): the factor is within 2^-54/3 * 0.09 + u/2 of
//   s^(-2^-54/3), the multiplication rounds by u/2.
// Against pow within 1.08u (glibc's bound): |fast - literal| <= 2.8u + 2^-57
// relative; cube_root_error claims 4u.
//
// fourth_root_of_sum(s) = sqrt(sqrt(s)): each sqrt correctly rounded, the
// inner error halves through the outer root: within 1.5u + u^2 of s^(1/4),
// and 1/4 is exact, so against pow (1.08u): fourth_root_error claims 3u.
//
// sine(v), 0 <= v <= 2^20: k = round(v 2/pi), r = v - k pi/2 in three
// pieces (the first two of 33 significant bits, so k times them is exact
// for k < 2^20; v - k p1 is exact by Sterbenz; the other two subtractions
// round by u |r| each, the truncated tail of pi/2 adds below 2^20 * 2^-102);
// |r| <= pi/4 + 2^-30. sin and cos of r by their Taylor polynomials to
// degree 17 and 16: truncation below 0.8^18/18! < 2^-56; Horner's rounding
// in r^2 stays below 4u absolute (every partial sum is below 1.2 and the
// terms fall fast). A rounding of r by 2u moves the result by 2u. In all
// within 8u absolute of sin(v); sine_error claims 2^-49 (16u). Outside that
// range of v the caller must not use it (sine_range).
//
// natural_log(x), x a positive normal double: x = 2^e m with m in
// [sqrt(1/2), sqrt(2)) from the bits (exact), f = m - 1 (exact: Sterbenz),
// s = f / (2 + f) within 2.01u relative (two roundings), |s| <= 0.1716.
// ln m = 2 atanh(s) = 2s + 2s z Q(z), z = s^2, Q(z) = 1/3 + z/5 + ... + z^8/19:
// the terms left out sum below 2|s|^21 / (21 (1 - s^2)) < 2^-56.8. The
// correction 2s z Q(z) is below 0.0102 |2s|, so its own roundings (a few u
// of it) stay below 0.05u |2s|; the final addition rounds by u. atanh' =
// 1/(1 - s^2) <= 1.03 turns s's 2.01u into 2.08u |2s| <= 2.08u |ln m|
// (atanh(s) >= s). So ln m is within 3.2u |ln m| + 2^-56.8. Then ln x =
// e ln2_hi + (ln m + e ln2_lo): ln2_hi has 32 significant bits, so e ln2_hi
// is exact for |e| <= 1075; ln2_hi + ln2_lo is within 2^-85 of ln 2 (times
// |e|: 2^-74.9); e ln2_lo (below 2.1e-7) rounds by u of itself, the inner
// sum by u of |ln m| + 2.1e-7, the outer by u |ln x|. With e = 0 ln x is
// ln m; otherwise |ln x| >= ln 2 - 0.347 >= |ln m|. In all within
// 5.3u |ln x| + 2^-56.5; log_relative_error and log_absolute_error claim
// 8u and 2^-55. Zero, subnormal, infinite and NaN x must not come here.
#ifndef VENDRAL_CLASSIFIER_LANE_MATH_H
#define VENDRAL_CLASSIFIER_LANE_MATH_H

#include <cmath>
#include <cstdint>

#include "classifier/lanes/lanes.h"

namespace vendral {

constexpr double cube_root_error = 4 * 0x1p-53;    // relative, against pow(s, 1.0/3)
constexpr double fourth_root_error = 3 * 0x1p-53;  // relative, against pow(s, 0.25)
constexpr double root_smallest_sum = 0x1p-1000;    // the roots' argument range
constexpr double root_largest_sum = 0x1p+1000;
constexpr double log_relative_error = 8 * 0x1p-53;  // natural_log: times |ln x|, plus
constexpr double log_absolute_error = 0x1p-55;      // ... this, against ln x
constexpr double sine_error = 0x1p-49;  // absolute, against sin(v)
constexpr double sine_range = 0x1p+20;  // 0 <= v <= sine_range
// exp(a) for -700 <= a <= 705 (see fast_kernels.cpp for its error; the
// kernels use a <= 0, the general-p distances up to 705); 0 below.
constexpr double exp_floor = -700.0;

template <int W>
VENDRAL_LANE_INLINE typename simd<W>::value approximate_exp_lanes(typename simd<W>::value a) {
    using S = simd<W>;
    using value = typename S::value;
    const value shifter = S::broadcast(0x1.8p52);
    const value shifted = a * 1.4426950408889634 + shifter;
    const value k = shifted - shifter;
    value r = a - k * 0x1.62e42fee00000p-1;
    r = r - k * 0x1.a39ef35793c76p-33;
    value p = S::broadcast(1.0 / 39916800.0);  // 1/11!
    p = p * r + 1.0 / 3628800.0;
    p = p * r + 1.0 / 362880.0;
    p = p * r + 1.0 / 40320.0;
    p = p * r + 1.0 / 5040.0;
    p = p * r + 1.0 / 720.0;
    p = p * r + 1.0 / 120.0;
    p = p * r + 1.0 / 24.0;
    p = p * r + 1.0 / 6.0;
    p = p * r + 0.5;
    p = p * r + 1.0;
    p = p * r + 1.0;
    const typename S::bits exponent = S::to_bits(shifted) - S::to_bits(shifter) + 1023u;
    const value scale = S::from_bits(exponent << 52);
    // A NaN argument fails the comparison and stays NaN.
    return S::select(a < exp_floor, S::broadcast(0.0), p * scale);
}

template <int W>
VENDRAL_LANE_INLINE typename simd<W>::value natural_log(typename simd<W>::value x) {
    using S = simd<W>;
    using value = typename S::value;
    using bits = typename S::bits;
    const bits x_bits = S::to_bits(x);
    // m in [1, 2) and e as a double (2^52 + e in the bits, as cube_root_of_sum does).
    value m = S::from_bits((x_bits & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull);
    value e = S::from_bits((x_bits >> 52) + 0x4330000000000000ull) - (0x1p52 + 1023.0);
    const auto high = m >= 1.4142135623730951;
    m = S::select(high, m * 0.5, m);
    e = S::select(high, e + 1.0, e);
    const value f = m - 1.0;
    const value s = f / (f + 2.0);
    const value z = s * s;
    value q = S::broadcast(1.0 / 19);
    q = q * z + 1.0 / 17;
    q = q * z + 1.0 / 15;
    q = q * z + 1.0 / 13;
    q = q * z + 1.0 / 11;
    q = q * z + 1.0 / 9;
    q = q * z + 1.0 / 7;
    q = q * z + 1.0 / 5;
    q = q * z + 1.0 / 3;
    const value twice_s = s + s;
    const value log_m = twice_s + twice_s * (z * q);
    return e * 0x1.62e42fee00000p-1 + (log_m + e * 0x1.a39ef35793c76p-33);
}

// Lane by lane: compilers turn the loop into the vector instruction where
// errno is not set (-fno-math-errno).
template <int W>
VENDRAL_LANE_INLINE typename simd<W>::value square_root(typename simd<W>::value v) {
    if constexpr (W == 1) {
        return std::sqrt(v);
    } else {
        typename simd<W>::value root;
        for (int l = 0; l < W; ++l) root[l] = std::sqrt(v[l]);
        return root;
    }
}

template <int W>
VENDRAL_LANE_INLINE typename simd<W>::value cube_root_of_sum(typename simd<W>::value s) {
    using S = simd<W>;
    using value = typename S::value;
    using bits = typename S::bits;
    const bits s_bits = S::to_bits(s);
    // The high word over 3 (exact for words below 2^32): -1/3 of the
    // logarithm, in the exponent field, about the bias.
    const bits third = ((s_bits >> 32) * 0xAAAAAAABull) >> 33;
    value r = S::from_bits((0x553EF0FFull - third) << 32);
    for (int step = 0; step < 4; ++step) r = r + r * (1.0 - s * (r * r * r)) * (1.0 / 3.0);
    value y = (s * r) * r;
    y = y - (y * y * y - s) * ((r * r) * (1.0 / 3.0));
    // ln s within 0.09: exponent + (mantissa - 1), times ln 2. Exponent as a
    // double without a 64-bit integer conversion: 2^52 + e in the bits.
    const value exponent = S::from_bits((s_bits >> 52) + 0x4330000000000000ull) - (0x1p52 + 1023.0);
    const value mantissa = S::from_bits((s_bits & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull);
    const value log_s = (exponent + (mantissa - 1.0)) * 0.6931471805599453;
    // A zero sum (every difference zero) has the root 0, as pow gives; the
    // steps above would overflow on it.
    return S::select(s == 0.0, s, y - y * (log_s * (0x1p-54 / 3.0)));
}

template <int W>
VENDRAL_LANE_INLINE typename simd<W>::value fourth_root_of_sum(typename simd<W>::value s) {
    return square_root<W>(square_root<W>(s));
}

template <int W>
VENDRAL_LANE_INLINE typename simd<W>::value sine(typename simd<W>::value v) {
    using S = simd<W>;
    using value = typename S::value;
    using bits = typename S::bits;
    const value shifter = S::broadcast(0x1.8p52);
    const value shifted = v * 0.63661977236758134 + shifter;
    const value k = shifted - shifter;
    const bits quadrant = S::to_bits(shifted) & 3u;
    value r = v - k * 1.57079632673412561417e+00;
    r = r - k * 6.07710050630396597660e-11;
    r = r - k * 2.02226624879595063154e-21;
    const value z = r * r;
    value sin_r = S::broadcast(1.0 / 355687428096000.0);  // 1/17!
    sin_r = sin_r * z - 1.0 / 1307674368000.0;
    sin_r = sin_r * z + 1.0 / 6227020800.0;
    sin_r = sin_r * z - 1.0 / 39916800.0;
    sin_r = sin_r * z + 1.0 / 362880.0;
    sin_r = sin_r * z - 1.0 / 5040.0;
    sin_r = sin_r * z + 1.0 / 120.0;
    sin_r = sin_r * z - 1.0 / 6.0;
    sin_r = r + r * (z * sin_r);
    value cos_r = S::broadcast(1.0 / 20922789888000.0);  // 1/16!
    cos_r = cos_r * z - 1.0 / 87178291200.0;
    cos_r = cos_r * z + 1.0 / 479001600.0;
    cos_r = cos_r * z - 1.0 / 3628800.0;
    cos_r = cos_r * z + 1.0 / 40320.0;
    cos_r = cos_r * z - 1.0 / 720.0;
    cos_r = cos_r * z + 1.0 / 24.0;
    cos_r = cos_r * z - 0.5;
    cos_r = 1.0 + z * cos_r;
    // Quadrants 1 and 3 take the cosine; 2 and 3 change the sign.
    const value magnitude = S::select((quadrant & 1u) != 0u, cos_r, sin_r);
    return S::from_bits(S::to_bits(magnitude) ^ ((quadrant & 2u) << 62));
}

// The functions above over count values (a multiple of 8), at the vector
// width of multiversion.h. For tests.
void cube_roots_of_sums(const double *in, double *out, int32_t count, int width);
void fourth_roots_of_sums(const double *in, double *out, int32_t count, int width);
void sines(const double *in, double *out, int32_t count, int width);
void natural_logs(const double *in, double *out, int32_t count, int width);

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_LANE_MATH_H
