// The module's call with the engine's options made explicit: mexFunction
// runs it with the module's own (every processor, the automatic choices);
// tests and benchmarks name others to compare the engine's paths.
#ifndef VENDRAL_HOST_MODULE_ENTRY_H
#define VENDRAL_HOST_MODULE_ENTRY_H

#include "classifier/model.h"
#include "host_api.h"

namespace vendral {

classify_options module_options();

// counts, when given, receives what the classification counted.
void run_module(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[], const classify_options &options,
                classify_counts *counts = nullptr);

}  // namespace vendral

#endif  // VENDRAL_HOST_MODULE_ENTRY_H
