// The prepared model as a library user meets it: prepared once, classified
// against many times, from many threads at once; every outcome the same bits
// as a lone call's, on every path; every refused allocation ending cleanly,
// whether it comes while preparing or while classifying.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <random>
#include <thread>
#include <unordered_set>
#include <vector>

#include "classifier/classifier.h"
#include "classifier/model.h"

namespace {

using vendral::classify_counts;
using vendral::classify_options;
using vendral::classify_status;
using vendral::model;
using vendral::model_definition;
using vendral::model_status;

const double inf = std::numeric_limits<double>::infinity();

// Rows, labels and the pointers to the rows, kept together.
struct data_set {
    std::vector<std::vector<double>> templates, patterns;
    std::vector<double> labels;
    std::vector<const double *> template_rows, pattern_rows;
    int d = 0;

    void point_rows() {
        template_rows.clear();
        pattern_rows.clear();
        for (const auto &row : templates) template_rows.push_back(row.data());
        for (const auto &row : patterns) pattern_rows.push_back(row.data());
    }
    model_definition definition(int kernel_type, double p, double h) const {
        return {static_cast<int32_t>(templates.size()), d, template_rows.data(), labels.data(), kernel_type, p, h};
    }
    int32_t P() const { return static_cast<int32_t>(patterns.size()); }
};

// Clusters around `classes` centres in [0, 1]^d (spread sd), labels 1..classes.
data_set clusters(uint64_t seed, int N, int P, int d, int classes, double sd) {
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> normal(0.0, sd);
    std::vector<std::vector<double>> centres(classes, std::vector<double>(d));
    for (auto &c : centres)
        for (double &x : c) x = unit(random);
    data_set set;
    set.d = d;
    auto draw = [&](int k) {
        std::vector<double> row(d);
        for (int i = 0; i < d; ++i) row[i] = centres[k][i] + normal(random);
        return row;
    };
    for (int j = 0; j < N; ++j) {
        const int k = static_cast<int>(random() % classes);
        set.templates.push_back(draw(k));
        set.labels.push_back(k + 1);
    }
    for (int n = 0; n < P; ++n) set.patterns.push_back(draw(static_cast<int>(random() % classes)));
    set.point_rows();
    return set;
}

struct outcome {
    classify_status status = classify_status::out_of_memory;
    std::vector<int32_t> classes;
    classify_counts counts;
};

outcome classify_all(const model &m, const data_set &set, const classify_options &options) {
    outcome out;
    out.classes.assign(set.patterns.size(), -2);
    out.status = vendral::classify(m, set.P(), set.d, set.pattern_rows.data(), options, out.classes.data(),
                                   &out.counts);
    return out;
}

void expect_same(const outcome &actual, const outcome &expected, const std::string &what) {
    EXPECT_EQ(actual.status, classify_status::classified) << what;
    EXPECT_EQ(actual.classes, expected.classes) << what;
    EXPECT_EQ(actual.counts.flops, expected.counts.flops) << what;
    EXPECT_EQ(actual.counts.comparisons, expected.counts.comparisons) << what;
    EXPECT_EQ(actual.counts.unclassified, expected.counts.unclassified) << what;
}

struct model_case {
    const char *name;
    int kernel_type;
    double p;
    double h;
    vendral::pruning prune;
    int d;
};

// Every kernel and norm regime on the brute-force path, and the two kernels
// the tree serves on it.
const model_case cases[] = {
    {"gaussian p=2 d=5 (dot products)", 0, 2.0, 0.3, vendral::pruning::never, 5},
    {"gaussian p=2 d=2", 0, 2.0, 0.1, vendral::pruning::never, 2},
    {"squared sinc p=4", 1, 4.0, 0.2, vendral::pruning::never, 3},
    {"laplacian p=1", 2, 1.0, 0.2, vendral::pruning::never, 4},
    {"cauchy p=3", 3, 3.0, 0.2, vendral::pruning::never, 3},
    {"gaussian p=1.5", 0, 1.5, 0.2, vendral::pruning::never, 3},
    {"laplacian p=inf", 2, inf, 0.2, vendral::pruning::never, 3},
    {"cauchy p=70 (literal distances)", 3, 70.0, 0.2, vendral::pruning::never, 2},
    {"gaussian p=2 on the tree", 0, 2.0, 0.05, vendral::pruning::always, 2},
    {"laplacian p=1 on the tree, eager", 2, 1.0, 0.05, vendral::pruning::eager, 3},
};

}  // namespace

TEST(ModelConcurrency, ManyThreadsOnOneModelGetWhatALoneCallGets) {
    for (const model_case &c : cases) {
        SCOPED_TRACE(c.name);
        const data_set set = clusters(41, 1500, 96, c.d, 3, 0.08);
        model *m = nullptr;
        ASSERT_EQ(vendral::prepare_model(set.definition(c.kernel_type, c.p, c.h), vendral::heap_allocator(), &m),
                  model_status::prepared);
        classify_options literal;
        literal.mode = vendral::evaluation::literal;
        const outcome expected = classify_all(*m, set, literal);
        ASSERT_EQ(expected.status, classify_status::classified);
        EXPECT_EQ(expected.counts.patterns_literal, set.P());
        // Four threads at once, each classifying twice with its own options:
        // fast and literal, one or two threads of the engine's, narrower widths.
        std::vector<outcome> seen(8);
        std::vector<std::thread> users;
        for (int t = 0; t < 4; ++t)
            users.emplace_back([&, t] {
                for (int round = 0; round < 2; ++round) {
                    classify_options options;
                    options.prune = c.prune;
                    options.mode = t == 3 && round == 1 ? vendral::evaluation::literal : vendral::evaluation::fast;
                    options.threads = 1 + (t + round) % 2;
                    options.vector_width = t == 1 ? 4 : t == 2 ? 2 : 0;
                    options.in_order = round == 0;
                    seen[2 * t + round] = classify_all(*m, set, options);
                }
            });
        for (std::thread &user : users) user.join();
        int64_t pruned = 0;
        for (size_t k = 0; k < seen.size(); ++k) {
            expect_same(seen[k], expected, "user " + std::to_string(k / 2) + " round " + std::to_string(k % 2));
            pruned += seen[k].counts.patterns_pruned;
        }
        // The tree cases must have taken it, or they would prove nothing.
        if (c.prune != vendral::pruning::never) {
            EXPECT_GT(pruned, 0);
        } else {
            EXPECT_EQ(pruned, 0);
        }
        vendral::release_model(m);
    }
}

TEST(ModelConcurrency, FirstCallsRacingToBuildThePartsShareOneOfEach) {
    // Fresh models each time: the threads all arrive while the tree (or the
    // packed templates) is still to be made.
    const data_set set = clusters(42, 4000, 64, 2, 3, 0.05);
    for (const vendral::pruning prune : {vendral::pruning::always, vendral::pruning::never}) {
        model *m = nullptr;
        ASSERT_EQ(vendral::prepare_model(set.definition(0, 2.0, 0.05), vendral::heap_allocator(), &m),
                  model_status::prepared);
        const size_t before = vendral::model_bytes(*m);
        std::vector<outcome> seen(4);
        std::vector<std::thread> users;
        classify_options options;
        options.prune = prune;
        for (int t = 0; t < 4; ++t) users.emplace_back([&, t] { seen[t] = classify_all(*m, set, options); });
        for (std::thread &user : users) user.join();
        for (int t = 1; t < 4; ++t) expect_same(seen[t], seen[0], "thread " + std::to_string(t));
        const size_t after = vendral::model_bytes(*m);
        EXPECT_GT(after, before) << "the part the calls needed is kept";
        // A later call makes nothing more.
        classify_all(*m, set, options);
        EXPECT_EQ(vendral::model_bytes(*m), after);
        vendral::release_model(m);
    }
}

namespace {

// An allocator that refuses its k-th request (1-based; 0: none) and keeps
// every live block, safe from any thread.
struct refusing_heap {
    std::mutex guard;
    uint64_t requests = 0;
    uint64_t refuse_at = 0;
    std::unordered_set<void *> live;

    void *take(void *block) {
        if (block != nullptr) live.insert(block);
        return block;
    }
    bool refuse() { return ++requests == refuse_at; }

    static refusing_heap &of(void *context) { return *static_cast<refusing_heap *>(context); }
    static void *zeroed(size_t count, size_t size, void *context) {
        refusing_heap &heap = of(context);
        std::lock_guard<std::mutex> hold(heap.guard);
        return heap.refuse() ? nullptr : heap.take(std::calloc(count, size));
    }
    static void *unzeroed(size_t count, size_t size, void *context) {
        refusing_heap &heap = of(context);
        std::lock_guard<std::mutex> hold(heap.guard);
        // Filled with a pattern, so that a read before a write shows.
        void *block = heap.refuse() || (size != 0 && count > SIZE_MAX / size) ? nullptr : std::malloc(count * size);
        if (block != nullptr) std::memset(block, 0xa5, count * size);
        return heap.take(block);
    }
    static void *resized(void *block, size_t bytes, void *context) {
        refusing_heap &heap = of(context);
        std::lock_guard<std::mutex> hold(heap.guard);
        if (heap.refuse()) return nullptr;
        void *moved = std::realloc(block, bytes);
        if (moved != nullptr) heap.live.erase(block);
        return heap.take(moved);
    }
    static void release(void *block, void *context) {
        refusing_heap &heap = of(context);
        std::lock_guard<std::mutex> hold(heap.guard);
        if (block != nullptr) {
            EXPECT_EQ(heap.live.erase(block), 1u) << "a block given back twice or never taken";
        }
        std::free(block);
    }
    vendral::allocator memory() { return {zeroed, unzeroed, resized, release, this}; }
};

}  // namespace

TEST(ModelMemory, EveryRefusedAllocationEndsCleanlyAndLeavesTheModelUsable) {
    // Brute force with dot products, and the tree: each makes its part on
    // the first call.
    const data_set set = clusters(43, 1200, 40, 4, 3, 0.1);
    const data_set low = clusters(44, 1200, 40, 2, 3, 0.05);
    struct path {
        const data_set *set;
        int kernel_type;
        double p, h;
        vendral::pruning prune;
        vendral::evaluation mode;
    };
    for (const path &at : {path{&set, 0, 2.0, 0.3, vendral::pruning::never, vendral::evaluation::fast},
                           path{&low, 2, 1.0, 0.05, vendral::pruning::always, vendral::evaluation::fast},
                           path{&set, 3, 2.0, 0.3, vendral::pruning::never, vendral::evaluation::literal}}) {
        classify_options options;
        options.prune = at.prune;
        options.mode = at.mode;
        options.threads = 2;
        // The whole sequence once without refusals, counting its requests.
        refusing_heap counted;
        model *m = nullptr;
        ASSERT_EQ(vendral::prepare_model(at.set->definition(at.kernel_type, at.p, at.h), counted.memory(), &m),
                  model_status::prepared);
        const uint64_t preparing = counted.requests;
        const outcome expected = classify_all(*m, *at.set, options);
        ASSERT_EQ(expected.status, classify_status::classified);
        vendral::release_model(m);
        EXPECT_TRUE(counted.live.empty());
        const uint64_t total = counted.requests;
        ASSERT_GE(total, preparing + 2);
        for (uint64_t k = 1; k <= total; ++k) {
            SCOPED_TRACE("request " + std::to_string(k) + " of " + std::to_string(total) + " refused");
            refusing_heap heap;
            heap.refuse_at = k;
            m = nullptr;
            const model_status prepared =
                vendral::prepare_model(at.set->definition(at.kernel_type, at.p, at.h), heap.memory(), &m);
            if (k <= preparing) {
                EXPECT_EQ(prepared, model_status::out_of_memory);
                EXPECT_EQ(m, nullptr);
                EXPECT_TRUE(heap.live.empty()) << "a refused preparation leaves nothing";
                continue;
            }
            ASSERT_EQ(prepared, model_status::prepared);
            const outcome refused = classify_all(*m, *at.set, options);
            EXPECT_EQ(refused.status, classify_status::out_of_memory);
            const size_t after_refusal = heap.live.size();
            // The model still works, and gives what it always gives.
            expect_same(classify_all(*m, *at.set, options), expected, "after the refusal");
            // The refused call kept none of its scratch: at most the model's
            // blocks and its parts, as a call that ends well leaves them.
            EXPECT_LE(after_refusal, heap.live.size());
            vendral::release_model(m);
            EXPECT_TRUE(heap.live.empty()) << "the model gives back everything";
        }
    }
}

TEST(ModelLifecycle, MadeUsedReleasedAndMadeAgainGivesTheSameAnswers) {
    const data_set set = clusters(45, 3000, 80, 2, 4, 0.06);
    outcome first;
    for (int round = 0; round < 3; ++round) {
        for (const bool copy : {true, false}) {
            model_definition definition = set.definition(0, 2.0, 0.04);
            definition.copy_templates = copy;
            model *m = nullptr;
            ASSERT_EQ(vendral::prepare_model(definition, vendral::heap_allocator(), &m), model_status::prepared);
            EXPECT_EQ(vendral::model_columns(*m), 2);
            EXPECT_EQ(vendral::model_template_count(*m), 3000);
            ASSERT_EQ(vendral::model_class_count(*m), 4);
            for (int k = 0; k < 4; ++k) EXPECT_GE(vendral::model_class_labels(*m)[k], 1);
            const outcome now = classify_all(*m, set, classify_options{});
            if (round == 0 && copy) first = now;
            expect_same(now, first, "round " + std::to_string(round) + (copy ? " copied" : " kept"));
            vendral::release_model(m);
        }
    }
    // A copying model does not read the caller's rows after preparing.
    data_set changing = set;
    model *m = nullptr;
    ASSERT_EQ(vendral::prepare_model(changing.definition(0, 2.0, 0.04), vendral::heap_allocator(), &m),
              model_status::prepared);
    for (auto &row : changing.templates) row.assign(row.size(), 1e6);
    expect_same(classify_all(*m, set, classify_options{}), first, "rows changed after preparing");
    vendral::release_model(m);
}

TEST(ModelChecks, BadDefinitionsAndPatternsAreRefused) {
    const data_set set = clusters(46, 20, 4, 2, 2, 0.1);
    struct bad {
        model_definition definition;
        model_status status;
    };
    model_definition base = set.definition(0, 2.0, 1.0);
    auto with = [&](auto change) {
        model_definition definition = base;
        change(definition);
        return definition;
    };
    std::vector<double> odd_labels = set.labels;
    odd_labels[3] = std::nan("");
    std::vector<double> huge_labels = set.labels;
    huge_labels[7] = 2147483648.0;
    const bad cases_[] = {
        {with([](model_definition &x) { x.N = -1; }), model_status::negative_size},
        {with([](model_definition &x) { x.d = -2; }), model_status::negative_size},
        {with([](model_definition &x) { x.templates = nullptr; }), model_status::negative_size},
        {with([&](model_definition &x) { x.labels = odd_labels.data(); }), model_status::label_out_of_range},
        {with([&](model_definition &x) { x.labels = huge_labels.data(); }), model_status::label_out_of_range},
        {with([](model_definition &x) { x.kernel_type = 4; }), model_status::unknown_kernel},
        {with([](model_definition &x) { x.kernel_type = -1; }), model_status::unknown_kernel},
        {with([](model_definition &x) { x.p = 0.5; }), model_status::norm_below_one},
        {with([](model_definition &x) { x.p = std::nan(""); }), model_status::norm_below_one},
        {with([](model_definition &x) { x.h = 0.0; }), model_status::width_not_positive},
        {with([](model_definition &x) { x.h = -inf; }), model_status::width_not_positive},
    };
    for (const bad &b : cases_) {
        model *m = reinterpret_cast<model *>(&base);  // must be overwritten with null
        EXPECT_EQ(vendral::prepare_model(b.definition, vendral::heap_allocator(), &m), b.status);
        EXPECT_EQ(m, nullptr);
    }
    // No templates at all is a model too: nothing can be classified.
    model *m = nullptr;
    ASSERT_EQ(vendral::prepare_model(with([](model_definition &x) { x.N = 0; }), vendral::heap_allocator(), &m),
              model_status::prepared);
    const outcome empty = classify_all(*m, set, classify_options{});
    EXPECT_EQ(empty.status, classify_status::classified);
    EXPECT_EQ(empty.classes, std::vector<int32_t>(4, -1));
    EXPECT_EQ(empty.counts.unclassified, 4);
    vendral::release_model(m);

    ASSERT_EQ(vendral::prepare_model(base, vendral::heap_allocator(), &m), model_status::prepared);
    std::vector<int32_t> classes(4, -2);
    classify_counts counts;
    EXPECT_EQ(vendral::classify(*m, 4, 3, set.pattern_rows.data(), classify_options{}, classes.data(), &counts),
              classify_status::wrong_columns);
    EXPECT_EQ(vendral::classify(*m, -1, 2, set.pattern_rows.data(), classify_options{}, classes.data(), &counts),
              classify_status::wrong_columns);
    EXPECT_EQ(classes, std::vector<int32_t>(4, -2)) << "a refused call writes nothing";
    vendral::release_model(m);
}

TEST(ModelStop, AStoppedClassificationEndsEarlyAndTheModelGoesOn) {
    const data_set set = clusters(47, 2000, 3000, 3, 3, 0.1);
    model *m = nullptr;
    ASSERT_EQ(vendral::prepare_model(set.definition(3, 2.0, 0.1), vendral::heap_allocator(), &m),
              model_status::prepared);
    const outcome expected = classify_all(*m, set, classify_options{});
    for (const vendral::evaluation mode : {vendral::evaluation::fast, vendral::evaluation::literal}) {
        std::atomic<bool> stop{false};
        classify_options options;
        options.mode = mode;
        options.threads = 2;
        options.stop = &stop;
        // Stopped from the progress report, once some patterns are done.
        struct watcher {
            std::atomic<bool> *stop;
            int32_t last = 0;
        } watch{&stop};
        options.on_ready = [](int32_t ready, void *context) {
            auto &w = *static_cast<watcher *>(context);
            w.last = ready;
            if (ready > 0) w.stop->store(true);
        };
        options.context = &watch;
        const outcome stopped = classify_all(*m, set, options);
        EXPECT_EQ(stopped.status, classify_status::stopped);
        EXPECT_LT(watch.last, set.P());
        options.stop = nullptr;
        options.on_ready = nullptr;
        expect_same(classify_all(*m, set, options), expected, "after the stop");
    }
    vendral::release_model(m);
}

TEST(ModelScores, ClassScoresAreTheLiteralSumsAndTheirRuleIsTheClassification) {
    for (const model_case &c : cases) {
        SCOPED_TRACE(c.name);
        const data_set set = clusters(48, 400, 50, c.d, 3, 0.1);
        model *m = nullptr;
        ASSERT_EQ(vendral::prepare_model(set.definition(c.kernel_type, c.p, c.h), vendral::heap_allocator(), &m),
                  model_status::prepared);
        const int32_t M = vendral::model_class_count(*m);
        classify_options options;
        options.threads = 2;
        std::vector<double> scores(static_cast<size_t>(set.P()) * M, -1.0);
        ASSERT_EQ(vendral::class_scores(*m, set.P(), set.d, set.pattern_rows.data(), options, scores.data()),
                  classify_status::classified);
        const outcome classified = classify_all(*m, set, options);
        for (int32_t n = 0; n < set.P(); ++n) {
            // The rule on the scores, as the literal evaluation takes it.
            double best = -1.0;
            int32_t winner = -1;
            bool tie = false, nan = false;
            for (int32_t k = 0; k < M; ++k) {
                const double score = scores[static_cast<size_t>(n) * M + k];
                nan = nan || std::isnan(score);
                if (best >= score) {
                    tie = tie || best == score;
                } else {
                    best = score;
                    winner = k;
                    tie = false;
                }
            }
            EXPECT_EQ(tie || nan ? -1 : winner, classified.classes[n]) << "pattern " << n;
        }
        // One literal sum checked term by term.
        double by_hand = 0.0;
        for (size_t j = 0; j < set.templates.size(); ++j) {
            if (set.labels[j] != vendral::model_class_labels(*m)[0]) continue;
            uint64_t ignored = 0;
            by_hand += vendral::kernel_table[c.kernel_type].function(
                vendral::pattern_distance(set.templates[j].data(), set.patterns[0].data(), set.d, c.p), c.h, &ignored);
        }
        EXPECT_EQ(scores[0], by_hand);
        EXPECT_EQ(vendral::class_scores(*m, set.P(), set.d + 1, set.pattern_rows.data(), options, scores.data()),
                  classify_status::wrong_columns);
        vendral::release_model(m);
    }
}

TEST(ModelParts, TheAutomaticChoiceKeepsATreeOnlyWhereItPays) {
    classify_options automatic;
    automatic.threads = 2;
    classify_options brute = automatic;
    brute.prune = vendral::pruning::never;
    // Tight clusters and a narrow window: the tree skips most templates.
    {
        const data_set set = clusters(49, 20000, 200, 2, 5, 0.02);
        model *m = nullptr;
        ASSERT_EQ(vendral::prepare_model(set.definition(0, 2.0, 0.01), vendral::heap_allocator(), &m),
                  model_status::prepared);
        const size_t prepared = vendral::model_bytes(*m);
        const outcome first = classify_all(*m, set, automatic);
        EXPECT_EQ(first.counts.patterns_pruned + first.counts.patterns_literal, set.P());
        EXPECT_GT(first.counts.patterns_pruned, 0);
        const size_t with_tree = vendral::model_bytes(*m);
        EXPECT_GT(with_tree, prepared + 20000 * 2 * sizeof(double)) << "the tree and its columns are kept";
        const outcome second = classify_all(*m, set, automatic);
        expect_same(second, first, "the kept tree");
        EXPECT_EQ(second.counts.patterns_pruned, first.counts.patterns_pruned);
        EXPECT_EQ(vendral::model_bytes(*m), with_tree);
        vendral::release_model(m);
    }
    // A window wider than the data: every template matters, brute force wins.
    {
        const data_set set = clusters(50, 5000, 200, 3, 5, 0.3);
        model *tried = nullptr, *never = nullptr;
        ASSERT_EQ(vendral::prepare_model(set.definition(0, 2.0, 5.0), vendral::heap_allocator(), &tried),
                  model_status::prepared);
        ASSERT_EQ(vendral::prepare_model(set.definition(0, 2.0, 5.0), vendral::heap_allocator(), &never),
                  model_status::prepared);
        for (int round = 0; round < 2; ++round) {
            const outcome declined = classify_all(*tried, set, automatic);
            EXPECT_EQ(declined.counts.patterns_pruned, 0);
            expect_same(declined, classify_all(*never, set, brute), "declined round " + std::to_string(round));
            EXPECT_EQ(vendral::model_bytes(*tried), vendral::model_bytes(*never)) << "no tree kept beside the tiles";
        }
        vendral::release_model(tried);
        vendral::release_model(never);
    }
}
