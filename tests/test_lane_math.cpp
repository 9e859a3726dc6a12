// The fast path's vector roots and sine against what the literal evaluation
// computes, at every vector width this processor runs, within their claims:
// the engine's score bounds rest on these claims.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "classifier/lanes/lane_math.h"
#include "classifier/lanes/multiversion.h"
#include "classifier/lanes/opaque.h"

namespace {

constexpr double u = 0x1p-53;

using lanes_function = void (*)(const double *, double *, int32_t, int);

// The function at each width, on values padded to a multiple of 8 lanes.
template <typename check>
void at_every_width(lanes_function apply, std::vector<double> values, check compare) {
    while (values.size() % 8 != 0) values.push_back(values.back());
    std::vector<double> out(values.size());
    for (int width : {8, 4, 2}) {
        apply(values.data(), out.data(), static_cast<int32_t>(values.size()), vendral::vector_width(width));
        SCOPED_TRACE("vector width " + std::to_string(vendral::vector_width(width)));
        for (size_t i = 0; i < values.size(); ++i) compare(values[i], out[i]);
    }
}

// Sums across the whole range, mantissas near 1 and 2 (where the first
// guess is worst), exact cubes and fourth powers, and the range's ends.
std::vector<double> sums_to_root() {
    std::mt19937_64 random(31);
    std::uniform_real_distribution<double> exponent(-1000.0, 1000.0);
    std::vector<double> sums{0.0, 0x1p-1000, 0x1p+1000, 0x1.fffffffffffffp+999, 1.0, 8.0, 27.0, 64.0, 81.0, 1e-300,
                             1e300, std::nextafter(2.0, 0.0), std::nextafter(1.0, 2.0)};
    for (int i = 0; i < 400000; ++i) sums.push_back(std::exp2(exponent(random)));
    for (int e = -990; e <= 990; e += 3) {
        sums.push_back(std::ldexp(1.0 + 0x1p-50 * (e & 7), e));
        sums.push_back(std::ldexp(std::nextafter(2.0, 0.0), e));
        sums.push_back(std::ldexp(1.4426950408889634, e));
    }
    return sums;
}

TEST(LaneMath, CubeRootIsWithinItsClaimOfTheLiteralRoot) {
    double worst = 0.0;
    at_every_width(vendral::cube_roots_of_sums, sums_to_root(), [&](double s, double root) {
        const double literal = std::pow(s, vendral::opaque(1.0 / 3.0));
        if (s == 0.0) {
            ASSERT_EQ(root, 0.0);
            return;
        }
        const double error = std::fabs(root - literal) / literal;
        worst = std::max(worst, error);
        ASSERT_LE(error, vendral::cube_root_error) << "sum " << s;
    });
    // The literal exponent is not exactly 1/3; without following it the
    // root would be up to 2^-46 away at the ends of the range.
    EXPECT_GT(worst, 0.5 * u);
}

TEST(LaneMath, FourthRootIsWithinItsClaimOfTheLiteralRoot) {
    at_every_width(vendral::fourth_roots_of_sums, sums_to_root(), [&](double s, double root) {
        const double literal = std::pow(s, vendral::opaque(0.25));
        if (s == 0.0) {
            ASSERT_EQ(root, 0.0);
            return;
        }
        ASSERT_LE(std::fabs(root - literal) / literal, vendral::fourth_root_error) << "sum " << s;
    });
}

TEST(LaneMath, SineIsWithinItsClaimAcrossItsRange) {
    std::mt19937_64 random(32);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> arguments{0.0, 0x1p-1074, 1e-300, 1e-8, 0.5, vendral::sine_range};
    // Near every kind of multiple of pi/2, where the reduction cancels most.
    for (long k = 1; k < (1L << 20); k = k * 3 + 1)
        for (double offset : {0.0, 1e-12, -1e-12, 0.785, -0.785})
            arguments.push_back(k * 1.5707963267948966 + offset);
    for (int i = 0; i < 300000; ++i) {
        arguments.push_back(unit(random) * 10.0);
        arguments.push_back(unit(random) * vendral::sine_range);
        arguments.push_back(std::ldexp(unit(random), -(i % 200)));
    }
    at_every_width(vendral::sines, arguments, [&](double v, double sine) {
        if (v < 0 || v > vendral::sine_range) return;
        const long double exact = std::sin(static_cast<long double>(v));
        ASSERT_LE(std::fabs(sine - exact), vendral::sine_error) << "v " << v;
    });
}

TEST(LaneMath, LogarithmIsWithinItsClaimOverTheNormalRange) {
    // Against long double's log, over the whole normal range, densely near 1
    // (where ln x is small and only the absolute part of the claim holds),
    // near the mantissa's switch at sqrt 2, and at powers of 2.
    std::mt19937_64 random(33);
    std::uniform_real_distribution<double> unit(0.0, 1.0), exponent(-1022.0, 1024.0);
    std::vector<double> values{0x1p-1022, std::numeric_limits<double>::max(), 1.0, 2.0, 0.5,
                               std::nextafter(1.0, 0.0), std::nextafter(1.0, 2.0), 1.4142135623730951,
                               std::nextafter(1.4142135623730951, 0.0), 0.7071067811865476};
    for (int e = -1022; e < 1024; e += 7) values.push_back(std::ldexp(1.0, e));
    for (int i = 0; i < 200000; ++i) {
        values.push_back(std::ldexp(1.0 + unit(random), static_cast<int>(exponent(random))));
        values.push_back(1.0 + std::ldexp(unit(random) - 0.5, -(i % 52)));
        values.push_back(1.4142135623730951 * (1.0 + std::ldexp(unit(random) - 0.5, -(i % 50))));
    }
    double worst = 0.0;
    at_every_width(vendral::natural_logs, values, [&](double x, double log_x) {
        const long double exact = std::log(static_cast<long double>(x));
        const double allowed = vendral::log_relative_error * std::fabs(static_cast<double>(exact)) +
                               vendral::log_absolute_error;
        const double error = std::fabs(static_cast<double>(log_x - exact));
        worst = std::max(worst, error / allowed);
        ASSERT_LE(error, allowed) << "x " << x;
    });
    EXPECT_LT(worst, 0.8) << "the derivation claims well inside the allowance";
}

}  // namespace
