// The templates go in the order of their Hilbert codes (code_order.h); the
// nodes split that order, and each node's box is the bounding box of its
// templates. Sorting the codes (a radix sort) costs a few passes over the
// templates, where choosing a median per node would cost one per level.
//
// The tree's shape depends on N only: a node of n > leaf_templates templates
// splits at m, n/2 rounded up to whole tiles, so that every left part fills
// whole tiles; a leaf's lanes are padded to the next tile. So the nodes
// below a given depth form subtrees whose node numbers, templates and lanes
// are known before any is built: threads build them at once, each alone.
#include "classifier/tree/template_tree.h"

#include <algorithm>
#include <atomic>

#include "classifier/tree/code_order.h"
#include "classifier/tiles/fast_distance.h"
#include "classifier/engine/worker_parts.h"

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

// Below this many templates the tree is built on one thread: starting
// threads would cost more than they save.
constexpr int32_t fewest_templates_per_part = 1 << 15;
// Threads take subtrees from a common pool, a few each, so that one held up
// (by another program on the core) does not hold up the build.
constexpr int subtrees_per_part = 4;
constexpr int most_subtrees = most_sort_parts * subtrees_per_part;
// Up to this many classes, a leaf is sorted by class by counting.
constexpr int32_t classes_counted_in_leaf = 256;

// A subtree for one thread: its root's number, its templates (positions in
// code order) and its first lane. index_at[k] is the template at position k,
// for k in [begin, end), and class_at[k] its class.
struct subtree {
    int32_t node, begin, end, first_lane;
    const int32_t *index_at, *class_at;
};

struct builder {
    const engine_inputs &in;
    template_tree *tree;
    const int32_t *index_at, *class_at;  // the templates and their classes by position in code order
    int32_t order_end;                   // the first position not the subtree's
    int32_t next_node;
    // Where the rows lie one after the other in one block: its start, so that
    // a row's place is known without reading its pointer. Else null.
    const double *row_block;

    const double *row(int32_t j) const {
        return row_block ? row_block + static_cast<size_t>(j) * in.d : in.templates[j];
    }

    double *lower(int32_t node) const { return tree->boxes + static_cast<size_t>(node) * 2 * in.d; }

    // The n templates from_index (their classes from_class) into index and
    // class_of, sorted by class, stably.
    void sort_by_class(const int32_t *from_index, const int32_t *from_class, int32_t n, int32_t *index,
                       int32_t *class_of) const {
        if (in.M <= classes_counted_in_leaf) {
            // Counted: a few passes over the leaf.
            int32_t start[classes_counted_in_leaf];
            std::fill_n(start, in.M, 0);
            for (int32_t k = 0; k < n; ++k) ++start[from_class[k]];
            int32_t sum = 0;
            for (int32_t c = 0; c < in.M; ++c) {
                const int32_t count = start[c];
                start[c] = sum;
                sum += count;
            }
            for (int32_t k = 0; k < n; ++k) {
                const int32_t at = start[from_class[k]]++;
                index[at] = from_index[k];
                class_of[at] = from_class[k];
            }
            return;
        }
        // Else an insertion sort: a leaf is small.
        for (int32_t k = 0; k < n; ++k) {
            const int32_t j = from_index[k], c = from_class[k];
            int32_t at = k;
            for (; at > 0 && class_of[at - 1] > c; --at) {
                index[at] = index[at - 1];
                class_of[at] = class_of[at - 1];
            }
            index[at] = j;
            class_of[at] = c;
        }
    }

    // The leaf's templates, sorted by class (stably) so that a visit sums each
    // class's run at once.
    void fill_leaf(int32_t node, int32_t begin, int32_t end, int32_t first_lane) const {
#if defined(__GNUC__)
        // The rows sit anywhere. Asked for a leaf ahead (their pointers two
        // leaves ahead), they are there when that leaf is filled.
        const int32_t ahead = std::min(end + leaf_templates, order_end);
        if (row_block) {
            for (int32_t k = end; k < ahead; ++k) {
                const double *at = row(index_at[k]);
                __builtin_prefetch(at);
                __builtin_prefetch(at + in.d - 1);
            }
        } else {
            const int32_t further = std::min(ahead + leaf_templates, order_end);
            for (int32_t k = end; k < ahead; ++k) __builtin_prefetch(in.templates[index_at[k]]);
            for (int32_t k = ahead; k < further; ++k) __builtin_prefetch(in.templates + index_at[k]);
        }
#endif
        // Read before any lane is written: the order shares the lanes' memory.
        const int32_t n = end - begin;
        int32_t index[leaf_templates], class_of[leaf_templates];
        sort_by_class(index_at + begin, class_at + begin, n, index, class_of);
        int32_t *counts = tree->class_counts ? tree->class_counts + static_cast<size_t>(node) * in.M : nullptr;
        if (counts) {
            std::fill_n(counts, in.M, 0);
            for (int32_t k = 0; k < n; ++k) ++counts[class_of[k]];
        }
        const int32_t padded = whole_tiles(n);
        const double *row_of[leaf_templates];
        for (int32_t k = 0; k < n; ++k) {
            row_of[k] = row(index[k]);
            tree->class_of_lane[first_lane + k] = class_of[k];
            tree->template_of_lane[first_lane + k] = index[k];
        }
        // Padding: zeros, of no class.
        for (int32_t k = n; k < padded; ++k) {
            tree->class_of_lane[first_lane + k] = -1;
            tree->template_of_lane[first_lane + k] = 0;
        }
        // Column by column: the box's bounds stay in registers. The leaf
        // starts on a tile, so lane k sits in the leaf's block k / block_lanes.
        double *lo = lower(node), *hi = lo + in.d;
        double *leaf_columns = tree->columns + static_cast<size_t>(first_lane) * in.d;
        for (int32_t i = 0; i < in.d; ++i) {
            double low = n > 0 ? row_of[0][i] : 0.0, high = low;
            for (int32_t k = 0; k < padded; ++k) {
                double *column = leaf_columns + static_cast<size_t>(k / block_lanes) * block_lanes * in.d +
                                 i * block_lanes + k % block_lanes;
                if (k >= n) {
                    *column = 0.0;
                    continue;
                }
                const double value = row_of[k][i];
                *column = value;
                low = std::min(low, value);
                high = std::max(high, value);
            }
            lo[i] = low;
            hi[i] = high;
        }
    }

    // The box and counts of an inner node, from its children's.
    void join_children(int32_t node) const {
        const int32_t left = tree->nodes[node].left, right = tree->nodes[node].right;
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
    }

    // Builds the node over positions [begin, end) from first_lane on; returns
    // the lane after its last.
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
        join_children(node);
        return after;
    }
};

// The nodes above the subtrees: numbered as a build from the root would
// number them (depth first, left first).
struct top_of_tree {
    template_tree *tree;
    int subtree_depth;
    subtree subtrees[most_subtrees];
    order_segment segments[most_subtrees];
    int count = 0;

    // Lays out the node over positions [begin, end), down to the subtrees;
    // each subtree's order goes to the end of its lanes in template_of_lane
    // (the classes likewise in class_of_lane), where its build reads a
    // position before it writes over it (a position's lane is never after
    // where the position waits).
    void plan(int32_t node, int32_t begin, int32_t end, int32_t first_lane, int depth) {
        const int32_t n = end - begin;
        if (depth == subtree_depth || n <= leaf_templates) {
            shape s;
            measure(n, &s);
            const int64_t waits = first_lane + s.lanes - end;
            int32_t *index_at = tree->template_of_lane + waits, *class_at = tree->class_of_lane + waits;
            subtrees[count] = {node, begin, end, first_lane, index_at, class_at};
            segments[count] = {end, index_at, class_at};
            ++count;
            return;
        }
        const int32_t m = left_share(n);
        shape left;
        measure(m, &left);
        const auto right = static_cast<int32_t>(node + 1 + left.nodes);
        tree->nodes[node] = {n, first_lane, node + 1, right};
        plan(node + 1, begin, begin + m, first_lane, depth + 1);
        plan(right, begin + m, end, static_cast<int32_t>(first_lane + left.lanes), depth + 1);
    }

    // The boxes and counts of the nodes above the subtrees, once these are built.
    void join(const builder &b, int32_t node, int depth) const {
        const tree_node &at = tree->nodes[node];
        if (depth == subtree_depth || at.left < 0) return;
        join(b, at.left, depth + 1);
        join(b, at.right, depth + 1);
        b.join_children(node);
    }
};

int depth_for(int subtrees) {
    int depth = 0;
    while ((1 << depth) < subtrees) ++depth;
    return depth;
}

// The parts of one block, each on a cache line of its own.
struct block_layout {
    size_t bytes = 0;
    bool fits = true;  // false when the block would not fit a size_t

    // The offset of a part of count elements of size bytes each.
    size_t add(size_t count, size_t size) {
        constexpr size_t line = 64;
        const size_t at = bytes;
        if (count > (SIZE_MAX - line) / size) fits = false;
        const size_t part = fits ? (count * size + line - 1) / line * line : 0;
        if (part > SIZE_MAX - bytes) fits = false;
        bytes = fits ? bytes + part : bytes;
        return at;
    }
};

}  // namespace

void free_template_tree(template_tree *tree, const allocator &memory) {
    memory.release(tree->block);
    *tree = template_tree{};
}

bool build_template_tree(const engine_inputs &in, int threads, const allocator &memory, template_tree *tree) {
    shape s;
    measure(in.N, &s);
    tree->d = in.d;
    tree->M = in.M;
    tree->node_count = static_cast<int32_t>(s.nodes);
    tree->lanes = static_cast<int32_t>(s.lanes);
    const size_t nodes = static_cast<size_t>(s.nodes), lanes = std::max<size_t>(s.lanes, 1);
    const size_t d = std::max<int32_t>(in.d, 1), N = std::max<int32_t>(in.N, 1), M = std::max<int32_t>(in.M, 1);
    // Counts per class where they cost at most two ints per template.
    const bool counted = static_cast<int64_t>(nodes) * in.M <= 2 * static_cast<int64_t>(in.N) + 64;
    block_layout layout;
    const size_t nodes_at = layout.add(nodes, sizeof(tree_node));
    const size_t boxes_at = layout.add(nodes, 2 * d * sizeof(double));
    const size_t counts_at = layout.add(counted ? nodes : 0, M * sizeof(int32_t));
    const size_t sizes_at = layout.add(M, sizeof(int32_t));
    const size_t columns_at = layout.add(lanes, d * sizeof(double));
    const size_t classes_at = layout.add(lanes, sizeof(int32_t));
    const size_t templates_at = layout.add(lanes, sizeof(int32_t));
    // Every part but the class sizes is written whole below.
    char *block = layout.fits ? static_cast<char *>(memory.unzeroed(layout.bytes, 1)) : nullptr;
    if (block == nullptr) {
        *tree = template_tree{};
        return false;
    }
    tree->block = block;
    tree->bytes = layout.bytes;
    tree->nodes = reinterpret_cast<tree_node *>(block + nodes_at);
    tree->boxes = reinterpret_cast<double *>(block + boxes_at);
    tree->class_counts = counted ? reinterpret_cast<int32_t *>(block + counts_at) : nullptr;
    tree->class_sizes = reinterpret_cast<int32_t *>(block + sizes_at);
    std::fill_n(tree->class_sizes, M, 0);
    tree->columns = reinterpret_cast<double *>(block + columns_at);
    tree->class_of_lane = reinterpret_cast<int32_t *>(block + classes_at);
    tree->template_of_lane = reinterpret_cast<int32_t *>(block + templates_at);
    // The sort works in the columns' memory where they have room for it (memory
    // touched for the first time is slow to come by); with one column they
    // have not.
    const bool sort_in_columns = lanes * d * sizeof(double) >= 2 * N * sizeof(keyed_template);
    keyed_template *sorting = sort_in_columns
                                  ? reinterpret_cast<keyed_template *>(tree->columns)
                                  : static_cast<keyed_template *>(memory.unzeroed(2 * N, sizeof(keyed_template)));
    if (!sorting) {
        free_template_tree(tree, memory);
        return false;
    }
    // From here to the end of the subtrees' build, no allocation.
    const int parts = std::max(1, std::min({threads, most_sort_parts, in.N / fewest_templates_per_part}));
    top_of_tree top;
    top.tree = tree;
    top.subtree_depth = parts > 1 ? depth_for(parts * subtrees_per_part) : 0;
    top.plan(0, 0, in.N, 0, 0);
    const bool rows_in_block = order_by_code(in, sorting, top.segments, parts);
    const double *row_block = rows_in_block ? in.templates[0] : nullptr;
    std::atomic<int> next_subtree{0};
    run_parts(parts, [&](int) {
        for (int t; (t = next_subtree.fetch_add(1, std::memory_order_relaxed)) < top.count;) {
            const subtree &at = top.subtrees[t];
            builder{in, tree, at.index_at, at.class_at, at.end, at.node, row_block}.build(at.begin, at.end, at.first_lane);
        }
    });
    if (!sort_in_columns) memory.release(sorting);
    top.join(builder{in, tree, nullptr, nullptr, 0, 0, nullptr}, 0, 0);
    if (counted)
        std::copy_n(tree->class_counts, in.M, tree->class_sizes);
    else
        for (int32_t j = 0; j < in.N; ++j) ++tree->class_sizes[in.class_of_template[j]];
    return true;
}

}  // namespace vendral
