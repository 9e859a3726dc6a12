// p = 2 distances from dot products: |t - y|^2 = |t|^2 + |y|^2 - 2 t.y, one
// multiply-add per column and pair instead of a difference, a product and a
// sum. Cancellation makes it inexact for pairs much closer than their norms,
// so each pair carries an absolute bound on its squared distance; a pair
// whose bound is not small against what it computed is measured again from
// the differences, as the other regimes are. Templates and patterns are
// centred on the templates' mean first, which keeps the norms, and so the
// bound, small. See gram_distance.cpp for the bound.
#ifndef VENDRAL_CLASSIFIER_GRAM_DISTANCE_H
#define VENDRAL_CLASSIFIER_GRAM_DISTANCE_H

#include <cstdint>

namespace vendral {

// One pattern as the dot products need it.
struct gram_pattern {
    const double *centred;   // d columns, less the templates' mean
    double norm;             // the sum of their squares, as computed
    const double *original;  // the pattern row itself
};

// One tile of templates: tile_blocks blocks of d centred columns of
// block_lanes, the sums of squares of each lane, and where the template rows
// themselves are, for the pairs measured again.
struct gram_tile {
    const double *centred;
    const double *norms;
    const int32_t *template_of_lane;  // the tile's lanes
    const double *const *templates;   // all template rows
};

// Patterns per call: the tile is read once for all of them.
constexpr int gram_patterns = 4;

// Writes tile_lanes distances for each of gram_patterns patterns, one after
// the other, the first valid_lanes of each within gram_error_bound(d) of the
// literal ones (relative). Returns a mask with bit k set when pattern k's
// are; a pattern whose bit is clear has a pair outside what that bound
// covers (it is then scored literally).
using gram_distance_function = int (*)(const gram_tile &tile, const gram_pattern *patterns, int32_t d,
                                       int valid_lanes, double *distances);
gram_distance_function gram_distances_for_width(int width);

// Writes row - centre into centred (every stride-th double) and returns the
// sum of the squares of what it wrote.
double centre_row(const double *row, const double *centre, int32_t d, double *centred, int32_t stride);

// Relative bound on |fast - literal| for p = 2 distances over d columns.
double gram_error_bound(int32_t d);

// A pair is taken from its dot product when its squared distance's bound is
// at most this fraction of it (else it is measured again).
constexpr double gram_acceptance = 0x1p-42;

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_GRAM_DISTANCE_H
