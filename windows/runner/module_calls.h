// Building the eight arguments of a module call and checking what every call
// must leave behind, whatever its outcome.
#ifndef VENDRAL_WINDOWS_RUNNER_MODULE_CALLS_H
#define VENDRAL_WINDOWS_RUNNER_MODULE_CALLS_H

#include <string>
#include <vector>

#include "builtin_host/builtin_host.h"

namespace runner {

struct call_arguments {
    std::vector<builtin_host::array_ptr> arrays;  // in argument order

    std::vector<const mxArray *> list() const;
    call_arguments copy() const;
    // Replaces argument `position` (0-based).
    void replace(int position, builtin_host::array_ptr array);
};

// Templates and Patterns are given row by row, with `columns` columns each.
call_arguments make_call(int columns, const std::vector<double> &templates,
                         const std::vector<double> &labels, double kernel_type, double norm_type,
                         double h, const std::vector<double> &patterns, double unknown_label,
                         double oflag);

// Calls the module with one result asked for and checks the rules every call
// keeps: arguments unchanged, no misuse of the host, nothing after a raise.
builtin_host::call_outcome call_module(const call_arguments &args,
                                       const builtin_host::call_options &options = {},
                                       int nlhs = 1);

// The single result column of a call that ended normally.
std::vector<double> result_column(const builtin_host::call_outcome &outcome);

// The console text of a run with the given seconds figure in the summary's
// last line replaced by 0, so that a run crossing a second boundary compares
// equal to the expected text.
std::string console_with_zero_seconds(const std::string &console);

}  // namespace runner

#endif  // VENDRAL_WINDOWS_RUNNER_MODULE_CALLS_H
