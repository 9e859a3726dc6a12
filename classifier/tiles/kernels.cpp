#include "classifier/classifier.h"
#include "classifier/tiles/fast_kernels.h"
#include "classifier/tiles/kernel_values.h"

namespace vendral {

double kernel_gaussian(double x, double h, uint64_t *flop_count) {
    *flop_count += 4;
    return gaussian_value(x, h);
}

double kernel_squared_sinc(double x, double h, uint64_t *flop_count) {
    *flop_count += 5;
    return squared_sinc_value(x, h);
}

double kernel_laplacian(double x, double h, uint64_t *flop_count) {
    *flop_count += 2;
    return laplacian_value(x, h);
}

double kernel_cauchy(double x, double h, uint64_t *flop_count) {
    *flop_count += 4;
    return cauchy_value(x, h);
}

// A row count other than kernel_count conflicts with the declaration.
const kernel_row kernel_table[] = {
    {"gaussian", kernel_gaussian, 4, gaussian_value, gaussian_tile_for_width, gaussian_bound},
    {"squared sinc", kernel_squared_sinc, 5, squared_sinc_value, squared_sinc_tile_for_width,
     squared_sinc_bound},
    {"laplacian", kernel_laplacian, 2, laplacian_value, laplacian_tile_for_width, laplacian_bound},
    {"cauchy", kernel_cauchy, 4, cauchy_value, cauchy_tile_for_width, cauchy_bound},
};

}  // namespace vendral
