// The templates go in the order of their Morton codes (the bits of their
// columns, scaled to the templates' bounding box, interleaved), which keeps
// templates near each other in space mostly near each other in the order;
// the nodes split that order, and each node's box is the bounding box of its
// templates. Sorting the codes (a radix sort) costs a few passes over the
// templates, where choosing a median per node would cost one per level.
//
// The tree's shape depends on N only: a node of n > leaf_templates templates
// splits at m, n/2 rounded up to whole tiles, so that every left part fills
// whole tiles; a leaf's lanes are padded to the next tile.
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

struct keyed {
    uint32_t key;
    int32_t index;
};

constexpr int key_bits = 32;

// Every template's Morton code over its first columns (at least one bit of
// each of up to key_bits columns), sorted, into sorted[0..N); other: the
// same room, for the sort.
void sort_by_code(const engine_inputs &in, keyed *sorted, keyed *other) {
    const int32_t columns = std::min<int32_t>(in.d, key_bits);
    const int bits = key_bits / columns;
    double low[key_bits], scale[key_bits];
    for (int32_t i = 0; i < columns; ++i) {
        double lo = in.templates[0][i], hi = lo;
        for (int32_t j = 1; j < in.N; ++j) {
            lo = std::min(lo, in.templates[j][i]);
            hi = std::max(hi, in.templates[j][i]);
        }
        low[i] = lo;
        // hi - lo may overflow to +inf: the scale is then 0 and so is the column's part.
        scale[i] = hi > lo ? static_cast<double>(uint64_t{1} << bits) / (hi - lo) : 0.0;
    }
    const auto top = static_cast<uint32_t>((uint64_t{1} << bits) - 1);  // bits is 32 for one column
    for (int32_t j = 0; j < in.N; ++j) {
        uint32_t cell[key_bits];
        for (int32_t i = 0; i < columns; ++i) {
            const double at = (in.templates[j][i] - low[i]) * scale[i];
            cell[i] = at >= top ? top : at > 0 ? static_cast<uint32_t>(at) : 0;
        }
        uint32_t key = 0;
        for (int bit = bits - 1; bit >= 0; --bit)
            for (int32_t i = 0; i < columns; ++i) key = key << 1 | (cell[i] >> bit & 1u);
        sorted[j] = {key, j};
    }
    // Least significant byte first; each pass is stable.
    for (int shift = 0; shift < key_bits; shift += 8) {
        int32_t start[257] = {};
        for (int32_t j = 0; j < in.N; ++j) ++start[(sorted[j].key >> shift & 0xff) + 1];
        for (int b = 0; b < 256; ++b) start[b + 1] += start[b];
        for (int32_t j = 0; j < in.N; ++j) other[start[sorted[j].key >> shift & 0xff]++] = sorted[j];
        std::swap(sorted, other);
    }
    // An even number of passes: the result is back in the first array.
}

struct builder {
    const engine_inputs &in;
    template_tree *tree;
    int32_t *order;  // template indices in code order
    int32_t next_node = 0;

    double *lower(int32_t node) const { return tree->boxes + static_cast<size_t>(node) * 2 * in.d; }

    void fill_leaf(int32_t node, int32_t begin, int32_t end, int32_t first_lane) const {
        // Sorted by class within the leaf, so that a visit sums each class's run at once.
#if defined(__GNUC__)
        // The next leaf's row pointers and classes, which sit anywhere: asked
        // for now, they are there when it is filled.
        for (int32_t k = end; k < std::min<int32_t>(end + leaf_templates, in.N); ++k) {
            __builtin_prefetch(in.templates + order[k]);
            __builtin_prefetch(in.class_of_template + order[k]);
        }
#endif
        // (An insertion sort: stable, and a leaf is small.)
        for (int32_t k = begin + 1; k < end; ++k) {
            const int32_t j = order[k], c = in.class_of_template[j];
            int32_t at = k;
            for (; at > begin && in.class_of_template[order[at - 1]] > c; --at) order[at] = order[at - 1];
            order[at] = j;
        }
        int32_t *counts = tree->class_counts ? tree->class_counts + static_cast<size_t>(node) * in.M : nullptr;
        double *lo = lower(node), *hi = lo + in.d;
        std::copy_n(in.templates[order[begin]], in.d, lo);
        std::copy_n(in.templates[order[begin]], in.d, hi);
        for (int32_t k = begin; k < end; ++k) {
#if defined(__GNUC__)
            if (k + 8 < end) __builtin_prefetch(in.templates[order[k + 8]]);
#endif
            const int32_t j = order[k], lane = first_lane + (k - begin);
            const int32_t c = in.class_of_template[j];
            tree->class_of_lane[lane] = c;
            tree->template_of_lane[lane] = j;
            if (counts) ++counts[c];
            const double *row = in.templates[j];
            double *column = tree->columns + static_cast<size_t>(lane / block_lanes) * block_lanes * in.d +
                             lane % block_lanes;
            for (int32_t i = 0; i < in.d; ++i) {
                column[i * block_lanes] = row[i];
                lo[i] = std::min(lo[i], row[i]);
                hi[i] = std::max(hi[i], row[i]);
            }
        }
    }

    // Builds the node over order[begin, end) from first_lane on; returns the
    // lane after its last.
    int32_t build(int32_t begin, int32_t end, int32_t first_lane) {
        const int32_t node = next_node++;
        const int32_t n = end - begin;
        tree->nodes[node] = {n, first_lane, -1, -1};
        if (n <= leaf_templates) {
            fill_leaf(node, begin, end, first_lane);
            return first_lane + whole_tiles(n);
        }
        const int32_t m = left_share(n);
        const int32_t left = next_node;
        const int32_t middle_lane = build(begin, begin + m, first_lane);
        const int32_t right = next_node;
        const int32_t after = build(begin + m, end, middle_lane);
        tree->nodes[node].left = left;
        tree->nodes[node].right = right;
        double *lo = lower(node), *hi = lo + in.d;
        const double *left_lo = lower(left), *right_lo = lower(right);
        for (int32_t i = 0; i < in.d; ++i) {
            lo[i] = std::min(left_lo[i], right_lo[i]);
            hi[i] = std::max(left_lo[in.d + i], right_lo[in.d + i]);
        }
        if (tree->class_counts) {
            int32_t *counts = tree->class_counts + static_cast<size_t>(node) * in.M;
            const int32_t *left_counts = tree->class_counts + static_cast<size_t>(left) * in.M;
            const int32_t *right_counts = tree->class_counts + static_cast<size_t>(right) * in.M;
            for (int32_t c = 0; c < in.M; ++c) counts[c] = left_counts[c] + right_counts[c];
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
    host_free(tree->template_of_lane);
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
    const size_t d = std::max<int32_t>(in.d, 1), N = std::max<int32_t>(in.N, 1);
    tree->nodes = static_cast<tree_node *>(host_calloc(nodes, sizeof(tree_node)));
    tree->boxes = static_cast<double *>(host_calloc(nodes * 2 * d, sizeof(double)));
    // Counts per class where they cost at most two ints per template.
    const bool counted = static_cast<int64_t>(nodes) * in.M <= 2 * static_cast<int64_t>(in.N) + 64;
    if (counted)
        tree->class_counts =
            static_cast<int32_t *>(host_calloc(nodes * std::max<int32_t>(in.M, 1), sizeof(int32_t)));
    tree->class_sizes = static_cast<int32_t *>(host_calloc(std::max<int32_t>(in.M, 1), sizeof(int32_t)));
    tree->columns = static_cast<double *>(host_calloc(lanes * d, sizeof(double)));
    tree->class_of_lane = static_cast<int32_t *>(host_calloc(lanes, sizeof(int32_t)));
    tree->template_of_lane = static_cast<int32_t *>(host_calloc(lanes, sizeof(int32_t)));
    // The sort works in the columns' memory where they have room for it (memory
    // touched for the first time is slow to come by); with one column they
    // have not.
    const bool sort_in_columns = lanes * d * sizeof(double) >= 2 * N * sizeof(keyed);
    keyed *sorting = sort_in_columns ? reinterpret_cast<keyed *>(tree->columns)
                                     : static_cast<keyed *>(host_calloc(2 * N, sizeof(keyed)));
    if (!tree->nodes || !tree->boxes || (counted && !tree->class_counts) || !tree->class_sizes || !tree->columns ||
        !tree->class_of_lane || !tree->template_of_lane || !sorting) {
        if (!sort_in_columns) host_free(sorting);
        free_template_tree(tree);
        return false;
    }
    for (int32_t j = 0; j < in.N; ++j) ++tree->class_sizes[in.class_of_template[j]];
    sort_by_code(in, sorting, sorting + N);
    // The order waits at the end of class_of_lane: filling the leaves in
    // order writes lane k' <= lanes - N + k for template k of the order,
    // never past what is still to be read.
    int32_t *order = tree->class_of_lane + (lanes - N);
    for (size_t k = 0; k < N; ++k) order[k] = sorting[k].index;
    if (!sort_in_columns) host_free(sorting);
    builder{in, tree, order}.build(0, in.N, 0);
    // Padding lanes: zeros, of no class.
    for (int32_t node = 0; node < tree->node_count; ++node) {
        const tree_node &at = tree->nodes[node];
        if (at.left >= 0) continue;
        for (int32_t lane = at.first_lane + at.count; lane < at.first_lane + whole_tiles(at.count); ++lane) {
            tree->class_of_lane[lane] = -1;
            tree->template_of_lane[lane] = 0;
            double *column = tree->columns + static_cast<size_t>(lane / block_lanes) * block_lanes * in.d +
                             lane % block_lanes;
            for (int32_t i = 0; i < in.d; ++i) column[i * block_lanes] = 0.0;
        }
    }
    return true;
}

}  // namespace vendral
