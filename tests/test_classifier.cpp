// The engine's building blocks: distances, kernels and their accounting, the
// decision rule, the class table and the clock arithmetic.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <set>
#include <thread>

#include "builtin_host/builtin_host.h"
#include "classifier/engine/class_table.h"
#include "classifier/classifier.h"
#include "classifier/engine/decision.h"
#include "classifier/host_services.h"

using namespace vendral;

namespace {
const double inf = std::numeric_limits<double>::infinity();
const double not_a_number = std::numeric_limits<double>::quiet_NaN();
}  // namespace

TEST(Distance, RegimesOnTheThreeFourFiveTriangle) {
    const double origin[] = {0, 0}, corner[] = {3, 4};
    EXPECT_EQ(pattern_distance(origin, corner, 2, 1.0), 7.0);
    EXPECT_EQ(pattern_distance(origin, corner, 2, 2.0), 5.0);
    EXPECT_EQ(pattern_distance(origin, corner, 2, inf), 4.0);
    EXPECT_EQ(pattern_distance(origin, corner, 2, 3.0), std::pow(27.0 + 64.0, 1.0 / 3.0));
    EXPECT_NEAR(pattern_distance(origin, corner, 2, 3.0), 4.4979, 1e-4);
}

TEST(Distance, IdenticalRowsAndNoColumnsGiveZero) {
    const double row[] = {1.5, -2, 1e300};
    for (double p : {1.0, 1.5, 2.0, 3.0, inf}) {
        EXPECT_EQ(pattern_distance(row, row, 3, p), 0.0) << p;
        EXPECT_EQ(pattern_distance(row, row, 0, p), 0.0) << p;
    }
}

TEST(Distance, NaNNeverBecomesTheMaximumButSpoilsTheSums) {
    const double a[] = {0, not_a_number, 0}, b[] = {1, 0, 2};
    EXPECT_EQ(pattern_distance(a, b, 3, inf), 2.0);
    EXPECT_TRUE(std::isnan(pattern_distance(a, b, 3, 1.0)));
    EXPECT_TRUE(std::isnan(pattern_distance(a, b, 3, 2.0)));
}

TEST(Distance, PowerTermsAndRootGoThroughTheLibrarysPow) {
    // Near-halfway squares and cubes, where x*x (or x*x*x) and pow differ.
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> unit(1.0, 2.0);
    volatile double hidden_p = 0;
    for (double p : {2.0, 3.0}) {
        hidden_p = p;
        for (int k = 0; k < 20000; ++k) {
            const double origin[] = {0, 0}, row[] = {unit(random), unit(random)};
            const double sum = std::pow(row[0], hidden_p) + std::pow(row[1], hidden_p);
            ASSERT_EQ(pattern_distance(origin, row, 2, p), std::pow(sum, 1.0 / hidden_p)) << row[0] << " " << row[1];
        }
    }
}

TEST(Kernels, ValuesAtUnitDistanceAndWidth) {
    uint64_t flops = 0;
    EXPECT_EQ(kernel_gaussian(1, 1, &flops), std::exp(-0.5));
    EXPECT_EQ(kernel_laplacian(1, 1, &flops), std::exp(-1.0));
    EXPECT_EQ(kernel_cauchy(1, 1, &flops), 0.5);
    EXPECT_EQ(kernel_squared_sinc(1, 1, &flops), std::pow(std::sin(0.5) / 0.5, 2));
    EXPECT_NEAR(kernel_squared_sinc(1, 1, &flops), 0.919395, 1e-6);
}

TEST(Kernels, EveryKernelIsOneAtDistanceZero) {
    uint64_t flops = 0;
    for (const kernel_row &row : kernel_table) EXPECT_EQ(row.function(0.0, 0.3, &flops), 1.0) << row.display_name;
}

TEST(Kernels, SquaredSincLimits) {
    uint64_t flops = 0;
    EXPECT_EQ(kernel_squared_sinc(1e-320, 1e300, &flops), 1.0);  // the quotient underflows to 0
    EXPECT_EQ(kernel_squared_sinc(1.0, 1.7e308, &flops), 1.0);   // h + h overflows
    EXPECT_EQ(kernel_squared_sinc(inf, 1.0, &flops), 0.0);
    EXPECT_EQ(kernel_squared_sinc(1e300, 1e-300, &flops), 0.0);  // the quotient overflows
    EXPECT_TRUE(std::isnan(kernel_squared_sinc(not_a_number, 1.0, &flops)));
    EXPECT_EQ(kernel_squared_sinc(4 * std::acos(-1.0), 1.0, &flops) < 1e-30, true);
}

TEST(Kernels, DistantPatternsUnderflowToZero) {
    uint64_t flops = 0;
    EXPECT_EQ(kernel_gaussian(1e3, 1.0, &flops), 0.0);
    EXPECT_EQ(kernel_laplacian(1e4, 1.0, &flops), 0.0);
}

TEST(Kernels, TableRowsGiveTheKernelsValuesAndCountTheirCalls) {
    // The values at x = h = 1, worked out by hand, in kernel_type order.
    const double at_one[] = {0.60653066, 0.91939539, 0.36787944, 0.5};
    for (int k = 0; k < kernel_count; ++k) {
        const kernel_row &row = kernel_table[k];
        uint64_t ignored = 0;
        EXPECT_NEAR(row.function(1, 1, &ignored), at_one[k], 1e-8) << row.display_name;
        for (double x : {0.0, 0.3, 1.0, 7.5, 40.0, 1e5})
            EXPECT_EQ(row.value(x, 1.3), row.function(x, 1.3, &ignored)) << row.display_name << " at " << x;
    }
    uint64_t flop_count = 0;
    kernel_table[1].function(2.0, 1.0, &flop_count);
    EXPECT_EQ(flop_count, 5u) << "one squared sinc call";
    flop_count = 0;
    for (int call = 0; call < 10; ++call) kernel_table[0].function(call, 1.0, &flop_count);
    EXPECT_EQ(flop_count, 40u) << "ten gaussian calls";
}

TEST(Decision, RuleOverScoreSequences) {
    struct row {
        std::vector<double> scores;
        int32_t winner;
        bool tie;
        uint32_t comparisons;
        bool nan_score = false;
    };
    const std::vector<row> rows = {
        {{5, 5, 7}, 2, false, 4},  // a later higher score clears the tie
        {{5, 3, 5}, 0, true, 4},
        {{0}, 0, false, 1},        // a single class wins even at 0
        {{0, 0}, 0, true, 3},      // everything underflowed
        {{not_a_number, 1}, 1, false, 2, true},   // the next class takes over from a NaN best
        {{1, not_a_number}, 1, false, 2, true},   // a NaN wins only as the last entry
        {{1, not_a_number, 0.5}, 2, false, 3, true},
        {{1, not_a_number, 1}, 2, false, 3, true},  // the NaN ends the tie too
        {{2, 1, 2, 2}, 0, true, 6},
        {{}, -1, false, 0},
    };
    for (const row &r : rows) {
        const decision outcome = decide(r.scores.data(), static_cast<int32_t>(r.scores.size()));
        EXPECT_EQ(outcome.winner, r.winner) << ::testing::PrintToString(r.scores);
        EXPECT_EQ(outcome.tie, r.tie) << ::testing::PrintToString(r.scores);
        EXPECT_EQ(outcome.comparisons, r.comparisons) << ::testing::PrintToString(r.scores);
        EXPECT_EQ(outcome.nan_score, r.nan_score) << ::testing::PrintToString(r.scores);
    }
}

TEST(Clock, WholeSecondsAreTakenBeforeTheDifference) {
    EXPECT_EQ(elapsed_whole_seconds(900, 1100), 1);
    EXPECT_EQ(elapsed_whole_seconds(1100, 1900), 0);
    EXPECT_EQ(elapsed_whole_seconds(0, 2999), 2);
}

TEST(Clock, CountsMillisecondsAsTheyPass) {
    const auto before = std::chrono::steady_clock::now();
    const int64_t start = milliseconds_since_load();
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    const int64_t end = milliseconds_since_load();
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - before).count();
    EXPECT_GE(end - start, 39);
    EXPECT_LE(end - start, elapsed + 1);
}

TEST(ClassTable, FirstOccurrenceOrderAndExactMatching) {
    const double labels[] = {2, 1, 2, 3, 1.5, 1.5, 1, -0.5, 0, -7.9};
    class_table table;
    const auto outcome = builtin_host::within_call([&] {
        ASSERT_TRUE(build_class_table(10, labels, host_allocator(), &table));
        const std::vector<int32_t> entries(table.labels, table.labels + table.count);
        // Each 1.5 appends an entry labelled 1; -0.5 appends 0, which the
        // exact 0 then joins.
        EXPECT_EQ(entries, (std::vector<int32_t>{2, 1, 3, 1, 1, 0, -7}));
        const std::vector<int32_t> classes(table.class_of_template, table.class_of_template + 10);
        EXPECT_EQ(classes, (std::vector<int32_t>{0, 1, 0, 2, 1, 1, 1, 5, 5, 6}));
        free_class_table(&table, host_allocator());
    });
    EXPECT_EQ(outcome.blocks_left, 0u);
    EXPECT_EQ(outcome.misuses, 0);
}

TEST(ClassTable, GrowthIsCountedInSixtyFourBitsAndRefusesWhatNoBlockCanHold) {
    EXPECT_EQ(grown_capacity(0, 8), 16u);
    EXPECT_EQ(grown_capacity(16, 8), 32u);
    // 2^31 labels need 2^32 slots: a 32-bit count would wrap to 0.
    if (sizeof(size_t) == 8) {
        EXPECT_EQ(grown_capacity(uint64_t{1} << 31, 8), uint64_t{1} << 32);
    }
    // More bytes than a size_t counts: no block, the memory message.
    EXPECT_EQ(grown_capacity(SIZE_MAX / 8, 8), 0u);
    EXPECT_EQ(grown_capacity(SIZE_MAX / 4 / 2 + 1, 4), 0u);
}

TEST(ClassTable, ManyDistinctLabelsAndEveryAllocationFailure) {
    // Labels over a range a table can index directly, and the same labels
    // spread far apart (hashed): the same classes in the same order.
    for (const double spread : {1.0, 600000.0}) {
        SCOPED_TRACE("spread " + std::to_string(spread));
        std::vector<double> labels;
        for (int i = 0; i < 5000; ++i) labels.push_back(((i * 7919) % 3001 - 1500) * spread);
        labels[17] += 0.5;  // not an integer: an entry of its own
        // A label joins the entry of the same value, if any; else it appends one.
        std::set<double> entries;
        int32_t expected = 0;
        for (double label : labels) {
            if (label == std::trunc(label) && entries.count(label) > 0) continue;
            entries.insert(std::trunc(label));
            ++expected;
        }
        for (uint64_t refuse = 1;; ++refuse) {
            bool built = false;
            const auto outcome = builtin_host::within_call(
                [&] {
                    class_table table;
                    built = build_class_table(5000, labels.data(), host_allocator(), &table);
                    if (built) {
                        EXPECT_EQ(table.count, expected);
                        for (int j = 0; j < 5000; ++j)
                            EXPECT_EQ(table.labels[table.class_of_template[j]], static_cast<int32_t>(labels[j]));
                        // Entries in order of first occurrence.
                        int32_t seen = 0;
                        for (int j = 0; j < 5000; ++j) {
                            EXPECT_LE(table.class_of_template[j], seen);
                            if (table.class_of_template[j] == seen) ++seen;
                        }
                        EXPECT_EQ(seen, expected);
                        free_class_table(&table, host_allocator());
                    }
                },
                builtin_host::call_options{refuse, false, false});
            EXPECT_EQ(outcome.blocks_left, 0u) << "refused allocation " << refuse;
            if (built) break;
        }
    }
}
