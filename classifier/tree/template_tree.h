// A k-d tree over the templates, for the pruned evaluation (pruned_scores.h):
// every node holds the bounding box of its templates and how many of them
// each class has; the leaves hold their templates packed in whole tiles, as
// the tile distance functions read them (fast_distance.h), so that a leaf is
// scored exactly as the brute-force path scores a tile.
#ifndef VENDRAL_CLASSIFIER_TEMPLATE_TREE_H
#define VENDRAL_CLASSIFIER_TEMPLATE_TREE_H

#include <cstddef>
#include <cstdint>

#include "classifier/engine/engine.h"

namespace vendral {

// A node is a leaf once it holds at most this many templates (two tiles).
constexpr int32_t leaf_templates = 64;

struct tree_node {
    int32_t count;       // templates under the node
    int32_t first_lane;  // a leaf's first lane, on a tile boundary
    int32_t left;        // children, -1 for a leaf
    int32_t right;
};

struct template_tree {
    int32_t d = 0;
    int32_t M = 0;
    int32_t node_count = 0;  // node 0 is the root
    int32_t lanes = 0;       // every leaf padded to whole tiles
    tree_node *nodes = nullptr;
    double *boxes = nullptr;  // per node: d lower bounds, then d upper bounds
    // Per node, M counts: how many of its templates each class has. Null when
    // that table would be large (many classes): each class then takes the
    // node's whole count, which still bounds it.
    int32_t *class_counts = nullptr;
    int32_t *class_sizes = nullptr;    // M: every class's full template count
    double *columns = nullptr;         // lanes * d doubles in the tile layout; padding lanes 0
    int32_t *class_of_lane = nullptr;  // -1 on padding lanes
    int32_t *template_of_lane = nullptr;
    // The arrays above share one block: its edges are the only parts of it
    // a system that maps large blocks in huge pages maps in small ones.
    void *block = nullptr;
    size_t bytes = 0;  // the block's
};

// The tree over the N templates of in, all memory from memory. False, with
// nothing left allocated, when memory is short. The templates must be
// finite (the boxes would not bound a NaN). Up to threads threads share the
// work; the tree is the same whatever their number.
bool build_template_tree(const engine_inputs &in, int threads, const allocator &memory, template_tree *tree);
void free_template_tree(template_tree *tree, const allocator &memory);

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_TEMPLATE_TREE_H
