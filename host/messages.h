// Every error the entry point raises, in one table: the checks name a row,
// and the tests (C++, the Windows runner, Octave) read the same rows. Each row
// keeps its identifier, `vendral:<argument or condition>`, next to its text;
// hosts with mexErrMsgIdAndTxt raise both. The leading %s is the module prefix.
// One row per line: octave/testing/message_table.m reads this file.
#ifndef VENDRAL_HOST_MESSAGES_H
#define VENDRAL_HOST_MESSAGES_H

namespace vendral {

enum class message_id {
    input_count,
    templates_dimensions,
    templates_too_large,
    templates_class,
    labels_dimensions,
    labels_class,
    labels_shape,
    labels_values,
    kernel_type_scalar,
    kernel_type_range,
    norm_type_scalar,
    norm_type_range,
    h_scalar,
    h_range,
    patterns_dimensions,
    patterns_too_large,
    patterns_class,
    patterns_columns,
    unknown_label_scalar,
    unknown_label_range,
    oflag_scalar,
    oflag_range,
    output_count,
    out_of_memory,
    message_count
};

constexpr const char *module_prefix = "VENDRAL";
constexpr int message_buffer_size = 1024;

struct message_row {
    message_id id;
    const char *identifier;
    const char *text;
};

// clang-format off
constexpr message_row message_table[] = {
    {message_id::input_count, "vendral:nrhs", "%s: %d input arguments required."},
    {message_id::templates_dimensions, "vendral:Templates", "%s: 1st input argument (Templates) must be  a two dimensional array (matrix)."},
    {message_id::templates_too_large, "vendral:Templates", "%s: 1st input argument (Templates) has more than 2147483647 rows or columns."},
    {message_id::templates_class, "vendral:Templates", "%s: 1st input argument (Templates) must be a full matrix of class double."},
    {message_id::labels_dimensions, "vendral:NLabels", "%s: 2nd input argument (NLabels) must a vector."},
    {message_id::labels_class, "vendral:NLabels", "%s: 2nd input argument (NLabels) must be a full vector of class double."},
    {message_id::labels_shape, "vendral:NLabels", "%s: 2nd input argument (NLabels) must be of type  %dx1 or 1x%d."},
    {message_id::labels_values, "vendral:NLabels", "%s: 2nd input argument (NLabels) must hold finite labels within the 32-bit integer range."},
    {message_id::kernel_type_scalar, "vendral:kernel_type", "%s: 3rd input argument (kernel_type) must be scalar."},
    {message_id::kernel_type_range, "vendral:kernel_type", "%s: 3rd input argument (kernel_type) must be between  0 and %d."},
    {message_id::norm_type_scalar, "vendral:norm_type", "%s: 4th input argument (norm_type) must be a scalar."},
    {message_id::norm_type_range, "vendral:norm_type", "%s: 4th input argument (norm_type) must be greater or equal to 1.0."},
    {message_id::h_scalar, "vendral:h", "%s: 5th input argument (h) must be a scalar."},
    {message_id::h_range, "vendral:h", "%s: 5th input argument (h) must be greater than 0.0."},
    {message_id::patterns_dimensions, "vendral:Patterns", "%s: 6th input argument (Patterns) must be  a two dimensional array (matrix)."},
    {message_id::patterns_too_large, "vendral:Patterns", "%s: 6th input argument (Patterns) has more than 2147483647 rows or columns."},
    {message_id::patterns_class, "vendral:Patterns", "%s: 6th input argument (Patterns) must be a full matrix of class double."},
    {message_id::patterns_columns, "vendral:Patterns", "%s: 6th input argument (Patterns) must be of type  %dx%d."},
    {message_id::unknown_label_scalar, "vendral:unknown_label", "%s: 7th input argument (unknown_label) must be a scalar."},
    {message_id::unknown_label_range, "vendral:unknown_label", "%s: 7th input argument (unknown_label) must be a finite value within the 32-bit integer range."},
    {message_id::oflag_scalar, "vendral:oflag", "%s: 8th input argument (oflag) must be scalar."},
    {message_id::oflag_range, "vendral:oflag", "%s: 8th input argument (oflag) must be 0,1,2 or 3."},
    {message_id::output_count, "vendral:nlhs", "%s: %d output argument required."},
    {message_id::out_of_memory, "vendral:outOfMemory", "%s: Not enough memory available; unable to run!"},
};
// clang-format on

constexpr int message_table_size = sizeof(message_table) / sizeof(message_table[0]);

constexpr bool rows_in_id_order() {
    for (int i = 0; i < message_table_size; ++i)
        if (static_cast<int>(message_table[i].id) != i) return false;
    return true;
}

static_assert(message_table_size == static_cast<int>(message_id::message_count),
              "one row per message");
static_assert(rows_in_id_order(), "rows in the order of message_id");

constexpr const message_row &message_of(message_id id) {
    return message_table[static_cast<int>(id)];
}

// Formats a message with the module prefix and up to two integer values into
// a buffer of message_buffer_size bytes.
void format_message(char *buffer, message_id id, int first = 0, int second = 0);

}  // namespace vendral

#endif  // VENDRAL_HOST_MESSAGES_H
