// Literal evaluation of one pattern's class scores: every distance as
// pattern_distance computes it, every kernel through the kernel table (which
// counts its flops), summed in template order. The reference every faster
// path is held to.
#ifndef VENDRAL_CLASSIFIER_LITERAL_H
#define VENDRAL_CLASSIFIER_LITERAL_H

#include <cstdint>

namespace vendral {

void score_pattern_literal(int32_t N, int32_t d, const double *const *templates,
                           const int32_t *class_of_template, int kernel_type, double p,
                           double h, const double *pattern, int32_t M, double *scores, uint64_t *flop_count);

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_LITERAL_H
