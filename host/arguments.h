// The argument checks of the entry point, in the order the caller sees them.
#ifndef VENDRAL_HOST_ARGUMENTS_H
#define VENDRAL_HOST_ARGUMENTS_H

#include <cstdint>

#include "host_api.h"
#include "messages.h"

namespace vendral {

enum argument_position {
    Templates,
    NLabels,
    kernel_type,
    norm_type,
    h,
    Patterns,
    unknown_label,
    oflag,
    argument_count
};

struct run_arguments {
    int32_t N = 0;  // template rows
    int32_t d = 0;  // columns of both matrices
    int32_t P = 0;  // test pattern rows
    int kernel_type = 0;
    double p = 0.0;
    double h = 0.0;
    int32_t unknown_label = 0;
    int oflag = 0;
};

// Runs every check in order. On the first failure formats its message into
// message (message_buffer_size bytes), names its row in failed and returns
// false; otherwise fills args.
bool check_arguments(int nlhs, int nrhs, const mxArray *const prhs[], run_arguments *args,
                     char *message, message_id *failed);

// Truncation toward zero, refused for NaN, infinities and values whose
// truncation lies outside the 32-bit signed range.
bool truncate_to_int32(double value, int32_t *truncated);

}  // namespace vendral

#endif  // VENDRAL_HOST_ARGUMENTS_H
