// Vectorised kernels for the fast path. Their values need not be the literal
// bits: the engine only uses them where the decision is clear by more than
// the bounds computed here.
//
// approximate_exp(a), -700 <= a <= 0: k = round(a / ln 2) by the 1.5 * 2^52
// shift, r = a - k ln2_hi - k ln2_lo (ln2_hi has 32 significant bits, so
// k ln2_hi is exact for |k| < 2^20), |r| <= 0.3466 + 2^-40. exp(r) by its
// Taylor polynomial of degree 13 in Horner form: truncation below
// e^0.35 r^14 / 14! < 2^-56; the rounding of the 13 multiply-add steps and of
// the coefficients stays below 30 u e^(2|r|) < 2^-47; the reduction adds at
// most 2^-52. Scaling by 2^k (k >= -1010, a normal number) is exact. Total
// below 2^-46; exp_relative_error claims 2^-44.
//
// Bounds against the literal value, u = 2^-53, e_x the distance's relative
// error, q = x/h with relative error e_q = e_x + 2.02u between the two sides:
// - gaussian exp(-q^2/2): the arguments differ by q^2/2 (2.02 e_q + 2.02u);
//   literal exp is within 1 ulp (2u) and ours within exp_relative_error.
// - laplacian exp(-q): the arguments differ by q e_q.
// - cauchy 1/(q^2 + 1): computed as the literal kernel does, so only e_q
//   (2.02 e_q + 6u relative, the factor q^2/(q^2+1) <= 1).
// - squared sinc: the literal kernel itself on the fast distance, with the
//   bound of squared_sinc_error.
#include "fast_kernels.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "kernel_values.h"
#include "lanes.h"
#include "multiversion.h"
#include "score_bounds.h"

namespace vendral {

namespace {

constexpr double u = 0x1p-53;
constexpr double exp_floor = -700.0;
constexpr double underflowed_error = 0x1p-1000;  // bounds e^-700 and the literal's value there
constexpr double largest_change = 0x1p-20;

template <int W>
VENDRAL_LANE_INLINE typename simd<W>::value approximate_exp_lanes(typename simd<W>::value a) {
    using S = simd<W>;
    using value = typename S::value;
    const value shifter = S::broadcast(0x1.8p52);
    const value shifted = a * 1.4426950408889634 + shifter;
    const value k = shifted - shifter;
    value r = a - k * 0x1.62e42fee00000p-1;
    r = r - k * 0x1.a39ef35793c76p-33;
    value p = S::broadcast(1.0 / 6227020800.0);  // 1/13!
    p = p * r + 1.0 / 479001600.0;
    p = p * r + 1.0 / 39916800.0;
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

// The error of exponential lanes whose arguments differ by `change`.
template <int W>
VENDRAL_LANE_INLINE typename simd<W>::value exp_error(typename simd<W>::value k,
                                                      typename simd<W>::value change) {
    using S = simd<W>;
    const typename S::value relative = change * 1.01 + (exp_relative_error + 2.0 * u);
    const typename S::value bounded =
        S::select(k == S::broadcast(0.0), S::broadcast(underflowed_error), k * relative * 1.01 + 0x1p-1060);
    return S::select(change <= S::broadcast(largest_change), bounded, S::broadcast(HUGE_VAL));
}

template <int W>
VENDRAL_LANE_INLINE void gaussian(const double *x, double h, double distance_error, double *value,
                                  double *error) {
    using S = simd<W>;
    const double e_q = distance_error + 2.02 * u;
    for (int v = 0; v < kernel_lanes / W; ++v) {
        const typename S::value q = S::load(x + v * W) / h;
        const typename S::value a = q * q * (-0.5);
        const typename S::value k = approximate_exp_lanes<W>(a);
        S::store(value + v * W, k);
        S::store(error + v * W, exp_error<W>(k, -a * (2.02 * e_q + 2.02 * u)));
    }
}

template <int W>
VENDRAL_LANE_INLINE void laplacian(const double *x, double h, double distance_error, double *value,
                                   double *error) {
    using S = simd<W>;
    const double e_q = distance_error + 2.02 * u;
    for (int v = 0; v < kernel_lanes / W; ++v) {
        const typename S::value q = S::load(x + v * W) / h;
        const typename S::value k = approximate_exp_lanes<W>(-q);
        S::store(value + v * W, k);
        S::store(error + v * W, exp_error<W>(k, q * e_q));
    }
}

template <int W>
VENDRAL_LANE_INLINE void cauchy(const double *x, double h, double distance_error, double *value,
                                double *error) {
    using S = simd<W>;
    const double relative = (2.02 * (distance_error + 2.02 * u) + 6.0 * u) * 1.01;
    for (int v = 0; v < kernel_lanes / W; ++v) {
        const typename S::value q = S::load(x + v * W) / h;
        const typename S::value k = 1.0 / (q * q + 1.0);
        S::store(value + v * W, k);
        S::store(error + v * W, k * relative + 0x1p-1060);
    }
}

VENDRAL_WIDTH_VARIANTS(gaussian_block,
                       (const double *x, double h, double distance_error, double *value, double *error),
                       (x, h, distance_error, value, error), gaussian)
VENDRAL_WIDTH_VARIANTS(laplacian_block,
                       (const double *x, double h, double distance_error, double *value, double *error),
                       (x, h, distance_error, value, error), laplacian)
VENDRAL_WIDTH_VARIANTS(cauchy_block,
                       (const double *x, double h, double distance_error, double *value, double *error),
                       (x, h, distance_error, value, error), cauchy)


// The literal kernel itself on the fast distances: sin has no vector form here.
void squared_sinc_block(const double *x, double h, double distance_error, double *value, double *error) {
    for (int l = 0; l < kernel_lanes; ++l) {
        value[l] = squared_sinc_value(x[l], h);
        error[l] = distance_error == 0.0 ? 0.0 : squared_sinc_error(x[l], h, value[l], distance_error);
    }
}

}  // namespace

double approximate_exp(double a) { return approximate_exp_lanes<1>(a); }

void block_kernel(int kernel_type, const double *distance, double h, double distance_error,
                  double *value, double *error) {
    switch (kernel_type) {
        case 0: gaussian_block_for_width()(distance, h, distance_error, value, error); return;
        case 1: squared_sinc_block(distance, h, distance_error, value, error); return;
        case 2: laplacian_block_for_width()(distance, h, distance_error, value, error); return;
        default: cauchy_block_for_width()(distance, h, distance_error, value, error); return;
    }
}

}  // namespace vendral
