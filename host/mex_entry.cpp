// The module's only entry: checks, conversions, the run, the result.
#include "arguments.h"
#include "arrays.h"
#include "classifier/classifier.h"
#include "host_api.h"
#include "messages.h"
#include "module_entry.h"

using namespace vendral;

namespace {

// Hosts built against their own mex.h (Octave, current MATLAB) raise the
// message with its identifier, so callers can catch it by kind; the 5.x API
// has only the text. The text goes through "%s": it is never a format.
void raise(message_id id, const char *message) {
#if defined(VENDRAL_USE_HOST_MEX_H) || defined(MATLAB_MEX_FILE)
    mexErrMsgIdAndTxt(message_of(id).identifier, "%s", message);
#else
    static_cast<void>(id);
    mexErrMsgTxt(message);
#endif
}

}  // namespace

namespace vendral {

classify_options module_options() {
    classify_options options;
    options.threads = 0;
    return options;
}

}  // namespace vendral

// The module's one exported name: everything else is compiled hidden
// (cmake/compile_flags.cmake). The Windows DLL's export is in windows/vendral.def.
#if defined(__GNUC__) && !defined(_WIN32)
#define VENDRAL_ENTRY __attribute__((visibility("default")))
#else
#define VENDRAL_ENTRY
#endif

extern "C" VENDRAL_ENTRY void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
    run_module(nlhs, plhs, nrhs, prhs, module_options());
}

// The error service ends the call in the host; the returns after it are for
// hosts whose error service comes back.
void vendral::run_module(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[], const classify_options &options,
                         classify_counts *counts) {
    char message[message_buffer_size];
    run_arguments args;
    message_id failed_check = message_id::message_count;
    if (!check_arguments(nlhs, nrhs, prhs, &args, message, &failed_check)) {
        raise(failed_check, message);
        return;
    }

    // Prepared before any allocation, so a failure needs no further memory.
    format_message(message, message_id::out_of_memory);
    int32_t N = args.N, d = args.d, P = args.P;
    double **templates = mxArray2D_to_cArray2D(&N, &d, prhs[Templates]);
    if (templates == nullptr) {
        raise(message_id::out_of_memory, message);
        return;
    }
    double *labels = mxArray1D_to_cArray1D(&N, prhs[NLabels]);
    if (labels == nullptr) {
        raise(message_id::out_of_memory, message);
        return;
    }
    double **patterns = mxArray2D_to_cArray2D(&P, &d, prhs[Patterns]);
    if (patterns == nullptr) {
        raise(message_id::out_of_memory, message);
        return;
    }

    double *result = classify_patterns(N, d, templates, labels, args.kernel_type, args.p, args.h, P,
                                       patterns, args.unknown_label, args.oflag, options, counts);
    if (result == nullptr) {
        raise(message_id::out_of_memory, message);
        return;
    }
    plhs[0] = cArray1D_to_mxArray(P, result);
    if (plhs[0] == nullptr) {
        raise(message_id::out_of_memory, message);
        return;
    }
}
