// How far the squared sinc kernel computed from a fast distance can be from
// the one computed from the literal distance. With |x - x_literal| <=
// distance_error * x, the kernel results differ by at most the returned
// amount. Both sides evaluate the same kernel code, so what differs is the
// input, each rounding step, and the sine where the fast side takes its own
// (lane_math.h: within sine_error; glibc's within 1 ulp): u = 2^-53 below. An infinite bound means "cannot tell": the pattern is then
// recomputed literally.
#ifndef VENDRAL_CLASSIFIER_SCORE_BOUNDS_H
#define VENDRAL_CLASSIFIER_SCORE_BOUNDS_H

#include <cmath>

#include "classifier/lanes/lanes.h"

namespace vendral {

namespace bounds {
constexpr double u = 0x1p-53;
// Absolute slack for results near or below the subnormal range.
constexpr double tiny = 0x1p-1060;
// Above this relative change the first-order bounds below stop being safe.
constexpr double largest_relative = 0x1p-20;
}  // namespace bounds

// x / h in both: relative difference of the quotients.
inline double quotient_error(double distance_error) { return distance_error + 2.02 * bounds::u; }

// (sin v / v)^2 with v = x/(2h): |d sin| <= |dv|, so s = sin(v)/v moves by at
// most e_v + |s| (e_v + 6u), and by sine_difference / v more where the two
// sides' sines differ by sine_difference at the same argument; K = s^2 by
// 2|s| ds + ds^2 and its rounding.
// v > 0 and s >= 0 here (|v|, |s|); value is a double or a vector of them.
template <typename value>
VENDRAL_LANE_INLINE value squared_sinc_error(value v, value s, value k, double e_v, double sine_difference) {
    const value ds = 1.01 * (e_v + s * (e_v + 6.0 * bounds::u) + sine_difference / v) + bounds::tiny / v;
    return 1.01 * (2.0 * s * ds + ds * ds) + 2.0 * bounds::u * k + bounds::tiny;
}

// The bound for one lane whose fast value is the literal kernel itself on the
// fast distance x (the same sin on both sides).
inline double squared_sinc_error(double x, double h, double k, double distance_error) {
    const double v = x / (h + h);
    if (v == 0.0) return 0.0;  // only from an exactly zero distance: 1 in both
    if (!(std::fabs(v) <= 0x1p+900) || !(std::fabs(v) >= 0x1p-900)) return HUGE_VAL;
    const double e_v = quotient_error(distance_error);
    if (!(e_v <= bounds::largest_relative)) return HUGE_VAL;
    return squared_sinc_error<double>(std::fabs(v), std::sqrt(k), k, e_v, 0.0);
}

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_SCORE_BOUNDS_H
