// Well-formed calls: results, console text at every verbosity level with the
// performance summary, the host's operation counter, and allocation failures.
#include <limits>
#include <string>
#include <vector>

#include "harness.h"
#include "module_calls.h"

namespace {

const double infinity = std::numeric_limits<double>::infinity();

// One-column templates (0), (1), (3) labelled 1, 1, 2 and the pattern (0):
// distances 0, 1, 3; class 1 wins with 1 + exp(-0.5) against exp(-4.5).
runner::call_arguments three_templates(double kernel_type, double oflag) {
    return runner::make_call(1, {0, 1, 3}, {1, 1, 2}, kernel_type, 1, 1, {0}, -1, oflag);
}

// Templates (-1) and (1) in classes 5 and 7; the pattern (0) is equally far
// from both, the pattern (2) nearer to class 7.
runner::call_arguments tie_then_winner(double kernel_type, double p, double oflag) {
    return runner::make_call(1, {-1, 1}, {5, 7}, kernel_type, p, 1, {0, 2}, -3.7, oflag);
}

void expect_counter(const builtin_host::call_outcome &outcome, uint64_t expected) {
    runner::expect_true(outcome.flop_calls == 1, "the counter advanced in one call");
    runner::expect_true(outcome.flops_added == expected,
                        "counter advanced by " + std::to_string(outcome.flops_added) +
                            ", expected " + std::to_string(expected));
}

}  // namespace

RUNNER_TEST(gaussian_run_at_oflag_3_prints_every_line_and_the_summary) {
    const auto outcome = runner::call_module(three_templates(0, 3));
    runner::expect_true(!outcome.raised, "not raised: " + outcome.error);
    runner::expect_true(runner::result_column(outcome) == std::vector<double>({1}), "label 1");
    runner::expect_text(runner::console_with_zero_seconds(outcome.console),
                        "\nReference pattern set consists of 2 classes.\n\n"
                        "\nList presentation of 1 patterns:\n"
                        "   Pattern #1 is being presented\n"
                        "   Pattern #1 classified as '1'\n"
                        "\nmin-norm gaussian Parzen classifier performance summary\n"
                        "Test set contained 1 test patterns belonging to 2 classes\n"
                        "12 FLOPs and 2 comparisons in 0 seconds\n\n",
                        "console");
    expect_counter(outcome, 12 + 2);
    runner::expect_true(outcome.warnings.empty(), "no warnings");
}

RUNNER_TEST(cauchy_run_gives_the_same_label_silently_at_oflag_0) {
    const auto outcome = runner::call_module(three_templates(3, 0));
    runner::expect_true(runner::result_column(outcome) == std::vector<double>({1}), "label 1");
    runner::expect_text(outcome.console, "", "console");
    expect_counter(outcome, 12 + 2);
}

RUNNER_TEST(tie_at_oflag_2_gives_unknown_label_and_the_unclassified_line) {
    const auto outcome = runner::call_module(tie_then_winner(3, 2, 2));
    runner::expect_true(runner::result_column(outcome) == std::vector<double>({-3, 7}),
                        "labels -3 (unknown_label truncated) and 7");
    runner::expect_text(runner::console_with_zero_seconds(outcome.console),
                        "\nReference pattern set consists of 2 classes.\n\n"
                        "\nList presentation of 2 patterns:\n"
                        "   Pattern #1 could not be classified\n"
                        "   Pattern #2 classified as '7'\n"
                        "\neuclidian-norm cauchy Parzen classifier performance summary\n"
                        "Test set contained 2 test patterns belonging to 2 classes\n"
                        "unable to classify 1 patterns (50.000000%)\n"
                        "16 FLOPs and 5 comparisons in 0 seconds\n\n",
                        "console");
    // 2 patterns x 2 templates x 4, and 2 comparisons per pattern plus 1 for the tie.
    expect_counter(outcome, 16 + 5);
}

RUNNER_TEST(summary_names_each_norm_and_kernel) {
    struct row {
        double kernel_type, p;
        const char *heading;
        uint64_t flops;
    };
    const row rows[] = {
        {0, 2, "\neuclidian-norm gaussian Parzen classifier performance summary\n", 16},
        {1, 1, "\nmin-norm squared sinc Parzen classifier performance summary\n", 20},
        {2, infinity, "\nmax-norm laplacian Parzen classifier performance summary\n", 8},
        {3, 3, "\n cauchy Parzen classifier performance summary\n", 16},
    };
    for (const row &one : rows) {
        const auto outcome = runner::call_module(tie_then_winner(one.kernel_type, one.p, 1));
        runner::expect_true(runner::result_column(outcome) == std::vector<double>({-3, 7}),
                            std::string(one.heading) + "labels");
        runner::expect_text(runner::console_with_zero_seconds(outcome.console),
                            one.heading +
                                std::string("Test set contained 2 test patterns belonging to 2 "
                                            "classes\n"
                                            "unable to classify 1 patterns (50.000000%)\n") +
                                std::to_string(one.flops) +
                                " FLOPs and 5 comparisons in 0 seconds\n\n",
                            "console at oflag 1");
        expect_counter(outcome, one.flops + 5);
    }
}

RUNNER_TEST(no_patterns_gives_an_empty_result_and_advances_the_counter_by_0) {
    auto args = three_templates(0, 2);
    args.replace(5, builtin_host::make_array(mxDOUBLE_CLASS, {0, 1}));
    const auto outcome = runner::call_module(args);
    runner::expect_true(!outcome.raised, "not raised: " + outcome.error);
    runner::expect_true(runner::result_column(outcome).empty(), "empty result");
    runner::expect_text(runner::console_with_zero_seconds(outcome.console),
                        "\nReference pattern set consists of 2 classes.\n\n"
                        "\nList presentation of 0 patterns:\n"
                        "\nmin-norm gaussian Parzen classifier performance summary\n"
                        "Test set contained 0 test patterns belonging to 2 classes\n"
                        "0 FLOPs and 0 comparisons in 0 seconds\n\n",
                        "console");
    expect_counter(outcome, 0);
}

// Every allocation the call makes, refused in turn, ends the call with the
// out-of-memory message and nothing else.
RUNNER_TEST(each_refused_allocation_raises_out_of_memory) {
    const auto args = tie_then_winner(0, 2, 1);
    const auto complete = runner::call_module(args);
    runner::expect_true(complete.allocations >= 5, "a run makes several allocations");
    for (uint64_t refused = 1; refused <= complete.allocations; ++refused) {
        builtin_host::call_options options;
        options.fail_allocation = refused;
        const auto outcome = runner::call_module(args, options);
        const std::string where = "allocation " + std::to_string(refused) + " refused: ";
        runner::expect_true(outcome.raised, where + "raised");
        runner::expect_text(outcome.error, "VENDRAL: Not enough memory available; unable to run!",
                            where + "message");
        runner::expect_true(outcome.results.empty(), where + "no result");
    }
}
