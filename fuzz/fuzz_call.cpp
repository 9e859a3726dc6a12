// libFuzzer target: every input is one whole call of the module through the
// built-in host; any broken rule aborts with the rules it broke.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "call_encoding.h"
#include "classifier/model.h"
#include "host/module_entry.h"
#include "reliability/call_invariants.h"

namespace {

// One line per argument, enough to rebuild the call in a test.
std::string describe(const fuzzing::decoded_call &call) {
    std::string text = "nlhs " + std::to_string(call.nlhs) + ", threads " +
                       std::to_string(call.engine_threads) +
                       (call.literal_evaluation ? ", literal evaluation" : "") + ", mexErrMsgTxt " +
                       (call.options.raise_returns ? "returns" : "ends the call") +
                       (call.options.null_for_zero_bytes ? ", null for zero bytes" : "") + "\n";
    for (const auto &argument : call.arguments) {
        text += "  class " + std::to_string(argument->class_id) + " dims";
        for (int size : argument->dims) text += " " + std::to_string(size);
        if (argument->sparse) text += " sparse";
        if (argument->logical) text += " logical";
        if (!argument->imag.empty()) text += " complex";
        text += ":";
        for (size_t i = 0; i < argument->real.size() && i < 16; ++i) {
            char value[32];
            std::snprintf(value, sizeof value, " %.17g", argument->real[i]);
            text += value;
        }
        text += argument->real.size() > 16 ? " ...\n" : "\n";
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const fuzzing::decoded_call decoded = fuzzing::decode_call(data, size);
    if (decoded.too_large) return 0;

    reliability::call_under_test call;
    call.nlhs = decoded.nlhs;
    call.options = decoded.options;
    for (const auto &argument : decoded.arguments) call.arguments.push_back(argument.get());
    const auto before = reliability::snapshot(call.arguments);
    // More threads than processors too: the result must not depend on them.
    vendral::classify_options engine = vendral::module_options();
    engine.threads = decoded.engine_threads;
    engine.mode = decoded.literal_evaluation ? vendral::evaluation::literal : vendral::evaluation::fast;

    const builtin_host::call_outcome outcome =
        builtin_host::call(call.nlhs, call.arguments, call.options,
                           [&engine](int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
                               vendral::run_module(nlhs, plhs, nrhs, prhs, engine);
                           });

    const std::string problems = reliability::violations(call, before, outcome);
    if (!problems.empty()) {
        std::fprintf(stderr, "Broken rules (error \"%s\", %llu allocations, refused %llu):\n%s",
                     outcome.error.c_str(), static_cast<unsigned long long>(outcome.allocations),
                     static_cast<unsigned long long>(call.options.fail_allocation), problems.c_str());
        std::fprintf(stderr, "Call: %s", describe(decoded).c_str());
        std::abort();
    }
    return 0;
}
