// The fast path's error bounds, term by term: every vectorised distance,
// kernel value and class sum against the literal one, on inputs chosen to
// make the two part ways (near rounding boundaries, extreme ranges, values
// near underflow), at every vector width this processor runs. A bound that
// loses a term, or shrinks, fails here before it can change a decision.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "classifier/classifier.h"
#include "classifier/tiles/fast_kernels.h"
#include "classifier/lanes/multiversion.h"
#include "vector_widths.h"
#include "classifier/tiles/norms.h"

using namespace vendral;

namespace {

constexpr double u = 0x1p-53;

// tile_lanes template rows packed as the engine packs them: block by block,
// each block column by column.
std::vector<double> pack(const std::vector<std::vector<double>> &rows, int d) {
    std::vector<double> tile(static_cast<size_t>(tile_lanes) * d, 0.0);
    for (int l = 0; l < tile_lanes; ++l)
        for (int i = 0; i < d; ++i)
            tile[(static_cast<size_t>(l / block_lanes) * d + i) * block_lanes + l % block_lanes] = rows[l][i];
    return tile;
}

// The powers the regimes take: 1, 2, 3, 4, +inf, and general ones (any p up
// to 64), including the ends of that range.
const double every_regime[] = {1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 7.25, 64.0, HUGE_VAL};

// A pattern at the origin and tile_lanes template rows: differences in
// [1, 2) (where x*x and pow part ways), scaled over a wide range (as wide as
// keeps the sums in range), or one large column with the others tiny enough
// for their terms to underflow (for general p: to fall below e^-700, which
// the fast terms take as 0).
std::vector<std::vector<double>> adversarial_rows(std::mt19937_64 &random, int d, int style, double p) {
    std::uniform_real_distribution<double> unit(1.0, 2.0);
    const bool general = p != 1.0 && p != 2.0 && p != 3.0 && p != 4.0 && p != HUGE_VAL;
    const int widest = general ? std::min(230, static_cast<int>(800 / p)) : 230;
    std::uniform_int_distribution<int> exponent(-widest, widest);
    std::vector<std::vector<double>> rows(tile_lanes, std::vector<double>(d));
    for (auto &row : rows) {
        const int scale = style == 1 ? exponent(random) : 0;
        for (int i = 0; i < d; ++i) {
            double x = std::ldexp(unit(random), scale);
            if (style == 2 && i > 0)
                x = std::ldexp(unit(random), general ? -static_cast<int>(std::ceil(1020 / p)) : p == 2.0 ? -537 : -360);
            row[i] = (i % 2 ? -x : x);
        }
    }
    return rows;
}

}  // namespace

TEST(DistanceBounds, TileDistancesStayWithinTheRegimeBound) {
    std::mt19937_64 random(31);
    at_every_width([&](int width) {
        for (const norm_row &norm : norm_table) {
            if (norm.tile_for_width == nullptr) continue;
            const tile_distance_function distances = norm.tile_for_width(width);
            for (double p : every_regime) {
                if (&norm_for(p) != &norm) continue;
                for (int d : {1, 2, 3, 7, 16, 33})
                    for (int style = 0; style < 3; ++style) {
                        SCOPED_TRACE("p " + std::to_string(p) + " d " + std::to_string(d) + " style " +
                                     std::to_string(style));
                        const auto rows = adversarial_rows(random, d, style, p);
                        const std::vector<double> tile = pack(rows, d), pattern(d, 0.0);
                        double fast[tile_lanes];
                        ASSERT_TRUE(distances(tile.data(), pattern.data(), d, p, tile_lanes, fast));
                        const double bound = norm.error_bound(d);
                        for (int l = 0; l < tile_lanes; ++l) {
                            const double literal = pattern_distance(rows[l].data(), pattern.data(), d, p);
                            ASSERT_LE(std::fabs(fast[l] - literal), bound * literal) << "lane " << l;
                        }
                    }
            }
        }
    });
}

// General p: sums below 2^-900 (where terms the fast side drops could
// matter) or above 2^1000 are flagged, and so are NaN, infinite and
// subnormal differences; a zero sum from identical rows stays exact.
TEST(DistanceBounds, GeneralPowerSumsOutsideTheirRangeAreFlagged) {
    at_every_width([&](int width) {
        for (double p : {1.5, 7.25, 64.0}) {
            const tile_distance_function distances = norm_for(p).tile_for_width(width);
            ASSERT_NE(distances, nullptr) << p;
            const std::vector<double> pattern{0.5, 0.0};
            std::vector<std::vector<double>> rows(tile_lanes, std::vector<double>{0.5, 1.0});
            rows[5] = pattern;
            double fast[tile_lanes];
            ASSERT_TRUE(distances(pack(rows, 2).data(), pattern.data(), 2, p, tile_lanes, fast)) << p;
            EXPECT_EQ(fast[5], 0.0);
            EXPECT_NEAR(fast[0], 1.0, 1e-12);
            // Sums of about 2^-950 and above 2^1010, then the special differences.
            const double low = std::ldexp(1.0, static_cast<int>(std::floor(-950 / p)));
            const double high = std::ldexp(1.0, static_cast<int>(std::ceil(1010 / p)));
            for (double beyond : {low, high, 0x1p+20, 0x1p-1040, std::numeric_limits<double>::quiet_NaN(), HUGE_VAL}) {
                if (beyond == 0x1p+20 && p != 64.0) continue;  // 2^1280: beyond where the exp is valid
                // A NaN beside a difference of 1, so that the sum cannot
                // be flagged for being 0 instead.
                rows[9] = {beyond != beyond ? 1.5 : 0.5, beyond};
                EXPECT_FALSE(distances(pack(rows, 2).data(), pattern.data(), 2, p, tile_lanes, fast))
                    << p << " " << beyond;
            }
        }
    });
}

// The engine takes its distances group_patterns patterns at a time; each
// pattern's must be the one-pattern function's, bit for bit (so the bound
// test above covers them), and a pattern is flagged exactly when the
// one-pattern function flags it, whatever the others do.
TEST(DistanceBounds, PatternGroupsGiveEachPatternsOwnDistancesAndFlags) {
    std::mt19937_64 random(57);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> scale(-100, 100);
    at_every_width([&](int width) {
        for (const norm_row &norm : norm_table) {
            if (norm.tile_for_width == nullptr) continue;
            ASSERT_NE(norm.group_for_width, nullptr);
            const tile_distance_function one = norm.tile_for_width(width);
            const group_distance_function group = norm.group_for_width(width);
            for (double p : every_regime) {
                if (&norm_for(p) != &norm) continue;
                for (int d : {1, 5, 16}) {
                    const auto rows = adversarial_rows(random, d, 1, p);
                    const std::vector<double> tile = pack(rows, d);
                    std::vector<std::vector<double>> patterns(group_patterns, std::vector<double>(d));
                    for (auto &pattern : patterns)
                        for (double &x : pattern) x = std::ldexp(unit(random), scale(random));
                    // Pattern 1 meets a template at its own place (a zero sum,
                    // covered); pattern 2 one far beyond the covered range.
                    patterns[1] = rows[3];
                    patterns[2][0] = 0x1p+700;
                    const double *at[group_patterns];
                    for (int k = 0; k < group_patterns; ++k) at[k] = patterns[k].data();
                    for (int valid : {tile_lanes, 3}) {
                        SCOPED_TRACE("p " + std::to_string(p) + " d " + std::to_string(d) + " valid " +
                                     std::to_string(valid));
                        std::vector<double> together(static_cast<size_t>(group_patterns) * tile_lanes);
                        const int flags = group(tile.data(), at, d, p, valid, together.data());
                        for (int k = 0; k < group_patterns; ++k) {
                            double alone[tile_lanes];
                            const bool covered = one(tile.data(), at[k], d, p, valid, alone);
                            ASSERT_EQ((flags >> k & 1) != 0, covered) << "pattern " << k;
                            if (!covered) continue;
                            for (int l = 0; l < tile_lanes; ++l)
                                ASSERT_EQ(std::memcmp(&alone[l], &together[k * tile_lanes + l], sizeof(double)), 0)
                                    << "pattern " << k << " lane " << l << ": " << alone[l] << " against "
                                    << together[k * tile_lanes + l];
                        }
                        if (p != 1.0 && p != HUGE_VAL) {
                            EXPECT_EQ(flags >> 2 & 1, 0) << "the far pattern is flagged";
                        }
                    }
                }
            }
        }
    });
}

TEST(DistanceBounds, PowerSumsOutsideTheCoveredRangeAreFlaggedExceptExactZeros) {
    at_every_width([&](int width) {
        for (double p : {2.0, 3.0, 4.0}) {
            const tile_distance_function distances = norm_for(p).tile_for_width(width);
            std::vector<std::vector<double>> rows(tile_lanes, std::vector<double>{0.5, 0.0});
            const std::vector<double> pattern{0.5, 0.0};
            double fast[tile_lanes];
            // Identical rows: sums of exactly zero, the same in both.
            ASSERT_TRUE(distances(pack(rows, 2).data(), pattern.data(), 2, p, tile_lanes, fast)) << p;
            for (double x : fast) EXPECT_EQ(x, 0.0);
            // A sum below 2^-1000 from a non-zero difference, only in the last valid lane.
            rows[9] = {0.5, 0x1p-520};
            EXPECT_FALSE(distances(pack(rows, 2).data(), pattern.data(), 2, p, 10, fast)) << p;
            EXPECT_TRUE(distances(pack(rows, 2).data(), pattern.data(), 2, p, 9, fast)) << p;
            rows[9] = {0.5, 0x1p-600};  // terms that underflow to zero
            EXPECT_FALSE(distances(pack(rows, 2).data(), pattern.data(), 2, p, 10, fast)) << p;
            rows[9] = {0.5, 0x1p+600};  // a sum above 2^1000
            EXPECT_FALSE(distances(pack(rows, 2).data(), pattern.data(), 2, p, 10, fast)) << p;
            // The same with every other lane well inside the range, so that
            // only the check in vectors can see lane 9.
            std::vector<std::vector<double>> inside(tile_lanes, std::vector<double>{0.5, 1.0});
            ASSERT_TRUE(distances(pack(inside, 2).data(), pattern.data(), 2, p, tile_lanes, fast)) << p;
            for (double beyond : {0x1p+600, 0x1p-520, 0x1p-600}) {
                inside[9] = {0.5, beyond};
                EXPECT_FALSE(distances(pack(inside, 2).data(), pattern.data(), 2, p, tile_lanes, fast))
                    << p << " " << beyond;
            }
        }
    });
}

namespace {

// Literal distances spread over where each kernel changes fastest, near the
// underflow floor of the exponential kernels (a = -700), and, for cauchy,
// far enough for subnormal values.
std::vector<double> adversarial_distances(std::mt19937_64 &random, int kernel_type, double h, int count) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> x;
    for (int k = 0; k < count; ++k) {
        const double t = unit(random);
        double q;
        switch (k % 4) {
            case 0: q = 40.0 * t; break;
            case 1: q = kernel_type == 2 ? 699.99 + 0.02 * t : std::sqrt(1400.0) + 0.001 * (t - 0.5); break;
            case 2: q = kernel_type == 3 ? std::ldexp(1.0 + t, 500 + static_cast<int>(40 * t)) : 1e-6 * t; break;
            default: q = kernel_type == 2 ? 600.0 + 100.0 * t : 20.0 + 17.0 * t; break;
        }
        x.push_back(q * h);
    }
    return x;
}

// A fast distance off the literal one by up to 0.9 * distance_error (plus
// its own rounding, which the rest of distance_error covers).
double perturbed(std::mt19937_64 &random, double x, double distance_error) {
    std::uniform_real_distribution<double> offset(-0.9, 0.9);
    const double sign = random() % 3 == 0 ? offset(random) : (random() % 2 ? 0.9 : -0.9);
    return x * (1.0 + sign * distance_error);
}

}  // namespace

TEST(KernelBounds, EveryLaneStaysWithinItsKernelsBound) {
    std::mt19937_64 random(77);
    const double h = 1.3;
    at_every_width([&](int width) {
        for (int k = 0; k < kernel_count; ++k) {
            const kernel_row &kernel = kernel_table[k];
            const kernel_tile_function tile_function = kernel.tile_for_width(width);
            for (double distance_error : {0.0, norm_table[2].error_bound(16)}) {
                SCOPED_TRACE(std::string(kernel.display_name) + " distance error " +
                             std::to_string(distance_error / u) + "u");
                const kernel_bound bound = kernel.bound(distance_error);
                ASSERT_TRUE(bound.valid);
                for (int round = 0; round < 400; ++round) {
                    const std::vector<double> literal = adversarial_distances(random, k, h, kernel_lanes);
                    double fast[kernel_lanes];
                    for (int l = 0; l < kernel_lanes; ++l) fast[l] = perturbed(random, literal[l], distance_error);
                    kernel_tile out;
                    tile_function(fast, h, distance_error, false, &out);
                    for (int l = 0; l < kernel_lanes; ++l) {
                        const double expected = kernel.value(literal[l], h);
                        const double allowed =
                            bound.per_sensitivity * out.sensitivity[l] + bound.per_value * out.value[l] + bound.per_term;
                        ASSERT_LE(std::fabs(out.value[l] - expected), allowed)
                            << "q " << literal[l] / h << " fast " << out.value[l] << " literal " << expected;
                    }
                }
            }
        }
    });
}

// A tile that is not one class leaves the largest value and sensitivity of
// its lanes, and whether they are all finite, computed in vectors: the same
// as from its lanes one by one, NaN and infinite lanes included.
TEST(KernelBounds, TileSummariesAreThoseOfTheirLanes) {
    std::mt19937_64 random(78);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    at_every_width([&](int width) {
        for (int kernel = 0; kernel < kernel_count; ++kernel) {
            const kernel_tile_function tile_of = kernel_table[kernel].tile_for_width(width);
            for (int trial = 0; trial < 200; ++trial) {
                double distance[kernel_lanes];
                for (double &x : distance) x = std::ldexp(unit(random), static_cast<int>(8 * unit(random)) - 4);
                if (trial % 3 == 1) distance[trial % kernel_lanes] = NAN;
                if (trial % 3 == 2) distance[trial % kernel_lanes] = -HUGE_VAL;
                kernel_tile tile{};
                tile_of(distance, 0.5, norm_table[2].error_bound(16), false, &tile);
                kernel_tile lanes = tile;
                summarise_lanes(&lanes);
                SCOPED_TRACE("kernel " + std::to_string(kernel) + " trial " + std::to_string(trial));
                EXPECT_EQ(tile.largest_value, lanes.largest_value);
                EXPECT_EQ(tile.largest_sensitivity, lanes.largest_sensitivity);
                EXPECT_EQ(tile.finite_check == 0.0, lanes.finite_check == 0.0);
                if (trial % 3 == 1) {
                    EXPECT_NE(tile.finite_check, 0.0) << "a NaN lane";
                }
            }
        }
    });
}

TEST(KernelBounds, CauchyLanesAreTheLiteralArithmeticOnTheFastQuotient) {
    // Its bound counts the roundings of exactly this arithmetic: no fused
    // multiply-add, at any width.
    std::mt19937_64 random(78);
    std::uniform_real_distribution<double> unit(0.0, 3.0);
    const double h = 0.7;
    at_every_width([&](int width) {
        double x[kernel_lanes];
        for (double &value : x) value = unit(random);
        kernel_tile out;
        kernel_table[3].tile_for_width(width)(x, h, 0.0, false, &out);
        for (int l = 0; l < kernel_lanes; ++l) {
            const double q = x[l] * (1.0 / h);
            const double square = q * q;
            EXPECT_EQ(out.value[l], 1.0 / (square + 1.0)) << x[l];
        }
    });
}

namespace {

// A class score as the engine forms it from n fast lanes: whole tiles into
// the running lane sums, the rest lane by lane.
struct fast_score {
    double value = 0.0, sensitivity = 0.0;
};

fast_score class_sum(const kernel_row &kernel, const std::vector<double> &fast, double h, double distance_error,
                     int width) {
    const kernel_tile_function tile_function = kernel.tile_for_width(width);
    fast_score score;
    kernel_tile out{};
    const size_t whole = fast.size() / kernel_lanes * kernel_lanes;
    for (size_t first = 0; first < whole; first += kernel_lanes)
        tile_function(&fast[first], h, distance_error, true, &out);
    for (int l = 0; l < block_lanes; ++l) {
        score.value += out.running_value[l];
        score.sensitivity += out.running_sensitivity[l];
    }
    if (whole < fast.size()) {
        double rest[kernel_lanes] = {};
        std::copy(fast.begin() + static_cast<std::ptrdiff_t>(whole), fast.end(), rest);
        tile_function(rest, h, distance_error, false, &out);
        for (size_t l = 0; l < fast.size() - whole; ++l) {
            score.value += out.value[l];
            score.sensitivity += out.sensitivity[l];
        }
    }
    return score;
}

}  // namespace

TEST(ScoreBounds, ClassSumsInTheEnginesOrderStayWithinTheClassBound) {
    std::mt19937_64 random(91);
    const double h = 0.9;
    at_every_width([&](int width) {
        for (int k = 0; k < kernel_count; ++k) {
            const kernel_row &kernel = kernel_table[k];
            for (double distance_error : {0.0, norm_table[2].error_bound(16)})
                for (int n : {1, 5, 32, 77, 4096, 20000})
                    for (int spread = 0; spread < 3; ++spread) {
                        SCOPED_TRACE(std::string(kernel.display_name) + " n " + std::to_string(n) + " spread " +
                                     std::to_string(spread) + " distance error " + std::to_string(distance_error / u) + "u");
                        // Similar values (large sums whose order matters), the
                        // kernels' adversarial distances, or values just past
                        // the exponential kernels' underflow floor.
                        std::uniform_real_distribution<double> near(0.9, 1.1), past_floor(0.0, 1e-4);
                        std::vector<double> literal;
                        if (spread == 1) literal = adversarial_distances(random, k, h, n);
                        for (int j = 0; spread != 1 && j < n; ++j) {
                            const double q = spread == 0 ? near(random)
                                                         : (k == 2 ? 700.0 : std::sqrt(1400.0)) + past_floor(random);
                            literal.push_back(q * h);
                        }
                        std::vector<double> fast;
                        for (double x : literal) fast.push_back(perturbed(random, x, distance_error));
                        double expected = 0.0;
                        for (double x : literal) expected += kernel.value(x, h);
                        const fast_score score = class_sum(kernel, fast, h, distance_error, width);
                        const double allowed =
                            class_score_bound(kernel.bound(distance_error), score.sensitivity, score.value, n);
                        ASSERT_LE(std::fabs(score.value - expected), allowed)
                            << "fast " << score.value << " literal " << expected;
                    }
        }
    });
}

// A tile of one-template classes is passed over at once only when every
// lane, on its own bound, is clearly below the best score: random tiles with
// values and sensitivities spread over many scales, the best placed just
// above or just below what the lanes' own bounds allow.
TEST(ScoreBounds, SingletonTilesPassOnlyWhenEveryLaneIsClearOnItsOwnBound) {
    std::mt19937_64 random(77);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const kernel_bound bound = gaussian_bound(norm_table[2].error_bound(16));
    int passed = 0, held = 0;
    kernel_tile tile{};
    for (int trial = 0; trial < 20000; ++trial) {
        for (int l = 0; l < kernel_lanes; ++l) {
            tile.value[l] = std::ldexp(unit(random), -static_cast<int>(40 * unit(random)));
            tile.sensitivity[l] = tile.value[l] * std::ldexp(unit(random), static_cast<int>(12 * unit(random)));
        }
        summarise_lanes(&tile);
        // Where each lane needs the best to be, and the best placed near the
        // most demanding lane's need, on either side.
        const double best_error = std::ldexp(unit(random), -60);
        double needed = 0.0;
        for (int l = 0; l < kernel_lanes; ++l)
            needed = std::max(needed, tile.value[l] + best_error +
                                          class_score_bound(bound, tile.sensitivity[l], tile.value[l], 1));
        const double best = needed * (1.0 + (unit(random) - 0.7) * 0x1p-30);
        bool every_lane_clear = true;
        for (int l = 0; l < kernel_lanes; ++l)
            every_lane_clear = every_lane_clear && best - tile.value[l] > best_error + class_score_bound(
                                                                                  bound, tile.sensitivity[l], tile.value[l], 1);
        if (all_clear_below(bound, best, best_error, tile)) {
            ASSERT_TRUE(every_lane_clear) << "trial " << trial;
            ++passed;
        } else {
            ++held;
        }
    }
    // Both outcomes occur, so the check is neither always nor never taken.
    EXPECT_GT(passed, 1000);
    EXPECT_GT(held, 1000);
    // A NaN or infinite lane is never passed over, however far below the best
    // it seems.
    for (double special : {std::numeric_limits<double>::quiet_NaN(), HUGE_VAL}) {
        for (double *lane : {&tile.value[7], &tile.sensitivity[30]}) {
            tile = kernel_tile{};
            summarise_lanes(&tile);
            EXPECT_TRUE(all_clear_below(bound, 1.0, 0.0, tile));
            *lane = special;
            summarise_lanes(&tile);
            EXPECT_FALSE(all_clear_below(bound, 1.0, 0.0, tile)) << special;
        }
    }
}

TEST(ScoreBounds, ApproximateExpStaysWithinItsClaimedError) {
    // Against the library's exp (within 1 ulp of the truth) over the whole
    // range the kernels use, densely near 0 and near the underflow floor.
    double worst = 0.0;
    for (int i = 0; i <= 2000000; ++i) {
        const double a = -(700.0 - (i % 7) * 1e-9) * i / 2000000.0;
        const double expected = std::exp(a), actual = approximate_exp(a);
        worst = std::max(worst, std::fabs(actual - expected) / expected);
    }
    // The derivation's total is below 2^-45.3, the truncation alone up to 2^-46.1.
    EXPECT_LT(worst, exp_relative_error / 4) << "observed error well inside the claim";
    EXPECT_EQ(approximate_exp(0.0), 1.0);
    EXPECT_EQ(approximate_exp(-700.5), 0.0);
    EXPECT_EQ(approximate_exp(-INFINITY), 0.0);
    EXPECT_TRUE(std::isnan(approximate_exp(NAN)));
}
