// The window kernels' values, without the operation accounting. The counted
// kernels of the table and the parallel engine both evaluate these, so their
// results are the same bits.
#ifndef VENDRAL_CLASSIFIER_KERNEL_VALUES_H
#define VENDRAL_CLASSIFIER_KERNEL_VALUES_H

#include <cmath>

namespace vendral {

inline double gaussian_value(double x, double h) {
    const double u = x / h;
    return std::exp(u * u * (-0.5));
}

// The limit at v = 0 is 1 (plain sin(v)/v would give 0/0 = NaN there), and at
// infinite v it is 0 (sin would give NaN). A NaN distance stays NaN.
inline double squared_sinc_value(double x, double h) {
    const double v = x / (h + h);
    if (v == 0.0) return 1.0;
    if (std::isinf(v)) return 0.0;
    const double s = std::sin(v) / v;
    return s * s;
}

inline double laplacian_value(double x, double h) {
    const double u = x / h;
    return std::exp(-u);
}

inline double cauchy_value(double x, double h) {
    const double u = x / h;
    return 1.0 / (u * u + 1.0);
}

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_KERNEL_VALUES_H
