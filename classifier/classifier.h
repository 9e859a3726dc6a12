// The Parzen-window classification engine: distances, window kernels, the
// classification run and its performance summary. Plain functions over plain
// arrays; host services arrive through host_services.h only.
#ifndef VENDRAL_CLASSIFIER_H
#define VENDRAL_CLASSIFIER_H

#include <cstdint>

#include "classifier/model.h"

namespace vendral {

// Minkowski distance between template row a and pattern row b over d columns:
// p == 1 sums absolute differences, p == +inf takes their maximum, any other p
// goes through pow() for every term and for the root, in index order.
double pattern_distance(const double *a, const double *b, int32_t d, double p);

// The window kernels, each adding its operation weight to *flop_count.
double kernel_gaussian(double x, double h, uint64_t *flop_count);
double kernel_squared_sinc(double x, double h, uint64_t *flop_count);
double kernel_laplacian(double x, double h, uint64_t *flop_count);
double kernel_cauchy(double x, double h, uint64_t *flop_count);

using counted_kernel_function = double (*)(double x, double h, uint64_t *flop_count);
using kernel_function = double (*)(double x, double h);

// The fast path's side of a kernel (fast_kernels.h).
struct kernel_tile;
struct kernel_bound;
using kernel_tile_function = void (*)(const double *distance, double h, double distance_error,
                                      bool one_class, kernel_tile *out);

// Everything about one kernel, indexed by kernel_type. A new kernel is one
// more row, its functions and kernel_count.
struct kernel_row {
    const char *display_name;
    counted_kernel_function function;  // the literal kernel, counting its calls
    uint32_t flops_per_call;           // added to the count by every call of function
    kernel_function value;             // the same bits uncounted, for worker threads
    kernel_tile_function (*tile_for_width)(int width);  // vectorised, at a width vector_width() gave
    // Per-lane bound on |tile value - value| at distances within
    // distance_error (relative) of the literal ones.
    kernel_bound (*bound)(double distance_error);
};

constexpr int kernel_count = 4;
extern const kernel_row kernel_table[kernel_count];

// Classifies the P rows of patterns against the N labelled rows of templates
// through a model prepared for the call, with the host's memory and the
// given options (their progress callback aside: the run prints its own);
// what it counted goes to *counts_out too when that is given.
// Returns P result labels in a block from host_calloc that the caller frees,
// or null when the run could not get its memory. Prints progress by oflag,
// advances the host counter and, at oflag >= 1, prints the summary.
double *classify_patterns(int32_t N, int32_t d, const double *const *templates, const double *labels,
                          int kernel_type, double p, double h, int32_t P, const double *const *patterns,
                          int32_t unknown_label, int oflag, const classify_options &options,
                          classify_counts *counts_out = nullptr);

void print_summary(int kernel_type, double p, int32_t P, int32_t M,
                   int32_t unclassified, uint64_t flops, uint64_t comparisons,
                   int seconds);

// Milliseconds since the module was loaded.
int64_t milliseconds_since_load();
// Whole seconds between two clock readings, each truncated to seconds first.
int elapsed_whole_seconds(int64_t start_ms, int64_t end_ms);

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_H
