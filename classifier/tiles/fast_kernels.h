// Window kernels over a tile of distances at once, with what is needed to
// bound how far a class sum of them can be from the literal one.
#ifndef VENDRAL_CLASSIFIER_FAST_KERNELS_H
#define VENDRAL_CLASSIFIER_FAST_KERNELS_H

#include <cstdint>

#include "classifier/classifier.h"
#include "classifier/tiles/fast_distance.h"

namespace vendral {

// Lanes per kernel call: several vectors at once, so that their independent
// polynomial chains overlap instead of waiting on each other.
constexpr int kernel_lanes = tile_lanes;

// What one call of a kernel tile function leaves. A tile whose templates all
// belong to one class (one_class) only adds its values into the running lane
// sums (the caller folds them into that class's score when the class
// changes); any other tile leaves every lane's value, lanes past the valid
// ones holding whatever their (zero) templates give.
struct kernel_tile {
    double value[kernel_lanes];
    double sensitivity[kernel_lanes];  // the per-lane term the bound scales, see kernel_bound
    double running_value[block_lanes];
    double running_sensitivity[block_lanes];
    // Of a tile that is not one class, over all its lanes: the largest value
    // and sensitivity (NaN lanes aside), and the sum of v - v and s - s over
    // them, 0 exactly when every lane is finite.
    double largest_value;
    double largest_sensitivity;
    double finite_check;
};

// The same three from the lanes one by one: what the tile functions compute
// in vectors (a test holds them to it).
inline void summarise_lanes(kernel_tile *tile) {
    tile->largest_value = 0.0;
    tile->largest_sensitivity = 0.0;
    tile->finite_check = 0.0;
    for (int l = 0; l < kernel_lanes; ++l) {
        if (tile->value[l] > tile->largest_value) tile->largest_value = tile->value[l];
        if (tile->sensitivity[l] > tile->largest_sensitivity) tile->largest_sensitivity = tile->sensitivity[l];
        tile->finite_check += (tile->value[l] - tile->value[l]) + (tile->sensitivity[l] - tile->sensitivity[l]);
    }
}

// For a sum of n kernel values V with sensitivities S, computed at distances
// within distance_error (relative) of the literal ones, the literal sum of the
// literal kernel values differs by at most
//     per_sensitivity * S + per_value * V + per_term * n
// plus the rounding of the two sums themselves. Where values can be subnormal
// each lane's bound needs an absolute part of at least 2^-1060 (per_term, or
// within the sensitivity). valid is false when the distance error is too
// large for these first-order bounds.
struct kernel_bound {
    double per_sensitivity;
    double per_value;
    double per_term;
    bool valid;
};

// The rows' fast side (classifier.h): tile functions at the vector width in
// use, and bounds for distances within distance_error of the literal ones.
kernel_tile_function gaussian_tile_for_width(int width);
kernel_tile_function squared_sinc_tile_for_width(int width);
kernel_tile_function laplacian_tile_for_width(int width);
kernel_tile_function cauchy_tile_for_width(int width);
kernel_bound gaussian_bound(double distance_error);
kernel_bound squared_sinc_bound(double distance_error);
kernel_bound laplacian_bound(double distance_error);
kernel_bound cauchy_bound(double distance_error);

// The bound on a class score: n terms with fast values summing to value and
// sensitivities to sensitivity, against the literal sum in template order.
// Both sums add the same n non-negative terms in different orders: each is
// within (n - 1)u of the exact sum (additions lose nothing in the subnormal
// range), so they differ by at most 2nu. The factor 1.01 covers the rounding
// of this sum; what its products lose to underflow (a few 2^-1074) each
// kernel's own absolute slack per term (at least 2^-1060) covers.
inline double class_score_bound(const kernel_bound &bound, double sensitivity, double value, int32_t n) {
    return 1.01 * (bound.per_sensitivity * sensitivity + bound.per_value * value + bound.per_term * n +
                   n * 0x1p-52 * value);
}

// Whether every lane of a tile, each the one term of its own class, scores
// clearly below best (whose bound is best_error): each lane's own score
// bound above, and best - value beyond both bounds. Settled for all lanes
// at once from the tile's largest value and largest sensitivity: a lane's
// bound grows with both, and best - value falls as value grows, so a tile
// whose largest value is clear by the largest bound has every lane clear by
// its own. A NaN or infinite lane fails the check (finite_check), and the
// caller takes the lanes one by one.
inline bool all_clear_below(const kernel_bound &bound, double best, double best_error, const kernel_tile &tile) {
    const double largest_error = class_score_bound(bound, tile.largest_sensitivity, tile.largest_value, 1);
    return tile.finite_check == 0.0 && best - tile.largest_value > best_error + largest_error;
}

// exp(a) for -700 <= a <= 0 within exp_relative_error; 0 below -700, where the
// true value is below 2^-1009. Exposed for its test.
double approximate_exp(double a);
constexpr double exp_relative_error = 0x1p-44;

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_FAST_KERNELS_H
