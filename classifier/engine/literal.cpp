#include "classifier/engine/literal.h"

#include "classifier/classifier.h"
#include "classifier/tiles/norms.h"

namespace vendral {

void score_pattern_literal(int32_t N, int32_t d, const double *const *templates,
                           const int32_t *class_of_template, int kernel_type, double p,
                           double h, const double *pattern, int32_t M, double *scores, uint64_t *flop_count) {
    const counted_kernel_function kernel = kernel_table[kernel_type].function;
    // pattern_distance's choice of regime, made once for the pattern.
    const distance_function distance = norm_for(p).literal;
    for (int32_t i = 0; i < M; ++i) scores[i] = 0.0;
    for (int32_t j = 0; j < N; ++j) {
        const double x = distance(templates[j], pattern, d, p);
        scores[class_of_template[j]] += kernel(x, h, flop_count);
    }
}

}  // namespace vendral
