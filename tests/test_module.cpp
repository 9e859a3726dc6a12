// Whole calls through the built-in host: results, console text at every
// verbosity, the summary, the host counter, empty inputs and every
// allocation failure in turn.
#include <gtest/gtest.h>

#include <limits>

#include "classifier/classifier.h"
#include "classifier/host_services.h"
#include "module_call.h"

namespace {

// Three one-column templates (0), (1), (3) labelled 1, 1, 2 and the pattern (0).
module_inputs worked_example(int kernel_type) {
    module_inputs in;
    in.templates = {{0}, {1}, {3}};
    in.labels = {1, 1, 2};
    in.kernel_type = kernel_type;
    in.p = 1;
    in.h = 1;
    in.patterns = {{0}};
    return in;
}

// Ten templates in three classes, twenty patterns of which two sit exactly
// between classes 1 and 2.
module_inputs summary_example() {
    module_inputs in;
    in.templates = {{0}, {0}, {0}, {0}, {10}, {10}, {10}, {10}, {1000}, {1000}};
    in.labels = {1, 1, 1, 1, 2, 2, 2, 2, 3, 3};
    in.p = 2;
    for (int n = 0; n < 20; ++n) in.patterns.push_back({n == 4 || n == 11 ? 5.0 : 0.0});
    in.oflag = 1;
    return in;
}

}  // namespace

TEST(Module, WorkedExampleGaussianAndCauchy) {
    for (int kernel : {0, 3}) {
        const auto outcome = call_module(worked_example(kernel));
        ASSERT_FALSE(outcome.raised) << outcome.error;
        EXPECT_EQ(result_labels(outcome), (std::vector<double>{1}));
        EXPECT_EQ(outcome.flops_added, 12u + 2u) << "3 kernel calls x 4, 2 comparisons";
        EXPECT_EQ(outcome.flop_calls, 1);
        EXPECT_EQ(outcome.console, "");
        EXPECT_EQ(outcome.blocks_left, working_copy_blocks);
    }
}

TEST(Module, KernelTypeIsTruncated) {
    module_inputs in = worked_example(0);
    in.oflag = 1;
    auto kernel = builtin_host::make_scalar(-0.5);
    auto templates = rows_to_matrix(in.templates, 1);
    auto labels = builtin_host::make_column(in.labels);
    auto one = builtin_host::make_scalar(1);
    auto patterns = rows_to_matrix(in.patterns, 1);
    auto unknown = builtin_host::make_scalar(-1.7);
    auto oflag = builtin_host::make_scalar(1.9);
    const auto outcome = builtin_host::call(
        1, {templates.get(), labels.get(), kernel.get(), one.get(), one.get(), patterns.get(),
            unknown.get(), oflag.get()});
    ASSERT_FALSE(outcome.raised) << outcome.error;
    EXPECT_NE(outcome.console.find("min-norm gaussian Parzen"), std::string::npos);
    EXPECT_EQ(outcome.console.find("Pattern #"), std::string::npos) << "oflag 1.9 is 1";
}

TEST(Module, ConsoleAtEachVerbosity) {
    module_inputs in = summary_example();
    in.patterns.resize(3);
    in.patterns[1] = {5.0};
    const std::string summary =
        "\neuclidian-norm gaussian Parzen classifier performance summary\n"
        "Test set contained 3 test patterns belonging to 3 classes\n"
        "unable to classify 1 patterns (33.333333%)\n"
        "120 FLOPs and 10 comparisons in 0 seconds\n\n";
    const std::string listing =
        "\nReference pattern set consists of 3 classes.\n\n"
        "\nList presentation of 3 patterns:\n";
    const std::string expected[4] = {
        "",
        summary,
        listing + "   Pattern #1 classified as '1'\n"
                  "   Pattern #2 could not be classified\n"
                  "   Pattern #3 classified as '1'\n" + summary,
        listing + "   Pattern #1 is being presented\n   Pattern #1 classified as '1'\n"
                  "   Pattern #2 is being presented\n   Pattern #2 could not be classified\n"
                  "   Pattern #3 is being presented\n   Pattern #3 classified as '1'\n" + summary,
    };
    for (int oflag = 0; oflag <= 3; ++oflag) {
        in.oflag = oflag;
        const auto outcome = call_module(in);
        EXPECT_EQ(reference::without_seconds(outcome.console), expected[oflag]) << "oflag " << oflag;
        EXPECT_EQ(outcome.flops_added, 130u) << "the host counter advances at every oflag";
    }
}

TEST(Module, SummaryOfTwentyPatternsTwoUnclassifiable) {
    const auto outcome = call_module(summary_example());
    EXPECT_EQ(reference::without_seconds(outcome.console),
              "\neuclidian-norm gaussian Parzen classifier performance summary\n"
              "Test set contained 20 test patterns belonging to 3 classes\n"
              "unable to classify 2 patterns (10.000000%)\n"
              "800 FLOPs and 62 comparisons in 0 seconds\n\n");
    std::vector<double> expected(20, 1.0);
    expected[4] = expected[11] = -1;
    EXPECT_EQ(result_labels(outcome), expected);
}

TEST(Module, SummaryNormNamesAndNoUnclassifiedLine) {
    module_inputs in = worked_example(1);
    in.oflag = 1;
    const std::pair<double, const char *> norms[] = {
        {1.0, "\nmin-norm squared sinc Parzen"},
        {std::numeric_limits<double>::infinity(), "\nmax-norm squared sinc Parzen"},
        {3.0, "\n squared sinc Parzen"},
    };
    for (const auto &norm : norms) {
        in.p = norm.first;
        const auto outcome = call_module(in);
        EXPECT_EQ(outcome.console.rfind(norm.second, 0), 0u) << outcome.console;
        EXPECT_EQ(outcome.console.find("unable to classify"), std::string::npos);
    }
}

TEST(Module, LabelsInFirstOccurrenceOrderAndNonIntegerLabels) {
    module_inputs in;
    in.templates = {{0}, {1}, {2}, {3}};
    in.labels = {2, 1, 2, 3};
    in.patterns = {{3}, {0.9}};
    in.oflag = 2;
    auto outcome = call_module(in);
    EXPECT_EQ(outcome.console.rfind("\nReference pattern set consists of 3 classes.\n", 0), 0u);
    EXPECT_EQ(result_labels(outcome), (std::vector<double>{3, 2}));

    // 1.5 appends an entry labelled 1 that never scores: two classes of label 1.
    in.labels = {1.5, 1, 1.5, 7};
    in.patterns = {{0}, {3}};
    outcome = call_module(in);
    EXPECT_EQ(outcome.console.rfind("\nReference pattern set consists of 3 classes.\n", 0), 0u);
    EXPECT_EQ(result_labels(outcome), (std::vector<double>{1, 7}));
    EXPECT_EQ(outcome.flops_added, 2u * 4 * 4 + 2 * 3);
}

TEST(Module, SingleClassAlwaysWinsAndAllUnderflowIsATie) {
    module_inputs in;
    in.templates = {{0}, {1}};
    in.labels = {4, 4};
    in.kernel_type = 2;
    in.patterns = {{1e6}};
    EXPECT_EQ(result_labels(call_module(in)), (std::vector<double>{4}));
    in.labels = {4, 5};
    in.unknown_label = 99;
    EXPECT_EQ(result_labels(call_module(in)), (std::vector<double>{99}));
}

TEST(Module, NoRowsWithHugeColumnCountsHoldNothingLarge) {
    // Nothing to compare, so no block may grow with the column count (the
    // fuzzer found the dot products' centre taking 16 GiB here).
    for (int kernel = 0; kernel < 4; ++kernel)
        for (double p : {1.0, 2.0, 3.0}) {
            module_inputs in;
            in.kernel_type = kernel;
            in.p = p;
            in.columns = 2147483647;
            const auto outcome = call_module(in);
            ASSERT_FALSE(outcome.raised) << outcome.error;
            EXPECT_LT(outcome.peak_bytes, size_t{1} << 20) << "kernel " << kernel << " p " << p;
        }
}

TEST(Module, EmptyInputsNeverRunOutOfMemory) {
    builtin_host::call_options strict;
    strict.null_for_zero_bytes = true;  // a host that answers zero-byte requests with null
    for (const auto &options : {builtin_host::call_options{}, strict}) {
        module_inputs no_patterns = worked_example(0);
        no_patterns.patterns.clear();
        no_patterns.oflag = 2;
        auto outcome = call_module(no_patterns, options);
        ASSERT_FALSE(outcome.raised) << outcome.error;
        EXPECT_EQ(outcome.results[0]->dims, (std::vector<int>{0, 1}));
        EXPECT_EQ(reference::without_seconds(outcome.console),
                  "\nReference pattern set consists of 2 classes.\n\n"
                  "\nList presentation of 0 patterns:\n"
                  "\nmin-norm gaussian Parzen classifier performance summary\n"
                  "Test set contained 0 test patterns belonging to 2 classes\n"
                  "0 FLOPs and 0 comparisons in 0 seconds\n\n");
        EXPECT_EQ(outcome.flops_added, 0u);
        EXPECT_EQ(outcome.flop_calls, 1);

        module_inputs no_templates;
        no_templates.patterns = {{1, 2}, {3, 4}};
        no_templates.unknown_label = 8;
        no_templates.oflag = 2;
        outcome = call_module(no_templates, options);
        ASSERT_FALSE(outcome.raised) << outcome.error;
        EXPECT_EQ(result_labels(outcome), (std::vector<double>{8, 8}));
        EXPECT_EQ(reference::without_seconds(outcome.console),
                  "\nReference pattern set consists of 0 classes.\n\n"
                  "\nList presentation of 2 patterns:\n"
                  "   Pattern #1 could not be classified\n"
                  "   Pattern #2 could not be classified\n"
                  "\neuclidian-norm gaussian Parzen classifier performance summary\n"
                  "Test set contained 2 test patterns belonging to 0 classes\n"
                  "unable to classify 2 patterns (100.000000%)\n"
                  "0 FLOPs and 0 comparisons in 0 seconds\n\n");

        module_inputs no_columns;
        no_columns.templates = {{}, {}};
        no_columns.labels = {1, 2};
        no_columns.patterns = {{}};
        no_columns.columns = 0;
        outcome = call_module(no_columns, options);
        ASSERT_FALSE(outcome.raised) << outcome.error;
        EXPECT_EQ(result_labels(outcome), (std::vector<double>{-1})) << "distance 0 to both: a tie";
    }
}

TEST(Module, EveryAllocationFailureEndsWithTheMemoryMessage) {
    module_inputs in = summary_example();
    in.oflag = 3;
    const auto clean = call_module(in);
    ASSERT_FALSE(clean.raised);
    ASSERT_GT(clean.allocations, 3u);
    for (uint64_t refuse = 1; refuse <= clean.allocations; ++refuse) {
        SCOPED_TRACE("refused allocation " + std::to_string(refuse));
        const auto outcome = call_module(in, builtin_host::call_options{refuse, false, false});
        EXPECT_EQ(outcome.error, "VENDRAL: Not enough memory available; unable to run!");
        EXPECT_TRUE(outcome.results.empty());
        EXPECT_EQ(outcome.misuses, 0);
        EXPECT_EQ(outcome.off_thread_operations, 0);
        EXPECT_TRUE(outcome.warnings.empty());
    }
    const auto beyond = call_module(in, builtin_host::call_options{clean.allocations + 1, false, false});
    EXPECT_FALSE(beyond.raised);
}

TEST(Module, CountersAreFullSixtyFourBitValues) {
    // A long run counts past 2^32: the host counter takes int pieces, the
    // summary prints the whole count.
    const uint64_t flops = 5ull * 3000 * 300000;
    const auto outcome = builtin_host::within_call([&] {
        vendral::host_add_flops(flops);
        vendral::print_summary(1, 1.0, 300000, 1, 0, flops, 300000, 2);
    });
    EXPECT_EQ(outcome.flops_added, flops);
    EXPECT_EQ(outcome.flop_calls, 3);
    EXPECT_NE(outcome.console.find("\n4500000000 FLOPs and 300000 comparisons in 2 seconds\n\n"),
              std::string::npos);
}
