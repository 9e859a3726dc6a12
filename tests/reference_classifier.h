// The classifier written out plainly, step by step, as the module's behaviour
// is described: linear class-table search, labels truncated and looked up
// again for every template, pow() for every distance term, the decision rule
// as written, a pattern with a NaN class score unclassifiable. Tests here and
// in windows/runner/ hold the module to it.
#ifndef VENDRAL_TESTS_REFERENCE_CLASSIFIER_H
#define VENDRAL_TESTS_REFERENCE_CLASSIFIER_H

#include <cstdint>
#include <string>
#include <vector>

namespace reference {

using rows = std::vector<std::vector<double>>;

struct outcome {
    std::vector<double> labels;
    int32_t classes = 0;
    int32_t unclassified = 0;
    uint64_t flops = 0;
    uint64_t comparisons = 0;
    std::string console;  // progress lines and summary, "in 0 seconds"
};

double distance(const std::vector<double> &a, const std::vector<double> &b, double p);
double kernel(int kernel_type, double x, double h);

outcome classify(const rows &templates, const std::vector<double> &labels, int kernel_type,
                 double p, double h, const rows &patterns, int32_t unknown_label, int oflag);

// The console text with every "in N seconds" of a summary replaced by
// "in 0 seconds", so that runs straddling a second boundary compare equal.
std::string without_seconds(const std::string &console);

}  // namespace reference

#endif  // VENDRAL_TESTS_REFERENCE_CLASSIFIER_H
