// The norm regimes: how the distance is computed for each kind of p, exactly
// and on the fast path, with the fast path's error bound, one row each. A new
// regime is one more row (before the general one) and its functions.
#ifndef VENDRAL_CLASSIFIER_NORMS_H
#define VENDRAL_CLASSIFIER_NORMS_H

#include <cstdint>

#include "classifier/tiles/gram_distance.h"

namespace vendral {

using distance_function = double (*)(const double *a, const double *b, int32_t d, double p);

// Distances from one pattern to a tile of templates (fast_distance.h). False
// when one of the first valid_lanes is outside what the bound covers: the
// pattern is then scored literally.
using tile_distance_function = bool (*)(const double *tile, const double *pattern, int32_t d, double p,
                                        int valid_lanes, double *distance);

// The same for group_patterns patterns at once (register-blocked: each
// template vector loaded serves every pattern): group_patterns * tile_lanes
// distances, pattern k's from distances + k * tile_lanes. Bit k of the
// result is set when pattern k's valid lanes are all covered by the bound.
constexpr int group_patterns = gram_patterns;
using group_distance_function = int (*)(const double *tile, const double *const *patterns, int32_t d, double p,
                                        int valid_lanes, double *distances);

struct norm_row {
    const char *display_name;  // in the summary heading; empty for most p
    bool (*selects)(double p);  // exact comparison; the last row takes every p
    distance_function literal;
    // Vectorised at the vector width in use; null: the literal distance throughout.
    tile_distance_function (*tile_for_width)(int width);
    group_distance_function (*group_for_width)(int width);  // null exactly where tile_for_width is
    // Relative bound on |tile distance - literal distance| over d columns
    // (0: the same bits), for the tile or the dot-product distances.
    double (*error_bound)(int32_t d);
    // Distances from dot products of centred rows, which the engine then
    // prefers to the tile function; null where there are none.
    gram_distance_function (*gram_for_width)(int width);
};

constexpr int norm_count = 7;
extern const norm_row norm_table[norm_count];

// The first row that selects p.
const norm_row &norm_for(double p);

// The literal distances of the regimes (pattern_distance picks among them).
double sum_of_absolute_differences(const double *a, const double *b, int32_t d, double p);
double largest_absolute_difference(const double *a, const double *b, int32_t d, double p);
double power_distance(const double *a, const double *b, int32_t d, double p);

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_NORMS_H
