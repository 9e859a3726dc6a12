// The module against the plain reference on seeded random data: identical
// labels, counters and console text, including exact ties from mirrored
// templates and non-integer labels.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "module_call.h"

namespace {

struct data_shape {
    int N, P, d, classes;
};

module_inputs random_inputs(std::mt19937_64 &random, const data_shape &shape, int kernel_type,
                            double p, int oflag) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<int> small(0, 3);
    module_inputs in;
    in.kernel_type = kernel_type;
    in.p = p;
    in.h = 0.1 * std::sqrt(static_cast<double>(shape.d) + 1.0);
    in.oflag = oflag;
    in.columns = shape.d;
    in.unknown_label = -9;
    for (int j = 0; j < shape.N; ++j) {
        std::vector<double> row(shape.d);
        for (double &x : row) x = unit(random);
        in.templates.push_back(row);
        in.labels.push_back(static_cast<double>(j % shape.classes) + (j % 7 == 6 ? 0.5 : 0.0));
    }
    for (int n = 0; n < shape.P; ++n) {
        std::vector<double> row(shape.d);
        for (double &x : row) x = unit(random);
        in.patterns.push_back(row);
    }
    return in;
}

// Templates in mirrored pairs of different classes around each pattern give
// exactly equal class sums: every pattern is a tie.
module_inputs mirrored_ties(int kernel_type, double p) {
    module_inputs in;
    in.kernel_type = kernel_type;
    in.p = p;
    in.h = 0.7;
    in.oflag = 2;
    in.templates = {{1, 2}, {3, 2}, {2, 5}, {2, -1}};
    in.labels = {1, 2, 2, 1};
    in.patterns = {{2, 2}, {2, 2}};
    return in;
}

void expect_same_as_reference(const module_inputs &in) {
    const reference::outcome expected = call_reference(in);
    const builtin_host::call_outcome actual = call_module(in);
    ASSERT_FALSE(actual.raised) << actual.error;
    const std::vector<double> labels = result_labels(actual);
    ASSERT_EQ(labels.size(), expected.labels.size());
    for (size_t n = 0; n < labels.size(); ++n)
        EXPECT_EQ(labels[n], expected.labels[n]) << "pattern " << n + 1;
    EXPECT_EQ(actual.flops_added, expected.flops + expected.comparisons);
    EXPECT_EQ(reference::without_seconds(actual.console), expected.console);
    EXPECT_EQ(actual.blocks_left, working_copy_blocks);
}

}  // namespace

TEST(AgainstReference, SeededRandomDataEveryKernelAndNorm) {
    std::mt19937_64 random(20261208);
    const data_shape shapes[] = {{1, 3, 1, 1}, {12, 9, 3, 3}, {40, 17, 7, 4}, {25, 5, 0, 2}};
    for (int kernel = 0; kernel < 4; ++kernel)
        for (double p : {1.0, 1.5, 2.0, 3.0, std::numeric_limits<double>::infinity()})
            for (const data_shape &shape : shapes) {
                SCOPED_TRACE("kernel " + std::to_string(kernel) + " p " + std::to_string(p) +
                             " d " + std::to_string(shape.d));
                expect_same_as_reference(random_inputs(random, shape, kernel, p, 2));
            }
}

TEST(AgainstReference, MirroredTemplatesTieExactly) {
    for (int kernel = 0; kernel < 4; ++kernel)
        for (double p : {1.0, 2.0, 3.0, std::numeric_limits<double>::infinity()}) {
            const module_inputs in = mirrored_ties(kernel, p);
            expect_same_as_reference(in);
            EXPECT_EQ(call_reference(in).unclassified, 2) << "kernel " << kernel << " p " << p;
        }
}

TEST(AgainstReference, NaNAndInfiniteFeatures) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    module_inputs in;
    in.templates = {{0, 0}, {nan, 1}, {inf, 0}, {1, 1}, {-inf, nan}};
    in.labels = {1, 2, 3, 4, 5};
    in.patterns = {{0, 0}, {nan, nan}, {inf, inf}, {1, 0.5}};
    in.oflag = 2;
    for (int kernel = 0; kernel < 4; ++kernel)
        for (double p : {1.0, 2.0, 3.0, inf}) {
            in.kernel_type = kernel;
            in.p = p;
            SCOPED_TRACE("kernel " + std::to_string(kernel) + " p " + std::to_string(p));
            expect_same_as_reference(in);
        }
}
