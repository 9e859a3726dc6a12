#include <cmath>

#include "classifier.h"

namespace vendral {

uint64_t flop_count = 0;

double kernel_gaussian(double x, double h) {
    flop_count += 4;
    const double u = x / h;
    return std::exp(u * u * (-0.5));
}

// The limit at v = 0 is 1 (plain sin(v)/v would give 0/0 = NaN there), and at
// infinite v it is 0 (sin would give NaN). A NaN distance stays NaN.
double kernel_squared_sinc(double x, double h) {
    flop_count += 5;
    const double v = x / (h + h);
    if (v == 0.0) return 1.0;
    if (std::isinf(v)) return 0.0;
    const double s = std::sin(v) / v;
    return s * s;
}

double kernel_laplacian(double x, double h) {
    flop_count += 2;
    const double u = x / h;
    return std::exp(-u);
}

double kernel_cauchy(double x, double h) {
    flop_count += 4;
    const double u = x / h;
    return 1.0 / (u * u + 1.0);
}

const kernel_row kernel_table[kernel_count] = {
    {"gaussian", kernel_gaussian, 4},
    {"squared sinc", kernel_squared_sinc, 5},
    {"laplacian", kernel_laplacian, 2},
    {"cauchy", kernel_cauchy, 4},
};

}  // namespace vendral
