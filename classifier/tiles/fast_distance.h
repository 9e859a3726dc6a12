// Distances from one pattern to a tile of templates stored block by block,
// each block column by column (block_lanes templates per column): vectorised
// across the templates, so each pair's terms are still summed in index order,
// with the tile's blocks as independent chains.
#ifndef VENDRAL_CLASSIFIER_FAST_DISTANCE_H
#define VENDRAL_CLASSIFIER_FAST_DISTANCE_H

#include <cstdint>

#include "classifier/tiles/norms.h"

namespace vendral {

constexpr int block_lanes = 8;
constexpr int tile_blocks = 4;
constexpr int tile_lanes = tile_blocks * block_lanes;

// Relative bound on |fast - literal| for the power regimes (p = 2, 3, 4) over
// d columns, for distances not flagged uncertain. See fast_distance.cpp.
double distance_error_bound(int32_t d);

// The same for any other p of the general regime (fast_distance.cpp), p up
// to general_largest_p.
double general_power_error_bound(int32_t d);
constexpr double general_largest_p = 64.0;

// The tile functions of the regimes that have one (norms.h), each for the
// vector width in use. tile: tile_blocks blocks of d columns of block_lanes
// doubles; each writes tile_lanes distances and returns false when the first
// valid_lanes of them include one the bound does not cover (a power sum that
// underflowed or overflows, NaN).
tile_distance_function absolutes_distances_for_width(int width);
tile_distance_function largest_distances_for_width(int width);
tile_distance_function squares_distances_for_width(int width);
tile_distance_function cubes_distances_for_width(int width);
tile_distance_function fourth_powers_distances_for_width(int width);
tile_distance_function general_powers_distances_for_width(int width);
group_distance_function absolutes_group_distances_for_width(int width);
group_distance_function largest_group_distances_for_width(int width);
group_distance_function squares_group_distances_for_width(int width);
group_distance_function cubes_group_distances_for_width(int width);
group_distance_function fourth_powers_group_distances_for_width(int width);
group_distance_function general_powers_group_distances_for_width(int width);

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_FAST_DISTANCE_H
