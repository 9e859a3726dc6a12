#include "classifier/classifier.h"
#include "classifier/host_services.h"
#include "classifier/model.h"

namespace vendral {

namespace {

size_t at_least_one(int32_t count) { return count > 0 ? static_cast<size_t>(count) : 1; }

// Turns class indices into result labels and progress lines, in pattern
// order, as the classification reports them made.
struct outcome_printer {
    const int32_t *class_of_pattern;
    const int32_t *labels;  // the model's classes
    int32_t M;
    double *result;
    int32_t P;
    int32_t unknown_label;
    int oflag;
    bool started = false;
    int32_t done = 0;

    void take(int32_t ready) {
        if (!started) {
            started = true;
            if (oflag >= 2) {
                host_printf("\nReference pattern set consists of %d classes.\n\n", M);
                host_printf("\nList presentation of %d patterns:\n", P);
            }
        }
        for (; done < ready; ++done) report(done + 1, class_of_pattern[done]);
    }

    void report(int32_t n, int32_t winner) {
        if (oflag >= 3) host_printf("   Pattern #%d is being presented\n", n);
        if (winner < 0) {
            result[n - 1] = static_cast<double>(unknown_label);
            if (oflag >= 2) host_printf("   Pattern #%d could not be classified\n", n);
        } else {
            result[n - 1] = static_cast<double>(labels[winner]);
            if (oflag >= 2) host_printf("   Pattern #%d classified as '%d'\n", n, labels[winner]);
        }
    }

    static void ready(int32_t count, void *printer) { static_cast<outcome_printer *>(printer)->take(count); }
};

}  // namespace

double *classify_patterns(int32_t N, int32_t d, const double *const *templates, const double *labels,
                          int kernel_type, double p, double h, int32_t P, const double *const *patterns,
                          int32_t unknown_label, int oflag, const classify_options &options,
                          classify_counts *counts_out) {
    // Empty blocks are asked for as one element, so that null always means
    // the host is out of memory.
    auto *result = static_cast<double *>(host_calloc(at_least_one(P), sizeof(double)));
    if (result == nullptr) return nullptr;
    const int64_t start_ms = milliseconds_since_load();

    // The working copies live as long as the call: the model keeps them as they are.
    const allocator memory = host_allocator();
    model *prepared = nullptr;
    const model_definition definition{N, d, templates, labels, kernel_type, p, h, false};
    if (prepare_model(definition, memory, &prepared) != model_status::prepared) {
        host_free(result);
        return nullptr;
    }
    auto *class_of_pattern = static_cast<int32_t *>(host_malloc(at_least_one(P), sizeof(int32_t)));
    const int32_t M = model_class_count(*prepared);
    outcome_printer printer{class_of_pattern, model_class_labels(*prepared), M, result, P, unknown_label, oflag};
    classify_options run = options;
    run.on_ready = outcome_printer::ready;
    run.context = &printer;
    // Below oflag 2 no line is printed per pattern: the order the patterns
    // are decided in is nobody's concern.
    run.in_order = oflag >= 2;
    classify_counts counts;
    if (class_of_pattern == nullptr ||
        classify(*prepared, P, d, patterns, run, class_of_pattern, &counts) != classify_status::classified) {
        host_free(class_of_pattern);
        release_model(prepared);
        host_free(result);
        return nullptr;
    }

    if (counts_out != nullptr) *counts_out = counts;
    host_add_flops(counts.flops + counts.comparisons);
    const int seconds = elapsed_whole_seconds(start_ms, milliseconds_since_load());
    if (oflag >= 1)
        print_summary(kernel_type, p, P, M, counts.unclassified, counts.flops, counts.comparisons, seconds);
    host_free(class_of_pattern);
    release_model(prepared);
    return result;
}

}  // namespace vendral
