// The template tree itself: every template in exactly one leaf lane, boxes
// that are their templates' bounding boxes, class counts that add up, leaves
// sorted by class, padding lanes of zeros and no class; and the same tree
// (to the bit) whatever the number of threads and wherever the rows lie.
// Built through the built-in host, whose unzeroed blocks are filled with a
// byte that shows any value read before it is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "builtin_host/builtin_host.h"
#include "classifier/tiles/fast_distance.h"
#include "classifier/host_services.h"
#include "classifier/tree/template_tree.h"

namespace {

struct template_set {
    int32_t d = 0, M = 0;
    std::vector<double> block;                 // row after row
    std::vector<std::vector<double>> own_rows;  // the same rows, each in its own vector
    std::vector<int32_t> class_of;
    std::vector<const double *> in_block, apart;

    int32_t N() const { return static_cast<int32_t>(class_of.size()); }

    vendral::engine_inputs inputs(bool rows_in_block) const {
        vendral::engine_inputs in{};
        in.N = N();
        in.d = d;
        in.templates = rows_in_block ? in_block.data() : apart.data();
        in.class_of_template = class_of.data();
        in.M = M;
        return in;
    }
};

// Clustered rows; with duplicates, every row is one of a few (in several classes).
template_set make_templates(uint64_t seed, int32_t N, int32_t d, int32_t M, bool duplicates) {
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::normal_distribution<double> spread(0.0, 0.15);
    std::vector<std::vector<double>> centres(M, std::vector<double>(d));
    for (auto &centre : centres)
        for (double &x : centre) x = uniform(random);
    std::vector<std::vector<double>> few(7, std::vector<double>(d));
    for (auto &row : few)
        for (double &x : row) x = std::round(uniform(random) * 4) / 4;
    template_set set;
    set.d = d;
    set.M = M;
    for (int32_t j = 0; j < N; ++j) {
        const auto c = static_cast<int32_t>(random() % static_cast<uint64_t>(M));
        std::vector<double> row(d);
        for (int32_t i = 0; i < d; ++i)
            row[i] = duplicates ? few[random() % few.size()][i] : centres[c][i] + spread(random);
        set.class_of.push_back(c);
        set.own_rows.push_back(row);
        set.block.insert(set.block.end(), row.begin(), row.end());
    }
    for (int32_t j = 0; j < N; ++j) {
        set.in_block.push_back(set.block.data() + static_cast<size_t>(j) * d);
        set.apart.push_back(set.own_rows[j].data());
    }
    return set;
}

// The tree's arrays, copied out of the call that built them.
struct tree_copy {
    int32_t d = 0, M = 0, node_count = 0, lanes = 0;
    std::vector<vendral::tree_node> nodes;
    std::vector<double> boxes, columns;
    std::vector<int32_t> class_counts, class_sizes, class_of_lane, template_of_lane;
    bool counted = false;
};

template <typename T>
std::vector<T> copy_of(const T *data, size_t count) {
    return data ? std::vector<T>(data, data + count) : std::vector<T>();
}

tree_copy build(const vendral::engine_inputs &in, int threads) {
    tree_copy copy;
    builtin_host::call_options options;
    options.unzeroed_fill = 0xa5;
    bool built = false;
    const builtin_host::call_outcome outcome = builtin_host::within_call(
        [&] {
            vendral::template_tree tree;
            built = vendral::build_template_tree(in, threads, vendral::host_allocator(), &tree);
            if (!built) return;
            copy.d = tree.d;
            copy.M = tree.M;
            copy.node_count = tree.node_count;
            copy.lanes = tree.lanes;
            copy.nodes = copy_of(tree.nodes, tree.node_count);
            copy.boxes = copy_of(tree.boxes, static_cast<size_t>(tree.node_count) * 2 * tree.d);
            copy.counted = tree.class_counts != nullptr;
            copy.class_counts = copy_of(tree.class_counts, static_cast<size_t>(tree.node_count) * tree.M);
            copy.class_sizes = copy_of(tree.class_sizes, tree.M);
            copy.columns = copy_of(tree.columns, static_cast<size_t>(tree.lanes) * tree.d);
            copy.class_of_lane = copy_of(tree.class_of_lane, tree.lanes);
            copy.template_of_lane = copy_of(tree.template_of_lane, tree.lanes);
            vendral::free_template_tree(&tree, vendral::host_allocator());
        },
        options);
    EXPECT_TRUE(built);
    EXPECT_EQ(outcome.blocks_left, 0u);
    EXPECT_EQ(outcome.misuses, 0);
    // Host services from the calling thread only.
    EXPECT_EQ(outcome.off_thread_operations, 0);
    return copy;
}

double column_value(const tree_copy &tree, int32_t lane, int32_t i) {
    const size_t block = static_cast<size_t>(lane / vendral::block_lanes);
    return tree.columns[block * vendral::block_lanes * tree.d + static_cast<size_t>(i) * vendral::block_lanes +
                        lane % vendral::block_lanes];
}

int32_t tiles_for(int32_t n) { return (n + vendral::tile_lanes - 1) / vendral::tile_lanes * vendral::tile_lanes; }

// The templates under a node, from its leaves.
void templates_under(const tree_copy &tree, int32_t node, std::vector<int32_t> *out) {
    const vendral::tree_node &at = tree.nodes[node];
    if (at.left < 0) {
        for (int32_t lane = at.first_lane; lane < at.first_lane + at.count; ++lane)
            out->push_back(tree.template_of_lane[lane]);
        return;
    }
    templates_under(tree, at.left, out);
    templates_under(tree, at.right, out);
}

// A place along the Hilbert curve, as the textbook gives it (Skilling's
// axes-to-transpose, with its branches): the cells turned, in place; their
// bits, interleaved from the top down, column 0 first, are the place.
void hilbert_transpose(std::vector<uint32_t> &x, int bits) {
    const int32_t n = static_cast<int32_t>(x.size());
    for (uint32_t q = uint32_t{1} << (bits - 1); q > 1; q >>= 1) {
        const uint32_t p = q - 1;
        for (int32_t i = 0; i < n; ++i) {
            if (x[i] & q) {
                x[0] ^= p;
            } else {
                const uint32_t t = (x[0] ^ x[i]) & p;
                x[0] ^= t;
                x[i] ^= t;
            }
        }
    }
    for (int32_t i = 1; i < n; ++i) x[i] ^= x[i - 1];
    uint32_t t = 0;
    for (uint32_t q = uint32_t{1} << (bits - 1); q > 1; q >>= 1)
        if (x[n - 1] & q) t ^= q - 1;
    for (uint32_t &cell : x) cell ^= t;
}

uint64_t interleaved(const std::vector<uint32_t> &x, int bits) {
    uint64_t code = 0;
    for (int bit = bits - 1; bit >= 0; --bit)
        for (const uint32_t cell : x) code = code << 1 | (cell >> bit & 1u);
    return code;
}

// The reference is a Hilbert curve: along it, every cell of a grid comes
// once, each next to the one before (one column differs, by one).
TEST(HilbertReference, VisitsEveryCellOnceEachNextToTheLast) {
    for (const int32_t d : {2, 3, 4}) {
        constexpr int bits = 4;
        const int32_t cells = 1 << (bits * d);
        std::vector<std::vector<uint32_t>> at_place(cells);
        for (int32_t c = 0; c < cells; ++c) {
            std::vector<uint32_t> x(d);
            for (int32_t i = 0; i < d; ++i) x[i] = static_cast<uint32_t>(c) >> (bits * i) & ((1u << bits) - 1);
            std::vector<uint32_t> turned = x;
            hilbert_transpose(turned, bits);
            const uint64_t place = interleaved(turned, bits);
            ASSERT_LT(place, static_cast<uint64_t>(cells));
            ASSERT_TRUE(at_place[place].empty()) << "d " << d << " place " << place << " taken twice";
            at_place[place] = x;
        }
        for (int32_t place = 1; place < cells; ++place) {
            int32_t steps = 0;
            for (int32_t i = 0; i < d; ++i)
                steps += std::abs(static_cast<int32_t>(at_place[place][i]) - static_cast<int32_t>(at_place[place - 1][i]));
            ASSERT_EQ(steps, 1) << "d " << d << " place " << place;
        }
    }
}

// The codes: the cells of the first (up to 32) columns in the templates'
// bounding box; with two columns or more, their place along the Hilbert curve.
std::vector<uint32_t> hilbert_codes(const template_set &set) {
    const int32_t columns = std::min(set.d, 32), bits = 32 / columns;
    const uint32_t top = static_cast<uint32_t>((uint64_t{1} << bits) - 1);
    std::vector<double> low(columns), scale(columns);
    for (int32_t i = 0; i < columns; ++i) {
        double lo = set.own_rows[0][i], hi = lo;
        for (const auto &row : set.own_rows) {
            lo = std::min(lo, row[i]);
            hi = std::max(hi, row[i]);
        }
        low[i] = lo;
        scale[i] = hi > lo ? std::ldexp(1.0, bits) / (hi - lo) : 0.0;
    }
    std::vector<uint32_t> codes;
    for (const auto &row : set.own_rows) {
        std::vector<uint32_t> x(columns);
        for (int32_t i = 0; i < columns; ++i) {
            const double at = (row[i] - low[i]) * scale[i];
            x[i] = at >= top ? top : at > 0 ? static_cast<uint32_t>(at) : 0;
        }
        if (columns > 1) hilbert_transpose(x, bits);
        codes.push_back(static_cast<uint32_t>(interleaved(x, bits)));
    }
    return codes;
}

// The leaves, in node order, take the templates in the order of their codes
// (equal codes: in template order); a leaf itself is sorted by class.
void expect_code_order(const tree_copy &tree, const template_set &set) {
    const std::vector<uint32_t> codes = hilbert_codes(set);
    bool have_before = false;
    uint64_t last_before = 0;  // code * 2^32 + index: the greatest of the leaves before
    for (int32_t node = 0; node < tree.node_count; ++node) {
        const vendral::tree_node &at = tree.nodes[node];
        if (at.left >= 0 || at.count == 0) continue;
        uint64_t least = UINT64_MAX, greatest = 0;
        for (int32_t lane = at.first_lane; lane < at.first_lane + at.count; ++lane) {
            const int32_t j = tree.template_of_lane[lane];
            const uint64_t key = uint64_t{codes[j]} << 32 | static_cast<uint32_t>(j);
            least = std::min(least, key);
            greatest = std::max(greatest, key);
        }
        if (have_before) {
            EXPECT_LT(last_before, least) << "leaf " << node;
        }
        have_before = true;
        last_before = greatest;
    }
}

void expect_valid(const tree_copy &tree, const template_set &set, const std::string &label) {
    SCOPED_TRACE(label);
    const int32_t N = set.N(), d = set.d, M = set.M;
    ASSERT_EQ(tree.d, d);
    ASSERT_EQ(tree.M, M);
    ASSERT_GE(tree.node_count, 1);
    ASSERT_EQ(tree.nodes[0].count, N);
    EXPECT_EQ(tree.class_sizes, [&] {
        std::vector<int32_t> sizes(M, 0);
        for (int32_t c : set.class_of) ++sizes[c];
        return sizes;
    }());
    std::vector<int32_t> seen(N, 0);
    int32_t next_lane = 0;  // leaves in node order take the lanes in order
    for (int32_t node = 0; node < tree.node_count; ++node) {
        SCOPED_TRACE("node " + std::to_string(node));
        const vendral::tree_node &at = tree.nodes[node];
        std::vector<int32_t> under;
        templates_under(tree, node, &under);
        ASSERT_EQ(static_cast<int32_t>(under.size()), at.count);
        if (at.left < 0) {
            ASSERT_LE(at.count, vendral::leaf_templates);
            ASSERT_EQ(at.first_lane, next_lane);
            ASSERT_EQ(at.first_lane % vendral::tile_lanes, 0);
            next_lane += tiles_for(at.count);
            ASSERT_LE(next_lane, tree.lanes);
            for (int32_t lane = at.first_lane; lane < at.first_lane + tiles_for(at.count); ++lane) {
                if (lane >= at.first_lane + at.count) {
                    EXPECT_EQ(tree.class_of_lane[lane], -1);
                    EXPECT_EQ(tree.template_of_lane[lane], 0);
                    for (int32_t i = 0; i < d; ++i) {
                        const double value = column_value(tree, lane, i);
                        EXPECT_TRUE(value == 0.0 && !std::signbit(value)) << "padding lane " << lane;
                    }
                    continue;
                }
                const int32_t j = tree.template_of_lane[lane];
                ASSERT_GE(j, 0);
                ASSERT_LT(j, N);
                ++seen[j];
                EXPECT_EQ(tree.class_of_lane[lane], set.class_of[j]);
                if (lane > at.first_lane) {
                    EXPECT_LE(tree.class_of_lane[lane - 1], tree.class_of_lane[lane]);
                }
                for (int32_t i = 0; i < d; ++i) EXPECT_EQ(column_value(tree, lane, i), set.own_rows[j][i]);
            }
        } else {
            ASSERT_GT(at.count, vendral::leaf_templates);
            ASSERT_GT(at.left, node);
            ASSERT_GT(at.right, at.left);
            ASSERT_LT(at.right, tree.node_count);
            EXPECT_EQ(tree.nodes[at.left].count + tree.nodes[at.right].count, at.count);
        }
        // The box is its templates' bounding box.
        const double *lo = &tree.boxes[static_cast<size_t>(node) * 2 * d], *hi = lo + d;
        for (int32_t i = 0; i < d; ++i) {
            double low = set.own_rows[under[0]][i], high = low;
            for (int32_t j : under) {
                low = std::min(low, set.own_rows[j][i]);
                high = std::max(high, set.own_rows[j][i]);
            }
            EXPECT_EQ(lo[i], low) << "column " << i;
            EXPECT_EQ(hi[i], high) << "column " << i;
        }
        if (tree.counted) {
            std::vector<int32_t> counts(M, 0);
            for (int32_t j : under) ++counts[set.class_of[j]];
            EXPECT_EQ(std::vector<int32_t>(tree.class_counts.begin() + static_cast<size_t>(node) * M,
                                           tree.class_counts.begin() + static_cast<size_t>(node + 1) * M),
                      counts);
        }
    }
    EXPECT_EQ(next_lane, tree.lanes);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), N) << "every template exactly once";
    expect_code_order(tree, set);
}

template <typename T>
bool same_bits(const std::vector<T> &a, const std::vector<T> &b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

void expect_same(const tree_copy &a, const tree_copy &b, const std::string &label) {
    SCOPED_TRACE(label);
    ASSERT_EQ(a.node_count, b.node_count);
    ASSERT_EQ(a.lanes, b.lanes);
    EXPECT_TRUE(same_bits(a.nodes, b.nodes));  // four ints: no padding bytes
    EXPECT_TRUE(same_bits(a.boxes, b.boxes));
    EXPECT_TRUE(same_bits(a.class_counts, b.class_counts));
    EXPECT_TRUE(same_bits(a.class_sizes, b.class_sizes));
    EXPECT_TRUE(same_bits(a.columns, b.columns));
    EXPECT_TRUE(same_bits(a.class_of_lane, b.class_of_lane));
    EXPECT_TRUE(same_bits(a.template_of_lane, b.template_of_lane));
}

struct tree_case {
    int32_t N, d, M;
    bool duplicates;
};

// Valid, and the same for 1, 2 and 3 threads and for rows in one block or
// each apart. Sizes from a lone leaf to enough templates for threads to share
// the work (which takes 2^15 each), most not a whole number of tiles; one
// column (where the sort has no room in the columns), three (the usual case),
// many classes (leaves sorted without counting; no count table).
TEST(TemplateTree, ValidAndTheSameForAnyThreadCountAndRowLayout) {
    const tree_case cases[] = {{1, 3, 2, false},       {33, 2, 3, false},      {64, 3, 10, false},
                               {65, 3, 10, false},     {1000, 1, 4, false},    {5001, 5, 7, true},
                               {4000, 3, 300, false},  {70001, 3, 10, false},  {70001, 1, 10, false},
                               {70007, 2, 10, true},   {131101, 3, 10, false}, {66000, 40, 3, false}};
    uint64_t seed = 1;
    for (const tree_case &c : cases) {
        const std::string label = "N " + std::to_string(c.N) + " d " + std::to_string(c.d) + " M " +
                                  std::to_string(c.M) + (c.duplicates ? " with duplicates" : "");
        const template_set set = make_templates(++seed, c.N, c.d, c.M, c.duplicates);
        const tree_copy one = build(set.inputs(true), 1);
        expect_valid(one, set, label);
        expect_same(one, build(set.inputs(true), 2), label + ", 2 threads");
        expect_same(one, build(set.inputs(true), 3), label + ", 3 threads");
        expect_same(one, build(set.inputs(false), 1), label + ", rows apart");
        expect_same(one, build(set.inputs(false), 2), label + ", rows apart, 2 threads");
        if (c.M > 256) {
            EXPECT_FALSE(one.counted) << label;
        }
    }
}

// A column whose range overflows to infinity (its codes are all 0) still
// gives a valid tree.
TEST(TemplateTree, ValidWhereAColumnsRangeOverflows) {
    template_set set = make_templates(77, 70001, 2, 5, false);
    for (int32_t j = 0; j < set.N(); ++j) {
        const double huge = (j % 3 == 0 ? -1.5e308 : 1.5e308) * (1.0 + 1e-3 * (j % 7));
        set.own_rows[j][0] = huge;
        set.block[static_cast<size_t>(j) * 2] = huge;
    }
    const tree_copy one = build(set.inputs(true), 1);
    expect_valid(one, set, "overflowing range");
    expect_same(one, build(set.inputs(false), 2), "overflowing range, rows apart, 2 threads");
}

// Each refused allocation: false, nothing left allocated, and no host service
// called after.
TEST(TemplateTree, EveryRefusedAllocationLeavesNothing) {
    for (const int32_t d : {1, 3}) {
        const template_set set = make_templates(5, 70001, d, 4, false);
        const vendral::engine_inputs in = set.inputs(true);
        uint64_t allocations = 0;
        {
            const builtin_host::call_outcome clean = builtin_host::within_call([&] {
                vendral::template_tree tree;
                ASSERT_TRUE(vendral::build_template_tree(in, 2, vendral::host_allocator(), &tree));
                vendral::free_template_tree(&tree, vendral::host_allocator());
            });
            allocations = clean.allocations;
        }
        ASSERT_GT(allocations, 0u);
        for (uint64_t refused = 1; refused <= allocations; ++refused) {
            builtin_host::call_options options;
            options.fail_allocation = refused;
            bool built = true;
            const builtin_host::call_outcome outcome = builtin_host::within_call(
                [&] {
                    vendral::template_tree tree;
                    built = vendral::build_template_tree(in, 2, vendral::host_allocator(), &tree);
                    if (built) vendral::free_template_tree(&tree, vendral::host_allocator());
                },
                options);
            EXPECT_FALSE(built) << "d " << d << ", allocation " << refused;
            EXPECT_EQ(outcome.blocks_left, 0u) << "d " << d << ", allocation " << refused;
            EXPECT_EQ(outcome.misuses, 0);
        }
    }
}

}  // namespace
