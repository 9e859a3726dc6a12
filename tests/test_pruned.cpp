// The pruned evaluation (a k-d tree over the templates, nodes skipped under a
// bound) against the literal one: identical labels, counters and console
// text, with the path each run took asserted, so that no case passes by
// quietly going brute force. "eager" visits as little as it can, which
// leaves most decisions to the bounds on skipped nodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "classifier/classifier.h"
#include "classifier/engine/engine.h"
#include "classifier/tiles/kernel_values.h"
#include "classifier/lanes/multiversion.h"
#include "classifier/tree/pruned_scores.h"
#include "module_call.h"

namespace {

const double inf = std::numeric_limits<double>::infinity();
const double not_a_number = std::numeric_limits<double>::quiet_NaN();

struct evaluated {
    builtin_host::call_outcome outcome;
    std::string console;
    int64_t literal_patterns;
    int64_t pruned_patterns;
};

evaluated run_with(const module_inputs &in, vendral::evaluation mode, vendral::pruning pruning, int threads,
                   int width = 0, const builtin_host::call_options &options = {}) {
    vendral::classify_options engine = vendral::module_options();
    engine.mode = mode;
    engine.prune = pruning;
    engine.threads = threads;
    engine.vector_width = width;
    vendral::classify_counts counts;
    evaluated result{call_module(in, options, engine, &counts), "", 0, 0};
    result.literal_patterns = counts.patterns_literal;
    result.pruned_patterns = counts.patterns_pruned;
    result.console = reference::without_seconds(result.outcome.console);
    return result;
}

// Holds the pruned runs (always and eager, one and two threads, every vector
// width) to the literal evaluation; returns the fewest patterns the runs of
// the first mode decided on the pruned path. Each mode also runs at oflag 1,
// where no line is printed per pattern and the patterns are taken in the
// order of the tree's leaves.
int64_t expect_identical(const module_inputs &in, const std::string &what,
                         std::initializer_list<vendral::pruning> modes = {vendral::pruning::always,
                                                                          vendral::pruning::eager}) {
    SCOPED_TRACE(what);
    module_inputs quiet = in;
    quiet.oflag = std::min(in.oflag, 1);
    const evaluated literal = run_with(in, vendral::evaluation::literal, vendral::pruning::never, 1);
    const evaluated quiet_literal = run_with(quiet, vendral::evaluation::literal, vendral::pruning::never, 1);
    EXPECT_FALSE(literal.outcome.raised) << literal.outcome.error;
    int64_t fewest = INT64_MAX;
    struct run_shape {
        int threads, width;
        bool quiet;
    };
    for (const vendral::pruning mode : modes)
        for (const auto &[threads, width, is_quiet] :
             {run_shape{1, 0, false}, run_shape{2, 4, false}, run_shape{1, 2, false}, run_shape{2, 0, true}}) {
            SCOPED_TRACE("mode " + std::to_string(static_cast<int>(mode)) + " threads " + std::to_string(threads) +
                         " width limit " + std::to_string(width) + (is_quiet ? " oflag 1" : ""));
            const evaluated &reference_run = is_quiet ? quiet_literal : literal;
            const evaluated fast = run_with(is_quiet ? quiet : in, vendral::evaluation::fast, mode, threads, width);
            EXPECT_FALSE(fast.outcome.raised) << fast.outcome.error;
            if (mode == *modes.begin()) fewest = std::min(fewest, fast.pruned_patterns);
            if (fast.pruned_patterns > 0) {
                EXPECT_EQ(fast.pruned_patterns + fast.literal_patterns, static_cast<int64_t>(in.patterns.size()))
                    << "with the tree, every pattern is decided on it or literally";
            }
            const auto expected = result_labels(reference_run.outcome), actual = result_labels(fast.outcome);
            EXPECT_EQ(actual.size(), expected.size());
            for (size_t n = 0; n < actual.size() && n < expected.size(); ++n)
                EXPECT_EQ(std::memcmp(&actual[n], &expected[n], sizeof(double)), 0) << "pattern " << n + 1;
            EXPECT_EQ(fast.outcome.flops_added, reference_run.outcome.flops_added);
            EXPECT_EQ(fast.console, reference_run.console);
            EXPECT_EQ(fast.outcome.blocks_left, working_copy_blocks);
            EXPECT_EQ(fast.outcome.off_thread_operations, 0);
            EXPECT_EQ(fast.outcome.misuses, 0);
        }
    return fewest;
}

// Gaussian clusters of spread sd around centres uniform in [0, 1]^d, one
// class per cluster; patterns from the same mixture.
module_inputs clustered(std::mt19937_64 &random, int N, int P, int d, int classes, double sd) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> normal(0.0, sd);
    std::vector<std::vector<double>> centres(classes, std::vector<double>(d));
    for (auto &c : centres)
        for (double &x : c) x = unit(random);
    module_inputs in;
    in.oflag = 2;
    in.columns = d;
    auto draw = [&](int k) {
        std::vector<double> row(d);
        for (int i = 0; i < d; ++i) row[i] = centres[k][i] + normal(random);
        return row;
    };
    for (int j = 0; j < N; ++j) {
        const int k = static_cast<int>(random() % classes);
        in.templates.push_back(draw(k));
        in.labels.push_back(k + 1);
    }
    for (int n = 0; n < P; ++n) in.patterns.push_back(draw(static_cast<int>(random() % classes)));
    return in;
}

}  // namespace

TEST(PrunedDifferential, ClusteredDataOverKernelsNormsDimensionsAndWidths) {
    // N from below one leaf to several levels of nodes; h far below the
    // spacing of the templates (all scores underflow: ties), about the
    // clusters' spread, and far above it (nothing can be skipped).
    std::mt19937_64 random(12);
    int64_t moderate_patterns = 0, moderate_pruned = 0;
    for (int kernel : {0, 2})
        for (double p : {1.0, 1.5, 2.0, 3.0, inf})
            for (int d : {1, 2, 3, 5, 8})
                for (int N : {10, 70, 300})
                    for (double h : {1e-6, 0.05, 100.0}) {
                        module_inputs in = clustered(random, N, 10, d, 3, 0.1);
                        in.kernel_type = kernel;
                        in.p = p;
                        in.h = h;
                        const int64_t pruned =
                            expect_identical(in, "kernel " + std::to_string(kernel) + " p " + std::to_string(p) +
                                                     " d " + std::to_string(d) + " N " + std::to_string(N) +
                                                     " h " + std::to_string(h));
                        if (h == 0.05) {
                            moderate_patterns += 10;
                            moderate_pruned += pruned;
                        }
                    }
    EXPECT_GT(moderate_pruned, moderate_patterns / 2) << "most clear decisions are taken on the pruned path";
}

TEST(PrunedDifferential, DuplicatesAcrossClassesTie) {
    // Every template twice, once in class 1 and once in class 2: equal sums
    // for every pattern, which no bound can settle; the two classes' literal
    // scores are computed, and tie.
    std::mt19937_64 random(3);
    for (int kernel : {0, 2})
        for (double p : {1.0, 2.0, inf}) {
            module_inputs in = clustered(random, 200, 8, 3, 1, 0.2);
            const size_t n = in.templates.size();
            for (size_t j = 0; j < n; ++j) {
                in.templates.push_back(in.templates[j]);
                in.labels[j] = 1;
                in.labels.push_back(2);
            }
            in.patterns.push_back(in.templates[5]);
            in.kernel_type = kernel;
            in.p = p;
            in.h = 0.1;
            EXPECT_EQ(expect_identical(in, "kernel " + std::to_string(kernel) + " p " + std::to_string(p)), 9);
            EXPECT_EQ(result_labels(call_module(in)), std::vector<double>(9, -1.0));
        }
}

TEST(PrunedDifferential, TiesBetweenClassesInSkippedNodes) {
    // Classes 1 and 2 mirrored through the origin, far from it (their kernel
    // values there are tiny but not zero); class 3 a cluster at the origin.
    // With class 3 first in the table, the tie of 1 and 2 lies below the best
    // and the rule never meets it: the skipped nodes' bounds settle those
    // patterns. With class 3 last, the rule meets the tie first (one more
    // comparison) and with class 3 absent it is the outcome: only the two
    // classes' literal scores can tell. Every pattern is decided on the tree.
    std::mt19937_64 random(44);
    std::normal_distribution<double> normal(0.0, 0.05);
    module_inputs far;
    far.oflag = 2;
    far.h = 0.5;
    std::vector<std::vector<double>> cluster;
    for (int j = 0; j < 300; ++j) cluster.push_back({3.0 + normal(random), 1.0 + normal(random)});
    for (int c : {1, 2})
        for (const auto &row : cluster) {
            far.templates.push_back(c == 1 ? row : std::vector<double>{-row[0], -row[1]});
            far.labels.push_back(c);
        }
    for (int n = 0; n < 6; ++n) far.patterns.push_back({0.0, 0.0});
    module_inputs near_first = far, near_last = far;
    for (int j = 0; j < 100; ++j) {
        const std::vector<double> row{0.3 * normal(random), 0.3 * normal(random)};
        near_first.templates.insert(near_first.templates.begin(), row);
        near_first.labels.insert(near_first.labels.begin(), 3);
        near_last.templates.push_back(row);
        near_last.labels.push_back(3);
    }
    for (int kernel : {0, 2})
        for (double p : {1.0, 2.0, 3.0, inf}) {
            const std::string what = "kernel " + std::to_string(kernel) + " p " + std::to_string(p);
            for (module_inputs *in : {&far, &near_first, &near_last}) {
                in->kernel_type = kernel;
                in->p = p;
            }
            EXPECT_EQ(expect_identical(far, "far: " + what), 6);
            EXPECT_EQ(result_labels(call_module(far)), std::vector<double>(6, -1.0)) << what;
            EXPECT_EQ(expect_identical(near_first, "near first: " + what), 6);
            EXPECT_EQ(result_labels(call_module(near_first)), std::vector<double>(6, 3.0)) << what;
            EXPECT_EQ(expect_identical(near_last, "near last: " + what), 6);
            EXPECT_EQ(result_labels(call_module(near_last)), std::vector<double>(6, 3.0)) << what;
        }
}

TEST(PrunedDifferential, SkippedClassesJustBelowTheWinner) {
    // Class 2 sits entirely in nodes that eager visiting skips, its literal
    // score a hair below or above class 1's: the bound on the skipped nodes
    // decides whether the pattern may be settled, and it must be neither too
    // small nor ignore a column.
    for (int kernel : {0, 2})
        for (double p : {1.0, 2.0, inf})
            for (double gap : {-1e-3, -1e-9, 1e-9, 1e-3}) {
                module_inputs in;
                in.kernel_type = kernel;
                in.p = p;
                in.h = 1.0;
                in.oflag = 2;
                // Class 1: 100 templates at distance 1 in the first column;
                // class 2: 100 at distance 1 + gap, in the second and third.
                for (int j = 0; j < 100; ++j) {
                    in.templates.push_back({1.0, 0.0, 0.0});
                    in.labels.push_back(1);
                }
                for (int j = 0; j < 100; ++j) {
                    const double r = 1.0 + gap;
                    in.templates.push_back(p == 1.0   ? std::vector<double>{0.0, r / 2, -r / 2}
                                           : p == 2.0 ? std::vector<double>{0.0, r / std::sqrt(2.0), -r / std::sqrt(2.0)}
                                                      : std::vector<double>{0.0, r, -r});
                    in.labels.push_back(2);
                }
                in.patterns = {{0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}};
                expect_identical(in, "kernel " + std::to_string(kernel) + " p " + std::to_string(p) + " gap " +
                                         std::to_string(gap));
            }
}

TEST(PrunedDifferential, NonFiniteTemplatesAndPatterns) {
    std::mt19937_64 random(8);
    for (int kernel : {0, 2})
        for (double p : {1.0, 2.0, inf}) {
            module_inputs in = clustered(random, 150, 10, 2, 2, 0.05);
            in.kernel_type = kernel;
            in.p = p;
            in.h = 0.05;
            // A NaN or infinite pattern is decided literally, the others through the tree.
            in.patterns[3] = {not_a_number, 0.5};
            in.patterns[7] = {inf, 0.5};
            const std::string what = "kernel " + std::to_string(kernel) + " p " + std::to_string(p);
            EXPECT_LE(expect_identical(in, what + " non-finite patterns", {vendral::pruning::always}), 8);
            const evaluated run = run_with(in, vendral::evaluation::fast, vendral::pruning::always, 1);
            EXPECT_EQ(run.literal_patterns, 2 + (8 - run.pruned_patterns)) << what;
            EXPECT_GT(run.pruned_patterns, 0) << what;
            // A non-finite template: no tree at all.
            in.templates[20][1] = kernel == 0 ? not_a_number : -inf;
            EXPECT_EQ(expect_identical(in, what + " non-finite template"), 0);
        }
}

TEST(PrunedDifferential, NonFiniteTemplateFoundWhereverThreadsShareTheCheck) {
    // Enough templates and patterns for two threads to check a slice each:
    // a non-finite value at the end of either slice still rules the tree
    // out. (The infinite ones, far from every pattern in the other column,
    // would leave their decisions to the tree if they were let through.)
    std::mt19937_64 random(23);
    module_inputs in = clustered(random, 70000, 40, 2, 3, 0.05);
    in.h = 0.02;
    ASSERT_GT(run_with(in, vendral::evaluation::fast, vendral::pruning::always, 2).pruned_patterns, 0);
    for (const auto &[row, value] : {std::pair<int, double>{34999, not_a_number}, {69999, -inf}, {34999, inf}}) {
        SCOPED_TRACE("row " + std::to_string(row) + " value " + std::to_string(value));
        module_inputs broken = in;
        broken.templates[row] = {std::isnan(value) ? 0.5 : 50.0, value};
        const evaluated literal = run_with(broken, vendral::evaluation::literal, vendral::pruning::never, 1);
        const evaluated fast = run_with(broken, vendral::evaluation::fast, vendral::pruning::always, 2);
        EXPECT_EQ(fast.pruned_patterns, 0);
        EXPECT_EQ(result_labels(fast.outcome), result_labels(literal.outcome));
        EXPECT_EQ(fast.console, literal.console);
    }
}

TEST(PrunedDifferential, InfiniteWindowOverDistancesThatOverflow) {
    // h = +inf: a kernel value is 1 at every finite distance and inf/inf =
    // NaN at a distance that overflows, and a NaN class score leaves the
    // pattern unclassifiable. Here the far clusters' distances overflow (a
    // difference for p = +inf, a square for p = 2): no class can be chosen,
    // by any path.
    const double far = 0.9e308;
    for (const auto &[kernel, p] : {std::pair<int, double>{0, inf}, {2, 2.0}}) {
        const std::string what = "kernel " + std::to_string(kernel) + " p " + std::to_string(p);
        module_inputs in;
        in.kernel_type = kernel;
        in.p = p;
        in.h = inf;
        in.oflag = 1;
        for (const auto &[count, x, y, label] :
             {std::tuple<int, double, double, double>{64, -far, -far, 1}, {320, far, -far, 2}, {320, -far, far, 1},
              {320, far, far, 2}})
            for (int j = 0; j < count; ++j) {
                in.templates.push_back({x, y});
                in.labels.push_back(label);
            }
        in.patterns.assign(64, {-far, -far});
        const auto literal = run_with(in, vendral::evaluation::literal, vendral::pruning::never, 1);
        EXPECT_EQ(result_labels(literal.outcome), std::vector<double>(64, -1.0)) << what;
        EXPECT_NE(literal.console.find("unable to classify 64 patterns (100.000000%)"), std::string::npos) << what;
        expect_identical(in, what, {vendral::pruning::automatic, vendral::pruning::always, vendral::pruning::eager});
        EXPECT_EQ(run_with(in, vendral::evaluation::fast, vendral::pruning::always, 1).pruned_patterns, 0)
            << what << ": no tree where the kernel is NaN at an infinite distance";
    }
}

TEST(PrunedDifferential, InfiniteWindowWithAnOverflowInANearBox) {
    // One column, h = +inf. Class 2's leaf holds a template at 0, whose
    // distance to the patterns is finite, and others at +far, whose
    // distances overflow: the box's distance floor is finite, its kernel
    // bound 1, yet its templates add NaN. With class 1 far ahead on the
    // visited leaves, only a visit to that leaf would find the NaN.
    const double far = 0.9e308;
    for (const auto &[kernel, p] : {std::pair<int, double>{0, inf}, {2, 1.0}}) {
        const std::string what = "kernel " + std::to_string(kernel) + " p " + std::to_string(p);
        module_inputs in;
        in.kernel_type = kernel;
        in.p = p;
        in.h = inf;
        in.oflag = 1;
        for (int j = 0; j < 1024; ++j) {
            in.templates.push_back({-far});
            in.labels.push_back(1);
        }
        in.templates.push_back({0.0});
        in.labels.push_back(2);
        for (int j = 0; j < 63; ++j) {
            in.templates.push_back({far});
            in.labels.push_back(2);
        }
        in.patterns.assign(64, {-far});
        EXPECT_EQ(result_labels(run_with(in, vendral::evaluation::literal, vendral::pruning::never, 1).outcome),
                  std::vector<double>(64, -1.0))
            << what;
        expect_identical(in, what, {vendral::pruning::automatic, vendral::pruning::always, vendral::pruning::eager});
        EXPECT_EQ(run_with(in, vendral::evaluation::fast, vendral::pruning::always, 1).pruned_patterns, 0)
            << what << ": no tree where the kernel is NaN at an infinite distance";
    }
}

TEST(PrunedDifferential, NodesWhoseBoundIsNaNAreVisited) {
    // A run never hands the traversal a NaN bound (no tree for h = +inf),
    // but should one arise it must mean "unknown", not "negligible". A tree
    // started for h = 1 decides with h = +inf: two clusters whose distance
    // to each other overflows, a pattern at each. The other cluster's
    // subtree has the bound K(inf) = NaN and its templates add NaN; it is
    // the root's right child for one pattern (waiting in the queue) and its
    // left one for the other (the nearer child, taken at once).
    const double far = 0.9e308;
    std::vector<std::vector<double>> rows;
    std::vector<int32_t> class_of;
    for (int j = 0; j < 1024; ++j) {
        rows.push_back({j < 512 ? -far : far, -far});
        class_of.push_back(j < 512 ? 0 : 1);
    }
    std::vector<const double *> templates;
    for (const auto &row : rows) templates.push_back(row.data());
    for (const auto &[kernel, p] : {std::pair<int, double>{0, inf}, {2, 2.0}, {2, 1.0}})
        for (const auto mode : {vendral::pruning::always, vendral::pruning::eager})
            for (const double x : {-far, far}) {
                SCOPED_TRACE("kernel " + std::to_string(kernel) + " p " + std::to_string(p) + " mode " +
                             std::to_string(static_cast<int>(mode)) + (x < 0 ? " pattern in class 1" : " pattern in class 2"));
                const std::vector<double> pattern{x, -far};
                const double *patterns[] = {pattern.data()};
                const vendral::kernel_row &row = vendral::kernel_table[kernel];
                std::vector<double> scores(2, 0.0);
                for (size_t j = 0; j < rows.size(); ++j)
                    scores[class_of[j]] +=
                        row.value(vendral::pattern_distance(rows[j].data(), pattern.data(), 2, p), inf);
                const vendral::decision expected = vendral::decide(scores.data(), 2);
                ASSERT_TRUE(expected.nan_score);
                const vendral::engine_inputs finite_window{1024, 2, templates.data(), class_of.data(), 2, kernel, p,
                                                           1.0,  1, patterns,         true};
                vendral::engine_inputs infinite_window = finite_window;
                infinite_window.h = inf;
                const vendral::norm_row &norm = vendral::norm_for(p);  // (a structured binding: not captured)
                const auto outcome = builtin_host::within_call([&] {
                    const vendral::allocator memory = vendral::host_allocator();
                    vendral::model_parts parts;
                    vendral::pruned_run run;
                    ASSERT_EQ(vendral::start_pruned_run(finite_window, row, norm, mode, 1,
                                                        vendral::vector_width(), parts, memory, &run),
                              vendral::pruned_start::started);
                    vendral::pruned_setup setup = run.setup;
                    setup.in = &infinite_window;
                    vendral::decision actual{};
                    vendral::decide_pruned(setup, pattern.data(), &run.scratch[0], &actual);
                    EXPECT_EQ(actual.winner, expected.winner);
                    EXPECT_EQ(actual.tie, expected.tie);
                    EXPECT_EQ(actual.comparisons, expected.comparisons);
                    EXPECT_EQ(actual.nan_score, expected.nan_score);
                    vendral::end_pruned_run(&run, memory);
                    vendral::release_parts(parts, memory);
                });
                EXPECT_EQ(outcome.blocks_left, 0u);
            }
}

TEST(PrunedDifferential, NearTiesFromPermutedClasses) {
    // Each class holds the same templates in another order, one nudged by
    // an ulp: the literal sums agree to within rounding, so the classes'
    // literal scores decide (on the tree: each pattern is decided there).
    std::mt19937_64 random(4243);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int round = 0; round < 16; ++round) {
        const int d = 1 + round % 4, k = 40 + 30 * (round % 3);
        module_inputs in;
        in.kernel_type = round % 2 == 0 ? 0 : 2;
        in.p = round % 4 == 3 ? inf : 1.0 + round % 3;
        in.h = 0.2;
        in.oflag = 2;
        std::vector<std::vector<double>> set;
        for (int j = 0; j < k; ++j) {
            std::vector<double> row(d);
            for (double &x : row) x = unit(random);
            set.push_back(row);
        }
        for (int c = 0; c < 3; ++c) {
            auto members = set;
            std::shuffle(members.begin(), members.end(), random);
            if (c == 2) members[0][0] = std::nextafter(members[0][0], 2.0);
            for (auto &row : members) {
                in.templates.push_back(row);
                in.labels.push_back(c + 1);
            }
        }
        for (int n = 0; n < 8; ++n) in.patterns.push_back(set[static_cast<size_t>(n)]);
        EXPECT_EQ(expect_identical(in, "round " + std::to_string(round)), 8);
    }
}

TEST(PrunedDifferential, EveryRefusedAllocationEndsCleanly) {
    // Forced, and chosen automatically (where the first patterns' scratch
    // gives way to every thread's once the tree is kept); at oflag 0 the
    // patterns' order is one more block.
    std::mt19937_64 random(21);
    for (const int oflag : {2, 0}) {
        for (const auto mode : {vendral::pruning::always, vendral::pruning::automatic}) {
            SCOPED_TRACE("oflag " + std::to_string(oflag));
            module_inputs in = mode == vendral::pruning::always ? clustered(random, 300, 40, 3, 3, 0.1)
                                                                : clustered(random, 2000, 80, 2, 3, 0.1);
            in.h = mode == vendral::pruning::always ? 0.05 : 0.01;
            in.oflag = oflag;
            const int64_t P = static_cast<int64_t>(in.patterns.size());
            const evaluated clean = run_with(in, vendral::evaluation::fast, mode, 2);
            ASSERT_FALSE(clean.outcome.raised);
            ASSERT_EQ(clean.pruned_patterns + clean.literal_patterns, P);
            EXPECT_GT(clean.pruned_patterns, 0);
            for (uint64_t refused = 1; refused <= clean.outcome.allocations; ++refused) {
                builtin_host::call_options options;
                options.fail_allocation = refused;
                const evaluated run = run_with(in, vendral::evaluation::fast, mode, 2, 0, options);
                ASSERT_TRUE(run.outcome.raised) << refused;
                EXPECT_NE(run.outcome.error.find("Not enough memory available; unable to run!"), std::string::npos);
                EXPECT_EQ(run.outcome.misuses, 0);
            }
        }
    }
}

TEST(PrunedChoice, AutomaticTakesTheTreeWhereItSkipsAndNotElsewhere) {
    std::mt19937_64 random(5);
    module_inputs in = clustered(random, 5000, 100, 3, 4, 0.1);
    in.h = 0.01;
    const evaluated chosen = run_with(in, vendral::evaluation::fast, vendral::pruning::automatic, 2);
    EXPECT_GT(chosen.pruned_patterns, 90) << "clustered data in 3 columns, narrow window";
    const evaluated never = run_with(in, vendral::evaluation::fast, vendral::pruning::never, 2);
    EXPECT_EQ(never.pruned_patterns, 0);
    EXPECT_EQ(result_labels(chosen.outcome), result_labels(never.outcome));
    // A wide window: every pattern would visit most templates.
    in.h = 10.0;
    EXPECT_EQ(run_with(in, vendral::evaluation::fast, vendral::pruning::automatic, 2).pruned_patterns, 0);
    // Kernels with heavy tails never take it.
    in.h = 0.01;
    in.kernel_type = 3;
    EXPECT_EQ(run_with(in, vendral::evaluation::fast, vendral::pruning::always, 2).pruned_patterns, 0);
    // Many columns: the automatic choice does not try.
    module_inputs wide = clustered(random, 5000, 100, 16, 4, 0.1);
    wide.h = 0.01;
    EXPECT_EQ(run_with(wide, vendral::evaluation::fast, vendral::pruning::automatic, 2).pruned_patterns, 0);
}

TEST(PrunedChoice, ProgressIsReportedThroughThePrunedPathWhenShown) {
    std::mt19937_64 random(6);
    const module_inputs in = clustered(random, 400, 100, 2, 3, 0.1);
    std::vector<int32_t> classes_in_order;
    vendral::classify_counts counts_in_order;
    for (const bool shown : {true, false}) {
        SCOPED_TRACE(shown ? "progress shown" : "progress not shown");
        vendral::classify_options options;
        options.prune = vendral::pruning::always;
        options.threads = shown ? 1 : 2;
        options.in_order = shown;
        const model_run run = classify_with_model(in, options);
        ASSERT_EQ(run.status, vendral::classify_status::classified);
        EXPECT_GT(run.counts.patterns_pruned, 50);
        EXPECT_EQ(run.outcome.off_thread_operations, 0);
        EXPECT_EQ(run.outcome.blocks_left, 0u);
        const std::vector<int32_t> &reports = run.reports;
        // Unwatched, the patterns go in the tree's order: ready only at the end.
        if (shown) {
            EXPECT_GE(reports.size(), 7u);
        } else {
            EXPECT_EQ(reports, (std::vector<int32_t>{0, 100}));
        }
        EXPECT_EQ(reports.front(), 0);
        EXPECT_EQ(reports.back(), 100);
        EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
        // Each pattern's decision lands in its own place, whatever the order.
        if (shown) {
            classes_in_order = run.classes;
            counts_in_order = run.counts;
            continue;
        }
        EXPECT_EQ(run.classes, classes_in_order);
        EXPECT_EQ(run.counts.comparisons, counts_in_order.comparisons);
        EXPECT_EQ(run.counts.unclassified, counts_in_order.unclassified);
    }
}

TEST(BoxDistance, NeverAboveTheLiteralDistanceToAPointOfTheBox) {
    // Points of the box, on its faces and corners and inside, at every scale
    // from underflowing powers to overflowing ones; the floor must not exceed
    // the literal distance and must not be far below the exact gap norm.
    std::mt19937_64 random(31);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (double p : {1.0, 2.0, 3.0, 4.0, inf})
        for (int scale : {-400, -200, -30, 0, 30, 200, 400})
            for (int d : {1, 2, 3, 4, 7})
                for (int round = 0; round < 200; ++round) {
                    std::vector<double> lower(d), upper(d), pattern(d), point(d);
                    long double exact = 0.0L;
                    for (int i = 0; i < d; ++i) {
                        lower[i] = std::ldexp(unit(random) - 0.5, scale);
                        upper[i] = lower[i] + std::ldexp(unit(random), scale);
                        pattern[i] = std::ldexp(4.0 * unit(random) - 2.0, scale);
                        const int where = static_cast<int>(random() % 3);
                        point[i] = where == 0 ? lower[i] : where == 1 ? upper[i] : lower[i] + (upper[i] - lower[i]) * unit(random);
                        point[i] = std::min(std::max(point[i], lower[i]), upper[i]);
                        const long double gap = pattern[i] < lower[i]   ? (long double)lower[i] - pattern[i]
                                                : pattern[i] > upper[i] ? (long double)pattern[i] - upper[i]
                                                                        : 0.0L;
                        exact = p == inf ? std::max(exact, gap) : exact + std::pow(gap, (long double)p);
                    }
                    if (p != inf) exact = std::pow(exact, 1.0L / (long double)p);
                    const double floor = vendral::box_distance_floor(lower.data(), upper.data(), pattern.data(), d, p);
                    const double literal = vendral::pattern_distance(point.data(), pattern.data(), d, p);
                    ASSERT_LE(floor, literal) << "p " << p << " scale " << scale << " d " << d;
                    ASSERT_LE(floor, exact);
                    // Within the range where the powers are normal, close to the exact norm.
                    if (std::abs(scale) <= 200 && exact > 0) {
                        ASSERT_GE(floor, 0.999999 * static_cast<double>(exact)) << "p " << p << " d " << d;
                    }
                }
}

TEST(BoxDistance, NaNCoordinateIsNoGap) {
    // A NaN floor would read as no bound at all; a NaN coordinate of the
    // pattern (the patterns' order by leaf meets them) counts as inside
    // the box in that column, the floor of the other columns.
    std::mt19937_64 random(32);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (double p : {1.0, 2.0, 3.0, inf})
        for (int d : {1, 2, 3, 4, 7})
            for (int round = 0; round < 50; ++round) {
                std::vector<double> lower(d), upper(d), pattern(d);
                for (int i = 0; i < d; ++i) {
                    lower[i] = unit(random) - 0.5;
                    upper[i] = lower[i] + unit(random);
                    pattern[i] = 4.0 * unit(random) - 2.0;
                }
                const int column = static_cast<int>(random() % static_cast<unsigned>(d));
                std::vector<double> inside = pattern;
                inside[column] = lower[column];
                pattern[column] = not_a_number;
                const double floor = vendral::box_distance_floor(lower.data(), upper.data(), pattern.data(), d, p);
                const double expected =
                    vendral::box_distance_floor(lower.data(), upper.data(), inside.data(), d, p);
                ASSERT_EQ(floor, expected) << "p " << p << " d " << d << " column " << column;
            }
}

TEST(KernelZeros, LiteralExponentialUnderflowsToZeroBeyondItsFirstZero) {
    // Skipped nodes whose bound is exactly 0 rely on it: once the literal
    // exponential gives 0, it gives 0 at every smaller argument, and so do
    // the gaussian and laplacian kernels at every larger distance.
    double zero = -800.0, positive = -700.0;  // exp(zero) == 0 < exp(positive)
    ASSERT_EQ(std::exp(zero), 0.0);
    ASSERT_GT(std::exp(positive), 0.0);
    while (std::nextafter(zero, 0.0) < positive) {
        const double middle = zero + (positive - zero) / 2;
        if (middle == zero || middle == positive) break;
        (std::exp(middle) == 0.0 ? zero : positive) = middle;
    }
    std::mt19937_64 random(9);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    double a = zero;
    for (int k = 0; k < 100000; ++k, a = std::nextafter(a, -inf)) ASSERT_EQ(std::exp(a), 0.0) << a;
    for (int k = 0; k < 100000; ++k) {
        const double below = zero - std::ldexp(unit(random), static_cast<int>(random() % 40));
        ASSERT_EQ(std::exp(below), 0.0) << below;
    }
    EXPECT_EQ(std::exp(-1e300), 0.0);
    EXPECT_EQ(std::exp(-inf), 0.0);
    for (double h : {1e-3, 0.37, 1.0, 1e5}) {
        for (auto value : {vendral::gaussian_value, vendral::laplacian_value}) {
            double x = h, step = h;  // the first zero, by doubling then bisection
            while (value(x, h) != 0.0) x += (step *= 2);
            double nonzero = 0.0;
            while (std::nextafter(nonzero, x) < x) {
                const double middle = nonzero + (x - nonzero) / 2;
                if (middle == nonzero || middle == x) break;
                (value(middle, h) == 0.0 ? x : nonzero) = middle;
            }
            for (int k = 0; k < 10000; ++k) {
                const double farther = x * (1.0 + std::ldexp(unit(random), -static_cast<int>(random() % 50)));
                ASSERT_EQ(value(farther, h), 0.0) << "h " << h << " x " << farther;
            }
        }
    }
}

TEST(PrunedDifferential, SkippedTermsThatEachRoundTheLiteralSumUp) {
    // Class 1: a template at the pattern, then 100000 far ones whose terms
    // are each 0.6 ulp of the running sum: the literal sum rounds up by 0.4
    // ulp at every one of them, ending 2.2e-11 above 1, well above their
    // exact sum. Class 2: a template at the pattern and one whose term is
    // 1.8e-11, in between. The far templates sit in skipped nodes; only a
    // score bound counting all of class 1's terms keeps class 2 from being
    // taken as the winner.
    module_inputs in;
    in.h = 1.0;
    in.p = 2.0;
    in.oflag = 2;
    const double tiny_term = 0.6 * 0x1p-52, middle_term = 1.8e-11;
    in.templates = {{0.0}, {0.0}, {std::sqrt(-2.0 * std::log(middle_term))}};
    in.labels = {1, 2, 2};
    for (int j = 0; j < 100000; ++j) {
        in.templates.push_back({std::sqrt(-2.0 * std::log(tiny_term))});
        in.labels.push_back(1);
    }
    in.patterns = {{0.0}};
    EXPECT_EQ(result_labels(call_module(in)), std::vector<double>{1});
    expect_identical(in, "far terms rounding up");
}

TEST(PrunedDifferential, ScoresInTheSubnormalRange) {
    // Every template so far from the pattern that the kernel values are
    // subnormal (the fast exponential gives 0 there): only the classes'
    // literal scores tell them apart, or find them equal, and nodes may be
    // taken as adding exactly 0 only where the literal kernel is 0.
    for (int kernel : {0, 2}) {
        const auto at_value = [&](double k) { return kernel == 0 ? std::sqrt(-2.0 * std::log(k)) : -std::log(k); };
        module_inputs in;
        in.kernel_type = kernel;
        in.p = 1.0;
        in.h = 1.0;
        in.oflag = 2;
        // All on one side of the pattern, so that no box holds it.
        in.templates = {{at_value(1e-310)}, {at_value(2e-310)}, {at_value(3e-320)}, {at_value(3e-320)}};
        in.labels = {1, 2, 3, 4};
        in.patterns = {{0.0}, {0.0}};
        EXPECT_EQ(expect_identical(in, "kernel " + std::to_string(kernel)), 2);
        EXPECT_EQ(result_labels(call_module(in)), (std::vector<double>{2, 2})) << kernel;
        // Classes 3 and 4 alone: equal subnormal scores, a tie.
        in.templates = {{at_value(3e-320)}, {at_value(3e-320)}};
        in.labels = {3, 4};
        EXPECT_EQ(expect_identical(in, "tie, kernel " + std::to_string(kernel)), 2);
        EXPECT_EQ(result_labels(call_module(in)), (std::vector<double>{-1, -1})) << kernel;
    }
}

TEST(PrunedDifferential, EqualTinyScoresOfWhichOnlyOneIsVisited) {
    // Classes 1 and 2 score the same, each from 63 templates whose values
    // are tiny but above the kernel bound's per-term slack (about 2^-993),
    // on either side of the pattern.
    // Class 1's leaf also holds a class 3 template near the pattern and is
    // visited; class 2's leaf is not, and only its bound keeps the rule from
    // taking class 1 as the larger: their equality is one more comparison.
    module_inputs in;
    in.kernel_type = 2;
    in.p = 1.0;
    in.h = 1.0;
    in.oflag = 1;
    for (int k = 0; k < 63; ++k) {
        in.templates.push_back({688.5 + 0.001 * k});
        in.labels.push_back(1);
    }
    for (int k = 0; k < 63; ++k) {
        in.templates.push_back({-688.5 - 0.001 * k});
        in.labels.push_back(2);
    }
    in.templates.push_back({0.5});
    in.labels.push_back(3);
    in.templates.push_back({-690.0});
    in.labels.push_back(4);
    in.patterns = {{0.0}};
    const auto literal = reference::classify(in.templates, in.labels, in.kernel_type, in.p, in.h, in.patterns,
                                             in.unknown_label, in.oflag);
    EXPECT_EQ(literal.comparisons, 5u) << "classes 1 and 2 must tie for the case to mean anything";
    EXPECT_EQ(expect_identical(in, "tiny equal scores"), 1);
}

TEST(PrunedDifferential, TableEntriesWithoutTemplates) {
    // Labels such as 2.5 make table entries (label 2) that no template adds
    // to: they score exactly 0, ahead of or behind the classes that do.
    std::mt19937_64 random(77);
    for (int kernel : {0, 2})
        for (double h : {0.02, 1e-4}) {
            module_inputs in = clustered(random, 400, 12, 2, 3, 0.1);
            for (size_t j = 0; j < in.labels.size(); j += 37) in.labels[j] += 0.5;
            // First in the table: a class of one far template (label 0.5, so 0).
            in.labels.insert(in.labels.begin(), 0.5);
            in.templates.insert(in.templates.begin(), {9.0, 9.0});
            in.kernel_type = kernel;
            in.h = h;
            const int64_t pruned =
                expect_identical(in, "kernel " + std::to_string(kernel) + " h " + std::to_string(h));
            EXPECT_EQ(pruned, 12) << "every pattern on the tree";
        }
}

// The queue of waiting nodes: every node pushed comes out once, never before
// one more than twice as near (its bound more than twice as large; bounds
// below the normal range count as one), and the
// nodes waiting are exactly those pushed and not yet taken, also after a
// clear and across bounds from 0 and subnormals to above 1.
TEST(NodeQueue, TakesNodesNearestFirstWithinAFactorOfTwoAndLosesNone) {
    constexpr int32_t nodes = 4000;
    std::vector<double> kernel(nodes);
    std::vector<int32_t> next(nodes), head(vendral::node_queue::buckets, -1);
    vendral::node_queue queue;
    queue.kernel = kernel.data();
    queue.next = next.data();
    queue.head = head.data();
    std::mt19937_64 random(17);
    std::uniform_real_distribution<double> exponent(-1080.0, 1.0);
    auto some_bound = [&](int32_t node) {
        if (node % 97 == 0) return 0.0;
        return std::ldexp(1.0 + std::uniform_real_distribution<double>(0.0, 1.0)(random),
                          static_cast<int>(exponent(random)));
    };
    for (int round = 0; round < 3; ++round) {
        queue.clear();
        std::vector<double> bound_of(nodes);
        std::vector<char> waiting(nodes, 0);
        int32_t pushed = 0, taken = 0;
        double last_taken = HUGE_VAL;
        // Pushes and takes interleaved, as a traversal does: a taken node's
        // children are pushed with bounds no larger than its own.
        while (taken < nodes) {
            const bool push = pushed < nodes && (queue.size == 0 || random() % 3 != 0);
            if (push) {
                const int32_t node = (pushed * 7919 + round) % nodes;
                bound_of[node] = std::min(some_bound(node), last_taken == HUGE_VAL ? HUGE_VAL : last_taken);
                queue.push(node, bound_of[node]);
                waiting[node] = 1;
                ++pushed;
            } else {
                const int32_t node = queue.pop();
                ASSERT_TRUE(waiting[node]) << "node " << node << " taken twice or never pushed";
                waiting[node] = 0;
                EXPECT_EQ(queue.kernel[node], bound_of[node]);
                for (int32_t other = 0; other < nodes; ++other)
                    if (waiting[other]) {
                        ASSERT_LE(bound_of[other], std::max(2 * bound_of[node], 0x1p-1022)) << other;
                    }
                last_taken = bound_of[node];
                ++taken;
            }
            if (taken % 500 == 0) {
                std::vector<char> seen(nodes, 0);
                int32_t count = 0;
                queue.for_each([&](int32_t node, double bound) {
                    ++count;
                    EXPECT_FALSE(seen[node]);
                    seen[node] = 1;
                    EXPECT_EQ(bound, bound_of[node]);
                });
                EXPECT_EQ(count, queue.size);
                EXPECT_EQ(seen, waiting);
            }
        }
        EXPECT_EQ(queue.size, 0);
        // Left half full for the next round: clear() must forget these.
        for (int32_t node = 0; node < nodes / 2; ++node) queue.push(node, some_bound(node));
    }
}
