// Stress with fault injection: many random calls, well-formed and malformed,
// each run once cleanly and once with the host refusing memory at a random
// point (or returning from mexErrMsgTxt, or answering zero-byte requests with
// null). Every outcome must keep the call invariants, and every call that
// still succeeds must be indistinguishable from its clean run.
// VENDRAL_STRESS_CALLS and VENDRAL_STRESS_SEED override the count and seed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <random>

#include "builtin_host/builtin_host.h"
#include "host/messages.h"
#include "reliability/call_invariants.h"
#include "tests/reference_classifier.h"

namespace {

using builtin_host::array_ptr;

const double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();

uint64_t setting(const char *name, uint64_t fallback) {
    const char *text = std::getenv(name);
    return text != nullptr ? std::strtoull(text, nullptr, 10) : fallback;
}

class random_calls {
public:
    explicit random_calls(uint64_t seed) : engine_(seed) {}

    int below(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(engine_); }
    bool chance(double probability) { return std::bernoulli_distribution(probability)(engine_); }
    template <typename T>
    T pick(std::initializer_list<T> choices) {
        return choices.begin()[below(static_cast<int>(choices.size()))];
    }

    double element() {
        if (chance(0.8)) return below(9) * 0.5 - 1.0;
        return pick({0.0, -0.0, inf, -inf, nan, 1e308, -1e308, 1e-300, 4.9e-324, 2147483648.0, 3.9});
    }

    array_ptr matrix(int rows, int cols) {
        std::vector<double> values(static_cast<size_t>(rows) * cols);
        for (double &value : values) value = element();
        return builtin_host::make_array(mxDOUBLE_CLASS, {rows, cols}, values);
    }

    array_ptr labels(int count) {
        const int classes = 1 + below(4);
        std::vector<double> values(static_cast<size_t>(count));
        for (double &value : values)
            value = chance(0.9) ? 1 + below(classes) : pick({1.5, -0.5, 2147483647.0, -2147483648.0});
        return chance(0.5) ? builtin_host::make_array(mxDOUBLE_CLASS, {count, 1}, values)
                           : builtin_host::make_array(mxDOUBLE_CLASS, {1, count}, values);
    }

    std::vector<array_ptr> valid_arguments() {
        // Now and then more patterns than one engine thread takes at a time.
        const bool many = chance(0.1);
        const int N = many ? 1 + below(40) : below(7);
        const int d = below(5);
        const int P = many ? 17 + below(40) : below(6);
        std::vector<array_ptr> args;
        args.push_back(matrix(N, d));
        args.push_back(labels(N));
        const int kernel = below(4);  // drawn apart: operands of + have no set order
        args.push_back(builtin_host::make_scalar(kernel + pick({0.0, 0.5, 0.9})));
        args.push_back(builtin_host::make_scalar(pick({1.0, 2.0, 3.0, 1.5, inf})));
        args.push_back(builtin_host::make_scalar(pick({0.5, 1.0, 2.0, 1e-300, 1e308})));
        args.push_back(matrix(P, d));
        args.push_back(builtin_host::make_scalar(pick({-1.0, 0.0, 7.9, -2147483648.0})));
        args.push_back(builtin_host::make_scalar(below(4)));
        return args;
    }

    // One change that makes a check fail, or a harmless change of form.
    void mutate(std::vector<array_ptr> *args, int *nlhs) {
        const int position = below(8);
        switch (below(9)) {
            case 0:
                if (chance(0.5)) args->pop_back(); else args->push_back(builtin_host::make_scalar(0));
                break;
            case 1: *nlhs = pick({0, 2}); break;
            case 2: (*args)[position] = builtin_host::make_array(mxDOUBLE_CLASS, {2, 2, 1 + below(3)}); break;
            case 3: (*args)[position] = builtin_host::make_array(pick({mxINT32_CLASS, mxSINGLE_CLASS, mxCHAR_CLASS, mxCELL_CLASS}), {1, 1}, {1}); break;
            case 4: (*args)[position]->sparse = true; break;
            case 5: (*args)[position]->imag.assign((*args)[position]->real.size(), 1.0); break;
            case 6: (*args)[position] = builtin_host::make_scalar(element()); break;
            case 7: (*args)[position] = builtin_host::make_array(mxDOUBLE_CLASS, {below(2), 1 - below(2)}); break;
            default: {
                const int rows = 1 + below(3);  // function arguments have no set order
                (*args)[position] = matrix(rows, 1 + below(3));
                break;
            }
        }
    }

private:
    std::mt19937_64 engine_;
};

std::vector<const mxArray *> raw(const std::vector<array_ptr> &args) {
    std::vector<const mxArray *> pointers;
    for (const auto &arg : args) pointers.push_back(arg.get());
    return pointers;
}

struct tally {
    uint64_t calls = 0, clean_successes = 0, clean_check_errors = 0, refusals_reached = 0,
             faulty_successes = 0, raise_returns = 0;
};

}  // namespace

TEST(FaultInjection, RandomCallsWithMemoryRefusedAtRandomPoints) {
    const uint64_t count = setting("VENDRAL_STRESS_CALLS", 10000);
    const uint64_t seed = setting("VENDRAL_STRESS_SEED", 20240611);
    random_calls random(seed);
    const std::string out_of_memory = std::string(vendral::module_prefix) +
                                      ": Not enough memory available; unable to run!";
    tally figures;
    for (uint64_t i = 0; i < count; ++i) {
        SCOPED_TRACE("call " + std::to_string(i) + " of seed " + std::to_string(seed));
        int nlhs = 1;
        std::vector<array_ptr> args = random.valid_arguments();
        if (random.chance(0.4)) random.mutate(&args, &nlhs);
        reliability::call_under_test call;
        call.nlhs = nlhs;
        call.arguments = raw(args);
        const auto before = reliability::snapshot(call.arguments);

        const builtin_host::call_outcome clean = builtin_host::call(nlhs, call.arguments);
        const std::string clean_problems = reliability::violations(call, before, clean);
        ASSERT_EQ(clean_problems, "") << "clean run";
        ASSERT_NE(clean.error, out_of_memory) << "clean run";
        figures.clean_successes += clean.raised ? 0 : 1;
        figures.clean_check_errors += clean.raised ? 1 : 0;

        reliability::call_under_test faulty = call;
        if (random.chance(0.9))
            faulty.options.fail_allocation = 1 + static_cast<uint64_t>(random.below(static_cast<int>(clean.allocations) + 1));
        faulty.options.raise_returns = random.chance(0.3);
        faulty.options.null_for_zero_bytes = random.chance(0.3);
        const builtin_host::call_outcome outcome = builtin_host::call(nlhs, faulty.arguments, faulty.options);
        const std::string problems = reliability::violations(faulty, before, outcome);
        ASSERT_EQ(problems, "") << "refusing allocation " << faulty.options.fail_allocation << " of "
                                << clean.allocations;
        figures.calls += 2;
        figures.raise_returns += faulty.options.raise_returns ? 1 : 0;

        // A refusal need not be the last request (a step may ask for all its
        // blocks before checking them), but it must end the call.
        if (outcome.error == out_of_memory) {
            ++figures.refusals_reached;
        } else if (outcome.raised) {
            EXPECT_EQ(outcome.error, clean.error);
        } else {
            ++figures.faulty_successes;
            ASSERT_EQ(outcome.results.size(), 1u);
            ASSERT_EQ(clean.results.size(), 1u);
            EXPECT_TRUE(builtin_host::same_array(outcome.results[0].get(), clean.results[0].get()));
            EXPECT_EQ(reference::without_seconds(outcome.console), reference::without_seconds(clean.console));
            EXPECT_EQ(outcome.flops_added, clean.flops_added);
            EXPECT_EQ(outcome.flop_calls, clean.flop_calls);
            EXPECT_EQ(outcome.allocations, clean.allocations);
            EXPECT_EQ(outcome.blocks_left, clean.blocks_left);
            EXPECT_EQ(outcome.warnings, clean.warnings);
        }
        if (::testing::Test::HasFailure()) break;
    }
    std::cout << "stress: " << figures.calls << " calls (" << count << " clean + " << count
              << " with faults), clean: " << figures.clean_successes << " results, "
              << figures.clean_check_errors << " check errors; faulty: " << figures.refusals_reached
              << " ended out of memory, " << figures.faulty_successes << " succeeded as the clean run, "
              << figures.raise_returns << " with a returning mexErrMsgTxt\n";
}
