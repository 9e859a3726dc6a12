// Every argument check by its exact message and in its order, as rows of
// (what is wrong, expected message). The texts come from the one message table,
// host/messages.h, formatted here with the values each row states. A failing
// check allocates nothing, leaves the arguments as they were and is the last
// thing the module does.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>

#include "builtin_host/builtin_host.h"
#include "host/messages.h"

using builtin_host::array_ptr;
using builtin_host::make_array;
using builtin_host::make_matrix;
using builtin_host::make_scalar;
using vendral::message_id;

namespace {

using arguments = std::vector<array_ptr>;

arguments valid_arguments() {
    arguments args;
    args.push_back(make_matrix(3, 2, {0, 0, 1, 1, 5, 5}));
    args.push_back(builtin_host::make_column({1, 1, 2}));
    args.push_back(make_scalar(0));
    args.push_back(make_scalar(2));
    args.push_back(make_scalar(1));
    args.push_back(make_matrix(2, 2, {0, 1, 4, 4}));
    args.push_back(make_scalar(-1));
    args.push_back(make_scalar(0));
    return args;
}

array_ptr sparse_of(array_ptr array) {
    array->sparse = true;
    return array;
}

array_ptr complex_of(array_ptr array) {
    array->imag.assign(array->real.size(), 7.0);
    return array;
}

array_ptr logical_scalar(double value) {
    array_ptr array = make_array(mxUINT8_CLASS, {1, 1}, {value});
    array->logical = true;
    return array;
}

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

// The exact text a call must raise, or "" when it must succeed.
std::string raises(message_id id, int first = 0, int second = 0) {
    char text[vendral::message_buffer_size];
    std::snprintf(text, sizeof text, vendral::message_of(id).text, "VENDRAL", first, second);
    return text;
}

std::string succeeds() { return ""; }

struct check_row {
    const char *what;
    std::function<void(arguments &)> change;
    int nlhs;
    std::string expected;
};

void set(arguments &args, int position, array_ptr value) { args[position] = std::move(value); }

const std::vector<check_row> &check_rows() {
    static const std::vector<check_row> rows = {
        {"seven arguments", [](arguments &a) { a.pop_back(); }, 1, raises(message_id::input_count, 8)},
        {"nine arguments", [](arguments &a) { a.push_back(make_scalar(0)); }, 1, raises(message_id::input_count, 8)},
        {"no arguments", [](arguments &a) { a.clear(); }, 0, raises(message_id::input_count, 8)},
        {"Templates 3-D", [](arguments &a) { set(a, 0, make_array(mxDOUBLE_CLASS, {3, 2, 2})); }, 1,
         raises(message_id::templates_dimensions)},
        {"Templates int32", [](arguments &a) { set(a, 0, make_array(mxINT32_CLASS, {3, 2})); }, 1,
         raises(message_id::templates_class)},
        {"Templates sparse", [](arguments &a) { set(a, 0, sparse_of(make_matrix(3, 2, {}))); }, 1,
         raises(message_id::templates_class)},
        {"Templates a cell", [](arguments &a) { set(a, 0, make_array(mxCELL_CLASS, {3, 2})); }, 1,
         raises(message_id::templates_class)},
        {"NLabels 3-D", [](arguments &a) { set(a, 1, make_array(mxDOUBLE_CLASS, {3, 1, 2})); }, 1,
         raises(message_id::labels_dimensions)},
        {"NLabels single", [](arguments &a) { set(a, 1, make_array(mxSINGLE_CLASS, {3, 1})); }, 1,
         raises(message_id::labels_class)},
        {"NLabels 2x1 for 3 templates", [](arguments &a) { set(a, 1, builtin_host::make_column({1, 2})); }, 1,
         raises(message_id::labels_shape, 3, 3)},
        {"NLabels 1x4 for 3 templates", [](arguments &a) { set(a, 1, builtin_host::make_row({1, 2, 3, 4})); }, 1,
         raises(message_id::labels_shape, 3, 3)},
        {"NLabels 3x2", [](arguments &a) { set(a, 1, make_matrix(3, 2, {})); }, 1,
         raises(message_id::labels_shape, 3, 3)},
        {"NLabels 1x1 for 3 templates", [](arguments &a) { set(a, 1, make_scalar(1)); }, 1,
         raises(message_id::labels_shape, 3, 3)},
        {"NLabels holding NaN", [](arguments &a) { set(a, 1, builtin_host::make_column({1, nan, 2})); }, 1,
         raises(message_id::labels_values)},
        {"NLabels holding -Inf", [](arguments &a) { set(a, 1, builtin_host::make_column({1, -inf, 2})); }, 1,
         raises(message_id::labels_values)},
        {"NLabels holding 2^31", [](arguments &a) { set(a, 1, builtin_host::make_row({1, 2147483648.0, 2})); }, 1,
         raises(message_id::labels_values)},
        {"NLabels holding -2^31-1", [](arguments &a) { set(a, 1, builtin_host::make_row({1, -2147483649.0, 2})); }, 1,
         raises(message_id::labels_values)},
        {"NLabels at the 32-bit edges", [](arguments &a) { set(a, 1, builtin_host::make_row({2147483647.9, -2147483648.9, 2})); }, 1, succeeds()},
        {"kernel_type 2x2", [](arguments &a) { set(a, 2, make_matrix(2, 2, {})); }, 1,
         raises(message_id::kernel_type_scalar)},
        {"kernel_type 1x0", [](arguments &a) { set(a, 2, make_array(mxDOUBLE_CLASS, {1, 0})); }, 1,
         raises(message_id::kernel_type_scalar)},
        {"kernel_type a cell", [](arguments &a) { set(a, 2, make_array(mxCELL_CLASS, {1, 1})); }, 1,
         raises(message_id::kernel_type_scalar)},
        {"kernel_type 4", [](arguments &a) { set(a, 2, make_scalar(4)); }, 1,
         raises(message_id::kernel_type_range, 3)},
        {"kernel_type -1", [](arguments &a) { set(a, 2, make_scalar(-1)); }, 1,
         raises(message_id::kernel_type_range, 3)},
        {"kernel_type NaN", [](arguments &a) { set(a, 2, make_scalar(nan)); }, 1,
         raises(message_id::kernel_type_range, 3)},
        {"kernel_type 2^32", [](arguments &a) { set(a, 2, make_scalar(4294967296.0)); }, 1,
         raises(message_id::kernel_type_range, 3)},
        {"kernel_type -0.5 and 3.9 truncate", [](arguments &a) { set(a, 2, make_scalar(3.9)); }, 1, succeeds()},
        {"kernel_type a logical", [](arguments &a) { set(a, 2, logical_scalar(1)); }, 1, succeeds()},
        {"kernel_type a sparse row", [](arguments &a) { set(a, 2, sparse_of(builtin_host::make_row({2, 9}))); }, 1, succeeds()},
        {"norm_type 2x3", [](arguments &a) { set(a, 3, make_matrix(2, 3, {})); }, 1,
         raises(message_id::norm_type_scalar)},
        {"norm_type 0.999", [](arguments &a) { set(a, 3, make_scalar(0.999)); }, 1,
         raises(message_id::norm_type_range)},
        {"norm_type NaN", [](arguments &a) { set(a, 3, make_scalar(nan)); }, 1,
         raises(message_id::norm_type_range)},
        {"norm_type +Inf", [](arguments &a) { set(a, 3, make_scalar(inf)); }, 1, succeeds()},
        {"h 0x1", [](arguments &a) { set(a, 4, make_array(mxDOUBLE_CLASS, {0, 1})); }, 1,
         raises(message_id::h_scalar)},
        {"h 0", [](arguments &a) { set(a, 4, make_scalar(0)); }, 1,
         raises(message_id::h_range)},
        {"h -1", [](arguments &a) { set(a, 4, make_scalar(-1)); }, 1,
         raises(message_id::h_range)},
        {"h NaN", [](arguments &a) { set(a, 4, make_scalar(nan)); }, 1,
         raises(message_id::h_range)},
        {"h 1e-300", [](arguments &a) { set(a, 4, make_scalar(1e-300)); }, 1, succeeds()},
        {"Patterns 3-D", [](arguments &a) { set(a, 5, make_array(mxDOUBLE_CLASS, {2, 2, 3})); }, 1,
         raises(message_id::patterns_dimensions)},
        {"Patterns char", [](arguments &a) { set(a, 5, make_array(mxCHAR_CLASS, {2, 2})); }, 1,
         raises(message_id::patterns_class)},
        {"Patterns 7x3 against 2 columns", [](arguments &a) { set(a, 5, make_matrix(7, 3, {})); }, 1,
         raises(message_id::patterns_columns, 7, 2)},
        {"unknown_label 2x2", [](arguments &a) { set(a, 6, make_matrix(2, 2, {})); }, 1,
         raises(message_id::unknown_label_scalar)},
        {"unknown_label NaN", [](arguments &a) { set(a, 6, make_scalar(nan)); }, 1,
         raises(message_id::unknown_label_range)},
        {"unknown_label 2^31", [](arguments &a) { set(a, 6, make_scalar(2147483648.0)); }, 1,
         raises(message_id::unknown_label_range)},
        {"oflag a struct", [](arguments &a) { set(a, 7, make_array(mxSTRUCT_CLASS, {1, 1})); }, 1,
         raises(message_id::oflag_scalar)},
        {"oflag 4", [](arguments &a) { set(a, 7, make_scalar(4)); }, 1,
         raises(message_id::oflag_range)},
        {"oflag -1", [](arguments &a) { set(a, 7, make_scalar(-1)); }, 1,
         raises(message_id::oflag_range)},
        {"oflag -Inf", [](arguments &a) { set(a, 7, make_scalar(-inf)); }, 1,
         raises(message_id::oflag_range)},
        {"oflag 1x5, first element used", [](arguments &a) { set(a, 7, builtin_host::make_row({0, 9, 9, 9, 9})); }, 1, succeeds()},
        {"no result asked for", [](arguments &) {}, 0, raises(message_id::output_count, 1)},
        {"two results asked for", [](arguments &) {}, 2, raises(message_id::output_count, 1)},
        {"bad Templates reported before bad oflag",
         [](arguments &a) {
             set(a, 0, make_array(mxDOUBLE_CLASS, {1, 1, 2}));
             set(a, 7, make_scalar(9));
         },
         1, raises(message_id::templates_dimensions)},
        {"bad oflag reported before missing result",
         [](arguments &a) { set(a, 7, make_scalar(9)); }, 0, raises(message_id::oflag_range)},
        {"Patterns columns checked before unknown_label",
         [](arguments &a) {
             set(a, 5, make_matrix(1, 5, {}));
             set(a, 6, make_scalar(nan));
         },
         1, raises(message_id::patterns_columns, 1, 2)},
    };
    return rows;
}

std::vector<const mxArray *> raw(const arguments &args) {
    std::vector<const mxArray *> pointers;
    for (const auto &arg : args) pointers.push_back(arg.get());
    return pointers;
}

}  // namespace

TEST(ArgumentChecks, EveryRowEndsWithItsMessageOrSucceeds) {
    for (const check_row &row : check_rows()) {
        SCOPED_TRACE(row.what);
        arguments args = valid_arguments();
        row.change(args);
        arguments before;
        for (const auto &arg : args) before.push_back(builtin_host::clone(arg.get()));

        const builtin_host::call_outcome outcome = builtin_host::call(row.nlhs, raw(args));

        EXPECT_EQ(outcome.error, row.expected);
        EXPECT_EQ(outcome.raised, !row.expected.empty());
        if (outcome.raised) {
            EXPECT_EQ(outcome.allocations, 0u) << "checks allocate nothing";
            EXPECT_TRUE(outcome.results.empty());
            EXPECT_EQ(outcome.console, "");
        } else {
            ASSERT_EQ(outcome.results.size(), 1u);
            // Only the working copies remain: a row table and a block of rows
            // for Templates and for Patterns, and the labels.
            EXPECT_EQ(outcome.blocks_left, 5u);
        }
        EXPECT_TRUE(outcome.warnings.empty());
        EXPECT_EQ(outcome.misuses, 0);
        for (size_t i = 0; i < args.size(); ++i)
            EXPECT_TRUE(builtin_host::same_array(args[i].get(), before[i].get())) << "argument " << i + 1;
    }
}

TEST(ArgumentChecks, NothingHappensAfterARaiseEvenWhenTheHostReturns) {
    builtin_host::call_options returning;
    returning.raise_returns = true;
    for (const check_row &row : check_rows()) {
        if (row.expected.empty()) continue;
        SCOPED_TRACE(row.what);
        arguments args = valid_arguments();
        row.change(args);
        const builtin_host::call_outcome outcome = builtin_host::call(row.nlhs, raw(args), returning);
        EXPECT_EQ(outcome.raise_count, 1);
        EXPECT_EQ(outcome.error, row.expected);
        EXPECT_EQ(outcome.operations_after_raise, 0);
    }
}

TEST(ArgumentChecks, ComplexArraysAreReadByTheirRealParts) {
    arguments args = valid_arguments();
    const auto plain = builtin_host::call(1, raw(args));
    args[0] = complex_of(make_matrix(3, 2, {0, 0, 1, 1, 5, 5}));
    args[1] = complex_of(builtin_host::make_column({1, 1, 2}));
    args[5] = complex_of(make_matrix(2, 2, {0, 1, 4, 4}));
    const auto complex = builtin_host::call(1, raw(args));
    ASSERT_FALSE(complex.raised) << complex.error;
    EXPECT_EQ(complex.results[0]->real, plain.results[0]->real);
    EXPECT_EQ(plain.results[0]->real, (std::vector<double>{1, 2}));
}

// The table's texts as the user's guide lists them, prefix and values filled
// in: a change to a text or to its formatting fails here.
TEST(MessageTable, FormatsTextsWithPrefixAndValues) {
    char text[vendral::message_buffer_size];
    vendral::format_message(text, message_id::labels_shape, 4, 4);
    EXPECT_STREQ(text, "VENDRAL: 2nd input argument (NLabels) must be of type  4x1 or 1x4.");
    vendral::format_message(text, message_id::patterns_columns, 7, 2);
    EXPECT_STREQ(text, "VENDRAL: 6th input argument (Patterns) must be of type  7x2.");
    vendral::format_message(text, message_id::out_of_memory);
    EXPECT_STREQ(text, "VENDRAL: Not enough memory available; unable to run!");
}

// Every row has an identifier vendral:<argument or condition>, the same one
// for every check of one argument.
TEST(MessageTable, IdentifiersNameTheArgumentOrCondition) {
    EXPECT_STREQ(vendral::message_of(message_id::input_count).identifier, "vendral:nrhs");
    EXPECT_STREQ(vendral::message_of(message_id::output_count).identifier, "vendral:nlhs");
    EXPECT_STREQ(vendral::message_of(message_id::out_of_memory).identifier, "vendral:outOfMemory");
    for (const vendral::message_row &row : vendral::message_table) {
        const std::string text = row.text;
        const std::string identifier = row.identifier;
        ASSERT_EQ(identifier.rfind("vendral:", 0), 0u) << identifier;
        const std::string argument = identifier.substr(8);
        const size_t opening = text.find('(');
        if (opening != std::string::npos && text.find("input argument") != std::string::npos) {
            EXPECT_EQ(text.substr(opening + 1, text.find(')') - opening - 1), argument) << text;
        }
    }
}
