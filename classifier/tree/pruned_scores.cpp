// Why the bound on an unvisited node holds against the literal evaluation.
//
// The distance. For a template a inside a node's box [lo, hi] and a pattern y,
// |a_i - y_i| >= g_i = max(lo_i - y_i, 0, y_i - hi_i) in every column, so the
// exact Minkowski distance ||a - y||_p >= ||g||_p for every p >= 1 and p =
// +inf. The literal distance rounds: with u = 2^-53 its sum of d terms and
// its root are within (2d + 8)u of the exact value (fast_distance.cpp), and
// box_distance_floor's own ||g||_p is within as much of the exact one, while
// both sums lie in [2^-1000, 2^1000]. For d <= max_pruned_columns = 1024
// that is below 2^-42, so ||g||_p (1 - 2^-40) is below the literal distance.
// Outside that range: a power sum of the gaps below 2^-1000 gives the floor
// 0; one above 2^1000 has a largest gap g_max with g_max^p >= 2^990, so the
// literal sum is at least g_max^p (1 - 2u) (or +inf) and g_max (1 - 2^-40)
// is a floor. For p = 1 and p = +inf the literal arithmetic is
// monotonic in each |a_i - y_i| (a rounded subtraction, sum or maximum of
// larger operands is never smaller), so the same sum or maximum of the g_i,
// which box_distance_floor computes, is a floor as it stands; the factor
// applies all the same.
//
// The kernel. The literal gaussian and laplacian kernels take x/h, square
// and scale it (each a monotonic rounding) and call exp, within 1 ulp: at any
// literal distance x >= x_floor the literal value is at most exp of the
// argument at x_floor times (1 + 2u), that is at most the literal value at
// x_floor times (1 + 2u) / (1 - 2u) < 1 + 2^-40, or, among subnormal
// values, that value plus 2^-1074. So K_up = K(x_floor) (1 + 2^-40) +
// 2^-1070 bounds every literal term of a node, and count * K_up all of them.
//
// Exact zeros. A node whose K(x_floor) is exactly 0 adds exactly 0: the
// literal argument of each of its templates is at most the one at x_floor
// (the same monotonic roundings), and the literal exp, 0 there, is 0 at every
// smaller argument (its results below 2^-1075 round to 0; the test
// KernelZeros.LiteralExponentialUnderflowsToZeroBeyondItsFirstZero holds the
// library to it). Such a node's bound is 0, with no slack.
//
// The sums. skipped_c, the sum of count_c(node) K_up over the unvisited
// nodes, adds fewer than 2^31 products: rounded, it is within 2^-21 of the
// exact sum, so skipped_c (1 + 2^-20) bounds T_skip, the exact sum of the
// class's literal terms in unvisited nodes.
//
// The class score. The literal score L adds all n_c literal terms in
// template order: |L - T| <= (n_c - 1)u T with T = T_visited + T_skip. The
// fast sum V of the visited templates' fast terms is within the kernel's
// bound (sensitivity, value and per-term parts) and (n - 1)u of T_visited.
// So |L - V| <= class_score_bound(bound, S, V + skipped_c, n_c) + skipped_c:
// its 2 n_c u (V + skipped_c) covers both roundings, and skipped_c covers
// T_skip. n_c is the class's full count: the literal sum has all n_c terms.
//
// Exact class scores. Where two classes stay too close to call after their
// nodes are visited (both near or below the underflow threshold, or a true
// tie), their literal scores are computed: the literal terms of the class's
// templates outside the exact-zero nodes, added in template order (the
// others add exactly 0 to the literal sum, so leaving them out changes no
// bit). The rule then compares exact scores exactly, ties included.
#include "classifier/tree/pruned_scores.h"

#include <algorithm>
#include <cmath>

#include "classifier/tiles/fast_distance.h"
#include "classifier/tiles/kernel_values.h"
#include "classifier/engine/worker_parts.h"

namespace vendral {

namespace {

constexpr double distance_shrink = 1.0 - 0x1p-40;
constexpr double kernel_growth = 1.0 + 0x1p-40;
constexpr double subnormal_slack = 0x1p-1070;
constexpr double sum_growth = 1.0 + 0x1p-20;

// Visiting stops once the bound on what every unvisited node could still add
// is below first_share of the largest class sum so far, or below lead_share
// of the gap between the two largest (the rule is then likely settled: on
// W5's mixture this halves the templates visited). A comparison the
// bounds leave unsettled then sends the visits to the nodes holding its two
// classes, first_batch leaves at first, twice as many each time after, until
// they settle it, none are left (a near-tie or a tie) or what is left is
// below hopeless (scores that may be subnormal): then the two classes'
// literal scores decide. Any share is exact (the final check is); it only
// trades visits against literal work.
constexpr double first_share = 0x1p-30;
constexpr double lead_share = 0.5;
constexpr int64_t first_batch = 2;
constexpr double hopeless = 0x1p-1000;

// The automatic choice: patterns tried, and the share of the templates they
// may visit on average for the tree to be kept.
constexpr int32_t probe_patterns = 32;
constexpr double largest_visited_share = 0.25;

// The check for non-finite templates: threads, and rows for each below which
// another thread would cost more than it saves.
constexpr int most_finite_check_parts = 16;
constexpr int32_t fewest_rows_per_finite_check = 1 << 15;

// The decision rule (decision.h) on scores known within an error each: two
// exact scores (error 0) go through the literal rule's own step, ties
// included; otherwise the comparison is settled only when the two differ by
// more than their errors (as the brute-force path's rule does), and then no
// tie is possible and the winner is the literal one.
struct bounded_rule {
    decision_rule literal;  // the rule's state; its best is exact where best_error is 0
    double best_error = 0.0;
    bool settled = true;

    void take(double score, double error) {
        if (error == 0.0 && best_error == 0.0) {
            literal.take(score);
            return;
        }
        // (Unsettled, the outcome is not used.)
        if (!(std::fabs(literal.best - score) > best_error + error)) settled = false;
        if (literal.take_unequal(score)) best_error = error;
    }
};

struct traversal {
    const pruned_setup &setup;
    const double *pattern;
    pruned_scratch *scratch;
    node_queue &waiting;
    double remaining = 0.0;  // about the sum of count * kernel over the nodes waiting
    double best = 0.0;       // the largest class sum so far
    int32_t leader = -1;     // its class
    double runner_up = 0.0;  // the largest sum of any other class
    int64_t leaves = 0;
    double ever_added = 0.0;  // everything remaining has held
    int64_t counted_at = -1;  // remaining last summed afresh after this many leaves

    double node_floor(int32_t node) const {
        const template_tree &tree = *setup.tree;
        const double *lower = tree.boxes + static_cast<size_t>(node) * 2 * tree.d;
        return setup.box_floor(lower, lower + tree.d, pattern, tree.d, setup.in->p);
    }

    // The bound on any one literal term of templates at distances of at least floor.
    double kernel_above(double floor) const {
        const double at_floor = setup.kernel_value(floor, setup.in->h);
        return at_floor == 0.0 ? 0.0 : at_floor * kernel_growth + subnormal_slack;
    }

    double kernel_of(int32_t node) const { return kernel_above(node_floor(node)); }

    // A node whose templates could each add at most the kernel bound's
    // per_term never waits: each class's score bound already allows per_term
    // for every template of the class (class_score_bound, with the class's
    // full count), visited or not. Nor could a visit to it settle anything.
    // A NaN bound tells nothing: the node waits (the queue takes it first).
    void push(int32_t node) { push(node, kernel_of(node)); }
    void push(int32_t node, double kernel) {
        if (kernel <= setup.bound.per_term) return;
        waiting.push(node, kernel);
        const double added = kernel * setup.tree->nodes[node].count;
        remaining += added;
        ever_added += added;
    }

    // The two largest class sums so far (sums only grow).
    void note_sum(int32_t c) {
        const double sum = scratch->value[c];
        if (c == leader) {
            best = sum;
        } else if (sum > best) {
            runner_up = best;
            best = sum;
            leader = c;
        } else {
            runner_up = std::max(runner_up, sum);
        }
    }

    // False when a tile's distances could not be bounded.
    bool visit_leaf(const tree_node &leaf) {
        const engine_inputs &in = *setup.in;
        const template_tree &tree = *setup.tree;
        double distance[tile_lanes];
        kernel_tile kernels;
        for (int32_t first = 0; first < leaf.count; first += tile_lanes) {
            const int32_t lane = leaf.first_lane + first;
            const int valid = static_cast<int>(std::min<int32_t>(tile_lanes, leaf.count - first));
            const double *columns = tree.columns + static_cast<size_t>(lane) * in.d;
            if (!setup.tile_distances(columns, pattern, in.d, in.p, valid, distance)) return false;
            setup.kernel_tile(distance, in.h, setup.distance_error, false, &kernels);
            // A leaf's templates come sorted by class: each run is summed on its own.
            const int32_t *classes = tree.class_of_lane + lane;
            for (int l = 0; l < valid;) {
                const int32_t c = classes[l];
                double value = 0.0, sensitivity = 0.0;
                for (; l < valid && classes[l] == c; ++l) {
                    value += kernels.value[l];
                    sensitivity += kernels.sensitivity[l];
                }
                scratch->value[c] += value;
                scratch->sensitivity[c] += sensitivity;
                note_sum(c);
            }
        }
        scratch->templates_visited += leaf.count;
        ++leaves;
        return true;
    }

    bool done(double share) {
        if (waiting.size == 0) return true;
        if (leaves == 0) return false;
        if (share == HUGE_VAL || remaining <= share * best) return true;
        // Where everything unvisited could not close the gap between the
        // two largest sums, the rule is likely settled: worth checking.
        if (remaining < lead_share * (best - runner_up)) return true;
        // The running sum keeps the rounding of everything once added and
        // taken away again (below ever_added 2^-50); where that could hide
        // the answer, it is summed afresh (at most once per leaf).
        if (remaining > share * best + ever_added * 0x1p-50 || leaves == counted_at) return false;
        counted_at = leaves;
        remaining = 0.0;
        waiting.for_each([this](int32_t node, double kernel) { remaining += kernel * setup.tree->nodes[node].count; });
        ever_added = remaining;
        return remaining <= share * best;
    }

    // Visits nodes nearest first until done(share); false as visit_leaf.
    bool visit(double share) {
        while (!done(share)) {
            int32_t next = waiting.pop();
            remaining -= waiting.kernel[next] * setup.tree->nodes[next].count;
            // Down the nearer child for as long as nothing waiting is nearer:
            // no round trip through the queue.
            for (;;) {
                const tree_node &node = setup.tree->nodes[next];
                if (node.left < 0) {
                    if (!visit_leaf(node)) return false;
                    break;
                }
                int32_t nearer = node.left, farther = node.right;
                double nearer_kernel = kernel_of(nearer), farther_kernel = kernel_of(farther);
                if (nearer_kernel < farther_kernel) {
                    std::swap(nearer, farther);
                    std::swap(nearer_kernel, farther_kernel);
                }
                push(farther, farther_kernel);
                if (nearer_kernel <= setup.bound.per_term) break;  // (a NaN bound: visited)
                if (waiting.size > 0 && node_queue::bucket_of(nearer_kernel) < waiting.nearest_bucket()) {
                    push(nearer, nearer_kernel);
                    break;
                }
                next = nearer;
            }
        }
        return true;
    }

    // Visits a leaf or puts a node's children in its place; false as visit_leaf.
    bool expand(int32_t next) {
        const tree_node &node = setup.tree->nodes[next];
        remaining -= waiting.kernel[next] * node.count;
        if (node.left >= 0) {
            push(node.left);
            push(node.right);
            return true;
        }
        return visit_leaf(node);
    }

    // Whether a node holds templates of class a or b (-1: none).
    bool holds(int32_t node, int32_t a, int32_t b) const {
        const template_tree &tree = *setup.tree;
        if (tree.class_counts == nullptr) return true;
        const int32_t *counts = tree.class_counts + static_cast<size_t>(node) * tree.M;
        return (a >= 0 && counts[a] > 0) || (b >= 0 && counts[b] > 0);
    }

    enum class refined { visited, exhausted, failed };

    // Visits up to `budget` leaves among the nodes holding templates of
    // class a or b, nearest first; the others wait aside, then go back.
    refined refine(int32_t a, int32_t b, int64_t budget) {
        int32_t aside = 0;
        int64_t visited = 0;
        refined result = refined::exhausted;
        while (waiting.size > 0) {
            const int32_t next = waiting.pop();
            if (!holds(next, a, b)) {
                scratch->aside[aside++] = next;
                continue;
            }
            if (waiting.kernel[next] <= hopeless) {  // nearest first: the others are at most twice as near
                scratch->aside[aside++] = next;
                break;
            }
            const bool leaf = setup.tree->nodes[next].left < 0;
            if (!expand(next)) {
                result = refined::failed;
                break;
            }
            if (leaf && ++visited >= budget) {
                result = refined::visited;
                break;
            }
        }
        // (A node set aside keeps its bound in the queue's arrays.)
        for (int32_t k = 0; k < aside; ++k) waiting.push(scratch->aside[k], waiting.kernel[scratch->aside[k]]);
        return result == refined::exhausted && visited > 0 ? refined::visited : result;
    }

    // Class c's literal score into scratch->exact[c]; false when it has more
    // templates outside the exact-zero nodes than the scratch holds.
    bool make_exact(int32_t c) {
        const engine_inputs &in = *setup.in;
        const template_tree &tree = *setup.tree;
        int32_t found = 0, stacked = 0;
        // Depth first: the stack holds at most one node per level and one more.
        int32_t stack[64];
        stack[stacked++] = 0;
        while (stacked > 0) {
            const int32_t node = stack[--stacked];
            if (!holds(node, c, -1) || kernel_above(node_floor(node)) == 0.0) continue;
            const tree_node &at = tree.nodes[node];
            if (at.left >= 0) {
                stack[stacked++] = at.left;
                stack[stacked++] = at.right;
                continue;
            }
            for (int32_t lane = at.first_lane; lane < at.first_lane + at.count; ++lane) {
                if (tree.class_of_lane[lane] != c) continue;
                if (found == scratch->exact_room) return false;
                scratch->templates[found++] = tree.template_of_lane[lane];
            }
        }
        std::sort(scratch->templates, scratch->templates + found);
        double score = 0.0;
        for (int32_t k = 0; k < found; ++k)
            score += setup.kernel_value(setup.literal_distance(in.templates[scratch->templates[k]], pattern, in.d, in.p),
                                        in.h);
        scratch->exact[c] = score;
        scratch->is_exact[c] = 1;
        return true;
    }

    // The rule on the visited sums with their bounds, classes in table order;
    // where it is not settled, the two classes of the first comparison it
    // could not settle (the first -1 when there was no winner yet).
    bool settled(decision *out, int32_t *a, int32_t *b) const {
        const engine_inputs &in = *setup.in;
        const template_tree &tree = *setup.tree;
        double *skipped = scratch->skipped;
        std::fill_n(skipped, in.M, 0.0);
        double skipped_all = 0.0;  // without counts per class: every class takes the node's count
        waiting.for_each([&](int32_t node, double kernel) {
            if (tree.class_counts == nullptr) {
                skipped_all += kernel * tree.nodes[node].count;
                return;
            }
            const int32_t *counts = tree.class_counts + static_cast<size_t>(node) * in.M;
            for (int32_t c = 0; c < in.M; ++c) skipped[c] += kernel * counts[c];
        });
        bounded_rule rule;
        for (int32_t c = 0; c < in.M; ++c) {
            const int32_t n = tree.class_sizes[c];
            if (scratch->is_exact[c]) {
                rule.take(scratch->exact[c], 0.0);
                continue;
            }
            const double skipped_c = (tree.class_counts ? skipped[c] : n > 0 ? skipped_all : 0.0) * sum_growth;
            const double value = scratch->value[c];
            const int32_t winner = rule.literal.outcome.winner;
            rule.take(value, class_score_bound(setup.bound, scratch->sensitivity[c], value + skipped_c, n) + skipped_c);
            if (!rule.settled) {
                *a = winner;
                *b = c;
                return false;
            }
        }
        *out = rule.literal.outcome;
        return true;
    }
};

}  // namespace

bool pruning_applies(const engine_inputs &in, const kernel_row &kernel, const norm_row &norm) {
    const bool falls_fast = kernel.value == gaussian_value || kernel.value == laplacian_value;
    if (!falls_fast || norm.tile_for_width == nullptr || in.N < 1 || in.d < 1 || in.d > max_pruned_columns)
        return false;
    // A node's bound, from its distance floor, covers a value at any larger
    // distance only while the kernel stays a number out to infinity: with
    // h = +inf it is 1 at every finite distance and NaN (inf/inf) at one
    // that overflows, in a box whose floor is finite as well.
    return !std::isnan(kernel.value(HUGE_VAL, in.h));
}

bool templates_all_finite(const engine_inputs &in, int threads) {
    // Every value read: the threads take a slice of the rows each.
    const int parts = std::max(1, std::min({threads, most_finite_check_parts, in.N / fewest_rows_per_finite_check}));
    bool finite[most_finite_check_parts];
    run_parts(parts, [&](int part) {
        const auto begin = static_cast<int32_t>(static_cast<int64_t>(in.N) * part / parts);
        const auto end = static_cast<int32_t>(static_cast<int64_t>(in.N) * (part + 1) / parts);
        finite[part] = true;
        for (int32_t j = begin; j < end; ++j)
            for (int32_t i = 0; i < in.d; ++i)
                if (!std::isfinite(in.templates[j][i])) {
                    finite[part] = false;
                    return;
                }
    });
    return std::all_of(finite, finite + parts, [](bool ok) { return ok; });
}

bool pruning_may_pay(const engine_inputs &in) {
    return in.d <= 12 && in.M <= 64 && in.N >= 16 * leaf_templates && in.P >= 64;
}

pruned_scratch *make_pruned_scratch(int count, const template_tree &tree, int32_t M, const allocator &memory) {
    auto *scratch = static_cast<pruned_scratch *>(memory.zeroed(count, sizeof(pruned_scratch)));
    if (scratch == nullptr) return nullptr;
    bool complete = true;
    for (int t = 0; t < count; ++t) {
        // Room for every node, waiting or set aside.
        const size_t nodes = std::max(tree.node_count, 1);
        node_queue &waiting = scratch[t].waiting;
        waiting.kernel = static_cast<double *>(memory.zeroed(nodes, sizeof(double)));
        waiting.next = static_cast<int32_t *>(memory.zeroed(nodes, sizeof(int32_t)));
        waiting.head = static_cast<int32_t *>(memory.zeroed(node_queue::buckets, sizeof(int32_t)));
        if (waiting.head) std::fill_n(waiting.head, node_queue::buckets, -1);
        scratch[t].aside = static_cast<int32_t *>(memory.zeroed(nodes, sizeof(int32_t)));
        scratch[t].value = static_cast<double *>(memory.zeroed(4 * static_cast<size_t>(std::max(M, 1)), sizeof(double)));
        scratch[t].is_exact = static_cast<uint8_t *>(memory.zeroed(std::max(M, 1), 1));
        // The templates of a class whose literal score is needed: up to a
        // sixteenth of them all (beyond, the pattern is decided literally).
        scratch[t].exact_room = std::max<int32_t>(std::min<int32_t>(tree.lanes, 4096), tree.lanes / 16);
        scratch[t].templates = static_cast<int32_t *>(memory.zeroed(scratch[t].exact_room, sizeof(int32_t)));
        complete = complete && waiting.kernel && waiting.next && waiting.head && scratch[t].aside && scratch[t].value && scratch[t].is_exact && scratch[t].templates;
        if (!scratch[t].value) continue;
        scratch[t].sensitivity = scratch[t].value + std::max(M, 1);
        scratch[t].skipped = scratch[t].sensitivity + std::max(M, 1);
        scratch[t].exact = scratch[t].skipped + std::max(M, 1);
    }
    if (!complete) {
        free_pruned_scratch(scratch, count, memory);
        return nullptr;
    }
    return scratch;
}

void free_pruned_scratch(pruned_scratch *scratch, int count, const allocator &memory) {
    if (scratch == nullptr) return;
    for (int t = 0; t < count; ++t) {
        memory.release(scratch[t].waiting.kernel);
        memory.release(scratch[t].waiting.next);
        memory.release(scratch[t].waiting.head);
        memory.release(scratch[t].aside);
        memory.release(scratch[t].value);
        memory.release(scratch[t].is_exact);
        memory.release(scratch[t].templates);
    }
    memory.release(scratch);
}

namespace {

enum class norm_kind { sum, squares, largest, power };

// The gaps' p-norm, shrunk (the bound above); one loop per kind of norm,
// unrolled for up to four columns (columns > 0; 0: d of them). A traversal
// takes some 400 floors per pattern.
template <norm_kind kind, int32_t columns>
double gap_norm_floor(const double *lower, const double *upper, const double *pattern, int32_t d, double p) {
    double largest = 0.0, sum = 0.0;
    for (int32_t i = 0; i < (columns > 0 ? columns : d); ++i) {
        const double y = pattern[i];
        // max(lo - y, 0, y - hi), without branches (at most one of the two is
        // positive); a NaN difference is no gap, so that the floor is never NaN.
        const double gap = std::max(0.0, std::max(lower[i] - y, y - upper[i]));
        largest = std::max(largest, gap);
        if (kind == norm_kind::sum) sum += gap;
        if (kind == norm_kind::squares) sum += gap * gap;
        if (kind == norm_kind::power) sum += std::pow(gap, p);
    }
    if (kind == norm_kind::largest) return largest * distance_shrink;
    if (kind == norm_kind::sum) return sum * distance_shrink;
    if (!(sum >= 0x1p-1000)) return 0.0;
    if (!(sum <= 0x1p+1000)) return largest * distance_shrink;
    return (kind == norm_kind::squares ? std::sqrt(sum) : std::pow(sum, 1.0 / p)) * distance_shrink;
}

template <norm_kind kind>
box_floor_function floor_for_columns(int32_t d) {
    switch (d) {
        case 1: return gap_norm_floor<kind, 1>;
        case 2: return gap_norm_floor<kind, 2>;
        case 3: return gap_norm_floor<kind, 3>;
        case 4: return gap_norm_floor<kind, 4>;
        default: return gap_norm_floor<kind, 0>;
    }
}

}  // namespace

box_floor_function box_floor_for(int32_t d, double p) {
    if (p == 1.0) return floor_for_columns<norm_kind::sum>(d);
    if (p == 2.0) return floor_for_columns<norm_kind::squares>(d);
    if (p == HUGE_VAL) return floor_for_columns<norm_kind::largest>(d);
    return gap_norm_floor<norm_kind::power, 0>;
}

double box_distance_floor(const double *lower, const double *upper, const double *pattern, int32_t d, double p) {
    return box_floor_for(d, p)(lower, upper, pattern, d, p);
}

namespace {

// The decision through the tree; false where it cannot be taken there.
bool decide_on_tree(const pruned_setup &setup, const double *pattern, pruned_scratch *scratch, decision *out) {
    const engine_inputs &in = *setup.in;
    for (int32_t i = 0; i < in.d; ++i)
        if (!std::isfinite(pattern[i])) return false;
    std::fill_n(scratch->value, in.M, 0.0);
    std::fill_n(scratch->sensitivity, in.M, 0.0);
    std::fill_n(scratch->is_exact, in.M, 0);
    scratch->waiting.clear();
    traversal walk{setup, pattern, scratch, scratch->waiting};
    walk.push(0);
    const bool eager = setup.mode == pruning::eager;
    if (!walk.visit(eager ? HUGE_VAL : first_share)) return false;
    for (int64_t batch = first_batch;; batch *= 2) {
        int32_t a = -1, b = -1;
        if (walk.settled(out, &a, &b)) return true;
        // (Eager: no more visits, the literal scores at once.)
        const traversal::refined refined = eager ? traversal::refined::exhausted : walk.refine(a, b, batch);
        if (refined == traversal::refined::failed) return false;
        if (refined == traversal::refined::visited) continue;
        // Nothing more to visit that could settle it: the two classes' literal scores.
        const bool exact_a = a < 0 || scratch->is_exact[a], exact_b = scratch->is_exact[b];
        if (exact_a && exact_b) return false;
        if ((!exact_a && !walk.make_exact(a)) || (!exact_b && !walk.make_exact(b))) return false;
    }
}

// The literal evaluation of one pattern: each class's sum adds its literal
// terms in template order, as the literal evaluation does.
decision decide_by_literal_scores(const pruned_setup &setup, const double *pattern, double *scores) {
    const engine_inputs &in = *setup.in;
    std::fill_n(scores, in.M, 0.0);
    for (int32_t j = 0; j < in.N; ++j)
        scores[in.class_of_template[j]] +=
            setup.kernel_value(setup.literal_distance(in.templates[j], pattern, in.d, in.p), in.h);
    return decide(scores, in.M);
}

}  // namespace

bool decide_pruned(const pruned_setup &setup, const double *pattern, pruned_scratch *scratch, decision *out) {
    if (decide_on_tree(setup, pattern, scratch, out)) {
        ++scratch->patterns_decided;
        return true;
    }
    *out = decide_by_literal_scores(setup, pattern, scratch->exact);
    return false;
}

void order_patterns_by_leaf(const pruned_setup &setup, int32_t *order, int32_t *leaf_of) {
    const engine_inputs &in = *setup.in;
    const template_tree &tree = *setup.tree;
    for (int32_t n = 0; n < in.P; ++n) {
        // Down the nearer child (by the box floor; a tie goes left).
        int32_t node = 0;
        while (tree.node_count > 0 && tree.nodes[node].left >= 0) {
            const int32_t left = tree.nodes[node].left, right = tree.nodes[node].right;
            const double *left_box = tree.boxes + static_cast<size_t>(left) * 2 * tree.d;
            const double *right_box = tree.boxes + static_cast<size_t>(right) * 2 * tree.d;
            const double *pattern = in.patterns[n];
            node = setup.box_floor(right_box, right_box + tree.d, pattern, tree.d, in.p) <
                           setup.box_floor(left_box, left_box + tree.d, pattern, tree.d, in.p)
                       ? right
                       : left;
        }
        leaf_of[n] = node;
        order[n] = n;
    }
    std::sort(order, order + in.P,
              [leaf_of](int32_t a, int32_t b) { return leaf_of[a] != leaf_of[b] ? leaf_of[a] < leaf_of[b] : a < b; });
}

pruned_start start_pruned_run(const engine_inputs &in, const kernel_row &kernel, const norm_row &norm, pruning mode,
                              int threads, int width, model_parts &parts, const allocator &memory, pruned_run *run) {
    if (mode == pruning::never || (mode == pruning::automatic && !pruning_may_pay(in)) ||
        !pruning_applies(in, kernel, norm) || !finite_templates(parts, in, threads))
        return pruned_start::declined;
    pruned_setup &setup = run->setup;
    setup.in = &in;
    setup.mode = mode;
    setup.tile_distances = norm.tile_for_width(width);
    setup.kernel_tile = kernel.tile_for_width(width);
    setup.kernel_value = kernel.value;
    setup.literal_distance = norm.literal;
    setup.box_floor = box_floor_for(in.d, in.p);
    // The tile function's own bound: where the norm has distances from dot
    // products, its row's bound is theirs.
    setup.distance_error = norm.gram_for_width ? distance_error_bound(in.d) : norm.error_bound(in.d);
    setup.bound = kernel.bound(setup.distance_error);
    if (!setup.bound.valid) return pruned_start::declined;
    // The automatic choice tries a tree of its own unless the model keeps
    // one: the model keeps it only when it pays, so that a call that goes on
    // by brute force holds no tree beside the packed templates. Once a tree
    // has not paid, the model's later calls do without it.
    const bool trial = mode == pruning::automatic && parts.tree.load(std::memory_order_acquire) == nullptr;
    if (trial && parts.tree_declined.load(std::memory_order_relaxed)) return pruned_start::declined;
    template_tree tried;
    if (trial) {
        if (!build_template_tree(in, threads, memory, &tried)) return pruned_start::out_of_memory;
        setup.tree = &tried;
    } else {
        setup.tree = tree_of(parts, in, threads, memory);
        if (setup.tree == nullptr) return pruned_start::out_of_memory;
    }
    run->threads = threads;
    run->scratch = make_pruned_scratch(threads, *setup.tree, in.M, memory);
    if (run->scratch == nullptr) {
        if (trial) free_template_tree(&tried, memory);
        return pruned_start::out_of_memory;
    }
    if (mode == pruning::automatic) {
        // The first patterns tell whether the tree skips enough: where it
        // visits most templates, brute force is faster. Every thread takes
        // some; what they decide is decided again with the rest (the
        // counts start afresh).
        const int32_t probes = std::min<int32_t>(in.P, probe_patterns);
        const int probers = std::max(1, std::min<int>(threads, probes));
        run_parts(probers, [&](int part) {
            decision ignored;
            for (int32_t n = part; n < probes; n += probers)
                decide_pruned(setup, in.patterns[n], &run->scratch[part], &ignored);
        });
        int64_t visited = 0;
        for (int t = 0; t < probers; ++t) {
            visited += run->scratch[t].templates_visited;
            run->scratch[t].templates_visited = 0;
            run->scratch[t].patterns_decided = 0;
        }
        if (!(visited <= largest_visited_share * probes * in.N)) {
            end_pruned_run(run, memory);
            if (trial) {
                free_template_tree(&tried, memory);
                parts.tree_declined.store(true, std::memory_order_relaxed);
            }
            return pruned_start::declined;
        }
    }
    // (Another call may have kept the same tree meanwhile: then that one,
    // node for node the same, serves this call too.)
    if (trial) setup.tree = keep_tree(parts, &tried, memory);
    return pruned_start::started;
}

int64_t end_pruned_run(pruned_run *run, const allocator &memory) {
    int64_t decided = 0;
    if (run->scratch != nullptr)
        for (int t = 0; t < run->threads; ++t) decided += run->scratch[t].patterns_decided;
    free_pruned_scratch(run->scratch, run->threads, memory);
    *run = pruned_run{};
    return decided;
}

}  // namespace vendral
