#include "classifier.h"
#include "kernel_values.h"

namespace vendral {

uint64_t flop_count = 0;

double kernel_gaussian(double x, double h) {
    flop_count += 4;
    return gaussian_value(x, h);
}

double kernel_squared_sinc(double x, double h) {
    flop_count += 5;
    return squared_sinc_value(x, h);
}

double kernel_laplacian(double x, double h) {
    flop_count += 2;
    return laplacian_value(x, h);
}

double kernel_cauchy(double x, double h) {
    flop_count += 4;
    return cauchy_value(x, h);
}

const kernel_row kernel_table[kernel_count] = {
    {"gaussian", kernel_gaussian, 4},
    {"squared sinc", kernel_squared_sinc, 5},
    {"laplacian", kernel_laplacian, 2},
    {"cauchy", kernel_cauchy, 4},
};

}  // namespace vendral
