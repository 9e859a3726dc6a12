// What must hold after any call of the module through the built-in host,
// whatever its arguments and wherever the host refused memory. Shared by the
// fuzz target and the fault-injection stress test.
#ifndef VENDRAL_RELIABILITY_CALL_INVARIANTS_H
#define VENDRAL_RELIABILITY_CALL_INVARIANTS_H

#include <string>
#include <vector>

#include "builtin_host/builtin_host.h"

namespace reliability {

struct call_under_test {
    int nlhs = 1;
    std::vector<const mxArray *> arguments;
    builtin_host::call_options options;
};

// Copies of the arguments taken before the call, to prove it changed none.
std::vector<builtin_host::array_ptr> snapshot(const std::vector<const mxArray *> &arguments);

// Whether text is one of the module's error messages with "VENDRAL" in its
// leading %s and integers in its %d fields.
bool is_module_message(const std::string &text);

// Every broken rule, one per line; empty when the outcome is acceptable:
// either exactly one raise of a module message (out of memory only when the
// refused allocation was reached, and nothing allocated before a failed
// check) or a Px1 double result whose labels, console text and operation
// count equal the plain reference evaluation; in both cases no misuse of the
// host, no host operation off its thread or after the raise, no warning, and
// arguments unchanged.
std::string violations(const call_under_test &call,
                       const std::vector<builtin_host::array_ptr> &arguments_before,
                       const builtin_host::call_outcome &outcome);

}  // namespace reliability

#endif  // VENDRAL_RELIABILITY_CALL_INVARIANTS_H
