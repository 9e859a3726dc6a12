// vendral as a library: a Parzen-window classifier prepared once from its
// labelled templates, then asked to classify any number of pattern sets, from
// any number of threads at once. Every answer is the one the literal
// evaluation gives: each class scores the sum of its templates' kernel values
// at their Minkowski distances from the pattern; the strictly highest score
// wins; a shared highest score, or a NaN score, leaves the pattern
// unclassified.
//
// Memory. A model holds, from its allocator:
//   - the class table: 4 bytes per class and 4 per template;
//   - the templates' rows when it copies them: 8 N d bytes and a pointer per row;
//   - once a classification needs them, and then until it is released:
//     the templates packed for the vector tiles (about 8 N d + 16 N bytes,
//     and 8 N more for p = 2 with more than 3 columns), and the tree of the
//     pruned evaluation (about 8 N d + 8 N bytes, and its nodes: some
//     N/32 * (16 + 16 d + 4 M) bytes).
// A classification takes its own scratch from the same allocator (some
// kilobytes per thread, per class and per node of the tree) and gives it
// back before it returns. Nothing is kept anywhere else: release_model gives
// back everything.
#ifndef VENDRAL_CLASSIFIER_MODEL_H
#define VENDRAL_CLASSIFIER_MODEL_H

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace vendral {

// Where a model's memory comes from. Each function returns null when memory
// is short; a null block given back is ignored. The calls come from the
// thread that prepares or classifies, never from the engine's own workers.
struct allocator {
    void *(*zeroed_function)(size_t count, size_t size, void *context);
    // For blocks written whole before they are read.
    void *(*unzeroed_function)(size_t count, size_t size, void *context);
    void *(*resized_function)(void *block, size_t bytes, void *context);  // null block: a new one
    void (*release_function)(void *block, void *context);
    void *context;

    void *zeroed(size_t count, size_t size) const { return zeroed_function(count, size, context); }
    void *unzeroed(size_t count, size_t size) const { return unzeroed_function(count, size, context); }
    void *resized(void *block, size_t bytes) const { return resized_function(block, bytes, context); }
    void release(void *block) const { release_function(block, context); }
};

// The process's heap, safe from any thread: for a model kept between calls.
allocator heap_allocator();

enum class kernel_kind { gaussian = 0, squared_sinc = 1, laplacian = 2, cauchy = 3 };

struct model_definition {
    int32_t N = 0;                             // templates
    int32_t d = 0;                             // columns of templates and patterns
    const double *const *templates = nullptr;  // N rows of d doubles, any values
    const double *labels = nullptr;            // N labels, finite, truncated to 32 bits
    int kernel_type = 0;                       // a kernel_kind
    double p = 2.0;                            // the norm's exponent: at least 1, or +inf
    double h = 1.0;                            // the window width, above 0
    // False: the model keeps the caller's rows, which must then outlive it
    // unchanged.
    bool copy_templates = true;
};

enum class model_status {
    prepared,
    out_of_memory,
    negative_size,       // N or d below 0, or rows or labels missing
    label_out_of_range,  // a label that is NaN, infinite or beyond the 32-bit range
    unknown_kernel,
    norm_below_one,      // p below 1 or NaN
    width_not_positive,  // h not above 0 (or NaN)
};

struct model;

// Checks the definition and prepares a model from it. On anything but
// prepared, *prepared is null and nothing is left allocated.
model_status prepare_model(const model_definition &definition, const allocator &memory, model **prepared);
// Gives back everything the model holds; null is accepted. No
// classification may be running on it.
void release_model(model *m);

int32_t model_columns(const model &m);
int32_t model_template_count(const model &m);
// The distinct labels in order of first occurrence: class k is labels[k].
// (A non-integer label is a class of its own with its truncated label.)
int32_t model_class_count(const model &m);
const int32_t *model_class_labels(const model &m);
// The bytes the model holds now (it grows as a classification first needs
// the packed templates or the tree).
size_t model_bytes(const model &m);

enum class evaluation { fast, literal };

// Whether the fast evaluation of the gaussian and laplacian kernels visits
// the templates through a tree of bounding boxes, skipping those too far to
// matter: automatic (where it applies and the first patterns show it pays;
// a model keeps the tree once it has paid, and does without it for good
// once a trial showed it does not), always (wherever it applies), eager
// (always, visiting as little as possible: for tests), never. No outcome
// depends on it.
enum class pruning { automatic, always, eager, never };

// Told, on the calling thread, that decisions[0..ready) are made: first with
// ready == 0, then as ready grows, last with ready == P.
using decisions_ready = void (*)(int32_t ready, void *context);

struct classify_options {
    evaluation mode = evaluation::fast;
    pruning prune = pruning::automatic;
    int threads = 1;         // 0: one per processor
    int vector_width = 0;    // doubles per vector, at most: 8, 4, 2, 1; 0: the widest the processor has
    // Called as decisions are made in pattern order (null: not told). With
    // in_order false the engine may take the patterns in any order and
    // tells only the start and the end.
    decisions_ready on_ready = nullptr;
    void *context = nullptr;
    bool in_order = true;
    // Set (by any thread) to end the classification early: it then returns
    // stopped, its outputs incomplete.
    const std::atomic<bool> *stop = nullptr;
};

// What one classification did.
struct classify_counts {
    uint64_t flops = 0;          // the kernels' operation count, weight per kernel value
    uint64_t comparisons = 0;    // the decision rule's: one per class, one more per equality
    int32_t unclassified = 0;
    int64_t patterns_literal = 0;  // scored by the literal evaluation, wholly or in part
    int64_t patterns_pruned = 0;   // decided through the tree
};

enum class classify_status { classified, out_of_memory, wrong_columns, stopped };

// Classifies P patterns of d columns (rows: P pointers to d doubles each).
// class_of_pattern[n] receives the class index of pattern n (see
// model_class_labels), or -1 where it cannot be classified. Safe to call
// from many threads at once on one model; the outcome does not depend on
// the options but for stop.
classify_status classify(const model &m, int32_t P, int32_t d, const double *const *rows,
                         const classify_options &options, int32_t *class_of_pattern, classify_counts *counts);

// The literal class scores of P patterns: scores[n * M + k] is class k's sum
// of kernel values for pattern n, added in template order exactly as the
// classification's rule takes them (so its decision on a row is the
// classification's). Every pair is evaluated, on options.threads threads;
// options.stop ends it early (stopped). Allocates nothing.
classify_status class_scores(const model &m, int32_t P, int32_t d, const double *const *rows,
                             const classify_options &options, double *scores);

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_MODEL_H
