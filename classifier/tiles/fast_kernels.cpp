// Vectorised kernels for the fast path. Their values need not be the literal
// bits: the engine only uses them where the decision is clear by more than
// the bounds computed here.
//
// approximate_exp(a), -700 <= a <= 705 (lane_math.h): k = round(a / ln 2) by
// the 1.5 * 2^52 shift, r = a - k ln2_hi - k ln2_lo (ln2_hi has 32
// significant bits, so k ln2_hi is exact for |k| < 2^20), |r| <= 0.3466 +
// 2^-40. exp(r) by its Taylor polynomial of degree 11 in Horner form:
// truncation below e^0.35 |r|^12 / 12! < 2^-46.6, relative to e^r >= 0.707
// below 2^-46.1; the rounding of the 11 multiply-add steps and of the
// coefficients stays below 30u e^(2|r|) < 2^-47.1, relative below 2^-46.6;
// the reduction adds at most 2^-52. A step fused into one instruction (the
// gaussian and laplacian tiles are compiled with contraction on, in
// exp_kernels.cpp) rounds once instead of twice, which only tightens this;
// the products k ln2_hi are exact either way. Scaling by 2^k (-1010 <= k <=
// 1018, a normal number) is exact. Total below 2^-45.3; exp_relative_error
// claims 2^-44.
//
// Bounds against the literal value, u = 2^-53, e_x the distance's relative
// error, q = x/h (ours x * (1/h), a multiplication being much cheaper than a
// division) with relative error e_q = e_x + 3.03u between the two sides:
// - gaussian exp(a), a = -q^2/2: the arguments differ by at most
//   |a| g with g = 2.02 e_q + 2.02u. While that change c is below 2^-20,
//   e^c - 1 < 1.01c, so |K - K_literal| <= K (1.01 |a| g + C) 1.01 with
//   C = exp_relative_error + 2u (ours, and the literal exp within 1 ulp).
//   The sensitivity of a lane is K |a|. Below a = -700 our value is 0 and
//   the literal one below 2^-1009: each term may add 2^-1000. For a >= -701
//   the change stays below 701 g; the bound is valid only while 701 g <= 2^-20.
// - laplacian exp(-q): the same with |a| = q and g = e_q.
// - cauchy 1/(q^2 + 1): computed as the literal kernel does, so only e_q
//   matters: 2.02 e_q + 6u relative (the factor q^2/(q^2+1) <= 1).
// - squared sinc: the literal kernel itself on the fast distance; its
//   sensitivity is its whole bound (squared_sinc_error).
#include "classifier/tiles/fast_kernels.h"

#include <cmath>
#include <cstdint>

#include "classifier/tiles/kernel_sink.h"
#include "classifier/tiles/kernel_values.h"
#include "classifier/lanes/lane_math.h"
#include "classifier/lanes/lanes.h"
#include "classifier/lanes/multiversion.h"
#include "classifier/tiles/score_bounds.h"

namespace vendral {

namespace {

constexpr double u = 0x1p-53;
constexpr double underflowed_term = 0x1p-1000;  // bounds e^-699.99 and any lane below
constexpr double largest_change = 0x1p-20;

template <int W, bool one_class>
VENDRAL_LANE_INLINE void cauchy(const double *x, double h, double, kernel_tile *out) {
    using S = simd<W>;
    const double inverse_h = 1.0 / h;
    kernel_sink<W, one_class> sink(out);
#pragma GCC unroll 16
    for (int v = 0; v < kernel_lanes / W; ++v) {
        const typename S::value q = S::load(x + v * W) * inverse_h;
        const typename S::value k = 1.0 / (q * q + 1.0);
        sink.keep(v, k, S::broadcast(0.0));
    }
    sink.finish();
}

// (sin v / v)^2 with v = x / (h + h) as the literal kernel computes it, but
// with the vector sine (lane_math.h) for 0 < v <= sine_range; its
// sensitivity is its whole bound (squared_sinc_error, with the two sines'
// difference). Lanes outside that range (v = 0, huge or tiny v, NaN) take
// the literal kernel itself, one by one.
template <int W, bool one_class>
VENDRAL_LANE_INLINE void squared_sinc(const double *x, double h, double distance_error,
                                      kernel_tile *out) {
    using S = simd<W>;
    using value = typename S::value;
    const double two_h = h + h;
    const double e_v = quotient_error(distance_error);
    const bool bounded = e_v <= bounds::largest_relative;
    const double sine_difference = 1.01 * (sine_error + 0x1p-52);
    kernel_sink<W, one_class> sink(out);
    for (int v = 0; v < kernel_lanes / W; ++v) {
        const value argument = S::load(x + v * W) / two_h;
        const auto vector_lanes = (argument >= 0x1p-900) & (argument <= sine_range);
        const value safe = S::select(vector_lanes, argument, S::broadcast(1.0));
        const value s = sine<W>(safe) / safe;
        const value k = s * s;
        const value error = bounded ? squared_sinc_error<value>(safe, absolute<W>(s), k, e_v, sine_difference)
                                    : S::broadcast(HUGE_VAL);
        value kept = S::select(vector_lanes, k, S::broadcast(0.0));
        value kept_error = S::select(vector_lanes, error, S::broadcast(0.0));
        double lanes[W], errors[W], arguments[W];
        S::store(arguments, argument);
        bool all_vector = true;
        for (int l = 0; l < W; ++l) all_vector = all_vector && arguments[l] >= 0x1p-900 && arguments[l] <= sine_range;
        if (!all_vector) {
            S::store(lanes, kept);
            S::store(errors, kept_error);
            for (int l = 0; l < W; ++l) {
                if (arguments[l] >= 0x1p-900 && arguments[l] <= sine_range) continue;
                const double distance = x[v * W + l];
                lanes[l] = squared_sinc_value(distance, h);
                errors[l] = distance_error == 0.0 ? 0.0 : squared_sinc_error(distance, h, lanes[l], distance_error);
            }
            kept = S::load(lanes);
            kept_error = S::load(errors);
        }
        sink.keep(v, kept, kept_error);
    }
    sink.finish();
}

}  // namespace

VENDRAL_KERNEL_VARIANTS(cauchy_tile, cauchy)
VENDRAL_KERNEL_VARIANTS(squared_sinc_tile, squared_sinc)

namespace {

kernel_bound exponential_bound(double argument_error) {
    const double g = argument_error;
    return {1.0201 * g, 1.01 * (exp_relative_error + 2.0 * u), underflowed_term,
            701.0 * g <= largest_change};
}

// Our q is x times 1/h (two roundings), the literal one x/h (one).
double fast_quotient_error(double distance_error) { return distance_error + 3.03 * u; }

}  // namespace



kernel_bound gaussian_bound(double distance_error) {
    return exponential_bound(2.02 * fast_quotient_error(distance_error) + 2.02 * u);
}

// The sensitivity of a lane is its whole bound.
kernel_bound squared_sinc_bound(double) { return {1.0, 0.0, 0.0, true}; }

kernel_bound laplacian_bound(double distance_error) {
    return exponential_bound(fast_quotient_error(distance_error));
}

kernel_bound cauchy_bound(double distance_error) {
    return {0.0, (2.02 * fast_quotient_error(distance_error) + 6.0 * u) * 1.01, 0x1p-1060, true};
}

double approximate_exp(double a) { return approximate_exp_lanes<1>(a); }

}  // namespace vendral
