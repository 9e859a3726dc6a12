// The module's only entry: checks, conversions, the run, the result.
#include "arguments.h"
#include "arrays.h"
#include "classifier/classifier.h"
#include "host_api.h"
#include "messages.h"

using namespace vendral;

// mexErrMsgTxt ends the call in the host; the returns after it are for hosts
// whose error service comes back.
extern "C" void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
    char message[message_buffer_size];
    run_arguments args;
    if (!check_arguments(nlhs, nrhs, prhs, &args, message)) {
        mexErrMsgTxt(message);
        return;
    }

    // Prepared before any allocation, so a failure needs no further memory.
    format_message(message, message_id::out_of_memory);
    int32_t N = args.N, d = args.d, P = args.P;
    double **templates = mxArray2D_to_cArray2D(&N, &d, prhs[Templates]);
    if (templates == nullptr) {
        mexErrMsgTxt(message);
        return;
    }
    double *labels = mxArray1D_to_cArray1D(&N, prhs[NLabels]);
    if (labels == nullptr) {
        mexErrMsgTxt(message);
        return;
    }
    double **patterns = mxArray2D_to_cArray2D(&P, &d, prhs[Patterns]);
    if (patterns == nullptr) {
        mexErrMsgTxt(message);
        return;
    }

    double *result = classify_patterns(N, d, templates, labels, args.kernel_type, args.p, args.h,
                                       P, patterns, args.unknown_label, args.oflag);
    if (result == nullptr) {
        mexErrMsgTxt(message);
        return;
    }
    plhs[0] = cArray1D_to_mxArray(P, result);
    if (plhs[0] == nullptr) {
        mexErrMsgTxt(message);
        return;
    }
}
