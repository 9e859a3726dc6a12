// The tree's shape depends on N only: a node of n > leaf_templates templates
// splits at m, n/2 rounded up to whole tiles, so that every left part fills
// whole tiles; a leaf's lanes are padded to the next tile. Its split column
// is the one its box is widest in, and nth_element puts the m templates
// lowest in that column on the left.
#include "template_tree.h"

#include <algorithm>

#include "fast_distance.h"
#include "host_services.h"

namespace vendral {

namespace {

int32_t whole_tiles(int32_t n) { return (n + tile_lanes - 1) / tile_lanes * tile_lanes; }

int32_t left_share(int32_t n) { return whole_tiles((n + 1) / 2); }

struct shape {
    int64_t nodes = 0;
    int64_t lanes = 0;
};

void measure(int32_t n, shape *s) {
    ++s->nodes;
    if (n <= leaf_templates) {
        s->lanes += whole_tiles(n);
        return;
    }
    const int32_t m = left_share(n);
    measure(m, s);
    measure(n - m, s);
}

struct builder {
    const engine_inputs &in;
    template_tree *tree;
    int32_t *order;  // template indices, rearranged node by node
    int32_t next_node = 0;

    double *lower(int32_t node) const { return tree->boxes + static_cast<size_t>(node) * 2 * in.d; }

    void find_box(int32_t node, int32_t begin, int32_t end) const {
        double *lo = lower(node), *hi = lo + in.d;
        std::copy_n(in.templates[order[begin]], in.d, lo);
        std::copy_n(in.templates[order[begin]], in.d, hi);
        for (int32_t k = begin + 1; k < end; ++k) {
            const double *row = in.templates[order[k]];
            for (int32_t i = 0; i < in.d; ++i) {
                lo[i] = std::min(lo[i], row[i]);
                hi[i] = std::max(hi[i], row[i]);
            }
        }
    }

    void fill_leaf(int32_t node, int32_t begin, int32_t end, int32_t first_lane) const {
        int32_t *counts = tree->class_counts ? tree->class_counts + static_cast<size_t>(node) * in.M : nullptr;
        for (int32_t k = begin; k < end; ++k) {
            const int32_t j = order[k], lane = first_lane + (k - begin);
            const int32_t c = in.class_of_template[j];
            tree->class_of_lane[lane] = c;
            if (counts) ++counts[c];
            double *column = tree->columns + static_cast<size_t>(lane / block_lanes) * block_lanes * in.d +
                             lane % block_lanes;
            for (int32_t i = 0; i < in.d; ++i) column[i * block_lanes] = in.templates[j][i];
        }
    }

    // Builds the node over order[begin, end) from first_lane on; returns the
    // lane after its last.
    int32_t build(int32_t begin, int32_t end, int32_t first_lane) {
        const int32_t node = next_node++;
        const int32_t n = end - begin;
        find_box(node, begin, end);
        tree_node &at = tree->nodes[node];
        at = {n, first_lane, -1, -1};
        if (n <= leaf_templates) {
            fill_leaf(node, begin, end, first_lane);
            return first_lane + whole_tiles(n);
        }
        const double *lo = lower(node), *hi = lo + in.d;
        int32_t widest = 0;
        for (int32_t i = 1; i < in.d; ++i)
            if (hi[i] - lo[i] > hi[widest] - lo[widest]) widest = i;
        const int32_t m = left_share(n);
        const double *const *rows = in.templates;
        std::nth_element(order + begin, order + begin + m, order + end,
                         [rows, widest](int32_t a, int32_t b) { return rows[a][widest] < rows[b][widest]; });
        at.left = next_node;
        const int32_t middle_lane = build(begin, begin + m, first_lane);
        tree->nodes[node].right = next_node;
        const int32_t after = build(begin + m, end, middle_lane);
        if (tree->class_counts) {
            int32_t *counts = tree->class_counts + static_cast<size_t>(node) * in.M;
            const int32_t *left = tree->class_counts + static_cast<size_t>(tree->nodes[node].left) * in.M;
            const int32_t *right = tree->class_counts + static_cast<size_t>(tree->nodes[node].right) * in.M;
            for (int32_t c = 0; c < in.M; ++c) counts[c] = left[c] + right[c];
        }
        return after;
    }
};

}  // namespace

void free_template_tree(template_tree *tree) {
    host_free(tree->nodes);
    host_free(tree->boxes);
    host_free(tree->class_counts);
    host_free(tree->class_sizes);
    host_free(tree->columns);
    host_free(tree->class_of_lane);
    *tree = template_tree{};
}

bool build_template_tree(const engine_inputs &in, template_tree *tree) {
    shape s;
    measure(in.N, &s);
    tree->d = in.d;
    tree->M = in.M;
    tree->node_count = static_cast<int32_t>(s.nodes);
    tree->lanes = static_cast<int32_t>(s.lanes);
    const size_t nodes = static_cast<size_t>(s.nodes), lanes = std::max<size_t>(s.lanes, 1);
    const size_t d = std::max<int32_t>(in.d, 1);
    tree->nodes = static_cast<tree_node *>(host_calloc(nodes, sizeof(tree_node)));
    tree->boxes = static_cast<double *>(host_calloc(nodes * 2 * d, sizeof(double)));
    // Counts per class where they cost at most two ints per template.
    const bool counted = static_cast<int64_t>(nodes) * in.M <= 2 * static_cast<int64_t>(in.N) + 64;
    if (counted) tree->class_counts = static_cast<int32_t *>(host_calloc(nodes * std::max<int32_t>(in.M, 1), sizeof(int32_t)));
    tree->class_sizes = static_cast<int32_t *>(host_calloc(std::max<int32_t>(in.M, 1), sizeof(int32_t)));
    tree->columns = static_cast<double *>(host_calloc(lanes * d, sizeof(double)));
    tree->class_of_lane = static_cast<int32_t *>(host_calloc(lanes, sizeof(int32_t)));
    auto *order = static_cast<int32_t *>(host_calloc(std::max<int32_t>(in.N, 1), sizeof(int32_t)));
    if (!tree->nodes || !tree->boxes || (counted && !tree->class_counts) || !tree->class_sizes || !tree->columns || !tree->class_of_lane ||
        !order) {
        host_free(order);
        free_template_tree(tree);
        return false;
    }
    std::fill_n(tree->class_of_lane, lanes, -1);
    for (int32_t j = 0; j < in.N; ++j) {
        order[j] = j;
        ++tree->class_sizes[in.class_of_template[j]];
    }
    builder{in, tree, order}.build(0, in.N, 0);
    host_free(order);
    return true;
}

}  // namespace vendral
