// Distances from one pattern to a block of templates stored column by column
// (block_lanes templates per column), with a flag per template telling
// whether the fast result is provably the one pattern_distance would return.
#ifndef VENDRAL_CLASSIFIER_FAST_DISTANCE_H
#define VENDRAL_CLASSIFIER_FAST_DISTANCE_H

#include <cstdint>

namespace vendral {

constexpr int block_lanes = 8;

enum class distance_regime {
    sum_of_absolutes,  // p == 1
    largest_absolute,  // p == +inf
    squares,           // p == 2
    cubes,             // p == 3
    general            // any other p: pattern_distance itself
};

distance_regime regime_for(double p);

// block: d columns of block_lanes doubles. Writes block_lanes distances and
// sets suspect[lane] to nonzero where the lane must be recomputed with
// pattern_distance.
void block_distances(distance_regime regime, const double *block, const double *pattern, int32_t d,
                     double p, double *distance, uint64_t *suspect);

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_FAST_DISTANCE_H
