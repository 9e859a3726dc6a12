#include "reference_classifier.h"

#include <cmath>
#include <cstdio>
#include <regex>

namespace reference {

namespace {

// Keeps the compiler from turning pow(t, 2.0) into t*t.
double hidden(double value) {
    volatile double copy = value;
    return copy;
}

int32_t truncate(double label) { return static_cast<int32_t>(label); }

template <typename... Values>
void print(std::string *console, const char *format, Values... values) {
    char line[512];
    std::snprintf(line, sizeof line, format, values...);
    *console += line;
}

}  // namespace

double distance(const std::vector<double> &a, const std::vector<double> &b, double p) {
    const size_t d = a.size();
    if (p == 1.0) {
        double sum = 0.0;
        for (size_t i = 0; i < d; ++i) sum += std::fabs(b[i] - a[i]);
        return sum;
    }
    if (p == INFINITY) {
        double largest = 0.0;
        for (size_t i = 0; i < d; ++i)
            if (std::fabs(b[i] - a[i]) > largest) largest = std::fabs(b[i] - a[i]);
        return largest;
    }
    double sum = 0.0;
    for (size_t i = 0; i < d; ++i) sum += std::pow(std::fabs(b[i] - a[i]), hidden(p));
    return std::pow(sum, hidden(1.0 / p));
}

double kernel(int kernel_type, double x, double h) {
    switch (kernel_type) {
        case 0: {
            const double u = x / h;
            return std::exp(u * u * (-0.5));
        }
        case 1: {
            const double v = x / (h + h);
            if (v == 0.0) return 1.0;
            if (std::isinf(v)) return 0.0;
            const double s = std::sin(v) / v;
            return s * s;
        }
        case 2:
            return std::exp(-(x / h));
        case 3: {
            const double u = x / h;
            return 1.0 / (u * u + 1.0);
        }
    }
    return std::nan("");  // no such kernel: every comparison with it fails
}

outcome classify(const rows &templates, const std::vector<double> &labels, int kernel_type,
                 double p, double h, const rows &patterns, int32_t unknown_label, int oflag) {
    static const uint64_t weight[] = {4, 5, 2, 4};
    static const char *const kernel_name[] = {"gaussian", "squared sinc", "laplacian", "cauchy"};
    outcome run;
    struct entry {
        int32_t label;
        double score;
    };
    std::vector<entry> table;
    for (double label : labels) {
        bool found = false;
        for (const entry &e : table)
            if (static_cast<double>(e.label) == label) {
                found = true;
                break;
            }
        if (!found) table.push_back({truncate(label), 0.0});
    }
    const int32_t M = static_cast<int32_t>(table.size());
    const int32_t P = static_cast<int32_t>(patterns.size());
    run.classes = M;
    if (oflag >= 2) print(&run.console, "\nReference pattern set consists of %d classes.\n\n", M);
    if (oflag >= 2) print(&run.console, "\nList presentation of %d patterns:\n", P);
    for (int32_t n = 1; n <= P; ++n) {
        if (oflag >= 3) print(&run.console, "   Pattern #%d is being presented\n", n);
        for (entry &e : table) e.score = 0.0;
        for (size_t j = 0; j < templates.size(); ++j) {
            const double x = distance(templates[j], patterns[n - 1], p);
            const int32_t L = truncate(labels[j]);
            for (entry &e : table)
                if (e.label == L) {
                    e.score += kernel(kernel_type, x, h);
                    run.flops += weight[kernel_type];
                    break;
                }
        }
        double best = -1.0;
        int32_t winner = -1;
        bool tie = false, nan_score = false;
        for (int32_t i = 0; i < M; ++i) {
            ++run.comparisons;
            if (std::isnan(table[i].score)) nan_score = true;
            if (best >= table[i].score) {
                if (best == table[i].score) {
                    tie = true;
                    ++run.comparisons;
                }
            } else {
                best = table[i].score;
                winner = i;
                tie = false;
            }
        }
        // A NaN score makes the pattern unclassifiable, whoever the rule picked.
        if (tie || nan_score || winner < 0) {
            run.labels.push_back(unknown_label);
            ++run.unclassified;
            if (oflag >= 2) print(&run.console, "   Pattern #%d could not be classified\n", n);
        } else {
            run.labels.push_back(table[winner].label);
            if (oflag >= 2)
                print(&run.console, "   Pattern #%d classified as '%d'\n", n, table[winner].label);
        }
    }
    if (oflag >= 1) {
        const char *norm = p == 1.0 ? "min-norm"
                           : p == 2.0 ? "euclidian-norm"
                           : p == INFINITY ? "max-norm"
                                           : "";
        print(&run.console, "\n%s %s Parzen classifier performance summary\n", norm,
              kernel_name[kernel_type]);
        print(&run.console, "Test set contained %d test patterns belonging to %d classes\n", P, M);
        if (run.unclassified != 0)
            print(&run.console, "unable to classify %d patterns (%f%%)\n", run.unclassified,
                  100.0 * run.unclassified / P);
        print(&run.console, "%llu FLOPs and %llu comparisons in 0 seconds\n\n",
              static_cast<unsigned long long>(run.flops),
              static_cast<unsigned long long>(run.comparisons));
    }
    return run;
}

std::string without_seconds(const std::string &console) {
    static const std::regex seconds(" comparisons in [0-9]+ seconds\n");
    return std::regex_replace(console, seconds, " comparisons in 0 seconds\n");
}

}  // namespace reference
