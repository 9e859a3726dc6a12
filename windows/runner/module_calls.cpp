#include "module_calls.h"

#include "harness.h"

namespace runner {

std::vector<const mxArray *> call_arguments::list() const {
    std::vector<const mxArray *> pointers;
    for (const auto &array : arrays) pointers.push_back(array.get());
    return pointers;
}

call_arguments call_arguments::copy() const {
    call_arguments twin;
    for (const auto &array : arrays) twin.arrays.push_back(builtin_host::clone(array.get()));
    return twin;
}

void call_arguments::replace(int position, builtin_host::array_ptr array) {
    arrays[static_cast<size_t>(position)] = std::move(array);
}

call_arguments make_call(int columns, const std::vector<double> &templates,
                         const std::vector<double> &labels, double kernel_type, double norm_type,
                         double h, const std::vector<double> &patterns, double unknown_label,
                         double oflag) {
    using namespace builtin_host;
    call_arguments args;
    const int template_rows = static_cast<int>(templates.size()) / columns;
    const int pattern_rows = static_cast<int>(patterns.size()) / columns;
    args.arrays.push_back(make_matrix(template_rows, columns, templates));
    args.arrays.push_back(make_column(labels));
    args.arrays.push_back(make_scalar(kernel_type));
    args.arrays.push_back(make_scalar(norm_type));
    args.arrays.push_back(make_scalar(h));
    args.arrays.push_back(make_matrix(pattern_rows, columns, patterns));
    args.arrays.push_back(make_scalar(unknown_label));
    args.arrays.push_back(make_scalar(oflag));
    return args;
}

builtin_host::call_outcome call_module(const call_arguments &args,
                                       const builtin_host::call_options &options, int nlhs) {
    const call_arguments before = args.copy();
    builtin_host::call_outcome outcome = builtin_host::call(nlhs, args.list(), options);
    for (size_t i = 0; i < args.arrays.size(); ++i)
        expect_true(builtin_host::same_array(args.arrays[i].get(), before.arrays[i].get()),
                    "argument " + std::to_string(i + 1) + " unchanged");
    expect_true(outcome.misuses == 0, "no misuse of the host");
    expect_true(outcome.operations_after_raise == 0, "no host operation after a raise");
    expect_true(outcome.off_thread_operations == 0, "host operations on the host's thread");
    expect_true(outcome.raise_count <= 1, "at most one raise");
    return outcome;
}

std::vector<double> result_column(const builtin_host::call_outcome &outcome) {
    if (outcome.results.size() != 1) {
        fail("one result expected, got " + std::to_string(outcome.results.size()));
        return {};
    }
    const mxArray *result = outcome.results[0].get();
    const bool column = result->class_id == mxDOUBLE_CLASS && result->dims.size() == 2 &&
                        result->dims[1] == 1 && result->imag.empty();
    expect_true(column, "the result is a real double column");
    return result->real;
}

std::string console_with_zero_seconds(const std::string &console) {
    const std::string tail = " seconds\n\n";
    if (console.size() < tail.size() + 2) return console;
    const size_t digit = console.size() - tail.size() - 1;
    if (console.compare(digit + 1, tail.size(), tail) != 0 || console[digit] != '1' ||
        console[digit - 1] != ' ')
        return console;
    std::string adjusted = console;
    adjusted[digit] = '0';
    return adjusted;
}

}  // namespace runner
