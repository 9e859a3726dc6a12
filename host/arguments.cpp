#include "arguments.h"

#include "arrays.h"
#include "classifier/classifier.h"
#include "messages.h"

namespace vendral {

namespace {

bool two_dimensional(const mxArray *array) { return mxGetNumberOfDimensions(array) == 2; }

bool fits_int32(int64_t size) { return size <= INT32_MAX; }

bool full_double(const mxArray *array) { return mxIsDouble(array) && !mxIsSparse(array); }

// Two dimensions, one of them 1, at least one element, and a type whose first
// element mxGetScalar can read (numbers, logicals, characters).
bool is_scalar_argument(const mxArray *array) {
    if (!two_dimensional(array)) return false;
    const int64_t rows = host_dimension(array, 0);
    const int64_t cols = host_dimension(array, 1);
    if (rows != 1 && cols != 1) return false;
    if (rows == 0 || cols == 0) return false;
    return mxIsNumeric(array) || mxIsLogical(array) || mxIsChar(array);
}

// Step 4's shape test, in its order: 1xN and Nx1 pass, and 1x1 when N is 1.
bool is_label_vector(const mxArray *array, int32_t N) {
    const int64_t rows = host_dimension(array, 0);
    const int64_t cols = host_dimension(array, 1);
    if (rows == 1 && cols != N) return false;
    if (rows != N && cols == 1) return false;
    return rows == 1 || cols == 1;
}

bool labels_in_range(const mxArray *array, int32_t N) {
    const double *labels = mxGetPr(array);
    int32_t truncated;
    for (int32_t i = 0; i < N; ++i)
        if (!truncate_to_int32(labels[i], &truncated)) return false;
    return true;
}

bool fail(char *buffer, message_id *failed, message_id id, int first = 0, int second = 0) {
    format_message(buffer, id, first, second);
    *failed = id;
    return false;
}

}  // namespace

bool truncate_to_int32(double value, int32_t *truncated) {
    // NaN fails both comparisons.
    if (!(value > -2147483649.0 && value < 2147483648.0)) return false;
    *truncated = static_cast<int32_t>(value);
    return true;
}

bool check_arguments(int nlhs, int nrhs, const mxArray *const prhs[], run_arguments *args,
                     char *message, message_id *failed) {
    if (nrhs != argument_count)
        return fail(message, failed, message_id::input_count, argument_count);

    const mxArray *templates = prhs[Templates];
    if (!two_dimensional(templates)) return fail(message, failed, message_id::templates_dimensions);
    if (!fits_int32(host_dimension(templates, 0)) || !fits_int32(host_dimension(templates, 1)))
        return fail(message, failed, message_id::templates_too_large);
    if (!full_double(templates)) return fail(message, failed, message_id::templates_class);
    args->N = static_cast<int32_t>(host_dimension(templates, 0));
    args->d = static_cast<int32_t>(host_dimension(templates, 1));

    const mxArray *labels = prhs[NLabels];
    if (!two_dimensional(labels)) return fail(message, failed, message_id::labels_dimensions);
    if (!full_double(labels)) return fail(message, failed, message_id::labels_class);
    if (!is_label_vector(labels, args->N))
        return fail(message, failed, message_id::labels_shape, args->N, args->N);
    if (!labels_in_range(labels, args->N)) return fail(message, failed, message_id::labels_values);

    if (!is_scalar_argument(prhs[kernel_type]))
        return fail(message, failed, message_id::kernel_type_scalar);
    int32_t kernel = -1;
    if (!truncate_to_int32(mxGetScalar(prhs[kernel_type]), &kernel) || kernel < 0 || kernel >= kernel_count)
        return fail(message, failed, message_id::kernel_type_range, kernel_count - 1);
    args->kernel_type = kernel;

    if (!is_scalar_argument(prhs[norm_type]))
        return fail(message, failed, message_id::norm_type_scalar);
    args->p = mxGetScalar(prhs[norm_type]);
    if (!(args->p >= 1.0)) return fail(message, failed, message_id::norm_type_range);

    if (!is_scalar_argument(prhs[h])) return fail(message, failed, message_id::h_scalar);
    args->h = mxGetScalar(prhs[h]);
    if (!(args->h > 0.0)) return fail(message, failed, message_id::h_range);

    const mxArray *patterns = prhs[Patterns];
    if (!two_dimensional(patterns)) return fail(message, failed, message_id::patterns_dimensions);
    if (!fits_int32(host_dimension(patterns, 0)) || !fits_int32(host_dimension(patterns, 1)))
        return fail(message, failed, message_id::patterns_too_large);
    if (!full_double(patterns)) return fail(message, failed, message_id::patterns_class);
    args->P = static_cast<int32_t>(host_dimension(patterns, 0));
    if (host_dimension(patterns, 1) != args->d)
        return fail(message, failed, message_id::patterns_columns, args->P, args->d);

    if (!is_scalar_argument(prhs[unknown_label]))
        return fail(message, failed, message_id::unknown_label_scalar);
    if (!truncate_to_int32(mxGetScalar(prhs[unknown_label]), &args->unknown_label))
        return fail(message, failed, message_id::unknown_label_range);

    if (!is_scalar_argument(prhs[oflag])) return fail(message, failed, message_id::oflag_scalar);
    int32_t verbosity = -1;
    if (!truncate_to_int32(mxGetScalar(prhs[oflag]), &verbosity) || verbosity < 0 || verbosity > 3)
        return fail(message, failed, message_id::oflag_range);
    args->oflag = verbosity;

    if (nlhs != 1) return fail(message, failed, message_id::output_count, 1);
    return true;
}

}  // namespace vendral
