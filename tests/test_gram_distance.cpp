// p = 2 distances from dot products against the literal ones, at every
// vector width: within gram_error_bound on data whose norms dwarf the
// distances (where the dot products cancel), on pairs near the point where
// a pair stops being taken from its dot product, and on pairs that must be
// measured again (identical rows, near neighbours, out-of-range sums).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "classifier/classifier.h"
#include "classifier/tiles/fast_distance.h"
#include "classifier/tiles/gram_distance.h"
#include "classifier/lanes/multiversion.h"
#include "vector_widths.h"

using namespace vendral;

namespace {

using rows = std::vector<std::vector<double>>;

// tile_lanes rows packed and centred as the engine packs them.
struct packed_tile {
    std::vector<double> centre, centred, norms;
    std::vector<int32_t> lanes;
    std::vector<const double *> row_pointers;

    packed_tile(const rows &templates, int d)
        : centre(d, 0.0), centred(static_cast<size_t>(tile_lanes) * d), norms(tile_lanes), lanes(tile_lanes) {
        for (const auto &row : templates)
            for (int i = 0; i < d; ++i) centre[i] += row[i] / tile_lanes;
        for (int l = 0; l < tile_lanes; ++l) {
            double *column = centred.data() + static_cast<size_t>(l / block_lanes) * block_lanes * d + l % block_lanes;
            norms[l] = centre_row(templates[l].data(), centre.data(), d, column, block_lanes);
            lanes[l] = l;
            row_pointers.push_back(templates[l].data());
        }
    }
};

// Distances of the pattern to the rows, or false where the function refused.
bool gram_distances(const rows &templates, const std::vector<double> &pattern, double *distance, int width) {
    const int d = static_cast<int>(pattern.size());
    const packed_tile tile(templates, d);
    std::vector<double> centred(d);
    const double norm = centre_row(pattern.data(), tile.centre.data(), d, centred.data(), 1);
    // The pattern in every place of the call, as the engine repeats one:
    // each place must give the same distances.
    gram_pattern patterns[gram_patterns];
    for (gram_pattern &place : patterns) place = gram_pattern{centred.data(), norm, pattern.data()};
    double distances[gram_patterns * tile_lanes];
    const int measured = gram_distances_for_width(width)(
        gram_tile{tile.centred.data(), tile.norms.data(), tile.lanes.data(), tile.row_pointers.data()}, patterns,
        d, tile_lanes, distances);
    EXPECT_TRUE(measured == 0 || measured == (1 << gram_patterns) - 1) << measured;
    for (int k = 1; k < gram_patterns; ++k)
        for (int l = 0; l < tile_lanes; ++l) EXPECT_EQ(distances[k * tile_lanes + l], distances[l]);
    std::copy(distances, distances + tile_lanes, distance);
    return measured != 0;
}

void expect_within_bound(const rows &templates, const std::vector<double> &pattern, int width) {
    const int d = static_cast<int>(pattern.size());
    double fast[tile_lanes];
    ASSERT_TRUE(gram_distances(templates, pattern, fast, width));
    for (int l = 0; l < tile_lanes; ++l) {
        const double literal = pattern_distance(templates[l].data(), pattern.data(), d, 2.0);
        ASSERT_LE(std::fabs(fast[l] - literal), gram_error_bound(d) * literal) << "lane " << l;
    }
}

}  // namespace

TEST(GramDistances, CancellingDotProductsStayWithinTheBound) {
    std::mt19937_64 random(88);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    at_every_width([&](int width) {
        for (int d : {1, 2, 3, 8, 17, 64})
            for (double spread : {1.0, 1e3, 1e6}) {
                SCOPED_TRACE("d " + std::to_string(d) + " spread " + std::to_string(spread));
                // Two far clusters, so that centring leaves large norms, and
                // templates at distances from far below to far above where
                // the pair stops being taken, around a pattern in one cluster.
                std::vector<double> pattern(d);
                for (double &x : pattern) x = spread + normal(random);
                rows templates;
                for (int l = 0; l < tile_lanes; ++l) {
                    std::vector<double> row(d);
                    if (l % 4 == 0) {
                        for (double &x : row) x = -spread + normal(random);
                    } else {
                        const double r = spread * std::pow(10.0, -12.0 * unit(random));
                        for (int i = 0; i < d; ++i) row[i] = pattern[i] + r * normal(random) / std::sqrt(d);
                    }
                    templates.push_back(row);
                }
                expect_within_bound(templates, pattern, width);
            }
    });
}

TEST(GramDistances, PairsMeasuredAgainAreExact) {
    at_every_width([&](int width) {
        // Identical rows: exactly 0, as the literal distance.
        const std::vector<double> pattern{3.0, -1.0, 0.0};
        rows templates(tile_lanes, pattern);
        templates[5] = {3.0, -1.0, 0x1p-40};  // a near neighbour
        templates[9] = {1e3, 1e3, 1e3};
        double fast[tile_lanes];
        ASSERT_TRUE(gram_distances(templates, pattern, fast, width));
        EXPECT_EQ(fast[0], 0.0);
        EXPECT_EQ(fast[5], pattern_distance(templates[5].data(), pattern.data(), 3, 2.0));
        // Sums beyond the covered range: refused, unless measured exactly 0.
        templates[7] = {3.0, -1.0, 0x1p+600};
        EXPECT_FALSE(gram_distances(templates, pattern, fast, width));
        templates[7] = {3.0, -1.0, 0x1p-530};
        EXPECT_FALSE(gram_distances(templates, pattern, fast, width));
    });
}
