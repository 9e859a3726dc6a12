#include "call_invariants.h"

#include <cstdint>
#include <sstream>

#include "host/messages.h"
#include "tests/reference_classifier.h"

namespace reliability {

namespace {

// Matches text against a message format: literal characters as they are, %s
// as the module prefix, %d as an optionally signed run of digits.
bool matches_format(const char *format, const std::string &text) {
    size_t at = 0;
    for (const char *f = format; *f != '\0'; ++f) {
        if (f[0] == '%' && f[1] == 's') {
            const std::string prefix = vendral::module_prefix;
            if (text.compare(at, prefix.size(), prefix) != 0) return false;
            at += prefix.size();
            ++f;
        } else if (f[0] == '%' && f[1] == 'd') {
            if (at < text.size() && text[at] == '-') ++at;
            const size_t digits_start = at;
            while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
            if (at == digits_start) return false;
            ++f;
        } else {
            if (at >= text.size() || text[at] != *f) return false;
            ++at;
        }
    }
    return at == text.size();
}

std::string formatted(vendral::message_id id, int first = 0, int second = 0) {
    char buffer[vendral::message_buffer_size];
    vendral::format_message(buffer, id, first, second);
    return buffer;
}

int dimension(const mxArray *array, size_t which) {
    return which < array->dims.size() ? array->dims[which] : 1;
}

// Rows of a two-dimensional double array, from its column-major real part.
reference::rows rows_of(const mxArray *array) {
    const int rows = dimension(array, 0);
    const int cols = dimension(array, 1);
    // Row by row: with no rows, a huge column count costs nothing.
    reference::rows result;
    for (int r = 0; r < rows; ++r) {
        std::vector<double> row(static_cast<size_t>(cols));
        for (int c = 0; c < cols; ++c)
            row[c] = array->real[r + static_cast<size_t>(c) * static_cast<size_t>(rows)];
        result.push_back(std::move(row));
    }
    return result;
}

double first_element(const mxArray *array) { return array->real.at(0); }

class report {
public:
    void require(bool condition, const std::string &what) {
        if (!condition) text_ << what << '\n';
    }
    std::string text() const { return text_.str(); }

private:
    std::ostringstream text_;
};

void check_raise(const call_under_test &call, const builtin_host::call_outcome &outcome, report *problems) {
    problems->require(outcome.raise_count == 1,
                      "raised " + std::to_string(outcome.raise_count) + " times");
    problems->require(is_module_message(outcome.error), "not a module message: \"" + outcome.error + "\"");
    problems->require(outcome.results.empty(), "a result was handed back with the error");

    const std::string input_count = formatted(vendral::message_id::input_count, 8);
    problems->require((call.arguments.size() != 8) == (outcome.error == input_count),
                      "input-count message and argument count disagree: " + outcome.error);
    if (outcome.error == formatted(vendral::message_id::output_count, 1))
        problems->require(call.nlhs != 1, "output-count message for nlhs 1");

    const uint64_t refused = call.options.fail_allocation;
    const bool refusal_reached = refused != 0 && outcome.allocations >= refused;
    if (outcome.error == formatted(vendral::message_id::out_of_memory)) {
        problems->require(refusal_reached, "out of memory without a refused allocation");
    } else {
        problems->require(outcome.allocations == 0, "a failed check came after " +
                                                        std::to_string(outcome.allocations) +
                                                        " allocations");
    }
}

void check_result(const call_under_test &call, const builtin_host::call_outcome &outcome, report *problems) {
    problems->require(call.arguments.size() == 8 && call.nlhs == 1, "success of a malformed call");
    const uint64_t refused = call.options.fail_allocation;
    problems->require(refused == 0 || outcome.allocations < refused,
                      "success although allocation " + std::to_string(refused) + " was refused");
    problems->require(outcome.results.size() == 1, "not exactly one result");
    if (outcome.results.size() != 1 || call.arguments.size() != 8) return;

    const mxArray *templates = call.arguments[0];
    const mxArray *patterns = call.arguments[5];
    const int P = dimension(patterns, 0);
    const mxArray *result = outcome.results[0].get();
    problems->require(result->class_id == mxDOUBLE_CLASS && !result->sparse && !result->logical &&
                          result->imag.empty(),
                      "result is not a real full double array");
    problems->require(result->dims == std::vector<int>{P, 1}, "result is not Px1");
    // The working copies: a row table and a block of rows per matrix, and the labels.
    problems->require(outcome.blocks_left == 5u,
                      "blocks left " + std::to_string(outcome.blocks_left) + " beyond the working copies (5)");
    if (result->dims != std::vector<int>{P, 1}) return;

    const reference::outcome expected = reference::classify(
        rows_of(templates), call.arguments[1]->real,
        static_cast<int>(first_element(call.arguments[2])), first_element(call.arguments[3]),
        first_element(call.arguments[4]), rows_of(patterns),
        static_cast<int32_t>(first_element(call.arguments[6])),
        static_cast<int>(first_element(call.arguments[7])));
    problems->require(result->real == expected.labels, "labels differ from the reference");
    problems->require(reference::without_seconds(outcome.console) == expected.console,
                      "console differs from the reference:\n" + outcome.console + "\nexpected:\n" +
                          expected.console);
    problems->require(outcome.flops_added == expected.flops + expected.comparisons,
                      "host counter advanced by " + std::to_string(outcome.flops_added) +
                          ", reference " + std::to_string(expected.flops + expected.comparisons));
}

}  // namespace

std::vector<builtin_host::array_ptr> snapshot(const std::vector<const mxArray *> &arguments) {
    std::vector<builtin_host::array_ptr> copies;
    for (const mxArray *argument : arguments) copies.push_back(builtin_host::clone(argument));
    return copies;
}

bool is_module_message(const std::string &text) {
    for (const vendral::message_row &row : vendral::message_table)
        if (matches_format(row.text, text)) return true;
    return false;
}

std::string violations(const call_under_test &call,
                       const std::vector<builtin_host::array_ptr> &arguments_before,
                       const builtin_host::call_outcome &outcome) {
    report problems;
    problems.require(outcome.misuses == 0, std::to_string(outcome.misuses) + " misuses of the host");
    problems.require(outcome.off_thread_operations == 0,
                     std::to_string(outcome.off_thread_operations) + " host operations off its thread");
    problems.require(outcome.operations_after_raise == 0,
                     std::to_string(outcome.operations_after_raise) + " host operations after the raise");
    problems.require(outcome.warnings.empty(), "a host warning was shown");
    for (size_t i = 0; i < call.arguments.size() && i < arguments_before.size(); ++i)
        problems.require(builtin_host::same_array(call.arguments[i], arguments_before[i].get()),
                         "argument " + std::to_string(i + 1) + " changed");
    if (outcome.raised)
        check_raise(call, outcome, &problems);
    else
        check_result(call, outcome, &problems);
    return problems.text();
}

}  // namespace reliability
