// Every text the entry point raises, in one table: the checks name a row,
// and the tests walk the same rows. The leading %s is the module prefix.
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

constexpr const char *message_text[] = {
    "%s: %d input arguments required.",
    "%s: 1st input argument (Templates) must be  a two dimensional array (matrix).",
    "%s: 1st input argument (Templates) has more than 2147483647 rows or columns.",
    "%s: 1st input argument (Templates) must be a full matrix of class double.",
    "%s: 2nd input argument (NLabels) must a vector.",
    "%s: 2nd input argument (NLabels) must be a full vector of class double.",
    "%s: 2nd input argument (NLabels) must be of type  %dx1 or 1x%d.",
    "%s: 2nd input argument (NLabels) must hold finite labels within the 32-bit integer range.",
    "%s: 3rd input argument (kernel_type) must be scalar.",
    "%s: 3rd input argument (kernel_type) must be between  0 and %d.",
    "%s: 4th input argument (norm_type) must be a scalar.",
    "%s: 4th input argument (norm_type) must be greater or equal to 1.0.",
    "%s: 5th input argument (h) must be a scalar.",
    "%s: 5th input argument (h) must be greater than 0.0.",
    "%s: 6th input argument (Patterns) must be  a two dimensional array (matrix).",
    "%s: 6th input argument (Patterns) has more than 2147483647 rows or columns.",
    "%s: 6th input argument (Patterns) must be a full matrix of class double.",
    "%s: 6th input argument (Patterns) must be of type  %dx%d.",
    "%s: 7th input argument (unknown_label) must be a scalar.",
    "%s: 7th input argument (unknown_label) must be a finite value within the 32-bit integer range.",
    "%s: 8th input argument (oflag) must be scalar.",
    "%s: 8th input argument (oflag) must be 0,1,2 or 3.",
    "%s: %d output argument required.",
    "%s: Not enough memory available; unable to run!",
};

static_assert(sizeof(message_text) / sizeof(message_text[0]) ==
                  static_cast<int>(message_id::message_count),
              "one text per message");

// Formats a message with the module prefix and up to two integer values into
// a buffer of message_buffer_size bytes.
void format_message(char *buffer, message_id id, int first = 0, int second = 0);

}  // namespace vendral

#endif  // VENDRAL_HOST_MESSAGES_H
