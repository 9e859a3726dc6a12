// Malformed calls, one row each: the exact text raised (from the one message
// table, host/messages.h, with the values the row states), and a call that
// ends there with no result, no console text and no counter advance.
#include <cstdio>
#include <functional>
#include <limits>
#include <string>

#include "harness.h"
#include "host/messages.h"
#include "module_calls.h"

using builtin_host::make_array;
using builtin_host::make_matrix;
using builtin_host::make_row;
using builtin_host::make_scalar;
using vendral::message_id;

namespace {

// 3x2 templates in classes 1 and 2, 2x2 patterns, gaussian, p = 2, h = 1.
runner::call_arguments valid_call() {
    return runner::make_call(2, {0, 0, 1, 0, 5, 5}, {1, 1, 2}, 0, 2, 1, {0, 1, 4, 4}, -1, 0);
}

builtin_host::array_ptr sparse_matrix() {
    auto array = make_matrix(3, 2, {0, 0, 1, 0, 5, 5});
    array->sparse = true;
    return array;
}

std::string raises(message_id id, int first = 0, int second = 0) {
    char text[vendral::message_buffer_size];
    std::snprintf(text, sizeof text, vendral::message_of(id).text, "VENDRAL", first, second);
    return text;
}

struct error_row {
    const char *change;
    std::function<void(runner::call_arguments &, int &nlhs)> apply;
    std::string message;
};

const error_row rows[] = {
    {"7 inputs", [](runner::call_arguments &a, int &) { a.arrays.pop_back(); },
     raises(message_id::input_count, 8)},
    {"Templates 2x2x2",
     [](runner::call_arguments &a, int &) {
         a.replace(0, make_array(mxDOUBLE_CLASS, {2, 2, 2}));
     },
     raises(message_id::templates_dimensions)},
    {"Templates char",
     [](runner::call_arguments &a, int &) {
         a.replace(0, make_array(mxCHAR_CLASS, {3, 2}));
     },
     raises(message_id::templates_class)},
    {"Templates sparse", [](runner::call_arguments &a, int &) { a.replace(0, sparse_matrix()); },
     raises(message_id::templates_class)},
    {"NLabels 3x1x2",
     [](runner::call_arguments &a, int &) {
         a.replace(1, make_array(mxDOUBLE_CLASS, {3, 1, 2}));
     },
     raises(message_id::labels_dimensions)},
    {"NLabels single",
     [](runner::call_arguments &a, int &) {
         a.replace(1, make_array(mxSINGLE_CLASS, {3, 1}));
     },
     raises(message_id::labels_class)},
    {"NLabels of 2",
     [](runner::call_arguments &a, int &) {
         a.replace(1, make_row({1, 2}));
     },
     raises(message_id::labels_shape, 3, 3)},
    {"NLabels with NaN",
     [](runner::call_arguments &a, int &) {
         a.replace(1, make_row({1, std::numeric_limits<double>::quiet_NaN(), 2}));
     },
     raises(message_id::labels_values)},
    {"kernel_type 2x2",
     [](runner::call_arguments &a, int &) {
         a.replace(2, make_matrix(2, 2, {0, 1, 2, 3}));
     },
     raises(message_id::kernel_type_scalar)},
    {"kernel_type 4", [](runner::call_arguments &a, int &) { a.replace(2, make_scalar(4)); },
     raises(message_id::kernel_type_range, 3)},
    {"norm_type 0x0",
     [](runner::call_arguments &a, int &) {
         a.replace(3, make_array(mxDOUBLE_CLASS, {0, 0}));
     },
     raises(message_id::norm_type_scalar)},
    {"norm_type 0.5", [](runner::call_arguments &a, int &) { a.replace(3, make_scalar(0.5)); },
     raises(message_id::norm_type_range)},
    {"h cell",
     [](runner::call_arguments &a, int &) {
         a.replace(4, make_array(mxCELL_CLASS, {1, 1}));
     },
     raises(message_id::h_scalar)},
    {"h 0", [](runner::call_arguments &a, int &) { a.replace(4, make_scalar(0)); },
     raises(message_id::h_range)},
    {"Patterns 2x2x2",
     [](runner::call_arguments &a, int &) {
         a.replace(5, make_array(mxDOUBLE_CLASS, {2, 2, 2}));
     },
     raises(message_id::patterns_dimensions)},
    {"Patterns logical",
     [](runner::call_arguments &a, int &) {
         auto array = make_array(mxDOUBLE_CLASS, {2, 2});
         array->class_id = mxUINT8_CLASS;
         array->logical = true;
         a.replace(5, std::move(array));
     },
     raises(message_id::patterns_class)},
    {"Patterns 2x3",
     [](runner::call_arguments &a, int &) {
         a.replace(5, make_matrix(2, 3, {0, 0, 0, 1, 1, 1}));
     },
     raises(message_id::patterns_columns, 2, 2)},
    {"unknown_label 1x0",
     [](runner::call_arguments &a, int &) {
         a.replace(6, make_array(mxDOUBLE_CLASS, {1, 0}));
     },
     raises(message_id::unknown_label_scalar)},
    {"unknown_label Inf",
     [](runner::call_arguments &a, int &) {
         a.replace(6, make_scalar(std::numeric_limits<double>::infinity()));
     },
     raises(message_id::unknown_label_range)},
    {"oflag 2x2",
     [](runner::call_arguments &a, int &) {
         a.replace(7, make_matrix(2, 2, {0, 0, 0, 0}));
     },
     raises(message_id::oflag_scalar)},
    {"oflag 4", [](runner::call_arguments &a, int &) { a.replace(7, make_scalar(4)); },
     raises(message_id::oflag_range)},
    {"2 results asked for", [](runner::call_arguments &, int &nlhs) { nlhs = 2; },
     raises(message_id::output_count, 1)},
    {"no result asked for", [](runner::call_arguments &, int &nlhs) { nlhs = 0; },
     raises(message_id::output_count, 1)},
};

}  // namespace

RUNNER_TEST(malformed_calls_raise_their_exact_message) {
    for (const error_row &row : rows) {
        runner::call_arguments args = valid_call();
        int nlhs = 1;
        row.apply(args, nlhs);
        const builtin_host::call_outcome outcome = runner::call_module(args, {}, nlhs);
        const std::string where = std::string(row.change) + ": ";
        runner::expect_true(outcome.raised, where + "raised");
        runner::expect_text(outcome.error, row.message, where + "message");
        runner::expect_true(outcome.results.empty(), where + "no result");
        runner::expect_text(outcome.console, "", where + "console");
        runner::expect_true(outcome.flop_calls == 0, where + "counter untouched");
    }
}

RUNNER_TEST(the_valid_base_call_passes_every_check) {
    const builtin_host::call_outcome outcome = runner::call_module(valid_call());
    runner::expect_true(!outcome.raised, "not raised: " + outcome.error);
    const std::vector<double> labels = runner::result_column(outcome);
    runner::expect_true(labels == std::vector<double>({1, 2}), "labels 1 and 2");
}

// A row or column passes the scalar checks; its first element is the value.
RUNNER_TEST(a_row_passes_as_a_scalar_with_its_first_element) {
    runner::call_arguments args = valid_call();
    args.replace(7, make_row({0, 3}));
    const builtin_host::call_outcome outcome = runner::call_module(args);
    runner::expect_true(!outcome.raised, "not raised: " + outcome.error);
    runner::expect_text(outcome.console, "", "oflag 0: console");
}
