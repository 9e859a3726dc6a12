// How far the squared sinc kernel computed from a fast distance can be from
// the one computed from the literal distance. With |x - x_literal| <=
// distance_error * x, the kernel results differ by at most the returned
// amount. Both sides evaluate the same kernel code and the same sin (glibc:
// within 1 ulp), so what differs is the input, and each rounding step: u =
// 2^-53 below. An infinite bound means "cannot tell": the pattern is then
// recomputed literally.
#ifndef VENDRAL_CLASSIFIER_SCORE_BOUNDS_H
#define VENDRAL_CLASSIFIER_SCORE_BOUNDS_H

#include <cmath>

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
// most e_v + |s| (e_v + 6u); K = s^2 by 2|s| ds + ds^2 and its rounding.
inline double squared_sinc_error(double x, double h, double k, double distance_error) {
    const double v = x / (h + h);
    if (v == 0.0) return 0.0;  // only from an exactly zero distance: 1 in both
    if (!(std::fabs(v) <= 0x1p+900) || !(std::fabs(v) >= 0x1p-900)) return HUGE_VAL;
    const double e_v = quotient_error(distance_error);
    if (!(e_v <= bounds::largest_relative)) return HUGE_VAL;
    const double s = std::sqrt(k);
    const double ds = 1.01 * (e_v + s * (e_v + 6.0 * bounds::u)) + bounds::tiny / std::fabs(v);
    return 1.01 * (2.0 * s * ds + ds * ds) + 2.0 * bounds::u * k + bounds::tiny;
}

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_SCORE_BOUNDS_H
