// A small host that keeps the MEX contracts the module relies on: arrays of
// any shape and class, a call-scoped allocator that reclaims what a call
// leaves and can fail the k-th allocation, captured console and warnings, an
// error service that ends the call, and a readable operation counter. Tests,
// fuzzing and benchmarks call the module through it.
#ifndef VENDRAL_BUILTIN_HOST_H
#define VENDRAL_BUILTIN_HOST_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/host_api.h"

struct mxArray_tag {
    mxClassID class_id = mxDOUBLE_CLASS;
    std::vector<int> dims;      // at least two; no trailing 1 beyond the second
    std::vector<double> real;   // column-major; empty for cells and structs
    std::vector<double> imag;   // empty unless complex
    bool sparse = false;
    bool logical = false;
};

namespace builtin_host {

struct array_deleter {
    void operator()(mxArray *array) const;
};
using array_ptr = std::unique_ptr<mxArray, array_deleter>;

// An array of the given class and dimensions, its elements column-major
// (missing ones are 0). Dimensions are normalised as the host does: fewer
// than two are padded with 1, trailing 1s beyond the second are dropped.
array_ptr make_array(mxClassID class_id, std::vector<int> dims, std::vector<double> values = {});
// A rows x cols double matrix from its elements given row by row.
array_ptr make_matrix(int rows, int cols, const std::vector<double> &row_major);
array_ptr make_scalar(double value);
array_ptr make_column(const std::vector<double> &values);
array_ptr make_row(const std::vector<double> &values);
array_ptr clone(const mxArray *array);
bool same_array(const mxArray *a, const mxArray *b);

struct call_options {
    uint64_t fail_allocation = 0;  // 1-based index of the allocation to refuse; 0 for none
    bool null_for_zero_bytes = false;  // answer zero-byte requests with null, as some hosts do
    bool raise_returns = false;  // mexErrMsgTxt records and returns instead of ending the call
    int unzeroed_fill = -1;  // byte that fills mxMalloc's blocks, to show reads before writes; -1: none
};

struct call_outcome {
    bool raised = false;
    std::string error;                  // text given to mexErrMsgTxt
    int raise_count = 0;
    std::string console;                // everything printed with mexPrintf
    std::vector<std::string> warnings;  // texts given to mexWarnMsgTxt
    std::vector<array_ptr> results;     // plhs, when the call ended normally
    uint64_t flops_added = 0;           // sum of all mexAddFlops counts
    int flop_calls = 0;
    uint64_t allocations = 0;           // requests made (the refused one included)
    size_t blocks_left = 0;             // live blocks at the end of the call, reclaimed then
    size_t peak_bytes = 0;              // the most bytes the call held at once
    int operations_after_raise = 0;     // host operations after the first raise
    int off_thread_operations = 0;      // host operations from other threads
    int misuses = 0;                    // bad frees, data of non-double arrays read, ...
};

call_outcome call(int nlhs, const std::vector<const mxArray *> &args, const call_options &options = {});

// The same through another entry than mexFunction (one with the same
// arguments and contracts).
using module_entry = std::function<void(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[])>;
call_outcome call(int nlhs, const std::vector<const mxArray *> &args, const call_options &options,
                  const module_entry &entry);

// Runs body as if it were a call's work: host services are live, a raise ends
// body, and the blocks it leaves are counted and reclaimed.
call_outcome within_call(const std::function<void()> &body, const call_options &options = {});

}  // namespace builtin_host

#endif  // VENDRAL_BUILTIN_HOST_H
