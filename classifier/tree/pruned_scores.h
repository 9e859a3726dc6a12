// The pruned evaluation of one pattern: the tree's leaves nearest first, each
// through the fast tile functions, and for every node left unvisited a bound
// on what its templates could add to each class. The decision is taken only
// where the rule is settled by more than the bounds, as on the brute-force
// fast path, or by the literal scores of the classes it hinges on; otherwise
// (a distance the tile functions cannot bound, a pattern that is not finite)
// by the literal evaluation.
#ifndef VENDRAL_CLASSIFIER_PRUNED_SCORES_H
#define VENDRAL_CLASSIFIER_PRUNED_SCORES_H

#include <cstdint>

#include "classifier/classifier.h"
#include "classifier/engine/decision.h"
#include "classifier/engine/engine.h"
#include "classifier/tiles/fast_kernels.h"
#include "classifier/model.h"
#include "classifier/engine/model_parts.h"
#include "classifier/tree/node_queue.h"
#include "classifier/tiles/norms.h"
#include "classifier/tree/template_tree.h"

namespace vendral {

using box_floor_function = double (*)(const double *lower, const double *upper, const double *pattern, int32_t d,
                                      double p);

struct pruned_setup {
    const engine_inputs *in = nullptr;
    const template_tree *tree = nullptr;
    tile_distance_function tile_distances = nullptr;
    kernel_tile_function kernel_tile = nullptr;
    kernel_function kernel_value = nullptr;  // the literal kernel's values, uncounted
    distance_function literal_distance = nullptr;
    box_floor_function box_floor = nullptr;  // box_floor_for(d, p)
    double distance_error = 0.0;             // of the tile distances
    kernel_bound bound{};
    pruning mode = pruning::automatic;
};

// One thread's working space.
struct pruned_scratch {
    // The nodes waiting, with the bound on any one of a node's templates'
    // literal kernel values (from the floor of its distance to the pattern).
    node_queue waiting;
    int32_t *aside;         // room for every node
    double *value;          // per class: the fast sum of the visited templates
    double *sensitivity;    // ... and of their sensitivities
    double *skipped;        // ... and the bound on the unvisited ones
    double *exact;          // ... and the literal score, where is_exact
    uint8_t *is_exact;
    int32_t *templates;     // exact_room: the templates of a literal score
    int32_t exact_room;
    int64_t templates_visited;
    int64_t patterns_decided;
};

// Whether the pruned evaluation serves this run exactly: a kernel falling
// with the distance (gaussian, laplacian) and a number at every distance
// (h finite), a norm with a tile function, at most max_pruned_columns
// columns, and finite templates (the model knows).
constexpr int32_t max_pruned_columns = 1024;
bool pruning_applies(const engine_inputs &in, const kernel_row &kernel, const norm_row &norm);

// Whether every template value is finite, checked on up to `threads` threads.
bool templates_all_finite(const engine_inputs &in, int threads);

// Whether the automatic choice tries the tree at all: few columns, few
// classes, enough templates and patterns for the tree to pay.
bool pruning_may_pay(const engine_inputs &in);

// Scratch for `count` threads, from memory; null when memory is short.
pruned_scratch *make_pruned_scratch(int count, const template_tree &tree, int32_t M, const allocator &memory);
void free_pruned_scratch(pruned_scratch *scratch, int count, const allocator &memory);

// Decides one pattern: true on the tree; false when it was decided by the
// literal evaluation instead, because a tile's distances cannot be bounded,
// the pattern is not finite, or a class whose literal score is needed has
// more templates than the scratch holds.
bool decide_pruned(const pruned_setup &setup, const double *pattern, pruned_scratch *scratch, decision *out);

// The patterns in the order of the leaves they fall nearest to (ties in
// pattern order): order[0..P) from the tree of setup, leaf_of (P ints) as scratch.
void order_patterns_by_leaf(const pruned_setup &setup, int32_t *order, int32_t *leaf_of);

// A run's pruned evaluation: its setup over the model's tree, and each
// thread's scratch.
struct pruned_run {
    pruned_setup setup;
    pruned_scratch *scratch = nullptr;  // one per thread
    int threads = 0;
};

enum class pruned_start { declined, started, out_of_memory };

// Starts the pruned evaluation where it applies and (automatic mode) where
// the first patterns show that it pays, over the model's tree (built now if
// this is the first run to want it, then kept). The tile functions are
// those of `width`. The scratch comes from memory, nothing of it left
// allocated unless started.
pruned_start start_pruned_run(const engine_inputs &in, const kernel_row &kernel, const norm_row &norm, pruning mode,
                              int threads, int width, model_parts &parts, const allocator &memory, pruned_run *run);
// Frees the run's scratch; returns how many patterns it decided.
int64_t end_pruned_run(pruned_run *run, const allocator &memory);

// The distance bound of a box (exposed for its test): no literal distance
// from the pattern to a point of the box is smaller.
double box_distance_floor(const double *lower, const double *upper, const double *pattern, int32_t d, double p);
// The function box_distance_floor takes for d and p.
box_floor_function box_floor_for(int32_t d, double p);

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_PRUNED_SCORES_H
