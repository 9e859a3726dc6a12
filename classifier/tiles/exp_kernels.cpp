// The gaussian and laplacian tiles: the exponential kernels, whose cost is the
// exp polynomial's multiply-add steps. This source alone among the kernels is
// compiled with contraction on, so that each step is one fused instruction
// where the processor has them; the exp's bound holds fused or not (its
// derivation and the kernels' bounds: fast_kernels.cpp). Nothing here must be
// the literal arithmetic: the cauchy and squared sinc tiles, which must, stay
// in fast_kernels.cpp.
#include "classifier/tiles/fast_kernels.h"
#include "classifier/tiles/kernel_sink.h"
#include "classifier/lanes/lane_math.h"
#include "classifier/lanes/lanes.h"
#include "classifier/lanes/multiversion.h"

namespace vendral {

namespace {

// Sensitivity K |a| with a = -q^2/2.
template <int W, bool one_class>
VENDRAL_LANE_INLINE void gaussian(const double *x, double h, double, kernel_tile *out) {
    using S = simd<W>;
    const double inverse_h = 1.0 / h;
    kernel_sink<W, one_class> sink(out);
#pragma GCC unroll 16
    for (int v = 0; v < kernel_lanes / W; ++v) {
        const typename S::value q = S::load(x + v * W) * inverse_h;
        const typename S::value a = q * q * (-0.5);
        const typename S::value k = approximate_exp_lanes<W>(a);
        sink.keep(v, k, -(k * a));
    }
    sink.finish();
}

// Sensitivity K q.
template <int W, bool one_class>
VENDRAL_LANE_INLINE void laplacian(const double *x, double h, double, kernel_tile *out) {
    using S = simd<W>;
    const double inverse_h = 1.0 / h;
    kernel_sink<W, one_class> sink(out);
#pragma GCC unroll 16
    for (int v = 0; v < kernel_lanes / W; ++v) {
        const typename S::value q = S::load(x + v * W) * inverse_h;
        const typename S::value k = approximate_exp_lanes<W>(-q);
        sink.keep(v, k, k * q);
    }
    sink.finish();
}

}  // namespace

VENDRAL_KERNEL_VARIANTS(gaussian_tile, gaussian)
VENDRAL_KERNEL_VARIANTS(laplacian_tile, laplacian)

}  // namespace vendral
