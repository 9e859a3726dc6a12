// Larger runs against the plain reference classifier the C++ tests use
// (tests/reference_classifier.h): the labels, the console text at oflag 2 with
// the summary, and the counter must agree exactly, NaN templates included.
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "harness.h"
#include "module_calls.h"
#include "tests/reference_classifier.h"

namespace {

// A fixed linear congruential sequence, so every platform sees the same data.
struct sequence {
    uint32_t state;
    double next(int range) {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>((state >> 8) % static_cast<uint32_t>(range));
    }
};

reference::rows as_rows(const std::vector<double> &row_major, int d) {
    reference::rows rows;
    for (size_t first = 0; first < row_major.size(); first += static_cast<size_t>(d))
        rows.emplace_back(row_major.begin() + static_cast<std::ptrdiff_t>(first),
                          row_major.begin() + static_cast<std::ptrdiff_t>(first) + d);
    return rows;
}

}  // namespace

RUNNER_TEST(random_runs_agree_with_the_reference_classifier) {
    const double norms[] = {1.0, 2.0, 3.0, std::numeric_limits<double>::infinity()};
    sequence random{12345};
    for (int kernel_type = 0; kernel_type < 4; ++kernel_type) {
        for (double p : norms) {
            for (bool with_nan : {false, true}) {
                // Small integer coordinates make exact ties between classes frequent.
                const int d = 3, N = 60, P = 40;
                std::vector<double> templates, labels, patterns;
                for (int i = 0; i < N * d; ++i) templates.push_back(random.next(5));
                for (int i = 0; i < N; ++i) labels.push_back(random.next(4) - 1);
                for (int i = 0; i < P * d; ++i) patterns.push_back(random.next(5));
                // A NaN feature spoils its class's score (except under p = +inf).
                if (with_nan) templates[7] = std::numeric_limits<double>::quiet_NaN();
                const double h = 0.5 + random.next(4) / 2;
                const reference::outcome expected = reference::classify(
                    as_rows(templates, d), labels, kernel_type, p, h, as_rows(patterns, d), -9, 2);
                const auto outcome = runner::call_module(
                    runner::make_call(d, templates, labels, kernel_type, p, h, patterns, -9.5, 2));
                const std::string where = "kernel " + std::to_string(kernel_type) + ", p " +
                                          std::to_string(p) + (with_nan ? ", NaN template" : "") + ": ";
                const std::vector<double> labels_out = runner::result_column(outcome);
                runner::expect_true(labels_out.size() == expected.labels.size(), where + "P labels");
                for (size_t n = 0; n < labels_out.size() && n < expected.labels.size(); ++n)
                    runner::expect_number(labels_out[n], expected.labels[n],
                                          where + "label of pattern " + std::to_string(n + 1));
                runner::expect_text(reference::without_seconds(outcome.console), expected.console,
                                    where + "console");
                const uint64_t operations = expected.flops + expected.comparisons;
                runner::expect_true(outcome.flops_added == operations,
                                    where + "counter " + std::to_string(outcome.flops_added) +
                                        ", expected " + std::to_string(operations));
                if (with_nan && p != norms[3])
                    runner::expect_true(expected.unclassified == P, where + "every pattern unclassified");
            }
        }
    }
}
