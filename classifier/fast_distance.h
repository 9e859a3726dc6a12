// Distances from one pattern to a tile of templates stored block by block,
// each block column by column (block_lanes templates per column): vectorised
// across the templates, so each pair's terms are still summed in index order,
// with the tile's blocks as independent chains.
#ifndef VENDRAL_CLASSIFIER_FAST_DISTANCE_H
#define VENDRAL_CLASSIFIER_FAST_DISTANCE_H

#include <cstdint>

namespace vendral {

constexpr int block_lanes = 8;
constexpr int tile_blocks = 4;
constexpr int tile_lanes = tile_blocks * block_lanes;

enum class distance_regime {
    sum_of_absolutes,  // p == 1: the literal arithmetic, same bits
    largest_absolute,  // p == +inf: the literal arithmetic, same bits
    squares,           // p == 2: x*x terms and sqrt, within distance_error_bound
    cubes,             // p == 3: x*x*x terms, pow root, within distance_error_bound
    fourth_powers,     // p == 4: (x*x)*(x*x) terms, pow root, within distance_error_bound
    general            // any other p: pattern_distance itself
};

distance_regime regime_for(double p);

// Whether the regime's distances are the literal ones bit for bit.
inline bool is_literal(distance_regime regime) {
    return regime == distance_regime::sum_of_absolutes || regime == distance_regime::largest_absolute ||
           regime == distance_regime::general;
}

// Relative bound on |fast - literal| for the power regimes (p = 2, 3, 4) over
// d columns, for distances not flagged uncertain. See fast_distance.cpp.
double distance_error_bound(int32_t d);

// tile: tile_blocks blocks of d columns of block_lanes doubles. Writes
// tile_lanes distances. Returns false when the first valid_lanes of them
// include one the bound does not cover (a sum that underflowed or overflows,
// NaN): the pattern is then scored literally. Not for the general regime.
bool tile_distances(distance_regime regime, const double *tile, const double *pattern, int32_t d,
                    double p, int valid_lanes, double *distance);

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_FAST_DISTANCE_H
