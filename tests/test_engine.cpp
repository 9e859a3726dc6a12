// The fast evaluation against the literal one: identical labels, counters and
// console text on seeded random and adversarial data, on one and two threads.
// Sizes sweep every tail of the template blocks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <algorithm>
#include <random>

#include "classifier/engine.h"
#include "classifier/fast_kernels.h"
#include "classifier/multiversion.h"
#include "module_call.h"

namespace {

const double inf = std::numeric_limits<double>::infinity();

struct evaluated {
    builtin_host::call_outcome outcome;
    std::string console;
};

evaluated run_with(const module_inputs &in, vendral::evaluation mode, int threads, int width = 0) {
    vendral::set_evaluation(mode);
    vendral::set_thread_count(threads);
    vendral::limit_vector_width(width);
    evaluated result{call_module(in), ""};
    vendral::set_evaluation(vendral::evaluation::fast);
    vendral::set_thread_count(0);
    vendral::limit_vector_width(0);
    result.console = reference::without_seconds(result.outcome.console);
    return result;
}

void expect_identical(const module_inputs &in, const std::string &what) {
    SCOPED_TRACE(what);
    const evaluated literal = run_with(in, vendral::evaluation::literal, 1);
    ASSERT_FALSE(literal.outcome.raised) << literal.outcome.error;
    // Every thread count and every vector width this processor can run.
    for (const auto &[threads, width] : {std::pair{1, 0}, std::pair{2, 0}, std::pair{2, 4}, std::pair{1, 2}}) {
        SCOPED_TRACE("threads " + std::to_string(threads) + " width limit " + std::to_string(width));
        const evaluated fast = run_with(in, vendral::evaluation::fast, threads, width);
        ASSERT_FALSE(fast.outcome.raised) << fast.outcome.error;
        const auto expected = result_labels(literal.outcome), actual = result_labels(fast.outcome);
        ASSERT_EQ(actual.size(), expected.size());
        for (size_t n = 0; n < actual.size(); ++n)
            ASSERT_EQ(std::memcmp(&actual[n], &expected[n], sizeof(double)), 0)
                << "pattern " << n + 1 << " threads " << threads;
        EXPECT_EQ(fast.outcome.flops_added, literal.outcome.flops_added) << threads;
        EXPECT_EQ(fast.console, literal.console) << threads;
        EXPECT_EQ(fast.outcome.off_thread_operations, 0);
        EXPECT_EQ(fast.outcome.misuses, 0);
    }
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

module_inputs random_case(std::mt19937_64 &random, int N, int P, int d, int style, int kernel, double p) {
    module_inputs in;
    in.kernel_type = kernel;
    in.p = p;
    in.h = style == 2 ? 1e-14 : 0.1 * std::sqrt(d + 1.0);
    in.oflag = 2;
    in.columns = d;
    for (int j = 0; j < N; ++j) {
        in.templates.push_back(random_row(random, d, style));
        in.labels.push_back(j % 5 + (j % 11 == 10 ? 0.5 : 0.0));
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
                    const int N = 1 + (d * 7 + style) % 19;
                    expect_identical(random_case(random, N, 9, d, style, kernel, p),
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
    // Differences whose squares sit close to halfway between two doubles: the
    // ones where x*x and pow(x, 2) part ways.
    std::mt19937_64 random(1200);
    std::uniform_real_distribution<double> unit(1.0, 2.0);
    module_inputs in;
    in.p = 2;
    in.h = 1e-9;
    in.oflag = 2;
    for (int j = 0; j < 64; ++j) {
        in.templates.push_back({unit(random), unit(random), unit(random)});
        in.labels.push_back(j % 2);
    }
    for (int n = 0; n < 64; ++n) in.patterns.push_back({0, 0, 0});
    for (int kernel = 0; kernel < 4; ++kernel) {
        in.kernel_type = kernel;
        expect_identical(in, "kernel " + std::to_string(kernel));
    }
}

TEST(EngineDifferential, ManyClassesAndPatternsOverThreads) {
    std::mt19937_64 random(99);
    module_inputs in = random_case(random, 300, 257, 5, 0, 3, 2.0);
    for (size_t j = 0; j < in.labels.size(); ++j) in.labels[j] = static_cast<double>(j % 97);
    expect_identical(in, "97 classes");
}

TEST(EngineDifferential, PermutedTemplatesGiveScoresWithinRoundingOfEachOther) {
    // Each class holds the same templates in another order, some nudged by
    // an ulp: the class sums agree to within their rounding, so only the
    // literal evaluation can tell which is larger, or that they are equal.
    std::mt19937_64 random(4242);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
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
        expect_identical(in, "round " + std::to_string(round));
    }
}

TEST(FastKernels, ApproximateExpStaysWithinItsClaimedError) {
    // Against the library's exp (within 1 ulp of the truth) over the whole
    // range the kernels use, densely near 0 and near the underflow floor.
    double worst = 0.0;
    for (int i = 0; i <= 2000000; ++i) {
        const double a = -(700.0 - (i % 7) * 1e-9) * i / 2000000.0;
        const double expected = std::exp(a), actual = vendral::approximate_exp(a);
        worst = std::max(worst, std::fabs(actual - expected) / expected);
    }
    EXPECT_LT(worst, vendral::exp_relative_error / 16) << "observed error far inside the claim";
    EXPECT_EQ(vendral::approximate_exp(0.0), 1.0);
    EXPECT_EQ(vendral::approximate_exp(-700.5), 0.0);
    EXPECT_EQ(vendral::approximate_exp(-INFINITY), 0.0);
    EXPECT_TRUE(std::isnan(vendral::approximate_exp(NAN)));
}

TEST(EngineProgress, DecisionsAreReportedInOrderWhileTheRunGoes) {
    std::mt19937_64 random(5);
    const module_inputs in = random_case(random, 40, 100, 3, 0, 0, 2.0);
    std::vector<const double *> templates, patterns;
    for (const auto &row : in.templates) templates.push_back(row.data());
    for (const auto &row : in.patterns) patterns.push_back(row.data());
    std::vector<int32_t> class_of(in.templates.size());
    for (size_t j = 0; j < class_of.size(); ++j) class_of[j] = static_cast<int32_t>(j % 5);
    const vendral::engine_inputs engine_in{40, 3, templates.data(), class_of.data(), 5, 0, 2.0, 0.4,
                                           100, patterns.data()};
    for (const auto mode : {vendral::evaluation::fast, vendral::evaluation::literal})
        for (int threads : {1, 2}) {
            std::vector<int32_t> reports;
            std::vector<vendral::decision> decisions(100);
            vendral::set_evaluation(mode);
            vendral::set_thread_count(threads);
            const auto outcome = builtin_host::within_call([&] {
                ASSERT_TRUE(vendral::decide_patterns(
                    engine_in, decisions.data(),
                    [](int32_t ready, void *seen) { static_cast<std::vector<int32_t> *>(seen)->push_back(ready); },
                    &reports));
            });
            vendral::set_evaluation(vendral::evaluation::fast);
            vendral::set_thread_count(0);
            EXPECT_EQ(outcome.off_thread_operations, 0);
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
