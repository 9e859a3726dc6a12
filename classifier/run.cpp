#include "class_table.h"
#include "classifier.h"
#include "decision.h"
#include "host_services.h"
#include "engine.h"

namespace vendral {

uint64_t comparison_count = 0;

namespace {

size_t at_least_one(int32_t count) { return count > 0 ? static_cast<size_t>(count) : 1; }

// Turns decisions into result labels and progress lines, in pattern order,
// as the engine reports them made.
struct outcome_printer {
    const decision *decisions;
    const class_table *classes;
    double *result;
    int32_t P;
    int32_t unknown_label;
    int oflag;
    bool started = false;
    int32_t done = 0;
    int32_t unclassified = 0;

    void take(int32_t ready) {
        if (!started) {
            started = true;
            if (oflag >= 2) {
                host_printf("\nReference pattern set consists of %d classes.\n\n", classes->count);
                host_printf("\nList presentation of %d patterns:\n", P);
            }
        }
        for (; done < ready; ++done) report(done + 1, decisions[done]);
    }

    void report(int32_t n, const decision &outcome) {
        if (oflag >= 3) host_printf("   Pattern #%d is being presented\n", n);
        comparison_count += outcome.comparisons;
        // With no classes at all there is no winner either: unclassifiable.
        if (outcome.tie || outcome.nan_score || outcome.winner < 0) {
            result[n - 1] = static_cast<double>(unknown_label);
            ++unclassified;
            if (oflag >= 2) host_printf("   Pattern #%d could not be classified\n", n);
        } else {
            const int32_t label = classes->labels[outcome.winner];
            result[n - 1] = static_cast<double>(label);
            if (oflag >= 2) host_printf("   Pattern #%d classified as '%d'\n", n, label);
        }
    }

    static void ready(int32_t count, void *printer) { static_cast<outcome_printer *>(printer)->take(count); }
};

}  // namespace

double *classify_patterns(int32_t N, int32_t d, const double *const *templates,
                          const double *labels, int kernel_type, double p, double h, int32_t P,
                          const double *const *patterns, int32_t unknown_label, int oflag) {
    flop_count = 0;
    comparison_count = 0;
    // Empty blocks are asked for as one element, so that null always means
    // the host is out of memory.
    auto *result = static_cast<double *>(host_calloc(at_least_one(P), sizeof(double)));
    if (result == nullptr) return nullptr;
    const int64_t start_ms = milliseconds_since_load();

    class_table classes;
    if (!build_class_table(N, labels, &classes)) {
        host_free(result);
        return nullptr;
    }
    const int32_t M = classes.count;
    // One decision per pattern: the patterns are scored in parallel, and
    // their lines printed in order as the decisions come in.
    auto *decisions = static_cast<decision *>(host_calloc(at_least_one(P), sizeof(decision)));
    // Below oflag 2 no line is printed per pattern: the order the patterns
    // are decided in is nobody's concern.
    const engine_inputs in{N, d, templates, classes.class_of_template, M, kernel_type, p, h, P, patterns, oflag >= 2};
    outcome_printer printer{decisions, &classes, result, P, unknown_label, oflag};
    if (decisions == nullptr || !decide_patterns(in, decisions, outcome_printer::ready, &printer)) {
        host_free(decisions);
        free_class_table(&classes);
        host_free(result);
        return nullptr;
    }
    const int32_t unclassified = printer.unclassified;

    host_add_flops(flop_count + comparison_count);
    const int seconds = elapsed_whole_seconds(start_ms, milliseconds_since_load());
    if (oflag >= 1)
        print_summary(kernel_type, p, P, M, unclassified, flop_count, comparison_count, seconds);
    host_free(decisions);
    free_class_table(&classes);
    return result;
}

}  // namespace vendral
