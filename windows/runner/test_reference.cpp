// Larger runs against a plain Parzen-window classifier written out here: the
// labels must agree exactly and the counter must match the operation count
// (N*P kernel calls at the kernel's weight, M comparisons per pattern plus one
// per equality).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "harness.h"
#include "module_calls.h"

namespace {

struct reference_outcome {
    std::vector<double> labels;
    uint64_t operations = 0;
};

double distance(const double *a, const double *b, int d, double p) {
    double sum = 0.0;
    if (p == 1.0) {
        for (int i = 0; i < d; ++i) sum += std::fabs(b[i] - a[i]);
        return sum;
    }
    if (p == std::numeric_limits<double>::infinity()) {
        for (int i = 0; i < d; ++i)
            if (std::fabs(b[i] - a[i]) > sum) sum = std::fabs(b[i] - a[i]);
        return sum;
    }
    for (int i = 0; i < d; ++i) sum += std::pow(std::fabs(b[i] - a[i]), p);
    return std::pow(sum, 1.0 / p);
}

double kernel(int type, double x, double h) {
    switch (type) {
        case 0:
            return std::exp((x / h) * (x / h) * (-0.5));
        case 1: {
            const double v = x / (h + h);
            if (v == 0.0) return 1.0;  // the module's choice: the limit value
            return (std::sin(v) / v) * (std::sin(v) / v);
        }
        case 2:
            return std::exp(-(x / h));
        default:
            return 1.0 / ((x / h) * (x / h) + 1.0);
    }
}

const uint64_t kernel_weight[] = {4, 5, 2, 4};

// Row-major data; labels are whole numbers.
reference_outcome classify(int d, const std::vector<double> &templates,
                           const std::vector<double> &labels, int kernel_type, double p, double h,
                           const std::vector<double> &patterns, double unknown_label) {
    std::vector<double> classes;
    for (double label : labels)
        if (std::find(classes.begin(), classes.end(), label) == classes.end())
            classes.push_back(label);
    const size_t N = labels.size();
    const size_t P = patterns.size() / static_cast<size_t>(d);
    reference_outcome out;
    for (size_t n = 0; n < P; ++n) {
        std::vector<double> scores(classes.size(), 0.0);
        for (size_t j = 0; j < N; ++j) {
            const double x = distance(&templates[j * d], &patterns[n * d], d, p);
            const size_t c = std::find(classes.begin(), classes.end(), labels[j]) - classes.begin();
            scores[c] += kernel(kernel_type, x, h);
            out.operations += kernel_weight[kernel_type];
        }
        double best = -1.0;
        size_t winner = 0;
        bool tie = false;
        for (size_t c = 0; c < classes.size(); ++c) {
            ++out.operations;
            if (best >= scores[c]) {
                if (best == scores[c]) {
                    tie = true;
                    ++out.operations;
                }
            } else {
                best = scores[c];
                winner = c;
                tie = false;
            }
        }
        out.labels.push_back(tie ? std::trunc(unknown_label) : classes[winner]);
    }
    return out;
}

// A fixed linear congruential sequence, so every platform sees the same data.
struct sequence {
    uint32_t state;
    double next(int range) {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>((state >> 8) % static_cast<uint32_t>(range));
    }
};

}  // namespace

RUNNER_TEST(random_runs_agree_with_a_plain_classifier) {
    const double norms[] = {1.0, 2.0, 3.0, std::numeric_limits<double>::infinity()};
    sequence random{12345};
    for (int kernel_type = 0; kernel_type < 4; ++kernel_type) {
        for (double p : norms) {
            // Small integer coordinates make exact ties between classes frequent.
            const int d = 3, N = 60, P = 40;
            std::vector<double> templates, labels, patterns;
            for (int i = 0; i < N * d; ++i) templates.push_back(random.next(5));
            for (int i = 0; i < N; ++i) labels.push_back(random.next(4) - 1);
            for (int i = 0; i < P * d; ++i) patterns.push_back(random.next(5));
            const double h = 0.5 + random.next(4) / 2;
            const reference_outcome expected =
                classify(d, templates, labels, kernel_type, p, h, patterns, -9.5);
            const auto outcome = runner::call_module(
                runner::make_call(d, templates, labels, kernel_type, p, h, patterns, -9.5, 0));
            const std::string where =
                "kernel " + std::to_string(kernel_type) + ", p " + std::to_string(p) + ": ";
            const std::vector<double> labels_out = runner::result_column(outcome);
            runner::expect_true(labels_out.size() == expected.labels.size(), where + "P labels");
            for (size_t n = 0; n < labels_out.size() && n < expected.labels.size(); ++n)
                runner::expect_number(labels_out[n], expected.labels[n],
                                      where + "label of pattern " + std::to_string(n + 1));
            runner::expect_true(outcome.flops_added == expected.operations,
                                where + "counter " + std::to_string(outcome.flops_added) +
                                    ", expected " + std::to_string(expected.operations));
        }
    }
}
