// Window kernels over a block of distances at once, each value with a bound
// on how far it can be from the literal kernel value at the literal distance.
#ifndef VENDRAL_CLASSIFIER_FAST_KERNELS_H
#define VENDRAL_CLASSIFIER_FAST_KERNELS_H

#include "fast_distance.h"

namespace vendral {

// Lanes per kernel call: several vectors at once, so that their independent
// polynomial chains overlap instead of waiting on each other.
constexpr int kernel_lanes = 4 * block_lanes;

// distance_error: relative bound on |distance - literal distance| (0 where
// the distances are the literal ones). Writes kernel_lanes values and bounds;
// a bound that is not finite means the lane cannot be bounded.
void block_kernel(int kernel_type, const double *distance, double h, double distance_error,
                  double *value, double *error);

// exp(a) for -700 <= a <= 0 within exp_relative_error; 0 below -700, where the
// true value is below 2^-1009. Exposed for its test.
double approximate_exp(double a);
constexpr double exp_relative_error = 0x1p-44;

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_FAST_KERNELS_H
