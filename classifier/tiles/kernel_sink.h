// Where a kernel tile function leaves its lanes (fast_kernels.h: kernel_tile),
// shared by the kernel sources, and the macro that makes each tile function's
// vector-width variants.
#ifndef VENDRAL_CLASSIFIER_KERNEL_SINK_H
#define VENDRAL_CLASSIFIER_KERNEL_SINK_H

#include "classifier/tiles/fast_kernels.h"
#include "classifier/lanes/lanes.h"
#include "classifier/lanes/multiversion.h"

namespace vendral {

// A vector of values and of sensitivities goes into the running sums (lane
// order does not matter to the bound, only the number of terms) when the
// tile's templates are all of one class, else into the per-lane arrays. The
// choice is a template argument, so that the kernels' loops unroll with the
// running sums in registers.
template <int W, bool one_class>
struct kernel_sink {
    using S = simd<W>;
    static constexpr int running_vectors = block_lanes / W;
    typename S::value running_value[running_vectors], running_sensitivity[running_vectors];
    // Of a tile that is not one class: the summary kernel_tile describes.
    typename S::value largest_value = S::broadcast(0.0), largest_sensitivity = S::broadcast(0.0),
                      finite_check = S::broadcast(0.0);
    kernel_tile *out;

    VENDRAL_LANE_INLINE explicit kernel_sink(kernel_tile *tile) : out(tile) {
        for (int v = 0; v < running_vectors; ++v) {
            running_value[v] = one_class ? S::load(out->running_value + v * W) : S::broadcast(0.0);
            running_sensitivity[v] = one_class ? S::load(out->running_sensitivity + v * W) : S::broadcast(0.0);
        }
    }

    VENDRAL_LANE_INLINE void keep(int v, typename S::value k, typename S::value sensitivity) {
        if (one_class) {
            running_value[v % running_vectors] += k;
            running_sensitivity[v % running_vectors] += sensitivity;
        } else {
            S::store(out->value + v * W, k);
            S::store(out->sensitivity + v * W, sensitivity);
            largest_value = S::select(k > largest_value, k, largest_value);
            largest_sensitivity = S::select(sensitivity > largest_sensitivity, sensitivity, largest_sensitivity);
            finite_check += (k - k) + (sensitivity - sensitivity);
        }
    }

    VENDRAL_LANE_INLINE void finish() {
        if (!one_class) {
            double lanes[3][W];
            S::store(lanes[0], largest_value);
            S::store(lanes[1], largest_sensitivity);
            S::store(lanes[2], finite_check);
            // In locals, as selects rather than branches: the comparisons
            // go either way at random.
            double value = 0.0, sensitivity = 0.0, check = 0.0;
            for (int l = 0; l < W; ++l) {
                value = lanes[0][l] > value ? lanes[0][l] : value;
                sensitivity = lanes[1][l] > sensitivity ? lanes[1][l] : sensitivity;
                check += lanes[2][l];
            }
            out->largest_value = value;
            out->largest_sensitivity = sensitivity;
            out->finite_check = check;
            return;
        }
        for (int v = 0; v < running_vectors; ++v) {
            S::store(out->running_value + v * W, running_value[v]);
            S::store(out->running_sensitivity + v * W, running_sensitivity[v]);
        }
    }
};

}  // namespace vendral

// The kernels are written as body<W, one_class>(x, h, distance_error, out);
// the variants choose one_class at run time.
#define VENDRAL_KERNEL_VARIANTS(name, body)                                                    \
    template <int W>                                                                           \
    VENDRAL_LANE_INLINE void name##_lanes(const double *x, double h, double distance_error,   \
                                          bool one_class, kernel_tile *out) {                  \
        if (one_class)                                                                         \
            body<W, true>(x, h, distance_error, out);                                          \
        else                                                                                   \
            body<W, false>(x, h, distance_error, out);                                         \
    }                                                                                          \
    VENDRAL_WIDTH_VARIANTS(name, void,                                                         \
                           (const double *x, double h, double distance_error, bool one_class,   \
                            kernel_tile *out),                                                 \
                           (x, h, distance_error, one_class, out), name##_lanes)

#endif  // VENDRAL_CLASSIFIER_KERNEL_SINK_H
