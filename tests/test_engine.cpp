// The fast evaluation against the literal one: identical labels, counters and
// console text on seeded random and adversarial data, on one and two threads.
// Sizes sweep every tail of the template blocks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <algorithm>
#include <random>
#include <vector>

#include "classifier/engine/engine.h"
#include "classifier/engine/exact_rule.h"
#include "classifier/tiles/fast_kernels.h"
#include "classifier/lanes/multiversion.h"
#include "module_call.h"

namespace {

const double inf = std::numeric_limits<double>::infinity();

struct evaluated {
    builtin_host::call_outcome outcome;
    std::string console;
    int64_t literal_patterns;  // scored literally
};

evaluated run_with(const module_inputs &in, vendral::evaluation mode, int threads, int width = 0) {
    vendral::classify_options options = vendral::module_options();
    options.mode = mode;
    options.threads = threads;
    options.vector_width = width;
    vendral::classify_counts counts;
    evaluated result{call_module(in, {}, options, &counts), "", 0};
    result.literal_patterns = counts.patterns_literal;
    result.console = reference::without_seconds(result.outcome.console);
    return result;
}

// The literal evaluation against the plain reference classifier, and the fast
// one against the literal one. Returns how many patterns the fast runs scored
// literally, the fewest and the most over thread counts and widths.
std::pair<int64_t, int64_t> expect_identical(const module_inputs &in, const std::string &what) {
    SCOPED_TRACE(what);
    const evaluated literal = run_with(in, vendral::evaluation::literal, 1);
    EXPECT_FALSE(literal.outcome.raised) << literal.outcome.error;
    EXPECT_EQ(literal.literal_patterns, static_cast<int64_t>(in.patterns.size()));
    const reference::outcome reference_run = call_reference(in);
    EXPECT_EQ(result_labels(literal.outcome), reference_run.labels);
    EXPECT_EQ(literal.outcome.flops_added, reference_run.flops + reference_run.comparisons);
    EXPECT_EQ(literal.console, reference_run.console);
    EXPECT_EQ(literal.outcome.blocks_left, working_copy_blocks);
    std::pair<int64_t, int64_t> literal_counts{INT64_MAX, 0};
    // Every thread count and every vector width this processor can run.
    for (const auto &[threads, width] : {std::pair{1, 0}, std::pair{2, 0}, std::pair{2, 4}, std::pair{1, 2}}) {
        SCOPED_TRACE("threads " + std::to_string(threads) + " width limit " + std::to_string(width));
        const evaluated fast = run_with(in, vendral::evaluation::fast, threads, width);
        EXPECT_FALSE(fast.outcome.raised) << fast.outcome.error;
        literal_counts.first = std::min(literal_counts.first, fast.literal_patterns);
        literal_counts.second = std::max(literal_counts.second, fast.literal_patterns);
        const auto expected = result_labels(literal.outcome), actual = result_labels(fast.outcome);
        EXPECT_EQ(actual.size(), expected.size());
        for (size_t n = 0; n < actual.size() && n < expected.size(); ++n)
            EXPECT_EQ(std::memcmp(&actual[n], &expected[n], sizeof(double)), 0)
                << "pattern " << n + 1 << " threads " << threads;
        EXPECT_EQ(fast.outcome.flops_added, literal.outcome.flops_added) << threads;
        EXPECT_EQ(fast.console, literal.console) << threads;
        EXPECT_EQ(fast.outcome.off_thread_operations, 0);
        EXPECT_EQ(fast.outcome.misuses, 0);
    }
    return literal_counts;
}

std::vector<double> random_row(std::mt19937_64 &random, int d, int style) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<int> integer(-3, 3);
    std::vector<double> row(d);
    for (double &x : row) {
        switch (style) {
            case 0: x = unit(random); break;
            case 1: x = integer(random); break;  // integer data: exact squares
            case 2: x = 1.0 + unit(random) * 1e-15; break;  // near-ties within a few ulps
            default: x = std::ldexp(unit(random), integer(random) * 300); break;  // extreme ranges
        }
    }
    return row;
}

// Labels in `classes` classes (and the odd non-integer label), so that
// classes of 32 or more templates fill whole tiles of their own.
module_inputs random_case(std::mt19937_64 &random, int N, int P, int d, int style, int kernel, double p,
                          int classes = 5) {
    module_inputs in;
    in.kernel_type = kernel;
    in.p = p;
    in.h = style == 2 ? 1e-14 : 0.1 * std::sqrt(d + 1.0);
    in.oflag = 2;
    in.columns = d;
    for (int j = 0; j < N; ++j) {
        in.templates.push_back(random_row(random, d, style));
        in.labels.push_back(j % classes + (j % 11 == 10 ? 0.5 : 0.0));
    }
    for (int n = 0; n < P; ++n) in.patterns.push_back(random_row(random, d, style));
    return in;
}

}  // namespace

TEST(EngineDifferential, SeededRandomDataOverKernelsNormsAndWidths) {
    std::mt19937_64 random(7);
    for (int kernel = 0; kernel < 4; ++kernel)
        for (double p : {1.0, 1.5, 2.0, 3.0, 4.0, inf})
            for (int d : {0, 1, 3, 7, 8, 9, 15, 16, 17, 33})
                for (int style = 0; style < 4; ++style) {
                    const int N = 1 + (d * 7 + style * 29) % 130;
                    expect_identical(random_case(random, N, 9, d, style, kernel, p, 1 + style),
                                     "kernel " + std::to_string(kernel) + " p " + std::to_string(p) +
                                         " d " + std::to_string(d) + " style " + std::to_string(style));
                }
}

TEST(EngineDifferential, AdversarialTiesDuplicatesUnderflowAndSpecialValues) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int kernel = 0; kernel < 4; ++kernel)
        for (double p : {1.0, 1.5, 2.0, 3.0, 4.0, inf}) {
            module_inputs in;
            in.kernel_type = kernel;
            in.p = p;
            in.h = 0.5;
            in.oflag = 3;
            // Mirrored pairs (exact ties), duplicates across classes, far
            // templates (all-underflow patterns), NaN and infinite features.
            in.templates = {{1, 2}, {3, 2}, {2, 5}, {2, -1}, {7, 7}, {7, 7}, {1e6, 1e6},
                            {-1e6, 0}, {nan, 1}, {inf, 2}, {1e-310, 3e-320}, {0x1p-460, 1}};
            in.labels = {1, 2, 2, 1, 3, 4, 5, 6, 7, 8, 9, 10};
            in.patterns = {{2, 2}, {7, 7}, {5e5, -5e5}, {nan, nan}, {-inf, 0},
                           {0, 0}, {1.5, 2}, {0x1p-470, 1}, {3e5, 3e5}};
            expect_identical(in, "kernel " + std::to_string(kernel) + " p " + std::to_string(p));
        }
}

TEST(EngineDifferential, SquaresNearRoundingBoundariesTakeTheLiteralPath) {
    // Differences whose squares sit close to halfway between two doubles,
    // where x*x and pow(x, 2) part ways; the second class holds the first's
    // templates mirrored through the pattern, in another order, so the
    // literal scores are equal or an ulp apart: no pattern may be decided
    // on the fast scores.
    std::mt19937_64 random(1200);
    std::uniform_real_distribution<double> unit(1.0, 2.0);
    module_inputs in;
    in.p = 2;
    in.h = 2.0;
    in.oflag = 2;
    for (int j = 0; j < 64; ++j) {
        in.templates.push_back({unit(random), unit(random), unit(random)});
        in.labels.push_back(1);
    }
    for (int j = 63; j >= 0; --j) {
        const auto &row = in.templates[static_cast<size_t>(j)];
        in.templates.push_back({-row[0], -row[1], -row[2]});
        in.labels.push_back(2);
    }
    for (int n = 0; n < 20; ++n) in.patterns.push_back({0, 0, 0});
    for (int kernel = 0; kernel < 4; ++kernel) {
        in.kernel_type = kernel;
        const auto literal_counts = expect_identical(in, "kernel " + std::to_string(kernel));
        EXPECT_EQ(literal_counts.first, 20) << "kernel " << kernel;
    }
}

TEST(EngineDifferential, ClearDecisionsStayOnTheFastPath) {
    // Two far-apart clusters and patterns at their centres: every comparison
    // is settled by far more than the bounds, except where the distances
    // are pattern_distance's own (p above 64, which has no tile function).
    module_inputs in;
    in.h = 1.0;
    in.oflag = 2;
    for (int j = 0; j < 70; ++j) {
        const double offset = 0.01 * (j % 7);
        in.templates.push_back({offset, -offset, 0.5 * offset});
        in.labels.push_back(3);
        in.templates.push_back({4 + offset, 4 - offset, 4});
        in.labels.push_back(8);
    }
    in.patterns = {{0, 0, 0}, {4, 4, 4}, {0.02, 0, 0}, {3.9, 4, 4.1}};
    for (int kernel = 0; kernel < 4; ++kernel)
        for (double p : {1.0, 1.5, 2.0, 3.0, 4.0, 7.25, 64.0, 64.5, inf}) {
            in.kernel_type = kernel;
            in.p = p;
            const auto literal_counts =
                expect_identical(in, "kernel " + std::to_string(kernel) + " p " + std::to_string(p));
            const int64_t expected = p == 64.5 ? 4 : 0;
            EXPECT_EQ(literal_counts.first, expected) << "kernel " << kernel << " p " << p;
            EXPECT_EQ(literal_counts.second, expected) << "kernel " << kernel << " p " << p;
        }
}

TEST(EngineDifferential, GaussianNearTieDependsOnTheSensitivityTerm) {
    // Two one-column templates 7e-15 apart in different classes: the fast
    // exponentials are close enough to the literal ones only with the bound's
    // sensitivity term; the literal scores are equal, a tie.
    module_inputs in;
    in.templates = {{40.666106172993857}, {40.666106172993864}};
    in.labels = {1, 2};
    in.kernel_type = 0;
    in.p = 1;
    in.h = 1.1845536609829488;
    in.patterns = {{0}};
    in.unknown_label = -4;
    in.oflag = 2;
    const auto literal_counts = expect_identical(in, "the near tie");
    EXPECT_EQ(literal_counts.first, 1);
    EXPECT_EQ(result_labels(call_module(in)), std::vector<double>{-4});
}

TEST(EngineDifferential, ExponentialKernelsJustPastTheUnderflowFloor) {
    // Class 1: three templates whose exponent is just below -700, where the
    // fast exponential gives 0; class 2: one just above. Literally class 1
    // has nearly three times class 2's score.
    for (int kernel : {0, 2}) {
        const auto at_exponent = [&](double a) { return kernel == 0 ? std::sqrt(-2.0 * a) : -a; };
        module_inputs in;
        in.kernel_type = kernel;
        in.p = 1;
        in.h = 1;
        in.templates = {{at_exponent(-700.0001)}, {at_exponent(-700.0002)}, {at_exponent(-700.0003)},
                        {at_exponent(-699.9999)}};
        in.labels = {1, 1, 1, 2};
        in.patterns = {{0}};
        expect_identical(in, "kernel " + std::to_string(kernel));
        EXPECT_EQ(result_labels(call_module(in)), std::vector<double>{1}) << kernel;
    }
}

TEST(EngineDifferential, LargeDimensionsTakeSeveralCachePasses) {
    // From 1025 columns on, each pass over the templates holds one tile: 100
    // templates are four passes, over one-class, mixed and partial tiles.
    std::mt19937_64 random(17);
    for (int kernel = 0; kernel < 4; ++kernel)
        for (double p : {1.0, 2.0, 3.0, inf}) {
            module_inputs in = random_case(random, 100, 6, 1030, 0, kernel, p, 2);
            std::sort(in.labels.begin(), in.labels.end());
            in.h = 3.0;
            expect_identical(in, "kernel " + std::to_string(kernel) + " p " + std::to_string(p));
        }
}

TEST(EngineDifferential, NaNScoresLeaveThePatternUnclassified) {
    // A NaN template spoils its class's score for every pattern, except under
    // the largest difference, which skips NaN differences.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    module_inputs in;
    in.templates = {{0, 0}, {1, 1}, {nan, 5}, {2, 2}};
    in.labels = {1, 2, 3, 4};
    in.patterns = {{0, 0}, {1, 1}, {nan, nan}};
    in.unknown_label = -2;
    in.oflag = 2;
    for (int kernel = 0; kernel < 4; ++kernel)
        for (double p : {1.0, 2.0, 3.0, inf}) {
            in.kernel_type = kernel;
            in.p = p;
            expect_identical(in, "kernel " + std::to_string(kernel) + " p " + std::to_string(p));
            const auto outcome = call_module(in);
            if (p == inf) {
                EXPECT_EQ(result_labels(outcome), (std::vector<double>{1, 2, -2})) << kernel;
            } else {
                EXPECT_EQ(result_labels(outcome), (std::vector<double>{-2, -2, -2})) << kernel << " p " << p;
                EXPECT_NE(outcome.console.find("   Pattern #1 could not be classified\n"), std::string::npos);
                EXPECT_NE(outcome.console.find("unable to classify 3 patterns (100.000000%)\n"), std::string::npos);
            }
        }
}

TEST(EngineDifferential, MirroredTemplatesTieExactly) {
    // Mirrored pairs of different classes around the pattern: equal sums.
    for (int kernel = 0; kernel < 4; ++kernel)
        for (double p : {1.0, 2.0, 3.0, inf}) {
            module_inputs in;
            in.kernel_type = kernel;
            in.p = p;
            in.h = 0.7;
            in.oflag = 2;
            in.templates = {{1, 2}, {3, 2}, {2, 5}, {2, -1}};
            in.labels = {1, 2, 2, 1};
            in.patterns = {{2, 2}, {2, 2}};
            expect_identical(in, "kernel " + std::to_string(kernel) + " p " + std::to_string(p));
            EXPECT_EQ(result_labels(call_module(in)), (std::vector<double>{-1, -1}));
        }
}

TEST(EngineDifferential, ManyClassesAndPatternsOverThreads) {
    std::mt19937_64 random(99);
    module_inputs in = random_case(random, 300, 257, 5, 0, 3, 2.0);
    for (size_t j = 0; j < in.labels.size(); ++j) in.labels[j] = static_cast<double>(j % 97);
    expect_identical(in, "97 classes");
}

TEST(EngineDifferential, EveryTemplateItsOwnClassAndClassesWithoutTemplates) {
    // Whole tiles of one-template classes, where the best score so far
    // usually settles every lane at once; later classes that take over, exact
    // duplicates across classes (ties) and labels such as 1.5, whose table
    // entries no template adds to, must still come out as the literal rule
    // has them.
    std::mt19937_64 random(606);
    for (int kernel = 0; kernel < 4; ++kernel)
        for (double p : {1.0, 2.0, inf}) {
            module_inputs in = random_case(random, 400, 40, 2, 0, kernel, p);
            for (size_t j = 0; j < in.labels.size(); ++j) in.labels[j] = static_cast<double>(j);
            in.templates[350] = in.templates[20];  // a tie with an early class
            in.labels[123] = 122.5;                // an entry of its own, scored by 122's class
            in.labels[300] = 299.5;
            for (int n = 0; n < 8; ++n) in.patterns[n] = in.templates[400 - 50 * n - 1];  // late winners
            in.patterns[8] = in.templates[20];
            const auto literal_counts =
                expect_identical(in, "kernel " + std::to_string(kernel) + " p " + std::to_string(p));
            EXPECT_LT(literal_counts.second, 10) << "most patterns stay on the fast path";
        }
    // One-template classes at distances an ulp or so apart: their literal
    // values are often equal (ties), their fast ones apart by the kernel's
    // error, so only a lane's bound can say that it may reach the best.
    module_inputs near;
    near.h = 0.3;
    near.oflag = 2;
    for (int k = 0; k < 96; ++k) {
        near.templates.push_back({0.5 + 0.3 * (1.0 + k * 0x1p-52)});
        near.labels.push_back(k);
    }
    near.patterns = {{0.5}, {0.2}, {0.5 + 0x1p-40}};
    for (int kernel = 0; kernel < 4; ++kernel) {
        near.kernel_type = kernel;
        expect_identical(near, "near-ties, kernel " + std::to_string(kernel));
    }
    // A tile settled by class 0 alone, then a later tile with a template an
    // ulp or two further away whose literal gaussian value equals class 0's
    // (a tie) while its fast value is one ulp below: found by search.
    module_inputs tie;
    tie.h = 0.3;
    tie.oflag = 2;
    for (int k = 0; k < 96; ++k) {
        tie.templates.push_back({k == 0 ? 0.0 : k == 40 ? -0x1p-55 : k == 50 ? -0x1p-54 : 50.0});
        tie.labels.push_back(k);
    }
    tie.patterns = {{0x1.a4aecac23d5adp-3}, {0x1.344c5872d4a23p-3}, {0x1.047af08796441p-3}};
    const auto outcome = call_module(tie);
    EXPECT_EQ(result_labels(outcome), (std::vector<double>{-1, -1, -1})) << "ties with class 0";
    expect_identical(tie, "a tie a tile away");
    // A table entry without templates scores 0; with every kernel value
    // underflowing to 0 it ties with the class before it.
    module_inputs empty;
    empty.templates = {{0.0}, {1.0}};
    empty.labels = {2.5, 2.7};  // two entries labelled 2; both templates score for the first
    empty.patterns = {{1e6}, {0.5}};
    empty.oflag = 2;
    for (int kernel : {0, 2}) {
        empty.kernel_type = kernel;
        EXPECT_EQ(result_labels(call_module(empty)), (std::vector<double>{-1, 2})) << kernel;
        expect_identical(empty, "an entry without templates, kernel " + std::to_string(kernel));
    }
}

TEST(EngineDifferential, PermutedTemplatesGiveScoresWithinRoundingOfEachOther) {
    // Each class holds the same templates in another order, some nudged by
    // an ulp: the class sums agree to within their rounding, so only the
    // literal evaluation can tell which is larger, or that they are equal.
    std::mt19937_64 random(4242);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int64_t literal_patterns = 0;
    for (int round = 0; round < 60; ++round) {
        // Small classes share tiles; from round 40 on each class fills whole
        // tiles of its own, which take the summing path for one class.
        const int d = 1 + round % 5, k = round < 40 ? 3 + round % 6 : 64 + 7 * (round % 5);
        module_inputs in;
        in.kernel_type = round % 4;
        in.p = 1.0 + round % 4;
        in.h = 0.3;
        in.oflag = 2;
        std::vector<std::vector<double>> set;
        for (int j = 0; j < k; ++j) set.push_back(random_row(random, d, 0));
        for (int c = 0; c < 3; ++c) {
            std::vector<std::vector<double>> members = set;
            std::shuffle(members.begin(), members.end(), random);
            if (c == 2) members[0][0] = std::nextafter(members[0][0], 2.0);
            for (auto &row : members) {
                in.templates.push_back(row);
                in.labels.push_back(c + 1);
            }
        }
        for (int n = 0; n < 12; ++n) in.patterns.push_back(random_row(random, d, 0));
        literal_patterns += expect_identical(in, "round " + std::to_string(round)).first;
    }
    EXPECT_GT(literal_patterns, 0) << "near ties go to the literal evaluation";
}

TEST(EngineProgress, DecisionsAreReportedInOrderWhileTheRunGoes) {
    std::mt19937_64 random(5);
    const module_inputs in = random_case(random, 40, 100, 3, 0, 0, 2.0);
    for (const auto mode : {vendral::evaluation::fast, vendral::evaluation::literal})
        for (int threads : {1, 2}) {
            vendral::classify_options options;
            options.mode = mode;
            options.threads = threads;
            const model_run run = classify_with_model(in, options);
            ASSERT_EQ(run.status, vendral::classify_status::classified);
            EXPECT_EQ(run.outcome.off_thread_operations, 0);
            EXPECT_EQ(run.outcome.blocks_left, 0u);
            const std::vector<int32_t> &reports = run.reports;
            // On one thread progress comes in steps; with more, the other
            // thread may happen to take every chunk.
            if (threads == 1) {
                EXPECT_GE(reports.size(), 7u) << "progress comes in steps, not all at the end";
            }
            EXPECT_EQ(reports.front(), 0);
            EXPECT_EQ(reports.back(), 100);
            EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
        }
}

namespace {

// A pattern's literal class scores, as the rule's oracle; counts its calls.
struct literal_oracle {
    std::vector<double> scores;
    mutable int calls = 0;
};

double oracle_score(const void *context, const double *, int32_t c) {
    const auto *oracle = static_cast<const literal_oracle *>(context);
    ++oracle->calls;
    return oracle->scores[static_cast<size_t>(c)];
}

}  // namespace

TEST(ExactRule, FollowsTheLiteralRuleWheneverFastScoresAreWithinTheirBounds) {
    // Literal scores drawn from a few values (ties), NaN now and then; each
    // fast score anywhere within its bound of the literal one, bounds from 0
    // to wide, so that comparisons settle on the bounds, or need one class's
    // literal score, or both.
    std::mt19937_64 random(2027);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double levels[] = {0.0, 0.25, 0.5, 0.5 + 0x1p-40, 1.0, std::numeric_limits<double>::quiet_NaN()};
    int settled_without_literal = 0, with_literal = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        const int M = 1 + static_cast<int>(unit(random) * 12);
        literal_oracle oracle;
        std::vector<double> fast(M), error(M);
        for (int c = 0; c < M; ++c) {
            const int level = static_cast<int>(unit(random) * (trial % 4 == 0 ? 6 : 5));
            oracle.scores.push_back(levels[level] + (trial % 3 == 0 ? 0.0 : unit(random) * 0x1p-30));
            error[c] = trial % 5 == 0 ? 0.0 : std::ldexp(unit(random), -static_cast<int>(unit(random) * 50));
            // A bound of 0 only for a fast score that is the literal one.
            fast[c] = oracle.scores[c] + (2.0 * unit(random) - 1.0) * error[c];
            // The addition's rounding may carry it past a bound far below an ulp.
            if (!(std::fabs(fast[c] - oracle.scores[c]) <= error[c])) fast[c] = oracle.scores[c];
        }
        vendral::exact_rule rule;
        rule.literal_score = vendral::literal_scorer{oracle_score, &oracle, nullptr};
        for (int c = 0; c < M; ++c) rule.take(fast[c], error[c]);
        const vendral::decision expected = vendral::decide(oracle.scores.data(), M);
        const vendral::decision &actual = rule.literal.outcome;
        ASSERT_EQ(actual.winner, expected.winner) << "trial " << trial;
        ASSERT_EQ(actual.tie, expected.tie) << "trial " << trial;
        ASSERT_EQ(actual.comparisons, expected.comparisons) << "trial " << trial;
        ASSERT_EQ(actual.nan_score, expected.nan_score) << "trial " << trial;
        ASSERT_EQ(rule.literal_classes, oracle.calls);
        (oracle.calls == 0 ? settled_without_literal : with_literal) += 1;
    }
    // Both ways of deciding occur.
    EXPECT_GT(settled_without_literal, 1000);
    EXPECT_GT(with_literal, 1000);
}
