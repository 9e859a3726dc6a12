#include "classifier/model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "classifier/engine/class_table.h"
#include "classifier/classifier.h"
#include "classifier/engine/decision.h"
#include "classifier/engine/engine.h"
#include "classifier/engine/model_parts.h"
#include "classifier/tiles/norms.h"
#include "classifier/engine/worker_parts.h"

namespace vendral {

struct model {
    allocator memory;
    int32_t N;
    int32_t d;
    int kernel_type;
    double p;
    double h;
    const double *const *templates;  // the caller's rows, or rows[]
    double **rows = nullptr;         // the model's own copy, when it made one
    double *row_block = nullptr;
    class_table classes;
    // Made by the first classification that needs them, then only read.
    mutable model_parts parts;

    engine_inputs inputs(int32_t P, const double *const *patterns, bool in_order) const {
        return {N, d, templates, classes.class_of_template, classes.count, kernel_type, p, h, P, patterns, in_order};
    }
};

namespace {

bool label_fits(double label) { return label > -2147483649.0 && label < 2147483648.0; }

model_status check(const model_definition &definition) {
    if (definition.N < 0 || definition.d < 0 ||
        (definition.N > 0 && (definition.templates == nullptr || definition.labels == nullptr)))
        return model_status::negative_size;
    for (int32_t j = 0; j < definition.N; ++j)
        if (!label_fits(definition.labels[j])) return model_status::label_out_of_range;
    if (definition.kernel_type < 0 || definition.kernel_type >= kernel_count) return model_status::unknown_kernel;
    if (!(definition.p >= 1.0)) return model_status::norm_below_one;
    if (!(definition.h > 0.0)) return model_status::width_not_positive;
    return model_status::prepared;
}

// The rows in one block of the model's, with a table of pointers to them.
bool copy_rows(const model_definition &definition, model *m) {
    const size_t N = static_cast<size_t>(definition.N), d = static_cast<size_t>(definition.d);
    if (d != 0 && N > SIZE_MAX / sizeof(double) / d) return false;
    m->rows = static_cast<double **>(m->memory.unzeroed(std::max<size_t>(N, 1), sizeof(double *)));
    m->row_block = static_cast<double *>(m->memory.unzeroed(std::max<size_t>(N * d, 1), sizeof(double)));
    if (m->rows == nullptr || m->row_block == nullptr) return false;
    for (size_t j = 0; j < N; ++j) {
        m->rows[j] = m->row_block + j * d;
        if (d > 0) std::memcpy(m->rows[j], definition.templates[j], d * sizeof(double));
    }
    m->templates = m->rows;
    return true;
}

// Null means memory is short, so an empty block is asked for as one byte
// (the C library may answer an empty request with null).
void *heap_zeroed(size_t count, size_t size, void *) {
    return count == 0 || size == 0 ? std::calloc(1, 1) : std::calloc(count, size);
}

void *heap_unzeroed(size_t count, size_t size, void *) {
    if (size != 0 && count > SIZE_MAX / size) return nullptr;
    return std::malloc(std::max<size_t>(count * size, 1));
}

void *heap_resized(void *block, size_t bytes, void *) { return std::realloc(block, std::max<size_t>(bytes, 1)); }

void heap_release(void *block, void *) { std::free(block); }

// Turns the engine's decisions into class indices and the rule's counts, in
// pattern order as they are made, and passes the news on.
struct decision_reader {
    const decision *decisions;
    int32_t *class_of_pattern;
    classify_counts *counts;
    const classify_options *options;
    int32_t done = 0;

    static void ready(int32_t count, void *context) {
        auto &reader = *static_cast<decision_reader *>(context);
        for (; reader.done < count; ++reader.done) {
            const decision &outcome = reader.decisions[reader.done];
            reader.counts->comparisons += outcome.comparisons;
            // With no classes at all there is no winner either: unclassifiable.
            const bool classified = !outcome.tie && !outcome.nan_score && outcome.winner >= 0;
            reader.class_of_pattern[reader.done] = classified ? outcome.winner : -1;
            if (!classified) ++reader.counts->unclassified;
        }
        if (reader.options->on_ready != nullptr) reader.options->on_ready(count, reader.options->context);
    }
};

}  // namespace

allocator heap_allocator() { return {heap_zeroed, heap_unzeroed, heap_resized, heap_release, nullptr}; }

model_status prepare_model(const model_definition &definition, const allocator &memory, model **prepared) {
    *prepared = nullptr;
    const model_status checked = check(definition);
    if (checked != model_status::prepared) return checked;
    void *place = memory.zeroed(1, sizeof(model));
    if (place == nullptr) return model_status::out_of_memory;
    auto *m = new (place) model{memory,       definition.N, definition.d,         definition.kernel_type,
                                definition.p, definition.h, definition.templates, nullptr,
                                nullptr,      class_table{}, {}};
    const bool ready = (!definition.copy_templates || copy_rows(definition, m)) &&
                       build_class_table(definition.N, definition.labels, memory, &m->classes);
    if (!ready) {
        release_model(m);
        return model_status::out_of_memory;
    }
    *prepared = m;
    return model_status::prepared;
}

void release_model(model *m) {
    if (m == nullptr) return;
    const allocator memory = m->memory;
    release_parts(m->parts, memory);
    free_class_table(&m->classes, memory);
    memory.release(m->row_block);
    memory.release(m->rows);
    m->~model();
    memory.release(m);
}

int32_t model_columns(const model &m) { return m.d; }
int32_t model_template_count(const model &m) { return m.N; }
int32_t model_class_count(const model &m) { return m.classes.count; }
const int32_t *model_class_labels(const model &m) { return m.classes.labels; }

size_t model_bytes(const model &m) {
    const size_t N = static_cast<size_t>(m.N), M = static_cast<size_t>(m.classes.count);
    size_t bytes = sizeof(model) + 4 * (N + M) + parts_bytes(m.parts);
    if (m.rows != nullptr) bytes += N * sizeof(double *) + N * static_cast<size_t>(m.d) * sizeof(double);
    return bytes;
}

classify_status classify(const model &m, int32_t P, int32_t d, const double *const *rows,
                         const classify_options &options, int32_t *class_of_pattern, classify_counts *counts) {
    *counts = classify_counts{};
    if (d != m.d) return classify_status::wrong_columns;
    if (P < 0 || (P > 0 && rows == nullptr)) return classify_status::wrong_columns;
    auto *decisions = static_cast<decision *>(m.memory.zeroed(std::max<int32_t>(P, 1), sizeof(decision)));
    if (decisions == nullptr) return classify_status::out_of_memory;
    decision_reader reader{decisions, class_of_pattern, counts, &options};
    const engine_inputs in = m.inputs(P, rows, options.in_order);
    const engine_run run{options, m.memory, m.parts, decision_reader::ready, &reader};
    const classify_status status = decide_patterns(in, run, decisions, counts);
    m.memory.release(decisions);
    return status;
}

classify_status class_scores(const model &m, int32_t P, int32_t d, const double *const *rows,
                             const classify_options &options, double *scores) {
    if (d != m.d || P < 0 || (P > 0 && rows == nullptr)) return classify_status::wrong_columns;
    const int32_t M = m.classes.count;
    const distance_function distance = norm_for(m.p).literal;
    const kernel_function kernel = kernel_table[m.kernel_type].value;
    const int32_t *class_of = m.classes.class_of_template;
    int threads = options.threads > 0 ? options.threads : processor_count();
    threads = static_cast<int>(std::max<int64_t>(1, std::min<int64_t>(threads, P)));
    std::atomic<int32_t> next{0};
    std::atomic<bool> ended{false};
    run_parts(threads, [&](int) {
        for (int32_t n; (n = next.fetch_add(1, std::memory_order_relaxed)) < P;) {
            if (options.stop != nullptr && options.stop->load(std::memory_order_relaxed)) {
                ended.store(true);
                return;
            }
            double *row = scores + static_cast<size_t>(n) * M;
            std::fill_n(row, M, 0.0);
            for (int32_t j = 0; j < m.N; ++j) row[class_of[j]] += kernel(distance(m.templates[j], rows[n], d, m.p), m.h);
        }
    });
    return ended.load() ? classify_status::stopped : classify_status::classified;
}

}  // namespace vendral
