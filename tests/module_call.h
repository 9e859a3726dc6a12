// Calls the module through the built-in host with arguments given as plain rows.
#ifndef VENDRAL_TESTS_MODULE_CALL_H
#define VENDRAL_TESTS_MODULE_CALL_H

#include <vector>

#include "builtin_host/builtin_host.h"
#include "classifier/host_services.h"
#include "host/module_entry.h"
#include "reference_classifier.h"

struct module_inputs {
    reference::rows templates;
    std::vector<double> labels;
    int kernel_type = 0;
    double p = 2.0;
    double h = 1.0;
    reference::rows patterns;
    int32_t unknown_label = -1;
    int oflag = 0;
    int columns = -1;  // d when there are no rows to tell it; otherwise taken from the rows
};

inline builtin_host::array_ptr rows_to_matrix(const reference::rows &rows, int columns) {
    std::vector<double> row_major;
    for (const auto &row : rows) row_major.insert(row_major.end(), row.begin(), row.end());
    return builtin_host::make_matrix(static_cast<int>(rows.size()), columns, row_major);
}

inline int columns_of(const module_inputs &in) {
    if (in.columns >= 0) return in.columns;
    if (!in.templates.empty()) return static_cast<int>(in.templates[0].size());
    return in.patterns.empty() ? 0 : static_cast<int>(in.patterns[0].size());
}

// The engine's options default to the module's own.
inline builtin_host::call_outcome call_module(const module_inputs &in,
                                              const builtin_host::call_options &options = {},
                                              const vendral::classify_options &engine = vendral::module_options(),
                                              vendral::classify_counts *counts = nullptr) {
    const int d = columns_of(in);
    auto templates = rows_to_matrix(in.templates, d);
    auto labels = builtin_host::make_column(in.labels);
    auto kernel = builtin_host::make_scalar(in.kernel_type);
    auto norm = builtin_host::make_scalar(in.p);
    auto width = builtin_host::make_scalar(in.h);
    auto patterns = rows_to_matrix(in.patterns, d);
    auto unknown = builtin_host::make_scalar(in.unknown_label);
    auto verbosity = builtin_host::make_scalar(in.oflag);
    return builtin_host::call(1, {templates.get(), labels.get(), kernel.get(), norm.get(),
                                  width.get(), patterns.get(), unknown.get(), verbosity.get()},
                              options, [&engine, counts](int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
                                  vendral::run_module(nlhs, plhs, nrhs, prhs, engine, counts);
                              });
}

inline reference::outcome call_reference(const module_inputs &in) {
    return reference::classify(in.templates, in.labels, in.kernel_type, in.p, in.h, in.patterns,
                               in.unknown_label, in.oflag);
}

// A model of in's templates, prepared from the host's memory within a call,
// classifying in's patterns with options; every progress report is kept.
struct model_run {
    builtin_host::call_outcome outcome;
    vendral::classify_status status = vendral::classify_status::out_of_memory;
    std::vector<int32_t> classes;  // per pattern
    std::vector<int32_t> reports;  // each progress report's count, in order
    vendral::classify_counts counts;
};

inline model_run classify_with_model(const module_inputs &in, vendral::classify_options options) {
    std::vector<const double *> templates, patterns;
    for (const auto &row : in.templates) templates.push_back(row.data());
    for (const auto &row : in.patterns) patterns.push_back(row.data());
    model_run run;
    run.classes.assign(in.patterns.size(), -2);
    options.on_ready = [](int32_t ready, void *seen) { static_cast<std::vector<int32_t> *>(seen)->push_back(ready); };
    options.context = &run.reports;
    const vendral::model_definition definition{static_cast<int32_t>(in.templates.size()), columns_of(in),
                                               templates.data(), in.labels.data(), in.kernel_type, in.p, in.h};
    run.outcome = builtin_host::within_call([&] {
        vendral::model *model = nullptr;
        if (vendral::prepare_model(definition, vendral::host_allocator(), &model) != vendral::model_status::prepared)
            return;
        run.status = vendral::classify(*model, static_cast<int32_t>(patterns.size()), columns_of(in), patterns.data(),
                                       options, run.classes.data(), &run.counts);
        vendral::release_model(model);
    });
    return run;
}

// Blocks a successful call leaves to the host: the working copies (a row
// table and a block of rows for each matrix, and the labels), which the
// module never frees. Everything the run allocates it frees itself.
constexpr size_t working_copy_blocks = 5;

inline std::vector<double> result_labels(const builtin_host::call_outcome &outcome) {
    if (outcome.results.empty()) return {};
    const mxArray *result = outcome.results[0].get();
    return result->real;
}

#endif  // VENDRAL_TESTS_MODULE_CALL_H
