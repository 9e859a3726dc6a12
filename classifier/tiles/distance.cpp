#include <cmath>

#include "classifier/classifier.h"
#include "classifier/tiles/norms.h"
#include "classifier/lanes/opaque.h"

namespace vendral {

double sum_of_absolute_differences(const double *a, const double *b, int32_t d, double) {
    double sum = 0.0;
    for (int32_t i = 0; i < d; ++i) sum += std::fabs(b[i] - a[i]);
    return sum;
}

// A NaN difference never compares greater, so it never becomes the maximum.
double largest_absolute_difference(const double *a, const double *b, int32_t d, double) {
    double largest = 0.0;
    for (int32_t i = 0; i < d; ++i) {
        const double difference = std::fabs(b[i] - a[i]);
        if (difference > largest) largest = difference;
    }
    return largest;
}

double power_distance(const double *a, const double *b, int32_t d, double p) {
    // The compiler must not see the exponent: at -O2 it rewrites pow(t, 2.0)
    // as t*t, which rounds differently from the library's pow.
    const double exponent = opaque(p);
    double sum = 0.0;
    for (int32_t i = 0; i < d; ++i) sum += std::pow(std::fabs(b[i] - a[i]), exponent);
    return std::pow(sum, opaque(1.0 / p));
}

double pattern_distance(const double *a, const double *b, int32_t d, double p) {
    return norm_for(p).literal(a, b, d, p);
}

}  // namespace vendral
